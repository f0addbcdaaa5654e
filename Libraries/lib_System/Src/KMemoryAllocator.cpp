#include "KMemoryAllocator.h"

#include "KBlockArena.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <vector>

namespace {

// Blocks of at least this size are mapped on their own, aligned to huge pages and marked for them: a
// frame's pixels then cost a few hundred page faults instead of a hundred thousand.
constexpr size_t kLargeBlock = size_t{16} << 20;
// Blocks from this size up to a large block (a strip of rows, a detail layer) are packed into regions of
// huge pages shared with others of their kind.
constexpr size_t kMediumBlock = size_t{128} << 10;
constexpr size_t kArenaRegion = size_t{64} << 20;
constexpr size_t kHugePage = size_t{2} << 20;
// Every block starts with this header; the bytes handed out follow it, 64-byte aligned for large blocks
// and as malloc aligns for the others.
constexpr size_t kHeader = 64;

struct Header {
    void* mapping;  // start of the mapping, null for a block from malloc or the arena
    size_t length;  // of the mapping
    bool arena;     // a block of the arena, starting with this header
    bool keep;      // a mapping kept for later blocks once freed
};
static_assert(sizeof(Header) <= kHeader);

// Large blocks given back are kept for the next large blocks of about their size, whose pages are then in
// place already (no page faults, no clearing): at most a few, the oldest unmapped first.
constexpr size_t kKeptBlocks = 6;
constexpr size_t kKeptBytes = size_t{256} << 20;

class KeptBlocks {
public:
    // A kept mapping of at least `length` bytes and not much more, or null.
    Header Take(size_t length)
    {
        std::lock_guard<std::mutex> lock(m_Lock);
        auto best = m_Blocks.end();
        for (auto it = m_Blocks.begin(); it != m_Blocks.end(); ++it)
            if (it->length >= length && it->length - length <= length / 4 &&
                (best == m_Blocks.end() || it->length < best->length))
                best = it;
        if (best == m_Blocks.end())
            return Header{nullptr, 0, false, false};
        const Header found = *best;
        m_Bytes -= found.length;
        m_Blocks.erase(best);
        return found;
    }

    void Keep(const Header& block)
    {
        std::vector<Header> dropped;
        {
            std::lock_guard<std::mutex> lock(m_Lock);
            if (block.length <= kKeptBytes) {
                m_Blocks.push_back(block);
                m_Bytes += block.length;
            } else {
                dropped.push_back(block);
            }
            while (m_Blocks.size() > kKeptBlocks || m_Bytes > kKeptBytes) {
                dropped.push_back(m_Blocks.front());
                m_Bytes -= m_Blocks.front().length;
                m_Blocks.erase(m_Blocks.begin());
            }
        }
        for (const Header& h : dropped)
            munmap(h.mapping, h.length);
    }

    // Unmaps every kept block; true when there was one.
    bool Release()
    {
        std::vector<Header> dropped;
        {
            std::lock_guard<std::mutex> lock(m_Lock);
            dropped.swap(m_Blocks);
            m_Bytes = 0;
        }
        for (const Header& h : dropped)
            munmap(h.mapping, h.length);
        return !dropped.empty();
    }

private:
    std::mutex m_Lock;
    std::vector<Header> m_Blocks;  // oldest first
    size_t m_Bytes = 0;
};

KeptBlocks& Kept()
{
    static KeptBlocks* kept = new KeptBlocks;  // never destroyed: blocks may be freed during exit
    return *kept;
}

KBlockArena& Arena()
{
    static KBlockArena* arena = new KBlockArena(kArenaRegion);  // never destroyed, as the kept blocks
    return *arena;
}

[[maybe_unused]] void* TakeMedium(size_t size)
{
    void* start = Arena().Allocate(size + kHeader);
    if (!start)
        return nullptr;
    *static_cast<Header*>(start) = Header{nullptr, 0, true, false};
    return static_cast<char*>(start) + kHeader;
}

[[maybe_unused]] void* MapLarge(size_t size, bool keep)
{
    // Whole small pages: the part of the last huge page that the block does not fill is not touched.
    static const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    const size_t length = (size + kHeader + page - 1) / page * page;
    if (keep) {
        const Header kept = Kept().Take(length);
        if (kept.mapping)
            return static_cast<char*>(kept.mapping) + kHeader;
    }
    // Room to move the start to a huge-page boundary; the slack on either side goes back at once.
    void* raw = mmap(nullptr, length + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED && Kept().Release())
        raw = mmap(nullptr, length + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED)
        return nullptr;
    const uintptr_t start = reinterpret_cast<uintptr_t>(raw);
    const uintptr_t aligned = (start + kHugePage - 1) / kHugePage * kHugePage;
    if (aligned > start)
        munmap(raw, aligned - start);
    if (const size_t tail = start + length + kHugePage - (aligned + length))
        munmap(reinterpret_cast<void*>(aligned + length), tail);
    void* mapping = reinterpret_cast<void*>(aligned);
    madvise(mapping, length, MADV_HUGEPAGE);  // a hint: without huge pages the block works all the same
    *static_cast<Header*>(mapping) = Header{mapping, length, false, keep};
    return static_cast<char*>(mapping) + kHeader;
}

void* AllocateBlock(size_t size, bool keep)
{
#ifndef __SANITIZE_ADDRESS__  // under the address checker every block comes from malloc, to be checked
    if (size >= kLargeBlock && size <= SIZE_MAX - kHeader - 2 * kHugePage)
        return MapLarge(size, keep);
    if (size >= kMediumBlock && size < kLargeBlock) {
        if (void* block = TakeMedium(size))
            return block;
    }
#endif
    if (size > SIZE_MAX - kHeader)
        return nullptr;
    char* raw = static_cast<char*>(std::malloc(size + kHeader));
    if (!raw)
        return nullptr;
    *reinterpret_cast<Header*>(raw) = Header{nullptr, 0, false, false};
    return raw + kHeader;
}

}  // namespace

void* KMemoryAllocator::Allocate(size_t size)
{
    return AllocateBlock(size, true);
}

void* AllocateScratch(size_t size)
{
    return AllocateBlock(size, false);
}

void KMemoryAllocator::Free(void* block)
{
    if (!block)
        return;
    char* start = static_cast<char*>(block) - kHeader;
    const Header header = *reinterpret_cast<Header*>(start);
    if (header.mapping && header.keep)
        Kept().Keep(header);
    else if (header.mapping)
        munmap(header.mapping, header.length);
    else if (header.arena)
        Arena().Free(start);
    else
        std::free(start);
}

void* KMemoryAllocator::Lock(void* block)
{
    return block;
}

bool KMemoryAllocator::IsMovable()
{
    return false;
}

KIMemoryAllocator* GetMemoryAllocator(KFreeOneBlockCallback, void*)
{
    static KMemoryAllocator* allocator = new KMemoryAllocator;
    return allocator;
}

bool ReleaseKeptMemory()
{
    const bool kept = Kept().Release();
    return Arena().Release() || kept;
}

void ReleaseMemoryAllocator(KIMemoryAllocator*& allocator)
{
    allocator = nullptr;
}
