// Pool with tags, lookaside lists and memory lists.
#include <cstdlib>
#include <cstring>
#include <map>
#include <unordered_map>
#include <unordered_set>

#include "KernelPrivate.h"
#include "PlatformKernelHost.h"

namespace {

struct LiveBlock {
    ULONG tag;
    SIZE_T size;
};

struct Pool {
    std::mutex lock;
    std::unordered_map<void*, LiveBlock> live;
    std::map<ULONG, KernPoolTagFigures> tags;
    std::map<ULONG, unsigned> failNext;
};

Pool& ThePool()
{
    static Pool* pool = new Pool;
    return *pool;
}

struct MdlTable {
    std::mutex lock;
    std::unordered_set<PMDL> live;
};

MdlTable& Mdls()
{
    static MdlTable* table = new MdlTable;
    return *table;
}

constexpr ULONG kUntagged = KernTag("None");
constexpr SIZE_T kLargestBlock = SIZE_T(1) << 40;

}  // namespace

std::string KernTagText(ULONG tag)
{
    std::string text;
    for (int i = 0; i < 4; ++i) {
        char c = static_cast<char>((tag >> (8 * i)) & 0xFF);
        text += (c >= 0x20 && c < 0x7F) ? c : '?';
    }
    return text;
}

// ---- Pool -----------------------------------------------------------------------------------------------------------

extern "C" PVOID ExAllocatePoolWithTag(POOL_TYPE type, SIZE_T numberOfBytes, ULONG tag)
{
    KIRQL irql = KeGetCurrentIrql();
    if (irql > DISPATCH_LEVEL)
        KernBugCheck("pool allocated above DISPATCH_LEVEL");
    if ((type & 1) == PagedPool && irql >= DISPATCH_LEVEL)
        KernBugCheck("paged pool allocated at DISPATCH_LEVEL");
    Pool& pool = ThePool();
    {
        std::lock_guard<std::mutex> guard(pool.lock);
        auto fail = pool.failNext.find(tag);
        if (fail != pool.failNext.end() && fail->second > 0) {
            if (--fail->second == 0)
                pool.failNext.erase(fail);
            return nullptr;
        }
    }
    if (numberOfBytes > kLargestBlock)
        return nullptr;
    void* block = std::malloc(numberOfBytes ? numberOfBytes : 1);
    if (!block)
        return nullptr;
    // Pool is not zeroed: a driver that relies on it should see it at once.
    std::memset(block, 0xCD, numberOfBytes);
    std::lock_guard<std::mutex> guard(pool.lock);
    pool.live[block] = LiveBlock{tag, numberOfBytes};
    KernPoolTagFigures& f = pool.tags[tag];
    f.tag = tag;
    f.blocks++;
    f.bytes += numberOfBytes;
    if (f.bytes > f.peakBytes)
        f.peakBytes = f.bytes;
    return block;
}

extern "C" PVOID ExAllocatePool(POOL_TYPE type, SIZE_T numberOfBytes)
{
    return ExAllocatePoolWithTag(type, numberOfBytes, kUntagged);
}

namespace {

void FreeBlock(PVOID block, bool checkTag, ULONG tag)
{
    if (KeGetCurrentIrql() > DISPATCH_LEVEL)
        KernBugCheck("pool freed above DISPATCH_LEVEL");
    Pool& pool = ThePool();
    {
        std::lock_guard<std::mutex> guard(pool.lock);
        auto it = pool.live.find(block);
        if (it == pool.live.end())
            KernBugCheck("freeing pool that is not a live block");
        if (checkTag && it->second.tag != tag)
            KernBugCheck("freeing pool with another tag than its own");
        KernPoolTagFigures& f = pool.tags[it->second.tag];
        f.blocks--;
        f.bytes -= it->second.size;
        pool.live.erase(it);
    }
    std::free(block);
}

}  // namespace

extern "C" void ExFreePoolWithTag(PVOID block, ULONG tag)
{
    FreeBlock(block, true, tag);
}

extern "C" void ExFreePool(PVOID block)
{
    FreeBlock(block, false, 0);
}

KernPoolReport KernGetPoolReport()
{
    Pool& pool = ThePool();
    std::lock_guard<std::mutex> guard(pool.lock);
    KernPoolReport report;
    std::map<std::string, KernPoolTagFigures> byText;
    for (const auto& [tag, f] : pool.tags) {
        report.blocks += f.blocks;
        report.bytes += f.bytes;
        if (f.blocks)
            byText[KernTagText(tag)] = f;
    }
    for (const auto& [text, f] : byText)
        report.tags.push_back(f);
    return report;
}

KernPoolTagFigures KernGetPoolTagFigures(ULONG tag)
{
    Pool& pool = ThePool();
    std::lock_guard<std::mutex> guard(pool.lock);
    auto it = pool.tags.find(tag);
    if (it == pool.tags.end()) {
        KernPoolTagFigures none;
        none.tag = tag;
        return none;
    }
    return it->second;
}

void KernFailPoolAllocations(ULONG tag, unsigned count)
{
    Pool& pool = ThePool();
    std::lock_guard<std::mutex> guard(pool.lock);
    if (count)
        pool.failNext[tag] = count;
    else
        pool.failNext.erase(tag);
}

// ---- Lookaside lists -------------------------------------------------------------------------------------------------

namespace {

PVOID DefaultAllocate(POOL_TYPE type, SIZE_T size, ULONG tag)
{
    return ExAllocatePoolWithTag(type, size, tag);
}

void DefaultFree(PVOID block)
{
    ExFreePool(block);
}

}  // namespace

extern "C" void ExInitializeNPagedLookasideList(PNPAGED_LOOKASIDE_LIST list, PALLOCATE_FUNCTION allocate,
                                                PFREE_FUNCTION free, ULONG, SIZE_T size, ULONG tag, USHORT depth)
{
    std::memset(list, 0, sizeof *list);
    list->MaximumDepth = depth ? depth : 4;
    list->Type = NonPagedPool;
    list->Tag = tag;
    list->Size = static_cast<ULONG>(size < sizeof(SINGLE_LIST_ENTRY) ? sizeof(SINGLE_LIST_ENTRY) : size);
    list->Allocate = allocate ? allocate : DefaultAllocate;
    list->Free = free ? free : DefaultFree;
}

extern "C" PVOID ExAllocateFromNPagedLookasideList(PNPAGED_LOOKASIDE_LIST list)
{
    KIRQL old;
    KeAcquireSpinLock(&list->Lock, &old);
    list->TotalAllocates++;
    PSINGLE_LIST_ENTRY entry = PopEntryList(&list->ListHead);
    if (entry)
        list->Depth--;
    else
        list->AllocateMisses++;
    KeReleaseSpinLock(&list->Lock, old);
    if (entry)
        return entry;
    return list->Allocate(list->Type, list->Size, list->Tag);
}

extern "C" void ExFreeToNPagedLookasideList(PNPAGED_LOOKASIDE_LIST list, PVOID entry)
{
    KIRQL old;
    KeAcquireSpinLock(&list->Lock, &old);
    list->TotalFrees++;
    bool keep = list->Depth < list->MaximumDepth;
    if (keep) {
        PushEntryList(&list->ListHead, static_cast<PSINGLE_LIST_ENTRY>(entry));
        list->Depth++;
    } else {
        list->FreeMisses++;
    }
    KeReleaseSpinLock(&list->Lock, old);
    if (!keep)
        list->Free(entry);
}

extern "C" void ExDeleteNPagedLookasideList(PNPAGED_LOOKASIDE_LIST list)
{
    KIRQL old;
    KeAcquireSpinLock(&list->Lock, &old);
    PSINGLE_LIST_ENTRY entries = list->ListHead.Next;
    list->ListHead.Next = nullptr;
    list->Depth = 0;
    KeReleaseSpinLock(&list->Lock, old);
    while (entries) {
        PSINGLE_LIST_ENTRY next = entries->Next;
        list->Free(entries);
        entries = next;
    }
}

// ---- Memory lists ----------------------------------------------------------------------------------------------------

extern "C" PMDL IoAllocateMdl(PVOID virtualAddress, ULONG length, BOOLEAN secondaryBuffer, BOOLEAN, PIRP irp)
{
    auto* mdl = static_cast<PMDL>(std::calloc(1, sizeof(MDL)));
    if (!mdl)
        return nullptr;
    ULONG_PTR va = reinterpret_cast<ULONG_PTR>(virtualAddress);
    mdl->Size = sizeof(MDL);
    mdl->StartVa = reinterpret_cast<PVOID>(va & ~static_cast<ULONG_PTR>(PAGE_SIZE - 1));
    mdl->ByteOffset = static_cast<ULONG>(va & (PAGE_SIZE - 1));
    mdl->ByteCount = length;
    {
        std::lock_guard<std::mutex> guard(Mdls().lock);
        Mdls().live.insert(mdl);
    }
    if (irp) {
        if (secondaryBuffer && irp->MdlAddress) {
            PMDL last = irp->MdlAddress;
            while (last->Next)
                last = last->Next;
            last->Next = mdl;
        } else if (!secondaryBuffer) {
            irp->MdlAddress = mdl;
        }
    }
    return mdl;
}

extern "C" void IoFreeMdl(PMDL mdl)
{
    {
        std::lock_guard<std::mutex> guard(Mdls().lock);
        if (!Mdls().live.erase(mdl))
            KernBugCheck("freeing a memory list that is not live");
    }
    std::free(mdl);
}

extern "C" void MmBuildMdlForNonPagedPool(PMDL mdl)
{
    mdl->MappedSystemVa = MmGetMdlVirtualAddress(mdl);
    mdl->MdlFlags |= MDL_SOURCE_IS_NONPAGED_POOL;
}

extern "C" void MmProbeAndLockPages(PMDL mdl, KPROCESSOR_MODE, LOCK_OPERATION)
{
    if (KeGetCurrentIrql() > DISPATCH_LEVEL)
        KernBugCheck("pages locked above DISPATCH_LEVEL");
    if (mdl->MdlFlags & MDL_PAGES_LOCKED)
        KernBugCheck("locking a memory list that is already locked");
    mdl->MdlFlags |= MDL_PAGES_LOCKED;
}

extern "C" void MmUnlockPages(PMDL mdl)
{
    if (!(mdl->MdlFlags & MDL_PAGES_LOCKED))
        KernBugCheck("unlocking a memory list that is not locked");
    mdl->MdlFlags &= static_cast<CSHORT>(~(MDL_PAGES_LOCKED | MDL_MAPPED_TO_SYSTEM_VA));
    if (!(mdl->MdlFlags & MDL_SOURCE_IS_NONPAGED_POOL))
        mdl->MappedSystemVa = nullptr;
}

extern "C" PVOID MmMapLockedPagesSpecifyCache(PMDL mdl, KPROCESSOR_MODE, ULONG, PVOID, ULONG, MM_PAGE_PRIORITY)
{
    if (mdl->MdlFlags & (MDL_MAPPED_TO_SYSTEM_VA | MDL_SOURCE_IS_NONPAGED_POOL))
        return mdl->MappedSystemVa;
    if (!(mdl->MdlFlags & MDL_PAGES_LOCKED))
        KernBugCheck("mapping a memory list that is not locked");
    mdl->MappedSystemVa = MmGetMdlVirtualAddress(mdl);
    mdl->MdlFlags |= MDL_MAPPED_TO_SYSTEM_VA;
    return mdl->MappedSystemVa;
}

extern "C" PVOID MmGetSystemAddressForMdlSafe(PMDL mdl, MM_PAGE_PRIORITY priority)
{
    return MmMapLockedPagesSpecifyCache(mdl, KernelMode, 0, nullptr, 0, priority);
}

extern "C" void MmUnmapLockedPages(PVOID, PMDL mdl)
{
    mdl->MdlFlags &= static_cast<CSHORT>(~MDL_MAPPED_TO_SYSTEM_VA);
}
