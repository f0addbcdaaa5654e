#include "KMemoryAllocator.h"

#include <cstdlib>

void* KMemoryAllocator::Allocate(size_t size)
{
    return std::malloc(size ? size : 1);
}

void KMemoryAllocator::Free(void* block)
{
    std::free(block);
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
