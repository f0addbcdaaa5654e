#include "KBlockArena.h"

#include <sys/mman.h>

#include <cstdint>
#include <iterator>

namespace {

constexpr size_t kHugePage = size_t{2} << 20;

size_t RoundUp(size_t value, size_t step)
{
    return (value + step - 1) / step * step;
}

}  // namespace

KBlockArena::KBlockArena(size_t regionBytes) : m_RegionBytes(RoundUp(regionBytes ? regionBytes : 1, kHugePage)) {}

KBlockArena::~KBlockArena()
{
    for (auto& region : m_Regions)
        munmap(region.first, m_RegionBytes);
}

char* KBlockArena::priMapRegion()
{
    // Room to move the start to a huge-page boundary; the slack on either side goes back at once.
    void* raw = mmap(nullptr, m_RegionBytes + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED)
        return nullptr;
    const uintptr_t start = reinterpret_cast<uintptr_t>(raw);
    const uintptr_t aligned = RoundUp(start, kHugePage);
    if (aligned > start)
        munmap(raw, aligned - start);
    if (const size_t tail = start + m_RegionBytes + kHugePage - (aligned + m_RegionBytes))
        munmap(reinterpret_cast<void*>(aligned + m_RegionBytes), tail);
    char* base = reinterpret_cast<char*>(aligned);
    madvise(base, m_RegionBytes, MADV_HUGEPAGE);  // a hint: without huge pages the blocks work all the same
    m_Regions[base].free.emplace(0, m_RegionBytes);
    return base;
}

void* KBlockArena::Allocate(size_t size)
{
    if (size == 0 || size > m_RegionBytes)
        return nullptr;
    const size_t length = RoundUp(size, kGrain);
    std::lock_guard<std::mutex> lock(m_Lock);
    for (int attempt = 0; attempt < 2; ++attempt) {
        for (auto& [base, region] : m_Regions) {
            for (auto it = region.free.begin(); it != region.free.end(); ++it) {
                if (it->second < length)
                    continue;
                const size_t offset = it->first, room = it->second;
                region.free.erase(it);
                if (room > length)
                    region.free.emplace(offset + length, room - length);
                char* block = base + offset;
                m_Taken.emplace(block, length);
                return block;
            }
        }
        if (attempt == 0 && !priMapRegion())
            return nullptr;
    }
    return nullptr;
}

void KBlockArena::Free(void* block)
{
    if (!block)
        return;
    char* start = static_cast<char*>(block);
    std::lock_guard<std::mutex> lock(m_Lock);
    const auto taken = m_Taken.find(start);
    if (taken == m_Taken.end())
        return;
    auto regionAt = m_Regions.upper_bound(start);
    if (regionAt == m_Regions.begin())
        return;
    --regionAt;
    std::map<size_t, size_t>& free = regionAt->second.free;
    size_t offset = static_cast<size_t>(start - regionAt->first);
    size_t length = taken->second;
    m_Taken.erase(taken);
    m_Returned = true;
    // Joined with the free room after it and before it.
    auto next = free.lower_bound(offset);
    if (next != free.end() && next->first == offset + length) {
        length += next->second;
        next = free.erase(next);
    }
    if (next != free.begin()) {
        auto previous = std::prev(next);
        if (previous->first + previous->second == offset) {
            offset = previous->first;
            length += previous->second;
            free.erase(previous);
        }
    }
    free.emplace(offset, length);
}

bool KBlockArena::Release()
{
    std::lock_guard<std::mutex> lock(m_Lock);
    const bool released = m_Returned;
    m_Returned = false;
    if (!released)
        return false;
    for (auto it = m_Regions.begin(); it != m_Regions.end();) {
        std::map<size_t, size_t>& free = it->second.free;
        if (free.size() == 1 && free.begin()->second == m_RegionBytes) {
            munmap(it->first, m_RegionBytes);
            it = m_Regions.erase(it);
            continue;
        }
        for (const auto& [offset, length] : free)
            madvise(it->first + offset, length, MADV_DONTNEED);
        ++it;
    }
    return released;
}

size_t KBlockArena::RegionCount()
{
    std::lock_guard<std::mutex> lock(m_Lock);
    return m_Regions.size();
}

size_t KBlockArena::FreeBytes()
{
    std::lock_guard<std::mutex> lock(m_Lock);
    size_t bytes = 0;
    for (const auto& region : m_Regions)
        for (const auto& room : region.second.free)
            bytes += room.second;
    return bytes;
}
