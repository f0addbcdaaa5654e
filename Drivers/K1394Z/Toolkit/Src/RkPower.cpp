// Power handling: system power changes become device power requests, device requests pass down, registers are
// saved and restored through the driver's hooks, and power-down is refused while handles are open.
#include "RkDevice.h"

namespace {

DEVICE_POWER_STATE DeviceStateFor(RK_DEVICE_INFORMATION* info, SYSTEM_POWER_STATE state)
{
    if (info->Hooks.DeviceStateForSystemState)
        return info->Hooks.DeviceStateForSystemState(info, state);
    if (state > PowerSystemWorking)
        return PowerDeviceD3;
    return info->PowerManaged ? static_cast<DEVICE_POWER_STATE>(info->DevicePowerState) : PowerDeviceD0;
}

// Ends a power request: status stored, next power request started, completed, reference dropped.
NTSTATUS EndPowerIrp(RK_DEVICE_INFORMATION* info, PIRP irp, NTSTATUS status)
{
    PoStartNextPowerIrp(irp);
    return RkPnpCompleteRequest(info, irp, status, IO_NO_INCREMENT);
}

// The device request made for a system request has completed: so does the system request.
void SystemDeviceRequestDone(PDEVICE_OBJECT, UCHAR minor, POWER_STATE, PVOID context, PIO_STATUS_BLOCK ioStatus)
{
    auto* irp = static_cast<PIRP>(context);
    PDEVICE_OBJECT device = IoGetCurrentIrpStackLocation(irp)->DeviceObject;
    RK_DEVICE_INFORMATION* info = RkDevGetInformation(device);
    info->PendingSystemIrp = nullptr;
    if (minor == IRP_MN_QUERY_POWER)
        irp->IoStatus.Status = ioStatus->Status;
    PoStartNextPowerIrp(irp);
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    RkPnpDropRequestReference(info);
}

void SynchRequestDone(PDEVICE_OBJECT, UCHAR, POWER_STATE, PVOID context, PIO_STATUS_BLOCK ioStatus)
{
    auto* power = static_cast<RK_POWER_CONTEXT*>(context);
    power->Status = ioStatus->Status;
    KeSetEvent(&power->Event, 0, FALSE);
}

struct InterruptConnectContext {
    RK_DEVICE_INFORMATION* Information;
    PIRP Irp;
    PIO_WORKITEM WorkItem;
};

// The steps after a device has come up again (passive level).
NTSTATUS PoweredUp(RK_DEVICE_INFORMATION* info, PIRP irp, const char* reconnectFailed, const char* restoreFailed,
                   bool* stop)
{
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    DEVICE_POWER_STATE state = stack->Parameters.Power.State.DeviceState;
    *stop = false;
    if (state == PowerDeviceD0) {
        NTSTATUS status = RkDevReconnectInterruptPnp(info);
        if (!NT_SUCCESS(status))
            DbgPrint(reconnectFailed, static_cast<ULONG>(status));
        InterlockedExchange(&info->PoweredDown, 0);
        RkPowRedispatchHeldRequests(info);
    }
    info->DevicePowerState = state;
    if (InterlockedCompareExchange(&info->RegistersSaved, 0, 0) != 0 && ULONG(state) < info->RestoreRegistersBelow) {
        InterlockedExchange(&info->RegistersSaved, 0);
        NTSTATUS status = info->Hooks.RestorePowerRegisters ? info->Hooks.RestorePowerRegisters(info) : STATUS_SUCCESS;
        if (!NT_SUCCESS(status)) {
            DbgPrint(restoreFailed, static_cast<ULONG>(status));
            *stop = true;
            return STATUS_SUCCESS;
        }
    }
    if (state == PowerDeviceD0 && info->PnpState == RkPnpStarted)
        RkPowRedispatchHeldRequests(info);
    PoSetPowerState(info->DeviceObject, DevicePowerState, stack->Parameters.Power.State);
    return STATUS_SUCCESS;
}

void InterruptConnectWorker(PDEVICE_OBJECT, PVOID context)
{
    auto* work = static_cast<InterruptConnectContext*>(context);
    RK_DEVICE_INFORMATION* info = work->Information;
    PIRP irp = work->Irp;
    bool stop = false;
    PoweredUp(info, irp, "RkPow: RkPowInterruptConnectWorker: RkDevReconnectInterruptPnpPnp failed 0x%X\n",
              "RkPow: RkPowInterruptConnectWorker: RestorePowerRegisters failed 0x%X\n", &stop);
    PoStartNextPowerIrp(irp);
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    RkPnpDropRequestReference(info);
    IoFreeWorkItem(work->WorkItem);
    ExFreePoolWithTag(work, RK_DRIVER_TAG);
}

}  // namespace

// ---- Dispatch --------------------------------------------------------------------------------------------------------

NTSTATUS RkPowDispatch(PDEVICE_OBJECT device, PIRP irp)
{
    RK_DEVICE_INFORMATION* info = RkDevGetInformation(device);
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    RK_ASSERT(stack->MajorFunction == IRP_MJ_POWER);
    NTSTATUS status;
    if (!RkPnpAdmitRequest(info, irp, &status))
        return status;
    switch (stack->MinorFunction) {
    case IRP_MN_WAIT_WAKE:
        DbgPrint("RkPowDispatch: IRP_MN_WAIT_WAKE\n");
        return RkPowPassPowerIrpDownStack(info, irp, nullptr, nullptr);
    case IRP_MN_POWER_SEQUENCE:
        DbgPrint("RkPowDispatch: IRP_MN_POWER_SEQUENCE\n");
        return RkPowPassPowerIrpDownStack(info, irp, nullptr, nullptr);
    case IRP_MN_SET_POWER:
        DbgPrint("RkPowDispatch: IRP_MN_SET_POWER\n");
        return RkPowOnPowerSetPower(info, irp);
    case IRP_MN_QUERY_POWER:
        DbgPrint("RkPowDispatch: IRP_MN_QUERY_POWER\n");
        return RkPowOnPowerQueryPower(info, irp);
    default:
        DbgPrint("RkPowDispatch - unknown power irp minor function: 0x%X\n", stack->MinorFunction);
        return RkPowPassPowerIrpDownStack(info, irp, nullptr, nullptr);
    }
}

NTSTATUS RkPowPassPowerIrpDownStack(RK_DEVICE_INFORMATION* info, PIRP irp, PIO_COMPLETION_ROUTINE completion,
                                    PVOID context)
{
    RK_ASSERT(KeGetCurrentIrql() <= DISPATCH_LEVEL);
    if (completion) {
        IoCopyCurrentIrpStackLocationToNext(irp);
        IoSetCompletionRoutine(irp, completion, context, TRUE, TRUE, TRUE);
        return PoCallDriver(info->LowerDevice, irp);
    }
    PoStartNextPowerIrp(irp);
    IoCopyCurrentIrpStackLocationToNext(irp);
    NTSTATUS status = PoCallDriver(info->LowerDevice, irp);
    RkPnpDropRequestReference(info);
    return status;
}

// ---- Query power ---------------------------------------------------------------------------------------------------------

NTSTATUS RkPowOnPowerQueryPower(RK_DEVICE_INFORMATION* info, PIRP irp)
{
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    if (stack->Parameters.Power.Type == SystemPowerState) {
        if (!info->MayPowerDown)
            return RkPowPassPowerIrpDownStack(info, irp, nullptr, nullptr);
        IoMarkIrpPending(irp);
        RkPowPassPowerIrpDownStack(info, irp, RkPowSystemCompletionRoutine, info);
        return STATUS_PENDING;
    }
    ULONG wanted = stack->Parameters.Power.State.DeviceState;
    if (wanted <= info->DevicePowerState) {
        NTSTATUS status = RkPowPassPowerIrpDownStack(info, irp, nullptr, nullptr);
        if (!NT_SUCCESS(status))
            DbgPrint("RkPowOnPowerQueryPower: Failed to pass IRP_MN_QEURY_POWER down stack with status 0x%X\n",
                     static_cast<ULONG>(status));
        return status;
    }
    if (InterlockedCompareExchange(&info->PowerDownAllowed, 0, 0) == 0) {
        DbgPrint("RkPowOnPowerQueryPower: Attempted a power down with power disallowed\n");
        return EndPowerIrp(info, irp, STATUS_UNSUCCESSFUL);
    }
    InterlockedExchange(&info->PoweredDown, 1);
    if (RkDevGetHandleCount(info) != 0) {
        InterlockedExchange(&info->PoweredDown, 0);
        RkPowRedispatchHeldRequests(info);
        DbgPrint("RkPowOnPowerQueryPower: Attempted a power down with handles open\n");
        return EndPowerIrp(info, irp, STATUS_UNSUCCESSFUL);
    }
    PoStartNextPowerIrp(irp);
    NTSTATUS status = RkPnpPassIrpDown(info, irp, TRUE, nullptr);
    if (!NT_SUCCESS(status)) {
        DbgPrint("RkPowOnPowerQueryPower: Another device in the stack failed the query 0x%X\n",
                 static_cast<ULONG>(status));
        InterlockedExchange(&info->PoweredDown, 0);
        RkPowRedispatchHeldRequests(info);
    }
    return RkPnpCompleteRequest(info, irp, status, IO_NO_INCREMENT);
}

// ---- Set power -------------------------------------------------------------------------------------------------------------

NTSTATUS RkPowOnPowerSetPower(RK_DEVICE_INFORMATION* info, PIRP irp)
{
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    if (stack->Parameters.Power.Type == DevicePowerState) {
        ULONG state = stack->Parameters.Power.State.DeviceState;
        info->PreviousDevicePowerState = info->DevicePowerState;
        if (state < info->DevicePowerState) {
            IoMarkIrpPending(irp);
            RkPowPassPowerIrpDownStack(info, irp, RkPowPowerUpCompletionRoutine, info);
            return STATUS_PENDING;
        }
        PoSetPowerState(info->DeviceObject, DevicePowerState, stack->Parameters.Power.State);
        if (state > info->DevicePowerState)
            RkDevDisconnectInterrupt(info);
        if (state == PowerDeviceD0) {
            InterlockedExchange(&info->PoweredDown, 0);
            RkPowRedispatchHeldRequests(info);
        }
        info->DevicePowerState = state;
        if (state >= info->SaveRegistersFrom && InterlockedCompareExchange(&info->RegistersSaved, 0, 0) == 0) {
            NTSTATUS status = info->Hooks.SavePowerRegisters ? info->Hooks.SavePowerRegisters(info) : STATUS_SUCCESS;
            if (NT_SUCCESS(status))
                InterlockedExchange(&info->RegistersSaved, 1);
            else
                DbgPrint("RkPow: RkPowSavePowerRegisters failed in RkPowOnPowerSetPower %X\n",
                         static_cast<ULONG>(status));
        }
        return RkPowPassPowerIrpDownStack(info, irp, nullptr, nullptr);
    }

    SYSTEM_POWER_STATE system = stack->Parameters.Power.State.SystemState;
    info->PreviousSystemPowerState = info->SystemPowerState;
    info->SystemPowerState = system;
    if (info->MayPowerDown) {
        DEVICE_POWER_STATE wanted = DeviceStateFor(info, system);
        bool same = ULONG(wanted) == info->DevicePowerState;
        if (!(same && !IoIsWdmVersionAvailable(1, 0x10))) {
            IoMarkIrpPending(irp);
            RkPowPassPowerIrpDownStack(info, irp, RkPowSystemCompletionRoutine, info);
            return STATUS_PENDING;
        }
    }
    if (info->DevicePowerState == PowerDeviceD0 && InterlockedCompareExchange(&info->PoweredDown, 0, 0) != 0) {
        InterlockedExchange(&info->PoweredDown, 0);
        RkPowRedispatchHeldRequests(info);
    }
    NTSTATUS status = RkPowPassPowerIrpDownStack(info, irp, nullptr, nullptr);
    if (!NT_SUCCESS(status))
        DbgPrint("RkPow: RkPowPassPowerIrpDownStack failed in RkPowOnPowerSetPower status %X\n",
                 static_cast<ULONG>(status));
    return status;
}

// ---- Completion routines -------------------------------------------------------------------------------------------------------

NTSTATUS RkPowSystemCompletionRoutine(PDEVICE_OBJECT device, PIRP irp, PVOID context)
{
    auto* info = static_cast<RK_DEVICE_INFORMATION*>(context);
    if (irp->PendingReturned)
        IoMarkIrpPending(irp);
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    NTSTATUS lower = irp->IoStatus.Status;
    DEVICE_POWER_STATE wanted = DeviceStateFor(info, stack->Parameters.Power.State.SystemState);
    POWER_STATE state;
    state.DeviceState = wanted;
    if (stack->MinorFunction == IRP_MN_QUERY_POWER) {
        if (!NT_SUCCESS(lower)) {
            DbgPrint("RkPowSystemCompletionRoutine - lower driver failed system query power %x\n",
                     static_cast<ULONG>(lower));
            PoStartNextPowerIrp(irp);
            RkPnpDropRequestReference(info);
            return STATUS_SUCCESS;
        }
        info->PendingSystemIrp = irp;
        NTSTATUS status = PoRequestPowerIrp(info->PhysicalDevice, IRP_MN_QUERY_POWER, state, SystemDeviceRequestDone,
                                            irp, nullptr);
        if (!NT_SUCCESS(status)) {
            DbgPrint("CPnpDevice::SystemCompletionRoutine: SendPowerIrpToDevice failed - status 0x%X\n",
                     static_cast<ULONG>(status));
            info->PendingSystemIrp = nullptr;
            irp->IoStatus.Status = STATUS_UNSUCCESSFUL;
            PoStartNextPowerIrp(irp);
            RkPnpDropRequestReference(info);
            return STATUS_SUCCESS;
        }
        return STATUS_MORE_PROCESSING_REQUIRED;
    }
    if (!NT_SUCCESS(lower) && lower != STATUS_NOT_SUPPORTED) {
        DbgPrint("RkPowSystemCompletionRoutine: Lower driver failed set power %x\n", static_cast<ULONG>(lower));
        PoStartNextPowerIrp(irp);
        RkPnpDropRequestReference(info);
        return STATUS_SUCCESS;
    }
    info->PendingSystemIrp = irp;
    NTSTATUS status =
        PoRequestPowerIrp(info->PhysicalDevice, IRP_MN_SET_POWER, state, SystemDeviceRequestDone, irp, nullptr);
    if (!NT_SUCCESS(status)) {
        DbgPrint("RkPowSystemCompletionRoutine: SendSetPowerIrpToDevice failed - status 0x%X\n",
                 static_cast<ULONG>(status));
        info->PendingSystemIrp = nullptr;
        PoStartNextPowerIrp(irp);
        RkPnpDropRequestReference(info);
        return STATUS_SUCCESS;
    }
    return STATUS_MORE_PROCESSING_REQUIRED;
}

NTSTATUS RkPowPowerUpCompletionRoutine(PDEVICE_OBJECT device, PIRP irp, PVOID context)
{
    auto* info = static_cast<RK_DEVICE_INFORMATION*>(context);
    if (irp->PendingReturned)
        IoMarkIrpPending(irp);
    NTSTATUS lower = irp->IoStatus.Status;
    if (!NT_SUCCESS(lower) && lower != STATUS_NOT_SUPPORTED) {
        DbgPrint("RkPow: PowerUpCompletionRoutine - lower driver failed set power %x\n", static_cast<ULONG>(lower));
        PoStartNextPowerIrp(irp);
        RkPnpDropRequestReference(info);
        return STATUS_SUCCESS;
    }
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    RK_ASSERT(stack->Parameters.Power.Type == DevicePowerState);
    if (stack->Parameters.Power.State.DeviceState == PowerDeviceD0 && KeGetCurrentIrql() > PASSIVE_LEVEL) {
        auto* work = static_cast<InterruptConnectContext*>(
            ExAllocatePoolWithTag(NonPagedPool, sizeof(InterruptConnectContext), RK_DRIVER_TAG));
        if (!work) {
            DbgPrint("RkPowPowerUpCompletionRoutine: Failed to allocate interrupt connect context\n");
        } else {
            work->Information = info;
            work->Irp = irp;
            work->WorkItem = IoAllocateWorkItem(info->DeviceObject);
            if (!work->WorkItem) {
                DbgPrint("RkPowPowerUpCompletionRoutine: Failed to allocate interrupt work item\n");
                ExFreePoolWithTag(work, RK_DRIVER_TAG);
            } else {
                IoQueueWorkItem(work->WorkItem, InterruptConnectWorker, DelayedWorkQueue, work);
                return STATUS_MORE_PROCESSING_REQUIRED;
            }
        }
        PoStartNextPowerIrp(irp);
        RkPnpDropRequestReference(info);
        return STATUS_SUCCESS;
    }
    bool stop = false;
    PoweredUp(info, irp, "RkPowPowerUpCompletionRoutine: RkDevReconnectInterruptPnp call failed  0x%X\n",
              "RkPow: RestorePowerRegisters failed in PowerUpCompletionRoutine %x\n", &stop);
    if (stop)
        irp->IoStatus.Status = STATUS_SUCCESS;
    PoStartNextPowerIrp(irp);
    RkPnpDropRequestReference(info);
    return STATUS_SUCCESS;
}

// ---- The toolkit's own power requests ------------------------------------------------------------------------------------------

NTSTATUS RkPowSendSynchPowerIrpToDevice(RK_DEVICE_INFORMATION* info, UCHAR minor, DEVICE_POWER_STATE state,
                                        NTSTATUS* status)
{
    if (InterlockedCompareExchange(&info->PowerContextInUse, 1, 0) != 0) {
        DbgPrint("RkPowSendSynchPowerIrpToDevice: Another power IRP is already in progress\n");
        return STATUS_UNSUCCESSFUL;
    }
    KeClearEvent(&info->PowerContext.Event);
    info->PowerContext.Status = STATUS_SUCCESS;
    POWER_STATE power;
    power.DeviceState = state;
    NTSTATUS result =
        PoRequestPowerIrp(info->PhysicalDevice, minor, power, SynchRequestDone, &info->PowerContext, nullptr);
    if (!NT_SUCCESS(result)) {
        DbgPrint("RkPowSendSynchPowerIrpToDevice: Failed to request Power IRP status %X\n", static_cast<ULONG>(result));
    } else {
        KeWaitForSingleObject(&info->PowerContext.Event, Executive, KernelMode, FALSE, nullptr);
        result = info->PowerContext.Status;
    }
    if (status)
        *status = result;
    InterlockedExchange(&info->PowerContextInUse, 0);
    return result;
}

NTSTATUS RkPowSendSynchQueryAndSetPowerIrpToDevice(RK_DEVICE_INFORMATION* info, DEVICE_POWER_STATE state,
                                                   NTSTATUS* queryStatus, NTSTATUS* setStatus)
{
    if (ULONG(state) >= PowerDeviceMaximum) {
        DbgPrint("RkPowSendSynchQueryAndSetPowerIrpToDevice: Invalid device power state 0x%X\n", ULONG(state));
        return STATUS_INVALID_PARAMETER;
    }
    NTSTATUS query = STATUS_SUCCESS;
    RkPowSendSynchPowerIrpToDevice(info, IRP_MN_QUERY_POWER, state, &query);
    if (queryStatus)
        *queryStatus = query;
    DEVICE_POWER_STATE target = state;
    if (!NT_SUCCESS(query)) {
        DbgPrint("RkPowSendSynchQueryAndSetPowerIrpToDevice: Query power failed with status 0x%X\n",
                 static_cast<ULONG>(query));
        target = static_cast<DEVICE_POWER_STATE>(info->DevicePowerState);
    }
    NTSTATUS set = STATUS_SUCCESS;
    RkPowSendSynchPowerIrpToDevice(info, IRP_MN_SET_POWER, target, &set);
    if (setStatus)
        *setStatus = set;
    if (!NT_SUCCESS(set))
        DbgPrint("RkPowSendSynchQueryAndSetPowerIrpToDevice: Set power failed with status 0x%X\n",
                 static_cast<ULONG>(set));
    return NT_SUCCESS(query) ? set : query;
}

NTSTATUS RkPowSendAsynchSetPowerIrpToDevice(RK_DEVICE_INFORMATION* info, DEVICE_POWER_STATE state,
                                            PREQUEST_POWER_COMPLETE completion, PVOID context)
{
    if (ULONG(state) >= PowerDeviceMaximum || !completion) {
        DbgPrint("RkPowSendAsynchSetPowerIrpToDevice: Invalid parameter\n");
        return STATUS_INVALID_PARAMETER;
    }
    POWER_STATE power;
    power.DeviceState = state;
    NTSTATUS status = PoRequestPowerIrp(info->PhysicalDevice, IRP_MN_SET_POWER, power, completion, context, nullptr);
    if (!NT_SUCCESS(status))
        DbgPrint("RkPowSendAsynchSetPowerIrpToDevice: Failed to request Power IRP status %X\n",
                 static_cast<ULONG>(status));
    return status;
}

NTSTATUS RkPowSetRestoreRegistersBelow(RK_DEVICE_INFORMATION* info, ULONG state)
{
    if (state < PowerDeviceD1 || state > PowerDeviceD3)
        return STATUS_INVALID_PARAMETER;
    info->RestoreRegistersBelow = state;
    return STATUS_SUCCESS;
}

NTSTATUS RkPowSetSaveRegistersFrom(RK_DEVICE_INFORMATION* info, ULONG state)
{
    if (state < PowerDeviceD1 || state > PowerDeviceD3)
        return STATUS_INVALID_PARAMETER;
    info->SaveRegistersFrom = state;
    return STATUS_SUCCESS;
}

void RkPowRedispatchHeldRequests(RK_DEVICE_INFORMATION* info)
{
    for (;;) {
        KIRQL irql;
        IoAcquireCancelSpinLock(&irql);
        KeAcquireSpinLockAtDpcLevel(&info->HoldLock);
        PIRP irp = nullptr;
        while (!IsListEmpty(&info->HoldList)) {
            PLIST_ENTRY entry = RemoveHeadList(&info->HoldList);
            PIRP candidate = CONTAINING_RECORD(entry, IRP, Tail.Overlay.ListEntry);
            if (IoSetCancelRoutine(candidate, nullptr)) {
                irp = candidate;
                break;
            }
            InitializeListHead(entry);  // its cancel routine runs and completes it
        }
        KeReleaseSpinLockFromDpcLevel(&info->HoldLock);
        IoReleaseCancelSpinLock(irql);
        if (!irp)
            return;
        RkPnpDropRequestReference(info);
        PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
        info->DriverObject->MajorFunction[stack->MajorFunction](info->DeviceObject, irp);
    }
}
