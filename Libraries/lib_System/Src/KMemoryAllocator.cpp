#include "KMemoryAllocator.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>

namespace {

// Blocks of at least this size are mapped on their own, aligned to huge pages and marked for them: a
// frame's pixels then cost a few hundred page faults instead of a hundred thousand.
constexpr size_t kLargeBlock = size_t{1} << 20;
constexpr size_t kHugePage = size_t{2} << 20;
// Every block starts with this header; the bytes handed out follow it, 64-byte aligned for large blocks
// and as malloc aligns for the others.
constexpr size_t kHeader = 64;

struct Header {
    void* mapping;  // start of the mapping, null for a block from malloc
    size_t length;  // of the mapping
};
static_assert(sizeof(Header) <= kHeader);

[[maybe_unused]] void* MapLarge(size_t size)
{
    // Whole small pages: the part of the last huge page that the block does not fill is not touched.
    static const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    const size_t length = (size + kHeader + page - 1) / page * page;
    // Room to move the start to a huge-page boundary; the slack on either side goes back at once.
    void* raw = mmap(nullptr, length + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
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
    auto* header = static_cast<Header*>(mapping);
    header->mapping = mapping;
    header->length = length;
    return static_cast<char*>(mapping) + kHeader;
}

}  // namespace

void* KMemoryAllocator::Allocate(size_t size)
{
#ifndef __SANITIZE_ADDRESS__  // under the address checker every block comes from malloc, to be checked
    if (size >= kLargeBlock && size <= SIZE_MAX - kHeader - 2 * kHugePage)
        return MapLarge(size);
#endif
    if (size > SIZE_MAX - kHeader)
        return nullptr;
    char* raw = static_cast<char*>(std::malloc(size + kHeader));
    if (!raw)
        return nullptr;
    *reinterpret_cast<Header*>(raw) = Header{nullptr, 0};
    return raw + kHeader;
}

void KMemoryAllocator::Free(void* block)
{
    if (!block)
        return;
    char* start = static_cast<char*>(block) - kHeader;
    const Header header = *reinterpret_cast<Header*>(start);
    if (header.mapping)
        munmap(header.mapping, header.length);
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

void ReleaseMemoryAllocator(KIMemoryAllocator*& allocator)
{
    allocator = nullptr;
}
