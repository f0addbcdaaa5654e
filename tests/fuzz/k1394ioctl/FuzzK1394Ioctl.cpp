// Fuzzes the 1394 driver's device-control path: any control code, input and output lengths and buffer bytes
// (request headers among them) go to a started device of the driver over a simulated camera, as requests of the
// code's method with buffers of exactly those lengths. Nothing may be read or written outside them (ASan), the
// bytes returned never exceed the output, and the driver is left idle.
//
// Input: u32 control code, u16 input length, u16 output length, u8 flags (bit 0: put the header's magic at the
// start, bit 1: make the header's function code the control code), then the buffer's bytes (zero-padded).
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "K1394Driver.h"
#include "PlatformKernelHost.h"
#include "SimBus1394.h"
#include "SimCamera.h"

namespace {

void Check(bool ok, const char* what)
{
    if (!ok) {
        std::fprintf(stderr, "fuzz_k1394ioctl: %s\n", what);
        std::abort();
    }
}

struct Rig {
    PDRIVER_OBJECT driver = nullptr;
    PDEVICE_OBJECT device = nullptr;
    FILE_OBJECT file{};

    Rig()
    {
        char tmpl[] = "/tmp/lumo-fuzz-k1394ioctl-XXXXXX";
        Check(mkdtemp(tmpl) != nullptr, "no scratch folder");
        setenv("LUMO_MACHINE", (std::filesystem::path(tmpl) / "machine").c_str(), 1);
        std::string error;
        Check(simcam::NewCamera("c1", simcam::ByteOrder::KVCK, &error), "camera");
        Check(simcam::PlugCamera("c1", simcam::Plug::Bus1394, &error), "plug");
        Check(simcam::SetCameraKnob("c1", "scratch", "on", &error), "knob");
        Check(simbus::StartBus1394(&error), "bus");
        NTSTATUS entry = STATUS_UNSUCCESSFUL;
        driver = KernCreateDriver("K1394", K1394_DriverEntry, &entry);
        Check(driver != nullptr, "driver");
        simbus::SetBus1394FunctionDriver(driver);
        device = KernFindDevice(u"\\Device\\K13940");
        Check(device != nullptr, "no device");
        file.Type = IO_TYPE_FILE;
        file.Size = sizeof file;
    }
};

Rig& TheRig()
{
    static Rig* rig = new Rig;
    return *rig;
}

struct Landing {
    KEVENT done;
    IO_STATUS_BLOCK status;
};

NTSTATUS Landed(PDEVICE_OBJECT, PIRP irp, PVOID context)
{
    auto* landing = static_cast<Landing*>(context);
    landing->status = irp->IoStatus;
    KeSetEvent(&landing->done, 0, FALSE);
    return STATUS_MORE_PROCESSING_REQUIRED;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Rig& rig = TheRig();
    if (size < 9)
        return 0;
    uint32_t code;
    uint16_t inLength, outLength;
    std::memcpy(&code, data, 4);
    std::memcpy(&inLength, data + 4, 2);
    std::memcpy(&outLength, data + 6, 2);
    const uint8_t flags = data[8];
    // Larger buffers only make longer bus transfers.
    inLength %= 4096;
    outLength %= 4096;
    std::vector<uint8_t> bytes(data + 9, data + size);
    const size_t bufferLength = (code & 3) == METHOD_BUFFERED ? std::max(inLength, outLength) : outLength;
    bytes.resize(std::max<size_t>(bytes.size(), std::max<size_t>(inLength, bufferLength)), 0);
    if (bytes.size() >= 84) {
        K1394_REQUEST_HEADER header;
        std::memcpy(&header, bytes.data(), sizeof header);
        if (flags & 1)
            header.Magic = K1394_HEADER_MAGIC;
        if (flags & 2)
            header.FunctionCode = code;
        // Keep transfers quick: the bus carries them packet by packet through the camera's files.
        if (header.PacketSize && header.PacketSize < 64)
            header.PacketSize = 64;
        if (header.BlockSize && header.BlockSize < 64)
            header.BlockSize = 64;
        std::memcpy(bytes.data(), &header, sizeof header);
    }

    // Buffers of exactly the request's lengths, so that ASan sees any access past them.
    std::vector<uint8_t> input(bytes.begin(), bytes.begin() + inLength);
    std::vector<uint8_t> output(outLength);
    if (outLength)
        std::memcpy(output.data(), bytes.data(), std::min<size_t>(outLength, bytes.size()));
    uint8_t* system = nullptr;

    PIRP irp = IoAllocateIrp(IoGetAttachedDevice(rig.device)->StackSize, FALSE);
    Check(irp != nullptr, "no request");
    PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
    next->MajorFunction = IRP_MJ_DEVICE_CONTROL;
    next->FileObject = &rig.file;
    next->Parameters.DeviceIoControl.IoControlCode = code;
    next->Parameters.DeviceIoControl.InputBufferLength = inLength;
    next->Parameters.DeviceIoControl.OutputBufferLength = outLength;
    switch (code & 3) {
    case METHOD_BUFFERED:
        if (bufferLength) {
            system = static_cast<uint8_t*>(std::malloc(bufferLength));
            std::memcpy(system, bytes.data(), bufferLength);
        }
        irp->AssociatedIrp.SystemBuffer = system;
        break;
    case METHOD_IN_DIRECT:
    case METHOD_OUT_DIRECT:
        irp->AssociatedIrp.SystemBuffer = inLength ? input.data() : nullptr;
        if (outLength) {
            PMDL mdl = IoAllocateMdl(output.data(), outLength, FALSE, FALSE, irp);
            Check(mdl != nullptr, "no memory list");
            MmProbeAndLockPages(mdl, UserMode, IoModifyAccess);
        }
        break;
    default:
        next->Parameters.DeviceIoControl.Type3InputBuffer = inLength ? input.data() : nullptr;
        irp->UserBuffer = outLength ? output.data() : nullptr;
        break;
    }
    Landing landing{};
    KeInitializeEvent(&landing.done, NotificationEvent, FALSE);
    IoSetCompletionRoutine(irp, Landed, &landing, TRUE, TRUE, TRUE);
    IoCallDriver(rig.device, irp);
    KeWaitForSingleObject(&landing.done, Executive, KernelMode, FALSE, nullptr);
    Check(landing.status.Information <= outLength, "more bytes returned than the output holds");
    if (landing.status.Information >= 84 && system) {
        const auto* header = reinterpret_cast<const K1394_REQUEST_HEADER*>(system);
        Check(header->DeviceReference == 0 && header->RequestReference == 0, "the references stayed in the header");
    }
    while (PMDL mdl = irp->MdlAddress) {
        irp->MdlAddress = mdl->Next;
        if (mdl->MdlFlags & MDL_PAGES_LOCKED)
            MmUnlockPages(mdl);
        IoFreeMdl(mdl);
    }
    IoFreeIrp(irp);
    std::free(system);
    auto* extension = static_cast<PK1394_DEVICE_EXTENSION>(rig.device->DeviceExtension);
    Check(extension->Busy == 0, "the device stayed busy");
    Check(extension->CurrentCdtRequest == nullptr, "a read stayed current");
    simbus::DrainBus1394();
    return 0;
}
