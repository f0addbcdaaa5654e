#include <gtest/gtest.h>

#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <string>

#include "PlatformSync.h"

namespace {

// The folder of the platform's library, where the build puts the test libraries too.
std::string LibraryFolder()
{
    Dl_info info{};
    if (!dladdr(reinterpret_cast<const void*>(&PlatCreateEvent), &info) || !info.dli_fname)
        return ".";
    std::string s = info.dli_fname;
    return s.substr(0, s.rfind('/'));
}

struct Library {
    explicit Library(const char* name) : handle(dlopen((LibraryFolder() + "/lib" + name + ".so").c_str(), RTLD_NOW))
    {
    }
    ~Library()
    {
        if (handle)
            dlclose(handle);
    }
    template <class F>
    F Get(const char* symbol)
    {
        return reinterpret_cast<F>(dlsym(handle, symbol));
    }
    void* handle;
};

}  // namespace

// Two libraries loaded at run time and the program see one handle table: a handle made in one is used in
// the other and in the program, and closed in the other.
TEST(PlatShared, LibrariesLoadedAtRunTimeShareTheHandles)
{
    Library a("PlatformTestUserA");
    Library b("PlatformTestUserB");
    ASSERT_NE(a.handle, nullptr) << dlerror();
    ASSERT_NE(b.handle, nullptr) << dlerror();
    auto makeEvent = a.Get<PlatHandle (*)()>("TestUserMakeEvent");
    auto wait = a.Get<uint32_t (*)(PlatHandle, uint32_t)>("TestUserWait");
    auto signal = b.Get<bool (*)(PlatHandle)>("TestUserSignal");
    auto close = b.Get<bool (*)(PlatHandle)>("TestUserClose");
    ASSERT_TRUE(makeEvent && wait && signal && close);

    PlatHandle event = makeEvent();
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(PlatWaitForSingleObject(event, 0), PLAT_WAIT_TIMEOUT);
    EXPECT_TRUE(signal(event));
    EXPECT_EQ(PlatWaitForSingleObject(event, 0), PLAT_WAIT_OBJECT_0);
    EXPECT_EQ(wait(event, 0), PLAT_WAIT_OBJECT_0);

    PlatHandle own = PlatCreateEvent(false, true, nullptr);
    ASSERT_NE(own, nullptr);
    EXPECT_EQ(wait(own, 0), PLAT_WAIT_OBJECT_0) << "a handle of the program waited on in a library";
    EXPECT_TRUE(close(own));
    EXPECT_FALSE(PlatCloseHandle(own)) << "closed in the library, so gone for the program";
    EXPECT_EQ(PlatGetLastError(), PLAT_ERROR_INVALID_HANDLE);

    EXPECT_TRUE(close(event));
    EXPECT_EQ(wait(event, 0), PLAT_WAIT_FAILED);
}
