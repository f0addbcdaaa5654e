// The driver's bus-request layer over the simulated bus.
#include <thread>

#include "K1394TestBench.h"

namespace {

using k1394test::Request;

class K1394Bus : public k1394test::Bench {};

TEST_F(K1394Bus, StartLearnsGenerationHostMaximaAndConfigurationBuffers)
{
    Camera("c1");
    BusKnob("hostwrite", 1024);
    PK1394_DEVICE_EXTENSION device = Device("c1");
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(device->GenerationCount, 1u);
    EXPECT_EQ(device->BusResetFlag, 0);
    EXPECT_EQ(device->MaxAsyncReadRequest, 2048u);
    EXPECT_EQ(device->MaxAsyncWriteRequest, 1024u);
    ASSERT_NE(device->ConfigRom, nullptr);
    ASSERT_NE(device->ModelLeaf, nullptr);
    EXPECT_EQ(std::memcmp(static_cast<char*>(device->ConfigRom) + 4, "1394", 4), 0);
    EXPECT_GT(device->UnitDirectorySize, 0u);
}

TEST_F(K1394Bus, ReadsGoOutInPiecesOfAtMostFourBlocks)
{
    Camera("c1");
    Knob("c1", "scratch", "on");
    PK1394_DEVICE_EXTENSION device = Device("c1");
    ASSERT_NE(device, nullptr);
    const struct {
        ULONG length, block;
        std::vector<std::string> requests;  // length and block size of each bus request
    } cases[] = {
        {1000, 128, {"512\tblock 128", "488\tblock 128"}},
        {600, 128, {"600\tblock 128"}},
        {600, 0, {"600\tblock 128"}},  // 0 is 128
        {4096, 1000, {"4096\tblock 1000"}},
        {5000, 1000, {"4000\tblock 1000", "1000\tblock 1000"}},
        {8, 128, {"8\tblock 128"}},
    };
    for (const auto& c : cases) {
        ClearBusLog();
        Request r(c.length);
        r->AddressHigh = 0x2000;
        r->AddressLow = 0x100;
        r->OutputSize = c.length;
        r->BlockSize = c.block;
        K1394_AsyncRead(device, r.Header());
        EXPECT_EQ(r->Success, 1u);
        EXPECT_EQ(r->Status, 0u);
        EXPECT_EQ(Requests(BusLog(), "read 0"), c.requests) << c.length << " at block " << c.block;
    }
    EXPECT_EQ(g_K1394ReadBlockSize, 128u);
}

TEST_F(K1394Bus, UnalignedRequestsFailWithoutABusRequest)
{
    Camera("c1");
    PK1394_DEVICE_EXTENSION device = Device("c1");
    ASSERT_NE(device, nullptr);
    ClearBusLog();
    for (ULONG low : {0xF0000402u, 0xF0000401u, 0xF0000403u}) {
        Request r;
        r->AddressHigh = 0xFFFF;
        r->AddressLow = low;
        r->OutputSize = 4;
        K1394_AsyncRead(device, r.Header());
        EXPECT_EQ(r->Success, 0u);
        EXPECT_EQ(r->Status, 0xC000000Du);
        Request w;
        w->AddressHigh = 0xFFFF;
        w->AddressLow = low;
        w->InputSize = 4;
        K1394_AsyncWrite(device, w.Header());
        EXPECT_EQ(w->Success, 0u);
        EXPECT_EQ(w->Status, 0xC000000Du);
        K1394_ReadInteger(device, r.Header());
        EXPECT_EQ(r->Success, 0u);
    }
    EXPECT_EQ(BusLog(), "");
}

TEST_F(K1394Bus, AStaleGenerationIsReturnedAndMarksTheDeviceForARefresh)
{
    Camera("c1");
    PK1394_DEVICE_EXTENSION device = Device("c1");
    ASSERT_NE(device, nullptr);
    KernDbgPrintCapture trace;
    ASSERT_TRUE(simbus::SetBusFailure(REQUEST_ASYNC_READ, 1, 0xC0120090u, nullptr));
    Request r;
    r->AddressHigh = 0xFFFF;
    r->AddressLow = 0xF0000404;
    r->OutputSize = 4;
    K1394_AsyncRead(device, r.Header());
    EXPECT_EQ(r->Success, 0u);
    EXPECT_EQ(r->Status, 0xC0120090u);
    EXPECT_EQ(device->BusResetFlag, 1);
    EXPECT_TRUE(trace.Contains("Rk1394SubmitIrb: generation number error, status = 0xC0120090.\n"));
    EXPECT_TRUE(trace.Contains("Call to 1394 bus driver failed: 0xC0120090\n"));

    // A real reset: requests carry the old generation until the device learns the new one.
    ASSERT_TRUE(simbus::ResetBus(nullptr, nullptr));
    device->BusResetFlag = 0;
    K1394_AsyncRead(device, r.Header());
    EXPECT_EQ(r->Status, 0xC0120090u);
    EXPECT_EQ(device->BusResetFlag, 1);
    EXPECT_EQ(Rk1394GetGenerationNumberFromBus(device), STATUS_SUCCESS);
    EXPECT_EQ(device->BusResetFlag, 0);
    EXPECT_EQ(device->GenerationCount, 2u);
    K1394_AsyncRead(device, r.Header());
    EXPECT_EQ(r->Success, 1u);
    EXPECT_EQ(std::memcmp(r.Payload(), "1394", 4), 0);
}

TEST_F(K1394Bus, TheBusResetNotificationSetsTheFlag)
{
    Camera("c1");
    PK1394_DEVICE_EXTENSION device = Device("c1");
    ASSERT_NE(device, nullptr);
    ASSERT_EQ(BusResetCallbackHandler(device, TRUE), STATUS_SUCCESS);
    ASSERT_TRUE(simbus::ResetBus(nullptr, nullptr));
    simbus::PollBus1394();
    EXPECT_EQ(device->BusResetFlag, 1);
    ASSERT_EQ(BusResetCallbackHandler(device, FALSE), STATUS_SUCCESS);
    device->BusResetFlag = 0;
    ASSERT_TRUE(simbus::ResetBus(nullptr, nullptr));
    simbus::PollBus1394();
    EXPECT_EQ(device->BusResetFlag, 0);
}

TEST_F(K1394Bus, QuadletsFollowTheSwapFlag)
{
    Camera("c1");
    Knob("c1", "scratch", "on");
    PK1394_DEVICE_EXTENSION device = Device("c1");
    ASSERT_NE(device, nullptr);
    const uint8_t bus[4] = {0x12, 0x34, 0x56, 0x78};
    ASSERT_EQ(simcam::OpenCamera1394("c1")->WriteBlock(0x2000'00000040ull, bus, 4), simcam::BusResult::Complete);
    Request r;
    r->AddressHigh = 0x2000;
    r->AddressLow = 0x40;
    device->ConfigArea.SwapFlag = 1;
    K1394_ReadInteger(device, r.Header());
    EXPECT_EQ(r->Success, 1u);
    EXPECT_EQ(r.Word(), 0x12345678u);
    EXPECT_EQ(r->BlockSize, 128u);
    device->ConfigArea.SwapFlag = 0;
    K1394_ReadInteger(device, r.Header());
    EXPECT_EQ(r.Word(), 0x78563412u);

    // Writes go the same way; the driver's own quadlet routines too.
    ULONG value = 0;
    ASSERT_TRUE(WriteCameraQuadlet(device, 0x44, 0x2000, 0xA1B2C3D4u));
    uint8_t back[4];
    ASSERT_EQ(simcam::OpenCamera1394("c1")->ReadBlock(0x2000'00000044ull, back, 4), simcam::BusResult::Complete);
    EXPECT_EQ(back[0], 0xD4);
    ASSERT_TRUE(ReadCameraQuadlet(device, 0x44, 0x2000, &value));
    EXPECT_EQ(value, 0xA1B2C3D4u);
    device->ConfigArea.SwapFlag = 1;
    ASSERT_TRUE(WriteCameraQuadlet(device, 0x44, 0x2000, 0xA1B2C3D4u));
    ASSERT_EQ(simcam::OpenCamera1394("c1")->ReadBlock(0x2000'00000044ull, back, 4), simcam::BusResult::Complete);
    EXPECT_EQ(back[0], 0xA1);
}

TEST_F(K1394Bus, TheConfigurationAreaLowersTheReadBlockSize)
{
    Camera("c1");
    Knob("c1", "scratch", "on");
    PK1394_DEVICE_EXTENSION device = Device("c1");
    ASSERT_NE(device, nullptr);
    ASSERT_EQ(ReadQuarelConfigurationAreaK1394(device), 1u);
    EXPECT_EQ(device->ConfigArea.MaxReadPacketSize, 512u);
    ClearBusLog();
    Request r(4096);
    r->AddressHigh = 0x2000;
    r->OutputSize = 4096;
    r->BlockSize = 2048;
    K1394_AsyncRead(device, r.Header());
    EXPECT_EQ(r->Success, 1u);
    EXPECT_EQ(Requests(BusLog(), "read 0"), (std::vector<std::string>{"2048\tblock 512", "2048\tblock 512"}));
    EXPECT_EQ(g_K1394ReadBlockSize, 512u);
    // A smaller block of the request stays.
    ClearBusLog();
    r->BlockSize = 256;
    K1394_AsyncRead(device, r.Header());
    EXPECT_EQ(Requests(BusLog(), "read 0").front(), "1024\tblock 256");
}

TEST_F(K1394Bus, TwoDevicesReadingAtOnceKeepTheirOwnBlockSizes)
{
    Camera("c1");
    Camera("c2");
    for (const char* id : {"c1", "c2"}) {
        Knob(id, "scratch", "on");
        Knob(id, "entries", "3");  // no maxima of its own: the host's hold
    }
    BusKnob("hostread", 512);
    PK1394_DEVICE_EXTENSION small = Device("c1");
    BusKnob("hostread", 2048);
    PK1394_DEVICE_EXTENSION large = Device("c2");
    ASSERT_NE(small, nullptr);
    ASSERT_NE(large, nullptr);
    ASSERT_EQ(ReadQuarelConfigurationAreaK1394(small), 1u);
    ASSERT_EQ(ReadQuarelConfigurationAreaK1394(large), 1u);
    EXPECT_EQ(small->ConfigArea.MaxReadPacketSize, 512u);
    EXPECT_EQ(large->ConfigArea.MaxReadPacketSize, 2048u);
    ClearBusLog();
    auto reader = [](PK1394_DEVICE_EXTENSION device, bool* ok) {
        for (int i = 0; i < 8 && *ok; ++i) {
            Request r(8192);
            r->AddressHigh = 0x2000;
            r->OutputSize = 8192;
            r->BlockSize = 4096;
            K1394_AsyncRead(device, r.Header());
            *ok = r->Success == 1;
        }
    };
    bool ok1 = true, ok2 = true;
    std::thread t1(reader, small, &ok1), t2(reader, large, &ok2);
    t1.join();
    t2.join();
    EXPECT_TRUE(ok1);
    EXPECT_TRUE(ok2);
    std::string log = BusLog();
    for (const std::string& r : Requests(log, "read 0", "0 c1"))
        EXPECT_EQ(r, "2048\tblock 512");
    for (const std::string& r : Requests(log, "read 0", "1 c2"))
        EXPECT_EQ(r, "8192\tblock 2048");
    EXPECT_EQ(Requests(log, "read 0", "0 c1").size(), 32u);
    EXPECT_EQ(Requests(log, "read 0", "1 c2").size(), 8u);
}

TEST_F(K1394Bus, FreeingTheFifoRangeAndConfigurationGivesBackAllPool)
{
    Camera("c1");
    PK1394_DEVICE_EXTENSION device = Device("c1", false);
    ASSERT_NE(device, nullptr);
    ASSERT_EQ(Rk1394GetGenerationNumberFromBus(device), STATUS_SUCCESS);  // one context now kept for reuse
    const KernPoolReport before = KernGetPoolReport();

    ASSERT_EQ(Rk1394GetConfiguration(device), STATUS_SUCCESS);
    ASSERT_EQ(ReadQuarelConfigurationAreaK1394(device), 1u);
    std::vector<uint8_t> window = FillWindow("c1", Pattern(3000, 1));
    Request r(3000);
    r->AddressHigh = 0x1009;
    r->AddressLow = 0x10000000;
    r->OutputSize = 3000;
    K1394_CameraDrivenRead(device, r.Header());
    ASSERT_EQ(r->Success, 1u);
    ASSERT_NE(device->AddressRangeHandle, nullptr);
    EXPECT_GT(KernGetPoolReport().bytes, before.bytes);

    FreeLocalNodeFifo(device);
    Rk1394ReleaseConfiguration(device);
    EXPECT_EQ(device->AddressRangeHandle, nullptr);
    EXPECT_EQ(device->FifoListHead, nullptr);
    const KernPoolReport after = KernGetPoolReport();
    EXPECT_EQ(after.blocks, before.blocks);
    EXPECT_EQ(after.bytes, before.bytes);
}

TEST_F(K1394Bus, PoolExhaustionAndAnUnusableDeviceAreReported)
{
    Camera("c1");
    PK1394_DEVICE_EXTENSION device = Device("c1");
    ASSERT_NE(device, nullptr);
    KernDbgPrintCapture trace;
    // Every lookaside entry in use: a fresh context comes from the pool, which refuses.
    KernFailPoolAllocations(KernTag("DRKC"), 8);
    PIRB_CONTEXT held[4];
    for (auto& c : held)
        c = static_cast<PIRB_CONTEXT>(ExAllocateFromNPagedLookasideList(&device->IrbPool));
    EXPECT_EQ(Rk1394GetGenerationNumberFromBus(device), STATUS_INSUFFICIENT_RESOURCES);
    EXPECT_TRUE(trace.Contains("Rk1394GetGenerationNumberFromBus: Rk1394AllocateIrbContext failed"));
    KernFailPoolAllocations(KernTag("DRKC"), 0);
    for (auto& c : held)
        if (c)
            ExFreeToNPagedLookasideList(&device->IrbPool, c);
    EXPECT_EQ(Rk1394GetGenerationNumberFromBus(device), STATUS_SUCCESS);

    EXPECT_EQ(AllocateAddressRangeOnLocalNode(device, 0, K1394FifoReceive), STATUS_INVALID_PARAMETER);
    EXPECT_TRUE(trace.Contains("AllocateAddressRangeOnLocalNode() failed:  BufferSize = 0.\n"));

    device->Information.PoweredDown = 1;
    uint32_t word = 0;
    EXPECT_EQ(Rk1394AsyncTransfer(device, &word, 0, 4, 0xFFFF, 0xF0000404, 128), STATUS_NO_SUCH_DEVICE);
    device->Information.PoweredDown = 0;
    EXPECT_EQ(Rk1394AsyncTransfer(device, &word, 2, 4, 0xFFFF, 0xF0000404, 128), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(Rk1394AsyncTransfer(device, &word, 0, 4, 0xFFFF, 0xF0000404, 128), STATUS_SUCCESS);
}

TEST(K1394BusChunks, AtMostFourPacketsOnceFiveWouldFit)
{
    const struct {
        ULONG remaining, limit, packet, want;
    } cases[] = {
        {1000, 1000, 128, 512}, {600, 600, 128, 600}, {640, 640, 128, 512}, {20000, 8192, 4096, 8192},
        {3616, 8192, 4096, 3616}, {100, 100, 0, 100}, {100, 100, 3, 100}, {100, 100, 5, 16}, {50, 8192, 128, 50},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ChunkSize(c.remaining, c.limit, c.packet), c.want) << c.remaining << " " << c.limit << " " << c.packet;
}

}  // namespace
