// The start-I/O queue: requests wait in a device queue or a plain list, one is current, a DPC completes it.
#include "RkDevice.h"

namespace {

void CompletionDpc(PKDPC, PVOID context, PVOID argument1, PVOID argument2)
{
    auto* queue = static_cast<RK_QUEUE*>(context);
    auto* irp = static_cast<PIRP>(argument1);
    CCHAR boost = static_cast<CCHAR>(reinterpret_cast<ULONG_PTR>(argument2));
    RK_ASSERT(irp->CancelRoutine == nullptr);
    RkQueueStartNext(queue);
    IoCompleteRequest(irp, boost);
}

void CancelWaiting(PDEVICE_OBJECT device, PIRP irp)
{
    RK_QUEUE* queue = &RkDevGetInformation(device)->Queue;
    bool removed;
    if (queue->UseDeviceQueue) {
        removed = KeRemoveEntryDeviceQueue(&queue->DeviceQueue, &irp->Tail.Overlay.DeviceQueueEntry) != FALSE;
        IoReleaseCancelSpinLock(irp->CancelIrql);
    } else {
        IoReleaseCancelSpinLock(irp->CancelIrql);
        KIRQL irql;
        KeAcquireSpinLock(&queue->Lock, &irql);
        RemoveEntryList(&irp->Tail.Overlay.ListEntry);
        KeReleaseSpinLock(&queue->Lock, irql);
        removed = true;
    }
    if (removed)
        InterlockedDecrement(&queue->Count);
    irp->IoStatus.Status = STATUS_CANCELLED;
    irp->IoStatus.Information = 0;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
}

void Start(RK_QUEUE* queue, PIRP irp)
{
    queue->Current = irp;
    KIRQL irql;
    KeRaiseIrql(DISPATCH_LEVEL, &irql);
    if (queue->StartIo)
        queue->StartIo(queue->Device, irp);
    KeLowerIrql(irql);
}

}  // namespace

void RkQueueInitialize(RK_QUEUE* queue, PDEVICE_OBJECT device, PDRIVER_STARTIO startIo, BOOLEAN useDeviceQueue)
{
    KeInitializeDeviceQueue(&queue->DeviceQueue);
    queue->Device = device;
    queue->StartIo = startIo;
    queue->UseDeviceQueue = useDeviceQueue;
    InitializeListHead(&queue->List);
    KeInitializeSpinLock(&queue->Lock);
    queue->Current = nullptr;
    queue->Count = 0;
    KeInitializeDpc(&queue->Dpc, CompletionDpc, queue);
}

NTSTATUS RkQueueStartPacket(RK_QUEUE* queue, PIRP irp)
{
    IoMarkIrpPending(irp);
    KIRQL cancelIrql;
    IoAcquireCancelSpinLock(&cancelIrql);
    if (irp->Cancel) {
        IoReleaseCancelSpinLock(cancelIrql);
        irp->IoStatus.Status = STATUS_CANCELLED;
        irp->IoStatus.Information = 0;
        IoCompleteRequest(irp, IO_NO_INCREMENT);
        return STATUS_PENDING;
    }
    bool startNow;
    if (queue->UseDeviceQueue) {
        startNow = !KeInsertDeviceQueue(&queue->DeviceQueue, &irp->Tail.Overlay.DeviceQueueEntry);
    } else {
        KeAcquireSpinLockAtDpcLevel(&queue->Lock);
        startNow = queue->Current == nullptr && IsListEmpty(&queue->List);
        if (startNow)
            queue->Current = irp;
        else
            InsertTailList(&queue->List, &irp->Tail.Overlay.ListEntry);
        KeReleaseSpinLockFromDpcLevel(&queue->Lock);
    }
    if (!startNow) {
        InterlockedIncrement(&queue->Count);
        IoSetCancelRoutine(irp, CancelWaiting);
    }
    IoReleaseCancelSpinLock(cancelIrql);
    if (startNow)
        Start(queue, irp);
    return STATUS_PENDING;
}

void RkQueueStartNext(RK_QUEUE* queue)
{
    PIRP next = nullptr;
    KIRQL cancelIrql;
    IoAcquireCancelSpinLock(&cancelIrql);
    if (queue->UseDeviceQueue) {
        while (PKDEVICE_QUEUE_ENTRY entry = KeRemoveDeviceQueue(&queue->DeviceQueue)) {
            PIRP candidate = CONTAINING_RECORD(entry, IRP, Tail.Overlay.DeviceQueueEntry);
            InterlockedDecrement(&queue->Count);
            if (IoSetCancelRoutine(candidate, nullptr)) {
                next = candidate;
                break;
            }
        }
    } else {
        KeAcquireSpinLockAtDpcLevel(&queue->Lock);
        while (!IsListEmpty(&queue->List)) {
            PLIST_ENTRY entry = RemoveHeadList(&queue->List);
            PIRP candidate = CONTAINING_RECORD(entry, IRP, Tail.Overlay.ListEntry);
            InitializeListHead(entry);
            InterlockedDecrement(&queue->Count);
            if (IoSetCancelRoutine(candidate, nullptr)) {
                next = candidate;
                break;
            }
            InterlockedIncrement(&queue->Count);  // its cancel routine counts it out
        }
        queue->Current = next;
        KeReleaseSpinLockFromDpcLevel(&queue->Lock);
    }
    IoReleaseCancelSpinLock(cancelIrql);
    if (next)
        Start(queue, next);
    else
        queue->Current = nullptr;
}

void RkQueueCompleteCurrent(RK_QUEUE* queue, CCHAR boost)
{
    PIRP irp = queue->Current;
    if (!irp)
        return;
    KeInsertQueueDpc(&queue->Dpc, irp, reinterpret_cast<PVOID>(static_cast<ULONG_PTR>(static_cast<UCHAR>(boost))));
}
