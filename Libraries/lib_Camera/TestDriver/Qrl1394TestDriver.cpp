// A 1394 camera driver of the tests only, for the payload-only request form: it publishes the older driver's
// interface class, calls itself "QRL1394", and serves reads (0x8125200C) and writes (0x81252012) whose payload
// starts with the prefix {0, high, low, length, 128, 0, 0} as bus requests to the camera below it. A buffer that
// starts with a request header's magic is refused.
//
// The environment variable QRL1394_TEST_KNOBS (read when the driver loads) makes it misbehave on purpose, for the
// next N reads and writes of the process: "busy=N" (they fail busy), "fail=N" (they fail), "short=N" (reads
// answer 16 bytes). Several are separated by spaces or commas and spent in that order.
#include <cstdlib>
#include <cstring>

#include "Platform1394.h"
#include "RkDevice.h"

namespace {

// {951D5930-C789-11D3-9408-009027CB058D}
constexpr GUID kInterface = {0x951D5930, 0xC789, 0x11D3, {0x94, 0x08, 0x00, 0x90, 0x27, 0xCB, 0x05, 0x8D}};

constexpr ULONG kCodeGetName = 0x81252004;
constexpr ULONG kCodeRead = 0x8125200C;
constexpr ULONG kCodeWrite = 0x81252012;
constexpr ULONG kMagic = 0x01020304;
constexpr ULONG kPrefix = 28;
constexpr ULONG kTrailer = 4;
constexpr ULONG kBlock = 2048;

struct TestExtension {
    RK_DEVICE_INFORMATION Information;  // first: the toolkit's block
    RK_WMI_INFORMATION Wmi;
    KEVENT Lock;  // one request at a time on the bus
};

volatile LONG g_NextNumber;
volatile LONG g_Busy;
volatile LONG g_Fail;
volatile LONG g_Short;

ULONG WordAt(const UCHAR* bytes, ULONG index)
{
    ULONG v;
    std::memcpy(&v, bytes + 4 * index, 4);
    return v;
}

// Takes one from the counter while it is above 0.
bool Spend(volatile LONG* counter)
{
    for (;;) {
        LONG n = InterlockedCompareExchange(counter, 0, 0);
        if (n <= 0)
            return false;
        if (InterlockedCompareExchange(counter, n - 1, n) == n)
            return true;
    }
}

void ReadKnobs()
{
    const char* text = std::getenv("QRL1394_TEST_KNOBS");
    if (!text)
        return;
    struct Knob {
        const char* name;
        volatile LONG* counter;
    } knobs[] = {{"busy=", &g_Busy}, {"fail=", &g_Fail}, {"short=", &g_Short}};
    for (const Knob& k : knobs) {
        const char* at = std::strstr(text, k.name);
        if (at)
            InterlockedExchange(k.counter, static_cast<LONG>(std::strtol(at + std::strlen(k.name), nullptr, 10)));
    }
}

NTSTATUS IrbDone(PDEVICE_OBJECT, PIRP, PVOID context)
{
    KeSetEvent(static_cast<PKEVENT>(context), 0, FALSE);
    return STATUS_MORE_PROCESSING_REQUIRED;
}

NTSTATUS SubmitIrb(RK_DEVICE_INFORMATION* info, IRB* irb)
{
    PDEVICE_OBJECT lower = info->LowerDevice;
    if (!lower)
        return STATUS_NO_SUCH_DEVICE;
    PIRP irp = IoAllocateIrp(lower->StackSize, FALSE);
    if (!irp)
        return STATUS_INSUFFICIENT_RESOURCES;
    KEVENT done;
    KeInitializeEvent(&done, NotificationEvent, FALSE);
    PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
    next->MajorFunction = IRP_MJ_INTERNAL_DEVICE_CONTROL;
    next->Parameters.DeviceIoControl.IoControlCode = IOCTL_1394_CLASS;
    next->Parameters.Others.Argument1 = irb;
    IoSetCompletionRoutine(irp, IrbDone, &done, TRUE, TRUE, TRUE);
    irp->IoStatus.Status = STATUS_SUCCESS;
    IoCallDriver(lower, irp);
    KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, nullptr);
    const NTSTATUS status = irp->IoStatus.Status;
    IoFreeIrp(irp);
    return status;
}

// One asynchronous read or write of the camera's bytes at high:low, at the bus's current generation (asked again
// once when it moved on meanwhile).
NTSTATUS Transfer(RK_DEVICE_INFORMATION* info, bool write, ULONG high, ULONG low, PUCHAR bytes, ULONG length)
{
    PMDL mdl = IoAllocateMdl(bytes, length, FALSE, FALSE, nullptr);
    if (!mdl)
        return STATUS_INSUFFICIENT_RESOURCES;
    MmProbeAndLockPages(mdl, KernelMode, IoModifyAccess);
    NTSTATUS status = STATUS_UNSUCCESSFUL;
    for (int attempt = 0; attempt < 2; ++attempt) {
        IRB irb{};
        irb.FunctionNumber = REQUEST_GET_GENERATION_COUNT;
        status = SubmitIrb(info, &irb);
        if (!NT_SUCCESS(status))
            break;
        const ULONG generation = irb.u.GetGenerationCount.GenerationCount;
        irb = IRB{};
        irb.FunctionNumber = write ? REQUEST_ASYNC_WRITE : REQUEST_ASYNC_READ;
        auto& t = irb.u.AsyncTransfer;
        t.DestinationAddress.Off_High = USHORT(high);
        t.DestinationAddress.Off_Low = low;
        t.nNumberOfBytesToRead = length;
        t.nBlockSize = kBlock;
        t.Mdl = mdl;
        t.ulGeneration = generation;
        status = SubmitIrb(info, &irb);
        if (status != STATUS_INVALID_GENERATION)
            break;
    }
    MmUnlockPages(mdl);
    IoFreeMdl(mdl);
    return status;
}

NTSTATUS Setup(RK_DEVICE_INFORMATION* info)
{
    NTSTATUS status = RkPnpEnableDeviceInterface(info);
    return NT_SUCCESS(status) || status == STATUS_OBJECT_NAME_EXISTS ? STATUS_SUCCESS : status;
}

NTSTATUS Release(RK_DEVICE_INFORMATION*, BOOLEAN)
{
    return STATUS_SUCCESS;
}

DEVICE_POWER_STATE PowerFor(RK_DEVICE_INFORMATION*, SYSTEM_POWER_STATE state)
{
    return state > PowerSystemWorking ? PowerDeviceD3 : PowerDeviceD0;
}

// Serves one request; *information gets the bytes of the reply.
NTSTATUS Serve(TestExtension* ext, ULONG code, PUCHAR in, ULONG inLength, PUCHAR out, ULONG outLength,
               ULONG_PTR* information)
{
    if (inLength >= 4 && WordAt(in, 0) == kMagic) {
        DbgPrint("Qrl1394TestDriver: refused a request header (code 0x%08X)\n", unsigned(code));
        return STATUS_INVALID_PARAMETER;
    }
    if (code == kCodeGetName) {
        static const char kName[16] = "QRL1394";
        if (!out || outLength < 8)
            return STATUS_BUFFER_TOO_SMALL;
        const ULONG n = outLength < sizeof kName ? outLength : ULONG(sizeof kName);
        RtlCopyMemory(out, kName, n);
        *information = n;
        return STATUS_SUCCESS;
    }
    if (code != kCodeRead && code != kCodeWrite)
        return STATUS_INVALID_DEVICE_REQUEST;
    if (!in || inLength < kPrefix || WordAt(in, 0) != 0 || WordAt(in, 4) != 128)
        return STATUS_INVALID_PARAMETER;
    const ULONG high = WordAt(in, 1), low = WordAt(in, 2), length = WordAt(in, 3);
    const ULONGLONG whole = ULONGLONG(length) + kPrefix + kTrailer;
    if (high > 0xFFFF || length == 0 || whole > (code == kCodeRead ? outLength : inLength) ||
        (code == kCodeRead && whole > inLength))
        return STATUS_INVALID_PARAMETER;
    if (Spend(&g_Busy))
        return STATUS_DEVICE_BUSY;
    if (Spend(&g_Fail))
        return STATUS_UNSUCCESSFUL;
    const bool shortReply = code == kCodeRead && Spend(&g_Short);

    KeWaitForSingleObject(&ext->Lock, Executive, KernelMode, FALSE, nullptr);
    NTSTATUS status;
    if (code == kCodeRead) {
        // The reply: the prefix as it came, the data, and a zero trailer.
        status = Transfer(&ext->Information, false, high, low, out + kPrefix, length);
        if (NT_SUCCESS(status)) {
            RtlMoveMemory(out, in, kPrefix);
            RtlZeroMemory(out + kPrefix + length, kTrailer);
            *information = shortReply ? 16 : ULONG_PTR(whole);
        }
    } else {
        status = Transfer(&ext->Information, true, high, low, in + kPrefix, length);
        if (NT_SUCCESS(status) && out) {
            const ULONG n = outLength < kPrefix + kTrailer ? outLength : kPrefix + kTrailer;
            RtlZeroMemory(out, n);
            RtlCopyMemory(out, in, n < kPrefix ? n : kPrefix);
            *information = n;
        }
    }
    KeSetEvent(&ext->Lock, 0, FALSE);
    return status;
}

NTSTATUS DeviceControl(PDEVICE_OBJECT device, PIRP irp)
{
    auto* ext = static_cast<TestExtension*>(device->DeviceExtension);
    RK_DEVICE_INFORMATION* info = &ext->Information;
    NTSTATUS status;
    if (!RkPnpAdmitRequest(info, irp, &status))
        return status;
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    const ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
    const ULONG inLength = stack->Parameters.DeviceIoControl.InputBufferLength;
    const ULONG outLength = stack->Parameters.DeviceIoControl.OutputBufferLength;
    auto* system = static_cast<PUCHAR>(irp->AssociatedIrp.SystemBuffer);
    PUCHAR out = system;
    if ((code & 3) == METHOD_OUT_DIRECT || (code & 3) == METHOD_IN_DIRECT)
        out = irp->MdlAddress ? static_cast<PUCHAR>(MmGetSystemAddressForMdlSafe(irp->MdlAddress, NormalPagePriority))
                              : nullptr;
    ULONG_PTR information = 0;
    if ((code & 3) == METHOD_BUFFERED || (code & 3) == METHOD_OUT_DIRECT || (code & 3) == METHOD_IN_DIRECT)
        status = Serve(ext, code, system, system ? inLength : 0, out, out ? outLength : 0, &information);
    else
        status = STATUS_INVALID_DEVICE_REQUEST;
    irp->IoStatus.Information = NT_ERROR(status) ? 0 : information;
    return RkPnpCompleteRequest(info, irp, status, IO_NO_INCREMENT);
}

void DeleteDevice(RK_DEVICE_INFORMATION* info)
{
    PDEVICE_OBJECT device = info->DeviceObject;
    RkDevUninitialize(info);
    IoDeleteDevice(device);
}

NTSTATUS AddDevice(PDRIVER_OBJECT driver, PDEVICE_OBJECT physicalDevice)
{
    const ULONG number = static_cast<ULONG>(InterlockedIncrement(&g_NextNumber) - 1);
    UNICODE_STRING name;
    NTSTATUS status = RkStrConvertUnicode(&name, u"\\Device\\Qrl1394_");
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
    KeInitializeEvent(&ext->Lock, SynchronizationEvent, TRUE);
    RK_DEVICE_INFORMATION* info = &ext->Information;
    status = RkDevInitialize(RkDrvGetDriverExtension(driver), info, device, physicalDevice, &name);
    RkStrFree(&name);
    if (NT_SUCCESS(status))
        status = RkPnpRegisterDeviceInterface(info, &kInterface, nullptr);
    if (NT_SUCCESS(status))
        status = RkWmiRegister(info, &ext->Wmi);
    if (!NT_SUCCESS(status)) {
        DbgPrint("Qrl1394TestDriver: AddDevice failed 0x%08X\n", static_cast<ULONG>(status));
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
    RkDrvUninitializePnpDriver(driver);
    RkMemoryStop();
}

}  // namespace

extern "C" __attribute__((visibility("default"))) NTSTATUS DriverEntry(PDRIVER_OBJECT driver,
                                                                       PUNICODE_STRING registryPath)
{
    DbgPrint("Qrl1394TestDriver: DriverEntry\n");
    NTSTATUS status = RkDrvInitializePnpDriver(driver, registryPath);
    if (!NT_SUCCESS(status))
        return status;
    if (!NT_SUCCESS(RkMemoryStart()) || !RkMemoryIsReady()) {
        RkDrvUninitializePnpDriver(driver);
        return STATUS_UNSUCCESSFUL;
    }
    ReadKnobs();
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
