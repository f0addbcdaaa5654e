// The bus-request layer: IRB contexts, synchronous submission, configuration and generation requests,
// asynchronous transfers in bus-sized pieces, quadlets in the camera's byte order, and the local node's receive
// FIFO with its address range.
#include <cstring>
#include <initializer_list>

#include "K1394Device.h"

std::atomic<ULONG> g_K1394ReadBlockSize{K1394_DEFAULT_BLOCK_SIZE};
std::atomic<ULONG> g_K1394WriteBlockSize{K1394_DEFAULT_BLOCK_SIZE};

namespace {

constexpr ULONG kDriverTag = KernTag("DRKC");
constexpr ULONG kWdmTag = KernTag("Wdm ");

LARGE_INTEGER RelativeMs(LONGLONG ms)
{
    LARGE_INTEGER t;
    t.QuadPart = -ms * 10000;
    return t;
}

ULONG Reverse(ULONG v) { return (v >> 24) | ((v >> 8) & 0xFF00) | ((v << 8) & 0xFF0000) | (v << 24); }

void FreeMdl(PMDL mdl)
{
    if (!mdl)
        return;
    if (mdl->MdlFlags & MDL_PAGES_LOCKED)
        MmUnlockPages(mdl);
    IoFreeMdl(mdl);
}

PIRP AllocateIrpK1394(PK1394_DEVICE_EXTENSION device, PIRB irb)
{
    if (KeGetCurrentIrql() > DISPATCH_LEVEL)
        return nullptr;
    PDEVICE_OBJECT lower = device->Information.LowerDevice;
    PIRP irp = IoAllocateIrp(lower->StackSize, FALSE);
    if (!irp)
        return nullptr;
    RkPnpTakeRequestReference(&device->Information);
    PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
    next->MajorFunction = IRP_MJ_INTERNAL_DEVICE_CONTROL;
    next->Parameters.DeviceIoControl.IoControlCode = IOCTL_1394_CLASS;
    next->Parameters.Others.Argument1 = irb;
    return irp;
}

bool IsStaleGeneration(NTSTATUS status)
{
    return status == STATUS_INVALID_GENERATION || status == STATUS_INVALID_GENERATION_OLD1 ||
           status == STATUS_INVALID_GENERATION_OLD2;
}

}  // namespace

bool K1394IsDeviceUsable(PK1394_DEVICE_EXTENSION device)
{
    return device && !InterlockedCompareExchange(&device->IrbPoolFault, 0, 0) && RkDevIsUsable(&device->Information);
}

// ---- Initialisation and the IRB context pool ------------------------------------------------------------------

NTSTATUS Rk1394Initialize(RK_DRIVER_EXTENSION* driverExtension, PDEVICE_OBJECT deviceObject, PUNICODE_STRING deviceName,
                          PDEVICE_OBJECT physicalDevice)
{
    auto* device = static_cast<PK1394_DEVICE_EXTENSION>(deviceObject->DeviceExtension);
    NTSTATUS status = RkDevInitialize(driverExtension, &device->Information, deviceObject, physicalDevice, deviceName);
    if (!NT_SUCCESS(status)) {
        DbgPrint("Rk1394: Rk1394Initialize failed on RkDevInitialize with status 0x%X\n", unsigned(status));
        return status;
    }
    ExInitializeNPagedLookasideList(&device->IrbPool, nullptr, nullptr, 0, sizeof(IRB_CONTEXT), kDriverTag, 0);
    device->IrbPoolReady = 1;
    return STATUS_SUCCESS;
}

void Rk1394Uninitialize(PK1394_DEVICE_EXTENSION device)
{
    RkDevUninitialize(&device->Information);
    if (device->IrbPoolReady) {
        ExDeleteNPagedLookasideList(&device->IrbPool);
        device->IrbPoolReady = 0;
    }
}

PIRB_CONTEXT Rk1394AllocateIrbContext(PK1394_DEVICE_EXTENSION device)
{
    if (!device->IrbPoolReady || device->IrbPool.Tag != kDriverTag || device->IrbPool.Size < sizeof(IRB_CONTEXT) ||
        !device->IrbPool.Allocate) {
        InterlockedExchange(&device->IrbPoolFault, 1);
        return nullptr;
    }
    if (KeGetCurrentIrql() > DISPATCH_LEVEL)
        return nullptr;
    auto* context = static_cast<PIRB_CONTEXT>(ExAllocateFromNPagedLookasideList(&device->IrbPool));
    if (!context)
        return nullptr;
    std::memset(context, 0, sizeof *context);
    context->Signature = IRB_CONTEXT_SIGNATURE;
    context->Owner = device;
    return context;
}

void Rk1394FreeIrbContext(PK1394_DEVICE_EXTENSION device, PIRB_CONTEXT context)
{
    if (!context || context->Signature != IRB_CONTEXT_SIGNATURE || context->Owner != device)
        return;
    context->Signature = 0;
    ExFreeToNPagedLookasideList(&device->IrbPool, context);
}

// ---- Submission ----------------------------------------------------------------------------------------------------

NTSTATUS Rk1394SubmitIrb(PK1394_DEVICE_EXTENSION device, PIRB_CONTEXT context)
{
    KeWaitForSingleObject(&device->SubmitLock, Executive, KernelMode, FALSE, nullptr);
    NTSTATUS status;
    if (!context) {
        DbgPrint("Rk1394SubmitIrb -- Missing IrbContext.\n");
        status = STATUS_INVALID_PARAMETER;
    } else if (!device->Information.LowerDevice) {
        DbgPrint("Rk1394SubmitIrb -- Missing bus device object.\n");
        FreeMdl(context->Mdl);
        Rk1394FreeIrbContext(device, context);
        status = STATUS_INVALID_PARAMETER;
    } else if (PIRP irp = AllocateIrpK1394(device, &context->Irb); !irp) {
        DbgPrint("Rk1394SubmitIrb -- AllocateIrpK1394 failed.\n");
        FreeMdl(context->Mdl);
        Rk1394FreeIrbContext(device, context);
        status = STATUS_INSUFFICIENT_RESOURCES;
    } else {
        IoSetCompletionRoutine(irp, Rk1394SubmitIrbCR, context, TRUE, TRUE, TRUE);
        irp->IoStatus.Status = STATUS_SUCCESS;
        KeResetEvent(&device->IrbDone);
        device->IrbStatus = STATUS_PENDING;
        IoCallDriver(device->Information.LowerDevice, irp);
        // The completion routine signals the event however the bus answered.
        KeWaitForSingleObject(&device->IrbDone, Executive, KernelMode, FALSE, nullptr);
        status = device->IrbStatus;
    }
    if (IsStaleGeneration(status)) {
        DbgPrint("Rk1394SubmitIrb: generation number error, status = 0x%X.\n", unsigned(status));
        LARGE_INTEGER pause = RelativeMs(30);
        KeDelayExecutionThread(KernelMode, FALSE, &pause);
        InterlockedExchange(&device->BusResetFlag, 1);
    }
    KeSetEvent(&device->SubmitLock, 0, FALSE);
    return status;
}

NTSTATUS Rk1394SubmitIrbCR(PDEVICE_OBJECT, PIRP irp, PVOID contextPointer)
{
    // The request is ours (made for the bus): it has no stack location of ours to carry a pending mark.
    auto* context = static_cast<PIRB_CONTEXT>(contextPointer);
    if (!context || context->Signature != IRB_CONTEXT_SIGNATURE) {
        DbgPrint("Rk1394SubmitIrbCR failed.\n");
        return STATUS_MORE_PROCESSING_REQUIRED;
    }
    PK1394_DEVICE_EXTENSION device = context->Owner;
    const NTSTATUS status = irp->IoStatus.Status;
    const IRB& irb = context->Irb;
    if (NT_SUCCESS(status)) {
        switch (irb.FunctionNumber) {
        case REQUEST_ALLOCATE_ADDRESS_RANGE:
            device->AddressesReturned = irb.u.AllocateAddressRange.AddressesReturned;
            device->AddressRangeHandle = irb.u.AllocateAddressRange.hAddressRange;
            break;
        case REQUEST_GET_CONFIGURATION_INFO:
            if (context->SizeQuery) {
                device->UnitDirectorySize = irb.u.GetConfigurationInformation.UnitDirectoryBufferSize;
                device->UnitDependentDirectorySize = irb.u.GetConfigurationInformation.UnitDependentDirectoryBufferSize;
                device->VendorLeafSize = irb.u.GetConfigurationInformation.VendorLeafBufferSize;
                device->ModelLeafSize = irb.u.GetConfigurationInformation.ModelLeafBufferSize;
            }
            break;
        case REQUEST_GET_GENERATION_COUNT:
            device->GenerationCount = irb.u.GetGenerationCount.GenerationCount;
            break;
        default:
            break;
        }
    }
    FreeMdl(context->Mdl);
    context->Mdl = nullptr;
    RkPnpDropRequestReference(&device->Information);
    IoFreeIrp(irp);
    Rk1394FreeIrbContext(device, context);
    device->IrbStatus = status;
    KeSetEvent(&device->IrbDone, 0, FALSE);
    return STATUS_MORE_PROCESSING_REQUIRED;
}

// ---- Configuration, generation, host capabilities, bus-reset notification -----------------------------------

NTSTATUS Rk1394GetConfiguration(PK1394_DEVICE_EXTENSION device)
{
    DbgPrint("Rk1394GetConfiguration\n");
    NTSTATUS status = Rk1394GetGenerationNumberFromBus(device);
    if (!NT_SUCCESS(status)) {
        DbgPrint("Rk1394GetConfiguration: Failed to get generation number 0x%X\n", unsigned(status));
        return status;
    }
    status = GetLocalNodeCapabilities(device);
    if (!NT_SUCCESS(status))
        DbgPrint("Rk1394GetConfiguration: GetLocalNodeCapabilities failed 0x%X\n", unsigned(status));
    return Rk1394GetConfigurationInfo(device);
}

NTSTATUS Rk1394GetGenerationNumberFromBus(PK1394_DEVICE_EXTENSION device)
{
    DbgPrint("Rk1394GetGenerationNumberFromBus\n");
    PIRB_CONTEXT context = Rk1394AllocateIrbContext(device);
    if (!context) {
        DbgPrint("Rk1394: Rk1394GetGenerationNumberFromBus: Rk1394AllocateIrbContext failed\n");
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    context->Irb.FunctionNumber = REQUEST_GET_GENERATION_COUNT;
    NTSTATUS status = Rk1394SubmitIrb(device, context);
    if (NT_SUCCESS(status))
        InterlockedExchange(&device->BusResetFlag, 0);
    else
        DbgPrint("Rk1394 GetGenerationNumberFromBus: Rk1394SubmitIrb failed 0x%X\n", unsigned(status));
    return status;
}

NTSTATUS GetLocalNodeCapabilities(PK1394_DEVICE_EXTENSION device)
{
    static_assert(offsetof(K1394_DEVICE_EXTENSION, MaxAsyncReadRequest) ==
                  offsetof(K1394_DEVICE_EXTENSION, HostCapabilities) + offsetof(GET_LOCAL_HOST_INFO2, MaxAsyncReadRequest));
    static_assert(offsetof(K1394_DEVICE_EXTENSION, MaxAsyncWriteRequest) ==
                  offsetof(K1394_DEVICE_EXTENSION, HostCapabilities) + offsetof(GET_LOCAL_HOST_INFO2, MaxAsyncWriteRequest));
    DbgPrint("GetLocalNodeCapabilities\n");
    device->MaxAsyncReadRequest = K1394_DEFAULT_BLOCK_SIZE;
    device->MaxAsyncWriteRequest = K1394_DEFAULT_BLOCK_SIZE;
    PIRB_CONTEXT context = Rk1394AllocateIrbContext(device);
    if (!context)
        return STATUS_INSUFFICIENT_RESOURCES;
    context->Irb.FunctionNumber = REQUEST_GET_LOCAL_HOST_INFO;
    context->Irb.u.GetLocalHostInformation.nLevel = GET_HOST_CAPABILITIES;
    context->Irb.u.GetLocalHostInformation.Information = &device->HostCapabilities;
    NTSTATUS status = Rk1394SubmitIrb(device, context);
    if (!NT_SUCCESS(status))
        DbgPrint("GetLocalNodeCapabilities: SubmitIrb for REQUEST_GET_LOCAL_HOST_INFO failed %x.\n", unsigned(status));
    return status;
}

void Rk1394ReleaseConfiguration(PK1394_DEVICE_EXTENSION device)
{
    DbgPrint("Rk1394ReleaseConfiguration\n");
    for (PVOID* buffer : {&device->ConfigRom, &device->UnitDirectory, &device->UnitDependentDirectory,
                          &device->VendorLeaf, &device->ModelLeaf}) {
        if (*buffer)
            ExFreePoolWithTag(*buffer, kDriverTag);
        *buffer = nullptr;
    }
}

NTSTATUS Rk1394GetConfigurationInfo(PK1394_DEVICE_EXTENSION device)
{
    PIRB_CONTEXT context = Rk1394AllocateIrbContext(device);
    if (!context)
        return STATUS_INSUFFICIENT_RESOURCES;
    context->Irb.FunctionNumber = REQUEST_GET_CONFIGURATION_INFO;
    context->SizeQuery = 1;
    NTSTATUS status = Rk1394SubmitIrb(device, context);
    if (!NT_SUCCESS(status))
        return status;

    Rk1394ReleaseConfiguration(device);
    auto allocate = [](ULONG size) { return size ? ExAllocatePoolWithTag(NonPagedPool, size, kDriverTag) : nullptr; };
    device->ConfigRom = allocate(CONFIG_ROM_SIZE);
    device->UnitDirectory = allocate(device->UnitDirectorySize ? device->UnitDirectorySize : sizeof(ULONG));
    device->UnitDependentDirectory = allocate(device->UnitDependentDirectorySize);
    device->VendorLeaf = allocate(device->VendorLeafSize);
    device->ModelLeaf = allocate(device->ModelLeafSize);
    context = nullptr;
    if (!device->ConfigRom || !device->UnitDirectory || (device->UnitDependentDirectorySize && !device->UnitDependentDirectory) ||
        (device->VendorLeafSize && !device->VendorLeaf) || (device->ModelLeafSize && !device->ModelLeaf) ||
        !(context = Rk1394AllocateIrbContext(device))) {
        DbgPrint("Rk1394GetConfigurationInfo: ExAllocatePool failed\n");
        Rk1394ReleaseConfiguration(device);
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    auto& c = context->Irb.u.GetConfigurationInformation;
    context->Irb.FunctionNumber = REQUEST_GET_CONFIGURATION_INFO;
    c.ConfigRom = device->ConfigRom;
    c.UnitDirectoryBufferSize = device->UnitDirectorySize;
    c.UnitDirectory = device->UnitDirectory;
    c.UnitDependentDirectoryBufferSize = device->UnitDependentDirectorySize;
    c.UnitDependentDirectory = device->UnitDependentDirectory;
    c.VendorLeafBufferSize = device->VendorLeafSize;
    c.VendorLeaf = device->VendorLeaf;
    c.ModelLeafBufferSize = device->ModelLeafSize;
    c.ModelLeaf = device->ModelLeaf;
    return Rk1394SubmitIrb(device, context);
}

void K1394BusResetNotification(PVOID context)
{
    auto* device = static_cast<PK1394_DEVICE_EXTENSION>(context);
    InterlockedExchange(&device->BusResetFlag, 1);
}

NTSTATUS BusResetCallbackHandler(PK1394_DEVICE_EXTENSION device, BOOLEAN registerIt)
{
    PIRB_CONTEXT context = Rk1394AllocateIrbContext(device);
    if (!context)
        return STATUS_INSUFFICIENT_RESOURCES;
    context->Irb.FunctionNumber = REQUEST_BUS_RESET_NOTIFICATION;
    context->Irb.u.BusResetNotification.fulFlags = registerIt ? REGISTER_NOTIFICATION_ROUTINE : DEREGISTER_NOTIFICATION_ROUTINE;
    context->Irb.u.BusResetNotification.ResetRoutine = K1394BusResetNotification;
    context->Irb.u.BusResetNotification.ResetContext = device;
    NTSTATUS status = Rk1394SubmitIrb(device, context);
    if (!NT_SUCCESS(status))
        DbgPrint("BusResetCallbackHandler: SubmitIrb for REQUEST_BUS_RESET_NOTIFICATION failed %x.\n", unsigned(status));
    return status;
}

// ---- Asynchronous transfers ---------------------------------------------------------------------------------------

NTSTATUS Rk1394AsyncTransfer(PK1394_DEVICE_EXTENSION device, PVOID buffer, ULONG direction, ULONG length,
                             USHORT offsetHigh, ULONG offsetLow, ULONG blockSize)
{
    if (!K1394IsDeviceUsable(device)) {
        DbgPrint("Rk1394AsyncTransfer: Driver stopped, return unsuccessful\n");
        return STATUS_NO_SUCH_DEVICE;
    }
    if (direction > 1)
        return STATUS_INVALID_PARAMETER;
    PMDL mdl = IoAllocateMdl(buffer, length, FALSE, FALSE, nullptr);
    if (!mdl) {
        DbgPrint("Rk1394AsyncTransfer: IoAllocateMdl failed\n");
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    MmProbeAndLockPages(mdl, KernelMode, IoModifyAccess);
    mdl->MdlFlags |= MDL_MAPPING_CAN_FAIL;
    MmGetSystemAddressForMdlSafe(mdl, NormalPagePriority);
    PIRB_CONTEXT context = Rk1394AllocateIrbContext(device);
    if (!context) {
        FreeMdl(mdl);
        DbgPrint("Rk1394AsyncTransfer: Rk1394AllocateIrbContext failed\n");
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    auto& t = context->Irb.u.AsyncTransfer;
    context->Irb.FunctionNumber = direction == 0 ? REQUEST_ASYNC_READ : REQUEST_ASYNC_WRITE;
    t.DestinationAddress.Off_High = offsetHigh;
    t.DestinationAddress.Off_Low = offsetLow;
    t.nNumberOfBytesToRead = length;
    t.nBlockSize = blockSize;
    t.fulFlags = 0;
    t.Mdl = mdl;
    t.ulGeneration = device->GenerationCount;
    context->Mdl = mdl;
    return Rk1394SubmitIrb(device, context);
}

ULONG ChunkSize(ULONG remaining, ULONG limit, ULONG packet)
{
    ULONG size = remaining < limit ? remaining : limit;
    ULONG p = packet & ~3u;
    if (p != 0 && p < size && size / p > 4)
        size = 4 * p;
    return size;
}

namespace {

ULONG TransferChunked(PK1394_DEVICE_EXTENSION device, K1394_REQUEST_HEADER* header, ULONG offsetLow,
                      ULONG offsetHigh, PVOID buffer, ULONG length, ULONG direction)
{
    if ((offsetLow & 3) != 0 || (reinterpret_cast<ULONG_PTR>(buffer) & 3) != 0)
        return 0;
    const K1394_CONFIGURATION_AREA& area = device->ConfigArea;
    ULONG block = header->BlockSize;
    const ULONG maximum = direction == 0 ? area.MaxReadPacketSize : area.MaxWritePacketSize;
    if (area.ReadAttempted && maximum < block)
        block = maximum;
    if (block == 0)
        block = K1394_DEFAULT_BLOCK_SIZE;
    (direction == 0 ? g_K1394ReadBlockSize : g_K1394WriteBlockSize) = block;

    ULONGLONG offset = ULONGLONG(offsetHigh) << 32 | offsetLow;
    auto* bytes = static_cast<PUCHAR>(buffer);
    ULONG remaining = length;
    while (remaining > 0) {
        ULONG chunk = ChunkSize(remaining, remaining, block);
        NTSTATUS status = Rk1394AsyncTransfer(device, bytes, direction, chunk, USHORT(offset >> 32), ULONG(offset), block);
        header->Status = ULONG(status);
        if (status < 0) {
            DbgPrint(direction == 0 ? "Call to 1394 bus driver failed: 0x%X\n" : "Rk1394AsyncTransfer write failed: 0x%X\n",
                     unsigned(status));
            return 0;
        }
        if (status == STATUS_TIMEOUT) {
            DbgPrint(direction == 0 ? "Rk1394AsyncTransfer read failed: STATUS_TIMEOUT\n"
                                    : "Call to 1394 bus driver failed: STATUS_TIMEOUT\n");
            return 0;
        }
        offset += chunk;
        bytes += chunk;
        remaining -= chunk;
    }
    return 1;
}

}  // namespace

ULONG AsyncReadChunked(PK1394_DEVICE_EXTENSION device, K1394_REQUEST_HEADER* header, ULONG offsetLow,
                       ULONG offsetHigh, PVOID buffer, ULONG length)
{
    return TransferChunked(device, header, offsetLow, offsetHigh, buffer, length, 0);
}

ULONG AsyncWriteChunked(PK1394_DEVICE_EXTENSION device, K1394_REQUEST_HEADER* header, ULONG offsetLow,
                        ULONG offsetHigh, PVOID buffer, ULONG length)
{
    return TransferChunked(device, header, offsetLow, offsetHigh, buffer, length, 1);
}

void K1394_AsyncRead(PK1394_DEVICE_EXTENSION device, K1394_REQUEST_HEADER* header)
{
    header->Success = AsyncReadChunked(device, header, header->AddressLow, header->AddressHigh, K1394Payload(header),
                                       header->OutputSize);
}

void K1394_AsyncWrite(PK1394_DEVICE_EXTENSION device, K1394_REQUEST_HEADER* header)
{
    header->Success = AsyncWriteChunked(device, header, header->AddressLow, header->AddressHigh, K1394Payload(header),
                                        header->InputSize);
}

void K1394_ReadInteger(PK1394_DEVICE_EXTENSION device, K1394_REQUEST_HEADER* header)
{
    header->BlockSize = K1394_DEFAULT_BLOCK_SIZE;
    ULONG value = 0;
    ULONG ok = AsyncReadChunked(device, header, header->AddressLow, header->AddressHigh, &value, sizeof value);
    if (device->ConfigArea.SwapFlag)
        value = Reverse(value);
    std::memcpy(K1394Payload(header), &value, sizeof value);
    header->ResultWord = 0;
    header->Success = ok;
}

void K1394_WriteInteger(PK1394_DEVICE_EXTENSION device, K1394_REQUEST_HEADER* header)
{
    ULONG value;
    std::memcpy(&value, K1394Payload(header), sizeof value);
    if (device->ConfigArea.SwapFlag)
        value = Reverse(value);
    header->BlockSize = K1394_DEFAULT_BLOCK_SIZE;
    header->Success = AsyncWriteChunked(device, header, header->AddressLow, header->AddressHigh, &value, sizeof value);
}

namespace {

K1394_REQUEST_HEADER* MakeQuadletHeader(ULONG offsetLow, ULONG offsetHigh)
{
    auto* header = static_cast<K1394_REQUEST_HEADER*>(
        ExAllocatePoolWithTag(NonPagedPool, sizeof(K1394_REQUEST_HEADER) + 16, kDriverTag));
    if (!header)
        return nullptr;
    std::memset(header, 0, sizeof(K1394_REQUEST_HEADER) + 16);
    header->Magic = K1394_HEADER_MAGIC;
    header->AddressLow = offsetLow;
    header->AddressHigh = offsetHigh;
    header->InputSize = 4;
    header->OutputSize = 4;
    header->PayloadCapacity = 16;
    header->Status = ULONG(STATUS_INVALID_PARAMETER);
    return header;
}

}  // namespace

ULONG ReadCameraQuadlet(PK1394_DEVICE_EXTENSION device, ULONG offsetLow, ULONG offsetHigh, PULONG value)
{
    K1394_REQUEST_HEADER* header = MakeQuadletHeader(offsetLow, offsetHigh);
    if (!header)
        return 0;
    K1394_ReadInteger(device, header);
    ULONG ok = header->Success;
    if (ok)
        std::memcpy(value, K1394Payload(header), sizeof *value);
    ExFreePoolWithTag(header, kDriverTag);
    return ok;
}

ULONG WriteCameraQuadlet(PK1394_DEVICE_EXTENSION device, ULONG offsetLow, ULONG offsetHigh, ULONG value)
{
    K1394_REQUEST_HEADER* header = MakeQuadletHeader(offsetLow, offsetHigh);
    if (!header)
        return 0;
    std::memcpy(K1394Payload(header), &value, sizeof value);
    K1394_WriteInteger(device, header);
    ULONG ok = header->Success;
    ExFreePoolWithTag(header, kDriverTag);
    return ok;
}

// ---- The local node's receive FIFO and address range -------------------------------------------------------------

namespace {

void FreeFifoMemory(PK1394_DEVICE_EXTENSION device)
{
    if (device->AddressRange)
        ExFreePoolWithTag(device->AddressRange, kDriverTag);
    device->AddressRange = nullptr;
    if (device->FifoListHead) {
        while (PSINGLE_LIST_ENTRY entry = ExInterlockedPopEntryList(device->FifoListHead, &device->FifoSpinLock)) {
            auto* element = CONTAINING_RECORD(entry, ADDRESS_FIFO, FifoList);
            FreeMdl(element->FifoMdl);
            ExFreePoolWithTag(element, kWdmTag);
        }
        ExFreePoolWithTag(device->FifoListHead, kWdmTag);
    }
    device->FifoListHead = nullptr;
    if (device->FifoBuffer)
        ExFreePoolWithTag(device->FifoBuffer, kDriverTag);
    device->FifoBuffer = nullptr;
    device->FifoElementCount = 0;
}

}  // namespace

ULONG AllocateLocalNodeFifo(PK1394_DEVICE_EXTENSION device, ULONG elementSize, ULONG count)
{
    DbgPrint("AllocateLocalNodeFifo\n");
    if (device->FifoListHead)
        return 1;
    device->FifoElementSize = elementSize;
    device->FifoElementCount = 0;
    device->FifoListHead =
        static_cast<PSINGLE_LIST_ENTRY>(ExAllocatePoolWithTag(NonPagedPool, sizeof(SINGLE_LIST_ENTRY), kWdmTag));
    if (!device->FifoListHead)
        return 0;
    device->FifoListHead->Next = nullptr;
    // The FIFO's spin lock lives as long as the device (made with its extension): set up again here, it could
    // be let go under a thread that holds it.

    const ULONGLONG total = ULONGLONG(elementSize) * count;
    device->FifoBuffer = total && total <= 0x7FFFFFFF
                             ? static_cast<PUCHAR>(ExAllocatePoolWithTag(NonPagedPool, SIZE_T(total), kDriverTag))
                             : nullptr;
    if (!device->FifoBuffer) {
        DbgPrint("AllocateLocalNodeFifo() failed: unable to allocate data buffer.\n");
        FreeFifoMemory(device);
        return 0;
    }
    const ULONG pages = ADDRESS_AND_SIZE_TO_SPAN_PAGES(device->FifoBuffer, elementSize);
    device->AddressRange =
        static_cast<PADDRESS_RANGE>(ExAllocatePoolWithTag(NonPagedPool, pages * sizeof(ADDRESS_RANGE), kDriverTag));
    if (!device->AddressRange) {
        DbgPrint("AllocateLocalNodeFifo() failed: unable to allocate address range array.\n");
        FreeFifoMemory(device);
        return 0;
    }
    std::memset(device->AddressRange, 0, pages * sizeof(ADDRESS_RANGE));
    for (ULONG i = 0; i < count; ++i) {
        auto* element = static_cast<PADDRESS_FIFO>(ExAllocatePoolWithTag(NonPagedPool, sizeof(ADDRESS_FIFO), kWdmTag));
        if (!element) {
            DbgPrint("AllocateLocalNodeFifo() failed: unable to allocate fifo item record.\n");
            FreeFifoMemory(device);
            return 0;
        }
        element->FifoMdl = IoAllocateMdl(device->FifoBuffer + SIZE_T(i) * elementSize, elementSize, FALSE, FALSE, nullptr);
        if (!element->FifoMdl) {
            DbgPrint("AllocateLocalNodeFifo() failed: unable to allocate MDL.\n");
            ExFreePoolWithTag(element, kWdmTag);
            FreeFifoMemory(device);
            return 0;
        }
        MmBuildMdlForNonPagedPool(element->FifoMdl);
        element->FifoMdl->MdlFlags |= MDL_MAPPING_CAN_FAIL;
        ExInterlockedPushEntryList(device->FifoListHead, &element->FifoList, &device->FifoSpinLock);
        ++device->FifoElementCount;
    }
    return 1;
}

void FreeLocalNodeFifo(PK1394_DEVICE_EXTENSION device)
{
    DbgPrint("FreeLocalNodeFifo\n");
    if (device->AddressRangeHandle) {
        // While the bus still knows the range it may write into the FIFO: keep its memory until it is freed.
        if (!NT_SUCCESS(FreeAddressRange1394(device)))
            return;
        device->AddressRangeHandle = nullptr;
        device->AddressesReturned = 0;
    }
    FreeFifoMemory(device);
}

NTSTATUS AllocateAddressRange1394(PK1394_DEVICE_EXTENSION device, ULONG size, PNOTIFICATION_ROUTINE routine)
{
    PIRB_CONTEXT context = Rk1394AllocateIrbContext(device);
    if (!context) {
        DbgPrint("AllocateAddressRange1394: Rk1394AllocateIrbContext failed\n");
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    auto& a = context->Irb.u.AllocateAddressRange;
    context->Irb.FunctionNumber = REQUEST_ALLOCATE_ADDRESS_RANGE;
    a.Mdl = nullptr;
    a.fulFlags = 0xFFFFFFFE;
    a.nLength = size;
    a.MaxSegmentSize = 0;
    a.fulAccessType = ACCESS_FLAGS_TYPE_READ | ACCESS_FLAGS_TYPE_WRITE | ACCESS_FLAGS_TYPE_LOCK;
    a.fulNotificationOptions = NOTIFY_FLAGS_AFTER_READ | NOTIFY_FLAGS_AFTER_WRITE | NOTIFY_FLAGS_AFTER_LOCK;
    a.Callback = routine;
    a.Context = device;
    a.Required1394Offset = device->RequiredOffset;
    a.FifoSListHead = device->FifoListHead;
    a.FifoSpinLock = &device->FifoSpinLock;
    a.p1394AddressRange = device->AddressRange;
    NTSTATUS status = Rk1394SubmitIrb(device, context);
    if (!NT_SUCCESS(status))
        DbgPrint("AllocateAddressRange1394 failed 0x%X\n", unsigned(status));
    return status;
}

NTSTATUS FreeAddressRange1394(PK1394_DEVICE_EXTENSION device)
{
    PIRB_CONTEXT context = Rk1394AllocateIrbContext(device);
    if (!context) {
        DbgPrint("FreeAddressRange1394: Rk1394AllocateIrbContext failed\n");
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    context->Irb.FunctionNumber = REQUEST_FREE_ADDRESS_RANGE;
    context->Irb.u.FreeAddressRange.nAddressesToFree = device->AddressesReturned;
    context->Irb.u.FreeAddressRange.p1394AddressRange = device->AddressRange;
    context->Irb.u.FreeAddressRange.pAddressRange = &device->AddressRangeHandle;
    NTSTATUS status = Rk1394SubmitIrb(device, context);
    if (!NT_SUCCESS(status))
        DbgPrint("FreeAddressRange1394 failed 0x%X\n", unsigned(status));
    return status;
}

NTSTATUS AllocateAddressRangeOnLocalNode(PK1394_DEVICE_EXTENSION device, ULONG size, PNOTIFICATION_ROUTINE routine)
{
    if (size == 0) {
        DbgPrint("AllocateAddressRangeOnLocalNode() failed:  BufferSize = 0.\n");
        return STATUS_INVALID_PARAMETER;
    }
    device->RequiredOffset = IO_ADDRESS{};
    return AllocateAddressRange1394(device, size, routine);
}

void K1394FifoReceive(PNOTIFICATION_INFO info)
{
    if (!info || !info->Context)
        return;
    auto* device = static_cast<PK1394_DEVICE_EXTENSION>(info->Context);
    ULONG dropped = 0;
    KIRQL old;
    KeAcquireSpinLock(&device->FifoSpinLock, &old);
    if ((info->fulNotificationOptions & NOTIFY_FLAGS_AFTER_WRITE) && info->nLength > 0 && info->Mdl) {
        auto* source = static_cast<PUCHAR>(MmGetSystemAddressForMdlSafe(info->Mdl, HighPagePriority));
        const bool inside = source && ULONGLONG(info->ulOffset) + info->nLength <= MmGetMdlByteCount(info->Mdl);
        if (inside && device->CurrentCdtRequest && device->CdtReceived < device->CdtExpected) {
            // Never more than the waiting chunk expects: the payload ends there.
            ULONG n = device->CdtExpected - device->CdtReceived;
            if (n > info->nLength)
                n = info->nLength;
            std::memcpy(device->CdtReceivePosition + device->CdtReceived, source + info->ulOffset, n);
            device->CdtReceived += n;
            dropped = info->nLength - n;
            if (device->CdtReceived >= device->CdtExpected)
                KeSetEvent(&device->CdtEvent, 0, FALSE);
        } else {
            dropped = info->nLength;
        }
    }
    KeReleaseSpinLock(&device->FifoSpinLock, old);
    if (info->Fifo && device->FifoListHead)
        ExInterlockedPushEntryList(device->FifoListHead, &info->Fifo->FifoList, &device->FifoSpinLock);
    if (dropped)
        DbgPrint("K1394FifoReceive: %u bytes that no camera-driven read waits for dropped\n", unsigned(dropped));
}
