// The flat transfer interface over the simulated USB kernel driver and camera c1.
#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "OstraExports.h"
#include "OstraFixture.h"
#include "PlatformSync.h"

namespace {

using ostratest::OstraTest;

class OstraUsb : public OstraTest {
protected:
    void SetUp() override
    {
        OstraTest::SetUp();
        if (HasFatalFailure())
            return;
        const PlatGuid guid = CameraClass();
        h = o.OstraOpenGuidHandle(&guid, 0, 0);
        ASSERT_NE(h, PLAT_INVALID_HANDLE_VALUE);
    }
    void TearDown() override
    {
        if (h != PLAT_INVALID_HANDLE_VALUE)
            o.OstraCloseHandle(h);
        OstraTest::TearDown();
    }

    uint32_t Control(uint8_t type, uint8_t request, uint16_t value, uint16_t index, bool out,
                     std::vector<uint8_t>* data, uint32_t length, uint32_t* returned = nullptr)
    {
        uint32_t got = 0;
        data->resize(std::max<size_t>(data->size(), std::max<uint32_t>(length, 1)));
        const uint32_t r = o.OstraControlTransfer(h, type, request, value, index, out ? 1 : 0, length, data->data(), &got);
        if (returned)
            *returned = got;
        return r;
    }
    // Latches the camera's read (request 0) or write (request 1) address.
    void Latch(uint8_t request, uint16_t high, uint32_t low)
    {
        std::vector<uint8_t> a = {uint8_t(high), uint8_t(high >> 8), uint8_t(low >> 16), uint8_t(low >> 24),
                                  uint8_t(low), uint8_t(low >> 8)};
        ASSERT_EQ(Control(0x40, request, 0, 0, true, &a, 6), 0u);
    }
    // The trace text written so far (tracing enabled by TraceOn).
    void TraceOn()
    {
        ASSERT_TRUE(o.OstraSetReadTraceOwnerKey(5, 0));
        ASSERT_TRUE(o.OstraUsbEnableTracing(5, 1));
    }
    std::string TraceText()
    {
        std::string text;
        int32_t slot = -1;
        for (int i = 0; i < 5; ++i) {
            std::vector<uint8_t> bytes(OSTRA_TRACE_SLOT_BYTES);
            int32_t next = 0;
            uint32_t length = 0;
            if (o.WaitForTrace(slot, 0, 0, bytes.data(), &next, &length, 5) != 0)
                break;
            uint32_t used;
            std::memcpy(&used, bytes.data(), 4);
            text.append(reinterpret_cast<const char*>(bytes.data()) + 4, used);
            if (length != 0)
                break;
            slot = next;
        }
        return text;
    }

    static std::string CameraLog()
    {
        std::string text, error;
        simcam::ReadCameraLog("c1", &text, &error);
        return text;
    }

    PlatHandle h = PLAT_INVALID_HANDLE_VALUE;
};

TEST_F(OstraUsb, ExportsCarryTheirOrdinalsAndNothingElseLeaves)
{
    std::vector<uint16_t> ordinals;
    for (const ostra::ExportOrdinal& e : ostra::kExportOrdinals) {
        EXPECT_NE(PlatGetProcAddress(o.module, e.name), nullptr) << e.name;
        ordinals.push_back(e.ordinal);
    }
    std::sort(ordinals.begin(), ordinals.end());
    EXPECT_EQ(std::adjacent_find(ordinals.begin(), ordinals.end()), ordinals.end());
    const std::string symbols =
        lumotest::CommandOutput("nm -D --defined-only " LUMO_BINARY_DIR "/lib/libOstraUsb.so | awk '{print $3}' | "
                                "grep -E 'Ostra|Dll|WaitForTrace' | sort");
    std::vector<std::string> names;
    for (const ostra::ExportOrdinal& e : ostra::kExportOrdinals)
        names.push_back(e.name);
    std::sort(names.begin(), names.end());
    std::string expected;
    for (const std::string& n : names)
        expected += n + "\n";
    EXPECT_EQ(symbols, expected);
}

TEST_F(OstraUsb, OpensByClassMemberOrLinkName)
{
    const PlatGuid guid = CameraClass();
    EXPECT_EQ(o.OstraOpenGuidHandle(&guid, 1, 0), PLAT_INVALID_HANDLE_VALUE);
    EXPECT_EQ(o.OstraOpenGuidHandle(nullptr, 0, 0), PLAT_INVALID_HANDLE_VALUE);
    EXPECT_EQ(PlatGetLastError(), 87u);
    EXPECT_EQ(o.OstraOpenHandle(nullptr, 0, 0), PLAT_INVALID_HANDLE_VALUE);
    EXPECT_EQ(PlatGetLastError(), 87u);
    EXPECT_EQ(o.OstraOpenHandle("KUSB", 1, 0), PLAT_INVALID_HANDLE_VALUE);
    EXPECT_EQ(o.OstraOpenHandle(std::string(300, 'K').c_str(), 0, 0), PLAT_INVALID_HANDLE_VALUE);

    PlatHandle byLink = o.OstraOpenHandle("KUSB", 0, 1);
    ASSERT_NE(byLink, PLAT_INVALID_HANDLE_VALUE);
    char name[16];
    std::memset(name, '#', sizeof name);
    ASSERT_EQ(o.OstraGetLinkname(byLink, 8, name), 0u);
    EXPECT_EQ(std::string(name, 6), "KUSB0#") << "the text without a zero";
    // At most the caller's length.
    std::memset(name, '#', sizeof name);
    ASSERT_EQ(o.OstraGetLinkname(h, 2, name), 0u);
    EXPECT_EQ(std::string(name, 3), "KU#");
    EXPECT_EQ(o.OstraGetLinkname(h, 2, nullptr), 87u);
    PlatGuid got{};
    ASSERT_EQ(o.OstraGetGuid(byLink, &got), 0u);
    EXPECT_TRUE(got == guid);
    EXPECT_EQ(o.OstraGetGuid(byLink, nullptr), 87u);
    uint32_t major = 9, minor = 9;
    ASSERT_EQ(o.OstraGetDriverVersion(byLink, &major, &minor), 0u);
    EXPECT_EQ(major, 1u);
    EXPECT_EQ(minor, 0u);
    EXPECT_EQ(o.OstraGetDriverVersion(byLink, nullptr, &minor), 87u);
    EXPECT_TRUE(o.OstraCloseHandle(byLink));
    EXPECT_FALSE(o.OstraCloseHandle(byLink));
}

TEST_F(OstraUsb, ControlTransfersAreCheckedBeforeAnyRequest)
{
    Latch(0, 0xFFFF, 0xF0010000);  // the magic word
    std::vector<uint8_t> data;
    uint32_t returned = 0;
    ASSERT_EQ(Control(0x40, 8, 0, 0, false, &data, 1536, &returned), 0u);
    EXPECT_EQ(returned, 4u) << "a longer IN stage gets what the camera gave";
    const size_t requests = DeviceLogLines();
    struct Refused {
        uint8_t type, request;
        uint32_t length;
    };
    for (const Refused& r : {Refused{0x40, 8, 1537}, Refused{0xC0, 8, 4}, Refused{0x80, 6, 18}, Refused{0, 5, 0},
                             Refused{0, 7, 0}, Refused{0, 9, 0}, Refused{1, 11, 0}, Refused{2, 12, 2},
                             Refused{0x60, 0, 0}, Refused{0x44, 0, 0}})
        EXPECT_EQ(Control(r.type, r.request, 0, 0, false, &data, r.length), 87u)
            << int(r.type) << " " << int(r.request) << " " << r.length;
    uint32_t got = 0;
    EXPECT_EQ(o.OstraAsynchControlTransfer(h, 0xC0, 8, 0, 0, 0, 4, data.data(), &got, nullptr), 87u);
    EXPECT_EQ(DeviceLogLines(), requests) << "no request reached the driver";

    // Standard requests are answered from the device's identity.
    ASSERT_EQ(Control(0, 6, 0x0100, 0, false, &data, 64, &returned), 0u);
    EXPECT_EQ(std::vector<uint8_t>(data.begin(), data.begin() + returned), simcam::CameraUsbIdentity().deviceDescriptor);
    ASSERT_EQ(Control(0, 8, 0, 0, false, &data, 1, &returned), 0u);
    EXPECT_EQ(data[0], 1);
    EXPECT_EQ(Control(0x21, 1, 0, 0, false, &data, 1), 0xE0100004u) << "class requests stall";
}

TEST_F(OstraUsb, BulkTransfersMoveTheCamerasBytesAndStallsHoldUntilCleared)
{
    // The name area through pipe 0, back through pipe 1.
    std::vector<uint8_t> none;
    Latch(1, 0x1009, 0x4);
    ASSERT_EQ(Control(0x40, 5, 0, 8, true, &none, 0), 0u);
    std::vector<uint8_t> name = {'I', 'M', 'G', '_', '0', '0', '0', '1'};
    uint32_t returned = 0;
    ASSERT_EQ(o.OstraBulkTransfer(h, 0, 8, name.data(), &returned), 0u);
    EXPECT_EQ(returned, 8u);
    Latch(0, 0x1009, 0x4);
    ASSERT_EQ(Control(0x40, 4, 0, 8, true, &none, 0), 0u);
    std::vector<uint8_t> back(8);
    ASSERT_EQ(o.OstraBulkTransfer(h, 1, 8, back.data(), &returned), 0u);
    EXPECT_EQ(back, name);
    EXPECT_EQ(o.OstraBulkTransfer(h, 1, 8, back.data(), nullptr), 87u);

    Knob("stall", "1");
    EXPECT_EQ(o.OstraBulkTransfer(h, 1, 4, back.data(), &returned), 0xE0100004u);
    EXPECT_EQ(o.OstraBulkTransfer(h, 1, 4, back.data(), &returned), 0xE0100004u);
    ASSERT_EQ(o.OstraClearStall(h, 1), 0u);
    EXPECT_EQ(o.OstraBulkTransfer(h, 1, 4, back.data(), &returned), 0u) << CameraLog();
    EXPECT_EQ(o.OstraInterruptTransfer(h, 0x83, 4, back.data(), &returned), 0xE0100005u);
}

TEST_F(OstraUsb, IsochronousBuffersAreCheckedInSixtyFourBits)
{
    const uint32_t packets = 8, size = 64;
    struct Case {
        uint32_t record;
        uint64_t length;
        uint32_t expected;
    };
    const uint64_t exact = packets * (size + 16);
    for (const Case& c : {Case{16, exact, 0}, Case{16, exact - 1, 122}, Case{8, exact, 87}, Case{16, 3, 122},
                          Case{32, packets * (size + 32), 0}, Case{32, packets * (size + 32) - 1, 122}}) {
        std::vector<uint8_t> buffer(std::max<uint64_t>(c.length, 4), 0);
        std::memcpy(buffer.data(), &c.record, 4);
        uint32_t returned = 0;
        const uint32_t r = o.OstraIsochronousTransfer(h, 0x83, packets, size, static_cast<uint32_t>(c.length),
                                                      buffer.data(), &returned);
        ASSERT_EQ(r, c.expected) << c.record << " " << c.length;
        if (r != 0)
            continue;
        EXPECT_EQ(returned, c.length);
        for (uint32_t i = 0; i < packets; ++i) {
            uint32_t status, length;
            std::memcpy(&status, &buffer[i * c.record + 4], 4);
            std::memcpy(&length, &buffer[i * c.record + 8], 4);
            EXPECT_EQ(status, 0u);
            EXPECT_EQ(length, size);
        }
        for (uint32_t k = 0; k < packets * size; ++k)
            ASSERT_EQ(buffer[packets * c.record + k], uint8_t(k)) << k;
    }
    // packets x (size + record) is 2^32: its 32-bit product would pass a 64-byte buffer.
    std::vector<uint8_t> small(64, 0);
    small[0] = 16;
    uint32_t returned = 0;
    EXPECT_EQ(o.OstraIsochronousTransfer(h, 0x83, 65536, 65520, 64, small.data(), &returned), 122u);
    EXPECT_EQ(o.OstraIsochronousTransfer(h, 0x83, 1, 1, 64, nullptr, &returned), 87u);
    EXPECT_EQ(o.OstraIsochronousTransfer(h, 0x81, 1, 1, 64, small.data(), &returned), 0xE0100005u);
}

TEST_F(OstraUsb, OverlappedRequestsPendWhileTheCameraIsSlow)
{
    Knob("usb-delay", "300");
    PlatOverlapped overlapped{};
    overlapped.event = PlatCreateEvent(true, false, nullptr);
    std::vector<uint8_t> data(4);
    uint32_t returned = 0;
    ASSERT_EQ(o.OstraAsynchBulkTransfer(h, 1, 4, data.data(), &returned, &overlapped), 997u);
    EXPECT_EQ(o.OstraCheckAsynchCompletion(h, &returned, &overlapped), 997u);
    ASSERT_EQ(PlatWaitForSingleObject(overlapped.event, 30000), PLAT_WAIT_OBJECT_0);
    EXPECT_EQ(o.OstraCheckAsynchCompletion(h, &returned, &overlapped), 0u);
    EXPECT_EQ(o.OstraCheckAsynchCompletion(h, nullptr, &overlapped), 87u);
    EXPECT_EQ(o.OstraCheckAsynchCompletion(h, &returned, nullptr), 87u);
    EXPECT_EQ(o.OstraAsynchBulkTransfer(h, 1, 4, data.data(), nullptr, &overlapped), 87u);

    // A synchronous transfer waits for it; the camera's failures come back unchanged.
    Knob("stall", "1");
    EXPECT_EQ(o.OstraBulkTransfer(h, 1, 4, data.data(), &returned), 0xE0100004u);
    Knob("usb-delay", "0");
    ASSERT_EQ(o.OstraClearStall(h, 0x82), 0u) << "an endpoint address names its pipe";
    ASSERT_EQ(o.OstraAsynchBulkTransfer(h, 1, 4, data.data(), &returned, &overlapped), 0u);
    EXPECT_EQ(o.OstraCheckAsynchCompletion(h, &returned, &overlapped), 0u);
    PlatCloseHandle(overlapped.event);
}

TEST_F(OstraUsb, DescriptorsStringsAndLanguagesComeFromTheIdentity)
{
    uint8_t device[18], config[9], interface[9], endpoint[7];
    ASSERT_EQ(o.OstraGetDeviceDescriptor(h, device), 0u);
    EXPECT_EQ(std::vector<uint8_t>(device, device + 18), simcam::CameraUsbIdentity().deviceDescriptor);
    ASSERT_EQ(o.OstraGetConfigDescriptor(h, config), 0u);
    EXPECT_EQ(config[1], 2);
    ASSERT_EQ(o.OstraGetInterfaceDescriptor(h, interface), 0u);
    EXPECT_EQ(interface[4], 2) << "two endpoints";
    ASSERT_EQ(o.OstraGetEndpointDescriptor(h, 1, endpoint), 0u);
    EXPECT_EQ(endpoint[2], 0x82);
    EXPECT_EQ(o.OstraGetEndpointDescriptor(h, 2, endpoint), 87u);
    EXPECT_EQ(o.OstraSelectInterface(h, 0, 0), 0u);
    EXPECT_EQ(o.OstraSelectInterface(h, 0, 1), 87u);

    uint16_t count = 0;
    ASSERT_EQ(o.OstraGetNumberOfLanguageIds(h, &count), 0u);
    ASSERT_EQ(count, 1);
    uint16_t id = 0;
    ASSERT_EQ(o.OstraGetLanguageIds(h, 1, &id), 0u);
    EXPECT_EQ(id, 0x0409);
    uint32_t length = 0;
    ASSERT_EQ(o.OstraGetStringDescriptorLength(h, id, 2, &length), 0u);
    EXPECT_EQ(length, 11u);
    // The product name in Windows-1252: e-acute 0xE9, trade mark 0x99; never more than asked.
    const std::string product = "Cam\xE9ra KZR\x99";
    for (uint32_t asked : {11u, 20u, 3u, 1u}) {
        std::vector<char> text(24, '#');
        ASSERT_EQ(o.OstraGetStringDescriptor(h, id, 2, asked, text.data()), 0u);
        const size_t n = std::min<size_t>(asked, product.size());
        EXPECT_EQ(std::string(text.data(), n), product.substr(0, n));
        EXPECT_EQ(text[n], '#') << asked;
    }
    std::vector<char> text(8, 0);
    EXPECT_EQ(o.OstraGetStringDescriptor(h, id, 2, 0, text.data()), 87u);
    EXPECT_EQ(o.OstraGetStringDescriptor(h, id, 2, 4, nullptr), 87u);
    EXPECT_EQ(o.OstraGetStringDescriptor(h, id, 7, 4, text.data()), 0xE0100004u);
    EXPECT_EQ(o.OstraGetStringDescriptor(h, 0x0411, 2, 4, text.data()), 0xE0100004u);
    EXPECT_EQ(o.OstraGetNumberOfLanguageIds(h, nullptr), 87u);
    EXPECT_EQ(o.OstraGetLanguageIds(h, 1, nullptr), 87u);
    EXPECT_EQ(o.OstraGetStringDescriptorLength(h, id, 2, nullptr), 87u);
}

TEST_F(OstraUsb, TracingTellsDescriptorsAndFailures)
{
    TraceOn();
    uint8_t device[18];
    ASSERT_EQ(o.OstraGetDeviceDescriptor(h, device), 0u);
    Knob("stall", "1");
    std::vector<uint8_t> data(4);
    uint32_t returned = 0;
    ASSERT_EQ(o.OstraBulkTransfer(h, 1, 4, data.data(), &returned), 0xE0100004u);
    EXPECT_EQ(o.OstraSelectInterface(h, 3, 0), 87u);
    std::vector<uint8_t> none;
    EXPECT_EQ(Control(0, 5, 0, 0, true, &none, 0), 87u);
    const std::string text = TraceText();
    char heading[64];
    std::snprintf(heading, sizeof heading, "OSTRAUSB_DEVICE_DESCRIPTOR on handle 0x%08X\r\n",
                  static_cast<uint32_t>(reinterpret_cast<uintptr_t>(h)));
    EXPECT_NE(text.find(heading), std::string::npos) << text;
    EXPECT_NE(text.find("idVendor 0x5A4B\r\n"), std::string::npos);
    EXPECT_NE(text.find("bNumConfigurations 1\r\n"), std::string::npos);
    EXPECT_NE(text.find("OSTRA_USB: OstraBulkTransfer failed (0xE0100004), Handle: 0x"), std::string::npos);
    EXPECT_NE(text.find("The transaction failed because the endpoint returned a STALL packet identifier\n"),
              std::string::npos);
    EXPECT_NE(text.find("Error: 87.  The parameter is incorrect.\r\n"), std::string::npos);
    EXPECT_NE(text.find("Ostra for USB does not support the SET_ADDRESS Device Request.\nInvalid Control Transfer "
                        "attempted.\r\n"),
              std::string::npos);
}

TEST_F(OstraUsb, AnUnpluggedCameraFailsItsRequests)
{
    std::string error;
    ASSERT_TRUE(simcam::PlugCamera("c1", simcam::Plug::None, &error)) << error;
    uint8_t device[18];
    EXPECT_EQ(o.OstraGetDeviceDescriptor(h, device), PLAT_ERROR_DEVICE_NOT_CONNECTED);
    const PlatGuid guid = CameraClass();
    EXPECT_EQ(o.OstraOpenGuidHandle(&guid, 0, 0), PLAT_INVALID_HANDLE_VALUE);
    ASSERT_TRUE(simcam::PlugCamera("c1", simcam::Plug::Usb, &error)) << error;
    EXPECT_EQ(o.OstraGetDeviceDescriptor(h, device), 0u);
}

TEST_F(OstraUsb, ThreadsShareOneHandle)
{
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 20; ++i) {
                uint8_t device[18];
                uint32_t major, minor;
                if (o.OstraGetDeviceDescriptor(h, device) != 0 || device[8] != 0x4B ||
                    o.OstraGetDriverVersion(h, &major, &minor) != 0)
                    ++failures;
            }
        });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(failures.load(), 0);
}

}  // namespace
