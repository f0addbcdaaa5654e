#include "PlatformNamed.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>
#include <new>

#include "PlatformMachine.h"

namespace plat {

namespace {

constexpr uint32_t kMagic = 0x4B4F424A;  // "KOBJ"
// Changes whenever the layout of the shared memory changes, so that no process reads another's layout.
constexpr uint32_t kLayout = 0x10000 + sizeof(pthread_mutex_t);

struct Header {
    uint32_t magic;
    uint32_t layout;
    uint32_t kind;
    uint32_t nameLength;
    char name[PLAT_MAX_OBJECT_NAME + 4];
};

constexpr size_t kStateOffset = (sizeof(Header) + 63) / 64 * 64;

// The process's named objects by name. Recursive: a segment may go away while it is held (failed opens).
std::recursive_mutex& RegistryLock()
{
    static auto* lock = new std::recursive_mutex;
    return *lock;
}

std::map<std::string, std::weak_ptr<Object>>& Registry()
{
    static auto* registry = new std::map<std::string, std::weak_ptr<Object>>;
    return *registry;
}

// Letters, digits, '-', '_' and inner dots stay; every other byte becomes %XX. Long names become a hash (the
// header keeps the whole name, so two names never share an object).
std::string FileNameFor(const std::string& name)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : name) {
        bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                     c == '_' || (c == '.' && !out.empty());
        if (plain) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    if (out.size() > 200) {
        uint64_t h = 1469598103934665603ull;
        for (unsigned char c : name)
            h = (h ^ c) * 1099511628211ull;
        out = "~";
        for (int shift = 60; shift >= 0; shift -= 4)
            out += hex[(h >> shift) & 15];
    }
    return out;
}

class Fd {
public:
    explicit Fd(int fd) : m_Fd(fd) {}
    ~Fd()
    {
        if (m_Fd >= 0)
            close(m_Fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int Get() const { return m_Fd; }
    int Release()
    {
        int fd = m_Fd;
        m_Fd = -1;
        return fd;
    }

private:
    int m_Fd;
};

int FlockRetrying(int fd, int operation)
{
    int rc;
    do
        rc = flock(fd, operation);
    while (rc != 0 && errno == EINTR);
    return rc;
}

std::shared_ptr<Segment> Fail(uint32_t error)
{
    PlatSetLastError(error);
    return nullptr;
}

// Opens the object's file and maps it; see the header for the protocol.
std::shared_ptr<Segment> OpenSegment(const std::string& folder, const std::string& name, uint32_t kind,
                                     size_t size, const std::function<void(void*)>& init, bool* existed)
{
    Fd guard(open((folder + "/.guard").c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (guard.Get() < 0 || FlockRetrying(guard.Get(), LOCK_EX) != 0)
        return Fail(PlatErrorFromErrno(errno));

    Fd fd(open((folder + "/" + FileNameFor(name)).c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (fd.Get() < 0)
        return Fail(PlatErrorFromErrno(errno));
    const bool fresh = FlockRetrying(fd.Get(), LOCK_EX | LOCK_NB) == 0;
    if (!fresh && errno != EWOULDBLOCK)
        return Fail(PlatErrorFromErrno(errno));
    const long page = sysconf(_SC_PAGESIZE);
    const size_t mapSize = (kStateOffset + size + page - 1) / page * page;
    if (fresh) {
        // Nobody has it open: start from zeroed memory whatever an earlier process left in the file.
        if (ftruncate(fd.Get(), 0) != 0 || ftruncate(fd.Get(), static_cast<off_t>(mapSize)) != 0)
            return Fail(PlatErrorFromErrno(errno));
    } else {
        struct stat st{};
        if (FlockRetrying(fd.Get(), LOCK_SH) != 0 || fstat(fd.Get(), &st) != 0)
            return Fail(PlatErrorFromErrno(errno));
        if (static_cast<size_t>(st.st_size) < mapSize)
            return Fail(PLAT_ERROR_INVALID_HANDLE);
    }
    void* memory = mmap(nullptr, mapSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd.Get(), 0);
    if (memory == MAP_FAILED)
        return Fail(PlatErrorFromErrno(errno));
    auto* header = static_cast<Header*>(memory);
    uint32_t error = PLAT_ERROR_SUCCESS;
    if (fresh) {
        header->magic = kMagic;
        header->layout = kLayout;
        header->kind = kind;
        header->nameLength = static_cast<uint32_t>(name.size());
        std::memcpy(header->name, name.data(), name.size());
        init(static_cast<char*>(memory) + kStateOffset);
        // From now on an ordinary opener; the guard keeps anyone from testing in between.
        if (FlockRetrying(fd.Get(), LOCK_SH) != 0)
            error = PlatErrorFromErrno(errno);
    } else if (header->magic != kMagic || header->layout != kLayout || header->nameLength != name.size() ||
               std::memcmp(header->name, name.data(), name.size()) != 0 || header->kind != kind) {
        error = PLAT_ERROR_INVALID_HANDLE;
    }
    std::shared_ptr<Segment> segment;
    if (error == PLAT_ERROR_SUCCESS) {
        try {
            segment = std::make_shared<Segment>(fd.Get(), memory, mapSize);
            fd.Release();
        } catch (const std::bad_alloc&) {
            error = PLAT_ERROR_NOT_ENOUGH_MEMORY;
        }
    }
    if (!segment) {
        munmap(memory, mapSize);
        return Fail(error);
    }
    *existed = !fresh;
    return segment;
}

}  // namespace

Segment::~Segment()
{
    // Under the registry's lock, so that an opener in this process never finds the file still held by a
    // segment on its way out.
    std::lock_guard<std::recursive_mutex> guard(RegistryLock());
    munmap(m_Memory, m_Size);
    close(m_Fd);
}

void* Segment::State() const
{
    return static_cast<char*>(m_Memory) + kStateOffset;
}

std::shared_ptr<Object> OpenNamed(const char* name, uint32_t kind, size_t size,
                                  const std::function<void(void*)>& init,
                                  const std::function<std::shared_ptr<Object>(std::shared_ptr<Segment>)>& make,
                                  bool* existed)
{
    try {
        const std::string objectName(name);
        if (objectName.size() > PLAT_MAX_OBJECT_NAME) {
            PlatSetLastError(PLAT_ERROR_FILENAME_EXCED_RANGE);
            return nullptr;
        }
        std::lock_guard<std::recursive_mutex> guard(RegistryLock());
        const std::string folder = PlatGetMachineSubfolder("objects");
        if (folder.empty())
            return nullptr;
        // Keyed by folder too: a process pointed at another machine meets other objects.
        const std::string key = folder + '\0' + objectName;
        auto& registry = Registry();
        auto it = registry.find(key);
        if (it != registry.end()) {
            if (std::shared_ptr<Object> object = it->second.lock()) {
                *existed = true;
                return object;
            }
            registry.erase(it);
        }
        std::shared_ptr<Segment> segment = OpenSegment(folder, objectName, kind, size, init, existed);
        if (!segment)
            return nullptr;
        std::shared_ptr<Object> object = make(std::move(segment));
        registry[key] = object;
        return object;
    } catch (const std::bad_alloc&) {
        PlatSetLastError(PLAT_ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
}

PlatHandle HandleForCreated(std::shared_ptr<Object> object, bool existed)
{
    PlatHandle handle = NewHandle(std::move(object));
    if (handle)
        PlatSetLastError(existed ? PLAT_ERROR_ALREADY_EXISTS : PLAT_ERROR_SUCCESS);
    return handle;
}

}  // namespace plat
