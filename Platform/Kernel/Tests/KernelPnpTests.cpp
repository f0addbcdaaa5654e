// The plug-and-play and power managers, device interfaces, symbolic links, driver object extensions and WMI
// records of the kernel stand-in, with a pass-through function driver over a device of the plain test bus.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "KernelTestHelpers.h"
#include "TestBus.h"

namespace {

// {A1B2C3D4-E5F6-0718-293A-4B5C6D7E8F90}
constexpr GUID kClass = {0xA1B2C3D4, 0xE5F6, 0x0718, {0x29, 0x3A, 0x4B, 0x5C, 0x6D, 0x7E, 0x8F, 0x90}};

struct Fdo {
    PDEVICE_OBJECT lower;
};

std::vector<std::string>* g_Seen;
NTSTATUS g_AddAnswer = STATUS_SUCCESS;

NTSTATUS PassDown(PDEVICE_OBJECT device, PIRP irp)
{
    auto* fdo = static_cast<Fdo*>(device->DeviceExtension);
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    if (g_Seen && stack->MajorFunction == IRP_MJ_PNP)
        g_Seen->push_back("fdo pnp " + std::to_string(stack->MinorFunction));
    PDEVICE_OBJECT lower = fdo->lower;
    bool remove = stack->MajorFunction == IRP_MJ_PNP && stack->MinorFunction == IRP_MN_REMOVE_DEVICE;
    IoSkipCurrentIrpStackLocation(irp);
    NTSTATUS status = IoCallDriver(lower, irp);  // the request may be gone now
    if (remove) {
        IoDetachDevice(lower);
        IoDeleteDevice(device);
    }
    return status;
}

NTSTATUS AddDevice(PDRIVER_OBJECT driver, PDEVICE_OBJECT pdo)
{
    if (g_Seen)
        g_Seen->push_back("add");
    if (!NT_SUCCESS(g_AddAnswer))
        return g_AddAnswer;
    PDEVICE_OBJECT device = nullptr;
    NTSTATUS status = IoCreateDevice(driver, sizeof(Fdo), nullptr, FILE_DEVICE_UNKNOWN, 0, FALSE, &device);
    if (!NT_SUCCESS(status))
        return status;
    static_cast<Fdo*>(device->DeviceExtension)->lower = IoAttachDeviceToDeviceStack(device, pdo);
    device->Flags &= ~static_cast<ULONG>(DO_DEVICE_INITIALIZING);
    return STATUS_SUCCESS;
}

NTSTATUS Entry(PDRIVER_OBJECT driver, PUNICODE_STRING)
{
    for (PDRIVER_DISPATCH& routine : driver->MajorFunction)
        routine = PassDown;
    driver->DriverExtension->AddDevice = AddDevice;
    return STATUS_SUCCESS;
}

class KernelPnp : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_Seen = &m_Seen;
        g_AddAnswer = STATUS_SUCCESS;
        NTSTATUS status;
        m_Driver = KernCreateDriver("PassThrough", Entry, &status);
        ASSERT_NE(m_Driver, nullptr);
        m_Pdo = testbus::AddTestDevice("7&1A2B");
        ASSERT_NE(m_Pdo, nullptr);
    }
    void TearDown() override
    {
        if (m_Driver->DeviceObject)
            KernPnpRequest(m_Pdo, IRP_MN_REMOVE_DEVICE);
        EXPECT_TRUE(KernUnloadDriver(m_Driver, nullptr));
        testbus::DeleteTestDevice(m_Pdo);
        EXPECT_TRUE(testbus::StopTestBus());
        g_Seen = nullptr;
    }

    kerntest::ScratchMachine m_Machine;
    std::vector<std::string> m_Seen;
    PDRIVER_OBJECT m_Driver = nullptr;
    PDEVICE_OBJECT m_Pdo = nullptr;
};

UNICODE_STRING Counted(const char16_t* text)
{
    UNICODE_STRING s;
    RtlInitUnicodeString(&s, text);
    return s;
}

}  // namespace

TEST_F(KernelPnp, OfferedDeviceIsAddedStartedAndAsked)
{
    EXPECT_EQ(KernPnpOfferDevice(m_Pdo, testbus::TestDeviceIds(m_Pdo), m_Driver), STATUS_SUCCESS);
    EXPECT_EQ(m_Seen, (std::vector<std::string>{"add", "fdo pnp 0", "fdo pnp 9"}));
    EXPECT_EQ(testbus::TestDeviceRecords(m_Pdo),
              (std::vector<std::string>{"pnp IRP_MN_START_DEVICE", "pnp IRP_MN_QUERY_CAPABILITIES"}));
    KernDeviceIds ids;
    ASSERT_TRUE(KernPnpGetDeviceIds(m_Pdo, &ids));
    EXPECT_EQ(ids.instance, u"7&1A2B");
}

TEST_F(KernelPnp, FailedStartIsFollowedByRemove)
{
    testbus::SetTestAnswer(m_Pdo, IRP_MJ_PNP, IRP_MN_START_DEVICE, STATUS_UNSUCCESSFUL);
    EXPECT_EQ(KernPnpOfferDevice(m_Pdo, testbus::TestDeviceIds(m_Pdo), m_Driver), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(m_Seen, (std::vector<std::string>{"add", "fdo pnp 0", "fdo pnp 2"}));
    EXPECT_EQ(m_Driver->DeviceObject, nullptr);
    g_AddAnswer = STATUS_INSUFFICIENT_RESOURCES;
    EXPECT_EQ(KernPnpOfferDevice(m_Pdo, testbus::TestDeviceIds(m_Pdo), m_Driver), STATUS_INSUFFICIENT_RESOURCES);
}

TEST_F(KernelPnp, LeavingDeviceGetsSurpriseRemovalOnlyWithWdm110)
{
    for (const char* os : {"Windows98", "WindowsME", "Windows2K", "WindowsXP"}) {
        ASSERT_TRUE(PlatSetOsName(os));
        ASSERT_EQ(KernPnpOfferDevice(m_Pdo, testbus::TestDeviceIds(m_Pdo), m_Driver), STATUS_SUCCESS);
        testbus::ClearTestDeviceRecords(m_Pdo);
        EXPECT_EQ(KernPnpDeviceLeft(m_Pdo), STATUS_SUCCESS);
        bool wdm110 = std::string(os) == "Windows2K" || std::string(os) == "WindowsXP";
        std::vector<std::string> expected;
        if (wdm110)
            expected.push_back("pnp IRP_MN_SURPRISE_REMOVAL");
        expected.push_back("pnp IRP_MN_REMOVE_DEVICE");
        EXPECT_EQ(testbus::TestDeviceRecords(m_Pdo), expected) << os;
        EXPECT_EQ(m_Driver->DeviceObject, nullptr);
    }
}

TEST_F(KernelPnp, PowerManagerRequestsAndRecords)
{
    ASSERT_EQ(KernPnpOfferDevice(m_Pdo, testbus::TestDeviceIds(m_Pdo), m_Driver), STATUS_SUCCESS);
    testbus::ClearTestDeviceRecords(m_Pdo);
    EXPECT_EQ(KernPoSystemRequest(m_Pdo, IRP_MN_QUERY_POWER, PowerSystemHibernate), STATUS_SUCCESS);
    EXPECT_EQ(KernPoDeviceRequest(m_Pdo, IRP_MN_SET_POWER, PowerDeviceD2), STATUS_SUCCESS);
    testbus::SetTestAnswer(m_Pdo, IRP_MJ_POWER, IRP_MN_QUERY_POWER, STATUS_UNSUCCESSFUL);
    EXPECT_EQ(KernPoDeviceRequest(m_Pdo, IRP_MN_QUERY_POWER, PowerDeviceD3), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(testbus::TestDeviceRecords(m_Pdo),
              (std::vector<std::string>{"power query-power system S4", "power set-power device D3",
                                        "power query-power device D4"}));

    // Requested above PASSIVE_LEVEL, the request goes out on the worker thread; the completion follows it.
    struct Done {
        KEVENT event;
        NTSTATUS status;
        UCHAR minor;
    } done{};
    KeInitializeEvent(&done.event, NotificationEvent, FALSE);
    KIRQL old;
    KeRaiseIrql(DISPATCH_LEVEL, &old);
    POWER_STATE state;
    state.DeviceState = PowerDeviceD0;
    NTSTATUS requested = PoRequestPowerIrp(
        m_Pdo, IRP_MN_SET_POWER, state,
        [](PDEVICE_OBJECT, UCHAR minor, POWER_STATE, PVOID context, PIO_STATUS_BLOCK status) {
            auto* d = static_cast<Done*>(context);
            d->status = status->Status;
            d->minor = minor;
            KeSetEvent(&d->event, 0, FALSE);
        },
        &done, nullptr);
    KeLowerIrql(old);
    EXPECT_EQ(requested, STATUS_PENDING);
    LARGE_INTEGER limit = kerntest::Relative(5000);
    ASSERT_EQ(KeWaitForSingleObject(&done.event, Executive, KernelMode, FALSE, &limit), STATUS_SUCCESS);
    EXPECT_EQ(done.status, STATUS_SUCCESS);
    EXPECT_EQ(done.minor, IRP_MN_SET_POWER);
    EXPECT_EQ(PoRequestPowerIrp(m_Pdo, IRP_MN_WAIT_WAKE, state, nullptr, nullptr, nullptr), STATUS_INVALID_PARAMETER);

    // PoSetPowerState answers the state it replaces.
    state.DeviceState = PowerDeviceD3;
    EXPECT_EQ(PoSetPowerState(m_Pdo, DevicePowerState, state).DeviceState, PowerDeviceD0);
    state.DeviceState = PowerDeviceD1;
    EXPECT_EQ(PoSetPowerState(m_Pdo, DevicePowerState, state).DeviceState, PowerDeviceD3);
    auto records = KernGetPowerStateRecords();
    ASSERT_GE(records.size(), 2u);
    EXPECT_EQ(records.back().device, m_Pdo);
    EXPECT_EQ(records.back().state, ULONG(PowerDeviceD1));
    // The records keep the latest 1024.
    for (int i = 0; i < 1100; ++i)
        PoSetPowerState(m_Pdo, DevicePowerState, state);
    EXPECT_EQ(KernGetPowerStateRecords().size(), 1024u);
}

TEST_F(KernelPnp, DeviceInterfaces)
{
    UNICODE_STRING link{};
    EXPECT_EQ(IoRegisterDeviceInterface(m_Pdo, &kClass, nullptr, &link), STATUS_INVALID_DEVICE_REQUEST);
    ASSERT_EQ(KernPnpOfferDevice(m_Pdo, testbus::TestDeviceIds(m_Pdo), m_Driver), STATUS_SUCCESS);
    ASSERT_EQ(IoRegisterDeviceInterface(m_Pdo, &kClass, nullptr, &link), STATUS_SUCCESS);
    EXPECT_EQ(std::u16string(link.Buffer, link.Length / 2),
              u"\\\\?\\TESTBUS#PLAIN#7&1A2B#{a1b2c3d4-e5f6-0718-293a-4b5c6d7e8f90}");
    EXPECT_EQ(link.Buffer[link.Length / 2], 0);
    UNICODE_STRING reference = Counted(u"Second");
    UNICODE_STRING other{};
    ASSERT_EQ(IoRegisterDeviceInterface(m_Pdo, &kClass, &reference, &other), STATUS_SUCCESS);
    EXPECT_EQ(std::u16string(other.Buffer, other.Length / 2),
              u"\\\\?\\TESTBUS#PLAIN#7&1A2B#{a1b2c3d4-e5f6-0718-293a-4b5c6d7e8f90}\\Second");

    EXPECT_TRUE(KernGetEnabledInterfaces(kClass).empty());
    EXPECT_EQ(IoSetDeviceInterfaceState(&link, TRUE), STATUS_SUCCESS);
    EXPECT_EQ(IoSetDeviceInterfaceState(&link, TRUE), STATUS_OBJECT_NAME_EXISTS);
    EXPECT_EQ(KernGetEnabledInterfaces(kClass), (std::vector<std::u16string>{std::u16string(link.Buffer, link.Length / 2)}));
    EXPECT_EQ(IoSetDeviceInterfaceState(&link, FALSE), STATUS_SUCCESS);
    EXPECT_EQ(IoSetDeviceInterfaceState(&link, FALSE), STATUS_OBJECT_NAME_NOT_FOUND);
    UNICODE_STRING missing = Counted(u"\\\\?\\nothing");
    EXPECT_EQ(IoSetDeviceInterfaceState(&missing, TRUE), STATUS_OBJECT_NAME_NOT_FOUND);
    // An enabled interface goes with the device it belongs to.
    EXPECT_EQ(IoSetDeviceInterfaceState(&other, TRUE), STATUS_SUCCESS);
    KernPnpRequest(m_Pdo, IRP_MN_REMOVE_DEVICE);
    testbus::DeleteTestDevice(m_Pdo);
    m_Pdo = testbus::AddTestDevice("8");
    EXPECT_TRUE(KernGetEnabledInterfaces(kClass).empty());
    EXPECT_EQ(IoSetDeviceInterfaceState(&other, TRUE), STATUS_INVALID_DEVICE_REQUEST);
    RtlFreeUnicodeString(&link);
    RtlFreeUnicodeString(&other);
}

TEST(KernelLinks, SymbolicLinksAndDriverExtensions)
{
    kerntest::ScratchMachine machine;
    UNICODE_STRING link = Counted(u"\\DosDevices\\Cam0");
    UNICODE_STRING target = Counted(u"\\Device\\Cam0");
    UNICODE_STRING relative = Counted(u"DosDevices");
    EXPECT_EQ(IoCreateSymbolicLink(&link, &target), STATUS_SUCCESS);
    EXPECT_EQ(IoCreateSymbolicLink(&link, &target), STATUS_OBJECT_NAME_COLLISION);
    EXPECT_EQ(IoCreateSymbolicLink(&relative, &target), STATUS_OBJECT_NAME_INVALID);
    EXPECT_EQ(KernResolveSymbolicLink(u"\\dosdevices\\CAM0"), u"\\Device\\Cam0");
    EXPECT_EQ(IoDeleteSymbolicLink(&link), STATUS_SUCCESS);
    EXPECT_EQ(IoDeleteSymbolicLink(&link), STATUS_OBJECT_NAME_NOT_FOUND);
    EXPECT_TRUE(KernResolveSymbolicLink(u"\\DosDevices\\Cam0").empty());

    NTSTATUS status;
    PDRIVER_OBJECT driver = KernCreateDriver("Extensions", Entry, &status);
    ASSERT_NE(driver, nullptr);
    PVOID a = nullptr;
    PVOID again = nullptr;
    int id = 0;
    EXPECT_EQ(IoAllocateDriverObjectExtension(driver, &id, 24, &a), STATUS_SUCCESS);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(static_cast<UCHAR*>(a)[23], 0);
    EXPECT_EQ(IoAllocateDriverObjectExtension(driver, &id, 24, &again), STATUS_OBJECT_NAME_COLLISION);
    EXPECT_EQ(again, nullptr);
    EXPECT_EQ(IoGetDriverObjectExtension(driver, &id), a);
    EXPECT_EQ(IoGetDriverObjectExtension(driver, &machine), nullptr);
    EXPECT_TRUE(KernUnloadDriver(driver, nullptr));  // the extension goes with the driver object
}

TEST(KernelLinks, WmiRecordsAndInterrupts)
{
    kerntest::ScratchMachine machine;
    size_t before = KernGetWmiEvents().size();
    const uint64_t blocks = KernGetPoolTagFigures(KernTag("Wdm ")).blocks;
    struct Event {
        ULONG size;
        ULONG data[3];
    };
    auto* event = static_cast<Event*>(ExAllocatePoolWithTag(NonPagedPool, sizeof(Event), KernTag("Wdm ")));
    *event = Event{sizeof(Event), {1, 2, 3}};
    EXPECT_EQ(IoWMIWriteEvent(event), STATUS_SUCCESS);  // taken and freed
    auto events = KernGetWmiEvents();
    ASSERT_EQ(events.size(), before + 1);
    EXPECT_EQ(events.back().size(), sizeof(Event));
    EXPECT_EQ(KernGetPoolTagFigures(KernTag("Wdm ")).blocks, blocks);
    EXPECT_EQ(IoWMIWriteEvent(nullptr), STATUS_INVALID_PARAMETER);

    NTSTATUS status;
    PDRIVER_OBJECT driver = KernCreateDriver("Wmi", Entry, &status);
    ASSERT_NE(driver, nullptr);
    PDEVICE_OBJECT device = nullptr;
    ASSERT_EQ(IoCreateDevice(driver, sizeof(Fdo), nullptr, FILE_DEVICE_UNKNOWN, 0, FALSE, &device), STATUS_SUCCESS);
    EXPECT_EQ(IoWMIRegistrationControl(device, WMIREG_ACTION_REGISTER), STATUS_SUCCESS);
    EXPECT_EQ(IoWMIRegistrationControl(device, 9), STATUS_INVALID_PARAMETER);
    auto registrations = KernGetWmiRegistrations();
    ASSERT_FALSE(registrations.empty());
    EXPECT_EQ(registrations.back().device, device);
    EXPECT_EQ(registrations.back().action, ULONG(WMIREG_ACTION_REGISTER));
    IoDeleteDevice(device);
    EXPECT_TRUE(KernUnloadDriver(driver, nullptr));

    PKINTERRUPT interrupt = reinterpret_cast<PKINTERRUPT>(1);
    KSPIN_LOCK lock = 0;
    EXPECT_EQ(IoConnectInterrupt(&interrupt, nullptr, nullptr, &lock, 5, 5, 5, LevelSensitive, TRUE, 1, FALSE),
              STATUS_NOT_SUPPORTED);
    EXPECT_EQ(interrupt, nullptr);
}
