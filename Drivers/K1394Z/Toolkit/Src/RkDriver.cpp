// Driver and device initialisation: the driver object extension, device names, the symbolic link, the
// interrupt, handle counting and usability.
#include "RkDevice.h"

namespace {

PVOID ExtensionId()
{
    return reinterpret_cast<PVOID>(RK_DRIVER_EXTENSION_ID);
}

void FreeString(PUNICODE_STRING string)
{
    RkStrFree(string);
}

}  // namespace

// ---- Driver -----------------------------------------------------------------------------------------------------------

NTSTATUS RkDrvInitializePnpDriver(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath)
{
    driver->MajorFunction[IRP_MJ_PNP] = PnpDispatch;
    driver->MajorFunction[IRP_MJ_POWER] = RkPowDispatch;
    driver->MajorFunction[IRP_MJ_SYSTEM_CONTROL] = RkSystemControlDispatch;
    driver->MajorFunction[IRP_MJ_CREATE] = RkDrvDefaultCreate;
    driver->MajorFunction[IRP_MJ_CLOSE] = RkDrvDefaultClose;

    PVOID memory = nullptr;
    NTSTATUS status = IoAllocateDriverObjectExtension(driver, ExtensionId(), sizeof(RK_DRIVER_EXTENSION), &memory);
    if (!NT_SUCCESS(status)) {
        DbgPrint("RkDrvInitializePnpDriver: failed to allocated driver object extension: 0x%08X\n",
                 static_cast<ULONG>(status));
        return status;
    }
    auto* extension = static_cast<RK_DRIVER_EXTENSION*>(memory);
    USHORT bytes = registryPath ? registryPath->Length : 0;
    extension->RegistryPath.Buffer =
        static_cast<PWSTR>(ExAllocatePoolWithTag(NonPagedPool, bytes + sizeof(WCHAR), RK_DRIVER_TAG));
    if (!extension->RegistryPath.Buffer) {
        DbgPrint("RkDrvInitializePnpDriver: failed to alloate extension registry path\n");
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    if (bytes)
        RtlCopyMemory(extension->RegistryPath.Buffer, registryPath->Buffer, bytes);
    extension->RegistryPath.Buffer[bytes / sizeof(WCHAR)] = 0;
    extension->RegistryPath.Length = bytes;
    extension->RegistryPath.MaximumLength = static_cast<USHORT>(bytes + sizeof(WCHAR));
    return STATUS_SUCCESS;
}

void RkDrvUninitializePnpDriver(PDRIVER_OBJECT driver)
{
    RK_DRIVER_EXTENSION* extension = RkDrvGetDriverExtension(driver);
    if (extension)
        FreeString(&extension->RegistryPath);
}

RK_DRIVER_EXTENSION* RkDrvGetDriverExtension(PDRIVER_OBJECT driver)
{
    return static_cast<RK_DRIVER_EXTENSION*>(IoGetDriverObjectExtension(driver, ExtensionId()));
}

void RkDrvSetHooks(PDRIVER_OBJECT driver, const RK_DRIVER_HOOKS* hooks)
{
    RK_DRIVER_EXTENSION* extension = RkDrvGetDriverExtension(driver);
    if (extension && hooks)
        extension->Hooks = *hooks;
}

// ---- Device --------------------------------------------------------------------------------------------------------------

NTSTATUS RkDevInitialize(RK_DRIVER_EXTENSION* driverExtension, RK_DEVICE_INFORMATION* info, PDEVICE_OBJECT deviceObject,
                         PDEVICE_OBJECT physicalDevice, PUNICODE_STRING fullDeviceName)
{
    info->DriverObject = deviceObject->DriverObject;
    info->DeviceObject = deviceObject;
    if (driverExtension)
        info->Hooks = driverExtension->Hooks;
    KeInitializeSpinLock(&info->InterruptSpinLock);
    info->Interrupt = nullptr;
    RkStrEmpty(&info->DeviceName);
    RkStrEmpty(&info->SymbolicLink);
    RkStrEmpty(&info->Name2);
    RkStrEmpty(&info->Name3);
    RkStrEmpty(&info->Name4);

    static const WCHAR kBackslash[] = u"\\";
    UNICODE_STRING backslash;
    RtlInitUnicodeString(&backslash, kBackslash);
    LONG from = fullDeviceName ? RkStrFind(fullDeviceName, &backslash, -1, FALSE) : -1;
    ULONG length = fullDeviceName ? fullDeviceName->Length / sizeof(WCHAR) : 0;
    ULONG start = from < 0 ? 0 : static_cast<ULONG>(from) + 1;
    if (!fullDeviceName || start >= length ||
        !NT_SUCCESS(RkStrMid(&info->DeviceName, fullDeviceName, start, length - start))) {
        DbgPrint("RkDevInitialize: Failed to setup device name\n");
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    deviceObject->Flags |= DO_DIRECT_IO;

    NTSTATUS status = RkPnpInitializePnpInformation(info, physicalDevice);
    if (!NT_SUCCESS(status)) {
        DbgPrint("RkDevInitialize failed on RkPnpInitializePnpInformation status %x\n", static_cast<ULONG>(status));
        FreeString(&info->DeviceName);
        return status;
    }
    RkQueueInitialize(&info->Queue, deviceObject, deviceObject->DriverObject->DriverStartIo, FALSE);
    return STATUS_SUCCESS;
}

void RkDevUninitialize(RK_DEVICE_INFORMATION* info)
{
    FreeString(&info->DeviceName);
    FreeString(&info->Name2);
    FreeString(&info->Name3);
    FreeString(&info->Name4);
    RkDevDeleteSymbolicLink(info);
    if (info->LookasideReady) {
        ExDeleteNPagedLookasideList(&info->SmallEntries);
        info->LookasideReady = 0;
    }
    RkPnpDetachFromStack(info);
    if (info->InterfaceRegistered) {
        RtlFreeUnicodeString(&info->InterfaceLink);
        info->InterfaceRegistered = 0;
    }
    RkDevDisconnectInterrupt(info);
    if (info->RemoveWorkItem) {
        IoFreeWorkItem(info->RemoveWorkItem);
        info->RemoveWorkItem = nullptr;
    }
}

NTSTATUS RkDevCreateSymbolicLink(RK_DEVICE_INFORMATION* pInformation, PCWSTR linkName)
{
    RK_ASSERT(KeGetCurrentIrql() == PASSIVE_LEVEL);
    RK_ASSERT(pInformation->DeviceName.Length != 0);
    if (pInformation->DeviceName.Length == 0 || !linkName)
        return STATUS_INVALID_PARAMETER;
    UNICODE_STRING link;
    UNICODE_STRING device;
    UNICODE_STRING tail;
    RtlInitUnicodeString(&tail, linkName);
    NTSTATUS status = RkStrConvertUnicode(&link, u"\\DosDevices\\");
    if (!NT_SUCCESS(status))
        return status;
    status = RkStrAppend(&link, &tail);
    if (NT_SUCCESS(status))
        status = RkStrConvertUnicode(&device, u"\\Device\\");
    if (!NT_SUCCESS(status)) {
        FreeString(&link);
        return status;
    }
    status = RkStrAppend(&device, &pInformation->DeviceName);
    if (NT_SUCCESS(status))
        status = IoCreateSymbolicLink(&link, &device);
    FreeString(&device);
    if (!NT_SUCCESS(status)) {
        FreeString(&link);
        return status;
    }
    RkDevDeleteSymbolicLink(pInformation);
    pInformation->SymbolicLink = link;
    return STATUS_SUCCESS;
}

NTSTATUS RkDevDeleteSymbolicLink(RK_DEVICE_INFORMATION* info)
{
    if (info->SymbolicLink.Length == 0) {
        FreeString(&info->SymbolicLink);
        return STATUS_SUCCESS;
    }
    NTSTATUS status = IoDeleteSymbolicLink(&info->SymbolicLink);
    FreeString(&info->SymbolicLink);
    return status;
}

NTSTATUS RkDevConnectInterrupt(RK_DEVICE_INFORMATION* info)
{
    if (info->Interrupt)
        return STATUS_SUCCESS;
    return IoConnectInterrupt(&info->Interrupt, info->InterruptService, info, &info->InterruptSpinLock,
                              info->InterruptVector, info->InterruptIrql, info->InterruptIrql, info->InterruptMode,
                              TRUE, info->InterruptAffinity, FALSE);
}

void RkDevDisconnectInterrupt(RK_DEVICE_INFORMATION* info)
{
    if (info->Interrupt) {
        IoDisconnectInterrupt(info->Interrupt);
        info->Interrupt = nullptr;
    }
}

NTSTATUS RkDevReconnectInterruptPnp(RK_DEVICE_INFORMATION* info)
{
    if (!info->InterruptService)
        return STATUS_SUCCESS;
    return RkDevConnectInterrupt(info);
}

LONG RkDevIncrementHandleCount(RK_DEVICE_INFORMATION* info)
{
    return InterlockedIncrement(&info->HandleCount);
}

LONG RkDevDecrementHandleCount(RK_DEVICE_INFORMATION* info)
{
    for (;;) {
        LONG now = InterlockedCompareExchange(&info->HandleCount, 0, 0);
        if (now <= 0)
            return 0;
        if (InterlockedCompareExchange(&info->HandleCount, now - 1, now) == now)
            return now - 1;
    }
}

LONG RkDevGetHandleCount(RK_DEVICE_INFORMATION* info)
{
    return InterlockedCompareExchange(&info->HandleCount, 0, 0);
}

BOOLEAN RkDevIsUsable(RK_DEVICE_INFORMATION* info)
{
    if (!info->LowerDevice)
        return FALSE;
    switch (InterlockedCompareExchange(&info->PnpState, 0, 0)) {
    case RkPnpStopPending:
    case RkPnpStopped:
    case RkPnpRemovePending:
    case RkPnpRemoved:
    case RkPnpSurpriseRemoved:
        return FALSE;
    default:
        break;
    }
    if (InterlockedCompareExchange(&info->PoweredDown, 0, 0) != 0)
        return FALSE;
    return info->Hooks.IsDeviceUsable ? info->Hooks.IsDeviceUsable(info) : TRUE;
}
