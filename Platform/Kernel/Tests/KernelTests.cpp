// The kernel stand-in: requests and completion, waits, spin locks, pool, lookaside and memory lists, work
// items and DPCs, strings, drivers and the machine's identity.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "KernelTestHelpers.h"

using kerntest::Relative;

namespace {

constexpr ULONG kDrkc = KernTag("DRKC");
constexpr ULONG kTest = KernTag("Test");

// ---- A driver linked into the tests: three roles stacked on one another ---------------------------------------

enum class Role { Bottom, Middle, Top };

struct Extension {
    Role role;
    PDEVICE_OBJECT lower;
    PIRP held;  // a request kept pending
    bool skip;  // pass requests down without a location of its own
};

std::vector<std::string>* g_Trail;

void Note(const std::string& what)
{
    if (g_Trail)
        g_Trail->push_back(what);
}

NTSTATUS RecordCompletion(PDEVICE_OBJECT device, PIRP irp, PVOID context)
{
    const char* who = static_cast<const char*>(context);
    std::string caller = device ? (static_cast<Extension*>(device->DeviceExtension)->role == Role::Top ? "top" : "middle")
                                : "none";
    Note(std::string(who) + "<-" + caller);
    return std::strcmp(who, "middle") == 0 || std::strcmp(who, "originator") == 0 ? STATUS_MORE_PROCESSING_REQUIRED
                                                                                   : STATUS_SUCCESS;
}

void CancelHeld(PDEVICE_OBJECT device, PIRP irp)
{
    IoReleaseCancelSpinLock(irp->CancelIrql);
    static_cast<Extension*>(device->DeviceExtension)->held = nullptr;
    Note("cancelled");
    irp->IoStatus.Status = STATUS_CANCELLED;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
}

NTSTATUS Dispatch(PDEVICE_OBJECT device, PIRP irp)
{
    auto* ext = static_cast<Extension*>(device->DeviceExtension);
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    switch (ext->role) {
    case Role::Top:
        Note("top");
        if (ext->skip) {
            IoSkipCurrentIrpStackLocation(irp);
            return IoCallDriver(ext->lower, irp);
        }
        IoCopyCurrentIrpStackLocationToNext(irp);
        IoSetCompletionRoutine(irp, RecordCompletion, const_cast<char*>("top"), TRUE, TRUE, TRUE);
        return IoCallDriver(ext->lower, irp);
    case Role::Middle:
        Note("middle");
        IoCopyCurrentIrpStackLocationToNext(irp);
        IoSetCompletionRoutine(irp, RecordCompletion, const_cast<char*>("middle"), TRUE, TRUE, TRUE);
        return IoCallDriver(ext->lower, irp);
    case Role::Bottom:
        break;
    }
    Note("bottom");
    if (stack->MajorFunction == IRP_MJ_READ) {
        // Kept pending until cancelled.
        IoMarkIrpPending(irp);
        ext->held = irp;
        IoSetCancelRoutine(irp, CancelHeld);
        return STATUS_PENDING;
    }
    if (stack->MajorFunction == IRP_MJ_DEVICE_CONTROL) {
        // Answers the input reversed.
        ULONG in = stack->Parameters.DeviceIoControl.InputBufferLength;
        ULONG out = stack->Parameters.DeviceIoControl.OutputBufferLength;
        auto* buffer = static_cast<UCHAR*>(irp->AssociatedIrp.SystemBuffer);
        std::vector<UCHAR> copy(buffer, buffer + in);
        ULONG n = in < out ? in : out;
        for (ULONG i = 0; i < n; ++i)
            buffer[i] = copy[in - 1 - i];
        irp->IoStatus.Information = n;
    }
    irp->IoStatus.Status = STATUS_SUCCESS;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return STATUS_SUCCESS;
}

NTSTATUS StackEntry(PDRIVER_OBJECT driver, PUNICODE_STRING)
{
    for (PDRIVER_DISPATCH& routine : driver->MajorFunction)
        routine = Dispatch;
    return STATUS_SUCCESS;
}

class Stack {
public:
    Stack()
    {
        NTSTATUS status = STATUS_UNSUCCESSFUL;
        driver = KernCreateDriver("KernelTestStack", StackEntry, &status);
        EXPECT_EQ(status, STATUS_SUCCESS);
        bottom = Make(Role::Bottom, nullptr);
        middle = Make(Role::Middle, bottom);
        top = Make(Role::Top, middle);
    }
    ~Stack()
    {
        for (PDEVICE_OBJECT d : {top, middle})
            IoDetachDevice(static_cast<Extension*>(d->DeviceExtension)->lower);
        for (PDEVICE_OBJECT d : {top, middle, bottom})
            IoDeleteDevice(d);
        EXPECT_TRUE(KernUnloadDriver(driver, nullptr));
    }
    static Extension* Ext(PDEVICE_OBJECT d) { return static_cast<Extension*>(d->DeviceExtension); }

    PDRIVER_OBJECT driver = nullptr;
    PDEVICE_OBJECT bottom = nullptr;
    PDEVICE_OBJECT middle = nullptr;
    PDEVICE_OBJECT top = nullptr;

private:
    PDEVICE_OBJECT Make(Role role, PDEVICE_OBJECT below)
    {
        PDEVICE_OBJECT d = nullptr;
        EXPECT_EQ(IoCreateDevice(driver, sizeof(Extension), nullptr, FILE_DEVICE_UNKNOWN, 0, FALSE, &d), STATUS_SUCCESS);
        auto* ext = Ext(d);
        ext->role = role;
        ext->lower = below ? IoAttachDeviceToDeviceStack(d, below) : nullptr;
        d->Flags &= ~DO_DEVICE_INITIALIZING;
        return d;
    }
};

class Kernel : public ::testing::Test {
protected:
    void SetUp() override { g_Trail = &trail; }
    void TearDown() override { g_Trail = nullptr; }
    kerntest::ScratchMachine machine;
    std::vector<std::string> trail;
};

}  // namespace

// ---- Requests ---------------------------------------------------------------------------------------------------

TEST_F(Kernel, CompletionRunsBottomUpAndMoreProcessingStopsItUntilItsOwnerCompletesAgain)
{
    Stack stack;
    ASSERT_EQ(stack.top->StackSize, 3);
    ASSERT_EQ(IoGetAttachedDevice(stack.bottom), stack.top);
    PIRP irp = IoAllocateIrp(stack.top->StackSize, FALSE);
    ASSERT_NE(irp, nullptr);
    IoGetNextIrpStackLocation(irp)->MajorFunction = IRP_MJ_CLEANUP;
    IoSetCompletionRoutine(irp, RecordCompletion, const_cast<char*>("originator"), TRUE, TRUE, TRUE);

    EXPECT_EQ(IoCallDriver(stack.top, irp), STATUS_SUCCESS);
    // The middle routine answered STATUS_MORE_PROCESSING_REQUIRED: the walk stopped there, and the middle
    // driver owns the request again at its own location.
    EXPECT_EQ(trail, (std::vector<std::string>{"top", "middle", "bottom", "middle<-middle"}));
    EXPECT_EQ(irp->CurrentLocation, 2);
    EXPECT_EQ(IoGetCurrentIrpStackLocation(irp)->DeviceObject, stack.middle);

    IoCompleteRequest(irp, IO_NO_INCREMENT);
    EXPECT_EQ(trail, (std::vector<std::string>{"top", "middle", "bottom", "middle<-middle", "top<-top",
                                               "originator<-none"}));
    IoFreeIrp(irp);
}

TEST_F(Kernel, ASkippedLocationHandsTheCallersLocationToTheLowerDriver)
{
    Stack stack;
    Stack::Ext(stack.top)->skip = true;
    PIRP irp = IoAllocateIrp(stack.top->StackSize, FALSE);
    IoGetNextIrpStackLocation(irp)->MajorFunction = IRP_MJ_CLEANUP;
    IoSetCompletionRoutine(irp, RecordCompletion, const_cast<char*>("originator"), TRUE, TRUE, TRUE);
    IoCallDriver(stack.top, irp);
    // The middle driver got the top location (3) with the originator's routine in it; the bottom one got 2.
    EXPECT_EQ(trail, (std::vector<std::string>{"top", "middle", "bottom", "middle<-middle"}));
    EXPECT_EQ(irp->CurrentLocation, 3);
    EXPECT_EQ(IoGetCurrentIrpStackLocation(irp)->DeviceObject, stack.middle);
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    EXPECT_EQ(trail.back(), "originator<-none");
    EXPECT_EQ(irp->CurrentLocation, 4);  // back with its originator, whose routine kept it
    IoFreeIrp(irp);
}

TEST_F(Kernel, RoutinesRunByOutcome)
{
    // A routine set for errors only is skipped on success and runs on failure.
    Stack stack;
    for (NTSTATUS status : {STATUS_SUCCESS, STATUS_UNSUCCESSFUL}) {
        PIRP irp = IoAllocateIrp(1, FALSE);
        int runs = 0;
        IoSetCompletionRoutine(
            irp, [](PDEVICE_OBJECT, PIRP, PVOID c) { ++*static_cast<int*>(c); return STATUS_MORE_PROCESSING_REQUIRED; },
            &runs, FALSE, TRUE, FALSE);
        IoSetNextIrpStackLocation(irp);
        irp->IoStatus.Status = status;
        IoCompleteRequest(irp, IO_NO_INCREMENT);
        EXPECT_EQ(runs, status == STATUS_SUCCESS ? 0 : 1);
        IoFreeIrp(irp);
    }
}

TEST_F(Kernel, DeviceControlRequestBuiltForALowerDeviceReturnsItsReply)
{
    Stack stack;
    KEVENT done;
    KeInitializeEvent(&done, NotificationEvent, FALSE);
    IO_STATUS_BLOCK iosb{};
    UCHAR in[4] = {1, 2, 3, 4};
    UCHAR out[8] = {};
    const ULONG code = CTL_CODE(0x8125, 0x801, METHOD_BUFFERED, FILE_ANY_ACCESS);
    PIRP irp = IoBuildDeviceIoControlRequest(code, stack.bottom, in, sizeof in, out, sizeof out, FALSE, &done, &iosb);
    ASSERT_NE(irp, nullptr);
    EXPECT_EQ(IoGetNextIrpStackLocation(irp)->Parameters.DeviceIoControl.IoControlCode, code);
    IoCallDriver(stack.bottom, irp);
    LARGE_INTEGER limit = Relative(5000);
    ASSERT_EQ(KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, &limit), STATUS_SUCCESS);
    EXPECT_EQ(iosb.Status, STATUS_SUCCESS);
    EXPECT_EQ(iosb.Information, 4u);
    EXPECT_EQ(std::vector<UCHAR>(out, out + 5), (std::vector<UCHAR>{4, 3, 2, 1, 0}));
}

TEST_F(Kernel, CancelCallsTheCancelRoutineOfAPendingRequest)
{
    Stack stack;
    PIRP irp = IoAllocateIrp(stack.top->StackSize, FALSE);
    IoGetNextIrpStackLocation(irp)->MajorFunction = IRP_MJ_READ;
    NTSTATUS seen = 0;
    IoSetCompletionRoutine(
        irp,
        [](PDEVICE_OBJECT, PIRP i, PVOID c) {
            *static_cast<NTSTATUS*>(c) = i->IoStatus.Status;
            return STATUS_MORE_PROCESSING_REQUIRED;
        },
        &seen, TRUE, TRUE, TRUE);
    EXPECT_EQ(IoCallDriver(stack.top, irp), STATUS_PENDING);
    EXPECT_EQ(Stack::Ext(stack.bottom)->held, irp);
    EXPECT_TRUE(IoCancelIrp(irp));
    EXPECT_TRUE(irp->Cancel);
    EXPECT_EQ(trail.back(), "middle<-middle");  // the middle driver holds it again
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    EXPECT_EQ(seen, STATUS_CANCELLED);
    EXPECT_FALSE(IoCancelIrp(irp));  // no routine left
    IoFreeIrp(irp);
}

// ---- Waits, events, spin locks --------------------------------------------------------------------------------------

TEST_F(Kernel, WaitOnAnUnsignalledEventTimesOutAfterItsTime)
{
    KEVENT event;
    KeInitializeEvent(&event, NotificationEvent, FALSE);
    LARGE_INTEGER zero{};
    EXPECT_EQ(KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, &zero), STATUS_TIMEOUT);
    auto start = std::chrono::steady_clock::now();
    LARGE_INTEGER two = Relative(2000);
    EXPECT_EQ(KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, &two), 0x102);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2000));

    // A notification event stays signalled for every waiter.
    KeSetEvent(&event, 0, FALSE);
    EXPECT_EQ(KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, &zero), STATUS_SUCCESS);
    EXPECT_EQ(KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, &zero), STATUS_SUCCESS);
    EXPECT_EQ(KeResetEvent(&event), 1);
    EXPECT_EQ(KeReadStateEvent(&event), 0);
}

TEST_F(Kernel, SynchronizationEventReleasesOneOfTwoWaiters)
{
    KEVENT event;
    KeInitializeEvent(&event, SynchronizationEvent, FALSE);
    std::atomic<int> released{0};
    auto waiter = [&] {
        LARGE_INTEGER limit = Relative(20000);
        if (KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, &limit) == STATUS_SUCCESS)
            ++released;
    };
    std::thread a(waiter), b(waiter);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    KeSetEvent(&event, 0, FALSE);
    for (int i = 0; i < 500 && released.load() < 1; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(released.load(), 1);
    EXPECT_EQ(KeReadStateEvent(&event), 0);  // the release took the signal
    KeSetEvent(&event, 0, FALSE);
    a.join();
    b.join();
    EXPECT_EQ(released.load(), 2);
}

TEST_F(Kernel, SpinLockRaisesTheThreadsIrqlOnly)
{
    KSPIN_LOCK lock;
    KeInitializeSpinLock(&lock);
    KIRQL old = HIGH_LEVEL;
    KeAcquireSpinLock(&lock, &old);
    EXPECT_EQ(old, PASSIVE_LEVEL);
    EXPECT_EQ(KeGetCurrentIrql(), DISPATCH_LEVEL);
    EXPECT_EQ(std::thread::id(), std::thread::id());
    KIRQL other = HIGH_LEVEL;
    std::thread([&] { other = KeGetCurrentIrql(); }).join();
    EXPECT_EQ(other, PASSIVE_LEVEL);
    // A wait that does not block is allowed at DISPATCH_LEVEL.
    KEVENT event;
    KeInitializeEvent(&event, NotificationEvent, TRUE);
    LARGE_INTEGER zero{};
    EXPECT_EQ(KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, &zero), STATUS_SUCCESS);
    KeReleaseSpinLock(&lock, old);
    EXPECT_EQ(KeGetCurrentIrql(), PASSIVE_LEVEL);

    // Interlocked lists serialise on their lock from many threads.
    LIST_ENTRY head;
    InitializeListHead(&head);
    std::vector<LIST_ENTRY> entries(4000);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 1000; ++i)
                ExInterlockedInsertTailList(&head, &entries[t * 1000 + i], &lock);
        });
    for (auto& t : threads)
        t.join();
    int n = 0;
    while (ExInterlockedRemoveHeadList(&head, &lock))
        ++n;
    EXPECT_EQ(n, 4000);
}

TEST_F(Kernel, MisuseThatWouldStopAMachineIsABugCheck)
{
    // Each case dies in a fork of this process (the default style, cheap: no new process to start). The
    // kernel's own threads are idle between tests, and no case needs them.
    EXPECT_DEATH(
        {
            KSPIN_LOCK lock;
            KeInitializeSpinLock(&lock);
            KIRQL old;
            KeAcquireSpinLock(&lock, &old);
            KEVENT event;
            KeInitializeEvent(&event, NotificationEvent, FALSE);
            KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, nullptr);
        },
        "bug check: blocking wait at DISPATCH_LEVEL");
    EXPECT_DEATH(
        {
            PIRP irp = IoAllocateIrp(1, FALSE);
            IoSetNextIrpStackLocation(irp);
            irp->IoStatus.Status = STATUS_SUCCESS;
            IoCompleteRequest(irp, IO_NO_INCREMENT);
            IoCompleteRequest(irp, IO_NO_INCREMENT);
        },
        "bug check: request completed twice");
    EXPECT_DEATH(
        {
            Stack stack;
            PIRP irp = IoAllocateIrp(1, FALSE);  // one location for a stack of three
            IoGetNextIrpStackLocation(irp)->MajorFunction = IRP_MJ_CLEANUP;
            IoCallDriver(stack.top, irp);
        },
        "bug check: no stack location left");
    // A driver holding the request's last location fills the one below it and completes the request: the
    // write meets the guard below the stack, not the request's own fields.
    EXPECT_DEATH(
        {
            PIRP irp = IoAllocateIrp(1, FALSE);
            IoSetNextIrpStackLocation(irp);
            IoCopyCurrentIrpStackLocationToNext(irp);
            IoSetCompletionRoutine(irp, RecordCompletion, const_cast<char*>("below"), TRUE, TRUE, TRUE);
            irp->IoStatus.Status = STATUS_SUCCESS;
            IoCompleteRequest(irp, IO_NO_INCREMENT);
        },
        "bug check: stack location written below the request's stack");
    EXPECT_DEATH(
        {
            PIRP irp = IoAllocateIrp(1, FALSE);
            IoSetNextIrpStackLocation(irp);
            IoGetNextIrpStackLocation(irp)->MajorFunction = IRP_MJ_CLOSE;
            IoFreeIrp(irp);
        },
        "bug check: stack location written below the request's stack");
    EXPECT_DEATH(
        {
            PIRP irp = IoAllocateIrp(1, FALSE);
            IoSetNextIrpStackLocation(irp);
            IoSetNextIrpStackLocation(irp);
            irp->IoStatus.Status = STATUS_SUCCESS;
            IoCompleteRequest(irp, IO_NO_INCREMENT);
        },
        "bug check: completing a request below its stack");
    EXPECT_DEATH(
        {
            PVOID block = ExAllocatePoolWithTag(NonPagedPool, 8, kTest);
            ExFreePool(block);
            ExFreePool(block);
        },
        "bug check: freeing pool that is not a live block");
    EXPECT_DEATH(
        {
            int local = 0;
            ExFreePool(&local);
        },
        "bug check: freeing pool that is not a live block");
    EXPECT_DEATH(
        {
            LARGE_INTEGER delay = Relative(1);
            KIRQL old;
            KeRaiseIrql(DISPATCH_LEVEL, &old);
            KeDelayExecutionThread(KernelMode, FALSE, &delay);
        },
        "bug check: delay at DISPATCH_LEVEL");
}

// ---- Pool, lookaside and memory lists -------------------------------------------------------------------------------

TEST_F(Kernel, PoolCountsByTagAndTheHookFailsTheNextAllocations)
{
    KernPoolTagFigures before = KernGetPoolTagFigures(kDrkc);
    KernFailPoolAllocations(kDrkc, 1);
    EXPECT_EQ(ExAllocatePoolWithTag(NonPagedPool, 20, kDrkc), nullptr);
    PVOID other = ExAllocatePoolWithTag(NonPagedPool, 20, kTest);
    EXPECT_NE(other, nullptr);  // another tag is not touched
    PVOID a = ExAllocatePoolWithTag(NonPagedPool, 20, kDrkc);
    PVOID b = ExAllocatePoolWithTag(NonPagedPool, 30, kDrkc);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    KernPoolTagFigures during = KernGetPoolTagFigures(kDrkc);
    EXPECT_EQ(during.blocks, before.blocks + 2);
    EXPECT_EQ(during.bytes, before.bytes + 50);
    EXPECT_GE(during.peakBytes, before.bytes + 50);
    bool listed = false;
    for (const KernPoolTagFigures& f : KernGetPoolReport().tags)
        listed = listed || KernTagText(f.tag) == "DRKC";
    EXPECT_TRUE(listed);
    ExFreePoolWithTag(a, kDrkc);
    ExFreePool(b);
    ExFreePool(other);
    EXPECT_EQ(KernGetPoolTagFigures(kDrkc).blocks, before.blocks);

    KernFailPoolAllocations(kDrkc, 2);
    KernFailPoolAllocations(kDrkc, 0);  // cleared
    PVOID c = ExAllocatePoolWithTag(NonPagedPool, 1, kDrkc);
    EXPECT_NE(c, nullptr);
    ExFreePool(c);
}

TEST_F(Kernel, LookasideKeepsAtMostItsDepth)
{
    KernPoolTagFigures before = KernGetPoolTagFigures(kTest);
    NPAGED_LOOKASIDE_LIST list;
    ExInitializeNPagedLookasideList(&list, nullptr, nullptr, 0, 64, kTest, 2);
    EXPECT_NE(list.Allocate, nullptr);
    PVOID e[3];
    for (PVOID& p : e)
        p = ExAllocateFromNPagedLookasideList(&list);
    for (PVOID p : e)
        ExFreeToNPagedLookasideList(&list, p);
    EXPECT_EQ(list.Depth, 2);
    EXPECT_EQ(list.FreeMisses, 1u);
    EXPECT_EQ(KernGetPoolTagFigures(kTest).blocks, before.blocks + 2);
    PVOID again = ExAllocateFromNPagedLookasideList(&list);
    EXPECT_TRUE(again == e[0] || again == e[1]);
    EXPECT_EQ(list.AllocateMisses, 3u);
    ExFreeToNPagedLookasideList(&list, again);
    ExDeleteNPagedLookasideList(&list);
    EXPECT_EQ(KernGetPoolTagFigures(kTest).blocks, before.blocks);
}

TEST_F(Kernel, MemoryListLockUnlockAndSystemAddress)
{
    std::vector<UCHAR> buffer(10000);
    PMDL mdl = IoAllocateMdl(buffer.data() + 100, 9000, FALSE, FALSE, nullptr);
    ASSERT_NE(mdl, nullptr);
    EXPECT_EQ(MmGetMdlVirtualAddress(mdl), buffer.data() + 100);
    EXPECT_EQ(MmGetMdlByteCount(mdl), 9000u);
    EXPECT_EQ(ADDRESS_AND_SIZE_TO_SPAN_PAGES(reinterpret_cast<PVOID>(0x1FFF), 2), 2u);
    MmProbeAndLockPages(mdl, KernelMode, IoModifyAccess);
    EXPECT_EQ(MmGetSystemAddressForMdlSafe(mdl, NormalPagePriority), buffer.data() + 100);
    MmUnlockPages(mdl);
    EXPECT_FALSE(mdl->MdlFlags & MDL_PAGES_LOCKED);
    IoFreeMdl(mdl);
}

// ---- Work items, DPCs, device queues ---------------------------------------------------------------------------------

TEST_F(Kernel, WorkItemsRunAtPassiveAndDpcsAtDispatchOnThreadsOfTheirOwn)
{
    Stack stack;
    struct Seen {
        KEVENT done;
        KIRQL irql = HIGH_LEVEL;
        std::thread::id thread;
    };
    Seen work, dpc;
    KeInitializeEvent(&work.done, NotificationEvent, FALSE);
    KeInitializeEvent(&dpc.done, NotificationEvent, FALSE);

    PIO_WORKITEM item = IoAllocateWorkItem(stack.bottom);
    ASSERT_NE(item, nullptr);
    IoQueueWorkItem(
        item,
        [](PDEVICE_OBJECT, PVOID c) {
            auto* s = static_cast<Seen*>(c);
            s->irql = KeGetCurrentIrql();
            s->thread = std::this_thread::get_id();
            KeSetEvent(&s->done, 0, FALSE);
        },
        DelayedWorkQueue, &work);
    KDPC object;
    KeInitializeDpc(
        &object,
        [](PKDPC, PVOID c, PVOID, PVOID) {
            auto* s = static_cast<Seen*>(c);
            s->irql = KeGetCurrentIrql();
            s->thread = std::this_thread::get_id();
            KeSetEvent(&s->done, 0, FALSE);
        },
        &dpc);
    EXPECT_TRUE(KeInsertQueueDpc(&object, nullptr, nullptr));
    LARGE_INTEGER limit = Relative(5000);
    ASSERT_EQ(KeWaitForSingleObject(&work.done, Executive, KernelMode, FALSE, &limit), STATUS_SUCCESS);
    ASSERT_EQ(KeWaitForSingleObject(&dpc.done, Executive, KernelMode, FALSE, &limit), STATUS_SUCCESS);
    EXPECT_EQ(work.irql, PASSIVE_LEVEL);
    EXPECT_EQ(dpc.irql, DISPATCH_LEVEL);
    EXPECT_NE(work.thread, std::this_thread::get_id());
    EXPECT_NE(dpc.thread, std::this_thread::get_id());
    // The work item held a reference on its device while queued; it is gone once the routine returned.
    auto references = [&] { return __atomic_load_n(&stack.bottom->ReferenceCount, __ATOMIC_SEQ_CST); };
    for (int i = 0; i < 100 && references(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(references(), 0);
    IoFreeWorkItem(item);
}

TEST_F(Kernel, DeviceQueueHandsOutEntriesInOrder)
{
    KDEVICE_QUEUE queue;
    KeInitializeDeviceQueue(&queue);
    KDEVICE_QUEUE_ENTRY e[4]{};
    EXPECT_FALSE(KeInsertDeviceQueue(&queue, &e[0]));  // idle: the caller starts it at once
    EXPECT_TRUE(queue.Busy);
    EXPECT_TRUE(KeInsertByKeyDeviceQueue(&queue, &e[1], 5));
    EXPECT_TRUE(KeInsertByKeyDeviceQueue(&queue, &e[2], 1));
    EXPECT_TRUE(KeInsertByKeyDeviceQueue(&queue, &e[3], 3));
    EXPECT_TRUE(KeRemoveEntryDeviceQueue(&queue, &e[3]));
    EXPECT_EQ(KeRemoveDeviceQueue(&queue), &e[2]);
    EXPECT_EQ(KeRemoveDeviceQueue(&queue), &e[1]);
    EXPECT_EQ(KeRemoveDeviceQueue(&queue), nullptr);
    EXPECT_FALSE(queue.Busy);
}

// ---- Strings, diagnostics, time --------------------------------------------------------------------------------------

TEST_F(Kernel, CountedStrings)
{
    WCHAR storage[16];
    UNICODE_STRING s{0, sizeof storage, storage};
    UNICODE_STRING device;
    RtlInitUnicodeString(&device, u"\\Device\\");
    EXPECT_EQ(device.Length, 16);
    RtlCopyUnicodeString(&s, &device);
    EXPECT_EQ(RtlAppendUnicodeToString(&s, u"K1394"), STATUS_SUCCESS);
    WCHAR digits[4];
    UNICODE_STRING number{0, sizeof digits, digits};
    EXPECT_EQ(RtlIntegerToUnicodeString(0, 10, &number), STATUS_SUCCESS);
    EXPECT_EQ(RtlAppendUnicodeStringToString(&s, &number), STATUS_SUCCESS);
    EXPECT_EQ(std::u16string(s.Buffer, s.Length / 2), u"\\Device\\K13940");
    EXPECT_EQ(s.Buffer[s.Length / 2], 0);
    EXPECT_EQ(RtlAppendUnicodeToString(&s, u"toolong"), STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(RtlIntegerToUnicodeString(255, 16, &number), STATUS_SUCCESS);
    EXPECT_EQ(std::u16string(number.Buffer, number.Length / 2), u"FF");
    EXPECT_EQ(RtlIntegerToUnicodeString(255, 3, &number), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(RtlIntegerToUnicodeString(123456, 10, &number), STATUS_BUFFER_OVERFLOW);
    UNICODE_STRING upper, lower;
    RtlInitUnicodeString(&upper, u"K1394");
    RtlInitUnicodeString(&lower, u"k1394");
    EXPECT_FALSE(RtlEqualUnicodeString(&upper, &lower, FALSE));
    EXPECT_TRUE(RtlEqualUnicodeString(&upper, &lower, TRUE));
    ULONG value = 0;
    UNICODE_STRING hex;
    RtlInitUnicodeString(&hex, u"0x1F");
    EXPECT_EQ(RtlUnicodeStringToInteger(&hex, 0, &value), STATUS_SUCCESS);
    EXPECT_EQ(value, 31u);
}

TEST_F(Kernel, DbgPrintIsBoundedAndCapturedAndBreaksAreCounted)
{
    KernDbgPrintCapture capture;
    std::string longText(2000, 'x');
    DbgPrint("%s", longText.c_str());
    EXPECT_EQ(capture.Text().size(), 511u);
    unsigned breaks = KernGetBreakCount();
    DbgBreakPoint();
    EXPECT_EQ(KernGetBreakCount(), breaks + 1);
    EXPECT_TRUE(capture.Contains("DbgBreakPoint"));
}

TEST_F(Kernel, TimeGoesForward)
{
    LARGE_INTEGER a, b;
    KeQuerySystemTime(&a);
    // 100-ns units since 1601: after the year 2020.
    EXPECT_GT(a.QuadPart, 132223104000000000LL);
    ULONGLONG tsc = KeReadTimeStampCounter();
    LARGE_INTEGER delay = Relative(20);
    EXPECT_EQ(KeDelayExecutionThread(KernelMode, FALSE, &delay), STATUS_SUCCESS);
    KeQuerySystemTime(&b);
    EXPECT_GE(b.QuadPart - a.QuadPart, 190000);
    EXPECT_GT(KeReadTimeStampCounter(), tsc);
    LARGE_INTEGER frequency;
    LARGE_INTEGER c1 = KeQueryPerformanceCounter(&frequency);
    KeStallExecutionProcessor(1000);
    LARGE_INTEGER c2 = KeQueryPerformanceCounter(nullptr);
    EXPECT_GE((c2.QuadPart - c1.QuadPart) * 1000000 / frequency.QuadPart, 1000);
}

// ---- Drivers and the machine's identity -----------------------------------------------------------------------------

TEST_F(Kernel, WdmVersionFollowsTheMachine)
{
    struct Case {
        const char* os;
        UCHAR major, minor;
        bool available;
    };
    const Case cases[] = {
        {"Windows98", 1, 0x00, true},  {"Windows98", 1, 0x05, false}, {"Windows98_SE", 1, 0x00, true},
        {"WindowsME", 1, 0x05, true},  {"WindowsME", 1, 0x10, false}, {"Windows2K", 1, 0x10, true},
        {"Windows2K", 1, 0x20, false}, {"WindowsXP", 1, 0x20, true},  {"WindowsXP", 2, 0x00, false},
        {"WindowsNT", 1, 0x00, false}, {"Windows95", 1, 0x00, false},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(PlatSetOsName(c.os));
        EXPECT_EQ(IoIsWdmVersionAvailable(c.major, c.minor) != 0, c.available) << c.os << " " << int(c.minor);
    }
    ASSERT_TRUE(PlatSetOsName("Windows2K"));
    ULONG major = 0, minor = 0, build = 0;
    WCHAR sp[32];
    UNICODE_STRING csd{0, sizeof sp, sp};
    EXPECT_FALSE(PsGetVersion(&major, &minor, &build, &csd));
    EXPECT_EQ(major, 5u);
    EXPECT_EQ(minor, 0u);
    EXPECT_EQ(build, 2195u);
    EXPECT_EQ(std::u16string(csd.Buffer, csd.Length / 2), u"Service Pack 4");
}

TEST_F(Kernel, LoadsADriverFromASharedObjectAndReportsItsPool)
{
    PDRIVER_OBJECT driver = nullptr;
    NTSTATUS entry = 0;
    std::string error;
    KernDbgPrintCapture capture;
    // The report is the process's pool: what this test's driver leaves is counted from what was there before
    // (a block the leaking driver left in an earlier run of this test stays for the life of the process).
    const KernPoolReport before = KernGetPoolReport();
    const KernPoolTagFigures drkc = KernGetPoolTagFigures(kDrkc);
    ASSERT_TRUE(KernLoadDriver(KERNEL_TEST_DRIVER, "", &driver, &entry, &error)) << error;
    EXPECT_EQ(entry, STATUS_SUCCESS);
    EXPECT_EQ(std::u16string(driver->DriverName.Buffer, driver->DriverName.Length / 2), u"\\Driver\\KernelTestDriver");
    KernPoolReport report;
    ASSERT_TRUE(KernUnloadDriver(driver, &report));
    EXPECT_EQ(report.blocks, before.blocks);
    EXPECT_EQ(report.bytes, before.bytes);
    EXPECT_TRUE(capture.Contains("KernelTestDriver: unload"));

    ASSERT_TRUE(KernLoadDriver(KERNEL_TEST_DRIVER, "Leak", &driver, &entry, &error)) << error;
    ASSERT_TRUE(KernUnloadDriver(driver, &report));
    EXPECT_EQ(report.blocks, before.blocks + 1);
    EXPECT_EQ(report.bytes, before.bytes + 20);
    const KernPoolTagFigures* held = nullptr;
    for (const KernPoolTagFigures& f : report.tags)
        if (KernTagText(f.tag) == "DRKC")
            held = &f;
    ASSERT_NE(held, nullptr);
    EXPECT_EQ(held->blocks, drkc.blocks + 1);
    EXPECT_EQ(held->bytes, drkc.bytes + 20);
}

TEST_F(Kernel, DriversDoNotLoadWithoutTheDriverModel)
{
    for (const char* os : {"WindowsNT", "Windows95", "Windows95_OSR2"}) {
        ASSERT_TRUE(PlatSetOsName(os));
        PDRIVER_OBJECT driver = reinterpret_cast<PDRIVER_OBJECT>(1);
        std::string error;
        EXPECT_FALSE(KernLoadDriver(KERNEL_TEST_DRIVER, "", &driver, nullptr, &error));
        EXPECT_EQ(driver, nullptr);
        EXPECT_NE(error.find(os), std::string::npos) << error;
        EXPECT_NE(error.find("WDM"), std::string::npos) << error;
    }
    ASSERT_TRUE(PlatSetOsName("Windows98"));
    std::string error;
    EXPECT_FALSE(KernLoadDriver("/nonexistent/libNothing.so", "", nullptr, nullptr, &error));
    EXPECT_FALSE(error.empty());
}

TEST_F(Kernel, DeviceNamesAreUniqueAndDeletedDevicesWaitForTheirLastReference)
{
    Stack stack;
    UNICODE_STRING name;
    RtlInitUnicodeString(&name, u"\\Device\\KernelTest0");
    PDEVICE_OBJECT a = nullptr, b = nullptr;
    ASSERT_EQ(IoCreateDevice(stack.driver, 0, &name, FILE_DEVICE_UNKNOWN, 0, FALSE, &a), STATUS_SUCCESS);
    EXPECT_EQ(IoCreateDevice(stack.driver, 0, &name, FILE_DEVICE_UNKNOWN, 0, FALSE, &b), STATUS_OBJECT_NAME_COLLISION);
    EXPECT_EQ(KernFindDevice(u"\\Device\\KernelTest0"), a);
    EXPECT_EQ(stack.driver->DeviceObject, a);
    ObReferenceObject(a);
    IoDeleteDevice(a);
    EXPECT_EQ(KernFindDevice(u"\\Device\\KernelTest0"), nullptr);
    EXPECT_NE(stack.driver->DeviceObject, a);
    EXPECT_EQ(a->ReferenceCount, 1);  // still readable: freed with the last reference
    ObDereferenceObject(a);
}
