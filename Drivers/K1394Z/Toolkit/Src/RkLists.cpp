// Segment pools of fixed-size entries and counted lists.
#include <cstring>

#include "RkInternal.h"

struct RK_SEGMENT {
    RK_SEGMENT* Next;
    SIZE_T BytesLeft;
    UCHAR* Start;
    UCHAR* Current;
    UCHAR* End;
};

// ---- Segment pools ----------------------------------------------------------------------------------------------------

NTSTATUS RkSegPoolCreate(RK_SEGMENT_POOL* pool, ULONG entrySize, ULONG entriesPerSegment, SIZE_T limit)
{
    std::memset(pool, 0, sizeof *pool);
    if (entrySize == 0 || entriesPerSegment == 0)
        return STATUS_INVALID_PARAMETER;
    ULONG size = (entrySize + 7) & ~7u;
    if (size < sizeof(PVOID))
        size = sizeof(PVOID);
    if (static_cast<uint64_t>(size) * entriesPerSegment > 0x7FFFFFFF)
        return STATUS_INVALID_PARAMETER;
    pool->EntrySize = size;
    pool->SegmentBytes = size * entriesPerSegment;
    pool->Limit = limit;
    return STATUS_SUCCESS;
}

PVOID RkSegPoolTake(RK_SEGMENT_POOL* pool)
{
    RkSpinAcquire(&pool->Lock);
    PVOID entry = pool->FreeList;
    if (entry) {
        std::memcpy(&pool->FreeList, entry, sizeof(PVOID));
        pool->FreeCount--;
    } else {
        RK_SEGMENT* segment = pool->Segments;
        if (!segment || segment->BytesLeft < pool->EntrySize) {
            if (pool->BytesMade + pool->SegmentBytes > pool->Limit) {
                RkSpinRelease(&pool->Lock);
                return nullptr;
            }
            segment = static_cast<RK_SEGMENT*>(AllocateMemoryOS(sizeof(RK_SEGMENT) + pool->SegmentBytes));
            if (!segment) {
                RkSpinRelease(&pool->Lock);
                return nullptr;
            }
            segment->Start = reinterpret_cast<UCHAR*>(segment + 1);
            segment->Current = segment->Start;
            segment->End = segment->Start + pool->SegmentBytes;
            segment->BytesLeft = pool->SegmentBytes;
            segment->Next = pool->Segments;
            pool->Segments = segment;
            pool->BytesMade += pool->SegmentBytes;
        }
        entry = segment->Current;
        segment->Current += pool->EntrySize;
        segment->BytesLeft -= pool->EntrySize;
    }
    RkSpinRelease(&pool->Lock);
    std::memset(entry, 0, pool->EntrySize);
    return entry;
}

void RkSegPoolReturn(RK_SEGMENT_POOL* pool, PVOID entry)
{
    if (!entry)
        return;
    RkSpinAcquire(&pool->Lock);
    std::memcpy(entry, &pool->FreeList, sizeof(PVOID));
    pool->FreeList = entry;
    pool->FreeCount++;
    RkSpinRelease(&pool->Lock);
}

void RkSegPoolReset(RK_SEGMENT_POOL* pool)
{
    RkSpinAcquire(&pool->Lock);
    RK_SEGMENT* keep = pool->Segments;
    RK_SEGMENT* rest = keep ? keep->Next : nullptr;
    if (keep) {
        keep->Next = nullptr;
        keep->Current = keep->Start;
        keep->BytesLeft = pool->SegmentBytes;
        pool->BytesMade = pool->SegmentBytes;
    }
    pool->FreeList = nullptr;
    pool->FreeCount = 0;
    RkSpinRelease(&pool->Lock);
    while (rest) {
        RK_SEGMENT* next = rest->Next;
        FreeMemoryOS(rest);
        rest = next;
    }
}

void RkSegPoolDestroy(RK_SEGMENT_POOL* pool)
{
    RK_SEGMENT* segment = pool->Segments;
    while (segment) {
        RK_SEGMENT* next = segment->Next;
        FreeMemoryOS(segment);
        segment = next;
    }
    std::memset(pool, 0, sizeof *pool);
}

// ---- Counted lists ----------------------------------------------------------------------------------------------------

namespace {

RK_LIST_NODE* NewNode(PVOID value, PVOID key)
{
    RK_SEGMENT_POOL* nodes = RkListNodePool();
    auto* node = nodes ? static_cast<RK_LIST_NODE*>(RkSegPoolTake(nodes)) : nullptr;
    if (node) {
        node->Value = value;
        node->Key = key;
    }
    return node;
}

void LinkBefore(RK_LIST* list, RK_LIST_NODE* node, RK_LIST_NODE* before)
{
    node->Next = before;
    node->Previous = before ? before->Previous : list->Last;
    if (node->Previous)
        node->Previous->Next = node;
    else
        list->First = node;
    if (before)
        before->Previous = node;
    else
        list->Last = node;
    list->Count++;
}

void Unlink(RK_LIST* list, RK_LIST_NODE* node)
{
    if (node->Previous)
        node->Previous->Next = node->Next;
    else
        list->First = node->Next;
    if (node->Next)
        node->Next->Previous = node->Previous;
    else
        list->Last = node->Previous;
    list->Count--;
}

}  // namespace

RK_LIST* RkListCreate()
{
    RK_SEGMENT_POOL* heads = RkListHeadPool();
    return heads ? static_cast<RK_LIST*>(RkSegPoolTake(heads)) : nullptr;
}

void RkListDestroy(RK_LIST* list)
{
    if (!list)
        return;
    RK_SEGMENT_POOL* nodes = RkListNodePool();
    RK_LIST_NODE* node = list->First;
    while (node) {
        RK_LIST_NODE* next = node->Next;
        if (nodes)
            RkSegPoolReturn(nodes, node);
        node = next;
    }
    if (RkListHeadPool())
        RkSegPoolReturn(RkListHeadPool(), list);
}

RK_LIST_NODE* RkListInsertOrdered(RK_LIST* list, PVOID value, PVOID key, RK_LIST_COMPARE compare)
{
    RK_LIST_NODE* node = NewNode(value, key);
    if (!node)
        return nullptr;
    RkSpinAcquire(&list->Lock);
    RK_LIST_NODE* before = list->First;
    while (before && !(compare && compare(before->Key, key) > 0))
        before = before->Next;
    LinkBefore(list, node, before);
    RkSpinRelease(&list->Lock);
    return node;
}

RK_LIST_NODE* RkListPushFront(RK_LIST* list, PVOID value, PVOID key)
{
    RK_LIST_NODE* node = NewNode(value, key);
    if (!node)
        return nullptr;
    RkSpinAcquire(&list->Lock);
    LinkBefore(list, node, list->First);
    RkSpinRelease(&list->Lock);
    return node;
}

RK_LIST_NODE* RkListPushBack(RK_LIST* list, PVOID value, PVOID key)
{
    RK_LIST_NODE* node = NewNode(value, key);
    if (!node)
        return nullptr;
    RkSpinAcquire(&list->Lock);
    LinkBefore(list, node, nullptr);
    RkSpinRelease(&list->Lock);
    return node;
}

RK_LIST_NODE* RkListFind(RK_LIST* list, PVOID key, RK_LIST_COMPARE compare)
{
    RkSpinAcquire(&list->Lock);
    RK_LIST_NODE* node = list->First;
    while (node && !(compare ? compare(node->Key, key) == 0 : node->Key == key))
        node = node->Next;
    RkSpinRelease(&list->Lock);
    return node;
}

void RkListRemove(RK_LIST* list, RK_LIST_NODE* node)
{
    if (!node)
        return;
    RkSpinAcquire(&list->Lock);
    Unlink(list, node);
    RkSpinRelease(&list->Lock);
    if (RkListNodePool())
        RkSegPoolReturn(RkListNodePool(), node);
}

ULONG RkListRemoveRun(RK_LIST* list, RK_LIST_NODE* first, ULONG count)
{
    ULONG removed = 0;
    RK_LIST_NODE* node = first;
    while (node && removed < count) {
        RK_LIST_NODE* next = node->Next;
        RkListRemove(list, node);
        node = next;
        ++removed;
    }
    return removed;
}

RK_LIST_NODE* RkListNext(RK_LIST* list, RK_LIST_NODE* cursor)
{
    RkSpinAcquire(&list->Lock);
    RK_LIST_NODE* node = cursor ? cursor->Next : list->First;
    RkSpinRelease(&list->Lock);
    return node;
}
