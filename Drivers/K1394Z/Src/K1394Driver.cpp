// The driver's frame: entry, one device per camera node, create/close/cleanup, the plug-and-play hooks
// (start, resource release, removal, surprise removal, bus reset) and unloading.
#include "K1394Driver.h"

namespace {

// The device counter block: its second word is the number the next device receives.
PULONG g_DeviceCounter;

PK1394_DEVICE_EXTENSION ExtensionOf(PDEVICE_OBJECT device)
{
    return static_cast<PK1394_DEVICE_EXTENSION>(device->DeviceExtension);
}

PK1394_DEVICE_EXTENSION ExtensionOf(RK_DEVICE_INFORMATION* information)
{
    // The toolkit's block starts the extension.
    return reinterpret_cast<PK1394_DEVICE_EXTENSION>(information);
}

// "<prefix>K1394<number>" as a pool string.
NTSTATUS NumberedName(PUNICODE_STRING name, PCWSTR prefix, ULONG number)
{
    NTSTATUS status = RkStrConvertUnicode(name, prefix);
    UNICODE_STRING k1394;
    RtlInitUnicodeString(&k1394, u"K1394");
    if (NT_SUCCESS(status))
        status = RkStrAppend(name, &k1394);
    if (NT_SUCCESS(status))
        status = RkStrAppendNumber(name, number, 10);
    if (!NT_SUCCESS(status))
        RkStrFree(name);
    return status;
}

// ---- Toolkit hooks ----------------------------------------------------------------------------------------------

NTSTATUS SetupDeviceResources(RK_DEVICE_INFORMATION* information)
{
    PK1394_DEVICE_EXTENSION device = ExtensionOf(information);
    NTSTATUS status = Rk1394GetConfiguration(device);
    if (!NT_SUCCESS(status)) {
        DbgPrint("K1394: RkPnpSetupDeviceResources failed on Rk1394GetConfiguration() with status 0x%X\n",
                 unsigned(status));
        return status;
    }
    status = BusResetCallbackHandler(device, TRUE);
    if (!NT_SUCCESS(status)) {
        FreeLocalNodeFifo(device);
        DbgPrint("K1394: K1394InitializeBoard Failed\n");
        return status;
    }
    status = RkPnpEnableDeviceInterface(information);
    if (!NT_SUCCESS(status)) {
        FreeLocalNodeFifo(device);
        DbgPrint("K1394: RkPnpEnableDeviceInterface failed - status (0x%08X)\n", unsigned(status));
        return status;
    }
    DbgPrint("RkPnpSetupDeviceResources:  Returning STATUS_SUCCESS\n");
    return STATUS_SUCCESS;
}

void UnMapDeviceResources(PK1394_DEVICE_EXTENSION device)
{
    DbgPrint("K1394UnMapDeviceResources\n");
    FreeLocalNodeFifo(device);
}

NTSTATUS FreeDeviceResources(RK_DEVICE_INFORMATION* information, BOOLEAN)
{
    PK1394_DEVICE_EXTENSION device = ExtensionOf(information);
    NTSTATUS status = BusResetCallbackHandler(device, FALSE);
    if (!NT_SUCCESS(status)) {
        DbgPrint("RkPnpFreeDeviceResources: BusResetCallbackHandler failed 0x%X\n", unsigned(status));
        return status;
    }
    UnMapDeviceResources(device);
    Rk1394ReleaseConfiguration(device);
    return STATUS_SUCCESS;
}

// Told by the toolkit's removal once the device counts as removed: new requests are refused from here on, so the
// lock the remove hook took goes back before the toolkit waits for requests and deletes the device.
void OnRemoveDevice(RK_DEVICE_INFORMATION* information)
{
    PK1394_DEVICE_EXTENSION device = ExtensionOf(information);
    if (InterlockedExchange(&device->RemoveHoldsLock, 0))
        K1394ReleaseDeviceLock(device);
}

void DeleteDeviceHook(RK_DEVICE_INFORMATION* information)
{
    K1394_DeleteDevice(information->DeviceObject);
}

DEVICE_POWER_STATE DeviceStateForSystemState(RK_DEVICE_INFORMATION* information, SYSTEM_POWER_STATE state)
{
    if (state > PowerSystemWorking)
        return PowerDeviceD3;
    return information->PowerManaged ? static_cast<DEVICE_POWER_STATE>(information->DevicePowerState) : PowerDeviceD0;
}

NTSTATUS NoRegisters(RK_DEVICE_INFORMATION*)
{
    return STATUS_SUCCESS;
}

NTSTATUS K1394_OnPnpRemoveDevice(RK_DEVICE_INFORMATION* information, PIRP irp)
{
    DbgPrint("K1394_Rokit -- K1394_OnPnpRemoveDevice\n");
    PK1394_DEVICE_EXTENSION device = ExtensionOf(information);
    K1394AcquireDeviceLock(device, 0);
    InterlockedExchange(&device->RemoveHoldsLock, 1);
    UnMapDeviceResources(device);
    RkPnpOnPnpRemoveDevice(information, irp);
    return STATUS_SUCCESS;
}

NTSTATUS K1394_OnPnpSurpriseRemoval(RK_DEVICE_INFORMATION* information, PIRP irp)
{
    DbgPrint("K1394_Rokit -- K1394_OnPnpSurpriseRemoval\n");
    PK1394_DEVICE_EXTENSION device = ExtensionOf(information);
    K1394AcquireDeviceLock(device, 0);
    UnMapDeviceResources(device);
    NTSTATUS status = RkPnpOnPnpSurpriseRemoval(information, irp);
    K1394ReleaseDeviceLock(device);
    return status;
}

NTSTATUS OnBusReset(RK_DEVICE_INFORMATION* information, PIRP irp)
{
    PK1394_DEVICE_EXTENSION device = ExtensionOf(information);
    K1394AcquireDeviceLock(device, 0);
    InterlockedExchange(&device->ConfigReread, 1);
    // Read while the request is still ours: once passed down it belongs to the bus.
    const auto generation = static_cast<ULONG>(
        reinterpret_cast<ULONG_PTR>(IoGetCurrentIrpStackLocation(irp)->Parameters.Others.Argument4));
    NTSTATUS status = RkPnpPassIrpDown(information, irp, FALSE, nullptr);
    if (!NT_SUCCESS(status))
        DbgPrint("Rk1394Samp: Failed to pass IRP_MN_BUS_RESET down stack with status %x\n", unsigned(status));
    else
        device->GenerationCount = generation;
    RkPnpDropRequestReference(information);
    K1394ReleaseDeviceLock(device);
    return status;
}

}  // namespace

// ---- The device lock ------------------------------------------------------------------------------------------------

bool K1394AcquireDeviceLock(PK1394_DEVICE_EXTENSION device, ULONG milliseconds)
{
    return RkWaitForEvent(&device->DeviceLock, milliseconds) == STATUS_SUCCESS;
}

void K1394ReleaseDeviceLock(PK1394_DEVICE_EXTENSION device)
{
    KeSetEvent(&device->DeviceLock, 0, FALSE);
}

// ---- Entry and unload ------------------------------------------------------------------------------------------------

NTSTATUS K1394_DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath)
{
    DbgPrint("K1394 -- DriverEntry\n");
    NTSTATUS status = RkDrvInitializePnpDriver(driver, registryPath);
    if (!NT_SUCCESS(status))
        return status;
    RkMemoryStart();
    if (!RkMemoryIsReady()) {
        RkDrvUninitializePnpDriver(driver);
        return STATUS_UNSUCCESSFUL;
    }
    driver->MajorFunction[IRP_MJ_CREATE] = K1394_Create;
    driver->MajorFunction[IRP_MJ_CLOSE] = K1394_Close;
    driver->MajorFunction[IRP_MJ_CLEANUP] = K1394_Cleanup;
    driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = K1394_DeviceControl;
    driver->MajorFunction[IRP_MJ_PNP] = Rk1394PnpDispatch;
    driver->DriverStartIo = nullptr;
    driver->DriverUnload = K1394_DriverUnload;
    driver->DriverExtension->AddDevice = K1394_AddDevice;

    RK_DRIVER_HOOKS hooks{};
    hooks.SetupDeviceResources = SetupDeviceResources;
    hooks.FreeDeviceResources = FreeDeviceResources;
    hooks.OnRemoveDevice = OnRemoveDevice;
    hooks.DeleteDevice = DeleteDeviceHook;
    hooks.DeviceStateForSystemState = DeviceStateForSystemState;
    hooks.SavePowerRegisters = NoRegisters;
    hooks.RestorePowerRegisters = NoRegisters;
    RkDrvSetHooks(driver, &hooks);

    g_DeviceCounter = static_cast<PULONG>(AllocateMemoryK1394(20));
    if (!g_DeviceCounter) {
        RkMemoryStop();
        RkDrvUninitializePnpDriver(driver);
        return STATUS_UNSUCCESSFUL;
    }
    RkMemZero(g_DeviceCounter, 20);
    return STATUS_SUCCESS;
}

void K1394_DriverUnload(PDRIVER_OBJECT driver)
{
    DbgPrint("K1394_DriverUnload\n");
    if (g_DeviceCounter)
        FreeMemoryK1394(g_DeviceCounter);
    g_DeviceCounter = nullptr;
    RkMemoryStop();
    RkDrvUninitializePnpDriver(driver);
}

ULONG K1394NextDeviceNumber()
{
    return g_DeviceCounter ? g_DeviceCounter[1] : 0;
}

// ---- Devices ------------------------------------------------------------------------------------------------------------

NTSTATUS K1394_AddDevice(PDRIVER_OBJECT driver, PDEVICE_OBJECT physicalDevice)
{
    DbgPrint("K1394_AddDevice\n");
    if (!g_DeviceCounter)
        return STATUS_UNSUCCESSFUL;
    const ULONG number = g_DeviceCounter[1];
    PDEVICE_OBJECT deviceObject = nullptr;
    NTSTATUS status = K1394_CreateDevice(RkDrvGetDriverExtension(driver), driver, physicalDevice, number, &deviceObject);
    if (!NT_SUCCESS(status)) {
        if (deviceObject)
            K1394_DeleteDevice(deviceObject);
        DbgPrint("K1394: AddDevice, Create failed 0x%X\n", unsigned(status));
        return status;
    }
    PK1394_DEVICE_EXTENSION device = ExtensionOf(deviceObject);
    device->ConfigArea.SwapFlag = 1;
    device->DeviceNumber = number;
    g_DeviceCounter[1] = number + 1;
    deviceObject->Flags &= ~ULONG(DO_DEVICE_INITIALIZING);
    return STATUS_SUCCESS;
}

NTSTATUS K1394_CreateDevice(RK_DRIVER_EXTENSION* driverExtension, PDRIVER_OBJECT driver, PDEVICE_OBJECT physicalDevice,
                            ULONG number, PDEVICE_OBJECT* deviceObject)
{
    DbgPrint("K1394_CreateDevice\n");
    *deviceObject = nullptr;
    UNICODE_STRING name;
    NTSTATUS status = NumberedName(&name, u"\\Device\\", number);
    if (!NT_SUCCESS(status))
        return status;
    PDEVICE_OBJECT object = nullptr;
    status = IoCreateDevice(driver, sizeof(K1394_DEVICE_EXTENSION), &name, K1394_DEVICE_TYPE, 0, FALSE, &object);
    if (!NT_SUCCESS(status)) {
        DbgPrint("K1394: Unable to create device object\n");
        RkStrFree(&name);
        return status;
    }
    *deviceObject = object;
    PK1394_DEVICE_EXTENSION device = ExtensionOf(object);
    K1394InitializeDeviceExtension(device);
    device->DeviceNumber = number;

    status = Rk1394Initialize(driverExtension, object, &name, physicalDevice);
    RkStrFree(&name);
    if (!NT_SUCCESS(status)) {
        DbgPrint("K1394: Unable to initialize device information\n");
        return status;
    }
    UNICODE_STRING link;
    status = NumberedName(&link, u"", number);
    if (NT_SUCCESS(status)) {
        status = RkDevCreateSymbolicLink(&device->Information, link.Buffer);
        RkStrFree(&link);
    }
    if (!NT_SUCCESS(status)) {
        DbgPrint("K1394_CreateDevice: Failed to create Win32 name\n");
        return status;
    }
    status = RkPnpRegisterDeviceInterface(&device->Information, &K1394_INTERFACE_GUID, nullptr);
    if (!NT_SUCCESS(status)) {
        DbgPrint("K1394: RkPnpRegisterDeviceInterface failed - NtStatus(0x%08X)\n", unsigned(status));
        return status;
    }
    status = RkWmiRegister(&device->Information, &device->Wmi);
    if (!NT_SUCCESS(status))
        return status;
    device->Information.PowerManaged = 0;
    DbgPrint("K1394CreateDevice:  Returning STATUS_SUCCESS\n");
    return STATUS_SUCCESS;
}

void K1394_DeleteDevice(PDEVICE_OBJECT deviceObject)
{
    DbgPrint("K1394_DeleteDevice\n");
    PK1394_DEVICE_EXTENSION device = ExtensionOf(deviceObject);
    if (device->Information.LowerDevice)
        FreeLocalNodeFifo(device);
    Rk1394ReleaseConfiguration(device);
    Rk1394Uninitialize(device);
    IoDeleteDevice(deviceObject);
}

// ---- Create, close, cleanup -------------------------------------------------------------------------------------------

NTSTATUS K1394_Create(PDEVICE_OBJECT deviceObject, PIRP irp)
{
    PK1394_DEVICE_EXTENSION device = ExtensionOf(deviceObject);
    RkPnpTakeRequestReference(&device->Information);
    NTSTATUS status = STATUS_DELETE_PENDING;
    if (K1394IsDeviceUsable(device)) {
        RkDevIncrementHandleCount(&device->Information);
        status = STATUS_SUCCESS;
    }
    irp->IoStatus.Information = 0;
    return RkPnpCompleteRequest(&device->Information, irp, status, IO_NO_INCREMENT);
}

NTSTATUS K1394_Close(PDEVICE_OBJECT deviceObject, PIRP irp)
{
    PK1394_DEVICE_EXTENSION device = ExtensionOf(deviceObject);
    RkPnpTakeRequestReference(&device->Information);
    RkDevDecrementHandleCount(&device->Information);
    irp->IoStatus.Information = 0;
    return RkPnpCompleteRequest(&device->Information, irp, STATUS_SUCCESS, IO_NO_INCREMENT);
}

NTSTATUS K1394_Cleanup(PDEVICE_OBJECT deviceObject, PIRP irp)
{
    DbgPrint("K1394_Cleanup\n");
    PK1394_DEVICE_EXTENSION device = ExtensionOf(deviceObject);
    RkPnpTakeRequestReference(&device->Information);
    irp->IoStatus.Information = 0;
    return RkPnpCompleteRequest(&device->Information, irp, STATUS_SUCCESS, IO_NO_INCREMENT);
}

// ---- Plug and play ----------------------------------------------------------------------------------------------------

NTSTATUS Rk1394PnpDispatch(PDEVICE_OBJECT deviceObject, PIRP irp)
{
    RK_DEVICE_INFORMATION* information = RkDevGetInformation(deviceObject);
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    RK_ASSERT(stack->MajorFunction == IRP_MJ_PNP);
    DbgPrint("Rk1394PnpDispatch: %s, %s\n", RkPnpMajorFunctionName(stack->MajorFunction),
             RkPnpMinorFunctionName(stack->MinorFunction));
    NTSTATUS status;
    if (!RkPnpAdmitRequest(information, irp, &status))
        return status;
    switch (stack->MinorFunction) {
    case IRP_MN_START_DEVICE:
        return RkPnpOnPnpStartDevice(information, irp);
    case IRP_MN_QUERY_REMOVE_DEVICE:
        return RkPnpOnPnpQueryRemoveDevice(information, irp);
    case IRP_MN_REMOVE_DEVICE:
        return K1394_OnPnpRemoveDevice(information, irp);
    case IRP_MN_CANCEL_REMOVE_DEVICE:
        return RkPnpOnPnpCancelRemoveDevice(information, irp);
    case IRP_MN_STOP_DEVICE:
        return RkPnpOnPnpStopDevice(information, irp);
    case IRP_MN_QUERY_STOP_DEVICE:
        return RkPnpOnPnpQueryStopDevice(information, irp);
    case IRP_MN_CANCEL_STOP_DEVICE:
        return RkPnpOnPnpCancelStopDevice(information, irp);
    case IRP_MN_QUERY_CAPABILITIES:
        return RkPnpOnPnpQueryCapabilities(information, irp);
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
        return RkPnpOnPnpPassDown(information, irp);
    case IRP_MN_SURPRISE_REMOVAL:
        return K1394_OnPnpSurpriseRemoval(information, irp);
    case IRP_MN_BUS_RESET:
        return OnBusReset(information, irp);
    default: {
        DbgPrint("Rk1394PnpDispatch - unknown PnP Irp minor function: 0x%X\n", stack->MinorFunction);
        PDEVICE_OBJECT lower = information->LowerDevice;
        status = RkPnpPassIrpDown(information, irp, FALSE, lower);
        RkPnpDropRequestReference(information);
        return status;
    }
    }
}
