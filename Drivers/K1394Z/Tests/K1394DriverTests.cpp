// The driver's frame and its device-control protocol: the driver entered in-process as a loaded one is, the bus
// offering it a node per camera, and requests sent to the top of the device's stack as the I/O manager sends them.
#include <atomic>
#include <thread>

#include "K1394Driver.h"
#include "K1394TestBench.h"

namespace {

using Clock = std::chrono::steady_clock;

// A request header with its payload in one buffer of exactly `payload` bytes after the header.
std::vector<uint8_t> Header(ULONG function, ULONG in, ULONG out, ULONG payload)
{
    std::vector<uint8_t> b(84 + payload, 0);
    auto* h = reinterpret_cast<K1394_REQUEST_HEADER*>(b.data());
    h->Magic = K1394_HEADER_MAGIC;
    h->FunctionCode = function;
    h->InputSize = in;
    h->OutputSize = out;
    h->PayloadCapacity = payload;
    return b;
}

const K1394_REQUEST_HEADER& View(const std::vector<uint8_t>& b)
{
    return *reinterpret_cast<const K1394_REQUEST_HEADER*>(b.data());
}

struct Outcome {
    NTSTATUS status;
    ULONG_PTR returned;
    std::vector<uint8_t> buffer;
};

class K1394Driver : public k1394test::Bench {
protected:
    void SetUp() override
    {
        Bench::SetUp();
        NTSTATUS entry = STATUS_UNSUCCESSFUL;
        m_Real = KernCreateDriver("K1394", K1394_DriverEntry, &entry);
        ASSERT_NE(m_Real, nullptr);
        EXPECT_EQ(entry, STATUS_SUCCESS);
    }
    void TearDown() override
    {
        simbus::StopBus1394();  // every node leaves: the driver's devices are removed
        if (m_Real) {
            EXPECT_EQ(m_Real->DeviceObject, nullptr);
            EXPECT_TRUE(KernUnloadDriver(m_Real, nullptr));
        }
        Bench::TearDown();
    }

    // Starts the bus with the driver as the nodes' function driver.
    void Start()
    {
        std::string error;
        ASSERT_TRUE(simbus::StartBus1394(&error)) << error;
        simbus::SetBus1394FunctionDriver(m_Real);
    }

    static PDEVICE_OBJECT Named(const std::u16string& name) { return KernFindDevice(name); }
    static PK1394_DEVICE_EXTENSION Extension(PDEVICE_OBJECT device)
    {
        return static_cast<PK1394_DEVICE_EXTENSION>(device->DeviceExtension);
    }

    // A buffered request of the I/O manager: one system buffer, the lengths as given.
    static Outcome Control(PDEVICE_OBJECT device, ULONG code, std::vector<uint8_t> buffer, ULONG in, ULONG out)
    {
        IO_STACK_LOCATION location{};
        location.MajorFunction = IRP_MJ_DEVICE_CONTROL;
        location.Parameters.DeviceIoControl.IoControlCode = code;
        location.Parameters.DeviceIoControl.InputBufferLength = in;
        location.Parameters.DeviceIoControl.OutputBufferLength = out;
        KernHostRequest request(device, location, std::move(buffer));
        request.Send();
        request.Wait();
        return {request.Status().Status, request.Status().Information, request.Buffer()};
    }
    static Outcome Send(PDEVICE_OBJECT device, std::vector<uint8_t> buffer)
    {
        const auto size = ULONG(buffer.size());
        const ULONG code = View(buffer).FunctionCode;
        return Control(device, code, std::move(buffer), size, size);
    }
    static NTSTATUS File(PDEVICE_OBJECT device, UCHAR major)
    {
        IO_STACK_LOCATION location{};
        location.MajorFunction = major;
        KernHostRequest request(device, location);
        request.Send();
        request.Wait();
        return request.Status().Status;
    }

    PDRIVER_OBJECT m_Real = nullptr;
};

TEST_F(K1394Driver, EachCameraGetsANumberedDeviceWithItsNamesAndInterface)
{
    Camera("c1");
    Camera("c2");
    KernDbgPrintCapture trace;
    Start();
    PDEVICE_OBJECT d0 = Named(u"\\Device\\K13940");
    PDEVICE_OBJECT d1 = Named(u"\\Device\\K13941");
    ASSERT_NE(d0, nullptr);
    ASSERT_NE(d1, nullptr);
    EXPECT_EQ(d0->DeviceType, 0x8125u);
    EXPECT_EQ(d0->Flags & DO_DEVICE_INITIALIZING, 0u);
    EXPECT_EQ(Extension(d0)->DeviceNumber, 0u);
    EXPECT_EQ(Extension(d1)->DeviceNumber, 1u);
    EXPECT_EQ(Extension(d0)->ConfigArea.SwapFlag, 1u);
    EXPECT_EQ(Extension(d0)->Information.PowerManaged, 0u);
    EXPECT_EQ(Extension(d0)->Information.PnpState, RkPnpStarted);
    EXPECT_EQ(KernResolveSymbolicLink(u"\\DosDevices\\K13941"), u"\\Device\\K13941");
    EXPECT_EQ(KernGetEnabledInterfaces(K1394_INTERFACE_GUID),
              (std::vector<std::u16string>{u"\\\\?\\1394#c1#0#{5030d1c7-169b-4d1d-9f88-ab03b410cd0c}",
                                           u"\\\\?\\1394#c2#1#{5030d1c7-169b-4d1d-9f88-ab03b410cd0c}"}));
    for (const char* line : {"K1394_AddDevice\n", "K1394_CreateDevice\n", "K1394CreateDevice:  Returning STATUS_SUCCESS\n",
                             "RkPnpSetupDeviceResources:  Returning STATUS_SUCCESS\n",
                             "Rk1394PnpDispatch: IRP_MJ_PNP, IRP_MN_START_DEVICE\n"})
        EXPECT_TRUE(trace.Contains(line)) << line;

    // The first camera leaves: its device goes with its names; a new camera takes the next number.
    ASSERT_TRUE(simcam::PlugCamera("c1", simcam::Plug::None, nullptr));
    simbus::PollBus1394();
    EXPECT_EQ(Named(u"\\Device\\K13940"), nullptr);
    EXPECT_EQ(KernResolveSymbolicLink(u"\\DosDevices\\K13940"), u"");
    EXPECT_TRUE(trace.Contains("K1394_Rokit -- K1394_OnPnpSurpriseRemoval\n"));
    EXPECT_TRUE(trace.Contains("K1394_Rokit -- K1394_OnPnpRemoveDevice\n"));
    EXPECT_TRUE(trace.Contains("K1394_DeleteDevice\n"));
    Camera("c3");
    simbus::PollBus1394();
    ASSERT_NE(Named(u"\\Device\\K13942"), nullptr);
    EXPECT_EQ(K1394NextDeviceNumber(), 3u);
    EXPECT_EQ(KernGetEnabledInterfaces(K1394_INTERFACE_GUID).size(), 2u);
}

TEST_F(K1394Driver, CreateCloseAndCleanupCountHandlesAndARemovingDeviceRefusesCreates)
{
    Camera("c1");
    Start();
    PDEVICE_OBJECT device = Named(u"\\Device\\K13940");
    ASSERT_NE(device, nullptr);
    RK_DEVICE_INFORMATION& info = Extension(device)->Information;
    KernDbgPrintCapture trace;
    EXPECT_EQ(File(device, IRP_MJ_CREATE), STATUS_SUCCESS);
    EXPECT_EQ(File(device, IRP_MJ_CREATE), STATUS_SUCCESS);  // not exclusive
    EXPECT_EQ(info.HandleCount, 2);
    EXPECT_EQ(File(device, IRP_MJ_CLEANUP), STATUS_SUCCESS);
    EXPECT_TRUE(trace.Contains("K1394_Cleanup\n"));
    EXPECT_EQ(File(device, IRP_MJ_CLOSE), STATUS_SUCCESS);
    EXPECT_EQ(File(device, IRP_MJ_CLOSE), STATUS_SUCCESS);
    EXPECT_EQ(File(device, IRP_MJ_CLOSE), STATUS_SUCCESS);
    EXPECT_EQ(info.HandleCount, 0);  // never below zero
    EXPECT_EQ(info.RequestCount, 1);  // every reference taken was dropped

    // While a removal is pending the device refuses opens and requests; cancelled, it takes them again.
    PDEVICE_OBJECT node = simbus::Bus1394NodeDevice("c1");
    EXPECT_EQ(KernPnpRequest(node, IRP_MN_QUERY_REMOVE_DEVICE), STATUS_SUCCESS);
    EXPECT_EQ(File(device, IRP_MJ_CREATE), STATUS_DELETE_PENDING);
    Outcome refused = Send(device, Header(IOCTL_K1394_GET_NAME, 0, 12, 12));
    EXPECT_EQ(refused.status, STATUS_DELETE_PENDING);
    EXPECT_EQ(refused.returned, 0u);
    EXPECT_EQ(KernPnpRequest(node, IRP_MN_CANCEL_REMOVE_DEVICE), STATUS_SUCCESS);
    EXPECT_EQ(File(device, IRP_MJ_CREATE), STATUS_SUCCESS);
    EXPECT_EQ(info.HandleCount, 1);
    EXPECT_EQ(info.RequestCount, 1);
}

TEST_F(K1394Driver, AnUnknownPnpRequestIsTracedAndPassedDown)
{
    Camera("c1");
    Start();
    KernDbgPrintCapture trace;
    EXPECT_EQ(KernPnpRequest(simbus::Bus1394NodeDevice("c1"), 0x16), STATUS_SUCCESS);  // the bus's answer
    EXPECT_TRUE(trace.Contains("Rk1394PnpDispatch - unknown PnP Irp minor function: 0x16\n")) << trace.Text();
    EXPECT_EQ(Extension(Named(u"\\Device\\K13940"))->Information.RequestCount, 1);
}

TEST_F(K1394Driver, TheHeaderIsValidatedAndEveryRefusalIsItsOwn)
{
    Camera("c1");
    Start();
    PDEVICE_OBJECT device = Named(u"\\Device\\K13940");
    ASSERT_NE(device, nullptr);

    // No valid header: the request itself fails, without a byte.
    struct Bad {
        const char* what;
        std::vector<uint8_t> buffer;
        ULONG in, out;
    };
    std::vector<uint8_t> wrongMagic = Header(IOCTL_K1394_GET_NAME, 0, 12, 12);
    wrongMagic[0] = 5;
    std::vector<uint8_t> header = Header(IOCTL_K1394_ASYNC_READ, 0, 16, 16);
    std::vector<uint8_t> huge = Header(IOCTL_K1394_GET_NAME, 0xFFFFFFB0u, 12, 12);
    const Bad bad[] = {
        {"a bare 16-byte buffer", std::vector<uint8_t>(16, 0), 16, 16},
        {"the wrong magic", wrongMagic, 96, 96},
        {"an output shorter than its size plus 84", header, 100, 99},
        {"an input shorter than its size plus 84", Header(IOCTL_K1394_ASYNC_WRITE, 8, 0, 4), 88, 88},
        {"an input size that wraps in 32 bits", huge, 96, 96},
        {"a header cut short", std::vector<uint8_t>(header.begin(), header.begin() + 83), 83, 83},
    };
    for (const Bad& b : bad) {
        Outcome o = Control(device, IOCTL_K1394_GET_NAME, b.buffer, b.in, b.out);
        EXPECT_EQ(o.status, STATUS_INVALID_PARAMETER) << b.what;
        EXPECT_EQ(o.returned, 0u) << b.what;
    }

    // A valid header: the request succeeds and the function's outcome is in the header.
    struct Case {
        const char* what;
        std::vector<uint8_t> buffer;
        ULONG status, success, out, returned;
    };
    const Case cases[] = {
        {"an unknown function", Header(0x81252028, 0, 0, 0), 0xC0000002, 0, 0, 84},
        {"the name", Header(IOCTL_K1394_GET_NAME, 0, 12, 12), 0, 1, 12, 96},
        {"the name with room for 11", [] { auto b = Header(IOCTL_K1394_GET_NAME, 0, 12, 12); b[32] = 11; return b; }(),
         0xC0000023, 0, 12, 96},
        {"the name into an output of 84", Header(IOCTL_K1394_GET_NAME, 0, 0, 0), 0xC0000023, 0, 0, 84},
        {"the configuration area at 895", Header(IOCTL_K1394_GET_CONFIGURATION_AREA, 0, 895, 895), 0xC0000023, 0, 895,
         979},
        {"the configuration area at 1000", Header(IOCTL_K1394_GET_CONFIGURATION_AREA, 0, 1000, 1000), 0, 1, 896, 980},
        {"the transfer area at 87", Header(IOCTL_K1394_GET_CDT_AREA, 0, 87, 87), 0xC0000023, 0, 87, 171},
        {"the transfer area", Header(IOCTL_K1394_GET_CDT_AREA, 0, 88, 88), 0, 1, 88, 172},
        {"a quadlet read without room for it", Header(IOCTL_K1394_READ_INTEGER, 0, 0, 0), 0xC0000023, 0, 0, 84},
        {"a quadlet write without its bytes", Header(IOCTL_K1394_WRITE_INTEGER, 0, 0, 0), 0xC0000023, 0, 0, 84},
        {"the generation", Header(IOCTL_K1394_GET_GENERATION_COUNT, 0, 0, 0), 0, 1, 0, 84},
    };
    for (const Case& c : cases) {
        Outcome o = Send(device, c.buffer);
        ASSERT_EQ(o.status, STATUS_SUCCESS) << c.what;
        const K1394_REQUEST_HEADER& h = View(o.buffer);
        EXPECT_EQ(h.Status, c.status) << c.what;
        EXPECT_EQ(h.Success, c.success) << c.what;
        EXPECT_EQ(h.OutputSize, c.out) << c.what;
        EXPECT_EQ(o.returned, c.returned) << c.what;
        EXPECT_EQ(h.Generation, 1u) << c.what;
        EXPECT_EQ(h.DeviceReference, 0u) << c.what;
        EXPECT_EQ(h.RequestReference, 0u) << c.what;
    }
    Outcome name = Send(device, Header(IOCTL_K1394_GET_NAME, 0, 12, 12));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(name.buffer.data() + 84)), "K1394Driver");
    EXPECT_EQ(name.buffer[84 + 11], 0);
    Outcome area = Send(device, Header(IOCTL_K1394_GET_CONFIGURATION_AREA, 0, 896, 896));
    EXPECT_EQ(std::memcmp(area.buffer.data() + 84, &Extension(device)->ConfigArea, 896), 0);
    EXPECT_EQ(Extension(device)->ConfigArea.Magic, K1394_MAGIC_KVCK);
    EXPECT_EQ(Extension(device)->Information.RequestCount, 1);
}

TEST_F(K1394Driver, AfterABusResetTheNextRequestLearnsTheGenerationAndTheAreaFirst)
{
    Camera("c1");
    Start();
    PDEVICE_OBJECT device = Named(u"\\Device\\K13940");
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(View(Send(device, Header(IOCTL_K1394_GET_NAME, 0, 12, 12)).buffer).Generation, 1u);
    PK1394_DEVICE_EXTENSION ext = Extension(device);
    EXPECT_EQ(ext->BusResetFlag, 0);
    EXPECT_EQ(ext->ConfigReread, 0);

    KernDbgPrintCapture trace;
    ASSERT_TRUE(simbus::ResetBus(nullptr, nullptr));
    simbus::PollBus1394();
    EXPECT_TRUE(trace.Contains("Rk1394PnpDispatch: IRP_MJ_PNP, UNKNOWN PNP MINOR FUNCTION\n"));
    EXPECT_EQ(ext->GenerationCount, 2u);  // from the reset request
    EXPECT_EQ(ext->BusResetFlag, 1);      // from the notification routine
    EXPECT_EQ(ext->ConfigReread, 1);
    ClearBusLog();

    std::vector<uint8_t> read = Header(IOCTL_K1394_READ_INTEGER, 0, 4, 4);
    auto* h = reinterpret_cast<K1394_REQUEST_HEADER*>(read.data());
    h->AddressHigh = 0xFFFF;
    h->AddressLow = 0xF0000404;
    Outcome o = Send(device, read);
    EXPECT_EQ(View(o.buffer).Generation, 2u);
    EXPECT_EQ(View(o.buffer).Success, 1u);
    const std::string log = BusLog();
    const size_t generation = log.find("\tgeneration 26\t");
    const size_t area = log.find("\tffff:f0010000\t");
    const size_t quadlet = log.find("\tffff:f0000404\t");
    ASSERT_NE(generation, std::string::npos) << log;
    ASSERT_NE(area, std::string::npos) << log;
    ASSERT_NE(quadlet, std::string::npos) << log;
    EXPECT_LT(generation, area);
    EXPECT_LT(area, quadlet);
    EXPECT_EQ(ext->BusResetFlag, 0);
    EXPECT_EQ(ext->ConfigReread, 0);

    // Whatever the function: a name request after the next reset returns the new generation too.
    ASSERT_TRUE(simbus::ResetBus(nullptr, nullptr));
    simbus::PollBus1394();
    EXPECT_EQ(View(Send(device, Header(IOCTL_K1394_GET_NAME, 0, 12, 12)).buffer).Generation, 3u);
}

TEST_F(K1394Driver, ARequestWhileAHandlerRunsIsBusyAtOnce)
{
    Camera("c1");
    Knob("c1", "engine-silent", "on");
    Start();
    PDEVICE_OBJECT device = Named(u"\\Device\\K13940");
    ASSERT_NE(device, nullptr);
    PK1394_DEVICE_EXTENSION ext = Extension(device);
    Send(device, Header(IOCTL_K1394_GET_NAME, 0, 12, 12));  // the refreshes of a new device
    std::vector<uint8_t> cdt = Header(IOCTL_K1394_CAMERA_DRIVEN_READ, 0, 256, 256);
    reinterpret_cast<K1394_REQUEST_HEADER*>(cdt.data())->AddressHigh = 0x1009;
    reinterpret_cast<K1394_REQUEST_HEADER*>(cdt.data())->AddressLow = 0x10000000;
    Outcome first;
    std::thread runner([&] { first = Send(device, cdt); });
    const auto until = Clock::now() + std::chrono::seconds(10);
    const auto waiting = [ext] {
        KIRQL old;
        KeAcquireSpinLock(&ext->FifoSpinLock, &old);
        const bool set = ext->CurrentCdtRequest != nullptr;
        KeReleaseSpinLock(&ext->FifoSpinLock, old);
        return set;
    };
    while (!waiting() && Clock::now() < until)
        std::this_thread::yield();
    Outcome second = Send(device, Header(IOCTL_K1394_GET_NAME, 0, 12, 12));
    runner.join();
    EXPECT_EQ(View(second.buffer).Status, 0x80000011u);
    EXPECT_EQ(View(second.buffer).Success, 0u);
    EXPECT_EQ(second.returned, 96u);
    EXPECT_EQ(View(first.buffer).Status, 0x102u);
    EXPECT_EQ(ext->Busy, 0);
    EXPECT_EQ(View(Send(device, Header(IOCTL_K1394_GET_NAME, 0, 12, 12)).buffer).Success, 1u);
}

}  // namespace
