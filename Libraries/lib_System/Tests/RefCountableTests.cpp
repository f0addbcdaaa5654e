#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "KRefCountable.h"

namespace {
struct Counted : KRefCountable {
    explicit Counted(int* destroyed) : m_pDestroyed(destroyed) {}
    ~Counted() override { ++*m_pDestroyed; }
    int* m_pDestroyed;
};
}  // namespace

TEST(KRefCountable, CountsAcrossThreadsAndDeletesAtZero)
{
    int destroyed = 0;
    Counted* object = new Counted(&destroyed);
    EXPECT_EQ(object->GetRefCount(), 1);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([object] {
            for (int i = 0; i < 2000; ++i) {
                object->AddRef();
                object->Release();
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(object->GetRefCount(), 1);
    EXPECT_EQ(destroyed, 0);
    object->Release();
    EXPECT_EQ(destroyed, 1);
}
