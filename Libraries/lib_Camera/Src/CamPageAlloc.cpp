// The page allocator: each block its own mapping, behind a header that names it.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <unordered_set>

#include "KCamLinkSupport.h"

namespace {

constexpr size_t kHeader = 16;
constexpr uint64_t kReserve = 204816;

struct Allocator {
    std::mutex lock;
    std::unordered_set<uintptr_t> live;  // addresses of the headers of the blocks given out
    CamPageStats stats{0, 0, 0, UINTPTR_MAX};
};

Allocator& State()
{
    static Allocator* state = new Allocator;
    return *state;
}

}  // namespace

uint64_t AvailablePageFileBytes()
{
    FILE* f = fopen("/proc/meminfo", "re");
    uint64_t available = 0;
    uint64_t swapFree = 0;
    bool found = false;
    if (f) {
        char line[256];
        while (fgets(line, sizeof(line), f)) {
            unsigned long long kb = 0;
            if (sscanf(line, "MemAvailable: %llu kB", &kb) == 1) {
                available = kb * 1024;
                found = true;
            } else if (sscanf(line, "SwapFree: %llu kB", &kb) == 1) {
                swapFree = kb * 1024;
            }
        }
        fclose(f);
    }
    if (!found) {
        long pages = sysconf(_SC_AVPHYS_PAGES);
        long size = sysconf(_SC_PAGESIZE);
        if (pages > 0 && size > 0)
            available = static_cast<uint64_t>(pages) * static_cast<uint64_t>(size);
    }
    return available + swapFree;
}

void* PageAlloc(size_t n)
{
    const uint64_t available = AvailablePageFileBytes();
    if (n >= available || available - n <= kReserve)
        return nullptr;
    const uint64_t total = static_cast<uint64_t>(n) + kHeader;
    Allocator& a = State();
    std::lock_guard<std::mutex> guard(a.lock);
    if (a.stats.bytesInUse + total > 0xFFFFFFFFull)
        return nullptr;
    // Readable and writable, never executable.
    void* memory = mmap(nullptr, total, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED)
        return nullptr;
    try {
        a.live.insert(reinterpret_cast<uintptr_t>(memory));
    } catch (const std::bad_alloc&) {
        munmap(memory, total);
        return nullptr;
    }
    auto* header = static_cast<uint8_t*>(memory);
    memcpy(header, "@BLK", 4);
    memset(header + 4, 0, 8);
    const auto size = static_cast<uint32_t>(total);
    memcpy(header + 12, &size, 4);
    a.stats.blocks++;
    a.stats.bytesInUse += total;
    if (a.stats.bytesInUse > a.stats.peakBytesInUse)
        a.stats.peakBytesInUse = a.stats.bytesInUse;
    if (reinterpret_cast<uintptr_t>(memory) < a.stats.lowestBlock)
        a.stats.lowestBlock = reinterpret_cast<uintptr_t>(memory);
    return header + kHeader;
}

void* PageAllocZeroed(size_t n)
{
    // Fresh anonymous pages are zero already.
    return PageAlloc(n);
}

void PageFree(void* p)
{
    if (!p)
        return;
    const uintptr_t address = reinterpret_cast<uintptr_t>(p);
    if (address < kHeader)
        return;
    Allocator& a = State();
    std::lock_guard<std::mutex> guard(a.lock);
    // Only a block of ours: nothing in front of another pointer is read.
    auto it = a.live.find(address - kHeader);
    if (it == a.live.end())
        return;
    auto* header = reinterpret_cast<uint8_t*>(address - kHeader);
    uint32_t size = 0;
    memcpy(&size, header + 12, 4);
    header[0] = 0;
    a.live.erase(it);
    a.stats.blocks--;
    a.stats.bytesInUse -= size;
    munmap(header, size);
}

CamPageStats PageAllocStats()
{
    Allocator& a = State();
    std::lock_guard<std::mutex> guard(a.lock);
    return a.stats;
}
