// The simulated 1394 bus: its shared state, and its bus driver answering IRB requests in this process.
#include <atomic>
#include <cstdio>
#include <mutex>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "HostSide.h"
#include "LumoTestSupport.h"
#include "Platform1394.h"
#include "PlatformKernelHost.h"
#include "SimBus1394.h"
#include "SimCamera.h"

namespace {

using simbus::BusView;

NTSTATUS Done(PDEVICE_OBJECT, PIRP, PVOID context)
{
    KeSetEvent(static_cast<PKEVENT>(context), 0, FALSE);
    return STATUS_MORE_PROCESSING_REQUIRED;
}

// One IRB to the node; *pended tells whether the bus answered STATUS_PENDING.
NTSTATUS Submit(PDEVICE_OBJECT node, IRB* irb, bool* pended = nullptr)
{
    PIRP irp = IoAllocateIrp(node->StackSize, FALSE);
    PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
    next->MajorFunction = IRP_MJ_INTERNAL_DEVICE_CONTROL;
    next->Parameters.DeviceIoControl.IoControlCode = IOCTL_1394_CLASS;
    next->Parameters.Others.Argument1 = irb;
    KEVENT event;
    KeInitializeEvent(&event, NotificationEvent, FALSE);
    IoSetCompletionRoutine(irp, Done, &event, TRUE, TRUE, TRUE);
    NTSTATUS answer = IoCallDriver(node, irp);
    if (pended)
        *pended = answer == STATUS_PENDING;
    KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, nullptr);
    NTSTATUS status = irp->IoStatus.Status;
    IoFreeIrp(irp);
    return status;
}

NTSTATUS Transfer(PDEVICE_OBJECT node, ULONG function, uint32_t generation, uint16_t high, uint32_t low,
                         void* buffer, uint32_t length, uint32_t block)
{
    PMDL mdl = IoAllocateMdl(buffer, length, FALSE, FALSE, nullptr);
    MmBuildMdlForNonPagedPool(mdl);
    IRB irb{};
    irb.FunctionNumber = function;
    irb.u.AsyncTransfer.DestinationAddress.Off_High = high;
    irb.u.AsyncTransfer.DestinationAddress.Off_Low = low;
    irb.u.AsyncTransfer.nNumberOfBytesToRead = length;
    irb.u.AsyncTransfer.nBlockSize = block;
    irb.u.AsyncTransfer.Mdl = mdl;
    irb.u.AsyncTransfer.ulGeneration = generation;
    NTSTATUS status = Submit(node, &irb);
    IoFreeMdl(mdl);
    return status;
}

NTSTATUS WriteQuadlet(PDEVICE_OBJECT node, uint32_t generation, uint16_t high, uint32_t low, uint32_t value)
{
    uint8_t bytes[4] = {uint8_t(value >> 24), uint8_t(value >> 16), uint8_t(value >> 8), uint8_t(value)};
    return Transfer(node, REQUEST_ASYNC_WRITE, generation, high, low, bytes, 4, 4);
}

class Bus1394 : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* old = std::getenv("LUMO_MACHINE");
        m_Had = old != nullptr;
        if (old)
            m_Old = old;
        setenv("LUMO_MACHINE", (m_Dir.Path() / "machine").c_str(), 1);
    }
    void TearDown() override
    {
        simbus::StopBus1394();
        if (m_Had)
            setenv("LUMO_MACHINE", m_Old.c_str(), 1);
        else
            unsetenv("LUMO_MACHINE");
    }

    static void Camera(const std::string& id, simcam::ByteOrder order = simcam::ByteOrder::KVCK)
    {
        std::string error;
        ASSERT_TRUE(simcam::NewCamera(id, order, &error)) << error;
        ASSERT_TRUE(simcam::PlugCamera(id, simcam::Plug::Bus1394, &error)) << error;
    }

    static BusView View()
    {
        BusView view;
        std::string error;
        EXPECT_TRUE(simbus::SyncBus(&view, &error)) << error;
        return view;
    }

    static PDEVICE_OBJECT StartWith(const std::string& id)
    {
        std::string error;
        EXPECT_TRUE(simbus::StartBus1394(&error)) << error;
        return simbus::Bus1394NodeDevice(id);
    }

    static std::string Log()
    {
        std::string text, error;
        EXPECT_TRUE(simbus::ReadBusLog(&text, &error)) << error;
        return text;
    }

    lumotest::TempDir m_Dir;
    bool m_Had = false;
    std::string m_Old;
};

// ---- Shared state -----------------------------------------------------------------------------------------------------

TEST_F(Bus1394, PlugsUnplugsAndResetsAreBusResets)
{
    EXPECT_EQ(View().generation, 0u);
    Camera("c1");
    BusView v = View();
    EXPECT_EQ(v.generation, 1u);
    ASSERT_EQ(v.nodes.size(), 1u);
    EXPECT_EQ(v.nodes[0].id, "c1");
    EXPECT_EQ(View().generation, 1u);  // nothing changed, no reset
    ASSERT_TRUE(simbus::ResetBus(&v, nullptr));
    EXPECT_EQ(v.generation, 2u);
    Camera("c2");
    v = View();
    EXPECT_EQ(v.generation, 3u);
    ASSERT_EQ(v.nodes.size(), 2u);
    EXPECT_EQ(v.nodes[1].id, "c2");
    ASSERT_TRUE(simcam::PlugCamera("c1", simcam::Plug::None, nullptr));
    v = View();
    EXPECT_EQ(v.generation, 4u);
    ASSERT_EQ(v.nodes.size(), 1u);
    EXPECT_EQ(v.nodes[0].node, 0u);
    EXPECT_EQ(v.nodes[0].id, "c2");
}

TEST_F(Bus1394, FailuresCountDownAndKnobsAreRefusedOutOfRange)
{
    Camera("c1");
    PDEVICE_OBJECT node = StartWith("c1");
    ASSERT_NE(node, nullptr);
    ASSERT_TRUE(simbus::SetBusFailure(REQUEST_GET_GENERATION_COUNT, 2, 0xC0000185u, nullptr));
    IRB irb{};
    irb.FunctionNumber = REQUEST_GET_GENERATION_COUNT;
    EXPECT_EQ(Submit(node, &irb), MakeStatus(0xC0000185u));
    EXPECT_EQ(Submit(node, &irb), MakeStatus(0xC0000185u));
    EXPECT_EQ(Submit(node, &irb), STATUS_SUCCESS);
    EXPECT_EQ(irb.u.GetGenerationCount.GenerationCount, 1u);
    EXPECT_TRUE(View().failures.empty());
    std::string error;
    EXPECT_FALSE(simbus::SetBusKnob("pend", 60001, &error));
    EXPECT_FALSE(simbus::SetBusKnob("hostread", 0, &error));
    EXPECT_FALSE(simbus::SetBusKnob("colour", 1, &error));
    EXPECT_NE(error.find("unknown knob"), std::string::npos);
}

// ---- Requests ------------------------------------------------------------------------------------------------------------

TEST_F(Bus1394, ReadsAndWritesGoToTheCameraInBlocksWithTheCurrentGeneration)
{
    Camera("c1");
    PDEVICE_OBJECT node = StartWith("c1");
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(simbus::Bus1394NodeId(node), "c1");
    EXPECT_EQ(simbus::Bus1394NodeDevice("c9"), nullptr);
    char text[4];
    ASSERT_EQ(Transfer(node, REQUEST_ASYNC_READ, 1, 0xFFFF, 0xF0000404, text, 4, 0), STATUS_SUCCESS);
    EXPECT_EQ(std::string(text, 4), "1394");

    // The name area written in 8-byte blocks and read back whole.
    const char name[] = "/cf/images/IMG_0001.KZR\0";
    char back[24] = {};
    ASSERT_TRUE(simcam::ResetCamera("c1", nullptr));
    std::string before;
    ASSERT_TRUE(simcam::ReadCameraLog("c1", &before, nullptr));
    EXPECT_EQ(Transfer(node, REQUEST_ASYNC_WRITE, 1, 0x1009, 0x4, const_cast<char*>(name), 24, 8), STATUS_SUCCESS);
    EXPECT_EQ(Transfer(node, REQUEST_ASYNC_READ, 1, 0x1009, 0x4, back, 24, 0), STATUS_SUCCESS);
    EXPECT_EQ(std::memcmp(name, back, 24), 0);
    std::string camlog;
    ASSERT_TRUE(simcam::ReadCameraLog("c1", &camlog, nullptr));
    camlog = camlog.substr(before.size());
    size_t writes = 0;
    for (size_t at = camlog.find("\twrite\t"); at != std::string::npos; at = camlog.find("\twrite\t", at + 1))
        ++writes;
    EXPECT_EQ(writes, 3u) << camlog;

    // Unaligned, stale and unmapped requests.
    EXPECT_EQ(Transfer(node, REQUEST_ASYNC_READ, 1, 0xFFFF, 0xF0000402, text, 4, 0), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(Transfer(node, REQUEST_ASYNC_READ, 1, 0xFFFF, 0xF0000404, text, 3, 0), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(Transfer(node, REQUEST_ASYNC_READ, 0, 0xFFFF, 0xF0000404, text, 4, 0), STATUS_INVALID_GENERATION);
    EXPECT_EQ(Transfer(node, REQUEST_ASYNC_READ, 1, 0x1234, 0, text, 4, 0), STATUS_INVALID_ADDRESS);

    std::string log = Log();
    EXPECT_NE(log.find("node 0 c1\tread 0\tgeneration 1\tffff:f0000404\tlength 4\tblock 0\tstatus 0x00000000"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("write 1\tgeneration 1\t1009:00000004\tlength 24\tblock 8\tstatus 0x00000000"), std::string::npos);
    EXPECT_NE(log.find("read 0\tgeneration 0\tffff:f0000404\tlength 4\tblock 0\tstatus 0xC0120090"), std::string::npos);
}

TEST_F(Bus1394, AnswersHostInformationConfigurationRomAndGeneration)
{
    Camera("c1");
    PDEVICE_OBJECT node = StartWith("c1");
    ASSERT_NE(node, nullptr);
    GET_LOCAL_HOST_INFO2 info{};
    IRB irb{};
    irb.FunctionNumber = REQUEST_GET_LOCAL_HOST_INFO;
    irb.u.GetLocalHostInformation.nLevel = GET_HOST_CAPABILITIES;
    irb.u.GetLocalHostInformation.Information = &info;
    ASSERT_EQ(Submit(node, &irb), STATUS_SUCCESS);
    EXPECT_EQ(info.MaxAsyncReadRequest, 2048u);
    EXPECT_EQ(info.MaxAsyncWriteRequest, 2048u);
    ASSERT_TRUE(simbus::SetBusKnob("hostread", 512, nullptr));
    ASSERT_TRUE(simbus::SetBusKnob("hostwrite", 1024, nullptr));
    ASSERT_EQ(Submit(node, &irb), STATUS_SUCCESS);
    EXPECT_EQ(info.MaxAsyncReadRequest, 512u);
    EXPECT_EQ(info.MaxAsyncWriteRequest, 1024u);
    irb.u.GetLocalHostInformation.nLevel = 7;
    EXPECT_EQ(Submit(node, &irb), STATUS_INVALID_PARAMETER);

    irb = IRB{};
    irb.FunctionNumber = REQUEST_GET_CONFIGURATION_INFO;
    ASSERT_EQ(Submit(node, &irb), STATUS_SUCCESS);
    auto& c = irb.u.GetConfigurationInformation;
    ASSERT_GT(c.UnitDirectoryBufferSize, 0u);
    ASSERT_GT(c.ModelLeafBufferSize, 12u);
    std::vector<uint8_t> rom(CONFIG_ROM_SIZE), unit(c.UnitDirectoryBufferSize), dep(c.UnitDependentDirectoryBufferSize),
        vendor(c.VendorLeafBufferSize), model(c.ModelLeafBufferSize);
    c.ConfigRom = rom.data();
    c.UnitDirectory = unit.data();
    c.UnitDependentDirectory = dep.data();
    c.VendorLeaf = vendor.data();
    c.ModelLeaf = model.data();
    ASSERT_EQ(Submit(node, &irb), STATUS_SUCCESS);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(rom.data()) + 4, 4), "1394");
    EXPECT_EQ(std::string(reinterpret_cast<char*>(model.data()) + 12, 9), "Camera c1");
    EXPECT_EQ(unit[1], uint8_t(c.UnitDirectoryBufferSize / 4 - 1));  // its header counts the quadlets after it

    irb = IRB{};
    irb.FunctionNumber = 99;
    EXPECT_EQ(Submit(node, &irb), STATUS_NOT_IMPLEMENTED);
}

TEST_F(Bus1394, APendingAnswerCompletesLaterFromTheBusThread)
{
    Camera("c1");
    PDEVICE_OBJECT node = StartWith("c1");
    ASSERT_NE(node, nullptr);
    ASSERT_TRUE(simbus::SetBusKnob("pend", 30, nullptr));
    IRB irb{};
    irb.FunctionNumber = REQUEST_GET_GENERATION_COUNT;
    bool pended = false;
    EXPECT_EQ(Submit(node, &irb, &pended), STATUS_SUCCESS);
    EXPECT_TRUE(pended);
    EXPECT_EQ(irb.u.GetGenerationCount.GenerationCount, 1u);
    ASSERT_TRUE(simbus::SetBusKnob("pend", 0, nullptr));
    EXPECT_EQ(Submit(node, &irb, &pended), STATUS_SUCCESS);
    EXPECT_FALSE(pended);
}

// ---- The host's address ranges -------------------------------------------------------------------------------------

struct Receiver {
    static constexpr ULONG kElement = 8192;
    SINGLE_LIST_ENTRY head{};
    KSPIN_LOCK lock = 0;
    std::vector<uint8_t> memory;
    std::vector<ADDRESS_FIFO> elements;
    std::vector<uint8_t> received;
    std::atomic<int> calls{0};
    std::atomic<int> wrongIrql{0};
    ADDRESS_RANGE range{};
    PVOID handle = nullptr;

    explicit Receiver(size_t count) : memory(count * kElement), elements(count)
    {
        KeInitializeSpinLock(&lock);
        for (size_t i = 0; i < count; ++i) {
            elements[i].FifoMdl = IoAllocateMdl(memory.data() + i * kElement, kElement, FALSE, FALSE, nullptr);
            MmBuildMdlForNonPagedPool(elements[i].FifoMdl);
            ExInterlockedPushEntryList(&head, &elements[i].FifoList, &lock);
        }
    }
    ~Receiver()
    {
        for (ADDRESS_FIFO& e : elements)
            IoFreeMdl(e.FifoMdl);
    }

    static void Notify(PNOTIFICATION_INFO info)
    {
        auto* self = static_cast<Receiver*>(info->Context);
        if (KeGetCurrentIrql() != DISPATCH_LEVEL)
            ++self->wrongIrql;
        if (info->fulNotificationOptions == NOTIFY_FLAGS_AFTER_WRITE) {
            auto* bytes = static_cast<uint8_t*>(MmGetSystemAddressForMdlSafe(info->Mdl, HighPagePriority));
            self->received.insert(self->received.end(), bytes + info->ulOffset, bytes + info->ulOffset + info->nLength);
        }
        ++self->calls;
        ExInterlockedPushEntryList(&self->head, &info->Fifo->FifoList, &self->lock);
    }

    NTSTATUS Allocate(PDEVICE_OBJECT node, ULONG length)
    {
        IRB irb{};
        irb.FunctionNumber = REQUEST_ALLOCATE_ADDRESS_RANGE;
        auto& a = irb.u.AllocateAddressRange;
        a.fulFlags = 0xFFFFFFFE;
        a.nLength = length;
        a.fulAccessType = 7;
        a.fulNotificationOptions = 7;
        a.Callback = Notify;
        a.Context = this;
        a.FifoSListHead = &head;
        a.FifoSpinLock = &lock;
        a.p1394AddressRange = &range;
        NTSTATUS status = Submit(node, &irb);
        handle = a.hAddressRange;
        EXPECT_EQ(a.AddressesReturned, NT_SUCCESS(status) ? 1u : 0u);
        return status;
    }

    NTSTATUS Free(PDEVICE_OBJECT node)
    {
        IRB irb{};
        irb.FunctionNumber = REQUEST_FREE_ADDRESS_RANGE;
        irb.u.FreeAddressRange.nAddressesToFree = 1;
        irb.u.FreeAddressRange.p1394AddressRange = &range;
        irb.u.FreeAddressRange.pAddressRange = &handle;
        return Submit(node, &irb);
    }
};

// Programs the camera's engine to send `size` bytes of its data window to the host address and starts it.
NTSTATUS StartEngine(PDEVICE_OBJECT node, uint64_t host, uint32_t size, uint32_t packet)
{
    const struct {
        uint32_t reg, value;
    } writes[] = {{228, 0x1009}, {232, 0x10000000}, {240, uint32_t(host >> 32)}, {244, uint32_t(host)},
                  {236, size}, {248, packet}};
    for (auto& w : writes)
        if (NTSTATUS s = WriteQuadlet(node, 1, 0x1006, w.reg, w.value); !NT_SUCCESS(s))
            return s;
    return WriteQuadlet(node, 1, 0x1006, 252, 0xDEFE1111);
}

// Puts a file's bytes in the camera's data window by looking it up and reading it; answers the window as the
// camera's 1394 face shows it (what its engine sends).
std::vector<uint8_t> FillWindow(const std::string& id, const std::vector<uint8_t>& data)
{
    lumotest::TempDir dir;
    std::string path = (dir.Path() / "pic").string();
    FILE* f = std::fopen(path.c_str(), "wb");
    std::fwrite(data.data(), 1, data.size(), f);
    std::fclose(f);
    std::string cameraPath, error;
    EXPECT_TRUE(simcam::ShootPicture(id, path, "PIC.KZR", &cameraPath, &error)) << error;
    hosttest::Link1394 link(simcam::OpenCamera1394(id));
    hosttest::Mailbox box(link);
    hosttest::FileInfo info;
    EXPECT_TRUE(box.Lookup(cameraPath, &info));
    EXPECT_TRUE(box.Command(0xF11E0EAD, 0, uint32_t(data.size()), nullptr));
    std::vector<uint8_t> window(data.size());
    EXPECT_TRUE(link.ReadBlock(0x10000000, 0x1009, window.data(), window.size()));
    return window;
}

TEST_F(Bus1394, EngineDataReachesTheRangesFifoAfterTheStartingWriteCompleted)
{
    Camera("c1");
    std::vector<uint8_t> data(1000);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = uint8_t(i * 7 + 3);
    data = FillWindow("c1", data);
    PDEVICE_OBJECT node = StartWith("c1");
    ASSERT_NE(node, nullptr);
    Receiver r(4);
    ASSERT_EQ(r.Allocate(node, 32768), STATUS_SUCCESS);
    const uint64_t start = uint64_t(r.range.AR_Off_High) << 32 | r.range.AR_Off_Low;
    EXPECT_EQ(r.range.AR_Length, 32768u);
    ASSERT_TRUE(simbus::ClearBusLog(nullptr));
    ASSERT_EQ(StartEngine(node, start, 1000, 256), STATUS_SUCCESS);
    simbus::DrainBus1394();
    EXPECT_EQ(r.calls.load(), 4);
    EXPECT_EQ(r.wrongIrql.load(), 0);
    EXPECT_EQ(r.received, data);
    std::string log = Log();
    size_t start252 = log.find("1006:000000fc");
    size_t firstDelivery = log.find("\tdeliver\t");
    ASSERT_NE(firstDelivery, std::string::npos) << log;
    EXPECT_LT(start252, firstDelivery);
    EXPECT_NE(log.find("\tlength 232"), std::string::npos) << log;

    // Packets beyond the range, and into a FIFO with no element free, are dropped and logged.
    Receiver empty(0);
    ASSERT_EQ(empty.Allocate(node, 4096), STATUS_SUCCESS);
    const uint64_t start2 = uint64_t(empty.range.AR_Off_High) << 32 | empty.range.AR_Off_Low;
    ASSERT_EQ(StartEngine(node, start2, 256, 256), STATUS_SUCCESS);
    ASSERT_EQ(StartEngine(node, start + 32768 - 128, 256, 256), STATUS_SUCCESS);
    simbus::DrainBus1394();
    log = Log();
    EXPECT_NE(log.find("no FIFO element free"), std::string::npos) << log;
    EXPECT_NE(log.find("outside the range"), std::string::npos) << log;
    EXPECT_EQ(r.calls.load(), 4);

    // Once freed, a range takes nothing more.
    EXPECT_EQ(r.Free(node), STATUS_SUCCESS);
    EXPECT_EQ(r.Free(node), STATUS_INVALID_PARAMETER);
    ASSERT_EQ(StartEngine(node, start, 256, 256), STATUS_SUCCESS);
    simbus::DrainBus1394();
    EXPECT_NE(Log().find("no address range"), std::string::npos);
    EXPECT_EQ(r.calls.load(), 4);
    EXPECT_EQ(empty.Free(node), STATUS_SUCCESS);
}

TEST_F(Bus1394, DeliveriesWaitForTheirDelay)
{
    Camera("c1");
    FillWindow("c1", std::vector<uint8_t>(64, 0x5A));
    PDEVICE_OBJECT node = StartWith("c1");
    ASSERT_NE(node, nullptr);
    Receiver r(1);
    ASSERT_EQ(r.Allocate(node, 8192), STATUS_SUCCESS);
    ASSERT_TRUE(simbus::SetBusKnob("delivery", 150, nullptr));
    const uint64_t start = uint64_t(r.range.AR_Off_High) << 32 | r.range.AR_Off_Low;
    ULONGLONG before = KeQueryInterruptTime();
    ASSERT_EQ(StartEngine(node, start, 64, 64), STATUS_SUCCESS);
    EXPECT_EQ(r.calls.load(), 0);
    simbus::DrainBus1394();
    EXPECT_EQ(r.calls.load(), 1);
    EXPECT_GE((KeQueryInterruptTime() - before) / 10000, 140u);
    EXPECT_EQ(r.Free(node), STATUS_SUCCESS);
}

// ---- Bus resets -----------------------------------------------------------------------------------------------------------

struct ResetWatcher {
    std::atomic<int> calls{0};
    std::atomic<int> wrongIrql{0};
    static void Routine(PVOID context)
    {
        auto* self = static_cast<ResetWatcher*>(context);
        if (KeGetCurrentIrql() != DISPATCH_LEVEL)
            ++self->wrongIrql;
        ++self->calls;
    }
};

std::atomic<int> g_BusResetIrps{0};
std::atomic<uintptr_t> g_BusResetGeneration{0};

NTSTATUS UpperPnp(PDEVICE_OBJECT device, PIRP irp)
{
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    if (stack->MinorFunction == IRP_MN_BUS_RESET) {
        ++g_BusResetIrps;
        g_BusResetGeneration = reinterpret_cast<uintptr_t>(stack->Parameters.Others.Argument4);
    }
    IoSkipCurrentIrpStackLocation(irp);
    return IoCallDriver(*static_cast<PDEVICE_OBJECT*>(device->DeviceExtension), irp);
}

NTSTATUS UpperEntry(PDRIVER_OBJECT driver, PUNICODE_STRING)
{
    driver->MajorFunction[IRP_MJ_PNP] = UpperPnp;
    return STATUS_SUCCESS;
}

TEST_F(Bus1394, AResetCallsRegisteredRoutinesAndTellsEachStack)
{
    Camera("c1");
    PDEVICE_OBJECT node = StartWith("c1");
    ASSERT_NE(node, nullptr);
    PDRIVER_OBJECT upper = KernCreateDriver("UpperTest", UpperEntry, nullptr);
    ASSERT_NE(upper, nullptr);
    PDEVICE_OBJECT device = nullptr;
    ASSERT_EQ(IoCreateDevice(upper, sizeof(PDEVICE_OBJECT), nullptr, 0x22, 0, FALSE, &device), STATUS_SUCCESS);
    *static_cast<PDEVICE_OBJECT*>(device->DeviceExtension) = IoAttachDeviceToDeviceStack(device, node);

    ResetWatcher w;
    IRB irb{};
    irb.FunctionNumber = REQUEST_BUS_RESET_NOTIFICATION;
    irb.u.BusResetNotification.fulFlags = REGISTER_NOTIFICATION_ROUTINE;
    irb.u.BusResetNotification.ResetRoutine = ResetWatcher::Routine;
    irb.u.BusResetNotification.ResetContext = &w;
    ASSERT_EQ(Submit(node, &irb), STATUS_SUCCESS);

    g_BusResetIrps = 0;
    ASSERT_TRUE(simbus::ResetBus(nullptr, nullptr));
    simbus::PollBus1394();
    EXPECT_EQ(w.calls.load(), 1);
    EXPECT_EQ(w.wrongIrql.load(), 0);
    EXPECT_EQ(g_BusResetIrps.load(), 1);
    EXPECT_EQ(g_BusResetGeneration.load(), 2u);

    // A second camera joining is a reset too; the new node's stack is not told.
    Camera("c2");
    simbus::PollBus1394();
    EXPECT_EQ(w.calls.load(), 2);
    EXPECT_EQ(g_BusResetIrps.load(), 2);
    EXPECT_EQ(g_BusResetGeneration.load(), 3u);
    EXPECT_NE(simbus::Bus1394NodeDevice("c2"), nullptr);

    irb.u.BusResetNotification.fulFlags = DEREGISTER_NOTIFICATION_ROUTINE;
    ASSERT_EQ(Submit(node, &irb), STATUS_SUCCESS);
    EXPECT_EQ(Submit(node, &irb), STATUS_INVALID_PARAMETER);
    ASSERT_TRUE(simbus::ResetBus(nullptr, nullptr));
    simbus::PollBus1394();
    EXPECT_EQ(w.calls.load(), 2);

    // A camera that leaves takes its node away.
    std::vector<std::string> seen;
    simbus::SetBus1394NodeHandler([&](PDEVICE_OBJECT, const std::string& id, bool arrived) {
        seen.push_back((arrived ? "+" : "-") + id);
    });
    ASSERT_TRUE(simcam::PlugCamera("c2", simcam::Plug::None, nullptr));
    simbus::PollBus1394();
    EXPECT_EQ(simbus::Bus1394NodeDevice("c2"), nullptr);
    EXPECT_EQ(seen, std::vector<std::string>{"-c2"});

    IoDetachDevice(node);
    IoDeleteDevice(device);
    EXPECT_TRUE(KernUnloadDriver(upper, nullptr));
}

}  // namespace

namespace {

// A function driver of the tests: attaches to each node it is given and follows its plug-and-play requests.
std::vector<std::string> g_Function;
std::mutex g_FunctionLock;

NTSTATUS FunctionPnp(PDEVICE_OBJECT device, PIRP irp)
{
    UCHAR minor = IoGetCurrentIrpStackLocation(irp)->MinorFunction;
    PDEVICE_OBJECT lower = *static_cast<PDEVICE_OBJECT*>(device->DeviceExtension);
    {
        std::lock_guard<std::mutex> guard(g_FunctionLock);
        char text[16];
        std::snprintf(text, sizeof text, "pnp 0x%02X", minor);
        g_Function.push_back(text);
    }
    if (minor == IRP_MN_START_DEVICE || minor == IRP_MN_SURPRISE_REMOVAL || minor == IRP_MN_REMOVE_DEVICE)
        irp->IoStatus.Status = STATUS_SUCCESS;
    IoSkipCurrentIrpStackLocation(irp);
    NTSTATUS status = IoCallDriver(lower, irp);
    if (minor == IRP_MN_REMOVE_DEVICE) {
        IoDetachDevice(lower);
        IoDeleteDevice(device);
    }
    return status;
}

NTSTATUS FunctionAdd(PDRIVER_OBJECT driver, PDEVICE_OBJECT node)
{
    PDEVICE_OBJECT device = nullptr;
    NTSTATUS status = IoCreateDevice(driver, sizeof(PDEVICE_OBJECT), nullptr, 0x22, 0, FALSE, &device);
    if (!NT_SUCCESS(status))
        return status;
    *static_cast<PDEVICE_OBJECT*>(device->DeviceExtension) = IoAttachDeviceToDeviceStack(device, node);
    device->Flags &= ~ULONG(DO_DEVICE_INITIALIZING);
    std::lock_guard<std::mutex> guard(g_FunctionLock);
    g_Function.push_back("add " + simbus::Bus1394NodeId(node));
    return STATUS_SUCCESS;
}

NTSTATUS FunctionEntry(PDRIVER_OBJECT driver, PUNICODE_STRING)
{
    driver->MajorFunction[IRP_MJ_PNP] = FunctionPnp;
    driver->DriverExtension->AddDevice = FunctionAdd;
    return STATUS_SUCCESS;
}

TEST_F(Bus1394, NodesAreOfferedToTheFunctionDriverAndLeaveThroughThePnpManager)
{
    g_Function.clear();
    Camera("c1");
    ASSERT_NE(StartWith("c1"), nullptr);
    PDRIVER_OBJECT function = KernCreateDriver("FunctionTest", FunctionEntry, nullptr);
    ASSERT_NE(function, nullptr);
    simbus::SetBus1394FunctionDriver(function);
    {
        std::lock_guard<std::mutex> guard(g_FunctionLock);
        ASSERT_GE(g_Function.size(), 2u);
        EXPECT_EQ(g_Function[0], "add c1");
        EXPECT_EQ(g_Function[1], "pnp 0x00");
    }
    KernDeviceIds ids;
    ASSERT_TRUE(KernPnpGetDeviceIds(simbus::Bus1394NodeDevice("c1"), &ids));
    EXPECT_EQ(ids.bus, u"1394");
    EXPECT_EQ(ids.device, u"c1");
    EXPECT_EQ(ids.instance, u"0");

    // A camera that joins is offered; one that leaves is removed and its node deleted.
    Camera("c2");
    simbus::PollBus1394();
    ASSERT_TRUE(simcam::PlugCamera("c1", simcam::Plug::None, nullptr));
    simbus::PollBus1394();
    EXPECT_EQ(simbus::Bus1394NodeDevice("c1"), nullptr);
    {
        std::lock_guard<std::mutex> guard(g_FunctionLock);
        std::string all;
        for (const std::string& s : g_Function)
            all += s + ";";
        EXPECT_NE(all.find("add c2;"), std::string::npos) << all;
        EXPECT_NE(all.find("pnp 0x02;"), std::string::npos) << all;  // the removal of c1's stack
    }
    // The bus stops: c2 leaves too, and the function driver has no device left.
    simbus::StopBus1394();
    EXPECT_TRUE(KernUnloadDriver(function, nullptr));
}

TEST_F(Bus1394, ANodeThatLeavesWithoutAFunctionDriverTakesTheStackAboveItAlong)
{
    // A device attached to the node while no function driver is loaded: one whose driver detaches on removal,
    // one whose driver passes everything down and stays attached.
    struct Case {
        const char* service;
        PDRIVER_INITIALIZE entry;
        bool detaches;
    };
    Camera("c1");
    for (const Case& c : {Case{"FunctionTest", FunctionEntry, true}, Case{"UpperTest", UpperEntry, false}}) {
        SCOPED_TRACE(c.service);
        g_Function.clear();
        PDEVICE_OBJECT node = StartWith("c1");
        ASSERT_NE(node, nullptr);
        PDRIVER_OBJECT driver = KernCreateDriver(c.service, c.entry, nullptr);
        ASSERT_NE(driver, nullptr);
        PDEVICE_OBJECT device = nullptr;
        if (c.detaches) {
            ASSERT_EQ(FunctionAdd(driver, node), STATUS_SUCCESS);
        } else {
            ASSERT_EQ(IoCreateDevice(driver, sizeof(PDEVICE_OBJECT), nullptr, 0x22, 0, FALSE, &device), STATUS_SUCCESS);
            *static_cast<PDEVICE_OBJECT*>(device->DeviceExtension) = IoAttachDeviceToDeviceStack(device, node);
        }
        // The stack was built here, not in a pass of the bus: the next passes follow this one.
        simbus::PollBus1394();

        ASSERT_TRUE(simcam::PlugCamera("c1", simcam::Plug::None, nullptr));
        simbus::PollBus1394();
        EXPECT_EQ(simbus::Bus1394NodeDevice("c1"), nullptr);
        EXPECT_EQ(KernFindDevice(u"\\Device\\Bus1394Node_c1"), nullptr);  // the node was deleted
        if (c.detaches) {
            std::lock_guard<std::mutex> guard(g_FunctionLock);
            EXPECT_EQ(g_Function, (std::vector<std::string>{"add c1", "pnp 0x17", "pnp 0x02"}));
        } else {
            IoDetachDevice(node);  // late, but the node's memory waited for it
            IoDeleteDevice(device);
        }
        EXPECT_TRUE(KernUnloadDriver(driver, nullptr));

        // The camera comes back as a node of its own.
        ASSERT_TRUE(simcam::PlugCamera("c1", simcam::Plug::Bus1394, nullptr));
        simbus::PollBus1394();
        EXPECT_NE(simbus::Bus1394NodeDevice("c1"), nullptr);
        simbus::StopBus1394();
    }
}

}  // namespace
