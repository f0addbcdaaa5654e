// The user-mode device path in this process: the device services load the kernel stand-in, which starts the bus
// and loads the machine's driver; enumeration, opens, requests of each method, closes and removals as a program
// sees them. One test: the kernel and its bus are started once per process.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "LumoTestSupport.h"
#include "PlatformDevices.h"
#include "PlatformKernelHost.h"
#include "SimBus1394.h"
#include "SimCamera.h"

namespace {

constexpr PlatGuid kInterface = {0x5030D1C7, 0x169B, 0x4D1D, {0x9F, 0x88, 0xAB, 0x03, 0xB4, 0x10, 0xCD, 0x0C}};
constexpr uint32_t kGetName = 0x81252004;

std::vector<std::string> Paths()
{
    std::vector<std::string> paths;
    PlatHandle set = PlatGetClassDevs(&kInterface, PLAT_DIGCF_PRESENT | PLAT_DIGCF_DEVICEINTERFACE);
    for (uint32_t i = 0; set != PLAT_INVALID_HANDLE_VALUE; ++i) {
        PlatDeviceInterfaceData data{};
        data.cbSize = sizeof data;
        if (!PlatEnumDeviceInterfaces(set, &kInterface, i, &data))
            break;
        uint32_t needed = 0;
        EXPECT_FALSE(PlatGetDeviceInterfaceDetail(set, &data, nullptr, 0, &needed));
        std::vector<char> memory(needed);
        auto* detail = reinterpret_cast<PlatDeviceInterfaceDetail*>(memory.data());
        detail->cbSize = sizeof(PlatDeviceInterfaceDetail);
        EXPECT_TRUE(PlatGetDeviceInterfaceDetail(set, &data, detail, needed, nullptr));
        paths.push_back(detail->devicePath);
    }
    PlatDestroyDeviceInfoList(set);
    return paths;
}

std::vector<uint8_t> NameRequest(uint32_t capacity = 12)
{
    std::vector<uint8_t> b(96, 0);
    const uint32_t words[] = {0x01020304, 1, 0, kGetName, 0, 0, 0, 12, capacity};
    std::memcpy(b.data(), words, sizeof words);
    return b;
}

uint32_t Word(const std::vector<uint8_t>& b, size_t at)
{
    uint32_t v;
    std::memcpy(&v, b.data() + at, 4);
    return v;
}

}  // namespace

TEST(K1394DevicePath, ProgramsReachTheDriverThroughTheDeviceServices)
{
    lumotest::TempDir dir;
    setenv("LUMO_MACHINE", (dir.Path() / "machine").c_str(), 1);
    std::string error;
    ASSERT_TRUE(simcam::NewCamera("c1", simcam::ByteOrder::KVCK, &error)) << error;
    ASSERT_TRUE(simcam::PlugCamera("c1", simcam::Plug::Bus1394, &error)) << error;

    const std::vector<std::string> paths = Paths();
    ASSERT_EQ(paths, std::vector<std::string>{"\\\\?\\1394#c1#0#{5030d1c7-169b-4d1d-9f88-ab03b410cd0c}"});
    KernDbgPrintCapture trace;

    // An open asking no access rights; a synchronous request.
    PlatHandle device = PlatCreateDeviceFile(paths[0].c_str(), 0, 3, 0);
    ASSERT_NE(device, PLAT_INVALID_HANDLE_VALUE);
    std::vector<uint8_t> b = NameRequest();
    uint32_t returned = 0;
    ASSERT_TRUE(PlatDeviceIoControl(device, kGetName, b.data(), 96, b.data(), 96, &returned, nullptr));
    EXPECT_EQ(returned, 96u);
    EXPECT_EQ(Word(b, 72), 0u);
    EXPECT_STREQ(reinterpret_cast<const char*>(b.data() + 84), "K1394Driver");

    // Failures of the request itself become errors.
    std::vector<uint8_t> bare(16, 0);
    EXPECT_FALSE(PlatDeviceIoControl(device, kGetName, bare.data(), 16, bare.data(), 16, &returned, nullptr));
    EXPECT_EQ(PlatGetLastError(), 87u);
    EXPECT_EQ(returned, 0u);

    // By the link name, overlapped: completed at once, the record and its event filled.
    PlatHandle overlappedDevice = PlatCreateDeviceFile("\\\\.\\K13940", 0, 3, PLAT_FILE_FLAG_OVERLAPPED);
    ASSERT_NE(overlappedDevice, PLAT_INVALID_HANDLE_VALUE);
    PlatOverlapped record{};
    record.event = PlatCreateEvent(true, false, nullptr);
    b = NameRequest(11);
    bool done = PlatDeviceIoControl(overlappedDevice, kGetName, b.data(), 96, b.data(), 96, &returned, &record);
    if (!done) {
        ASSERT_EQ(PlatGetLastError(), PLAT_ERROR_IO_PENDING);
        ASSERT_TRUE(PlatGetOverlappedResult(overlappedDevice, &record, &returned, true));
    }
    EXPECT_EQ(PlatWaitForSingleObject(record.event, 0), PLAT_WAIT_OBJECT_0);
    EXPECT_EQ(record.internal, 0u);
    EXPECT_EQ(record.internalHigh, 96u);
    EXPECT_EQ(Word(b, 72), 0xC0000023u);
    PlatCloseHandle(record.event);

    // Direct methods: the header lies in the output buffer, which the driver sees through a memory list.
    b = NameRequest();
    std::vector<uint8_t> out = NameRequest();
    ASSERT_TRUE(PlatDeviceIoControl(device, 0x81252006, b.data(), 96, out.data(), 96, &returned, nullptr));
    EXPECT_EQ(returned, 96u);
    EXPECT_STREQ(reinterpret_cast<const char*>(out.data() + 84), "K1394Driver");
    // Neither: no buffer the driver can take.
    EXPECT_FALSE(PlatDeviceIoControl(device, 0x81252007, b.data(), 96, out.data(), 96, &returned, nullptr));
    EXPECT_EQ(PlatGetLastError(), 87u);

    // A device whose removal is pending refuses opens and requests with error 5.
    PDEVICE_OBJECT node = simbus::Bus1394NodeDevice("c1");
    ASSERT_NE(node, nullptr);
    ASSERT_EQ(KernPnpRequest(node, IRP_MN_QUERY_REMOVE_DEVICE), STATUS_SUCCESS);
    EXPECT_EQ(PlatCreateDeviceFile("\\\\.\\K13940", 0, 3, 0), PLAT_INVALID_HANDLE_VALUE);
    EXPECT_EQ(PlatGetLastError(), 5u);
    b = NameRequest();
    EXPECT_FALSE(PlatDeviceIoControl(device, kGetName, b.data(), 96, b.data(), 96, &returned, nullptr));
    EXPECT_EQ(PlatGetLastError(), 5u);
    ASSERT_EQ(KernPnpRequest(node, IRP_MN_CANCEL_REMOVE_DEVICE), STATUS_SUCCESS);

    // A close sends cleanup, then close.
    EXPECT_TRUE(PlatCloseHandle(overlappedDevice));
    EXPECT_TRUE(trace.Contains("K1394_Cleanup\n"));
    EXPECT_EQ(KernGet1394Devices().size(), 1u);
    EXPECT_EQ(KernGet1394Devices()[0].driverFile, "libK13942k.so");

    // The camera leaves: requests on the open handle fail, the paths are gone.
    ASSERT_TRUE(simcam::PlugCamera("c1", simcam::Plug::None, &error)) << error;
    simbus::PollBus1394();
    EXPECT_TRUE(Paths().empty());
    b = NameRequest();
    EXPECT_FALSE(PlatDeviceIoControl(device, kGetName, b.data(), 96, b.data(), 96, &returned, nullptr));
    EXPECT_EQ(PlatGetLastError(), PLAT_ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_TRUE(PlatCloseHandle(device));
    EXPECT_EQ(PlatCreateDeviceFile(paths[0].c_str(), 0, 3, 0), PLAT_INVALID_HANDLE_VALUE);
    EXPECT_EQ(PlatGetLastError(), PLAT_ERROR_FILE_NOT_FOUND);
    EXPECT_TRUE(KernGet1394Devices().empty());
}
