// Arenas of chunks, fixed-size pools over them, and lists with pooled nodes.
#include <cstring>
#include <mutex>

#include "KCamLinkSupport.h"

struct CamChunk {
    CamChunk* next;
    size_t freeBytes;
    uint8_t* start;
    uint8_t* cursor;
    uint8_t* end;
};

namespace {

constexpr size_t kAlign = 8;

size_t RoundUp(size_t n)
{
    return (n + kAlign - 1) & ~(kAlign - 1);
}

CamChunk* NewChunk(size_t size)
{
    // The bytes follow the chunk record, aligned as the record is.
    static_assert(sizeof(CamChunk) % kAlign == 0);
    if (size > SIZE_MAX - sizeof(CamChunk))
        return nullptr;
    auto* chunk = static_cast<CamChunk*>(PageAlloc(sizeof(CamChunk) + size));
    if (!chunk)
        return nullptr;
    chunk->next = nullptr;
    chunk->freeBytes = size;
    chunk->start = reinterpret_cast<uint8_t*>(chunk + 1);
    chunk->cursor = chunk->start;
    chunk->end = chunk->start + size;
    return chunk;
}

void* Take(CamArena* arena, CamChunk* chunk, size_t n)
{
    void* p = chunk->cursor;
    chunk->cursor += n;
    chunk->freeBytes -= n;
    arena->freeBytes -= n;
    if (chunk->freeBytes == 0 && arena->current == chunk)
        arena->current = chunk->next;
    return p;
}

}  // namespace

CamArena* ArenaCreate(size_t limit, size_t firstChunk, size_t growth)
{
    firstChunk = RoundUp(firstChunk ? firstChunk : kAlign);
    if (limit && firstChunk > limit)
        return nullptr;
    auto* arena = static_cast<CamArena*>(PageAllocZeroed(sizeof(CamArena)));
    if (!arena)
        return nullptr;
    CamChunk* chunk = NewChunk(firstChunk);
    if (!chunk) {
        PageFree(arena);
        return nullptr;
    }
    arena->current = arena->first = arena->last = chunk;
    arena->freeBytes = firstChunk;
    arena->reservedBytes = firstChunk;
    arena->limit = limit;
    arena->growth = growth ? RoundUp(growth) : firstChunk;
    return arena;
}

void* ArenaAlloc(CamArena* arena, size_t n)
{
    if (!arena || n > SIZE_MAX - kAlign)
        return nullptr;
    n = RoundUp(n ? n : 1);
    if (arena->freeBytes > n) {
        for (CamChunk* c = arena->current; c; c = c->next)
            if (c->freeBytes > n)
                return Take(arena, c, n);
    }
    const size_t size = n > arena->growth ? n : arena->growth;
    if (arena->limit && (size > arena->limit || arena->reservedBytes > arena->limit - size))
        return nullptr;
    CamChunk* chunk = NewChunk(size);
    if (!chunk)
        return nullptr;
    arena->last->next = chunk;
    arena->last = chunk;
    arena->freeBytes += size;
    arena->reservedBytes += size;
    if (!arena->current)
        arena->current = chunk;
    return Take(arena, chunk, n);
}

void ArenaReset(CamArena* arena)
{
    if (!arena)
        return;
    CamChunk* first = arena->first;
    for (CamChunk* c = first->next; c;) {
        CamChunk* next = c->next;
        PageFree(c);
        c = next;
    }
    first->next = nullptr;
    first->cursor = first->start;
    first->freeBytes = static_cast<size_t>(first->end - first->start);
    arena->current = arena->last = first;
    arena->freeBytes = arena->reservedBytes = first->freeBytes;
}

void ArenaDestroy(CamArena* arena)
{
    if (!arena)
        return;
    for (CamChunk* c = arena->first; c;) {
        CamChunk* next = c->next;
        PageFree(c);
        c = next;
    }
    PageFree(arena);
}

CamPool* PoolCreate(size_t elementSize, size_t firstChunk, size_t growth, size_t limit)
{
    if (elementSize < sizeof(void*))
        elementSize = sizeof(void*);
    auto* pool = static_cast<CamPool*>(PageAllocZeroed(sizeof(CamPool)));
    if (!pool)
        return nullptr;
    pool->arena = ArenaCreate(limit, firstChunk, growth);
    if (!pool->arena) {
        PageFree(pool);
        return nullptr;
    }
    pool->elementSize = RoundUp(elementSize);
    CreateLock(&pool->lock);
    return pool;
}

void* PoolAlloc(CamPool* pool)
{
    if (!pool || !Lock(&pool->lock))
        return nullptr;
    void* element = pool->freeHead;
    if (element) {
        memcpy(&pool->freeHead, element, sizeof(void*));
        pool->freeCount--;
    } else {
        element = ArenaAlloc(pool->arena, pool->elementSize);
    }
    Unlock(&pool->lock);
    return element;
}

void* PoolAllocZeroed(CamPool* pool)
{
    void* element = PoolAlloc(pool);
    if (element)
        memset(element, 0, pool->elementSize);
    return element;
}

void PoolFree(CamPool* pool, void* element)
{
    if (!pool || !element || !Lock(&pool->lock))
        return;
    memcpy(element, &pool->freeHead, sizeof(void*));
    pool->freeHead = element;
    pool->freeCount++;
    Unlock(&pool->lock);
}

void PoolDestroy(CamPool* pool)
{
    if (!pool)
        return;
    ArenaDestroy(pool->arena);
    DestroyLock(&pool->lock);
    PageFree(pool);
}

namespace {

// The pools of list nodes and list headers, shared by every list of the process.
CamPool* NodePool()
{
    static CamPool* pool = PoolCreate(sizeof(CamListNode), 4096, 4096, 0);
    return pool;
}

CamPool* HeaderPool()
{
    static CamPool* pool = PoolCreate(sizeof(CamList), 4096, 4096, 0);
    return pool;
}

CamListNode* NewNode(void* value)
{
    auto* node = static_cast<CamListNode*>(PoolAllocZeroed(NodePool()));
    if (node)
        node->value = value;
    return node;
}

}  // namespace

CamList* ListCreate()
{
    auto* list = static_cast<CamList*>(PoolAllocZeroed(HeaderPool()));
    if (list)
        CreateLock(&list->lock);
    return list;
}

void ListDestroy(CamList* list)
{
    if (!list)
        return;
    for (CamListNode* n = list->head; n;) {
        CamListNode* next = n->next;
        PoolFree(NodePool(), n);
        n = next;
    }
    DestroyLock(&list->lock);
    PoolFree(HeaderPool(), list);
}

bool ListPushFront(CamList* list, void* value)
{
    CamListNode* node = list ? NewNode(value) : nullptr;
    if (!node)
        return false;
    node->next = list->head;
    if (list->head)
        list->head->previous = node;
    else
        list->tail = node;
    list->head = node;
    list->count++;
    return true;
}

bool ListPushBack(CamList* list, void* value)
{
    CamListNode* node = list ? NewNode(value) : nullptr;
    if (!node)
        return false;
    node->previous = list->tail;
    if (list->tail)
        list->tail->next = node;
    else
        list->head = node;
    list->tail = node;
    list->count++;
    return true;
}

bool ListRemoveValue(CamList* list, void* value)
{
    if (!list)
        return false;
    for (CamListNode* n = list->head; n; n = n->next) {
        if (n->value != value)
            continue;
        (n->previous ? n->previous->next : list->head) = n->next;
        (n->next ? n->next->previous : list->tail) = n->previous;
        list->count--;
        PoolFree(NodePool(), n);
        return true;
    }
    return false;
}

void* ListNth(CamList* list, uint32_t n)
{
    if (!list || n >= list->count)
        return nullptr;
    CamListNode* node = list->head;
    while (n-- > 0)
        node = node->next;
    return node->value;
}

uint32_t ListCount(CamList* list)
{
    return list ? list->count : 0;
}

CamListNode* ListFirst(CamList* list)
{
    return list ? list->head : nullptr;
}

CamListNode* ListNext(CamListNode* node)
{
    return node ? node->next : nullptr;
}
