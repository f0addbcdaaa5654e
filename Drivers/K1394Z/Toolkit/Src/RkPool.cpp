// The toolkit's spin locks, tracked pool allocator and memory routines.
#include <sched.h>

#include <cstring>

#include "RkInternal.h"

// ---- Spin locks ------------------------------------------------------------------------------------------------------

void RkSpinInitialize(RK_SPIN_LOCK* lock)
{
    __atomic_store_n(lock, static_cast<UCHAR>(0), __ATOMIC_RELEASE);
}

void RkSpinAcquire(RK_SPIN_LOCK* lock)
{
    unsigned spins = 0;
    while (__atomic_exchange_n(lock, static_cast<UCHAR>(1), __ATOMIC_ACQUIRE) != 0) {
        while (__atomic_load_n(lock, __ATOMIC_RELAXED) != 0)
            if (++spins > 100)
                sched_yield();
    }
}

void RkSpinRelease(RK_SPIN_LOCK* lock)
{
    __atomic_store_n(lock, static_cast<UCHAR>(0), __ATOMIC_RELEASE);
}

// ---- Tracked pool ----------------------------------------------------------------------------------------------------

namespace {

constexpr UCHAR kSignature[4] = {0x40, 0x42, 0x4C, 0x4B};
constexpr uint64_t kRefuseAbove = 0xFFFFFFFFull;  // size + 204816 must stay below 32 bits
constexpr uint64_t kSlack = 204816;

struct PoolHeader {
    UCHAR signature[4];
    ULONG reserved[2];
    ULONG size;
};
static_assert(sizeof(PoolHeader) == RK_POOL_HEADER, "the pool block header is 16 bytes");

// The live blocks: an open-addressed set of header addresses, itself in the pool, made with the first block
// and freed with the last.
constexpr ULONG_PTR kEmpty = 0;
constexpr ULONG_PTR kGone = 1;

struct LiveSet {
    ULONG_PTR* slots = nullptr;
    size_t capacity = 0;  // a power of two
    size_t used = 0;      // live + gone
    size_t live = 0;
};

struct TrackedPool {
    RK_SPIN_LOCK lock = 0;
    ULONG blocks = 0;
    ULONG bytes = 0;
    ULONG peak = 0;
    ULONG_PTR lowest = 0;
    LiveSet set;
};

TrackedPool g_Pool;

size_t Hash(ULONG_PTR p, size_t capacity)
{
    uint64_t h = static_cast<uint64_t>(p) * 0x9E3779B97F4A7C15ull;
    return static_cast<size_t>(h >> 20) & (capacity - 1);
}

size_t FindSlot(const LiveSet& set, ULONG_PTR p)
{
    for (size_t i = Hash(p, set.capacity);; i = (i + 1) & (set.capacity - 1)) {
        if (set.slots[i] == p || set.slots[i] == kEmpty)
            return i;
    }
}

bool Contains(const LiveSet& set, ULONG_PTR p)
{
    return set.capacity && set.slots[FindSlot(set, p)] == p;
}

bool Rehash(LiveSet& set, size_t capacity)
{
    auto* slots = static_cast<ULONG_PTR*>(ExAllocatePoolWithTag(NonPagedPool, capacity * sizeof(ULONG_PTR), RK_POOL_TAG));
    if (!slots)
        return false;
    std::memset(slots, 0, capacity * sizeof(ULONG_PTR));
    LiveSet next;
    next.slots = slots;
    next.capacity = capacity;
    for (size_t i = 0; i < set.capacity; ++i) {
        ULONG_PTR p = set.slots[i];
        if (p != kEmpty && p != kGone) {
            next.slots[FindSlot(next, p)] = p;
            next.used++;
            next.live++;
        }
    }
    if (set.slots)
        ExFreePoolWithTag(set.slots, RK_POOL_TAG);
    set = next;
    return true;
}

bool Insert(LiveSet& set, ULONG_PTR p)
{
    if ((set.used + 1) * 2 > set.capacity) {
        size_t capacity = set.capacity ? set.capacity : 64;
        while ((set.live + 1) * 4 > capacity)
            capacity *= 2;
        if (!Rehash(set, capacity))
            return false;
    }
    size_t i = FindSlot(set, p);
    set.slots[i] = p;
    set.used++;
    set.live++;
    return true;
}

void Erase(LiveSet& set, ULONG_PTR p)
{
    size_t i = FindSlot(set, p);
    set.slots[i] = kGone;
    set.live--;
    if (set.live == 0) {
        ExFreePoolWithTag(set.slots, RK_POOL_TAG);
        set = LiveSet();
    }
}

}  // namespace

PVOID AllocateMemoryOS(SIZE_T size)
{
    if (KeGetCurrentIrql() > DISPATCH_LEVEL) {
        DbgPrint("AllocateMemoryOS invalid IRQL.\n");
        return nullptr;
    }
    if (static_cast<uint64_t>(size) + kSlack >= kRefuseAbove)
        return nullptr;
    const ULONG total = static_cast<ULONG>(size + RK_POOL_HEADER);
    RkSpinAcquire(&g_Pool.lock);
    bool overflow = static_cast<uint64_t>(g_Pool.bytes) + total > kRefuseAbove;
    RkSpinRelease(&g_Pool.lock);
    if (overflow)
        return nullptr;
    auto* header = static_cast<PoolHeader*>(ExAllocatePoolWithTag(NonPagedPool, total, RK_POOL_TAG));
    if (!header)
        return nullptr;
    std::memcpy(header->signature, kSignature, sizeof kSignature);
    header->reserved[0] = header->reserved[1] = 0;
    header->size = static_cast<ULONG>(size);
    const auto address = reinterpret_cast<ULONG_PTR>(header);
    RkSpinAcquire(&g_Pool.lock);
    if (!Insert(g_Pool.set, address)) {
        RkSpinRelease(&g_Pool.lock);
        ExFreePoolWithTag(header, RK_POOL_TAG);
        return nullptr;
    }
    g_Pool.blocks++;
    g_Pool.bytes += total;
    if (g_Pool.bytes > g_Pool.peak)
        g_Pool.peak = g_Pool.bytes;
    if (!g_Pool.lowest || address < g_Pool.lowest)
        g_Pool.lowest = address;
    RkSpinRelease(&g_Pool.lock);
    return header + 1;
}

PVOID AllocateZeroedMemoryOS(SIZE_T size)
{
    PVOID block = AllocateMemoryOS(size);
    if (block)
        std::memset(block, 0, size);
    return block;
}

void FreeMemoryOS(PVOID block)
{
    if (KeGetCurrentIrql() > DISPATCH_LEVEL) {
        DbgPrint("FreeMemoryOS failed, IRQL > DISPATCH_LEVEL.\n");
        DbgPrint("FreeMemoryOS BlockAddr = 0x%p\n", block);
        return;
    }
    if (!block)
        return;
    const auto address = reinterpret_cast<ULONG_PTR>(block) - RK_POOL_HEADER;
    RkSpinAcquire(&g_Pool.lock);
    // Only a live block is read: a pointer freed before, or never ours, may already be back in the system's pool.
    if (address < g_Pool.lowest || !Contains(g_Pool.set, address)) {
        RkSpinRelease(&g_Pool.lock);
        DbgPrint("FreeMemoryOS: BlockAddr = 0x%p is not a live block; ignored\n", block);
        return;
    }
    auto* header = reinterpret_cast<PoolHeader*>(address);
    if (std::memcmp(header->signature, kSignature, sizeof kSignature) != 0) {
        RkSpinRelease(&g_Pool.lock);
        DbgPrint("FreeMemoryOS: BlockAddr = 0x%p has a damaged header; kept\n", block);
        return;
    }
    header->signature[0] = 0;
    g_Pool.blocks--;
    g_Pool.bytes -= header->size + RK_POOL_HEADER;
    Erase(g_Pool.set, address);
    RkSpinRelease(&g_Pool.lock);
    ExFreePoolWithTag(header, RK_POOL_TAG);
}

void RkPoolGetFigures(RK_POOL_FIGURES* figures)
{
    RkSpinAcquire(&g_Pool.lock);
    figures->Blocks = g_Pool.blocks;
    figures->Bytes = g_Pool.bytes;
    figures->PeakBytes = g_Pool.peak;
    figures->LowestAddress = g_Pool.lowest;
    RkSpinRelease(&g_Pool.lock);
}

// ---- Memory routines ---------------------------------------------------------------------------------------------------

LONG RkMemCompare(const void* a, ULONG lengthA, const void* b, ULONG lengthB)
{
    const auto* pa = static_cast<const UCHAR*>(a);
    const auto* pb = static_cast<const UCHAR*>(b);
    ULONG n = lengthA < lengthB ? lengthA : lengthB;
    for (ULONG i = 0; i < n; ++i)
        if (pa[i] != pb[i])
            return static_cast<LONG>(pa[i]) - static_cast<LONG>(pb[i]);
    return static_cast<LONG>(lengthA) - static_cast<LONG>(lengthB);
}

BOOLEAN RkMemEqual(const void* a, const void* b, SIZE_T length)
{
    const auto* pa = static_cast<const UCHAR*>(a);
    const auto* pb = static_cast<const UCHAR*>(b);
    if (length == 0)
        return TRUE;
    if (pa[length / 2] != pb[length / 2])
        return FALSE;
    SIZE_T i = 0;
    if ((reinterpret_cast<ULONG_PTR>(pa) & 3) == 0 && (reinterpret_cast<ULONG_PTR>(pb) & 3) == 0) {
        for (; i + 4 <= length; i += 4) {
            ULONG wa, wb;
            std::memcpy(&wa, pa + i, 4);
            std::memcpy(&wb, pb + i, 4);
            if (wa != wb)
                return FALSE;
        }
    }
    for (; i < length; ++i)
        if (pa[i] != pb[i])
            return FALSE;
    return TRUE;
}

void RkMemCopy(void* destination, const void* source, SIZE_T length)
{
    if (length)
        std::memmove(destination, source, length);
}

void RkMemZero(void* destination, SIZE_T length)
{
    if (length)
        std::memset(destination, 0, length);
}

void RkDelayMs(ULONG milliseconds)
{
    if (KeGetCurrentIrql() == PASSIVE_LEVEL) {
        LARGE_INTEGER interval;
        interval.QuadPart = -static_cast<LONGLONG>(milliseconds) * 10000;
        KeDelayExecutionThread(KernelMode, FALSE, &interval);
    } else {
        KeStallExecutionProcessor(milliseconds * 1000);
    }
}

NTSTATUS RkWaitForEvent(PKEVENT event, ULONG milliseconds)
{
    NTSTATUS status;
    if (milliseconds == 0) {
        status = KeWaitForSingleObject(event, Executive, KernelMode, FALSE, nullptr);
    } else {
        LARGE_INTEGER timeout;
        timeout.QuadPart = -static_cast<LONGLONG>(milliseconds) * 10000;
        status = KeWaitForSingleObject(event, Executive, KernelMode, FALSE, &timeout);
    }
    return status == STATUS_TIMEOUT ? STATUS_TIMEOUT : STATUS_SUCCESS;
}

ULONGLONG RkReadTimeStampCounter()
{
    return KeReadTimeStampCounter();
}

void RkPoolResetFiguresIfEmpty()
{
    RkSpinAcquire(&g_Pool.lock);
    if (g_Pool.blocks == 0) {
        g_Pool.bytes = 0;
        g_Pool.peak = 0;
        g_Pool.lowest = 0;
    }
    RkSpinRelease(&g_Pool.lock);
}
