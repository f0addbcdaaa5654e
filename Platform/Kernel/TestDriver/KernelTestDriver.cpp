// A driver of the tests only. Its entry uses the toolkit's memory services and the pool; its unload frees
// everything, except under the service name "Leak", where one 20-byte "DRKC" block is kept.
#include "PlatformKernel.h"
#include "RkMemory.h"

namespace {

constexpr int kHeapBlocks = 8;
PVOID g_Heap[kHeapBlocks];
PVOID g_Kept;
PVOID g_Tracked;
RK_TRIE* g_Trie;
NPAGED_LOOKASIDE_LIST g_Lookaside;
bool g_Leak;

bool ServiceIsLeak(PUNICODE_STRING registryPath)
{
    static const WCHAR kLeak[] = u"\\Leak";
    const size_t n = sizeof kLeak / sizeof(WCHAR) - 1;
    size_t length = registryPath->Length / sizeof(WCHAR);
    if (length < n)
        return false;
    for (size_t i = 0; i < n; ++i)
        if (registryPath->Buffer[length - n + i] != kLeak[i])
            return false;
    return true;
}

void Unload(PDRIVER_OBJECT)
{
    DbgPrint("KernelTestDriver: unload\n");
    for (PVOID& block : g_Heap) {
        FreeMemoryK1394(block);
        block = nullptr;
    }
    RkTrieDestroy(g_Trie);
    g_Trie = nullptr;
    FreeMemoryOS(g_Tracked);
    g_Tracked = nullptr;
    ExDeleteNPagedLookasideList(&g_Lookaside);
    RkMemoryStop();
    if (!g_Leak)
        ExFreePoolWithTag(g_Kept, RK_DRIVER_TAG);
    g_Kept = nullptr;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) NTSTATUS DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath)
{
    DbgPrint("KernelTestDriver: DriverEntry\n");
    g_Leak = ServiceIsLeak(registryPath);
    if (!NT_SUCCESS(RkMemoryStart()) || !RkMemoryIsReady())
        return STATUS_UNSUCCESSFUL;

    g_Kept = ExAllocatePoolWithTag(NonPagedPool, 20, RK_DRIVER_TAG);
    g_Tracked = AllocateZeroedMemoryOS(100);
    g_Trie = RkTrieCreate(4, 8, FALSE);
    if (!g_Kept || !g_Tracked || !g_Trie) {
        Unload(driver);
        return STATUS_INSUFFICIENT_RESOURCES;
    }

    // The heap: small blocks from the bottom of a region, large ones from its top; a freed block is reused.
    static const ULONG kSizes[kHeapBlocks] = {1, 20, 24, 100, 4000, 40000, 70000, 20};
    for (int i = 0; i < kHeapBlocks; ++i) {
        g_Heap[i] = AllocateMemoryK1394(kSizes[i]);
        if (!g_Heap[i]) {
            Unload(driver);
            return STATUS_INSUFFICIENT_RESOURCES;
        }
        RkMemZero(g_Heap[i], kSizes[i]);
    }
    FreeMemoryK1394(g_Heap[1]);
    g_Heap[1] = AllocateMemoryK1394(20);

    // Lookaside entries come back for reuse.
    ExInitializeNPagedLookasideList(&g_Lookaside, nullptr, nullptr, 0, 48, RK_DRIVER_TAG, 2);
    PVOID entries[3];
    for (PVOID& e : entries)
        e = ExAllocateFromNPagedLookasideList(&g_Lookaside);
    for (PVOID e : entries)
        if (e)
            ExFreeToNPagedLookasideList(&g_Lookaside, e);

    // Lists and the trie.
    RK_LIST* list = RkListCreate();
    if (list) {
        for (ULONG_PTR i = 0; i < 5; ++i)
            RkListPushBack(list, reinterpret_cast<PVOID>(i), reinterpret_cast<PVOID>(i));
        RkListRemove(list, RkListFind(list, reinterpret_cast<PVOID>(2), nullptr));
        RkListDestroy(list);
    }
    for (ULONG key = 1; key <= 50; ++key)
        RkTrieInsert(g_Trie, &key, sizeof key, g_Heap[key % kHeapBlocks]);
    for (ULONG key = 1; key <= 50; key += 2)
        RkTrieRemove(g_Trie, &key, sizeof key);

    driver->DriverUnload = Unload;
    return STATUS_SUCCESS;
}
