// The simulated 1394 bus as a bus driver of this process's kernel: node devices, IRB requests, the host's
// address ranges with their FIFOs, deliveries and bus resets.
#include <unistd.h>

#include <chrono>
#include <cinttypes>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "BusState.h"
#include "Platform1394.h"
#include "PlatformKernelHost.h"
#include "SimBus1394.h"
#include "SimCamera.h"

namespace simbus {

namespace {

using Clock = std::chrono::steady_clock;

constexpr ULONG kNodeMagic = 0x4E313339;  // "931N"
constexpr ULONG kHostCapabilities = 0x00000002;
// Where the host's address ranges lie on the local node.
constexpr uint64_t kRangeBase = 0x0001'00000000ull;
constexpr uint64_t kRangeStride = 0x00100000;
constexpr uint32_t kPollMs = 250;

struct NodeExtension {
    ULONG magic;
    char id[68];
};

struct Range {
    uint64_t start;
    uint32_t length;
    PNOTIFICATION_ROUTINE callback;
    PVOID context;
    PSINGLE_LIST_ENTRY fifo;
    PKSPIN_LOCK fifoLock;
};

struct Packet {
    uint64_t host;
    std::vector<uint8_t> data;
};

// The bus thread: work due at a time, run in order at DISPATCH_LEVEL.
class BusThread {
public:
    void Start()
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        m_Quit = false;
        m_Thread = std::thread([this] { priRun(); });
    }
    void Stop()
    {
        {
            std::lock_guard<std::mutex> guard(m_Lock);
            m_Quit = true;
        }
        m_Wake.notify_all();
        if (m_Thread.joinable())
            m_Thread.join();
        m_Queue.clear();
    }
    void Post(Clock::time_point due, std::function<void()> work)
    {
        {
            std::lock_guard<std::mutex> guard(m_Lock);
            m_Queue.emplace(std::make_pair(due, m_Sequence++), std::move(work));
        }
        m_Wake.notify_all();
    }
    void Drain()
    {
        std::unique_lock<std::mutex> lock(m_Lock);
        m_Idle.wait(lock, [this] { return (m_Queue.empty() && !m_Running) || m_Quit; });
    }

private:
    void priRun()
    {
        KIRQL old;
        KeRaiseIrql(DISPATCH_LEVEL, &old);
        std::unique_lock<std::mutex> lock(m_Lock);
        while (!m_Quit) {
            if (m_Queue.empty()) {
                m_Idle.notify_all();
                m_Wake.wait(lock);
                continue;
            }
            auto first = m_Queue.begin();
            if (first->first.first > Clock::now()) {
                m_Wake.wait_until(lock, first->first.first);
                continue;
            }
            std::function<void()> work = std::move(first->second);
            m_Queue.erase(first);
            m_Running = true;
            lock.unlock();
            work();
            lock.lock();
            m_Running = false;
        }
        m_Idle.notify_all();
        lock.unlock();
        KeLowerIrql(old);
    }

    std::mutex m_Lock;
    std::condition_variable m_Wake;
    std::condition_variable m_Idle;
    std::map<std::pair<Clock::time_point, uint64_t>, std::function<void()>> m_Queue;
    uint64_t m_Sequence = 0;
    bool m_Running = false;
    bool m_Quit = false;
    std::thread m_Thread;
};

struct Bus {
    std::mutex lock;  // nodes, seen generation, handler
    std::mutex pass;  // one pass of following the nodes at a time
    PDRIVER_OBJECT driver = nullptr;
    std::map<std::string, PDEVICE_OBJECT> nodes;
    std::map<std::string, uint32_t> numbers;  // each node's number on the bus when it was last seen
    uint32_t generation = 0;
    NodeHandler handler;
    PDRIVER_OBJECT function = nullptr;  // the driver the plug-and-play manager is offered each node for
    std::mutex hostLock;  // ranges and reset routines; held while one of their routines runs
    std::map<Range*, std::unique_ptr<Range>> ranges;
    uint64_t nextRange = 0;
    std::map<PVOID, PBUS_BUS_RESET_NOTIFICATION> resetRoutines;
    BusThread thread;
    std::thread watcher;
    std::mutex watchLock;
    std::condition_variable watchWake;
    bool quit = false;
    bool running = false;
};

Bus& TheBus()
{
    static Bus* bus = new Bus;
    return *bus;
}

std::string Hex48(uint64_t address)
{
    char text[24];
    std::snprintf(text, sizeof text, "%04" PRIx64 ":%08" PRIx64, (address >> 32) & 0xFFFF, address & 0xFFFFFFFFu);
    return text;
}

NodeExtension* NodeOf(PDEVICE_OBJECT device)
{
    if (!device || !device->DeviceExtension || !device->DriverObject || device->DriverObject != TheBus().driver)
        return nullptr;
    auto* ext = static_cast<NodeExtension*>(device->DeviceExtension);
    return ext->magic == kNodeMagic ? ext : nullptr;
}

NTSTATUS StatusOf(simcam::BusResult r)
{
    switch (r) {
    case simcam::BusResult::Complete:
        return STATUS_SUCCESS;
    case simcam::BusResult::AddressError:
        return STATUS_INVALID_ADDRESS;
    case simcam::BusResult::TypeError:
        return STATUS_INVALID_PARAMETER;
    default:
        return STATUS_DEVICE_NOT_CONNECTED;
    }
}

// A quadlet in bus order.
void PutBe(std::vector<uint8_t>* out, uint32_t v)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out->push_back(uint8_t(v >> shift));
}

// CRC-16 of configuration ROM quadlets (polynomial 0x1021 over each quadlet, most significant bit first).
uint16_t RomCrc(const std::vector<uint8_t>& bytes, size_t from)
{
    return simcam::Crc16(bytes.data() + from, bytes.size() - from);
}

// A directory or leaf: its header quadlet (length in quadlets, CRC) before `body`.
std::vector<uint8_t> Block(const std::vector<uint8_t>& body)
{
    std::vector<uint8_t> out;
    PutBe(&out, uint32_t(body.size() / 4) << 16 | simcam::Crc16(body.data(), body.size()));
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

std::vector<uint8_t> TextLeaf(const std::string& text)
{
    std::vector<uint8_t> body;
    PutBe(&body, 0);
    PutBe(&body, 0);
    for (char c : text)
        body.push_back(uint8_t(c));
    while (body.size() % 4)
        body.push_back(0);
    return Block(body);
}

struct ConfigRom {
    std::vector<uint8_t> rom, unit, dependent, vendor, model;
};

ConfigRom MakeConfigRom(const std::string& id, uint32_t node)
{
    ConfigRom c;
    uint32_t hash = simcam::Crc16(reinterpret_cast<const uint8_t*>(id.data()), id.size());
    std::vector<uint8_t> info;
    PutBe(&info, 0x31333934);  // "1394"
    PutBe(&info, 0x0000A002);  // capabilities, largest record 2048
    PutBe(&info, 0x00C0FFEEu);  // node vendor id and chip id high
    PutBe(&info, hash << 16 | node);
    c.rom.clear();
    PutBe(&c.rom, 0x04000000u | RomCrc(info, 0));
    c.rom.insert(c.rom.end(), info.begin(), info.end());
    PutBe(&c.rom, 0x00030000);  // root directory header
    std::vector<uint8_t> unit;
    PutBe(&unit, 0x1200C0FFu);  // unit specifier id
    PutBe(&unit, 0x13000100u);  // unit software version
    PutBe(&unit, 0xD4000001u);  // unit-dependent directory follows
    c.unit = Block(unit);
    std::vector<uint8_t> dep;
    PutBe(&dep, 0x38004000u);  // the configuration area (0xF0010000), in quadlets from 0xF0000000
    PutBe(&dep, 0x81000001u);  // model text follows
    c.dependent = Block(dep);
    c.vendor = TextLeaf("Lumo");
    c.model = TextLeaf("Camera " + id);
    return c;
}

void CopyOut(PVOID to, ULONG size, const std::vector<uint8_t>& from)
{
    if (to)
        std::memcpy(to, from.data(), std::min<size_t>(size, from.size()));
}

void LogRequest(BusSession& s, const std::string& node, const IRB& irb, uint32_t generation, NTSTATUS status)
{
    uint64_t address = 0;
    uint32_t length = 0, block = 0;
    uint32_t requestGeneration = generation;
    if (irb.FunctionNumber == REQUEST_ASYNC_READ || irb.FunctionNumber == REQUEST_ASYNC_WRITE) {
        const auto& t = irb.u.AsyncTransfer;
        address = uint64_t(t.DestinationAddress.Off_High) << 32 | t.DestinationAddress.Off_Low;
        length = t.nNumberOfBytesToRead;
        block = t.nBlockSize;
        requestGeneration = t.ulGeneration;
    } else if (irb.FunctionNumber == REQUEST_ALLOCATE_ADDRESS_RANGE) {
        length = irb.u.AllocateAddressRange.nLength;
        if (NT_SUCCESS(status) && irb.u.AllocateAddressRange.p1394AddressRange) {
            const ADDRESS_RANGE& r = irb.u.AllocateAddressRange.p1394AddressRange[0];
            address = uint64_t(r.AR_Off_High) << 32 | r.AR_Off_Low;
        }
    }
    char line[256];
    int n = std::snprintf(line, sizeof line,
                          "%ld\tnode %s\t%s %u\tgeneration %u\t%s\tlength %u\tblock %u\tstatus 0x%08X", long(getpid()),
                          node.c_str(), BusFunctionName(irb.FunctionNumber), unsigned(irb.FunctionNumber),
                          unsigned(requestGeneration), Hex48(address).c_str(), unsigned(length), unsigned(block),
                          unsigned(status));
    // A quadlet written: its value as the bus carries it, most significant byte first.
    const auto& t = irb.u.AsyncTransfer;
    if (irb.FunctionNumber == REQUEST_ASYNC_WRITE && length == 4 && t.Mdl && n > 0 && size_t(n) < sizeof line &&
        MmGetMdlByteCount(t.Mdl) >= 4) {
        if (auto* q = static_cast<const uint8_t*>(MmGetSystemAddressForMdlSafe(t.Mdl, HighPagePriority)))
            std::snprintf(line + n, sizeof line - size_t(n), "\tvalue 0x%02X%02X%02X%02X", q[0], q[1], q[2], q[3]);
    }
    s.Log(line);
}

void LogPacket(const char* what, uint64_t host, size_t length, const char* why)
{
    BusSession s;
    char line[200];
    std::snprintf(line, sizeof line, "%ld\t%s\t%s\tlength %zu%s%s", long(getpid()), what, Hex48(host).c_str(), length,
                  why ? "\t" : "", why ? why : "");
    s.Log(line);
}

// Runs on the bus thread: one packet into the host's address range.
void Deliver(const Packet& p)
{
    Bus& bus = TheBus();
    std::lock_guard<std::mutex> guard(bus.hostLock);
    Range* range = nullptr;
    for (auto& [key, r] : bus.ranges)
        if (p.host >= r->start && p.host < r->start + r->length)
            range = r.get();
    if (!range) {
        LogPacket("drop", p.host, p.data.size(), "no address range");
        return;
    }
    const uint64_t offset = p.host - range->start;
    if (offset + p.data.size() > range->length) {
        LogPacket("drop", p.host, p.data.size(), "outside the range");
        return;
    }
    auto* entry = ExInterlockedPopEntryList(range->fifo, range->fifoLock);
    if (!entry) {
        LogPacket("drop", p.host, p.data.size(), "no FIFO element free");
        return;
    }
    auto* element = CONTAINING_RECORD(entry, ADDRESS_FIFO, FifoList);
    PMDL mdl = element->FifoMdl;
    auto* bytes = mdl ? static_cast<uint8_t*>(MmGetSystemAddressForMdlSafe(mdl, HighPagePriority)) : nullptr;
    if (!bytes || offset + p.data.size() > MmGetMdlByteCount(mdl)) {
        ExInterlockedPushEntryList(range->fifo, entry, range->fifoLock);
        LogPacket("drop", p.host, p.data.size(), "outside the FIFO element");
        return;
    }
    std::memcpy(bytes + offset, p.data.data(), p.data.size());
    LogPacket("deliver", p.host, p.data.size(), nullptr);
    NOTIFICATION_INFO info{};
    info.Mdl = mdl;
    info.ulOffset = ULONG(offset);
    info.nLength = ULONG(p.data.size());
    info.fulNotificationOptions = NOTIFY_FLAGS_AFTER_WRITE;
    info.Context = range->context;
    info.Fifo = element;
    range->callback(&info);
}

void QueueDeliveries(std::vector<Packet> packets, uint32_t delayMs)
{
    if (packets.empty())
        return;
    auto due = Clock::now() + std::chrono::milliseconds(delayMs);
    for (Packet& p : packets)
        TheBus().thread.Post(due, [p = std::move(p)] { Deliver(p); });
}

NTSTATUS Transfer(const std::string& id, IRB& irb, uint32_t generation, std::vector<Packet>* packets)
{
    auto& t = irb.u.AsyncTransfer;
    if (t.ulGeneration != generation)
        return STATUS_INVALID_GENERATION;
    const uint64_t address = uint64_t(t.DestinationAddress.Off_High) << 32 | t.DestinationAddress.Off_Low;
    const uint32_t length = t.nNumberOfBytesToRead;
    if (!t.Mdl || (address & 3) != 0 || (length & 3) != 0 || length == 0 || length > MmGetMdlByteCount(t.Mdl))
        return STATUS_INVALID_PARAMETER;
    auto* buffer = static_cast<uint8_t*>(MmGetSystemAddressForMdlSafe(t.Mdl, HighPagePriority));
    if (!buffer)
        return STATUS_INSUFFICIENT_RESOURCES;
    std::unique_ptr<simcam::Camera1394> camera = simcam::OpenCamera1394(id);
    if (!camera)
        return STATUS_DEVICE_NOT_CONNECTED;
    camera->SetHostWriter([packets](uint64_t host, const uint8_t* data, size_t n) {
        packets->push_back({host, std::vector<uint8_t>(data, data + n)});
    });
    uint32_t block = t.nBlockSize ? (t.nBlockSize + 3) & ~3u : length;
    for (uint32_t at = 0; at < length; at += block) {
        uint32_t n = std::min(block, length - at);
        simcam::BusResult r = irb.FunctionNumber == REQUEST_ASYNC_READ ? camera->ReadBlock(address + at, buffer + at, n)
                                                                       : camera->WriteBlock(address + at, buffer + at, n);
        if (r != simcam::BusResult::Complete)
            return StatusOf(r);
    }
    return STATUS_SUCCESS;
}

NTSTATUS AllocateRange(IRB& irb)
{
    auto& a = irb.u.AllocateAddressRange;
    if (a.nLength == 0 || a.nLength > 0xFFFF || !a.FifoSListHead || !a.FifoSpinLock || !a.Callback ||
        !a.p1394AddressRange)
        return STATUS_INVALID_PARAMETER;
    Bus& bus = TheBus();
    std::lock_guard<std::mutex> guard(bus.hostLock);
    auto range = std::make_unique<Range>();
    range->start = kRangeBase + kRangeStride * (bus.nextRange++ % 4096);
    range->length = a.nLength;
    range->callback = a.Callback;
    range->context = a.Context;
    range->fifo = a.FifoSListHead;
    range->fifoLock = a.FifoSpinLock;
    a.p1394AddressRange[0].AR_Off_High = USHORT(range->start >> 32);
    a.p1394AddressRange[0].AR_Length = USHORT(a.nLength);
    a.p1394AddressRange[0].AR_Off_Low = ULONG(range->start);
    a.AddressesReturned = 1;
    a.hAddressRange = range.get();
    bus.ranges[range.get()] = std::move(range);
    return STATUS_SUCCESS;
}

NTSTATUS FreeRange(IRB& irb)
{
    auto& f = irb.u.FreeAddressRange;
    if (f.nAddressesToFree == 0 || !f.pAddressRange)
        return STATUS_INVALID_PARAMETER;
    Bus& bus = TheBus();
    std::lock_guard<std::mutex> guard(bus.hostLock);
    for (ULONG i = 0; i < f.nAddressesToFree; ++i)
        if (!bus.ranges.count(static_cast<Range*>(f.pAddressRange[i])))
            return STATUS_INVALID_PARAMETER;
    for (ULONG i = 0; i < f.nAddressesToFree; ++i)
        bus.ranges.erase(static_cast<Range*>(f.pAddressRange[i]));
    return STATUS_SUCCESS;
}

NTSTATUS ResetNotification(IRB& irb)
{
    auto& n = irb.u.BusResetNotification;
    Bus& bus = TheBus();
    std::lock_guard<std::mutex> guard(bus.hostLock);
    if (n.fulFlags == REGISTER_NOTIFICATION_ROUTINE && n.ResetRoutine) {
        bus.resetRoutines[n.ResetContext] = n.ResetRoutine;
        return STATUS_SUCCESS;
    }
    if (n.fulFlags == DEREGISTER_NOTIFICATION_ROUTINE && bus.resetRoutines.erase(n.ResetContext))
        return STATUS_SUCCESS;
    return STATUS_INVALID_PARAMETER;
}

NTSTATUS ConfigurationInfo(const std::string& id, uint32_t node, IRB& irb)
{
    auto& c = irb.u.GetConfigurationInformation;
    ConfigRom rom = MakeConfigRom(id, node);
    if (!c.ConfigRom && !c.UnitDirectory) {
        c.UnitDirectoryBufferSize = ULONG(rom.unit.size());
        c.UnitDependentDirectoryBufferSize = ULONG(rom.dependent.size());
        c.VendorLeafBufferSize = ULONG(rom.vendor.size());
        c.ModelLeafBufferSize = ULONG(rom.model.size());
        return STATUS_SUCCESS;
    }
    if (!c.ConfigRom || !c.UnitDirectory)
        return STATUS_INVALID_PARAMETER;
    CopyOut(c.ConfigRom, CONFIG_ROM_SIZE, rom.rom);
    CopyOut(c.UnitDirectory, c.UnitDirectoryBufferSize, rom.unit);
    c.UnitDirectoryLocation = {0xFFFF, 0, 0xF0000414};
    CopyOut(c.UnitDependentDirectory, c.UnitDependentDirectoryBufferSize, rom.dependent);
    c.UnitDependentDirectoryLocation = {0xFFFF, 0, 0xF0000424};
    CopyOut(c.VendorLeaf, c.VendorLeafBufferSize, rom.vendor);
    CopyOut(c.ModelLeaf, c.ModelLeafBufferSize, rom.model);
    return STATUS_SUCCESS;
}

void CompleteAtDispatch(PIRP irp, NTSTATUS status)
{
    irp->IoStatus.Status = status;
    KIRQL old;
    KeRaiseIrql(DISPATCH_LEVEL, &old);
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    KeLowerIrql(old);
}

NTSTATUS BusRequest(PDEVICE_OBJECT device, PIRP irp)
{
    NodeExtension* node = NodeOf(device);
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    auto* irb = static_cast<PIRB>(stack->Parameters.Others.Argument1);
    if (!node || stack->Parameters.DeviceIoControl.IoControlCode != IOCTL_1394_CLASS || !irb) {
        irp->IoStatus.Status = STATUS_INVALID_DEVICE_REQUEST;
        IoCompleteRequest(irp, IO_NO_INCREMENT);
        return STATUS_INVALID_DEVICE_REQUEST;
    }
    const std::string id = node->id;
    uint32_t generation = 0, pendMs = 0, deliveryMs = 0, nodeNumber = 0;
    BusKnobs knobs;
    uint32_t failure = 0;
    bool failed;
    std::string nodeName = id;
    {
        BusSession s;
        if (!s.Ok()) {
            irp->IoStatus.Status = STATUS_UNSUCCESSFUL;
            IoCompleteRequest(irp, IO_NO_INCREMENT);
            return STATUS_UNSUCCESSFUL;
        }
        generation = s.View().generation;
        knobs = s.View().knobs;
        pendMs = knobs.pendMs;
        deliveryMs = knobs.deliveryMs;
        for (const BusNode& n : s.View().nodes)
            if (n.id == id) {
                nodeNumber = n.node;
                nodeName = std::to_string(n.node) + " " + id;
            }
        failed = s.TakeFailure(irb->FunctionNumber, &failure);
    }

    std::vector<Packet> packets;
    NTSTATUS status;
    if (failed) {
        status = NTSTATUS(failure);
    } else {
        switch (irb->FunctionNumber) {
        case REQUEST_ASYNC_READ:
        case REQUEST_ASYNC_WRITE:
            status = Transfer(id, *irb, generation, &packets);
            break;
        case REQUEST_ALLOCATE_ADDRESS_RANGE:
            status = AllocateRange(*irb);
            break;
        case REQUEST_FREE_ADDRESS_RANGE:
            status = FreeRange(*irb);
            break;
        case REQUEST_GET_LOCAL_HOST_INFO:
            status = STATUS_INVALID_PARAMETER;
            if (irb->u.GetLocalHostInformation.nLevel == GET_HOST_CAPABILITIES &&
                irb->u.GetLocalHostInformation.Information) {
                auto* info = static_cast<GET_LOCAL_HOST_INFO2*>(irb->u.GetLocalHostInformation.Information);
                info->HostCapabilities = kHostCapabilities;
                info->MaxAsyncReadRequest = knobs.hostRead;
                info->MaxAsyncWriteRequest = knobs.hostWrite;
                status = STATUS_SUCCESS;
            }
            break;
        case REQUEST_GET_CONFIGURATION_INFO:
            status = ConfigurationInfo(id, nodeNumber, *irb);
            break;
        case REQUEST_GET_GENERATION_COUNT:
            irb->u.GetGenerationCount.GenerationCount = generation;
            status = STATUS_SUCCESS;
            break;
        case REQUEST_BUS_RESET_NOTIFICATION:
            status = ResetNotification(*irb);
            break;
        default:
            status = STATUS_NOT_IMPLEMENTED;
            break;
        }
    }
    {
        BusSession s;
        LogRequest(s, nodeName, *irb, generation, status);
    }
    irp->IoStatus.Information = 0;
    if (pendMs > 0) {
        IoMarkIrpPending(irp);
        auto due = Clock::now() + std::chrono::milliseconds(pendMs);
        auto shared = std::make_shared<std::vector<Packet>>(std::move(packets));
        TheBus().thread.Post(due, [irp, status, shared, deliveryMs] {
            irp->IoStatus.Status = status;
            IoCompleteRequest(irp, IO_NO_INCREMENT);
            QueueDeliveries(std::move(*shared), deliveryMs);
        });
        return STATUS_PENDING;
    }
    CompleteAtDispatch(irp, status);
    QueueDeliveries(std::move(packets), deliveryMs);
    return status;
}

// PnP and power requests to a node succeed.
NTSTATUS Succeed(PDEVICE_OBJECT, PIRP irp)
{
    irp->IoStatus.Status = STATUS_SUCCESS;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return STATUS_SUCCESS;
}

NTSTATUS BusEntry(PDRIVER_OBJECT driver, PUNICODE_STRING)
{
    driver->MajorFunction[IRP_MJ_INTERNAL_DEVICE_CONTROL] = BusRequest;
    driver->MajorFunction[IRP_MJ_PNP] = Succeed;
    driver->MajorFunction[IRP_MJ_POWER] = Succeed;
    return STATUS_SUCCESS;
}

PDEVICE_OBJECT MakeNode(const std::string& id)
{
    Bus& bus = TheBus();
    std::u16string name = u"\\Device\\Bus1394Node_";
    for (char c : id)
        name += char16_t(c);
    UNICODE_STRING counted{USHORT(name.size() * 2), USHORT(name.size() * 2), name.data()};
    PDEVICE_OBJECT device = nullptr;
    if (!NT_SUCCESS(IoCreateDevice(bus.driver, sizeof(NodeExtension), &counted, FILE_DEVICE_BUS_EXTENDER, 0, FALSE,
                                   &device)))
        return nullptr;
    auto* ext = static_cast<NodeExtension*>(device->DeviceExtension);
    ext->magic = kNodeMagic;
    std::snprintf(ext->id, sizeof ext->id, "%s", id.c_str());
    device->Flags &= ~ULONG(DO_DEVICE_INITIALIZING);
    return device;
}

NTSTATUS SignalDone(PDEVICE_OBJECT, PIRP, PVOID context)
{
    KeSetEvent(static_cast<PKEVENT>(context), 0, FALSE);
    return STATUS_MORE_PROCESSING_REQUIRED;
}

// IRP_MN_BUS_RESET to the top of the node's stack, at PASSIVE_LEVEL, waited for.
void SendBusReset(PDEVICE_OBJECT node, uint32_t generation)
{
    PDEVICE_OBJECT top = IoGetAttachedDeviceReference(node);
    if (top == node) {
        ObDereferenceObject(top);
        return;
    }
    PIRP irp = IoAllocateIrp(top->StackSize, FALSE);
    if (irp) {
        irp->IoStatus.Status = STATUS_NOT_SUPPORTED;
        PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
        next->MajorFunction = IRP_MJ_PNP;
        next->MinorFunction = IRP_MN_BUS_RESET;
        next->Parameters.Others.Argument4 = reinterpret_cast<PVOID>(uintptr_t(generation));
        KEVENT done;
        KeInitializeEvent(&done, NotificationEvent, FALSE);
        IoSetCompletionRoutine(irp, SignalDone, &done, TRUE, TRUE, TRUE);
        if (IoCallDriver(top, irp) == STATUS_PENDING)
            KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, nullptr);
        IoFreeIrp(irp);
    }
    ObDereferenceObject(top);
}

KernDeviceIds NodeIds(const std::string& id, uint32_t number)
{
    KernDeviceIds ids;
    ids.bus = u"1394";
    for (char c : id)
        ids.device += char16_t(c);
    for (char c : std::to_string(number))
        ids.instance += char16_t(c);
    return ids;
}

// Nodes not yet offered go to the plug-and-play manager for the function driver, if there is one.
void OfferNodes()
{
    Bus& bus = TheBus();
    std::vector<std::pair<PDEVICE_OBJECT, std::string>> offer;
    std::vector<uint32_t> numbers;
    PDRIVER_OBJECT function;
    {
        std::lock_guard<std::mutex> guard(bus.lock);
        function = bus.function;
        if (!function)
            return;
        for (auto& entry : bus.nodes) {
            KernDeviceIds ids;
            if (!KernPnpGetDeviceIds(entry.second, &ids)) {
                offer.push_back({entry.second, entry.first});
                numbers.push_back(bus.numbers[entry.first]);
            }
        }
    }
    for (size_t i = 0; i < offer.size(); ++i) {
        auto& entry = offer[i];
        NTSTATUS status = KernPnpOfferDevice(entry.first, NodeIds(entry.second, numbers[i]), function);
        if (!NT_SUCCESS(status))
            DbgPrint("Bus1394: node %s was not started: 0x%08X\n", entry.second.c_str(), unsigned(status));
    }
}

// A node is gone: the stack above it is removed as the plug-and-play manager removes the stack of a device
// that left (offered to the function driver or not), the handler detaches what it put there, and the node is
// deleted. A driver that stayed attached keeps the node's memory until it detaches.
void NodeLeft(PDEVICE_OBJECT device, const std::string& id, const NodeHandler& handler)
{
    bool removed = false;
    KernDeviceIds ids;
    if (KernPnpGetDeviceIds(device, &ids)) {
        KernPnpDeviceLeft(device);
        removed = true;
    }
    if (handler)
        handler(device, id, false);
    if (!removed && IoGetAttachedDevice(device) != device)
        KernPnpDeviceLeft(device);
    if (IoGetAttachedDevice(device) != device)
        DbgPrint("Bus1394: node %s left with a device still attached\n", id.c_str());
    IoDeleteDevice(device);
}

// One pass of following the shared bus: nodes made and deleted, resets announced.
void FollowPass()
{
    Bus& bus = TheBus();
    std::lock_guard<std::mutex> pass(bus.pass);
    BusView view;
    if (!SyncBus(&view, nullptr))
        return;
    std::vector<std::pair<PDEVICE_OBJECT, std::string>> arrived, left;
    bool reset;
    NodeHandler handler;
    {
        std::lock_guard<std::mutex> guard(bus.lock);
        if (!bus.driver)
            return;
        reset = view.generation != bus.generation;
        bus.generation = view.generation;
        for (auto it = bus.nodes.begin(); it != bus.nodes.end();) {
            bool present = false;
            for (const BusNode& n : view.nodes)
                present = present || n.id == it->first;
            if (!present) {
                left.push_back({it->second, it->first});
                it = bus.nodes.erase(it);
            } else {
                ++it;
            }
        }
        for (const BusNode& n : view.nodes)
            bus.numbers[n.id] = n.node;
        for (const BusNode& n : view.nodes)
            if (!bus.nodes.count(n.id)) {
                PDEVICE_OBJECT device = MakeNode(n.id);
                if (device) {
                    bus.nodes[n.id] = device;
                    arrived.push_back({device, n.id});
                }
            }
        handler = bus.handler;
    }
    for (auto& [device, id] : left)
        NodeLeft(device, id, handler);
    if (reset) {
        {
            std::lock_guard<std::mutex> guard(bus.hostLock);
            for (auto& [context, routine] : bus.resetRoutines)
                bus.thread.Post(Clock::now(), [context = context, routine = routine] {
                    Bus& b = TheBus();
                    std::lock_guard<std::mutex> g(b.hostLock);
                    auto it = b.resetRoutines.find(context);
                    if (it != b.resetRoutines.end() && it->second == routine)
                        routine(context);
                });
        }
        std::vector<PDEVICE_OBJECT> nodes;
        {
            std::lock_guard<std::mutex> guard(bus.lock);
            for (auto& entry : bus.nodes) {
                PDEVICE_OBJECT device = entry.second;
                if (std::find_if(arrived.begin(), arrived.end(), [&](auto& a) { return a.first == device; }) ==
                    arrived.end()) {
                    ObReferenceObject(device);
                    nodes.push_back(device);
                }
            }
        }
        for (PDEVICE_OBJECT device : nodes) {
            SendBusReset(device, view.generation);
            ObDereferenceObject(device);
        }
    }
    for (auto& [device, id] : arrived)
        if (handler)
            handler(device, id, true);
    OfferNodes();
}

void Watch()
{
    Bus& bus = TheBus();
    std::unique_lock<std::mutex> lock(bus.watchLock);
    while (!bus.quit) {
        lock.unlock();
        FollowPass();
        lock.lock();
        bus.watchWake.wait_for(lock, std::chrono::milliseconds(kPollMs), [&] { return bus.quit; });
    }
}

}  // namespace

bool StartBus1394(std::string* error)
{
    Bus& bus = TheBus();
    {
        std::lock_guard<std::mutex> guard(bus.lock);
        if (bus.running)
            return true;
        NTSTATUS status = STATUS_SUCCESS;
        bus.driver = KernCreateDriver("Bus1394", BusEntry, &status);
        if (!bus.driver) {
            if (error)
                *error = "the 1394 bus cannot start on this machine";
            return false;
        }
        BusView view;
        if (!SyncBus(&view, error)) {
            bus.driver = nullptr;
            return false;
        }
        bus.generation = view.generation;
        bus.running = true;
        bus.quit = false;
        for (const BusNode& n : view.nodes) {
            bus.numbers[n.id] = n.node;
            if (PDEVICE_OBJECT device = MakeNode(n.id))
                bus.nodes[n.id] = device;
        }
    }
    bus.thread.Start();
    bus.watcher = std::thread(Watch);
    return true;
}

void StopBus1394()
{
    Bus& bus = TheBus();
    {
        std::lock_guard<std::mutex> guard(bus.lock);
        if (!bus.running)
            return;
    }
    {
        std::lock_guard<std::mutex> guard(bus.watchLock);
        bus.quit = true;
    }
    bus.watchWake.notify_all();
    if (bus.watcher.joinable())
        bus.watcher.join();
    bus.thread.Drain();
    bus.thread.Stop();
    std::lock_guard<std::mutex> pass(bus.pass);
    std::map<std::string, PDEVICE_OBJECT> nodes;
    {
        std::lock_guard<std::mutex> guard(bus.lock);
        nodes.swap(bus.nodes);
    }
    // The bus goes away: each node leaves as if unplugged.
    for (auto& entry : nodes)
        NodeLeft(entry.second, entry.first, nullptr);
    std::lock_guard<std::mutex> guard(bus.lock);
    {
        std::lock_guard<std::mutex> host(bus.hostLock);
        bus.ranges.clear();
        bus.resetRoutines.clear();
    }
    KernUnloadDriver(bus.driver, nullptr);
    bus.driver = nullptr;
    bus.handler = nullptr;
    bus.function = nullptr;
    bus.running = false;
}

void PollBus1394()
{
    FollowPass();
    DrainBus1394();
}

void DrainBus1394() { TheBus().thread.Drain(); }

PDEVICE_OBJECT Bus1394NodeDevice(const std::string& id)
{
    Bus& bus = TheBus();
    std::lock_guard<std::mutex> guard(bus.lock);
    auto it = bus.nodes.find(id);
    return it == bus.nodes.end() ? nullptr : it->second;
}

std::string Bus1394NodeId(PDEVICE_OBJECT device)
{
    NodeExtension* ext = NodeOf(device);
    return ext ? std::string(ext->id) : std::string();
}

void SetBus1394FunctionDriver(PDRIVER_OBJECT driver)
{
    // One offer of a node at a time: the watcher's passes offer too.
    std::lock_guard<std::mutex> pass(TheBus().pass);
    {
        Bus& bus = TheBus();
        std::lock_guard<std::mutex> guard(bus.lock);
        bus.function = driver;
    }
    OfferNodes();
}

void SetBus1394NodeHandler(NodeHandler handler)
{
    Bus& bus = TheBus();
    std::lock_guard<std::mutex> guard(bus.lock);
    bus.handler = std::move(handler);
}

}  // namespace simbus

// For the kernel stand-in, which loads this library at run time to bring the machine's bus up.
extern "C" bool SimBus1394Start(char* error, size_t size)
{
    std::string why;
    if (simbus::StartBus1394(&why))
        return true;
    if (error && size)
        std::snprintf(error, size, "%s", why.c_str());
    return false;
}

extern "C" void SimBus1394SetFunctionDriver(PDRIVER_OBJECT driver)
{
    simbus::SetBus1394FunctionDriver(driver);
}

extern "C" void SimBus1394Stop()
{
    simbus::StopBus1394();
}
