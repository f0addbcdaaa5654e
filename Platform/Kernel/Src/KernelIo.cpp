// Device objects, request packets, completion and cancellation.
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <unordered_set>

#include "KernelPrivate.h"
#include "PlatformKernelHost.h"

namespace {

enum : ULONG {
    KERN_IRP_ALLOCATED = 0x1,       // IoAllocateIrp made it: IoFreeIrp frees it
    KERN_IRP_IO_MANAGER = 0x2,      // IoBuild... made it: its completion finishes and frees it
    KERN_IRP_BUFFERED_COPY = 0x4,   // copy SystemBuffer to UserBuffer at completion
};

struct KernDevice {
    std::u16string name;
    bool deletePending = false;
};

struct IoTables {
    std::mutex lock;
    std::map<std::u16string, PDEVICE_OBJECT> names;
    std::unordered_set<PDEVICE_OBJECT> devices;  // live or waiting for their last reference
    std::unordered_set<PIRP> irps;
};

IoTables& Io()
{
    static IoTables* tables = new IoTables;
    return *tables;
}

KSPIN_LOCK g_CancelLock = 0;

std::u16string FromCounted(PCUNICODE_STRING s)
{
    if (!s || !s->Buffer)
        return std::u16string();
    return std::u16string(s->Buffer, s->Length / sizeof(WCHAR));
}

void FreeDeviceMemory(PDEVICE_OBJECT device)
{
    delete static_cast<KernDevice*>(device->KernelPrivate);
    std::free(device);
}

// A request's memory: the packet, one guard location, then its stack locations (location 1 first). A driver
// that takes the location below the last one writes into the guard, never into the packet, and the guard's
// pattern shows it at the next call, completion or free.
constexpr UCHAR kGuardByte = 0xA5;

PIO_STACK_LOCATION GuardLocation(PIRP irp)
{
    return reinterpret_cast<PIO_STACK_LOCATION>(irp + 1);
}

PIO_STACK_LOCATION StackBase(PIRP irp)
{
    return GuardLocation(irp) + 1;
}

void CheckGuard(PIRP irp)
{
    const auto* bytes = reinterpret_cast<const UCHAR*>(GuardLocation(irp));
    for (size_t i = 0; i < sizeof(IO_STACK_LOCATION); ++i)
        if (bytes[i] != kGuardByte)
            KernBugCheck("stack location written below the request's stack");
}

}  // namespace

// ---- Objects -----------------------------------------------------------------------------------------------------------

extern "C" void ObReferenceObject(PVOID object)
{
    auto* device = static_cast<PDEVICE_OBJECT>(object);
    if (!device || device->Type != IO_TYPE_DEVICE)
        KernBugCheck("referencing an object that is not a device");
    InterlockedIncrement(&device->ReferenceCount);
}

extern "C" void ObDereferenceObject(PVOID object)
{
    auto* device = static_cast<PDEVICE_OBJECT>(object);
    if (!device || device->Type != IO_TYPE_DEVICE)
        KernBugCheck("dereferencing an object that is not a device");
    LONG left = InterlockedDecrement(&device->ReferenceCount);
    if (left < 0)
        KernBugCheck("device object dereferenced below zero");
    if (left == 0)
        KernDeviceReleased(device);
}

void KernDeviceReleased(PDEVICE_OBJECT device)
{
    IoTables& io = Io();
    {
        std::lock_guard<std::mutex> guard(io.lock);
        auto* record = static_cast<KernDevice*>(device->KernelPrivate);
        if (!record->deletePending || device->ReferenceCount != 0 || device->AttachedDevice)
            return;
        io.devices.erase(device);
    }
    FreeDeviceMemory(device);
}

// ---- Devices -------------------------------------------------------------------------------------------------------------

extern "C" NTSTATUS IoCreateDevice(PDRIVER_OBJECT driverObject, ULONG deviceExtensionSize, PUNICODE_STRING deviceName,
                                   ULONG deviceType, ULONG deviceCharacteristics, BOOLEAN exclusive,
                                   PDEVICE_OBJECT* deviceObject)
{
    if (KeGetCurrentIrql() != PASSIVE_LEVEL)
        KernBugCheck("device created above PASSIVE_LEVEL");
    if (!driverObject || !deviceObject)
        return STATUS_INVALID_PARAMETER;
    *deviceObject = nullptr;
    std::u16string name = FromCounted(deviceName);
    if (deviceName && (name.empty() || name[0] != u'\\'))
        return STATUS_OBJECT_NAME_INVALID;
    const size_t head = (sizeof(DEVICE_OBJECT) + 15) & ~size_t(15);
    auto* device = static_cast<PDEVICE_OBJECT>(std::calloc(1, head + deviceExtensionSize));
    auto* record = new (std::nothrow) KernDevice;
    if (!device || !record) {
        std::free(device);
        delete record;
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    record->name = name;
    device->Type = IO_TYPE_DEVICE;
    device->Size = static_cast<USHORT>(sizeof(DEVICE_OBJECT) + deviceExtensionSize);
    device->DriverObject = driverObject;
    device->Flags = DO_DEVICE_INITIALIZING | (exclusive ? ULONG(DO_EXCLUSIVE) : 0u);
    device->Characteristics = deviceCharacteristics;
    device->DeviceExtension = deviceExtensionSize ? reinterpret_cast<char*>(device) + head : nullptr;
    device->DeviceType = deviceType;
    device->StackSize = 1;
    device->KernelPrivate = record;
    KeInitializeDeviceQueue(&device->DeviceQueue);

    IoTables& io = Io();
    std::lock_guard<std::mutex> guard(io.lock);
    if (!name.empty()) {
        if (io.names.count(name)) {
            delete record;
            std::free(device);
            return STATUS_OBJECT_NAME_COLLISION;
        }
        io.names[name] = device;
    }
    io.devices.insert(device);
    device->NextDevice = driverObject->DeviceObject;
    driverObject->DeviceObject = device;
    *deviceObject = device;
    return STATUS_SUCCESS;
}

extern "C" void IoDeleteDevice(PDEVICE_OBJECT deviceObject)
{
    KernPnpForgetDevice(deviceObject);
    IoTables& io = Io();
    bool freeNow;
    {
        std::lock_guard<std::mutex> guard(io.lock);
        auto* record = deviceObject ? static_cast<KernDevice*>(deviceObject->KernelPrivate) : nullptr;
        if (!deviceObject || !io.devices.count(deviceObject) || record->deletePending)
            KernBugCheck("deleting a device that is not live");
        if (!record->name.empty())
            io.names.erase(record->name);
        PDEVICE_OBJECT* link = &deviceObject->DriverObject->DeviceObject;
        while (*link && *link != deviceObject)
            link = &(*link)->NextDevice;
        if (*link)
            *link = deviceObject->NextDevice;
        record->deletePending = true;
        // A device still attached above keeps the memory: its driver detaches from it later.
        freeNow = deviceObject->ReferenceCount == 0 && !deviceObject->AttachedDevice;
        if (freeNow)
            io.devices.erase(deviceObject);
    }
    if (freeNow)
        FreeDeviceMemory(deviceObject);
}

extern "C" PDEVICE_OBJECT IoGetAttachedDevice(PDEVICE_OBJECT deviceObject)
{
    std::lock_guard<std::mutex> guard(Io().lock);
    PDEVICE_OBJECT top = deviceObject;
    while (top && top->AttachedDevice)
        top = top->AttachedDevice;
    return top;
}

extern "C" PDEVICE_OBJECT IoGetAttachedDeviceReference(PDEVICE_OBJECT deviceObject)
{
    PDEVICE_OBJECT top = IoGetAttachedDevice(deviceObject);
    if (top)
        ObReferenceObject(top);
    return top;
}

extern "C" PDEVICE_OBJECT IoAttachDeviceToDeviceStack(PDEVICE_OBJECT sourceDevice, PDEVICE_OBJECT targetDevice)
{
    if (!sourceDevice || !targetDevice)
        return nullptr;
    std::lock_guard<std::mutex> guard(Io().lock);
    if (!Io().devices.count(targetDevice) ||
        static_cast<KernDevice*>(targetDevice->KernelPrivate)->deletePending)
        return nullptr;
    PDEVICE_OBJECT top = targetDevice;
    while (top->AttachedDevice)
        top = top->AttachedDevice;
    top->AttachedDevice = sourceDevice;
    sourceDevice->StackSize = static_cast<CCHAR>(top->StackSize + 1);
    if (top->AlignmentRequirement > sourceDevice->AlignmentRequirement)
        sourceDevice->AlignmentRequirement = top->AlignmentRequirement;
    return top;
}

extern "C" void IoDetachDevice(PDEVICE_OBJECT targetDevice)
{
    if (!targetDevice)
        return;
    IoTables& io = Io();
    bool freeNow;
    {
        std::lock_guard<std::mutex> guard(io.lock);
        targetDevice->AttachedDevice = nullptr;
        auto* record = static_cast<KernDevice*>(targetDevice->KernelPrivate);
        freeNow = io.devices.count(targetDevice) && record->deletePending && targetDevice->ReferenceCount == 0;
        if (freeNow)
            io.devices.erase(targetDevice);
    }
    if (freeNow)
        FreeDeviceMemory(targetDevice);
}

bool KernDeviceIsDeleted(PDEVICE_OBJECT device)
{
    std::lock_guard<std::mutex> guard(Io().lock);
    return !Io().devices.count(device) || static_cast<KernDevice*>(device->KernelPrivate)->deletePending;
}

bool KernDriverHasDevices(PDRIVER_OBJECT driver)
{
    std::lock_guard<std::mutex> guard(Io().lock);
    return driver && driver->DeviceObject;
}

PDEVICE_OBJECT KernReferenceDeviceByName(const std::u16string& name)
{
    std::lock_guard<std::mutex> guard(Io().lock);
    auto it = Io().names.find(name);
    if (it == Io().names.end())
        return nullptr;
    InterlockedIncrement(&it->second->ReferenceCount);
    return it->second;
}

std::u16string KernDeviceName(PDEVICE_OBJECT device)
{
    std::lock_guard<std::mutex> guard(Io().lock);
    if (!device || !Io().devices.count(device))
        return std::u16string();
    auto* record = static_cast<KernDevice*>(device->KernelPrivate);
    return record->deletePending ? std::u16string() : record->name;
}

PDEVICE_OBJECT KernFindDevice(const std::u16string& name)
{
    std::lock_guard<std::mutex> guard(Io().lock);
    auto it = Io().names.find(name);
    return it == Io().names.end() ? nullptr : it->second;
}

// ---- Requests ---------------------------------------------------------------------------------------------------------------

extern "C" USHORT IoSizeOfIrp(CCHAR stackSize)
{
    return static_cast<USHORT>(sizeof(IRP) +
                               (static_cast<size_t>(static_cast<UCHAR>(stackSize)) + 1) * sizeof(IO_STACK_LOCATION));
}

extern "C" void IoInitializeIrp(PIRP irp, USHORT packetSize, CCHAR stackSize)
{
    if (packetSize < IoSizeOfIrp(stackSize))
        KernBugCheck("request initialised in less memory than its stack needs");
    std::memset(irp, 0, packetSize);
    std::memset(GuardLocation(irp), kGuardByte, sizeof(IO_STACK_LOCATION));
    irp->Type = IO_TYPE_IRP;
    irp->Size = packetSize;
    irp->StackCount = stackSize;
    irp->CurrentLocation = static_cast<CCHAR>(stackSize + 1);
    irp->Tail.Overlay.CurrentStackLocation = StackBase(irp) + static_cast<UCHAR>(stackSize);
    InitializeListHead(&irp->ThreadListEntry);
}

extern "C" PIRP IoAllocateIrp(CCHAR stackSize, BOOLEAN)
{
    if (KeGetCurrentIrql() > DISPATCH_LEVEL)
        KernBugCheck("request allocated above DISPATCH_LEVEL");
    if (stackSize < 1)
        return nullptr;
    USHORT size = IoSizeOfIrp(stackSize);
    auto* irp = static_cast<PIRP>(std::malloc(size));
    if (!irp)
        return nullptr;
    IoInitializeIrp(irp, size, stackSize);
    irp->KernelFlags = KERN_IRP_ALLOCATED;
    std::lock_guard<std::mutex> guard(Io().lock);
    Io().irps.insert(irp);
    return irp;
}

bool KernIsLiveIrp(PIRP irp)
{
    std::lock_guard<std::mutex> guard(Io().lock);
    return Io().irps.count(irp) != 0;
}

extern "C" void IoFreeIrp(PIRP irp)
{
    {
        std::lock_guard<std::mutex> guard(Io().lock);
        if (!irp || !Io().irps.erase(irp))
            KernBugCheck("freeing a request that is not live");
    }
    CheckGuard(irp);
    if (irp->KernelFlags & KERN_IRP_IO_MANAGER)
        std::free(irp->AssociatedIrp.SystemBuffer);
    irp->Type = 0;
    std::free(irp);
}

extern "C" void IoReuseIrp(PIRP irp, NTSTATUS status)
{
    CheckGuard(irp);
    ULONG flags = irp->KernelFlags;
    IoInitializeIrp(irp, irp->Size, irp->StackCount);
    irp->KernelFlags = flags & KERN_IRP_ALLOCATED;
    irp->IoStatus.Status = status;
}

extern "C" PIRP IoBuildDeviceIoControlRequest(ULONG ioControlCode, PDEVICE_OBJECT deviceObject, PVOID inputBuffer,
                                              ULONG inputBufferLength, PVOID outputBuffer, ULONG outputBufferLength,
                                              BOOLEAN internalDeviceIoControl, PKEVENT event,
                                              PIO_STATUS_BLOCK ioStatusBlock)
{
    if (!deviceObject)
        return nullptr;
    PIRP irp = IoAllocateIrp(deviceObject->StackSize, FALSE);
    if (!irp)
        return nullptr;
    irp->KernelFlags |= KERN_IRP_IO_MANAGER;
    irp->UserIosb = ioStatusBlock;
    irp->UserEvent = event;
    irp->UserBuffer = outputBuffer;
    irp->KernelOutputLength = outputBufferLength;
    PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
    next->MajorFunction = internalDeviceIoControl ? IRP_MJ_INTERNAL_DEVICE_CONTROL : IRP_MJ_DEVICE_CONTROL;
    next->Parameters.DeviceIoControl.IoControlCode = ioControlCode;
    next->Parameters.DeviceIoControl.InputBufferLength = inputBufferLength;
    next->Parameters.DeviceIoControl.OutputBufferLength = outputBufferLength;
    bool ok = true;
    switch (ioControlCode & 3) {
    case METHOD_BUFFERED: {
        ULONG length = inputBufferLength > outputBufferLength ? inputBufferLength : outputBufferLength;
        if (length) {
            irp->AssociatedIrp.SystemBuffer = std::calloc(1, length);
            ok = irp->AssociatedIrp.SystemBuffer != nullptr;
            if (ok && inputBuffer && inputBufferLength)
                std::memcpy(irp->AssociatedIrp.SystemBuffer, inputBuffer, inputBufferLength);
            if (outputBuffer && outputBufferLength)
                irp->KernelFlags |= KERN_IRP_BUFFERED_COPY;
        }
        break;
    }
    case METHOD_IN_DIRECT:
    case METHOD_OUT_DIRECT:
        if (inputBuffer && inputBufferLength) {
            irp->AssociatedIrp.SystemBuffer = std::malloc(inputBufferLength);
            ok = irp->AssociatedIrp.SystemBuffer != nullptr;
            if (ok)
                std::memcpy(irp->AssociatedIrp.SystemBuffer, inputBuffer, inputBufferLength);
        }
        if (ok && outputBuffer && outputBufferLength) {
            PMDL mdl = IoAllocateMdl(outputBuffer, outputBufferLength, FALSE, FALSE, irp);
            ok = mdl != nullptr;
            if (ok)
                MmProbeAndLockPages(mdl, KernelMode, IoModifyAccess);
        }
        break;
    default:
        next->Parameters.DeviceIoControl.Type3InputBuffer = inputBuffer;
        break;
    }
    if (!ok) {
        if (irp->MdlAddress) {
            MmUnlockPages(irp->MdlAddress);
            IoFreeMdl(irp->MdlAddress);
        }
        IoFreeIrp(irp);
        return nullptr;
    }
    return irp;
}

extern "C" NTSTATUS IoCallDriver(PDEVICE_OBJECT deviceObject, PIRP irp)
{
    if (!irp || irp->Type != IO_TYPE_IRP)
        KernBugCheck("calling a driver with something that is not a request");
    if (!deviceObject || deviceObject->Type != IO_TYPE_DEVICE)
        KernBugCheck("calling a driver without a device");
    if (KeGetCurrentIrql() > DISPATCH_LEVEL)
        KernBugCheck("driver called above DISPATCH_LEVEL");
    if (irp->CurrentLocation <= 1)
        KernBugCheck("no stack location left");
    CheckGuard(irp);
    irp->CurrentLocation--;
    PIO_STACK_LOCATION stack = --irp->Tail.Overlay.CurrentStackLocation;
    stack->DeviceObject = deviceObject;
    if (stack->MajorFunction > IRP_MJ_MAXIMUM_FUNCTION)
        KernBugCheck("request with an unknown major function");
    return deviceObject->DriverObject->MajorFunction[stack->MajorFunction](deviceObject, irp);
}

namespace {

// What the I/O manager does once a request it built has left the last driver.
void FinishIoManagerRequest(PIRP irp)
{
    if ((irp->KernelFlags & KERN_IRP_BUFFERED_COPY) && !NT_ERROR(irp->IoStatus.Status)) {
        ULONG_PTR count = irp->IoStatus.Information;
        if (count > irp->KernelOutputLength)
            count = irp->KernelOutputLength;
        std::memcpy(irp->UserBuffer, irp->AssociatedIrp.SystemBuffer, count);
    }
    while (PMDL mdl = irp->MdlAddress) {
        irp->MdlAddress = mdl->Next;
        if (mdl->MdlFlags & MDL_PAGES_LOCKED)
            MmUnlockPages(mdl);
        IoFreeMdl(mdl);
    }
    if (irp->UserIosb)
        *irp->UserIosb = irp->IoStatus;
    PKEVENT event = irp->UserEvent;
    IoFreeIrp(irp);
    if (event)
        KeSetEvent(event, 0, FALSE);
}

}  // namespace

extern "C" void IoCompleteRequest(PIRP irp, CCHAR)
{
    if (!irp || irp->Type != IO_TYPE_IRP)
        KernBugCheck("completing something that is not a request");
    if (irp->CurrentLocation > irp->StackCount + 1)
        KernBugCheck("request completed twice");
    if (irp->CurrentLocation == irp->StackCount + 1)
        KernBugCheck("completing a request that no driver holds");
    if (irp->CurrentLocation < 1)
        KernBugCheck("completing a request below its stack");
    CheckGuard(irp);
    if (irp->IoStatus.Status == STATUS_PENDING)
        KernBugCheck("request completed with STATUS_PENDING");
    if (irp->CancelRoutine)
        KernBugCheck("request completed with its cancel routine still set");
    irp->CurrentLocation++;
    irp->Tail.Overlay.CurrentStackLocation++;
    for (PIO_STACK_LOCATION stack = irp->Tail.Overlay.CurrentStackLocation - 1;
         irp->CurrentLocation <= irp->StackCount + 1;
         ++stack, irp->CurrentLocation++, irp->Tail.Overlay.CurrentStackLocation++) {
        irp->PendingReturned = (stack->Control & SL_PENDING_RETURNED) ? TRUE : FALSE;
        NTSTATUS status = irp->IoStatus.Status;
        bool invoke = stack->CompletionRoutine &&
                      ((NT_SUCCESS(status) && (stack->Control & SL_INVOKE_ON_SUCCESS)) ||
                       (!NT_SUCCESS(status) && (stack->Control & SL_INVOKE_ON_ERROR)) ||
                       (irp->Cancel && (stack->Control & SL_INVOKE_ON_CANCEL)));
        PIO_COMPLETION_ROUTINE routine = stack->CompletionRoutine;
        PVOID context = stack->Context;
        stack->Control = 0;
        stack->CompletionRoutine = nullptr;
        stack->Context = nullptr;
        if (invoke) {
            PDEVICE_OBJECT caller = irp->CurrentLocation == irp->StackCount + 1
                                        ? nullptr
                                        : irp->Tail.Overlay.CurrentStackLocation->DeviceObject;
            if (routine(caller, irp, context) == STATUS_MORE_PROCESSING_REQUIRED)
                return;
        } else if (irp->PendingReturned && irp->CurrentLocation <= irp->StackCount) {
            IoMarkIrpPending(irp);
        }
    }
    if (irp->KernelFlags & KERN_IRP_IO_MANAGER)
        FinishIoManagerRequest(irp);
}

extern "C" void IoAcquireCancelSpinLock(PKIRQL irql)
{
    KeAcquireSpinLock(&g_CancelLock, irql);
}

extern "C" void IoReleaseCancelSpinLock(KIRQL irql)
{
    KeReleaseSpinLock(&g_CancelLock, irql);
}

extern "C" BOOLEAN IoCancelIrp(PIRP irp)
{
    KIRQL irql;
    IoAcquireCancelSpinLock(&irql);
    irp->Cancel = TRUE;
    PDRIVER_CANCEL routine = IoSetCancelRoutine(irp, nullptr);
    if (!routine) {
        IoReleaseCancelSpinLock(irql);
        return FALSE;
    }
    irp->CancelIrql = irql;
    PDEVICE_OBJECT device = irp->CurrentLocation >= 1 && irp->CurrentLocation <= irp->StackCount
                                ? IoGetCurrentIrpStackLocation(irp)->DeviceObject
                                : nullptr;
    routine(device, irp);  // releases the cancel spin lock
    return TRUE;
}
