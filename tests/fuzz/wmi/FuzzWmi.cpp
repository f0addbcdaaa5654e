// WMI requests of any kind, provider, GUID, size and contents through the toolkit's system-control dispatch of
// a device on the test bus, then an event of any GUID and instance.
//
// Input: minor, flags (bit 0 this device's provider, bit 1 the known GUID), buffer size (2 bytes, little end),
// event GUID index, event instance, then the buffer's bytes (zero-filled to the size).
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "RkDevice.h"
#include "TestBus.h"

namespace {

constexpr GUID kGuid = {0x11112222, 0x3333, 0x4444, {0x55, 0x55, 0x66, 0x66, 0x77, 0x77, 0x88, 0x88}};

struct Extension {
    RK_DEVICE_INFORMATION Information;
    RK_WMI_INFORMATION Wmi;
    RK_WMI_GUID Guids[1];
    PUCHAR Buffers[1];
    UCHAR Data[3][12];
};

NTSTATUS Method(RK_DEVICE_INFORMATION*, ULONG, ULONG, ULONG, ULONG inSize, ULONG outSize, PUCHAR buffer,
                PULONG written)
{
    // Answers with what came in, as far as it fits.
    *written = inSize < outSize ? inSize : outSize;
    return STATUS_SUCCESS;
}

NTSTATUS AddDevice(PDRIVER_OBJECT driver, PDEVICE_OBJECT pdo)
{
    UNICODE_STRING name;
    RtlInitUnicodeString(&name, u"\\Device\\WmiFuzz0");
    PDEVICE_OBJECT device = nullptr;
    NTSTATUS status = IoCreateDevice(driver, sizeof(Extension), &name, FILE_DEVICE_UNKNOWN, 0, FALSE, &device);
    if (!NT_SUCCESS(status))
        return status;
    auto* ext = static_cast<Extension*>(device->DeviceExtension);
    status = RkDevInitialize(RkDrvGetDriverExtension(driver), &ext->Information, device, pdo, &name);
    if (!NT_SUCCESS(status))
        return status;
    ext->Guids[0] = RK_WMI_GUID{kGuid, 3, 0, 12, 0, 0};
    ext->Buffers[0] = &ext->Data[0][0];
    ext->Wmi.Guids = ext->Guids;
    ext->Wmi.GuidCount = 1;
    ext->Wmi.DataBuffers = ext->Buffers;
    ext->Wmi.Routines.ExecuteMethod = Method;
    RkWmiRegister(&ext->Information, &ext->Wmi);
    device->Flags &= ~static_cast<ULONG>(DO_DEVICE_INITIALIZING);
    return STATUS_SUCCESS;
}

NTSTATUS Entry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath)
{
    driver->DriverExtension->AddDevice = AddDevice;
    return RkDrvInitializePnpDriver(driver, registryPath);
}

struct Rig {
    PDEVICE_OBJECT pdo = nullptr;
    RK_DEVICE_INFORMATION* info = nullptr;
};

Rig& TheRig()
{
    static Rig rig = [] {
        Rig r;
        static char folder[] = "/tmp/fuzz-wmi-XXXXXX";
        if (!mkdtemp(folder))
            std::abort();
        setenv("LUMO_MACHINE", folder, 1);
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(folder, ignored);
        });
        NTSTATUS status;
        PDRIVER_OBJECT driver = KernCreateDriver("WmiFuzz", Entry, &status);
        r.pdo = testbus::AddTestDevice("0");
        if (!driver || !r.pdo || !NT_SUCCESS(KernPnpOfferDevice(r.pdo, testbus::TestDeviceIds(r.pdo), driver)))
            std::abort();
        r.info = RkDevGetInformation(IoGetAttachedDevice(r.pdo));
        return r;
    }();
    return rig;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 6)
        return 0;
    Rig& rig = TheRig();
    UCHAR minor = static_cast<UCHAR>(data[0] % 12);
    bool mine = data[1] & 1;
    bool known = data[1] & 2;
    ULONG bufferSize = static_cast<ULONG>(data[2] | data[3] << 8) % 2048;
    ULONG eventGuid = data[4] % 3;
    ULONG eventInstance = data[5] % 5;
    std::vector<uint8_t> buffer(bufferSize);
    size_t take = size - 6 < bufferSize ? size - 6 : bufferSize;
    if (take)
        std::memcpy(buffer.data(), data + 6, take);

    GUID guid = kGuid;
    if (!known)
        guid.Data1 ^= 0xFFFF;
    IO_STACK_LOCATION location{};
    location.MajorFunction = IRP_MJ_SYSTEM_CONTROL;
    location.MinorFunction = minor;
    location.Parameters.WMI.ProviderId = mine ? reinterpret_cast<ULONG_PTR>(rig.info->DeviceObject) : 1;
    location.Parameters.WMI.DataPath = &guid;
    location.Parameters.WMI.BufferSize = bufferSize;
    location.Parameters.WMI.Buffer = buffer.empty() ? nullptr : buffer.data();
    {
        KernHostRequest request(rig.pdo, location);
        request.Send();
        request.Wait();
        if (request.Status().Status == STATUS_SUCCESS && request.Status().Information > bufferSize)
            std::abort();  // the answer claims more than the buffer holds
    }
    RkWmiFireEvent(rig.info, eventInstance, eventGuid);
    testbus::ClearTestDeviceRecords(rig.pdo);
    return 0;
}
