// Memory services start and stop, and the heap: 64 KB regions carved from both ends, with size classes that
// keep freed blocks for reuse.
#include <cstring>

#include "RkInternal.h"

namespace {

constexpr ULONG kBlockSignature = 0x404C6F74;
constexpr ULONG kFree = 0x01;
constexpr ULONG kFromTop = 0x02;
constexpr ULONG kOwnsRegion = 0x20;
constexpr ULONG kReuseSlack = 1024;

struct Region;
struct SizeClass;

struct HeapBlock {
    ULONG Signature;
    ULONG Size;   // header included
    ULONG Size2;  // the same, a check
    ULONG Flags;
    Region* Owner;
    HeapBlock* Next;  // in the region, same end
    HeapBlock* Previous;
    SizeClass* Class;
    HeapBlock* NextFree;  // in the size class
    HeapBlock* PreviousFree;
};
static_assert(sizeof(HeapBlock) == RK_HEAP_HEADER, "the heap block header is 64 bytes");

struct Region {
    UCHAR* Start;  // interior
    UCHAR* End;
    UCHAR* Bottom;  // first byte not carved from the bottom
    UCHAR* Top;     // first byte carved from the top
    SIZE_T FreeBytes;
    HeapBlock* BottomBlocks;
    HeapBlock* TopBlocks;  // newest first: the lowest address first
    HeapBlock* BottomRover;
    HeapBlock* TopRover;
    Region* Next;
    BOOLEAN OwnsMemory;
    RK_SPIN_LOCK Lock;
};

struct SizeClass {
    ULONG BlockSize;
    HeapBlock* FirstFree;
    HeapBlock* LastFree;
    ULONG Made;
    ULONG FreeCount;
    RK_SPIN_LOCK Lock;
};

struct Services {
    RK_SPIN_LOCK Lock;
    BOOLEAN Ready;
    RK_SEGMENT_POOL ListNodes;
    RK_SEGMENT_POOL ListHeads;
    RK_SEGMENT_POOL SmallA;  // size classes
    RK_SEGMENT_POOL SmallB;  // spare
    RK_TRIE* Classes;        // 4-byte block size -> class
    RK_LIST* ClassList;
    SizeClass** Table;       // 256 entries
    SizeClass* LastUsed;
    Region* Regions;
    Region* LastServed;
    ULONG RegionCount;
    SIZE_T RegionBytes;
    SIZE_T BytesInUse;
    ULONG BlocksInUse;
};

Services g_Mem;

ULONG RoundedBlockSize(SIZE_T size)
{
    return static_cast<ULONG>((size + RK_HEAP_HEADER + 15) & ~static_cast<SIZE_T>(15));
}

UCHAR TableIndex(ULONG size)
{
    return static_cast<UCHAR>((size & 0xFF) ^ ((size >> 8) & 0xFF) ^ ((size >> 16) & 0xFF) ^ (size >> 24));
}

Region* NewRegion(SIZE_T bytes)
{
    auto* region = static_cast<Region*>(AllocateMemoryOS(sizeof(Region) + bytes));
    if (!region)
        return nullptr;
    std::memset(region, 0, sizeof(Region));
    region->Start = reinterpret_cast<UCHAR*>(region + 1);
    region->End = region->Start + bytes;
    region->Bottom = region->Start;
    region->Top = region->End;
    region->OwnsMemory = TRUE;
    region->Next = g_Mem.Regions;
    g_Mem.Regions = region;
    g_Mem.RegionCount++;
    g_Mem.RegionBytes += bytes;
    return region;
}

void ForgetRegion(Region* region)
{
    for (Region** link = &g_Mem.Regions; *link; link = &(*link)->Next)
        if (*link == region) {
            *link = region->Next;
            break;
        }
    if (g_Mem.LastServed == region)
        g_Mem.LastServed = nullptr;
    g_Mem.RegionCount--;
    g_Mem.RegionBytes -= region->End - region->Start;
    FreeMemoryOS(region);
}

SizeClass* FindClass(ULONG size, bool make)
{
    if (g_Mem.LastUsed && g_Mem.LastUsed->BlockSize == size)
        return g_Mem.LastUsed;
    SizeClass* c = g_Mem.Table[TableIndex(size)];
    if (!c || c->BlockSize != size)
        c = static_cast<SizeClass*>(RkTrieFind(g_Mem.Classes, &size, sizeof size, nullptr));
    if (!c && make) {
        c = static_cast<SizeClass*>(RkSegPoolTake(&g_Mem.SmallA));
        if (!c)
            return nullptr;
        c->BlockSize = size;
        if (!NT_SUCCESS(RkTrieInsert(g_Mem.Classes, &size, sizeof size, c)) ||
            !RkListPushBack(g_Mem.ClassList, c, nullptr)) {
            RkTrieRemove(g_Mem.Classes, &size, sizeof size);
            RkSegPoolReturn(&g_Mem.SmallA, c);
            return nullptr;
        }
    }
    if (c) {
        g_Mem.Table[TableIndex(size)] = c;
        g_Mem.LastUsed = c;
    }
    return c;
}

void UnlinkFree(HeapBlock* block)
{
    SizeClass* c = block->Class;
    if (block->PreviousFree)
        block->PreviousFree->NextFree = block->NextFree;
    else
        c->FirstFree = block->NextFree;
    if (block->NextFree)
        block->NextFree->PreviousFree = block->PreviousFree;
    else
        c->LastFree = block->PreviousFree;
    block->NextFree = block->PreviousFree = nullptr;
    c->FreeCount--;
}

void LinkInRegion(HeapBlock*& list, HeapBlock* block)
{
    block->Previous = nullptr;
    block->Next = list;
    if (list)
        list->Previous = block;
    list = block;
}

void UnlinkFromRegion(HeapBlock*& list, HeapBlock*& rover, HeapBlock* block)
{
    if (block->Previous)
        block->Previous->Next = block->Next;
    else
        list = block->Next;
    if (block->Next)
        block->Next->Previous = block->Previous;
    if (rover == block)
        rover = block->Next;
}

HeapBlock* Carve(Region* region, ULONG size)
{
    if (static_cast<SIZE_T>(region->Top - region->Bottom) < size)
        return nullptr;
    HeapBlock* block;
    if (size < RK_HEAP_TOP_SIZE) {
        block = reinterpret_cast<HeapBlock*>(region->Bottom);
        region->Bottom += size;
        std::memset(block, 0, sizeof *block);
        LinkInRegion(region->BottomBlocks, block);
    } else {
        region->Top -= size;
        block = reinterpret_cast<HeapBlock*>(region->Top);
        std::memset(block, 0, sizeof *block);
        block->Flags = kFromTop;
        LinkInRegion(region->TopBlocks, block);
    }
    block->Signature = kBlockSignature;
    block->Size = block->Size2 = size;
    block->Owner = region;
    return block;
}

// A returned block of the region at most kReuseSlack bytes larger than needed, from the rover on.
HeapBlock* Reuse(Region* region, ULONG size)
{
    bool top = size >= RK_HEAP_TOP_SIZE;
    HeapBlock* list = top ? region->TopBlocks : region->BottomBlocks;
    HeapBlock*& rover = top ? region->TopRover : region->BottomRover;
    HeapBlock* start = rover ? rover : list;
    HeapBlock* b = start;
    while (b) {
        if ((b->Flags & kFree) && b->Size >= size) {
            rover = b->Next;
            if (b->Size - size <= kReuseSlack) {
                UnlinkFree(b);
                region->FreeBytes -= b->Size;
                return b;
            }
        }
        b = b->Next ? b->Next : list;
        if (b == start)
            break;
    }
    return nullptr;
}

HeapBlock* FromRegion(Region* region, ULONG size)
{
    HeapBlock* block = Carve(region, size);
    return block ? block : Reuse(region, size);
}

Region* RegionOf(const UCHAR* p)
{
    for (Region* r = g_Mem.Regions; r; r = r->Next)
        if (p >= r->Start + RK_HEAP_HEADER && p < r->End)
            return r;
    return nullptr;
}

// The live, well-formed block whose caller bytes start at `p`, or null.
HeapBlock* LiveBlock(PVOID p)
{
    auto* bytes = static_cast<UCHAR*>(p);
    Region* region = RegionOf(bytes);
    if (!region)
        return nullptr;
    auto* block = reinterpret_cast<HeapBlock*>(bytes - RK_HEAP_HEADER);
    bool inCarved = reinterpret_cast<UCHAR*>(block) < region->Bottom || reinterpret_cast<UCHAR*>(block) >= region->Top;
    if (!inCarved || (reinterpret_cast<ULONG_PTR>(block) & 15) != (reinterpret_cast<ULONG_PTR>(region->Start) & 15))
        return nullptr;
    if (block->Signature != kBlockSignature || block->Size != block->Size2 || block->Owner != region)
        return nullptr;
    return block;
}

void StopLocked()
{
    while (g_Mem.Regions)
        ForgetRegion(g_Mem.Regions);
    if (g_Mem.Classes)
        RkTrieDestroy(g_Mem.Classes);
    if (g_Mem.Table)
        FreeMemoryOS(g_Mem.Table);
    g_Mem.Ready = FALSE;  // the list pools go next: lists are no longer made
    RkSegPoolDestroy(&g_Mem.SmallA);
    RkSegPoolDestroy(&g_Mem.SmallB);
    RkSegPoolDestroy(&g_Mem.ListNodes);
    RkSegPoolDestroy(&g_Mem.ListHeads);
    RK_SPIN_LOCK lock = g_Mem.Lock;
    std::memset(&g_Mem, 0, sizeof g_Mem);
    g_Mem.Lock = lock;
}

}  // namespace

RK_SEGMENT_POOL* RkListNodePool()
{
    return __atomic_load_n(&g_Mem.ListNodes.EntrySize, __ATOMIC_ACQUIRE) ? &g_Mem.ListNodes : nullptr;
}

RK_SEGMENT_POOL* RkListHeadPool()
{
    return __atomic_load_n(&g_Mem.ListHeads.EntrySize, __ATOMIC_ACQUIRE) ? &g_Mem.ListHeads : nullptr;
}

NTSTATUS RkMemoryStart()
{
    RkSpinAcquire(&g_Mem.Lock);
    if (g_Mem.Ready) {
        RkSpinRelease(&g_Mem.Lock);
        return STATUS_SUCCESS;
    }
    bool ok = NT_SUCCESS(RkSegPoolCreate(&g_Mem.ListNodes, sizeof(RK_LIST_NODE), 4096 / sizeof(RK_LIST_NODE), RK_NO_LIMIT)) &&
              NT_SUCCESS(RkSegPoolCreate(&g_Mem.ListHeads, sizeof(RK_LIST), 4096 / sizeof(RK_LIST), RK_NO_LIMIT)) &&
              NT_SUCCESS(RkSegPoolCreate(&g_Mem.SmallA, sizeof(SizeClass), 4096 / sizeof(SizeClass), RK_NO_LIMIT)) &&
              NT_SUCCESS(RkSegPoolCreate(&g_Mem.SmallB, 24, 4096 / 24, RK_NO_LIMIT));
    if (ok) {
        g_Mem.Classes = RkTrieCreate(4, 4, TRUE);
        g_Mem.ClassList = static_cast<RK_LIST*>(RkSegPoolTake(&g_Mem.ListHeads));
        g_Mem.Table = static_cast<SizeClass**>(AllocateZeroedMemoryOS(256 * sizeof(SizeClass*)));
        ok = g_Mem.Classes && g_Mem.ClassList && g_Mem.Table && NewRegion(RK_HEAP_REGION_SIZE);
    }
    if (!ok) {
        StopLocked();
        RkSpinRelease(&g_Mem.Lock);
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    g_Mem.Ready = TRUE;
    RkSpinRelease(&g_Mem.Lock);
    return STATUS_SUCCESS;
}

void RkMemoryStop()
{
    RkSpinAcquire(&g_Mem.Lock);
    if (g_Mem.Ready)
        StopLocked();
    RkSpinRelease(&g_Mem.Lock);
    RkPoolResetFiguresIfEmpty();
}

BOOLEAN RkMemoryIsReady()
{
    return __atomic_load_n(&g_Mem.Ready, __ATOMIC_ACQUIRE);
}

PVOID RkHeapAllocate(SIZE_T size)
{
    if (size == 0 || static_cast<uint64_t>(size) + 204816 >= 0xFFFFFFFFull)
        return nullptr;
    if (!RkMemoryIsReady() && !NT_SUCCESS(RkMemoryStart()))
        return nullptr;
    const ULONG blockSize = RoundedBlockSize(size);
    RkSpinAcquire(&g_Mem.Lock);
    if (!g_Mem.Ready) {
        RkSpinRelease(&g_Mem.Lock);
        return nullptr;
    }
    SizeClass* c = FindClass(blockSize, true);
    if (!c) {
        RkSpinRelease(&g_Mem.Lock);
        return nullptr;
    }
    HeapBlock* block = c->FirstFree;
    if (block) {
        UnlinkFree(block);
        block->Owner->FreeBytes -= block->Size;
    }
    if (!block && g_Mem.LastServed)
        block = FromRegion(g_Mem.LastServed, blockSize);
    for (Region* r = g_Mem.Regions; !block && r; r = r->Next)
        if (r != g_Mem.LastServed)
            block = FromRegion(r, blockSize);
    if (!block) {
        // A block larger than a region gets a region of exactly its size, which it owns whole.
        SIZE_T bytes = blockSize < RK_HEAP_REGION_SIZE ? RK_HEAP_REGION_SIZE : blockSize;
        Region* region = NewRegion(bytes);
        if (region) {
            block = FromRegion(region, blockSize);
            if (block && block->Size == bytes)
                block->Flags |= kOwnsRegion;
        }
    }
    if (!block) {
        RkSpinRelease(&g_Mem.Lock);
        return nullptr;
    }
    g_Mem.LastServed = block->Owner;
    block->Flags &= ~kFree;
    block->Class = c;
    c->Made++;
    g_Mem.BytesInUse += block->Size;
    g_Mem.BlocksInUse++;
    RkSpinRelease(&g_Mem.Lock);
    return reinterpret_cast<UCHAR*>(block) + RK_HEAP_HEADER;
}

void RkHeapFree(PVOID p)
{
    if (!p)
        return;
    RkSpinAcquire(&g_Mem.Lock);
    HeapBlock* block = g_Mem.Ready ? LiveBlock(p) : nullptr;
    if (!block || (block->Flags & kFree)) {
        RkSpinRelease(&g_Mem.Lock);
        DbgPrint("RkHeapFree: 0x%p is not a live heap block; ignored\n", p);
        return;
    }
    Region* region = block->Owner;
    g_Mem.BytesInUse -= block->Size;
    g_Mem.BlocksInUse--;
    block->Flags |= kFree;
    if (block->Flags & kOwnsRegion) {
        ForgetRegion(region);
    } else if ((block->Flags & kFromTop) && reinterpret_cast<UCHAR*>(block) == region->Top) {
        // The newest block of the top end gives its bytes back to the region.
        region->Top += block->Size;
        UnlinkFromRegion(region->TopBlocks, region->TopRover, block);
        block->Signature = 0;
    } else {
        SizeClass* c = block->Class;
        block->NextFree = nullptr;
        block->PreviousFree = c->LastFree;
        if (c->LastFree)
            c->LastFree->NextFree = block;
        else
            c->FirstFree = block;
        c->LastFree = block;
        c->FreeCount++;
        region->FreeBytes += block->Size;
    }
    RkSpinRelease(&g_Mem.Lock);
}

BOOLEAN RkHeapGetBlockInfo(PVOID p, RK_HEAP_BLOCK_INFO* info)
{
    RkSpinAcquire(&g_Mem.Lock);
    HeapBlock* block = g_Mem.Ready && p ? LiveBlock(p) : nullptr;
    if (block) {
        info->BlockSize = block->Size;
        info->FromTop = (block->Flags & kFromTop) ? TRUE : FALSE;
        info->IsFree = (block->Flags & kFree) ? TRUE : FALSE;
        info->OwnsRegion = (block->Flags & kOwnsRegion) ? TRUE : FALSE;
        info->RegionStart = block->Owner->Start;
        info->RegionEnd = block->Owner->End;
    }
    RkSpinRelease(&g_Mem.Lock);
    return block ? TRUE : FALSE;
}

void RkHeapGetFigures(RK_HEAP_FIGURES* figures)
{
    RkSpinAcquire(&g_Mem.Lock);
    std::memset(figures, 0, sizeof *figures);
    figures->Regions = g_Mem.RegionCount;
    figures->RegionBytes = g_Mem.RegionBytes;
    figures->BytesInUse = g_Mem.BytesInUse;
    figures->BlocksInUse = g_Mem.BlocksInUse;
    if (g_Mem.ClassList) {
        for (RK_LIST_NODE* n = g_Mem.ClassList->First; n; n = n->Next) {
            figures->SizeClasses++;
            figures->FreeBlocks += static_cast<SizeClass*>(n->Value)->FreeCount;
        }
    }
    RkSpinRelease(&g_Mem.Lock);
}

PVOID AllocateMemoryK1394(ULONG size)
{
    if (size == 0) {
        DbgPrint("AllocateMemoryK1394 error: requested block size is 0.\n");
        return nullptr;
    }
    PVOID block = RkHeapAllocate(size);
    if (!block)
        DbgPrint("AllocateMemoryK1394 error: failed to allocated BlockSize = %d\n", static_cast<int>(size));
    return block;
}

void FreeMemoryK1394(PVOID block)
{
    if (!block) {
        DbgPrint("FreeMemoryK1394 error: BlockAddr = 0.\n");
        return;
    }
    RkHeapFree(block);
}
