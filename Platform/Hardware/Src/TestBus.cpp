// The plain test bus: devices that record what they get and answer as told.
#include "TestBus.h"

#include <cstdio>
#include <map>
#include <memory>
#include <mutex>

namespace testbus {
namespace {

struct TestDevice {
    std::string instance;
    std::mutex lock;
    std::vector<std::string> records;
    std::map<std::pair<UCHAR, UCHAR>, NTSTATUS> answers;
};

struct Bus {
    std::mutex lock;
    PDRIVER_OBJECT driver = nullptr;
};

Bus& TheBus()
{
    static Bus* bus = new Bus;
    return *bus;
}

TestDevice* Of(PDEVICE_OBJECT device)
{
    return *static_cast<TestDevice**>(device->DeviceExtension);
}

const char* PnpName(UCHAR minor)
{
    static const char* const kNames[] = {
        "IRP_MN_START_DEVICE", "IRP_MN_QUERY_REMOVE_DEVICE", "IRP_MN_REMOVE_DEVICE", "IRP_MN_CANCEL_REMOVE_DEVICE",
        "IRP_MN_STOP_DEVICE", "IRP_MN_QUERY_STOP_DEVICE", "IRP_MN_CANCEL_STOP_DEVICE",
        "IRP_MN_QUERY_DEVICE_RELATIONS", "IRP_MN_QUERY_INTERFACE", "IRP_MN_QUERY_CAPABILITIES",
        "IRP_MN_QUERY_RESOURCES", "IRP_MN_QUERY_RESOURCE_REQUIREMENTS", "IRP_MN_QUERY_DEVICE_TEXT",
        "IRP_MN_FILTER_RESOURCE_REQUIREMENTS", "0x0E", "IRP_MN_READ_CONFIG", "IRP_MN_WRITE_CONFIG", "IRP_MN_EJECT",
        "IRP_MN_SET_LOCK", "IRP_MN_QUERY_ID", "IRP_MN_QUERY_PNP_DEVICE_STATE", "IRP_MN_QUERY_BUS_INFORMATION",
        "IRP_MN_DEVICE_USAGE_NOTIFICATION", "IRP_MN_SURPRISE_REMOVAL"};
    return minor < sizeof kNames / sizeof kNames[0] ? kNames[minor] : nullptr;
}

std::string Describe(PIO_STACK_LOCATION stack)
{
    char text[160];
    switch (stack->MajorFunction) {
    case IRP_MJ_PNP: {
        const char* name = PnpName(stack->MinorFunction);
        if (name)
            std::snprintf(text, sizeof text, "pnp %s", name);
        else
            std::snprintf(text, sizeof text, "pnp 0x%02X", stack->MinorFunction);
        return text;
    }
    case IRP_MJ_POWER: {
        static const char* const kMinor[] = {"wait-wake", "power-sequence", "set-power", "query-power"};
        const char* minor = stack->MinorFunction < 4 ? kMinor[stack->MinorFunction] : "unknown";
        if (stack->MinorFunction == IRP_MN_SET_POWER || stack->MinorFunction == IRP_MN_QUERY_POWER) {
            bool system = stack->Parameters.Power.Type == SystemPowerState;
            unsigned state = system ? static_cast<unsigned>(stack->Parameters.Power.State.SystemState)
                                    : static_cast<unsigned>(stack->Parameters.Power.State.DeviceState);
            // System states 1..6 are S0..S5; device states are given by their number (4 = D3 is "D4").
            if (system)
                std::snprintf(text, sizeof text, "power %s system S%u", minor, state ? state - 1 : 0);
            else
                std::snprintf(text, sizeof text, "power %s device D%u", minor, state);
        } else {
            std::snprintf(text, sizeof text, "power %s", minor);
        }
        return text;
    }
    case IRP_MJ_SYSTEM_CONTROL:
        std::snprintf(text, sizeof text, "system-control 0x%02X provider 0x%llX", stack->MinorFunction,
                      static_cast<unsigned long long>(stack->Parameters.WMI.ProviderId));
        return text;
    default:
        std::snprintf(text, sizeof text, "major 0x%02X minor 0x%02X", stack->MajorFunction, stack->MinorFunction);
        return text;
    }
}

NTSTATUS Dispatch(PDEVICE_OBJECT device, PIRP irp)
{
    TestDevice* record = Of(device);
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    NTSTATUS status = irp->IoStatus.Status;
    bool answers = stack->MajorFunction == IRP_MJ_PNP || stack->MajorFunction == IRP_MJ_POWER;
    std::string what = Describe(stack);
    {
        std::lock_guard<std::mutex> guard(record->lock);
        if (answers) {
            auto it = record->answers.find({stack->MajorFunction, stack->MinorFunction});
            status = it == record->answers.end() ? STATUS_SUCCESS : it->second;
        }
        record->records.push_back(what);
    }
    DbgPrint("TestBus: %s: %s -> 0x%08X\n", record->instance.c_str(), what.c_str(), static_cast<ULONG>(status));
    if (stack->MajorFunction == IRP_MJ_PNP && stack->MinorFunction == IRP_MN_QUERY_CAPABILITIES && NT_SUCCESS(status)) {
        PDEVICE_CAPABILITIES caps = stack->Parameters.DeviceCapabilities.Capabilities;
        if (caps) {
            caps->Removable = 1;
            caps->DeviceState[PowerSystemWorking] = PowerDeviceD0;
            for (int s = PowerSystemSleeping1; s < PowerSystemMaximum; ++s)
                caps->DeviceState[s] = PowerDeviceD3;
        }
    }
    if (stack->MajorFunction == IRP_MJ_POWER)
        PoStartNextPowerIrp(irp);
    irp->IoStatus.Status = status;
    if (answers)
        irp->IoStatus.Information = 0;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

NTSTATUS BusEntry(PDRIVER_OBJECT driver, PUNICODE_STRING)
{
    for (PDRIVER_DISPATCH& routine : driver->MajorFunction)
        routine = Dispatch;
    return STATUS_SUCCESS;
}

}  // namespace

bool StartTestBus()
{
    Bus& bus = TheBus();
    std::lock_guard<std::mutex> guard(bus.lock);
    if (bus.driver)
        return true;
    NTSTATUS status = STATUS_SUCCESS;
    bus.driver = KernCreateDriver("TestBus", BusEntry, &status);
    return bus.driver != nullptr;
}

bool StopTestBus()
{
    Bus& bus = TheBus();
    std::lock_guard<std::mutex> guard(bus.lock);
    if (!bus.driver)
        return true;
    if (!KernUnloadDriver(bus.driver, nullptr))
        return false;
    bus.driver = nullptr;
    return true;
}

PDEVICE_OBJECT AddTestDevice(const std::string& instance)
{
    if (!StartTestBus())
        return nullptr;
    PDEVICE_OBJECT device = nullptr;
    if (!NT_SUCCESS(IoCreateDevice(TheBus().driver, sizeof(TestDevice*), nullptr, FILE_DEVICE_BUS_EXTENDER, 0, FALSE,
                                   &device)))
        return nullptr;
    auto* record = new TestDevice;
    record->instance = instance;
    *static_cast<TestDevice**>(device->DeviceExtension) = record;
    device->Flags &= ~static_cast<ULONG>(DO_DEVICE_INITIALIZING);
    return device;
}

void DeleteTestDevice(PDEVICE_OBJECT device)
{
    if (!device)
        return;
    delete Of(device);
    IoDeleteDevice(device);
}

KernDeviceIds TestDeviceIds(PDEVICE_OBJECT device)
{
    std::u16string instance(Of(device)->instance.begin(), Of(device)->instance.end());
    return KernDeviceIds{u"TESTBUS", u"PLAIN", instance};
}

void SetTestAnswer(PDEVICE_OBJECT device, UCHAR major, UCHAR minor, NTSTATUS status)
{
    TestDevice* record = Of(device);
    std::lock_guard<std::mutex> guard(record->lock);
    record->answers[{major, minor}] = status;
}

std::vector<std::string> TestDeviceRecords(PDEVICE_OBJECT device)
{
    TestDevice* record = Of(device);
    std::lock_guard<std::mutex> guard(record->lock);
    return record->records;
}

void ClearTestDeviceRecords(PDEVICE_OBJECT device)
{
    TestDevice* record = Of(device);
    std::lock_guard<std::mutex> guard(record->lock);
    record->records.clear();
}

}  // namespace testbus
