// The plug-and-play and power managers, device interfaces, symbolic links, driver object extensions and WMI.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "KernelPrivate.h"
#include "PlatformKernelHost.h"

namespace {

struct PnpTables {
    std::mutex lock;
    std::map<PDEVICE_OBJECT, KernDeviceIds> ids;
    std::vector<KernDeviceInterface> interfaces;
    std::map<std::u16string, std::pair<std::u16string, std::u16string>> links;  // upper-case key: (link, target)
    std::vector<KernPowerStateRecord> power;
    std::vector<KernWmiRegistration> wmi;
    std::vector<std::vector<uint8_t>> wmiEvents;
};

// The records keep the latest entries only.
constexpr size_t kMostRecords = 1024;

template <class T>
void Keep(std::vector<T>& records)
{
    if (records.size() > kMostRecords)
        records.erase(records.begin(), records.begin() + static_cast<std::ptrdiff_t>(records.size() - kMostRecords));
}

PnpTables& Pnp()
{
    static PnpTables* tables = new PnpTables;
    return *tables;
}

std::u16string FromCounted(PCUNICODE_STRING s)
{
    if (!s || !s->Buffer)
        return std::u16string();
    return std::u16string(s->Buffer, s->Length / sizeof(WCHAR));
}

std::u16string Upper(std::u16string s)
{
    for (char16_t& c : s)
        if (c >= u'a' && c <= u'z')
            c = static_cast<char16_t>(c - u'a' + u'A');
    return s;
}

std::u16string Widen(const std::string& s)
{
    return std::u16string(s.begin(), s.end());
}

// Gives a counted string a pool copy of `text` (zero-terminated).
NTSTATUS CopyToPool(const std::u16string& text, PUNICODE_STRING out)
{
    size_t bytes = text.size() * sizeof(WCHAR);
    if (bytes + sizeof(WCHAR) > 0xFFFF)
        return STATUS_INVALID_PARAMETER;
    auto* buffer = static_cast<PWSTR>(ExAllocatePool(PagedPool, bytes + sizeof(WCHAR)));
    if (!buffer)
        return STATUS_INSUFFICIENT_RESOURCES;
    std::memcpy(buffer, text.data(), bytes);
    buffer[text.size()] = 0;
    out->Buffer = buffer;
    out->Length = static_cast<USHORT>(bytes);
    out->MaximumLength = static_cast<USHORT>(bytes + sizeof(WCHAR));
    return STATUS_SUCCESS;
}

void RequirePassive(const char* what)
{
    if (KeGetCurrentIrql() != PASSIVE_LEVEL) {
        std::string text = std::string(what) + " above PASSIVE_LEVEL";
        KernBugCheck(text.c_str());
    }
}

// A request of the managers: built for the top of a physical device's stack, sent and waited for.
struct Waiter {
    KEVENT done;
    IO_STATUS_BLOCK status;
};

NTSTATUS SignalWaiter(PDEVICE_OBJECT, PIRP irp, PVOID context)
{
    auto* waiter = static_cast<Waiter*>(context);
    waiter->status = irp->IoStatus;
    KeSetEvent(&waiter->done, 0, FALSE);
    return STATUS_MORE_PROCESSING_REQUIRED;
}

template <class Fill>
NTSTATUS SendAndWait(PDEVICE_OBJECT physicalDevice, UCHAR major, UCHAR minor, Fill fill)
{
    RequirePassive("plug-and-play or power request");
    PDEVICE_OBJECT top = IoGetAttachedDeviceReference(physicalDevice);
    if (!top)
        return STATUS_NO_SUCH_DEVICE;
    PIRP irp = IoAllocateIrp(top->StackSize, FALSE);
    if (!irp) {
        ObDereferenceObject(top);
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    irp->IoStatus.Status = STATUS_NOT_SUPPORTED;
    PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
    next->MajorFunction = major;
    next->MinorFunction = minor;
    fill(next);
    Waiter waiter{};
    KeInitializeEvent(&waiter.done, NotificationEvent, FALSE);
    IoSetCompletionRoutine(irp, SignalWaiter, &waiter, TRUE, TRUE, TRUE);
    if (major == IRP_MJ_POWER)
        PoCallDriver(top, irp);
    else
        IoCallDriver(top, irp);
    KeWaitForSingleObject(&waiter.done, Executive, KernelMode, FALSE, nullptr);
    IoFreeIrp(irp);
    ObDereferenceObject(top);
    return waiter.status.Status;
}

}  // namespace

// ---- Plug and play manager ------------------------------------------------------------------------------------

NTSTATUS KernPnpRequest(PDEVICE_OBJECT physicalDevice, UCHAR minor, PDEVICE_CAPABILITIES capabilities)
{
    DEVICE_CAPABILITIES own{};
    if (minor == IRP_MN_QUERY_CAPABILITIES && !capabilities) {
        own.Size = sizeof own;
        own.Version = 1;
        own.Address = 0xFFFFFFFFu;
        own.UINumber = 0xFFFFFFFFu;
        capabilities = &own;
    }
    return SendAndWait(physicalDevice, IRP_MJ_PNP, minor, [&](PIO_STACK_LOCATION next) {
        if (minor == IRP_MN_QUERY_CAPABILITIES)
            next->Parameters.DeviceCapabilities.Capabilities = capabilities;
    });
}

NTSTATUS KernPnpOfferDevice(PDEVICE_OBJECT physicalDevice, const KernDeviceIds& ids, PDRIVER_OBJECT functionDriver)
{
    NTSTATUS status = KernPnpAddDevice(physicalDevice, ids, functionDriver);
    if (!NT_SUCCESS(status))
        return status;
    status = KernPnpRequest(physicalDevice, IRP_MN_START_DEVICE);
    if (!NT_SUCCESS(status)) {
        KernPnpRequest(physicalDevice, IRP_MN_REMOVE_DEVICE);
        return status;
    }
    KernPnpRequest(physicalDevice, IRP_MN_QUERY_CAPABILITIES);
    return status;
}

NTSTATUS KernPnpAddDevice(PDEVICE_OBJECT physicalDevice, const KernDeviceIds& ids, PDRIVER_OBJECT functionDriver)
{
    RequirePassive("device offered");
    if (!physicalDevice || !functionDriver || !functionDriver->DriverExtension ||
        !functionDriver->DriverExtension->AddDevice)
        return STATUS_INVALID_DEVICE_REQUEST;
    {
        std::lock_guard<std::mutex> guard(Pnp().lock);
        Pnp().ids[physicalDevice] = ids;
    }
    NTSTATUS status = functionDriver->DriverExtension->AddDevice(functionDriver, physicalDevice);
    if (KeGetCurrentIrql() != PASSIVE_LEVEL)
        KernBugCheck("AddDevice returned at raised IRQL");
    return status;
}

NTSTATUS KernPnpDeviceLeft(PDEVICE_OBJECT physicalDevice)
{
    if (IoIsWdmVersionAvailable(1, 0x10))
        KernPnpRequest(physicalDevice, IRP_MN_SURPRISE_REMOVAL);
    return KernPnpRequest(physicalDevice, IRP_MN_REMOVE_DEVICE);
}

bool KernPnpGetDeviceIds(PDEVICE_OBJECT physicalDevice, KernDeviceIds* ids)
{
    std::lock_guard<std::mutex> guard(Pnp().lock);
    auto it = Pnp().ids.find(physicalDevice);
    if (it == Pnp().ids.end())
        return false;
    if (ids)
        *ids = it->second;
    return true;
}

std::vector<std::pair<PDEVICE_OBJECT, KernDeviceIds>> KernPnpReferenceOfferedDevices()
{
    // A device is forgotten under this lock before it is deleted: one still here may be referenced.
    std::vector<std::pair<PDEVICE_OBJECT, KernDeviceIds>> out;
    std::lock_guard<std::mutex> guard(Pnp().lock);
    for (const auto& [device, ids] : Pnp().ids) {
        ObReferenceObject(device);
        out.emplace_back(device, ids);
    }
    return out;
}

PDEVICE_OBJECT KernPnpReferenceInterfaceDevice(const std::u16string& link)
{
    const std::u16string key = Upper(link);
    std::lock_guard<std::mutex> guard(Pnp().lock);
    for (const KernDeviceInterface& i : Pnp().interfaces)
        if (i.enabled && i.physicalDevice && Upper(i.link) == key) {
            ObReferenceObject(i.physicalDevice);
            return i.physicalDevice;
        }
    return nullptr;
}

void KernPnpForgetDevice(PDEVICE_OBJECT device)
{
    std::lock_guard<std::mutex> guard(Pnp().lock);
    Pnp().ids.erase(device);
    for (KernDeviceInterface& i : Pnp().interfaces)
        if (i.physicalDevice == device) {
            i.physicalDevice = nullptr;
            i.enabled = false;
        }
}

// ---- Power manager ---------------------------------------------------------------------------------------------

namespace {

struct PowerRequest {
    PDEVICE_OBJECT device;
    PDEVICE_OBJECT top;
    UCHAR minor;
    POWER_STATE state;
    PREQUEST_POWER_COMPLETE completion;
    PVOID context;
};

NTSTATUS PowerRequestCompleted(PDEVICE_OBJECT, PIRP irp, PVOID context)
{
    auto* request = static_cast<PowerRequest*>(context);
    IO_STATUS_BLOCK status = irp->IoStatus;
    IoFreeIrp(irp);
    if (request->completion)
        request->completion(request->device, request->minor, request->state, request->context, &status);
    ObDereferenceObject(request->top);
    delete request;
    return STATUS_MORE_PROCESSING_REQUIRED;
}

}  // namespace

extern "C" NTSTATUS PoRequestPowerIrp(PDEVICE_OBJECT deviceObject, UCHAR minorFunction, POWER_STATE powerState,
                                      PREQUEST_POWER_COMPLETE completionFunction, PVOID context, PIRP* irpOut)
{
    if (KeGetCurrentIrql() > DISPATCH_LEVEL)
        KernBugCheck("power request above DISPATCH_LEVEL");
    if (!deviceObject || deviceObject->Type != IO_TYPE_DEVICE)
        KernBugCheck("power request for something that is not a device");
    if (minorFunction != IRP_MN_SET_POWER && minorFunction != IRP_MN_QUERY_POWER)
        return STATUS_INVALID_PARAMETER;
    PDEVICE_OBJECT top = IoGetAttachedDeviceReference(deviceObject);
    PIRP irp = IoAllocateIrp(top->StackSize, FALSE);
    auto* request = new (std::nothrow)
        PowerRequest{deviceObject, top, minorFunction, powerState, completionFunction, context};
    if (!irp || !request) {
        if (irp)
            IoFreeIrp(irp);
        delete request;
        ObDereferenceObject(top);
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    irp->IoStatus.Status = STATUS_NOT_SUPPORTED;
    PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
    next->MajorFunction = IRP_MJ_POWER;
    next->MinorFunction = minorFunction;
    next->Parameters.Power.Type = DevicePowerState;
    next->Parameters.Power.State = powerState;
    next->Parameters.Power.ShutdownType = PowerActionNone;
    IoSetCompletionRoutine(irp, PowerRequestCompleted, request, TRUE, TRUE, TRUE);
    if (irpOut)
        *irpOut = irp;
    if (KeGetCurrentIrql() == PASSIVE_LEVEL)
        PoCallDriver(top, irp);
    else
        KernPostWork([top, irp] { PoCallDriver(top, irp); });
    return STATUS_PENDING;
}

extern "C" NTSTATUS PoCallDriver(PDEVICE_OBJECT deviceObject, PIRP irp)
{
    if (!irp || irp->Type != IO_TYPE_IRP || IoGetNextIrpStackLocation(irp)->MajorFunction != IRP_MJ_POWER)
        KernBugCheck("PoCallDriver with a request that is not a power request");
    return IoCallDriver(deviceObject, irp);
}

extern "C" void PoStartNextPowerIrp(PIRP irp)
{
    if (!irp || irp->Type != IO_TYPE_IRP)
        KernBugCheck("PoStartNextPowerIrp with something that is not a request");
}

extern "C" POWER_STATE PoSetPowerState(PDEVICE_OBJECT deviceObject, POWER_STATE_TYPE type, POWER_STATE state)
{
    std::lock_guard<std::mutex> guard(Pnp().lock);
    POWER_STATE previous;
    if (type == DevicePowerState)
        previous.DeviceState = PowerDeviceD0;
    else
        previous.SystemState = PowerSystemWorking;
    for (auto it = Pnp().power.rbegin(); it != Pnp().power.rend(); ++it)
        if (it->device == deviceObject && it->type == type) {
            if (type == DevicePowerState)
                previous.DeviceState = static_cast<DEVICE_POWER_STATE>(it->state);
            else
                previous.SystemState = static_cast<SYSTEM_POWER_STATE>(it->state);
            break;
        }
    Pnp().power.push_back(KernPowerStateRecord{
        deviceObject, type, type == DevicePowerState ? ULONG(state.DeviceState) : ULONG(state.SystemState)});
    Keep(Pnp().power);
    return previous;
}

NTSTATUS KernPoSystemRequest(PDEVICE_OBJECT physicalDevice, UCHAR minor, SYSTEM_POWER_STATE state)
{
    return SendAndWait(physicalDevice, IRP_MJ_POWER, minor, [&](PIO_STACK_LOCATION next) {
        next->Parameters.Power.Type = SystemPowerState;
        next->Parameters.Power.State.SystemState = state;
        next->Parameters.Power.ShutdownType = state == PowerSystemHibernate  ? PowerActionHibernate
                                              : state == PowerSystemShutdown ? PowerActionShutdown
                                              : state == PowerSystemWorking  ? PowerActionNone
                                                                             : PowerActionSleep;
    });
}

namespace {

void DeviceRequestDone(PDEVICE_OBJECT, UCHAR, POWER_STATE, PVOID context, PIO_STATUS_BLOCK status)
{
    auto* waiter = static_cast<Waiter*>(context);
    waiter->status = *status;
    KeSetEvent(&waiter->done, 0, FALSE);
}

}  // namespace

NTSTATUS KernPoDeviceRequest(PDEVICE_OBJECT physicalDevice, UCHAR minor, DEVICE_POWER_STATE state)
{
    RequirePassive("device power request");
    Waiter waiter{};
    KeInitializeEvent(&waiter.done, NotificationEvent, FALSE);
    POWER_STATE p;
    p.DeviceState = state;
    NTSTATUS status = PoRequestPowerIrp(physicalDevice, minor, p, DeviceRequestDone, &waiter, nullptr);
    if (!NT_SUCCESS(status))
        return status;
    KeWaitForSingleObject(&waiter.done, Executive, KernelMode, FALSE, nullptr);
    return waiter.status.Status;
}

std::vector<KernPowerStateRecord> KernGetPowerStateRecords()
{
    std::lock_guard<std::mutex> guard(Pnp().lock);
    return Pnp().power;
}

// ---- Device interfaces -------------------------------------------------------------------------------------------

std::string KernGuidText(const GUID& g)
{
    char text[40];
    std::snprintf(text, sizeof text, "%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x", g.Data1, g.Data2, g.Data3,
                  g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    return text;
}

extern "C" NTSTATUS IoRegisterDeviceInterface(PDEVICE_OBJECT physicalDeviceObject, const GUID* interfaceClassGuid,
                                              PUNICODE_STRING referenceString, PUNICODE_STRING symbolicLinkName)
{
    RequirePassive("IoRegisterDeviceInterface");
    if (!interfaceClassGuid || !symbolicLinkName)
        return STATUS_INVALID_PARAMETER;
    KernDeviceIds ids;
    if (!KernPnpGetDeviceIds(physicalDeviceObject, &ids))
        return STATUS_INVALID_DEVICE_REQUEST;
    std::u16string link = u"\\\\?\\" + ids.bus + u"#" + ids.device + u"#" + ids.instance + u"#{" +
                          Widen(KernGuidText(*interfaceClassGuid)) + u"}";
    std::u16string reference = FromCounted(referenceString);
    if (!reference.empty())
        link += u"\\" + reference;
    NTSTATUS status = CopyToPool(link, symbolicLinkName);
    if (!NT_SUCCESS(status))
        return status;
    std::lock_guard<std::mutex> guard(Pnp().lock);
    for (KernDeviceInterface& i : Pnp().interfaces)
        if (Upper(i.link) == Upper(link)) {
            i.physicalDevice = physicalDeviceObject;
            return STATUS_SUCCESS;
        }
    Pnp().interfaces.push_back(KernDeviceInterface{*interfaceClassGuid, link, physicalDeviceObject, false});
    return STATUS_SUCCESS;
}

extern "C" NTSTATUS IoSetDeviceInterfaceState(PUNICODE_STRING symbolicLinkName, BOOLEAN enable)
{
    RequirePassive("IoSetDeviceInterfaceState");
    std::u16string key = Upper(FromCounted(symbolicLinkName));
    std::lock_guard<std::mutex> guard(Pnp().lock);
    for (KernDeviceInterface& i : Pnp().interfaces) {
        if (Upper(i.link) != key)
            continue;
        if (enable) {
            if (!i.physicalDevice)
                return STATUS_INVALID_DEVICE_REQUEST;
            if (i.enabled)
                return STATUS_OBJECT_NAME_EXISTS;
            i.enabled = true;
            return STATUS_SUCCESS;
        }
        if (!i.enabled)
            return STATUS_OBJECT_NAME_NOT_FOUND;
        i.enabled = false;
        return STATUS_SUCCESS;
    }
    return STATUS_OBJECT_NAME_NOT_FOUND;
}

std::vector<KernDeviceInterface> KernGetDeviceInterfaces()
{
    std::lock_guard<std::mutex> guard(Pnp().lock);
    return Pnp().interfaces;
}

std::vector<std::u16string> KernGetEnabledInterfaces(const GUID& classGuid)
{
    std::vector<std::u16string> links;
    std::lock_guard<std::mutex> guard(Pnp().lock);
    for (const KernDeviceInterface& i : Pnp().interfaces)
        if (i.enabled && std::memcmp(&i.classGuid, &classGuid, sizeof classGuid) == 0)
            links.push_back(i.link);
    return links;
}

// ---- Symbolic links ------------------------------------------------------------------------------------------------

extern "C" NTSTATUS IoCreateSymbolicLink(PUNICODE_STRING symbolicLinkName, PUNICODE_STRING deviceName)
{
    RequirePassive("IoCreateSymbolicLink");
    std::u16string link = FromCounted(symbolicLinkName);
    std::u16string target = FromCounted(deviceName);
    if (link.empty() || link[0] != u'\\' || target.empty() || target[0] != u'\\')
        return STATUS_OBJECT_NAME_INVALID;
    std::lock_guard<std::mutex> guard(Pnp().lock);
    auto [it, made] = Pnp().links.emplace(Upper(link), std::make_pair(link, target));
    return made ? STATUS_SUCCESS : STATUS_OBJECT_NAME_COLLISION;
}

extern "C" NTSTATUS IoDeleteSymbolicLink(PUNICODE_STRING symbolicLinkName)
{
    RequirePassive("IoDeleteSymbolicLink");
    std::lock_guard<std::mutex> guard(Pnp().lock);
    return Pnp().links.erase(Upper(FromCounted(symbolicLinkName))) ? STATUS_SUCCESS : STATUS_OBJECT_NAME_NOT_FOUND;
}

std::u16string KernResolveSymbolicLink(const std::u16string& link)
{
    std::lock_guard<std::mutex> guard(Pnp().lock);
    auto it = Pnp().links.find(Upper(link));
    return it == Pnp().links.end() ? std::u16string() : it->second.second;
}

std::vector<std::u16string> KernGetSymbolicLinks()
{
    std::vector<std::u16string> links;
    std::lock_guard<std::mutex> guard(Pnp().lock);
    for (const auto& entry : Pnp().links)
        links.push_back(entry.second.first);
    return links;
}

// ---- WMI and interrupts ------------------------------------------------------------------------------------------------

extern "C" NTSTATUS IoWMIRegistrationControl(PDEVICE_OBJECT deviceObject, ULONG action)
{
    if (!deviceObject || action < WMIREG_ACTION_REGISTER || action > WMIREG_ACTION_UPDATE_GUIDS)
        return STATUS_INVALID_PARAMETER;
    std::lock_guard<std::mutex> guard(Pnp().lock);
    Pnp().wmi.push_back(KernWmiRegistration{deviceObject, action});
    Keep(Pnp().wmi);
    return STATUS_SUCCESS;
}

extern "C" NTSTATUS IoWMIWriteEvent(PVOID wnodeEventItem)
{
    if (!wnodeEventItem)
        return STATUS_INVALID_PARAMETER;
    ULONG size = 0;
    std::memcpy(&size, wnodeEventItem, sizeof size);
    if (size < sizeof(ULONG) || size > 0x10000)
        return STATUS_INVALID_PARAMETER;
    const auto* bytes = static_cast<const uint8_t*>(wnodeEventItem);
    {
        std::lock_guard<std::mutex> guard(Pnp().lock);
        Pnp().wmiEvents.emplace_back(bytes, bytes + size);
        Keep(Pnp().wmiEvents);
    }
    ExFreePool(wnodeEventItem);
    return STATUS_SUCCESS;
}

std::vector<KernWmiRegistration> KernGetWmiRegistrations()
{
    std::lock_guard<std::mutex> guard(Pnp().lock);
    return Pnp().wmi;
}

std::vector<std::vector<uint8_t>> KernGetWmiEvents()
{
    std::lock_guard<std::mutex> guard(Pnp().lock);
    return Pnp().wmiEvents;
}

extern "C" NTSTATUS IoConnectInterrupt(PKINTERRUPT* interruptObject, PKSERVICE_ROUTINE, PVOID, PKSPIN_LOCK, ULONG,
                                       KIRQL, KIRQL, KINTERRUPT_MODE, BOOLEAN, ULONG, BOOLEAN)
{
    if (interruptObject)
        *interruptObject = nullptr;
    return STATUS_NOT_SUPPORTED;
}

extern "C" void IoDisconnectInterrupt(PKINTERRUPT interruptObject)
{
    if (interruptObject)
        KernBugCheck("disconnecting an interrupt that was never connected");
}

// ---- Requests the host sends ------------------------------------------------------------------------------------------

KernHostRequest::KernHostRequest(PDEVICE_OBJECT device, const IO_STACK_LOCATION& location, std::vector<uint8_t> buffer)
    : m_Buffer(std::move(buffer))
{
    KeInitializeEvent(&m_Done, NotificationEvent, FALSE);
    m_Top = IoGetAttachedDeviceReference(device);
    m_Irp = IoAllocateIrp(m_Top->StackSize, FALSE);
    if (!m_Irp)
        KernBugCheck("no memory for a host request");
    m_Irp->IoStatus.Status = STATUS_SUCCESS;
    m_Irp->AssociatedIrp.SystemBuffer = m_Buffer.empty() ? nullptr : m_Buffer.data();
    PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(m_Irp);
    *next = location;
    m_Irp->Tail.Overlay.OriginalFileObject = location.FileObject;
    IoSetCompletionRoutine(m_Irp, priCompleted, this, TRUE, TRUE, TRUE);
}

KernHostRequest::~KernHostRequest()
{
    if (m_Sent)
        Wait(0);
    IoFreeIrp(m_Irp);
    ObDereferenceObject(m_Top);
}

NTSTATUS KernHostRequest::priCompleted(PDEVICE_OBJECT, PIRP irp, PVOID context)
{
    auto* self = static_cast<KernHostRequest*>(context);
    self->m_Status = irp->IoStatus;
    KeSetEvent(&self->m_Done, 0, FALSE);
    return STATUS_MORE_PROCESSING_REQUIRED;
}

NTSTATUS KernHostRequest::Send()
{
    if (m_Sent)
        KernBugCheck("host request sent twice");
    m_Sent = true;
    return IoCallDriver(m_Top, m_Irp);
}

bool KernHostRequest::Wait(unsigned milliseconds)
{
    if (!m_Sent)
        return false;
    LARGE_INTEGER timeout;
    timeout.QuadPart = -static_cast<LONGLONG>(milliseconds) * 10000;
    return KeWaitForSingleObject(&m_Done, Executive, KernelMode, FALSE, milliseconds ? &timeout : nullptr) ==
           STATUS_SUCCESS;
}

bool KernHostRequest::Cancel()
{
    if (!m_Sent || Done())
        return false;
    return IoCancelIrp(m_Irp) != FALSE;
}

bool KernHostRequest::Done() const
{
    return KeReadStateEvent(const_cast<PKEVENT>(&m_Done)) != 0;
}

IO_STATUS_BLOCK KernHostRequest::Status() const
{
    return m_Status;
}
