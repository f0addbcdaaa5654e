// A driver of the tests only, on the toolkit: its default create and close, a counting device-control routine
// that can keep a request pending, a resource release that traces, and the camera driver's power mapping.
#include "RkDevice.h"

namespace {

// {7D3C1F0A-5B2E-4C1D-9A8B-2F4E6D8C0B1A}
constexpr GUID kInterface = {0x7D3C1F0A, 0x5B2E, 0x4C1D, {0x9A, 0x8B, 0x2F, 0x4E, 0x6D, 0x8C, 0x0B, 0x1A}};

constexpr ULONG kIoctlCount = CTL_CODE(FILE_DEVICE_UNKNOWN, 0x800, METHOD_BUFFERED, FILE_ANY_ACCESS);
constexpr ULONG kIoctlHold = CTL_CODE(FILE_DEVICE_UNKNOWN, 0x801, METHOD_BUFFERED, FILE_ANY_ACCESS);

struct TestExtension {
    RK_DEVICE_INFORMATION Information;  // first: the toolkit's block
    RK_WMI_INFORMATION Wmi;
    ULONG Number;
};

volatile LONG g_Calls;
volatile LONG g_NextNumber;

NTSTATUS Setup(RK_DEVICE_INFORMATION* info)
{
    NTSTATUS status = RkPnpEnableDeviceInterface(info);
    return NT_SUCCESS(status) || status == STATUS_OBJECT_NAME_EXISTS ? STATUS_SUCCESS : status;
}

NTSTATUS Release(RK_DEVICE_INFORMATION*, BOOLEAN)
{
    DbgPrint("ToolkitTestDriver: release\n");
    return STATUS_SUCCESS;
}

DEVICE_POWER_STATE PowerFor(RK_DEVICE_INFORMATION* info, SYSTEM_POWER_STATE state)
{
    if (state > PowerSystemWorking)
        return PowerDeviceD3;
    return info->PowerManaged ? static_cast<DEVICE_POWER_STATE>(info->DevicePowerState) : PowerDeviceD0;
}

void CancelHeld(PDEVICE_OBJECT device, PIRP irp)
{
    IoReleaseCancelSpinLock(irp->CancelIrql);
    DbgPrint("ToolkitTestDriver: held request cancelled\n");
    irp->IoStatus.Information = 0;
    RkPnpCompleteRequest(RkDevGetInformation(device), irp, STATUS_CANCELLED, IO_NO_INCREMENT);
}

NTSTATUS DeviceControl(PDEVICE_OBJECT device, PIRP irp)
{
    RK_DEVICE_INFORMATION* info = RkDevGetInformation(device);
    NTSTATUS status;
    if (!RkPnpAdmitRequest(info, irp, &status))
        return status;
    ULONG calls = static_cast<ULONG>(InterlockedIncrement(&g_Calls));
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    if (stack->Parameters.DeviceIoControl.IoControlCode == kIoctlHold) {
        IoMarkIrpPending(irp);
        IoSetCancelRoutine(irp, CancelHeld);
        if (irp->Cancel && IoSetCancelRoutine(irp, nullptr)) {
            irp->IoStatus.Information = 0;
            RkPnpCompleteRequest(info, irp, STATUS_CANCELLED, IO_NO_INCREMENT);
        }
        return STATUS_PENDING;
    }
    if (stack->Parameters.DeviceIoControl.IoControlCode != kIoctlCount) {
        irp->IoStatus.Information = 0;
        return RkPnpCompleteRequest(info, irp, STATUS_INVALID_DEVICE_REQUEST, IO_NO_INCREMENT);
    }
    ULONG_PTR written = 0;
    if (stack->Parameters.DeviceIoControl.OutputBufferLength >= sizeof(ULONG) && irp->AssociatedIrp.SystemBuffer) {
        RtlCopyMemory(irp->AssociatedIrp.SystemBuffer, &calls, sizeof calls);
        written = sizeof calls;
    }
    irp->IoStatus.Information = written;
    return RkPnpCompleteRequest(info, irp, STATUS_SUCCESS, IO_NO_INCREMENT);
}

void DeleteDevice(RK_DEVICE_INFORMATION* info)
{
    PDEVICE_OBJECT device = info->DeviceObject;
    DbgPrint("ToolkitTestDriver: delete device\n");
    RkDevUninitialize(info);
    IoDeleteDevice(device);
}

NTSTATUS AddDevice(PDRIVER_OBJECT driver, PDEVICE_OBJECT physicalDevice)
{
    ULONG number = static_cast<ULONG>(InterlockedIncrement(&g_NextNumber) - 1);
    UNICODE_STRING name;
    NTSTATUS status = RkStrConvertUnicode(&name, u"\\Device\\ToolkitTest");
    if (NT_SUCCESS(status))
        status = RkStrAppendNumber(&name, number, 10);
    if (!NT_SUCCESS(status)) {
        RkStrFree(&name);
        return status;
    }
    PDEVICE_OBJECT device = nullptr;
    status = IoCreateDevice(driver, sizeof(TestExtension), &name, FILE_DEVICE_UNKNOWN, 0, FALSE, &device);
    if (!NT_SUCCESS(status)) {
        RkStrFree(&name);
        return status;
    }
    auto* ext = static_cast<TestExtension*>(device->DeviceExtension);
    RtlZeroMemory(ext, sizeof *ext);
    ext->Number = number;
    RK_DEVICE_INFORMATION* info = &ext->Information;
    status = RkDevInitialize(RkDrvGetDriverExtension(driver), info, device, physicalDevice, &name);
    RkStrFree(&name);
    if (NT_SUCCESS(status)) {
        UNICODE_STRING link;
        status = RkStrConvertUnicode(&link, u"ToolkitTest");
        if (NT_SUCCESS(status))
            status = RkStrAppendNumber(&link, number, 10);
        if (NT_SUCCESS(status))
            status = RkDevCreateSymbolicLink(info, link.Buffer);
        RkStrFree(&link);
    }
    if (NT_SUCCESS(status))
        status = RkPnpRegisterDeviceInterface(info, &kInterface, nullptr);
    if (NT_SUCCESS(status))
        status = RkWmiRegister(info, &ext->Wmi);
    if (!NT_SUCCESS(status)) {
        DbgPrint("ToolkitTestDriver: AddDevice failed 0x%08X\n", static_cast<ULONG>(status));
        RkDevUninitialize(info);
        IoDeleteDevice(device);
        return status;
    }
    info->PowerManaged = 0;
    device->Flags &= ~static_cast<ULONG>(DO_DEVICE_INITIALIZING);
    return STATUS_SUCCESS;
}

void Unload(PDRIVER_OBJECT driver)
{
    DbgPrint("ToolkitTestDriver: unload\n");
    RkDrvUninitializePnpDriver(driver);
    RkMemoryStop();
}

}  // namespace

// The device-control calls the driver has served.
extern "C" __attribute__((visibility("default"))) ULONG ToolkitTestDriverCalls()
{
    return static_cast<ULONG>(InterlockedCompareExchange(&g_Calls, 0, 0));
}

extern "C" __attribute__((visibility("default"))) NTSTATUS DriverEntry(PDRIVER_OBJECT driver,
                                                                       PUNICODE_STRING registryPath)
{
    DbgPrint("ToolkitTestDriver: DriverEntry\n");
    NTSTATUS status = RkDrvInitializePnpDriver(driver, registryPath);
    if (!NT_SUCCESS(status))
        return status;
    if (!NT_SUCCESS(RkMemoryStart()) || !RkMemoryIsReady()) {
        RkDrvUninitializePnpDriver(driver);
        return STATUS_UNSUCCESSFUL;
    }
    RK_DRIVER_HOOKS hooks{};
    hooks.SetupDeviceResources = Setup;
    hooks.FreeDeviceResources = Release;
    hooks.DeleteDevice = DeleteDevice;
    hooks.DeviceStateForSystemState = PowerFor;
    RkDrvSetHooks(driver, &hooks);
    driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = DeviceControl;
    driver->DriverExtension->AddDevice = AddDevice;
    driver->DriverUnload = Unload;
    return STATUS_SUCCESS;
}
