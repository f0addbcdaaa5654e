// The toolkit's plug-and-play, power, driver and device, string, WMI and queue services, with a driver made in
// the test on the toolkit and a device of the plain test bus under it.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "LumoTestSupport.h"
#include "PlatformOS.h"
#include "RkDevice.h"
#include "TestBus.h"

namespace {

// {5030D1C7-0000-4D1D-9F88-AB03B410CD0C}
constexpr GUID kInterface = {0x5030D1C7, 0x0000, 0x4D1D, {0x9F, 0x88, 0xAB, 0x03, 0xB4, 0x10, 0xCD, 0x0C}};
// {11112222-3333-4444-5555-666677778888}
constexpr GUID kWmiGuid = {0x11112222, 0x3333, 0x4444, {0x55, 0x55, 0x66, 0x66, 0x77, 0x77, 0x88, 0x88}};

constexpr ULONG kIoctlPlain = CTL_CODE(FILE_DEVICE_UNKNOWN, 0x800, METHOD_BUFFERED, FILE_ANY_ACCESS);
constexpr ULONG kIoctlHold = CTL_CODE(FILE_DEVICE_UNKNOWN, 0x801, METHOD_BUFFERED, FILE_ANY_ACCESS);
constexpr ULONG kIoctlQueue = CTL_CODE(FILE_DEVICE_UNKNOWN, 0x802, METHOD_BUFFERED, FILE_ANY_ACCESS);

struct SuiteExtension {
    RK_DEVICE_INFORMATION Information;
    RK_WMI_INFORMATION Wmi;
    RK_WMI_GUID Guids[1];
    PUCHAR Buffers[1];
    UCHAR Data[2][16];
};

struct Suite {
    RK_DEVICE_INFORMATION* info = nullptr;
    std::atomic<int> releases{0};
    std::atomic<int> deletes{0};
    std::atomic<LONG> stateAtDelete{-1};
    NTSTATUS setupAnswer = STATUS_SUCCESS;
    bool withWmi = false;
    PIRP held = nullptr;
    std::vector<PIRP> started;  // by the queue's start routine
};
Suite* g_Suite;

NTSTATUS Setup(RK_DEVICE_INFORMATION* info)
{
    if (!NT_SUCCESS(g_Suite->setupAnswer))
        return g_Suite->setupAnswer;
    RkPnpEnableDeviceInterface(info);
    return STATUS_SUCCESS;
}

NTSTATUS Release(RK_DEVICE_INFORMATION*, BOOLEAN)
{
    ++g_Suite->releases;
    return STATUS_SUCCESS;
}

void Delete(RK_DEVICE_INFORMATION* info)
{
    g_Suite->stateAtDelete = info->PnpState;
    ++g_Suite->deletes;
    PDEVICE_OBJECT device = info->DeviceObject;
    RkDevUninitialize(info);
    if (g_Suite->info == info)
        g_Suite->info = nullptr;
    IoDeleteDevice(device);
}

void StartIo(PDEVICE_OBJECT device, PIRP irp)
{
    EXPECT_EQ(KeGetCurrentIrql(), DISPATCH_LEVEL);
    g_Suite->started.push_back(irp);
}

NTSTATUS DeviceControl(PDEVICE_OBJECT device, PIRP irp)
{
    RK_DEVICE_INFORMATION* info = RkDevGetInformation(device);
    NTSTATUS status;
    if (!RkPnpAdmitRequest(info, irp, &status))
        return status;
    ULONG code = IoGetCurrentIrpStackLocation(irp)->Parameters.DeviceIoControl.IoControlCode;
    if (code == kIoctlHold) {
        IoMarkIrpPending(irp);
        g_Suite->held = irp;
        return STATUS_PENDING;
    }
    if (code == kIoctlQueue) {
        RkPnpDropRequestReference(info);
        return RkQueueStartPacket(&info->Queue, irp);
    }
    irp->IoStatus.Information = 0;
    return RkPnpCompleteRequest(info, irp, STATUS_SUCCESS, IO_NO_INCREMENT);
}

NTSTATUS AddDevice(PDRIVER_OBJECT driver, PDEVICE_OBJECT pdo)
{
    UNICODE_STRING name;
    RtlInitUnicodeString(&name, u"\\Device\\K13940");
    PDEVICE_OBJECT device = nullptr;
    NTSTATUS status = IoCreateDevice(driver, sizeof(SuiteExtension), &name, FILE_DEVICE_UNKNOWN, 0, FALSE, &device);
    if (!NT_SUCCESS(status))
        return status;
    auto* ext = static_cast<SuiteExtension*>(device->DeviceExtension);
    RK_DEVICE_INFORMATION* info = &ext->Information;
    status = RkDevInitialize(RkDrvGetDriverExtension(driver), info, device, pdo, &name);
    if (NT_SUCCESS(status))
        status = RkDevCreateSymbolicLink(info, u"K13940");
    if (NT_SUCCESS(status))
        status = RkPnpRegisterDeviceInterface(info, &kInterface, nullptr);
    if (NT_SUCCESS(status) && g_Suite->withWmi) {
        ext->Guids[0] = RK_WMI_GUID{kWmiGuid, 2, 0, 16, 0, 0};
        for (int i = 0; i < 2; ++i)
            for (int b = 0; b < 16; ++b)
                ext->Data[i][b] = static_cast<UCHAR>(i * 16 + b);
        ext->Buffers[0] = &ext->Data[0][0];
        ext->Wmi.Guids = ext->Guids;
        ext->Wmi.GuidCount = 1;
        ext->Wmi.DataBuffers = ext->Buffers;
        status = RkWmiRegister(info, &ext->Wmi);
    }
    if (!NT_SUCCESS(status)) {
        RkDevUninitialize(info);
        IoDeleteDevice(device);
        return status;
    }
    info->PowerManaged = 0;
    info->SurpriseRemovalAllowed = 1;
    device->Flags &= ~static_cast<ULONG>(DO_DEVICE_INITIALIZING);
    g_Suite->info = info;
    return STATUS_SUCCESS;
}

void Unload(PDRIVER_OBJECT driver)
{
    RkDrvUninitializePnpDriver(driver);
}

NTSTATUS Entry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath)
{
    NTSTATUS status = RkDrvInitializePnpDriver(driver, registryPath);
    if (!NT_SUCCESS(status))
        return status;
    RK_DRIVER_HOOKS hooks{};
    hooks.SetupDeviceResources = Setup;
    hooks.FreeDeviceResources = Release;
    hooks.DeleteDevice = Delete;
    RkDrvSetHooks(driver, &hooks);
    driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = DeviceControl;
    driver->DriverStartIo = StartIo;
    driver->DriverExtension->AddDevice = AddDevice;
    driver->DriverUnload = Unload;
    return STATUS_SUCCESS;
}

// A scratch machine with the given identity, the suite's driver and one device of the test bus under it.
class Toolkit : public ::testing::Test {
protected:
    void SetUp() override
    {
        setenv("LUMO_MACHINE", (m_Dir.Path() / "machine").c_str(), 1);
        g_Suite = &m_Suite;
        m_Breaks = KernGetBreakCount();
        ASSERT_TRUE(testbus::StartTestBus());
    }

    void TearDown() override
    {
        if (m_Pdo && m_Suite.info)
            KernPnpRequest(m_Pdo, IRP_MN_REMOVE_DEVICE);
        if (m_Driver) {
            auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
            while (m_Driver->DeviceObject && std::chrono::steady_clock::now() < until)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            KernPoolReport report;
            EXPECT_TRUE(KernUnloadDriver(m_Driver, &report));
            EXPECT_EQ(report.blocks, 0u);
        }
        if (m_Pdo)
            testbus::DeleteTestDevice(m_Pdo);
        EXPECT_TRUE(testbus::StopTestBus());
        EXPECT_EQ(KernGetBreakCount(), m_Breaks) << "a toolkit assertion failed";
        g_Suite = nullptr;
        unsetenv("LUMO_MACHINE");
    }

    void Load(const char* os, bool withWmi = false)
    {
        ASSERT_TRUE(PlatSetOsName(os));
        m_Suite.withWmi = withWmi;
        NTSTATUS status;
        m_Driver = KernCreateDriver("K1394Suite", Entry, &status);
        ASSERT_NE(m_Driver, nullptr);
        m_Pdo = testbus::AddTestDevice("0");
        ASSERT_NE(m_Pdo, nullptr);
        ASSERT_EQ(KernPnpAddDevice(m_Pdo, testbus::TestDeviceIds(m_Pdo), m_Driver), STATUS_SUCCESS);
        ASSERT_NE(m_Suite.info, nullptr);
    }

    NTSTATUS Pnp(UCHAR minor) { return KernPnpRequest(m_Pdo, minor); }
    // The driver changes the state with interlocked operations, on any thread.
    LONG State() const { return m_Suite.info ? InterlockedCompareExchange(&m_Suite.info->PnpState, 0, 0) : -1; }

    // A device-control request to the top of the stack, completed or not.
    std::unique_ptr<KernHostRequest> Ioctl(ULONG code)
    {
        IO_STACK_LOCATION location{};
        location.MajorFunction = IRP_MJ_DEVICE_CONTROL;
        location.Parameters.DeviceIoControl.IoControlCode = code;
        auto request = std::make_unique<KernHostRequest>(m_Pdo, location);
        request->Send();
        return request;
    }

    NTSTATUS Open(USHORT shareAccess, FILE_OBJECT* file)
    {
        IO_STACK_LOCATION location{};
        location.MajorFunction = IRP_MJ_CREATE;
        location.FileObject = file;
        location.Parameters.Create.ShareAccess = shareAccess;
        KernHostRequest request(m_Pdo, location);
        request.Send();
        request.Wait();
        return request.Status().Status;
    }

    NTSTATUS Close(FILE_OBJECT* file)
    {
        IO_STACK_LOCATION location{};
        location.MajorFunction = IRP_MJ_CLOSE;
        location.FileObject = file;
        KernHostRequest request(m_Pdo, location);
        request.Send();
        request.Wait();
        return request.Status().Status;
    }

    // Completes the request the driver holds.
    void CompleteHeld()
    {
        PIRP irp = m_Suite.held;
        m_Suite.held = nullptr;
        ASSERT_NE(irp, nullptr);
        RK_DEVICE_INFORMATION* info = RkDevGetInformation(IoGetCurrentIrpStackLocation(irp)->DeviceObject);
        RkPnpCompleteRequest(info, irp, STATUS_SUCCESS, IO_NO_INCREMENT);
    }

    lumotest::TempDir m_Dir;
    unsigned m_Breaks = 0;
    Suite m_Suite;
    PDRIVER_OBJECT m_Driver = nullptr;
    PDEVICE_OBJECT m_Pdo = nullptr;
};

std::string Narrow(PCUNICODE_STRING s)
{
    std::string text;
    for (size_t i = 0; i < s->Length / sizeof(WCHAR); ++i)
        text += static_cast<char>(s->Buffer[i]);
    return text;
}

}  // namespace

// ---- Plug and play -------------------------------------------------------------------------------------------

TEST_F(Toolkit, StateTableRowByRow)
{
    Load("Windows2K");
    EXPECT_EQ(State(), RkPnpNotStarted);
    struct Row {
        UCHAR minor;
        LONG after;
    };
    // 0 -> start -> 1 -> query stop -> 2 -> cancel stop -> 1 -> query stop -> 2 -> stop -> 3 -> start -> 1
    // -> query remove -> 4 -> cancel remove -> 1 -> stop -> 3 -> surprise removal -> 6
    const Row rows[] = {{IRP_MN_START_DEVICE, RkPnpStarted},         {IRP_MN_QUERY_STOP_DEVICE, RkPnpStopPending},
                        {IRP_MN_CANCEL_STOP_DEVICE, RkPnpStarted},   {IRP_MN_QUERY_STOP_DEVICE, RkPnpStopPending},
                        {IRP_MN_STOP_DEVICE, RkPnpStopped},          {IRP_MN_START_DEVICE, RkPnpStarted},
                        {IRP_MN_QUERY_REMOVE_DEVICE, RkPnpRemovePending}, {IRP_MN_CANCEL_REMOVE_DEVICE, RkPnpStarted},
                        {IRP_MN_STOP_DEVICE, RkPnpStopped},          {IRP_MN_SURPRISE_REMOVAL, RkPnpSurpriseRemoved}};
    for (const Row& row : rows) {
        EXPECT_EQ(Pnp(row.minor), STATUS_SUCCESS) << int(row.minor);
        EXPECT_EQ(State(), row.after) << int(row.minor);
    }
    EXPECT_EQ(Pnp(IRP_MN_REMOVE_DEVICE), STATUS_SUCCESS);
    EXPECT_EQ(m_Suite.stateAtDelete.load(), RkPnpRemoved);
    EXPECT_EQ(m_Suite.deletes.load(), 1);
    // Released at the stop before the start, at the second stop; not again at surprise removal or remove.
    EXPECT_EQ(m_Suite.releases.load(), 2);
}

TEST_F(Toolkit, StartFailures)
{
    // The driver's start hook fails: start failed (7), stopped, nothing to release at removal.
    Load("Windows2K");
    m_Suite.setupAnswer = STATUS_INSUFFICIENT_RESOURCES;
    EXPECT_EQ(Pnp(IRP_MN_START_DEVICE), STATUS_INSUFFICIENT_RESOURCES);
    EXPECT_EQ(State(), RkPnpStartFailed);
    EXPECT_EQ(m_Suite.info->Stopped, 1);
    // A later start from the start-failed state and a lower driver that fails the start.
    m_Suite.setupAnswer = STATUS_SUCCESS;
    testbus::SetTestAnswer(m_Pdo, IRP_MJ_PNP, IRP_MN_START_DEVICE, STATUS_UNSUCCESSFUL);
    KernDbgPrintCapture trace;
    EXPECT_EQ(Pnp(IRP_MN_START_DEVICE), STATUS_UNSUCCESSFUL);
    EXPECT_TRUE(trace.Contains("IRP_MN_START_DEVICE, PDO Failed with status: 0xC0000001\n")) << trace.Text();
    EXPECT_EQ(State(), RkPnpStartFailed);
    EXPECT_EQ(Pnp(IRP_MN_REMOVE_DEVICE), STATUS_SUCCESS);
    EXPECT_EQ(m_Suite.releases.load(), 0);
}

TEST_F(Toolkit, RefusedRequestsNeverReachTheDriver)
{
    Load("Windows2K");
    ASSERT_EQ(Pnp(IRP_MN_START_DEVICE), STATUS_SUCCESS);
    EXPECT_EQ(Pnp(IRP_MN_QUERY_STOP_DEVICE), STATUS_SUCCESS);
    auto plain = Ioctl(kIoctlPlain);
    ASSERT_TRUE(plain->Wait(1000));
    EXPECT_EQ(plain->Status().Status, STATUS_DELETE_PENDING);
    EXPECT_EQ(Pnp(IRP_MN_STOP_DEVICE), STATUS_SUCCESS);

    // A cancelled request to a stopped device: STATUS_CANCELLED; any other: STATUS_DELETE_PENDING.
    PDEVICE_OBJECT top = IoGetAttachedDeviceReference(m_Pdo);
    for (BOOLEAN cancelled : {TRUE, FALSE}) {
        PIRP irp = IoAllocateIrp(top->StackSize, FALSE);
        irp->Cancel = cancelled;
        PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
        next->MajorFunction = IRP_MJ_DEVICE_CONTROL;
        next->Parameters.DeviceIoControl.IoControlCode = kIoctlPlain;
        struct Seen {
            NTSTATUS status = STATUS_PENDING;
        } seen;
        IoSetCompletionRoutine(
            irp,
            [](PDEVICE_OBJECT, PIRP done, PVOID context) -> NTSTATUS {
                static_cast<Seen*>(context)->status = done->IoStatus.Status;
                return STATUS_MORE_PROCESSING_REQUIRED;
            },
            &seen, TRUE, TRUE, TRUE);
        NTSTATUS returned = IoCallDriver(top, irp);
        EXPECT_EQ(returned, cancelled ? STATUS_CANCELLED : STATUS_DELETE_PENDING);
        EXPECT_EQ(seen.status, cancelled ? STATUS_CANCELLED : STATUS_DELETE_PENDING);
        IoFreeIrp(irp);
    }
    ObDereferenceObject(top);
    EXPECT_EQ(m_Suite.info->RequestCount, 1);
}

TEST_F(Toolkit, RemoveWithARequestHeldWaitsForItWithWdm110)
{
    Load("Windows2K");
    ASSERT_EQ(Pnp(IRP_MN_START_DEVICE), STATUS_SUCCESS);
    auto held = Ioctl(kIoctlHold);
    ASSERT_NE(m_Suite.held, nullptr);
    std::atomic<bool> removed{false};
    std::thread remover([&] {
        EXPECT_EQ(Pnp(IRP_MN_REMOVE_DEVICE), STATUS_SUCCESS);
        removed = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_FALSE(removed.load());
    EXPECT_EQ(m_Suite.deletes.load(), 0);
    EXPECT_EQ(State(), RkPnpRemoved);
    // Refused while the remove waits.
    auto refused = Ioctl(kIoctlPlain);
    ASSERT_TRUE(refused->Wait(1000));
    EXPECT_EQ(refused->Status().Status, STATUS_DELETE_PENDING);
    CompleteHeld();
    remover.join();
    EXPECT_TRUE(removed.load());
    EXPECT_EQ(m_Suite.deletes.load(), 1);
    EXPECT_EQ(m_Suite.releases.load(), 1);
    EXPECT_TRUE(held->Wait(1000));
}

TEST_F(Toolkit, InterfaceAndSymbolicLinkLiveWithTheDevice)
{
    Load("Windows2K");
    std::string link = "\\\\?\\TESTBUS#PLAIN#0#{5030d1c7-0000-4d1d-9f88-ab03b410cd0c}";
    EXPECT_EQ(Narrow(&m_Suite.info->InterfaceLink), link);
    EXPECT_TRUE(KernGetEnabledInterfaces(kInterface).empty());
    EXPECT_EQ(Narrow(&m_Suite.info->DeviceName), "K13940");
    EXPECT_EQ(KernResolveSymbolicLink(u"\\DosDevices\\k13940"), u"\\Device\\K13940");
    ASSERT_EQ(Pnp(IRP_MN_START_DEVICE), STATUS_SUCCESS);
    auto enabled = KernGetEnabledInterfaces(kInterface);
    ASSERT_EQ(enabled.size(), 1u);
    EXPECT_EQ(std::string(enabled[0].begin(), enabled[0].end()), link);
    // The capabilities gain surprise-removal-OK.
    DEVICE_CAPABILITIES caps{};
    caps.Size = sizeof caps;
    caps.Version = 1;
    EXPECT_EQ(KernPnpRequest(m_Pdo, IRP_MN_QUERY_CAPABILITIES, &caps), STATUS_SUCCESS);
    EXPECT_EQ(caps.SurpriseRemovalOK, 1u);
    EXPECT_EQ(KernPnpDeviceLeft(m_Pdo), STATUS_SUCCESS);
    EXPECT_TRUE(KernGetEnabledInterfaces(kInterface).empty());
    EXPECT_TRUE(KernResolveSymbolicLink(u"\\DosDevices\\K13940").empty());
    auto records = testbus::TestDeviceRecords(m_Pdo);
    ASSERT_GE(records.size(), 2u);
    EXPECT_EQ(records[records.size() - 2], "pnp IRP_MN_SURPRISE_REMOVAL");
    EXPECT_EQ(records.back(), "pnp IRP_MN_REMOVE_DEVICE");
}

TEST_F(Toolkit, OpensHoldStopAndRemoveAndMayBeExclusive)
{
    Load("Windows2K");
    ASSERT_EQ(Pnp(IRP_MN_START_DEVICE), STATUS_SUCCESS);
    FILE_OBJECT a{}, b{};
    EXPECT_EQ(Open(0, &a), STATUS_SUCCESS);  // no sharing: the only handle, now exclusive
    EXPECT_EQ(Open(3, &b), STATUS_SHARING_VIOLATION);
    EXPECT_EQ(RkDevGetHandleCount(m_Suite.info), 1);
    EXPECT_EQ(Pnp(IRP_MN_QUERY_STOP_DEVICE), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(Pnp(IRP_MN_QUERY_REMOVE_DEVICE), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(State(), RkPnpStarted);
    EXPECT_EQ(Close(&a), STATUS_SUCCESS);
    EXPECT_EQ(Close(&a), STATUS_SUCCESS);  // never below zero
    EXPECT_EQ(RkDevGetHandleCount(m_Suite.info), 0);
    EXPECT_EQ(Open(3, &a), STATUS_SUCCESS);
    EXPECT_EQ(Open(0, &b), STATUS_SHARING_VIOLATION);  // not the only handle
    EXPECT_EQ(Close(&a), STATUS_SUCCESS);
    EXPECT_EQ(Pnp(IRP_MN_QUERY_REMOVE_DEVICE), STATUS_SUCCESS);
    EXPECT_EQ(Pnp(IRP_MN_REMOVE_DEVICE), STATUS_SUCCESS);
    EXPECT_EQ(m_Suite.releases.load(), 1);
}

TEST_F(Toolkit, UnknownPnpMinorFunctionsPassDownUnchanged)
{
    Load("Windows2K");
    KernDbgPrintCapture trace;
    EXPECT_EQ(Pnp(0x18), STATUS_SUCCESS);
    EXPECT_TRUE(trace.Contains("PnpDispatch - unknown PnP Irp minor function: 0x18\n")) << trace.Text();
    EXPECT_EQ(Pnp(IRP_MN_QUERY_ID), STATUS_SUCCESS);
    EXPECT_TRUE(trace.Contains("RkPnp:  IRP_MN_QUERY_ID\n"));
    auto records = testbus::TestDeviceRecords(m_Pdo);
    ASSERT_GE(records.size(), 2u);
    EXPECT_EQ(records[records.size() - 2], "pnp 0x18");
    EXPECT_EQ(records.back(), "pnp IRP_MN_QUERY_ID");
}

TEST_F(Toolkit, FunctionNames)
{
    EXPECT_STREQ(RkPnpMajorFunctionName(IRP_MJ_CREATE), "IRP_MJ_CREATE");
    EXPECT_STREQ(RkPnpMajorFunctionName(IRP_MJ_PNP), "IRP_MJ_PNP");
    EXPECT_STREQ(RkPnpMajorFunctionName(28), "UNKNOWN IRP MAJOR FUNCTION");
    EXPECT_STREQ(RkPnpMinorFunctionName(IRP_MN_START_DEVICE), "IRP_MN_START_DEVICE");
    EXPECT_STREQ(RkPnpMinorFunctionName(IRP_MN_SURPRISE_REMOVAL), "IRP_MN_SURPRISE_REMOVAL");
    EXPECT_STREQ(RkPnpMinorFunctionName(0x87), "UNKNOWN PNP MINOR FUNCTION");
    EXPECT_STREQ(RkPowMinorFunctionName(IRP_MN_WAIT_WAKE), "IRP_MN_WAIT_WAKE");
    EXPECT_STREQ(RkPowMinorFunctionName(IRP_MN_QUERY_POWER), "IRP_MN_QUERY_POWER");
    EXPECT_STREQ(RkPowMinorFunctionName(4), "UNKNOWN IRP MINOR FUNCTION");
    EXPECT_STREQ(RkWmiMinorFunctionName(IRP_MN_QUERY_ALL_DATA), "IRP_MN_QUERY_ALL_DATA");
    EXPECT_STREQ(RkWmiMinorFunctionName(IRP_MN_EXECUTE_METHOD), "IRP_MN_EXECUTE_METHOD");
    EXPECT_STREQ(RkWmiMinorFunctionName(10), "UNKNOWN IRP MINOR FUNCTION");
}

// ---- Power -----------------------------------------------------------------------------------------------------

TEST_F(Toolkit, PowerRequestsOfTheToolkit)
{
    Load("Windows2K");
    ASSERT_EQ(Pnp(IRP_MN_START_DEVICE), STATUS_SUCCESS);
    NTSTATUS query = 1, set = 1;
    KernDbgPrintCapture trace;
    EXPECT_EQ(RkPowSendSynchQueryAndSetPowerIrpToDevice(m_Suite.info, PowerDeviceMaximum, &query, &set),
              STATUS_INVALID_PARAMETER);
    EXPECT_TRUE(trace.Contains("RkPowSendSynchQueryAndSetPowerIrpToDevice: Invalid device power state 0x5\n"));
    EXPECT_EQ(query, 1);
    testbus::ClearTestDeviceRecords(m_Pdo);
    EXPECT_EQ(RkPowSendSynchQueryAndSetPowerIrpToDevice(m_Suite.info, PowerDeviceD2, &query, &set), STATUS_SUCCESS);
    EXPECT_EQ(testbus::TestDeviceRecords(m_Pdo),
              (std::vector<std::string>{"power query-power device D3", "power set-power device D3"}));
    EXPECT_EQ(m_Suite.info->DevicePowerState, ULONG(PowerDeviceD2));
    EXPECT_EQ(m_Suite.info->PoweredDown, 1);
    // Back up: the power-up completion clears powered down.
    EXPECT_EQ(RkPowSendSynchQueryAndSetPowerIrpToDevice(m_Suite.info, PowerDeviceD0, &query, &set), STATUS_SUCCESS);
    EXPECT_EQ(m_Suite.info->DevicePowerState, ULONG(PowerDeviceD0));
    EXPECT_EQ(m_Suite.info->PoweredDown, 0);
    EXPECT_EQ(RkPowSendAsynchSetPowerIrpToDevice(m_Suite.info, PowerDeviceD3, nullptr, nullptr),
              STATUS_INVALID_PARAMETER);
    EXPECT_EQ(RkPowSetSaveRegistersFrom(m_Suite.info, 1), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(RkPowSetRestoreRegistersBelow(m_Suite.info, 5), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(RkPowSetSaveRegistersFrom(m_Suite.info, 3), STATUS_SUCCESS);
    // A query failed below: the set goes to the current state.
    testbus::SetTestAnswer(m_Pdo, IRP_MJ_POWER, IRP_MN_QUERY_POWER, STATUS_UNSUCCESSFUL);
    testbus::ClearTestDeviceRecords(m_Pdo);
    EXPECT_EQ(RkPowSendSynchQueryAndSetPowerIrpToDevice(m_Suite.info, PowerDeviceD3, &query, &set),
              STATUS_UNSUCCESSFUL);
    EXPECT_EQ(query, STATUS_UNSUCCESSFUL);
    EXPECT_EQ(testbus::TestDeviceRecords(m_Pdo),
              (std::vector<std::string>{"power query-power device D4", "power set-power device D1"}));
    EXPECT_EQ(m_Suite.info->PoweredDown, 0);
}

TEST_F(Toolkit, SystemPowerBecomesDevicePower)
{
    Load("Windows2K");
    ASSERT_EQ(Pnp(IRP_MN_START_DEVICE), STATUS_SUCCESS);
    // A bus answering STATUS_NOT_SUPPORTED to the system set-power still gets the device set-power.
    testbus::SetTestAnswer(m_Pdo, IRP_MJ_POWER, IRP_MN_SET_POWER, STATUS_NOT_SUPPORTED);
    testbus::ClearTestDeviceRecords(m_Pdo);
    EXPECT_EQ(KernPoSystemRequest(m_Pdo, IRP_MN_SET_POWER, PowerSystemSleeping3), STATUS_NOT_SUPPORTED);
    EXPECT_EQ(testbus::TestDeviceRecords(m_Pdo),
              (std::vector<std::string>{"power set-power system S3", "power set-power device D4"}));
    EXPECT_EQ(m_Suite.info->DevicePowerState, ULONG(PowerDeviceD3));
    EXPECT_EQ(m_Suite.info->SystemPowerState, ULONG(PowerSystemSleeping3));
    EXPECT_EQ(m_Suite.info->RegistersSaved, 1);
    // Any other failure ends the system request without a device request.
    testbus::SetTestAnswer(m_Pdo, IRP_MJ_POWER, IRP_MN_SET_POWER, STATUS_UNSUCCESSFUL);
    testbus::ClearTestDeviceRecords(m_Pdo);
    EXPECT_EQ(KernPoSystemRequest(m_Pdo, IRP_MN_SET_POWER, PowerSystemWorking), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(testbus::TestDeviceRecords(m_Pdo), (std::vector<std::string>{"power set-power system S0"}));
    testbus::SetTestAnswer(m_Pdo, IRP_MJ_POWER, IRP_MN_SET_POWER, STATUS_SUCCESS);
    EXPECT_EQ(KernPoSystemRequest(m_Pdo, IRP_MN_SET_POWER, PowerSystemWorking), STATUS_SUCCESS);
    EXPECT_EQ(m_Suite.info->DevicePowerState, ULONG(PowerDeviceD0));
    EXPECT_EQ(m_Suite.info->RegistersSaved, 0);
    // A system query becomes a device query; with a handle open a query for D3 fails.
    FILE_OBJECT file{};
    ASSERT_EQ(Open(3, &file), STATUS_SUCCESS);
    EXPECT_EQ(KernPoSystemRequest(m_Pdo, IRP_MN_QUERY_POWER, PowerSystemSleeping1), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(KernPoDeviceRequest(m_Pdo, IRP_MN_QUERY_POWER, PowerDeviceD3), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(Close(&file), STATUS_SUCCESS);
    EXPECT_EQ(KernPoSystemRequest(m_Pdo, IRP_MN_QUERY_POWER, PowerSystemSleeping1), STATUS_SUCCESS);
    // PoSetPowerState was told of every device state.
    bool sawD3 = false;
    for (const KernPowerStateRecord& r : KernGetPowerStateRecords())
        if (r.device == m_Suite.info->DeviceObject && r.type == DevicePowerState && r.state == PowerDeviceD3)
            sawD3 = true;
    EXPECT_TRUE(sawD3);
}

// ---- Strings -----------------------------------------------------------------------------------------------------

TEST(ToolkitStrings, ConvertInteger)
{
    const uint64_t blocks = KernGetPoolTagFigures(RK_DRIVER_TAG).blocks;
    const struct {
        ULONG value;
        ULONG base;
        const char* text;
    } cases[] = {{255, 16, "FF"},     {40000, 2, "1001110001000000"}, {5, 2, "101"}, {0, 2, "0"},
                 {1234, 0, "1234"},   {4294967295u, 10, "4294967295"}, {8, 8, "10"}, {4294967295u, 16, "FFFFFFFF"},
                 {4294967295u, 2, "11111111111111111111111111111111"}, {4294967295u, 8, "37777777777"}};
    for (const auto& c : cases) {
        UNICODE_STRING s;
        ASSERT_EQ(RkStrConvertInteger(&s, c.value, c.base), STATUS_SUCCESS) << c.value;
        EXPECT_EQ(Narrow(&s), c.text) << c.value << " base " << c.base;
        EXPECT_EQ(s.Buffer[s.Length / 2], 0);
        RkStrFree(&s);
    }
    KernDbgPrintCapture trace;
    UNICODE_STRING s;
    EXPECT_EQ(RkStrConvertInteger(&s, 255, 3), STATUS_INVALID_PARAMETER);
    EXPECT_TRUE(trace.Contains("RkStrConvertInteger: Invalid base value entered 3\n"));
    EXPECT_EQ(s.Buffer, nullptr);
    EXPECT_EQ(KernGetPoolTagFigures(RK_DRIVER_TAG).blocks, blocks);
}

TEST(ToolkitStrings, FindMidAppend)
{
    const uint64_t blocks = KernGetPoolTagFigures(RK_DRIVER_TAG).blocks;
    UNICODE_STRING full, slash, name, tail;
    ASSERT_EQ(RkStrConvertUnicode(&full, u"\\Device\\K1394"), STATUS_SUCCESS);
    ASSERT_EQ(RkStrAppendNumber(&full, 0, 10), STATUS_SUCCESS);
    EXPECT_EQ(Narrow(&full), "\\Device\\K13940");
    RtlInitUnicodeString(&slash, u"\\");
    LONG last = RkStrFind(&full, &slash, -1, FALSE);
    EXPECT_EQ(last, 7);
    EXPECT_EQ(RkStrFind(&full, &slash, -1, TRUE), 7);  // 7 characters from it to the end
    EXPECT_EQ(RkStrFind(&full, &slash, 0, FALSE), 0);
    EXPECT_EQ(RkStrFind(&full, &slash, 1, FALSE), 7);
    RtlInitUnicodeString(&tail, u"xyz");
    EXPECT_EQ(RkStrFind(&full, &tail, 0, FALSE), -1);
    ASSERT_EQ(RkStrMid(&name, &full, static_cast<ULONG>(last) + 1, 6), STATUS_SUCCESS);
    EXPECT_EQ(Narrow(&name), "K13940");

    KernDbgPrintCapture trace;
    UNICODE_STRING bad;
    EXPECT_EQ(RkStrMid(&bad, &full, 10, 5), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(RkStrMid(&bad, &full, 0xFFFFFFFFu, 2), STATUS_INVALID_PARAMETER);
    EXPECT_TRUE(trace.Contains("Rokit:RkStrMid **arguments out of range\n"));
    EXPECT_EQ(bad.Buffer, nullptr);

    // In place, growing; and into a new string.
    ASSERT_EQ(RkStrAppend(&name, &tail), STATUS_SUCCESS);
    EXPECT_EQ(Narrow(&name), "K13940xyz");
    UNICODE_STRING joined;
    ASSERT_EQ(RkStrAppendNew(&joined, &name, &slash), STATUS_SUCCESS);
    EXPECT_EQ(Narrow(&joined), "K13940xyz\\");
    EXPECT_EQ(joined.Buffer[joined.Length / 2], 0);
    RkStrFree(&joined);
    RkStrFree(&name);
    RkStrFree(&full);
    RkStrFree(&full);  // a second free does nothing
    EXPECT_EQ(KernGetPoolTagFigures(RK_DRIVER_TAG).blocks, blocks);
}

TEST_F(Toolkit, DriverExtensionKeepsTheRegistryPath)
{
    Load("Windows2K");
    RK_DRIVER_EXTENSION* extension = RkDrvGetDriverExtension(m_Driver);
    ASSERT_NE(extension, nullptr);
    EXPECT_EQ(Narrow(&extension->RegistryPath), "\\Registry\\Machine\\System\\CurrentControlSet\\Services\\K1394Suite");
    EXPECT_EQ(extension->RegistryPath.Buffer[extension->RegistryPath.Length / 2], 0);
    EXPECT_EQ(IoGetDriverObjectExtension(m_Driver, reinterpret_cast<PVOID>(RK_DRIVER_EXTENSION_ID)), extension);
}

// ---- WMI ------------------------------------------------------------------------------------------------------------

namespace {

struct WmiAnswer {
    NTSTATUS status;
    ULONG_PTR information;
};

WmiAnswer SendWmi(PDEVICE_OBJECT pdo, UCHAR minor, ULONG_PTR provider, const GUID* guid, void* buffer, ULONG size)
{
    IO_STACK_LOCATION location{};
    location.MajorFunction = IRP_MJ_SYSTEM_CONTROL;
    location.MinorFunction = minor;
    location.Parameters.WMI.ProviderId = provider;
    location.Parameters.WMI.DataPath = const_cast<GUID*>(guid);
    location.Parameters.WMI.BufferSize = size;
    location.Parameters.WMI.Buffer = buffer;
    KernHostRequest request(pdo, location);
    request.Send();
    request.Wait();
    return {request.Status().Status, request.Status().Information};
}

}  // namespace

TEST_F(Toolkit, WmiDispatch)
{
    Load("Windows2K", true);
    ASSERT_EQ(Pnp(IRP_MN_START_DEVICE), STATUS_SUCCESS);
    ULONG_PTR self = reinterpret_cast<ULONG_PTR>(m_Suite.info->DeviceObject);
    std::vector<UCHAR> buffer(256);

    // Another provider's request passes down unchanged: the bus completes it with the status it carries.
    testbus::ClearTestDeviceRecords(m_Pdo);
    WmiAnswer other = SendWmi(m_Pdo, IRP_MN_QUERY_ALL_DATA, 0x1234, &kWmiGuid, buffer.data(), 256);
    EXPECT_EQ(other.status, STATUS_SUCCESS);
    EXPECT_EQ(testbus::TestDeviceRecords(m_Pdo),
              (std::vector<std::string>{"system-control 0x00 provider 0x1234"}));

    // All data with room for 10 bytes of data: WNODE_TOO_SMALL with the size needed (64 + 2 x 16).
    KernDbgPrintCapture trace;
    std::fill(buffer.begin(), buffer.end(), 0);
    WmiAnswer small = SendWmi(m_Pdo, IRP_MN_QUERY_ALL_DATA, self, &kWmiGuid, buffer.data(), sizeof(WNODE_ALL_DATA) + 10);
    EXPECT_EQ(small.status, STATUS_SUCCESS);
    EXPECT_EQ(small.information, sizeof(WNODE_TOO_SMALL));
    auto* tooSmall = reinterpret_cast<WNODE_TOO_SMALL*>(buffer.data());
    EXPECT_EQ(tooSmall->WnodeHeader.Flags & WNODE_FLAG_TOO_SMALL, WNODE_FLAG_TOO_SMALL);
    EXPECT_EQ(tooSmall->SizeNeeded, sizeof(WNODE_ALL_DATA) + 32);
    EXPECT_TRUE(trace.Contains("\tBuffer given: 74, Buffer needed: 96.\n")) << trace.Text();
    // A buffer that cannot even hold that answer is refused, untouched.
    std::fill(buffer.begin(), buffer.end(), 0xEE);
    EXPECT_EQ(SendWmi(m_Pdo, IRP_MN_QUERY_ALL_DATA, self, &kWmiGuid, buffer.data(), 10).status,
              STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(buffer[0], 0xEE);

    // All data with room, then a single instance.
    std::fill(buffer.begin(), buffer.end(), 0);
    WmiAnswer all = SendWmi(m_Pdo, IRP_MN_QUERY_ALL_DATA, self, &kWmiGuid, buffer.data(), 256);
    EXPECT_EQ(all.status, STATUS_SUCCESS);
    EXPECT_EQ(all.information, 96u);
    auto* allData = reinterpret_cast<WNODE_ALL_DATA*>(buffer.data());
    EXPECT_EQ(allData->InstanceCount, 2u);
    EXPECT_EQ(allData->FixedInstanceSize, 16u);
    EXPECT_EQ(buffer[64 + 17], 17);
    std::fill(buffer.begin(), buffer.end(), 0);
    reinterpret_cast<WNODE_SINGLE_INSTANCE*>(buffer.data())->InstanceIndex = 1;
    EXPECT_EQ(SendWmi(m_Pdo, IRP_MN_QUERY_SINGLE_INSTANCE, self, &kWmiGuid, buffer.data(), 256).status, STATUS_SUCCESS);
    EXPECT_EQ(buffer[64], 16);
    reinterpret_cast<WNODE_SINGLE_INSTANCE*>(buffer.data())->InstanceIndex = 2;
    EXPECT_EQ(SendWmi(m_Pdo, IRP_MN_QUERY_SINGLE_INSTANCE, self, &kWmiGuid, buffer.data(), 256).status,
              STATUS_WMI_INSTANCE_NOT_FOUND);
    // Unknown GUIDs, unknown minor functions, the extended registration.
    GUID unknown = kWmiGuid;
    unknown.Data1 = 1;
    EXPECT_EQ(SendWmi(m_Pdo, IRP_MN_QUERY_ALL_DATA, self, &unknown, buffer.data(), 256).status,
              STATUS_WMI_GUID_NOT_FOUND);
    EXPECT_EQ(SendWmi(m_Pdo, 0x0A, self, nullptr, buffer.data(), 256).status, STATUS_NOT_IMPLEMENTED);
    EXPECT_EQ(SendWmi(m_Pdo, IRP_MN_REGINFO_EX, self, nullptr, buffer.data(), 256).status,
              STATUS_INVALID_DEVICE_REQUEST);
    // Registration: one GUID under the device's physical device.
    std::fill(buffer.begin(), buffer.end(), 0);
    WmiAnswer reg = SendWmi(m_Pdo, IRP_MN_REGINFO, self, nullptr, buffer.data(), 256);
    EXPECT_EQ(reg.status, STATUS_SUCCESS);
    auto* regInfo = reinterpret_cast<WMIREGINFO*>(buffer.data());
    EXPECT_EQ(regInfo->GuidCount, 1u);
    EXPECT_EQ(regInfo->WmiRegGuid[0].Pdo, reinterpret_cast<ULONG_PTR>(m_Pdo));
    EXPECT_EQ(regInfo->WmiRegGuid[0].InstanceCount, 2u);

    // Events: refused until enabled, then written as a single-instance record.
    EXPECT_EQ(RkWmiFireEvent(m_Suite.info, 0, 0), STATUS_WMI_TRY_AGAIN);
    EXPECT_EQ(RkWmiFireEvent(m_Suite.info, 0, 1), STATUS_WMI_GUID_NOT_FOUND);
    EXPECT_EQ(RkWmiFireEvent(m_Suite.info, 2, 0), STATUS_WMI_INSTANCE_NOT_FOUND);
    EXPECT_EQ(SendWmi(m_Pdo, IRP_MN_ENABLE_EVENTS, self, &kWmiGuid, buffer.data(), 256).status, STATUS_SUCCESS);
    size_t before = KernGetWmiEvents().size();
    const uint64_t wdmBlocks = KernGetPoolTagFigures(RK_POOL_TAG).blocks;
    EXPECT_EQ(RkWmiFireEvent(m_Suite.info, 1, 0), STATUS_SUCCESS);
    auto events = KernGetWmiEvents();
    ASSERT_EQ(events.size(), before + 1);
    const std::vector<uint8_t>& event = events.back();
    ASSERT_EQ(event.size(), 80u);
    auto* record = reinterpret_cast<const WNODE_SINGLE_INSTANCE*>(event.data());
    EXPECT_EQ(record->WnodeHeader.Flags, 0x1008Au);
    EXPECT_EQ(record->DataBlockOffset, 64u);
    EXPECT_EQ(record->SizeDataBlock, 16u);
    EXPECT_EQ(event[64], 16);
    EXPECT_EQ(KernGetPoolTagFigures(RK_POOL_TAG).blocks, wdmBlocks);
}

// ---- Queue -------------------------------------------------------------------------------------------------------------

TEST_F(Toolkit, QueueStartsOneRequestAtATime)
{
    Load("Windows2K");
    ASSERT_EQ(Pnp(IRP_MN_START_DEVICE), STATUS_SUCCESS);
    RK_QUEUE* queue = &m_Suite.info->Queue;
    auto first = Ioctl(kIoctlQueue);
    auto second = Ioctl(kIoctlQueue);
    auto third = Ioctl(kIoctlQueue);
    ASSERT_EQ(m_Suite.started.size(), 1u);
    EXPECT_EQ(queue->Current, m_Suite.started[0]);
    EXPECT_EQ(queue->Count, 2);
    // The third is cancelled while it waits.
    EXPECT_TRUE(third->Cancel());
    ASSERT_TRUE(third->Wait(1000));
    EXPECT_EQ(third->Status().Status, STATUS_CANCELLED);
    EXPECT_EQ(queue->Count, 1);
    // The DPC completes the current one after starting the next.
    queue->Current->IoStatus.Status = STATUS_SUCCESS;
    RkQueueCompleteCurrent(queue, IO_NO_INCREMENT);
    ASSERT_TRUE(first->Wait(2000));
    EXPECT_EQ(first->Status().Status, STATUS_SUCCESS);
    ASSERT_EQ(m_Suite.started.size(), 2u);
    queue->Current->IoStatus.Status = STATUS_UNSUCCESSFUL;
    RkQueueCompleteCurrent(queue, IO_NO_INCREMENT);
    ASSERT_TRUE(second->Wait(2000));
    EXPECT_EQ(second->Status().Status, STATUS_UNSUCCESSFUL);
    EXPECT_EQ(queue->Current, nullptr);
    EXPECT_EQ(queue->Count, 0);
}
