#pragma once
// Where large pixel and cache blocks come from. The default allocator takes small blocks from the ordinary heap,
// packs medium ones (strips of rows) into shared regions of huge pages whose room given back serves the next
// ones, and maps large ones on their own, asking the kernel for huge pages, keeping a few large blocks given
// back for the next ones of about their size; its blocks never move, so the pointer Lock gives stays valid for
// the block's life. Thread-safe.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <type_traits>

class KIMemoryAllocator {
public:
    // A new block of `size` bytes, or null when memory runs out.
    virtual void* Allocate(size_t size) = 0;
    virtual void Free(void* block) = 0;
    // The block's bytes at their current address.
    virtual void* Lock(void* block) = 0;
    // Whether blocks may move between a Lock and the next.
    virtual bool IsMovable() = 0;
    virtual ~KIMemoryAllocator() = default;
};

class KMemoryAllocator : public KIMemoryAllocator {
public:
    void* Allocate(size_t size) override;
    void Free(void* block) override;
    void* Lock(void* block) override;
    bool IsMovable() override;
};

// Frees one block somewhere to make room (the memory cache's evict-one); true when it freed one.
using KFreeOneBlockCallback = bool (*)(void* context);

// The one default allocator, made on first use and never deleted. The callback is accepted for allocators
// that can ask for room; the default one does not use it.
KIMemoryAllocator* GetMemoryAllocator(KFreeOneBlockCallback callback = nullptr, void* context = nullptr);
// A block for one pass's working rows, given back with the default allocator's Free: laid out as its blocks,
// but a large one goes back to the system when freed instead of being kept for a later block of its size.
void* AllocateScratch(size_t size);

// A scratch block of `count` values of T that frees itself; the values are not initialised. Throws
// std::bad_alloc when memory runs out.
struct KScratchFree {
    void operator()(void* block) const { GetMemoryAllocator()->Free(block); }
};
template <class T>
using KScratchArray = std::unique_ptr<T[], KScratchFree>;
template <class T>
KScratchArray<T> MakeScratchArray(size_t count)
{
    static_assert(std::is_trivial_v<T>);
    void* block = count <= SIZE_MAX / sizeof(T) ? AllocateScratch((count ? count : 1) * sizeof(T)) : nullptr;
    if (!block)
        throw std::bad_alloc();
    return KScratchArray<T>(static_cast<T*>(block));
}

// Gives the memory that the default allocator keeps for reuse back to the system; true when it held some.
bool ReleaseKeptMemory();
// Gives an allocator reference back and clears the caller's pointer; the default allocator stays.
void ReleaseMemoryAllocator(KIMemoryAllocator*& allocator);
