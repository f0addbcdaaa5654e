// Plug-and-play handling: the device information block, request references and admission, the minor-function
// handlers, removal with and without WDM 1.10, and the toolkit's default PnP, create and close routines.
#include "RkDevice.h"

namespace {

NTSTATUS SignalOnCompletion(PDEVICE_OBJECT, PIRP, PVOID context)
{
    KeSetEvent(static_cast<PKEVENT>(context), 0, FALSE);
    return STATUS_MORE_PROCESSING_REQUIRED;
}

bool HasWdm110()
{
    return IoIsWdmVersionAvailable(1, 0x10) != FALSE;
}

// The driver's resource release, once per start: a second release does nothing.
void ReleaseResources(RK_DEVICE_INFORMATION* info, BOOLEAN deviceGone)
{
    if (InterlockedExchange(&info->ResourcesReleased, 1) != 0)
        return;
    LONG wasAllowed = InterlockedExchange(&info->PowerDownAllowed, 0);
    if (info->Hooks.FreeDeviceResources)
        info->Hooks.FreeDeviceResources(info, deviceGone);
    if (wasAllowed)
        InterlockedExchange(&info->PowerDownAllowed, wasAllowed);
}

void DeleteDevice(RK_DEVICE_INFORMATION* info)
{
    if (info->Hooks.DeleteDevice) {
        info->Hooks.DeleteDevice(info);
        return;
    }
    PDEVICE_OBJECT device = info->DeviceObject;
    RkDevUninitialize(info);
    IoDeleteDevice(device);
}

void ReportD3(RK_DEVICE_INFORMATION* info)
{
    POWER_STATE state;
    state.DeviceState = PowerDeviceD3;
    info->DevicePowerState = PowerDeviceD3;
    PoSetPowerState(info->DeviceObject, DevicePowerState, state);
}

// The end of a removal: release unless done, D3, delete.
void FinishRemoval(RK_DEVICE_INFORMATION* info)
{
    ReleaseResources(info, info->UnexpectedRemoval ? TRUE : FALSE);
    ReportD3(info);
    DeleteDevice(info);
}

void RemoveWorkItemCallback(PDEVICE_OBJECT device, PVOID context)
{
    auto* info = static_cast<RK_DEVICE_INFORMATION*>(context);
    DbgPrint("RkPnpRemoveWorkItemCallback\n");
    NTSTATUS wait = RkWaitForEvent(&info->NoRequestsEvent, 1000);
    // The work item holds one reference of its own on the device.
    if (wait == STATUS_TIMEOUT || __atomic_load_n(&device->ReferenceCount, __ATOMIC_SEQ_CST) > 1) {
        IoQueueWorkItem(info->RemoveWorkItem, RemoveWorkItemCallback, DelayedWorkQueue, info);
        return;
    }
    FinishRemoval(info);
}

}  // namespace

// ---- The block ------------------------------------------------------------------------------------------------------

NTSTATUS RkPnpAttachToStack(RK_DEVICE_INFORMATION* info)
{
    if (info->Attached)
        return STATUS_SUCCESS;
    info->LowerDevice = IoAttachDeviceToDeviceStack(info->DeviceObject, info->PhysicalDevice);
    if (!info->LowerDevice) {
        DbgPrint("RkPnp: AttachToStack IoAttachDeviceToDeviceStack failed\n");
        return STATUS_UNSUCCESSFUL;
    }
    info->Attached = 1;
    return STATUS_SUCCESS;
}

void RkPnpDetachFromStack(RK_DEVICE_INFORMATION* info)
{
    if (!info->Attached)
        return;
    IoDetachDevice(info->LowerDevice);
    info->LowerDevice = nullptr;
    info->Attached = 0;
}

NTSTATUS RkPnpInitializePnpInformation(RK_DEVICE_INFORMATION* info, PDEVICE_OBJECT physicalDevice)
{
    info->PhysicalDevice = physicalDevice;
    info->LowerDevice = nullptr;
    info->Self = info;
    info->PnpState = RkPnpNotStarted;
    KeInitializeEvent(&info->NoRequestsEvent, NotificationEvent, TRUE);
    info->RequestCount = 1;
    info->StopHolds = 0;
    info->RemoveHolds = 0;
    info->Stopped = 0;
    info->DevicePowerState = PowerDeviceD3;
    info->SystemPowerState = PowerSystemWorking;
    info->PreviousDevicePowerState = PowerDeviceD3;
    info->PreviousSystemPowerState = PowerSystemWorking;
    info->RestoreRegistersBelow = PowerDeviceD3;
    info->SaveRegistersFrom = PowerDeviceD3;
    info->PowerDownAllowed = 1;
    info->PoweredDown = 0;
    info->RegistersSaved = 0;
    info->PowerManaged = 1;
    info->MayPowerDown = 1;
    info->InterfaceRegistered = 0;
    info->UnexpectedRemoval = 0;
    info->ResourcesReleased = 1;  // nothing to release before a start
    RkStrEmpty(&info->InterfaceLink);
    KeInitializeEvent(&info->PowerEvent, SynchronizationEvent, TRUE);
    info->PowerContextInUse = 0;
    KeInitializeEvent(&info->PowerContext.Event, NotificationEvent, FALSE);
    info->PendingSystemIrp = nullptr;
    InitializeListHead(&info->HoldList);
    KeInitializeSpinLock(&info->HoldLock);
    info->PowerDownHook = RkPnpPowerDownDevice;
    info->PowerUpHook = RkPnpPowerUpDevice;
    info->DeviceObject->Flags |= DO_POWER_PAGABLE;

    NTSTATUS status = RkPnpAttachToStack(info);
    if (!NT_SUCCESS(status)) {
        DbgPrint("RkPnp: Failed to attach to stack in pnp initialize status %x\n", static_cast<ULONG>(status));
        return status;
    }
    info->RemoveWorkItem = IoAllocateWorkItem(info->DeviceObject);
    if (!info->RemoveWorkItem) {
        RkPnpDetachFromStack(info);
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    ExInitializeNPagedLookasideList(&info->SmallEntries, nullptr, nullptr, 0, 20, RK_DRIVER_TAG, 0);
    info->LookasideReady = 1;
    return STATUS_SUCCESS;
}

NTSTATUS RkPnpRegisterDeviceInterface(RK_DEVICE_INFORMATION* info, const GUID* interfaceClass, PUNICODE_STRING reference)
{
    if (info->InterfaceRegistered)
        RtlFreeUnicodeString(&info->InterfaceLink);
    info->InterfaceRegistered = 0;
    NTSTATUS status = IoRegisterDeviceInterface(info->PhysicalDevice, interfaceClass, reference, &info->InterfaceLink);
    if (NT_SUCCESS(status))
        info->InterfaceRegistered = 1;
    else
        DbgPrint("RkPnpRegisterDeviceInterface: IoRegisterDeviceInterface failed 0x%08X\n", static_cast<ULONG>(status));
    return status;
}

NTSTATUS RkPnpEnableDeviceInterface(RK_DEVICE_INFORMATION* info)
{
    if (!info->InterfaceRegistered)
        return STATUS_INVALID_DEVICE_STATE;
    return IoSetDeviceInterfaceState(&info->InterfaceLink, TRUE);
}

NTSTATUS RkPnpDisableDeviceInterface(RK_DEVICE_INFORMATION* info)
{
    if (!info->InterfaceRegistered)
        return STATUS_INVALID_DEVICE_STATE;
    return IoSetDeviceInterfaceState(&info->InterfaceLink, FALSE);
}

// ---- References, admission, completion, passing down ------------------------------------------------------------------

void RkPnpTakeRequestReference(RK_DEVICE_INFORMATION* info)
{
    if (InterlockedIncrement(&info->RequestCount) == 2)
        KeResetEvent(&info->NoRequestsEvent);
}

void RkPnpDropRequestReference(RK_DEVICE_INFORMATION* info)
{
    LONG left = InterlockedDecrement(&info->RequestCount);
    RK_ASSERT(left != 0);
    if (left == 1)
        KeSetEvent(&info->NoRequestsEvent, 0, FALSE);
}

BOOLEAN RkPnpAdmitRequest(RK_DEVICE_INFORMATION* info, PIRP irp, NTSTATUS* status)
{
    RkPnpTakeRequestReference(info);
    UCHAR major = IoGetCurrentIrpStackLocation(irp)->MajorFunction;
    if (major == IRP_MJ_PNP || major == IRP_MJ_POWER || RkDevIsUsable(info)) {
        if (status)
            *status = STATUS_SUCCESS;
        return TRUE;
    }
    KIRQL irql;
    IoAcquireCancelSpinLock(&irql);
    NTSTATUS refusal = irp->Cancel ? STATUS_CANCELLED : STATUS_DELETE_PENDING;
    IoReleaseCancelSpinLock(irql);
    if (status)
        *status = refusal;
    irp->IoStatus.Information = 0;
    RkPnpCompleteRequest(info, irp, refusal, IO_NO_INCREMENT);
    return FALSE;
}

NTSTATUS RkPnpCompleteRequest(RK_DEVICE_INFORMATION* info, PIRP irp, NTSTATUS status, CCHAR boost)
{
    irp->IoStatus.Status = status;
    IoCompleteRequest(irp, boost);
    RkPnpDropRequestReference(info);
    return status;
}

NTSTATUS RkPnpPassIrpDown(RK_DEVICE_INFORMATION* info, PIRP irp, BOOLEAN wait, PDEVICE_OBJECT lower)
{
    if (!lower)
        lower = info->LowerDevice;
    IoCopyCurrentIrpStackLocationToNext(irp);
    if (!wait)
        return IoCallDriver(lower, irp);
    RK_ASSERT(KeGetCurrentIrql() == PASSIVE_LEVEL);
    KEVENT done;
    KeInitializeEvent(&done, NotificationEvent, FALSE);
    IoSetCompletionRoutine(irp, SignalOnCompletion, &done, TRUE, TRUE, TRUE);
    NTSTATUS status = IoCallDriver(lower, irp);
    if (status == STATUS_PENDING)
        KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, nullptr);
    return irp->IoStatus.Status;
}

// Passes a request down without waiting and drops its reference.
static NTSTATUS PassDownAndDrop(RK_DEVICE_INFORMATION* info, PIRP irp)
{
    PDEVICE_OBJECT lower = info->LowerDevice;
    NTSTATUS status = RkPnpPassIrpDown(info, irp, FALSE, lower);
    RkPnpDropRequestReference(info);
    return status;
}

// ---- Power-down and power-up of an idle device ---------------------------------------------------------------------------

NTSTATUS RkPnpPowerDownDevice(RK_DEVICE_INFORMATION* info, DEVICE_POWER_STATE state)
{
    if (!info->PowerManaged || !info->MayPowerDown || RkDevGetHandleCount(info) != 0)
        return STATUS_SUCCESS;
    NTSTATUS queryStatus = STATUS_SUCCESS;
    NTSTATUS setStatus = STATUS_SUCCESS;
    return RkPowSendSynchQueryAndSetPowerIrpToDevice(info, state, &queryStatus, &setStatus);
}

NTSTATUS RkPnpPowerUpDevice(RK_DEVICE_INFORMATION* info, DEVICE_POWER_STATE state)
{
    if (!info->PowerManaged || !info->MayPowerDown || RkDevGetHandleCount(info) != 0)
        return STATUS_SUCCESS;
    NTSTATUS queryStatus = STATUS_SUCCESS;
    NTSTATUS setStatus = STATUS_SUCCESS;
    return RkPowSendSynchQueryAndSetPowerIrpToDevice(info, state, &queryStatus, &setStatus);
}

// ---- Minor-function handlers ------------------------------------------------------------------------------------------------

NTSTATUS RkPnpOnPnpStartDevice(RK_DEVICE_INFORMATION* info, PIRP irp)
{
    DbgPrint("RkPnp: IRP_MN_START_DEVICE\n");
    info->DevicePowerState = PowerDeviceD0;
    POWER_STATE d0;
    d0.DeviceState = PowerDeviceD0;
    PoSetPowerState(info->DeviceObject, DevicePowerState, d0);
    NTSTATUS status = RkPnpPassIrpDown(info, irp, TRUE, nullptr);
    if (NT_SUCCESS(status)) {
        InterlockedExchange(&info->Stopped, 0);
        InterlockedExchange(&info->ResourcesReleased, 0);
        status = info->Hooks.SetupDeviceResources ? info->Hooks.SetupDeviceResources(info) : STATUS_SUCCESS;
        if (!NT_SUCCESS(status)) {
            InterlockedExchange(&info->Stopped, 1);
            InterlockedExchange(&info->ResourcesReleased, 1);
            InterlockedExchange(&info->PnpState, RkPnpStartFailed);
        } else {
            InterlockedExchange(&info->PnpState, RkPnpStarted);
            if (info->PowerDownHook)
                info->PowerDownHook(info, PowerDeviceD3);
        }
    } else {
        DbgPrint("RkPnp: RkPnpOnPnpStartDevice:  IRP_MN_START_DEVICE, PDO Failed with status: 0x%X\n",
                 static_cast<ULONG>(status));
    }
    irp->IoStatus.Information = 0;
    return RkPnpCompleteRequest(info, irp, status, IO_NO_INCREMENT);
}

NTSTATUS RkPnpOnPnpQueryRemoveDevice(RK_DEVICE_INFORMATION* info, PIRP irp)
{
    DbgPrint("RkPnp: IRP_MN_QUERY_REMOVE_DEVICE\n");
    if (InterlockedCompareExchange(&info->RemoveHolds, 0, 0) != 0)
        return RkPnpCompleteRequest(info, irp, STATUS_UNSUCCESSFUL, IO_NO_INCREMENT);
    InterlockedExchange(&info->PnpState, RkPnpRemovePending);
    irp->IoStatus.Status = STATUS_SUCCESS;
    return PassDownAndDrop(info, irp);
}

NTSTATUS RkPnpOnPnpRemoveDevice(RK_DEVICE_INFORMATION* info, PIRP irp)
{
    DbgPrint("RkPnp: IRP_MN_REMOVE_DEVICE\n");
    RK_ASSERT(KeGetCurrentIrql() == PASSIVE_LEVEL);
    LONG previous = InterlockedExchange(&info->PnpState, RkPnpRemoved);
    info->UnexpectedRemoval = previous != RkPnpRemovePending ? 1 : 0;

    InterlockedExchange(&info->RegistersSaved, 0);
    if (info->Hooks.OnRemoveDevice)
        info->Hooks.OnRemoveDevice(info);
    // The base reference goes; the remove request's own stays until the device is deleted.
    RkPnpDropRequestReference(info);
    InterlockedExchange(&info->Stopped, 1);
    if (info->InterfaceRegistered)
        RkPnpDisableDeviceInterface(info);
    RkDevDeleteSymbolicLink(info);
    irp->IoStatus.Status = STATUS_SUCCESS;

    bool outstanding = InterlockedCompareExchange(&info->RequestCount, 0, 0) > 1;
    if (outstanding && !HasWdm110()) {
        // Without WDM 1.10 the remove request may not wait: a work item finishes the removal.
        IoQueueWorkItem(info->RemoveWorkItem, RemoveWorkItemCallback, DelayedWorkQueue, info);
        return RkPnpPassIrpDown(info, irp, FALSE, nullptr);
    }
    if (outstanding)
        KeWaitForSingleObject(&info->NoRequestsEvent, Executive, KernelMode, FALSE, nullptr);
    ReleaseResources(info, info->UnexpectedRemoval ? TRUE : FALSE);
    ReportD3(info);
    PDEVICE_OBJECT lower = info->LowerDevice;
    NTSTATUS status = RkPnpPassIrpDown(info, irp, FALSE, lower);
    DeleteDevice(info);
    return status;
}

NTSTATUS RkPnpOnPnpCancelRemoveDevice(RK_DEVICE_INFORMATION* info, PIRP irp)
{
    DbgPrint("RkPnp: IRP_MN_CANCEL_REMOVE_DEVICE\n");
    irp->IoStatus.Status = STATUS_SUCCESS;
    RkPnpPassIrpDown(info, irp, TRUE, nullptr);
    InterlockedExchange(&info->PnpState, RkPnpStarted);
    return RkPnpCompleteRequest(info, irp, STATUS_SUCCESS, IO_NO_INCREMENT);
}

NTSTATUS RkPnpOnPnpStopDevice(RK_DEVICE_INFORMATION* info, PIRP irp)
{
    DbgPrint("RkPnp: IRP_MN_STOP_DEVICE\n");
    InterlockedExchange(&info->Stopped, 1);
    ReleaseResources(info, FALSE);
    InterlockedExchange(&info->PnpState, RkPnpStopped);
    irp->IoStatus.Status = STATUS_SUCCESS;
    return PassDownAndDrop(info, irp);
}

NTSTATUS RkPnpOnPnpQueryStopDevice(RK_DEVICE_INFORMATION* info, PIRP irp)
{
    DbgPrint("RkPnp: IRP_MN_QUERY_STOP_DEVICE\n");
    if (InterlockedCompareExchange(&info->Stopped, 0, 0) == 0) {
        if (InterlockedCompareExchange(&info->StopHolds, 0, 0) != 0)
            return RkPnpCompleteRequest(info, irp, STATUS_UNSUCCESSFUL, IO_NO_INCREMENT);
        InterlockedExchange(&info->PnpState, RkPnpStopPending);
    }
    irp->IoStatus.Status = STATUS_SUCCESS;
    return PassDownAndDrop(info, irp);
}

NTSTATUS RkPnpOnPnpCancelStopDevice(RK_DEVICE_INFORMATION* info, PIRP irp)
{
    DbgPrint("RkPnp: IRP_MN_CANCEL_STOP_DEVICE\n");
    irp->IoStatus.Status = STATUS_SUCCESS;
    RkPnpPassIrpDown(info, irp, TRUE, nullptr);
    if (InterlockedCompareExchange(&info->Stopped, 0, 0) != 0)
        DbgPrint("RkPnpOnPnpCancelStopDevice: Unable to cancel stop -- we are already stopped.\n");
    else
        InterlockedCompareExchange(&info->PnpState, RkPnpStarted, RkPnpStopPending);
    return RkPnpCompleteRequest(info, irp, STATUS_SUCCESS, IO_NO_INCREMENT);
}

NTSTATUS RkPnpOnPnpQueryCapabilities(RK_DEVICE_INFORMATION* info, PIRP irp)
{
    DbgPrint("RkPnp: IRP_MN_QUERY_CAPABILITIES\n");
    PDEVICE_CAPABILITIES caps = IoGetCurrentIrpStackLocation(irp)->Parameters.DeviceCapabilities.Capabilities;
    if (!info->SurpriseRemovalAllowed || !caps || caps->Version == 0)
        return PassDownAndDrop(info, irp);
    NTSTATUS status = RkPnpPassIrpDown(info, irp, TRUE, nullptr);
    if (NT_SUCCESS(status))
        caps->SurpriseRemovalOK = 1;
    return RkPnpCompleteRequest(info, irp, status, IO_NO_INCREMENT);
}

NTSTATUS RkPnpOnPnpSurpriseRemoval(RK_DEVICE_INFORMATION* info, PIRP irp)
{
    DbgPrint("RkPnp: IRP_MN_SURPRISE_REMOVAL\n");
    InterlockedExchange(&info->PnpState, RkPnpSurpriseRemoved);
    InterlockedExchange(&info->RegistersSaved, 0);
    if (info->Hooks.OnSurpriseRemoval)
        info->Hooks.OnSurpriseRemoval(info);
    if (info->InterfaceRegistered)
        RkPnpDisableDeviceInterface(info);
    RkDevDeleteSymbolicLink(info);
    ReleaseResources(info, TRUE);
    irp->IoStatus.Status = STATUS_SUCCESS;
    return PassDownAndDrop(info, irp);
}

NTSTATUS RkPnpOnPnpPassDown(RK_DEVICE_INFORMATION* info, PIRP irp)
{
    UCHAR minor = IoGetCurrentIrpStackLocation(irp)->MinorFunction;
    if (minor == IRP_MN_QUERY_ID)
        DbgPrint("RkPnp:  %s\n", RkPnpMinorFunctionName(minor));
    else
        DbgPrint("RkPnp: %s\n", RkPnpMinorFunctionName(minor));
    return PassDownAndDrop(info, irp);
}

// ---- The toolkit's default routines ----------------------------------------------------------------------------------------------

NTSTATUS PnpDispatch(PDEVICE_OBJECT device, PIRP irp)
{
    RK_DEVICE_INFORMATION* info = RkDevGetInformation(device);
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    RK_ASSERT(stack->MajorFunction == IRP_MJ_PNP);
    NTSTATUS status;
    if (!RkPnpAdmitRequest(info, irp, &status))
        return status;
    switch (stack->MinorFunction) {
    case IRP_MN_START_DEVICE:
        return RkPnpOnPnpStartDevice(info, irp);
    case IRP_MN_QUERY_REMOVE_DEVICE:
        return RkPnpOnPnpQueryRemoveDevice(info, irp);
    case IRP_MN_REMOVE_DEVICE:
        return RkPnpOnPnpRemoveDevice(info, irp);
    case IRP_MN_CANCEL_REMOVE_DEVICE:
        return RkPnpOnPnpCancelRemoveDevice(info, irp);
    case IRP_MN_STOP_DEVICE:
        return RkPnpOnPnpStopDevice(info, irp);
    case IRP_MN_QUERY_STOP_DEVICE:
        return RkPnpOnPnpQueryStopDevice(info, irp);
    case IRP_MN_CANCEL_STOP_DEVICE:
        return RkPnpOnPnpCancelStopDevice(info, irp);
    case IRP_MN_QUERY_CAPABILITIES:
        return RkPnpOnPnpQueryCapabilities(info, irp);
    case IRP_MN_SURPRISE_REMOVAL:
        return RkPnpOnPnpSurpriseRemoval(info, irp);
    case IRP_MN_QUERY_DEVICE_RELATIONS:
    case IRP_MN_QUERY_INTERFACE:
    case IRP_MN_QUERY_RESOURCES:
    case IRP_MN_QUERY_RESOURCE_REQUIREMENTS:
    case IRP_MN_QUERY_DEVICE_TEXT:
    case IRP_MN_FILTER_RESOURCE_REQUIREMENTS:
    case IRP_MN_READ_CONFIG:
    case IRP_MN_WRITE_CONFIG:
    case IRP_MN_EJECT:
    case IRP_MN_SET_LOCK:
    case IRP_MN_QUERY_ID:
    case IRP_MN_QUERY_PNP_DEVICE_STATE:
    case IRP_MN_QUERY_BUS_INFORMATION:
        return RkPnpOnPnpPassDown(info, irp);
    default:
        DbgPrint("PnpDispatch - unknown PnP Irp minor function: 0x%X\n", stack->MinorFunction);
        return PassDownAndDrop(info, irp);
    }
}

NTSTATUS RkDrvDefaultCreate(PDEVICE_OBJECT device, PIRP irp)
{
    RK_DEVICE_INFORMATION* info = RkDevGetInformation(device);
    NTSTATUS status;
    if (!RkPnpAdmitRequest(info, irp, &status))
        return status;
    if (info->PowerUpHook)
        info->PowerUpHook(info, PowerDeviceD0);
    InterlockedIncrement(&info->StopHolds);
    InterlockedIncrement(&info->RemoveHolds);
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    status = STATUS_SUCCESS;
    if (InterlockedCompareExchange(&info->Exclusive, 0, 0) != 0) {
        status = STATUS_SHARING_VIOLATION;
    } else if (stack->Parameters.Create.ShareAccess == 0) {
        if (RkDevGetHandleCount(info) == 0)
            InterlockedExchange(&info->Exclusive, 1);
        else
            status = STATUS_SHARING_VIOLATION;
    }
    if (NT_SUCCESS(status)) {
        RkDevIncrementHandleCount(info);
    } else {
        InterlockedDecrement(&info->StopHolds);
        InterlockedDecrement(&info->RemoveHolds);
    }
    irp->IoStatus.Information = 0;
    return RkPnpCompleteRequest(info, irp, status, IO_NO_INCREMENT);
}

NTSTATUS RkDrvDefaultClose(PDEVICE_OBJECT device, PIRP irp)
{
    RK_DEVICE_INFORMATION* info = RkDevGetInformation(device);
    RkPnpTakeRequestReference(info);
    InterlockedExchange(&info->Exclusive, 0);
    RkDevDecrementHandleCount(info);
    if (InterlockedDecrement(&info->StopHolds) < 0)
        InterlockedExchange(&info->StopHolds, 0);
    if (InterlockedDecrement(&info->RemoveHolds) < 0)
        InterlockedExchange(&info->RemoveHolds, 0);
    if (info->PowerDownHook && RkDevIsUsable(info))
        info->PowerDownHook(info, PowerDeviceD3);
    irp->IoStatus.Information = 0;
    return RkPnpCompleteRequest(info, irp, STATUS_SUCCESS, IO_NO_INCREMENT);
}

// ---- Names ------------------------------------------------------------------------------------------------------------------------

const char* RkPnpMajorFunctionName(UCHAR major)
{
    static const char* const kNames[] = {
        "IRP_MJ_CREATE", "IRP_MJ_CREATE_NAMED_PIPE", "IRP_MJ_CLOSE", "IRP_MJ_READ", "IRP_MJ_WRITE",
        "IRP_MJ_QUERY_INFORMATION", "IRP_MJ_SET_INFORMATION", "IRP_MJ_QUERY_EA", "IRP_MJ_SET_EA",
        "IRP_MJ_FLUSH_BUFFERS", "IRP_MJ_QUERY_VOLUME_INFORMATION", "IRP_MJ_SET_VOLUME_INFORMATION",
        "IRP_MJ_DIRECTORY_CONTROL", "IRP_MJ_FILE_SYSTEM_CONTROL", "IRP_MJ_DEVICE_CONTROL",
        "IRP_MJ_INTERNAL_DEVICE_CONTROL", "IRP_MJ_SHUTDOWN", "IRP_MJ_LOCK_CONTROL", "IRP_MJ_CLEANUP",
        "IRP_MJ_CREATE_MAILSLOT", "IRP_MJ_QUERY_SECURITY", "IRP_MJ_SET_SECURITY", "IRP_MJ_POWER",
        "IRP_MJ_SYSTEM_CONTROL", "IRP_MJ_DEVICE_CHANGE", "IRP_MJ_QUERY_QUOTA", "IRP_MJ_SET_QUOTA", "IRP_MJ_PNP"};
    return major < sizeof kNames / sizeof kNames[0] ? kNames[major] : "UNKNOWN IRP MAJOR FUNCTION";
}

const char* RkPnpMinorFunctionName(UCHAR minor)
{
    static const char* const kNames[] = {
        "IRP_MN_START_DEVICE", "IRP_MN_QUERY_REMOVE_DEVICE", "IRP_MN_REMOVE_DEVICE", "IRP_MN_CANCEL_REMOVE_DEVICE",
        "IRP_MN_STOP_DEVICE", "IRP_MN_QUERY_STOP_DEVICE", "IRP_MN_CANCEL_STOP_DEVICE",
        "IRP_MN_QUERY_DEVICE_RELATIONS", "IRP_MN_QUERY_INTERFACE", "IRP_MN_QUERY_CAPABILITIES",
        "IRP_MN_QUERY_RESOURCES", "IRP_MN_QUERY_RESOURCE_REQUIREMENTS", "IRP_MN_QUERY_DEVICE_TEXT",
        "IRP_MN_FILTER_RESOURCE_REQUIREMENTS", "UNKNOWN PNP MINOR FUNCTION", "IRP_MN_READ_CONFIG",
        "IRP_MN_WRITE_CONFIG", "IRP_MN_EJECT", "IRP_MN_SET_LOCK", "IRP_MN_QUERY_ID", "IRP_MN_QUERY_PNP_DEVICE_STATE",
        "IRP_MN_QUERY_BUS_INFORMATION", "IRP_MN_DEVICE_USAGE_NOTIFICATION", "IRP_MN_SURPRISE_REMOVAL"};
    return minor < sizeof kNames / sizeof kNames[0] ? kNames[minor] : "UNKNOWN PNP MINOR FUNCTION";
}

const char* RkPowMinorFunctionName(UCHAR minor)
{
    static const char* const kNames[] = {"IRP_MN_WAIT_WAKE", "IRP_MN_POWER_SEQUENCE", "IRP_MN_SET_POWER",
                                         "IRP_MN_QUERY_POWER"};
    return minor < sizeof kNames / sizeof kNames[0] ? kNames[minor] : "UNKNOWN IRP MINOR FUNCTION";
}

const char* RkWmiMinorFunctionName(UCHAR minor)
{
    static const char* const kNames[] = {
        "IRP_MN_QUERY_ALL_DATA",     "IRP_MN_QUERY_SINGLE_INSTANCE", "IRP_MN_CHANGE_SINGLE_INSTANCE",
        "IRP_MN_CHANGE_SINGLE_ITEM", "IRP_MN_ENABLE_EVENTS",         "IRP_MN_DISABLE_EVENTS",
        "IRP_MN_ENABLE_COLLECTION",  "IRP_MN_DISABLE_COLLECTION",    "IRP_MN_REGINFO",
        "IRP_MN_EXECUTE_METHOD"};
    return minor < sizeof kNames / sizeof kNames[0] ? kNames[minor] : "UNKNOWN IRP MINOR FUNCTION";
}
