#pragma once
// The toolkit's memory services: a tracked pool allocator, segment pools of fixed-size entries, counted lists,
// a heap of 64 KB regions with size classes, a bit-indexed trie, spin locks of its own and small memory
// routines. Everything here lives in the kernel's nonpaged pool.
#include "PlatformKernel.h"

// ---- Spin locks: one byte, taken by atomic exchange, no IRQL change -----------------------------------------------
using RK_SPIN_LOCK = UCHAR;
void RkSpinInitialize(RK_SPIN_LOCK* lock);
void RkSpinAcquire(RK_SPIN_LOCK* lock);
void RkSpinRelease(RK_SPIN_LOCK* lock);

// ---- Tracked pool ------------------------------------------------------------------------------------------------------
// Blocks carry a 16-byte header (0x40 0x42 0x4C 0x4B, two zero words, the size) and pool tag "Wdm ". Sizes
// whose size + 204816 passes 32 bits are refused, as is any call above DISPATCH_LEVEL. Freeing a pointer that
// is not a live block of this allocator is ignored with a trace.
constexpr ULONG RK_POOL_TAG = KernTag("Wdm ");
constexpr ULONG RK_DRIVER_TAG = KernTag("DRKC");
constexpr ULONG RK_POOL_HEADER = 16;

PVOID AllocateMemoryOS(SIZE_T size);
PVOID AllocateZeroedMemoryOS(SIZE_T size);
void FreeMemoryOS(PVOID block);

struct RK_POOL_FIGURES {
    ULONG Blocks;
    ULONG Bytes;      // headers included
    ULONG PeakBytes;
    ULONG_PTR LowestAddress;
};
void RkPoolGetFigures(RK_POOL_FIGURES* figures);

// ---- Segment pools of fixed-size entries -------------------------------------------------------------------------------
struct RK_SEGMENT;
struct RK_SEGMENT_POOL {
    ULONG EntrySize;
    ULONG SegmentBytes;  // bytes of each segment's entries
    SIZE_T Limit;        // most bytes of segments; all ones = no limit
    SIZE_T BytesMade;
    RK_SEGMENT* Segments;
    PVOID FreeList;
    ULONG FreeCount;
    RK_SPIN_LOCK Lock;
};
constexpr SIZE_T RK_NO_LIMIT = ~static_cast<SIZE_T>(0);

NTSTATUS RkSegPoolCreate(RK_SEGMENT_POOL* pool, ULONG entrySize, ULONG entriesPerSegment, SIZE_T limit);
PVOID RkSegPoolTake(RK_SEGMENT_POOL* pool);  // zeroed; null when the limit or the pool is reached
void RkSegPoolReturn(RK_SEGMENT_POOL* pool, PVOID entry);
void RkSegPoolReset(RK_SEGMENT_POOL* pool);    // every entry back; the first segment kept
void RkSegPoolDestroy(RK_SEGMENT_POOL* pool);

// ---- Counted lists -------------------------------------------------------------------------------------------------------
struct RK_LIST_NODE {
    RK_LIST_NODE* Next;
    RK_LIST_NODE* Previous;
    PVOID Value;
    PVOID Key;
};
struct RK_LIST {
    RK_LIST_NODE* First;
    RK_LIST_NODE* Last;
    ULONG Count;
    RK_SPIN_LOCK Lock;
};
// Compares a node's key with another key: negative, zero or positive.
using RK_LIST_COMPARE = LONG (*)(PVOID nodeKey, PVOID key);

// Lists need the memory services running (their heads and nodes come from the services' pools).
RK_LIST* RkListCreate();
void RkListDestroy(RK_LIST* list);  // its nodes too, not their values
RK_LIST_NODE* RkListInsertOrdered(RK_LIST* list, PVOID value, PVOID key, RK_LIST_COMPARE compare);
RK_LIST_NODE* RkListPushFront(RK_LIST* list, PVOID value, PVOID key);
RK_LIST_NODE* RkListPushBack(RK_LIST* list, PVOID value, PVOID key);
// The first node whose key compares equal (or is the same pointer when compare is null).
RK_LIST_NODE* RkListFind(RK_LIST* list, PVOID key, RK_LIST_COMPARE compare);
void RkListRemove(RK_LIST* list, RK_LIST_NODE* node);
// Removes `count` nodes from `first` on (fewer at the end of the list); answers how many went.
ULONG RkListRemoveRun(RK_LIST* list, RK_LIST_NODE* first, ULONG count);
// Walks the list: null cursor gives the first node, then the one after the cursor; null at the end.
RK_LIST_NODE* RkListNext(RK_LIST* list, RK_LIST_NODE* cursor);

// ---- Trie: keys of fixed lengths mapped to values -----------------------------------------------------------------------
struct RK_TRIE;
RK_TRIE* RkTrieCreate(ULONG shortestKey, ULONG longestKey, BOOLEAN keepSpareKeys);
// The value of `key`, or null; *found tells a stored null from a missing key when given.
PVOID RkTrieFind(RK_TRIE* trie, const void* key, ULONG length, BOOLEAN* found);
// STATUS_OBJECT_NAME_COLLISION (value unchanged) for a key already there; STATUS_INVALID_PARAMETER for a
// length outside the trie's range.
NTSTATUS RkTrieInsert(RK_TRIE* trie, const void* key, ULONG length, PVOID value);
BOOLEAN RkTrieRemove(RK_TRIE* trie, const void* key, ULONG length);
ULONG RkTrieCount(RK_TRIE* trie);
void RkTrieDestroy(RK_TRIE* trie);

// ---- Memory services start and stop, and the heap -------------------------------------------------------------------------
NTSTATUS RkMemoryStart();  // a second start while running does nothing
void RkMemoryStop();       // frees every region, list, pool, trie and table
BOOLEAN RkMemoryIsReady();

constexpr ULONG RK_HEAP_HEADER = 64;
constexpr ULONG RK_HEAP_REGION_SIZE = 65536;
constexpr ULONG RK_HEAP_TOP_SIZE = 32768;  // blocks of this size and more come from a region's top end

// Starts the services when they are not running. Null for size 0 or when memory runs out.
PVOID RkHeapAllocate(SIZE_T size);
// Ignores (with a trace) anything but a live block of a live region: a second free changes nothing.
void RkHeapFree(PVOID block);

struct RK_HEAP_BLOCK_INFO {
    ULONG BlockSize;  // header included
    BOOLEAN FromTop;
    BOOLEAN IsFree;
    BOOLEAN OwnsRegion;
    PVOID RegionStart;  // first byte of the region's interior
    PVOID RegionEnd;    // one past its last byte
};
BOOLEAN RkHeapGetBlockInfo(PVOID block, RK_HEAP_BLOCK_INFO* info);

struct RK_HEAP_FIGURES {
    ULONG Regions;
    SIZE_T RegionBytes;
    SIZE_T BytesInUse;  // of blocks handed out, headers included
    ULONG BlocksInUse;
    ULONG FreeBlocks;   // kept by the size classes for reuse
    ULONG SizeClasses;
};
void RkHeapGetFigures(RK_HEAP_FIGURES* figures);

// The driver's heap entry points, with its traces.
PVOID AllocateMemoryK1394(ULONG size);
void FreeMemoryK1394(PVOID block);

// ---- Memory routines ---------------------------------------------------------------------------------------------------------
// Difference of the first differing bytes, or of the lengths when one is a prefix of the other.
LONG RkMemCompare(const void* a, ULONG lengthA, const void* b, ULONG lengthB);
BOOLEAN RkMemEqual(const void* a, const void* b, SIZE_T length);
void RkMemCopy(void* destination, const void* source, SIZE_T length);  // overlap-safe
void RkMemZero(void* destination, SIZE_T length);
// Sleeps at PASSIVE_LEVEL, busy-waits above it.
void RkDelayMs(ULONG milliseconds);
// Waits at most `milliseconds` (0 = no limit): STATUS_SUCCESS or STATUS_TIMEOUT.
NTSTATUS RkWaitForEvent(PKEVENT event, ULONG milliseconds);
ULONGLONG RkReadTimeStampCounter();
