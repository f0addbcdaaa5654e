#include "PlatformSection.h"

#include "PlatformNamed.h"

namespace plat {

namespace {

constexpr uint32_t kMaxSection = 16u << 20;

struct SectionHeader {
    uint32_t size;
    uint32_t reserved;
};
constexpr size_t kBytesOffset = 64;

class SectionObject : public Object {
public:
    explicit SectionObject(std::shared_ptr<Segment> segment) : m_Segment(std::move(segment)) {}
    uint32_t Wait(uint32_t) override
    {
        PlatSetLastError(PLAT_ERROR_INVALID_HANDLE);
        return PLAT_WAIT_FAILED;
    }
    uint32_t Size() const { return static_cast<const SectionHeader*>(m_Segment->State())->size; }
    void* Bytes() const { return static_cast<char*>(m_Segment->State()) + kBytesOffset; }

private:
    std::shared_ptr<Segment> m_Segment;
};

}  // namespace

}  // namespace plat

using namespace plat;

PlatHandle PlatCreateSharedSection(const char* name, uint32_t size, void** view)
{
    if (view)
        *view = nullptr;
    if (IsUnnamed(name) || !view || size == 0 || size > kMaxSection) {
        PlatSetLastError(PLAT_ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    bool existed = false;
    std::shared_ptr<SectionObject> object = CreateObject<SectionObject>(
        name, kNamedSection, kBytesOffset + size,
        [&](void* state) { static_cast<SectionHeader*>(state)->size = size; },
        [](std::shared_ptr<Segment> segment) -> std::shared_ptr<Object> {
            return std::make_shared<SectionObject>(std::move(segment));
        },
        []() -> std::shared_ptr<Object> { return nullptr; }, &existed);
    if (!object)
        return nullptr;
    if (object->Size() < size) {
        PlatSetLastError(PLAT_ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    void* bytes = object->Bytes();
    PlatHandle handle = HandleForCreated(std::move(object), existed);
    if (handle)
        *view = bytes;
    return handle;
}
