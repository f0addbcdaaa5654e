// The device-control protocol: the request header's validation, the refreshes after a bus reset, the table
// dispatch under the device lock and the handlers that answer from the device's own state.
#include <cstring>

#include "K1394Driver.h"

const K1394_FUNCTION g_K1394Functions[] = {
    {IOCTL_K1394_READ_INTEGER, K1394_ReadInteger, "K1394_ReadInteger", 0, 0, 0, 4},
    {IOCTL_K1394_WRITE_INTEGER, K1394_WriteInteger, "K1394_WriteInteger", 0, 0, 4, 0},
    {IOCTL_K1394_ASYNC_READ, K1394_AsyncRead, "K1394_AsyncRead", 0, 0, 0, 0},
    {IOCTL_K1394_CAMERA_DRIVEN_READ, K1394_CameraDrivenRead, "K1394_CameraDrivenRead", 0, 0, 0, 0},
    {IOCTL_K1394_ASYNC_WRITE, K1394_AsyncWrite, "K1394_AsyncWrite", 0, 0, 0, 0},
    {IOCTL_K1394_GET_GENERATION_COUNT, K1394_GetGenerationCount, "K1394_GetGenerationCount", 0, 0, 0, 0},
    {IOCTL_K1394_GET_NAME, K1394_GetName, "K1394_GetName", 0, 0, 0, 12},
    {IOCTL_K1394_GET_CONFIGURATION_AREA, K1394_GetQuarelConfigurationArea, "K1394_GetQuarelConfigurationArea", 0,
     sizeof(K1394_CONFIGURATION_AREA), 0, 0},
    {IOCTL_K1394_GET_CDT_AREA, K1394_GetCameraDrivenTransferArea, "K1394_GetCameraDrivenTransferArea", 0,
     sizeof(K1394_CDT_AREA), 0, 0},
    {0, nullptr, nullptr, 0, 0, 0, 0},
};

namespace {

constexpr char kDriverName[12] = "K1394Driver";

ULONG Low32(const void* pointer)
{
    return static_cast<ULONG>(reinterpret_cast<ULONG_PTR>(pointer));
}

void Refuse(K1394_REQUEST_HEADER* header, NTSTATUS status)
{
    header->Status = ULONG(status);
    header->Success = 0;
}

}  // namespace

// ---- Handlers answered from the device's state -------------------------------------------------------------------

void K1394_GetName(PK1394_DEVICE_EXTENSION, K1394_REQUEST_HEADER* header)
{
    if (header->PayloadCapacity < sizeof kDriverName) {
        header->Status = ULONG(STATUS_BUFFER_TOO_SMALL);
        return;
    }
    std::memcpy(K1394Payload(header), kDriverName, sizeof kDriverName);
    header->OutputSize = sizeof kDriverName;
    header->Status = ULONG(STATUS_SUCCESS);
    header->Success = 1;
}

void K1394_GetGenerationCount(PK1394_DEVICE_EXTENSION device, K1394_REQUEST_HEADER* header)
{
    header->Generation = device->GenerationCount;
    header->Status = ULONG(STATUS_SUCCESS);
    header->Success = 1;
}

void K1394_GetQuarelConfigurationArea(PK1394_DEVICE_EXTENSION device, K1394_REQUEST_HEADER* header)
{
    std::memcpy(K1394Payload(header), &device->ConfigArea, sizeof device->ConfigArea);
    header->OutputSize = sizeof device->ConfigArea;
    header->Status = ULONG(STATUS_SUCCESS);
    header->Success = 1;
}

void K1394_GetCameraDrivenTransferArea(PK1394_DEVICE_EXTENSION device, K1394_REQUEST_HEADER* header)
{
    std::memcpy(K1394Payload(header), &device->CdtArea, sizeof device->CdtArea);
    header->OutputSize = sizeof device->CdtArea;
    header->Status = ULONG(STATUS_SUCCESS);
    header->Success = 1;
}

// ---- Validation and dispatch ----------------------------------------------------------------------------------------

K1394_REQUEST_BUFFER ValidateRequestHeader(PIRP irp)
{
    K1394_REQUEST_BUFFER buffer{};
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    buffer.InputLength = stack->Parameters.DeviceIoControl.InputBufferLength;
    buffer.OutputLength = stack->Parameters.DeviceIoControl.OutputBufferLength;
    PVOID base = nullptr;
    switch (stack->Parameters.DeviceIoControl.IoControlCode & 3) {
    case METHOD_BUFFERED:
        base = irp->AssociatedIrp.SystemBuffer;
        buffer.Accessible = buffer.InputLength > buffer.OutputLength ? buffer.InputLength : buffer.OutputLength;
        break;
    case METHOD_IN_DIRECT:
    case METHOD_OUT_DIRECT:
        if (irp->MdlAddress) {
            base = MmGetSystemAddressForMdlSafe(irp->MdlAddress, NormalPagePriority);
            buffer.Accessible = MmGetMdlByteCount(irp->MdlAddress);
        }
        break;
    default:
        break;
    }
    // No field is read before the buffer holds a whole header.
    if (!base || buffer.Accessible < K1394_HEADER_SIZE)
        return buffer;
    auto* header = static_cast<K1394_REQUEST_HEADER*>(base);
    if (header->Magic != K1394_HEADER_MAGIC)
        return buffer;
    const ULONGLONG in = ULONGLONG(header->InputSize) + K1394_HEADER_SIZE;
    const ULONGLONG out = ULONGLONG(header->OutputSize) + K1394_HEADER_SIZE;
    if (buffer.InputLength < in || buffer.OutputLength < out || buffer.Accessible < in || buffer.Accessible < out)
        return buffer;
    buffer.Header = header;
    return buffer;
}

bool DispatchRequestHeader(PK1394_DEVICE_EXTENSION device, const K1394_FUNCTION* table, const K1394_REQUEST_BUFFER& buffer)
{
    K1394_REQUEST_HEADER* header = buffer.Header;
    if (!table || !header || header->Magic != K1394_HEADER_MAGIC)
        return false;
    header->Success = 0;
    header->Status = ULONG(STATUS_INVALID_PARAMETER);
    const K1394_FUNCTION* row = table;
    while (row->Code != 0 && row->Code != header->FunctionCode)
        ++row;
    if (row->Code == 0) {
        DbgPrint("IoFunctionCode 0x%x is not implemented.", unsigned(header->FunctionCode));
        header->Status = ULONG(STATUS_NOT_IMPLEMENTED);
        return false;
    }
    // The row's minimum sizes, then the bytes a handler touches whatever the header says.
    const ULONGLONG readEnd = ULONGLONG(K1394_HEADER_SIZE) + row->PayloadRead;
    const ULONGLONG writeEnd = ULONGLONG(K1394_HEADER_SIZE) + row->PayloadWritten;
    if (header->InputSize < row->MinimumInput || header->OutputSize < row->MinimumOutput ||
        (row->PayloadRead && (buffer.InputLength < readEnd || buffer.Accessible < readEnd)) ||
        (row->PayloadWritten && (buffer.OutputLength < writeEnd || buffer.Accessible < writeEnd))) {
        DbgPrint("I/O buffer is too small for %s().", row->Name);
        header->Status = ULONG(STATUS_BUFFER_TOO_SMALL);
        return false;
    }
    if (!row->Handler) {
        DbgPrint("%s() is not implemented.", row->Name);
        header->Status = ULONG(STATUS_NOT_IMPLEMENTED);
        return false;
    }
    // The busy flag is claimed before the wait: a request that comes while another runs (or waits for a refresh
    // to give the lock back) is turned away at once, and no two handlers of the device ever run.
    if (InterlockedCompareExchange(&device->Busy, 1, 0) != 0) {
        DbgPrint("%s() failed because K1394 is busy.", row->Name);
        header->Status = ULONG(STATUS_DEVICE_BUSY);
        return false;
    }
    if (!K1394AcquireDeviceLock(device, K1394_DEVICE_LOCK_WAIT_MS)) {
        InterlockedExchange(&device->Busy, 0);
        DbgPrint("%s() failed because K1394 is busy.", row->Name);
        header->Status = ULONG(STATUS_DEVICE_BUSY);
        return false;
    }
    const ULONGLONG start = RkReadTimeStampCounter();
    row->Handler(device, header);
    const ULONGLONG ticks = RkReadTimeStampCounter() - start;
    header->ElapsedTicksLow = ULONG(ticks);
    header->ElapsedTicksHigh = ULONG(ticks >> 32);
    K1394ReleaseDeviceLock(device);
    InterlockedExchange(&device->Busy, 0);
    return true;
}

namespace {

enum class Refresh { Done, Busy, Unusable };

// A refresh takes the device lock whoever holds it, but gives up as busy once a handler has claimed the device:
// the busy answer stays immediate, and a refresh never waits out another request's handler.
bool AcquireForRefresh(PK1394_DEVICE_EXTENSION device)
{
    constexpr ULONG kSliceMs = 10;
    for (ULONG waited = 0; waited < K1394_DEVICE_LOCK_WAIT_MS; waited += kSliceMs) {
        if (InterlockedCompareExchange(&device->Busy, 0, 0) != 0)
            return false;
        if (K1394AcquireDeviceLock(device, kSliceMs))
            return true;
    }
    return false;
}

// Steps 7 and 8: the generation after a bus reset, then the configuration area, each under the device lock.
Refresh RefreshDevice(PK1394_DEVICE_EXTENSION device)
{
    if (InterlockedCompareExchange(&device->BusResetFlag, 0, 0) != 0) {
        if (!AcquireForRefresh(device))
            return Refresh::Busy;
        if (!K1394IsDeviceUsable(device)) {
            K1394ReleaseDeviceLock(device);
            return Refresh::Unusable;
        }
        // Another request may have refreshed while this one waited.
        if (InterlockedCompareExchange(&device->BusResetFlag, 0, 0) != 0) {
            InterlockedExchange(&device->ConfigReread, 1);
            Rk1394GetGenerationNumberFromBus(device);
        }
        K1394ReleaseDeviceLock(device);
    }
    if (InterlockedCompareExchange(&device->ConfigReread, 0, 0) != 0) {
        if (!AcquireForRefresh(device))
            return Refresh::Busy;
        if (!K1394IsDeviceUsable(device)) {
            K1394ReleaseDeviceLock(device);
            return Refresh::Unusable;
        }
        if (InterlockedCompareExchange(&device->ConfigReread, 0, 0) != 0) {
            ReadQuarelConfigurationAreaK1394(device);
            InterlockedExchange(&device->ConfigReread, 0);
        }
        K1394ReleaseDeviceLock(device);
    }
    return Refresh::Done;
}

}  // namespace

NTSTATUS K1394_DeviceControl(PDEVICE_OBJECT deviceObject, PIRP irp)
{
    auto* device = static_cast<PK1394_DEVICE_EXTENSION>(deviceObject->DeviceExtension);
    RK_DEVICE_INFORMATION* information = &device->Information;
    NTSTATUS status;
    if (!RkPnpAdmitRequest(information, irp, &status))
        return status;
    status = STATUS_NOT_IMPLEMENTED;
    irp->IoStatus.Information = 0;

    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    if (stack->MajorFunction != IRP_MJ_DEVICE_CONTROL) {
        DbgPrint("K1394_DeviceControl failed: Received major function code = 0x%x.", unsigned(stack->MajorFunction));
        return RkPnpCompleteRequest(information, irp, status, IO_NO_INCREMENT);
    }
    const K1394_REQUEST_BUFFER buffer = ValidateRequestHeader(irp);
    K1394_REQUEST_HEADER* header = buffer.Header;
    if (!header)
        return RkPnpCompleteRequest(information, irp, STATUS_INVALID_PARAMETER, IO_NO_INCREMENT);

    // Low 32 bits of the references, held only while the request runs.
    header->DeviceReference = Low32(device);
    header->RequestReference = Low32(irp);
    ULONG_PTR returned = 0;
    bool answer = true;
    if (!K1394IsDeviceUsable(device)) {
        Refuse(header, STATUS_NO_SUCH_DEVICE);
    } else {
        switch (RefreshDevice(device)) {
        case Refresh::Busy:
            Refuse(header, STATUS_DEVICE_BUSY);
            break;
        case Refresh::Unusable:
            Refuse(header, STATUS_NO_SUCH_DEVICE);
            answer = false;
            break;
        case Refresh::Done:
            if (!K1394IsDeviceUsable(device)) {
                Refuse(header, STATUS_NO_SUCH_DEVICE);
                answer = false;
            } else {
                DispatchRequestHeader(device, g_K1394Functions, buffer);
            }
            break;
        }
    }
    header->DeviceReference = 0;
    header->RequestReference = 0;
    if (!answer)
        return RkPnpCompleteRequest(information, irp, STATUS_NOT_IMPLEMENTED, IO_NO_INCREMENT);
    if (!K1394IsDeviceUsable(device)) {
        Refuse(header, STATUS_NO_SUCH_DEVICE);
    } else {
        header->Generation = device->GenerationCount;
        const ULONGLONG bytes = ULONGLONG(header->OutputSize) + K1394_HEADER_SIZE;
        returned = ULONG_PTR(bytes < buffer.OutputLength ? bytes : buffer.OutputLength);
    }
    irp->IoStatus.Information = returned;
    return RkPnpCompleteRequest(information, irp, STATUS_SUCCESS, IO_NO_INCREMENT);
}
