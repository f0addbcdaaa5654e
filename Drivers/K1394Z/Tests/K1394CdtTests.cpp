// The camera's configuration area and the camera-driven transfer over the simulated bus.
#include <chrono>

#include "K1394TestBench.h"

namespace {

using k1394test::Request;
using Clock = std::chrono::steady_clock;

class K1394Cdt : public k1394test::Bench {
protected:
    // The values the driver wrote to an engine register, from the bus's log.
    static std::vector<std::string> Written(const std::string& log, const std::string& address)
    {
        std::vector<std::string> out;
        size_t at = 0;
        while ((at = log.find("\t" + address + "\t", at)) != std::string::npos) {
            size_t begin = log.rfind('\n', at);
            begin = begin == std::string::npos ? 0 : begin + 1;
            size_t end = log.find('\n', at);
            std::string line = log.substr(begin, end - begin);
            at = end;
            size_t value = line.find("\tvalue ");
            if (line.find("\twrite 1\t") != std::string::npos && value != std::string::npos)
                out.push_back(line.substr(value + 7));
        }
        return out;
    }

    static Request CdtRequest(ULONG size, ULONG packet)
    {
        Request r(size);
        r->AddressHigh = 0x1009;
        r->AddressLow = 0x10000000;
        r->OutputSize = size;
        r->PacketSize = packet;
        return r;
    }
};

TEST_F(K1394Cdt, TheAreaOfAKvckCameraIsReadAndInterpreted)
{
    Camera("c1");
    PK1394_DEVICE_EXTENSION device = Device("c1");
    ASSERT_NE(device, nullptr);
    KernDbgPrintCapture trace;
    ASSERT_EQ(ReadQuarelConfigurationAreaK1394(device), 1u);
    EXPECT_TRUE(trace.Contains("ReadQuarelConfigurationAreaK1394\n"));
    const K1394_CONFIGURATION_AREA& a = device->ConfigArea;
    EXPECT_EQ(a.Present, 1u);
    EXPECT_EQ(a.ReadAttempted, 1u);
    EXPECT_EQ(a.SwapFlag, 1u);
    EXPECT_EQ(a.Magic, K1394_MAGIC_KVCK);
    EXPECT_EQ(a.AreaBase, 0xFFFFF0010000ull);
    EXPECT_EQ(a.CountAddress, 0xFFFFF0010004ull);
    EXPECT_EQ(a.TableAddress, 0xFFFFF0010010ull);
    ASSERT_EQ(a.EntryCount, 5u);
    EXPECT_EQ(a.Entries[0].Type, 0x20000u);
    EXPECT_EQ(a.Entries[1].Type, 0x40000u);
    EXPECT_EQ(a.Entries[1].Word1, 0x10001u);  // kept as read
    EXPECT_EQ(a.DataWindowBase, 0x100900000000ull);
    EXPECT_EQ(a.DataWindowBase2, 0x100908000000ull);
    EXPECT_EQ(a.MaxReadPacketSize, 512u);
    EXPECT_EQ(a.MaxWritePacketSize, 512u);
    EXPECT_EQ(a.DefaultPacketSize, 128u);
    EXPECT_EQ(a.CdtPacketSize, 128u);
    const K1394_CDT_AREA& t = device->CdtArea;
    EXPECT_EQ(t.Valid, 1u);
    EXPECT_EQ(t.RegisterBase, 0x100600000000ull);
    EXPECT_EQ(t.AddressInCameraHi, 0x1006000000E4ull);
    EXPECT_EQ(t.TransferSize, 0x1006000000ECull);
    EXPECT_EQ(t.Status, 0x100600000100ull);
    EXPECT_EQ(t.NinthRegister, 0x100600000104ull);
}

TEST_F(K1394Cdt, AKcvkCameraGetsNoByteReversal)
{
    Camera("c2", simcam::ByteOrder::KCVK);
    PK1394_DEVICE_EXTENSION device = Device("c2");
    ASSERT_NE(device, nullptr);
    ASSERT_EQ(ReadQuarelConfigurationAreaK1394(device), 1u);
    const K1394_CONFIGURATION_AREA& a = device->ConfigArea;
    EXPECT_EQ(a.SwapFlag, 0u);
    EXPECT_EQ(a.Magic, K1394_MAGIC_KVCK);
    ASSERT_EQ(a.EntryCount, 5u);
    EXPECT_EQ(a.Entries[0].Type, 0x20000u);
    EXPECT_EQ(a.Entries[4].Type, 0x70000u);
    EXPECT_EQ(a.MaxReadPacketSize, 512u);
    EXPECT_EQ(device->CdtArea.RegisterBase, 0x100600000000ull);

    // Later quadlets go as they stand: a register written reads back in the camera's order.
    ASSERT_TRUE(WriteCameraQuadlet(device, 0x0, 0x1009, 0x01020304u));
    uint8_t bus[4];
    ASSERT_EQ(simcam::OpenCamera1394("c2")->ReadBlock(0x1009'00000000ull, bus, 4), simcam::BusResult::Complete);
    EXPECT_EQ(bus[0], 0x04);
    ULONG value = 0;
    ASSERT_TRUE(ReadCameraQuadlet(device, 0x0, 0x1009, &value));
    EXPECT_EQ(value, 0x01020304u);
}

TEST_F(K1394Cdt, CountsAreCutToFiftyAndAnUnreadableEntryEndsTheTable)
{
    Camera("c1");
    Knob("c1", "scratch", "on");  // entries past the camera's table read as scratch memory
    Knob("c1", "entries", "75");
    PK1394_DEVICE_EXTENSION device = Device("c1");
    ASSERT_NE(device, nullptr);
    ASSERT_EQ(ReadQuarelConfigurationAreaK1394(device), 1u);
    EXPECT_EQ(device->ConfigArea.EntryCount, 50u);

    Camera("c3");
    Knob("c3", "level", "off");
    Knob("c3", "engine", "off");  // three entries, then address errors
    Knob("c3", "entries", "10");
    simbus::PollBus1394();
    PK1394_DEVICE_EXTENSION other = Device("c3");
    ASSERT_NE(other, nullptr);
    ASSERT_EQ(ReadQuarelConfigurationAreaK1394(other), 1u);
    const K1394_CONFIGURATION_AREA& a = other->ConfigArea;
    EXPECT_EQ(a.EntryCount, 10u);
    EXPECT_EQ(a.Entries[2].Type, 0x70000u);
    EXPECT_EQ(a.Entries[3].Type, 0u);
    EXPECT_EQ(other->CdtArea.Valid, 0u);

    // Without a transfer area a camera-driven read gives up before the camera is asked.
    Request r = CdtRequest(64, 0);
    K1394_CameraDrivenRead(other, r.Header());
    EXPECT_EQ(r->Success, 0u);
    EXPECT_EQ(r->Status, 0xC000000Du);
}

TEST_F(K1394Cdt, ACameraWithoutTheMagicHasAnEmptyArea)
{
    Camera("c1");
    PK1394_DEVICE_EXTENSION device = Device("c1");
    ASSERT_NE(device, nullptr);
    ASSERT_TRUE(simbus::SetBusFailure(REQUEST_ASYNC_READ, 1, 0xC0000141u, nullptr));
    EXPECT_EQ(ReadQuarelConfigurationAreaK1394(device), 0u);
    EXPECT_EQ(device->ConfigArea.Present, 0u);
    EXPECT_EQ(device->ConfigArea.ReadAttempted, 1u);
    EXPECT_EQ(device->ConfigArea.MaxReadPacketSize, 2048u);
    EXPECT_EQ(device->ConfigArea.EntryCount, 0u);
    EXPECT_EQ(device->CdtArea.Valid, 0u);
    // Read again once the camera answers.
    ASSERT_EQ(ReadQuarelConfigurationAreaK1394(device), 1u);
    EXPECT_EQ(device->ConfigArea.EntryCount, 5u);
}

TEST_F(K1394Cdt, ALargeReadGoesInChunksAndReturnsTheCamerasBytesInOrder)
{
    Camera("c1");
    PK1394_DEVICE_EXTENSION device = Device("c1");
    ASSERT_NE(device, nullptr);
    ASSERT_EQ(ReadQuarelConfigurationAreaK1394(device), 1u);
    std::vector<uint8_t> window = FillWindow("c1", Pattern(20000, 7));
    ClearBusLog();
    Request r = CdtRequest(20000, 4096);
    K1394_CameraDrivenRead(device, r.Header());
    ASSERT_EQ(r->Success, 1u);
    EXPECT_EQ(r->Status, 0u);
    EXPECT_EQ(r->OutputSize, 20000u);
    EXPECT_EQ(std::memcmp(r.Payload(), window.data(), window.size()), 0);
    std::string log = BusLog();
    EXPECT_EQ(Written(log, "1006:000000ec"), (std::vector<std::string>{"0x00002000", "0x00002000", "0x00000E20"}))
        << log;
    EXPECT_EQ(Written(log, "1006:000000e8"), (std::vector<std::string>{"0x10000000", "0x10002000", "0x10004000"}));
    EXPECT_EQ(Written(log, "1006:000000f8"), (std::vector<std::string>{"0x00001000", "0x00001000", "0x00001000"}));
    EXPECT_EQ(Written(log, "1006:000000fc"), (std::vector<std::string>{"0xDEFE1111", "0xDEFE1111", "0xDEFE1111"}));
    EXPECT_EQ(device->CurrentCdtRequest, nullptr);

    // A packet size of 0 takes the area's (128): chunks of four packets.
    ClearBusLog();
    Request small = CdtRequest(1000, 0);
    K1394_CameraDrivenRead(device, small.Header());
    ASSERT_EQ(small->Success, 1u);
    EXPECT_EQ(std::memcmp(small.Payload(), window.data(), 1000), 0);
    EXPECT_EQ(Written(BusLog(), "1006:000000ec"), (std::vector<std::string>{"0x00000200", "0x000001E8"}));
}

TEST_F(K1394Cdt, AnEngineThatStaysBusyFailsAfterTwentyAnswers)
{
    Camera("c1");
    Knob("c1", "engine-busy", "1000");
    PK1394_DEVICE_EXTENSION device = Device("c1");
    ASSERT_NE(device, nullptr);
    ASSERT_EQ(ReadQuarelConfigurationAreaK1394(device), 1u);
    FillWindow("c1", Pattern(256, 3));
    KernDbgPrintCapture trace;
    Request r = CdtRequest(256, 0);
    Clock::time_point start = Clock::now();
    K1394_CameraDrivenRead(device, r.Header());
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    EXPECT_EQ(r->Success, 0u);
    EXPECT_EQ(r->Status, 0u);  // the wait's
    EXPECT_TRUE(trace.Contains("CDT [14]: Fail -- BusyRetryCounter > MAX_BUSY_RETRY_COUNT.\n"));
    size_t busy = 0;
    for (size_t at = 0; (at = trace.Text().find("CDT [13]", at)) != std::string::npos; ++at)
        ++busy;
    EXPECT_EQ(busy, 20u);
    EXPECT_GE(ms, 190);
    EXPECT_EQ(device->CurrentCdtRequest, nullptr);
}

TEST_F(K1394Cdt, ASilentEngineTimesOut)
{
    Camera("c1");
    Knob("c1", "engine-silent", "on");
    PK1394_DEVICE_EXTENSION device = Device("c1");
    ASSERT_NE(device, nullptr);
    ASSERT_EQ(ReadQuarelConfigurationAreaK1394(device), 1u);
    FillWindow("c1", Pattern(256, 3));
    Request r = CdtRequest(256, 0);
    Clock::time_point start = Clock::now();
    K1394_CameraDrivenRead(device, r.Header());
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    EXPECT_EQ(r->Success, 0u);
    EXPECT_EQ(r->Status, 0x102u);
    EXPECT_EQ(r->OutputSize, 0u);
    EXPECT_GE(ms, 1990);
    EXPECT_EQ(device->CurrentCdtRequest, nullptr);
}

TEST_F(K1394Cdt, LateDataIsDroppedAndTheNextReadIsRight)
{
    Camera("c1");
    PK1394_DEVICE_EXTENSION device = Device("c1");
    ASSERT_NE(device, nullptr);
    ASSERT_EQ(ReadQuarelConfigurationAreaK1394(device), 1u);
    std::vector<uint8_t> window = FillWindow("c1", Pattern(4096, 11));
    BusKnob("delivery", 2500);
    KernDbgPrintCapture trace;
    {
        // The request's memory is gone by the time its data comes.
        auto r = std::make_unique<Request>(CdtRequest(4096, 1024));
        K1394_CameraDrivenRead(device, r->Header());
        EXPECT_EQ((*r)->Success, 0u);
        EXPECT_EQ((*r)->Status, 0x102u);
    }
    BusKnob("delivery", 0);
    simbus::DrainBus1394();
    EXPECT_TRUE(trace.Contains("K1394FifoReceive: 1024 bytes that no camera-driven read waits for dropped\n"))
        << trace.Text();
    std::string log = BusLog();
    size_t delivered = 0;
    for (size_t at = 0; (at = log.find("\tdeliver\t", at)) != std::string::npos; ++at)
        ++delivered;
    EXPECT_EQ(delivered, 4u);

    Request next = CdtRequest(4096, 1024);
    K1394_CameraDrivenRead(device, next.Header());
    ASSERT_EQ(next->Success, 1u);
    EXPECT_EQ(std::memcmp(next.Payload(), window.data(), window.size()), 0);
}

TEST_F(K1394Cdt, ARangeThatCouldNotBeHadIsAskedForAgain)
{
    Camera("c1");
    PK1394_DEVICE_EXTENSION device = Device("c1");
    ASSERT_NE(device, nullptr);
    ASSERT_EQ(ReadQuarelConfigurationAreaK1394(device), 1u);
    std::vector<uint8_t> window = FillWindow("c1", Pattern(512, 5));
    ASSERT_TRUE(simbus::SetBusFailure(REQUEST_ALLOCATE_ADDRESS_RANGE, 1, 0xC000009Au, nullptr));
    KernDbgPrintCapture trace;
    Request r = CdtRequest(512, 0);
    K1394_CameraDrivenRead(device, r.Header());
    EXPECT_EQ(r->Success, 0u);
    EXPECT_TRUE(trace.Contains("K1394_CreateDevice: Failed AllocateAddressRangeOnLocalNode().\n"));
    EXPECT_NE(device->FifoListHead, nullptr);
    Request again = CdtRequest(512, 0);
    K1394_CameraDrivenRead(device, again.Header());
    ASSERT_EQ(again->Success, 1u);
    EXPECT_EQ(std::memcmp(again.Payload(), window.data(), window.size()), 0);
}

}  // namespace
