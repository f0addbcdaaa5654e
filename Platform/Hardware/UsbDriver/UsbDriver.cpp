// The simulated USB kernel driver below OstraUsb: a device for each camera plugged into USB, serving the
// library's requests (device type 0x8000, functions 0x800 to 0x814) from the camera's USB face and identity.
//
// Device path: \\?\usb#vid_VVVV&pid_PPPP#<camera id>#{interface class in lower case}; link name "KUSB" + the
// camera's place among the cameras on USB (sorted by id), opened as \\.\KUSB<n> (on Windows NT 4 also as
// \\.\{interface class}#KUSB<n>, the name of its value in the notification key). Version 1.0.
//
// Requests: pipe block byte 0 is the pipe (0 bulk OUT, 1 bulk IN); the setup block's function code picks a
// vendor request (to the camera), a standard one (answered from the identity) or a class one (stalls);
// interrupt transfers find no endpoint; isochronous ones on endpoint 0x83 fill each packet record (bytes 4-7
// status 0, bytes 8-11 the length) and the data with a counting pattern, after checking each record's data
// address (bytes 12-15, the low 32 bits of the caller's address). While the camera's "usb-delay" knob is set,
// transfers run on the device's own thread, so that they pend and complete later.
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "PlatformDeviceProvider.h"
#include "PlatformDevices.h"
#include "SimCamera.h"

namespace {

enum : uint32_t {
    kBulk = 0x80002001,
    kControl = 0x80002005,
    kInterrupt = 0x80002009,
    kIsochronous = 0x8000200D,
    kDeviceDescriptor = 0x80002010,
    kConfigurationDescriptor = 0x80002014,
    kInterfaceDescriptor = 0x80002018,
    kEndpointDescriptor = 0x8000201C,
    kStringDescriptor = 0x80002020,
    kDriverVersion = 0x80002024,
    kClearStall = 0x80002028,
    kLanguageIds = 0x8000203C,
    kNumberOfLanguageIds = 0x80002040,
    kStringDescriptorLength = 0x80002044,
    kSelectInterface = 0x80002048,
    kInterfaceGuid = 0x8000204C,
    kLinkName = 0x80002050,
};

constexpr uint32_t kInvalidFunction = 1;
constexpr uint32_t kInvalidParameter = 87;
constexpr uint32_t kBufferTooSmall = 122;
constexpr uint32_t kStall = simcam::kUsbStall;
constexpr uint32_t kNotResponding = simcam::kUsbNotResponding;
constexpr uint32_t kBufferOverrun = 0xE010000C;
constexpr uint8_t kIsochronousEndpoint = 0x83;
constexpr uint32_t kRecordSize = 16;

uint32_t Le32(const std::vector<uint8_t>& b, size_t at)
{
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}
uint16_t Le16(const std::vector<uint8_t>& b, size_t at)
{
    return static_cast<uint16_t>(b[at] | b[at + 1] << 8);
}
void Put32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}

std::string Lower(std::string s)
{
    for (char& c : s)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return s;
}

// UTF-8 to UTF-16 (a bad sequence gives U+FFFD).
std::u16string Utf16(const char* text)
{
    std::u16string out;
    const auto* p = reinterpret_cast<const unsigned char*>(text);
    while (*p) {
        uint32_t c = *p++;
        int more = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
        if (c >= 0x80 && more == 0)
            c = 0xFFFD;
        else if (more)
            c &= 0x3F >> more;
        for (; more > 0; --more) {
            if ((*p & 0xC0) != 0x80) {
                c = 0xFFFD;
                break;
            }
            c = c << 6 | (*p++ & 0x3F);
        }
        if (c >= 0x10000) {
            c -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (c >> 10));
            out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
        } else {
            out += static_cast<char16_t>(c);
        }
    }
    return out;
}

bool ParseGuid(const char* text, PlatGuid* g)
{
    unsigned d[11];
    if (std::sscanf(text, "{%8x-%4x-%4x-%2x%2x-%2x%2x%2x%2x%2x%2x}", &d[0], &d[1], &d[2], &d[3], &d[4], &d[5], &d[6],
                    &d[7], &d[8], &d[9], &d[10]) != 11)
        return false;
    g->data1 = d[0];
    g->data2 = static_cast<uint16_t>(d[1]);
    g->data3 = static_cast<uint16_t>(d[2]);
    for (int i = 0; i < 8; ++i)
        g->data4[i] = static_cast<uint8_t>(d[3 + i]);
    return true;
}

const simcam::UsbIdentity& Identity()
{
    return simcam::CameraUsbIdentity();
}

PlatGuid InterfaceClass()
{
    PlatGuid g{};
    ParseGuid(Identity().interfaceClass, &g);
    return g;
}

// The ids of the cameras plugged into USB now, sorted.
std::vector<std::string> UsbCameras()
{
    std::vector<std::string> ids;
    for (const simcam::CameraSummary& c : simcam::ListCameras())
        if (c.plug == simcam::Plug::Usb)
            ids.push_back(c.id);
    return ids;
}

std::string DevicePath(const std::string& id)
{
    char head[64];
    std::snprintf(head, sizeof head, "\\\\?\\usb#vid_%04x&pid_%04x#", Identity().vendorId, Identity().productId);
    return head + id + "#" + Lower(Identity().interfaceClass);
}

// The descriptors of the identity's configuration: configuration, interface, endpoints.
std::vector<std::vector<uint8_t>> Descriptors()
{
    std::vector<std::vector<uint8_t>> out;
    const std::vector<uint8_t>& all = Identity().configurationDescriptor;
    size_t at = 0;
    while (at + 2 <= all.size() && all[at] >= 2 && at + all[at] <= all.size()) {
        out.emplace_back(all.begin() + at, all.begin() + at + all[at]);
        at += all[at];
    }
    return out;
}

std::vector<std::vector<uint8_t>> DescriptorsOfType(uint8_t type)
{
    std::vector<std::vector<uint8_t>> out;
    for (auto& d : Descriptors())
        if (d[1] == type)
            out.push_back(d);
    return out;
}

// The UTF-16 text of string index (0: the language ids); false when the device has no such string.
bool StringUnits(uint16_t language, uint32_t index, std::u16string* units)
{
    const simcam::UsbIdentity& id = Identity();
    if (index == 0) {
        units->assign(id.languageIds.begin(), id.languageIds.end());
        return true;
    }
    bool known = false;
    for (uint16_t l : id.languageIds)
        known = known || l == language;
    if (!known || index > 2)
        return false;
    *units = Utf16(index == 1 ? id.manufacturer : id.product);
    return true;
}

// Runs the transfers of a device in order on a thread of its own. The thread shares its state, so that the
// worker may go away on its own thread (the last handle closed from a completion).
class Worker {
public:
    Worker() : m_State(std::make_shared<State>())
    {
        std::thread([state = m_State] { Run(*state); }).detach();
    }
    ~Worker()
    {
        {
            std::lock_guard<std::mutex> guard(m_State->lock);
            m_State->quit = true;
        }
        m_State->wake.notify_all();
    }
    void Post(std::function<void()> job)
    {
        {
            std::lock_guard<std::mutex> guard(m_State->lock);
            m_State->jobs.push_back(std::move(job));
        }
        m_State->wake.notify_all();
    }

private:
    struct State {
        std::mutex lock;
        std::condition_variable wake;
        std::deque<std::function<void()>> jobs;
        bool quit = false;
    };

    static void Run(State& state)
    {
        std::unique_lock<std::mutex> guard(state.lock);
        for (;;) {
            state.wake.wait(guard, [&] { return state.quit || !state.jobs.empty(); });
            if (state.jobs.empty())
                return;
            std::function<void()> job = std::move(state.jobs.front());
            state.jobs.pop_front();
            guard.unlock();
            job();
            job = nullptr;
            guard.lock();
        }
    }

    std::shared_ptr<State> m_State;
};

// One camera's device: serves requests.
class UsbDevice {
public:
    UsbDevice(std::string id, std::unique_ptr<simcam::CameraUsb> camera)
        : m_Id(std::move(id)), m_Camera(std::move(camera))
    {
    }

    const std::string& Id() const { return m_Id; }
    uint32_t Delay() { return m_Camera->UsbDelay(); }

    void Serve(PlatDeviceRequest& r)
    {
        uint32_t returned = 0;
        const uint32_t error = Handle(r, &returned);
        r.Complete(error, error == 0 ? returned : 0);
    }

    uint32_t Copy(PlatDeviceRequest& r, const void* data, size_t size, uint32_t* returned)
    {
        if (r.OutputSize() < size)
            return kBufferTooSmall;
        if (size > 0)
            std::memcpy(r.Output(), data, size);
        *returned = static_cast<uint32_t>(size);
        return 0;
    }

    uint32_t CopyUnits(PlatDeviceRequest& r, const std::u16string& units, uint32_t* returned)
    {
        const size_t n = std::min<size_t>(units.size(), r.OutputSize() / 2);
        for (size_t i = 0; i < n; ++i) {
            r.Output()[2 * i] = static_cast<uint8_t>(units[i]);
            r.Output()[2 * i + 1] = static_cast<uint8_t>(units[i] >> 8);
        }
        *returned = static_cast<uint32_t>(n * 2);
        return 0;
    }

    int LinkIndex() const
    {
        const std::vector<std::string> ids = UsbCameras();
        for (size_t i = 0; i < ids.size(); ++i)
            if (ids[i] == m_Id)
                return static_cast<int>(i);
        return -1;
    }

    uint32_t Handle(PlatDeviceRequest& r, uint32_t* returned)
    {
        const std::vector<uint8_t>& in = r.Input();
        switch (r.Code()) {
        case kBulk: {
            if (in.size() < 8)
                return kInvalidParameter;
            const uint32_t length = std::min(Le32(in, 4), r.OutputSize());
            return m_Camera->BulkTransfer(in[0], r.Output(), length, returned);
        }
        case kInterrupt:
            return kNotResponding;
        case kControl:
            return Control(r, returned);
        case kIsochronous:
            return Isochronous(r, returned);
        case kDeviceDescriptor:
            return Copy(r, Identity().deviceDescriptor.data(), Identity().deviceDescriptor.size(), returned);
        case kConfigurationDescriptor: {
            auto d = DescriptorsOfType(2);
            return d.empty() ? kStall : Copy(r, d[0].data(), d[0].size(), returned);
        }
        case kInterfaceDescriptor: {
            auto d = DescriptorsOfType(4);
            return d.empty() ? kStall : Copy(r, d[0].data(), d[0].size(), returned);
        }
        case kEndpointDescriptor: {
            if (in.size() < 1)
                return kInvalidParameter;
            auto d = DescriptorsOfType(5);
            if (in[0] >= d.size())
                return kInvalidParameter;
            return Copy(r, d[in[0]].data(), d[in[0]].size(), returned);
        }
        case kStringDescriptor:
        case kStringDescriptorLength: {
            if (in.size() < 8)
                return kInvalidParameter;
            std::u16string units;
            if (!StringUnits(Le16(in, 0), Le32(in, 4), &units))
                return kStall;
            if (r.Code() == kStringDescriptor)
                return CopyUnits(r, units, returned);
            uint8_t length[4];
            Put32(length, static_cast<uint32_t>(units.size()));
            return Copy(r, length, 4, returned);
        }
        case kDriverVersion: {
            uint8_t version[8] = {};
            Put32(version, 1);
            Put32(version + 4, 0);
            return Copy(r, version, 8, returned);
        }
        case kClearStall: {
            if (in.size() < 1)
                return kInvalidParameter;
            return m_Camera->ClearStall(Pipe(in[0]));
        }
        case kLanguageIds: {
            std::u16string ids(Identity().languageIds.begin(), Identity().languageIds.end());
            if (r.OutputSize() / 2 < ids.size())
                ids.resize(r.OutputSize() / 2);
            return CopyUnits(r, ids, returned);
        }
        case kNumberOfLanguageIds: {
            const auto n = static_cast<uint16_t>(Identity().languageIds.size());
            const uint8_t count[2] = {static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8)};
            return Copy(r, count, 2, returned);
        }
        case kSelectInterface:
            if (in.size() < 8)
                return kInvalidParameter;
            // One interface with one setting.
            return Le32(in, 0) == 0 && Le32(in, 4) == 0 ? 0 : kInvalidParameter;
        case kInterfaceGuid: {
            const PlatGuid g = InterfaceClass();
            return Copy(r, &g, sizeof g, returned);
        }
        case kLinkName: {
            const int index = LinkIndex();
            if (index < 0)
                return PLAT_ERROR_DEVICE_NOT_CONNECTED;
            const std::string name = "KUSB" + std::to_string(index);
            return CopyUnits(r, std::u16string(name.begin(), name.end()), returned);
        }
        default:
            return kInvalidFunction;
        }
    }

    // A pipe number (0 bulk OUT, 1 bulk IN), or the bulk IN endpoint's address (0x01, the OUT endpoint's, is pipe
    // 1 already).
    static uint32_t Pipe(uint8_t value)
    {
        if (value > 1 && value == Identity().bulkInEndpoint)
            return 1;
        return value;
    }

    uint32_t Control(PlatDeviceRequest& r, uint32_t* returned)
    {
        const std::vector<uint8_t>& in = r.Input();
        if (in.size() < 16)
            return kInvalidParameter;
        const uint32_t length = std::min(Le32(in, 0), r.OutputSize());
        const uint16_t function = Le16(in, 4);
        const uint8_t request = in[6];
        const uint16_t value = Le16(in, 8);
        const uint16_t index = Le16(in, 10);
        const bool out = in[12] != 0;
        uint8_t* data = r.Output();
        switch (function) {
        case 23:  // vendor: device, interface, endpoint, other
        case 24:
        case 25:
        case 32: {
            const uint8_t recipient = function == 32 ? 3 : static_cast<uint8_t>(function - 23);
            const uint8_t type = static_cast<uint8_t>((out ? 0x00 : 0x80) | 0x40 | recipient);
            return m_Camera->ControlTransfer(type, request, value, index, out, data, length, returned);
        }
        case 11: {  // get descriptor
            if (out)
                return kStall;
            std::vector<uint8_t> reply;
            const uint8_t type = static_cast<uint8_t>(value >> 8);
            if (type == 1) {
                reply = Identity().deviceDescriptor;
            } else if (type == 2 && (value & 0xFF) == 0) {
                reply = Identity().configurationDescriptor;
            } else if (type == 3) {
                std::u16string units;
                if (!StringUnits(index, value & 0xFF, &units) || units.size() > 126)
                    return kStall;
                reply.push_back(static_cast<uint8_t>(2 + 2 * units.size()));
                reply.push_back(3);
                for (char16_t u : units) {
                    reply.push_back(static_cast<uint8_t>(u));
                    reply.push_back(static_cast<uint8_t>(u >> 8));
                }
            } else {
                return kStall;
            }
            // A longer IN stage gets what the device has.
            const size_t n = std::min<size_t>(reply.size(), length);
            std::memcpy(data, reply.data(), n);
            *returned = static_cast<uint32_t>(n);
            return 0;
        }
        case 19:  // get status: device (self-powered), interface, endpoint
        case 20:
        case 21: {
            if (out)
                return kStall;
            const uint8_t status[2] = {static_cast<uint8_t>(function == 19 ? 1 : 0), 0};
            const size_t n = std::min<size_t>(2, length);
            std::memcpy(data, status, n);
            *returned = static_cast<uint32_t>(n);
            return 0;
        }
        case 38:  // get configuration
        case 39:  // get interface
            if (out)
                return kStall;
            if (length > 0) {
                data[0] = function == 38 ? 1 : 0;
                *returned = 1;
            }
            return 0;
        case 18:  // clear feature, endpoint: the halt
            if (value == 0)
                return m_Camera->ClearStall(Pipe(static_cast<uint8_t>(index)));
            return 0;
        case 16:
        case 17:
        case 13:
        case 14:
        case 15:
            return 0;
        default:  // class requests and anything else
            return kStall;
        }
    }

    uint32_t Isochronous(PlatDeviceRequest& r, uint32_t* returned)
    {
        const std::vector<uint8_t>& in = r.Input();
        if (in.size() < 16)
            return kInvalidParameter;
        if (in[0] != kIsochronousEndpoint)
            return kNotResponding;
        const uint64_t bufferLength = std::min<uint64_t>(Le32(in, 4), r.OutputSize());
        const uint64_t packets = Le32(in, 8);
        const uint64_t packetSize = Le32(in, 12);
        uint8_t* buffer = r.Output();
        if (bufferLength < 4)
            return kBufferOverrun;
        uint32_t recordSize = 0;
        std::memcpy(&recordSize, buffer, 4);
        if (recordSize < kRecordSize)
            return kInvalidParameter;
        const uint64_t needed = packets * (uint64_t(recordSize) + packetSize);
        if (needed > bufferLength)
            return kBufferOverrun;
        const uint64_t data = uint64_t(r.OutputAddress()) + packets * recordSize;
        for (uint64_t i = 0; i < packets; ++i) {
            uint32_t address = 0;
            std::memcpy(&address, buffer + i * recordSize + 12, 4);
            if (address != static_cast<uint32_t>(data + i * packetSize))
                return kInvalidParameter;
        }
        for (uint64_t i = 0; i < packets; ++i) {
            uint8_t* record = buffer + i * recordSize;
            Put32(record + 4, 0);
            Put32(record + 8, static_cast<uint32_t>(packetSize));
        }
        uint8_t* area = buffer + packets * recordSize;
        for (uint64_t k = 0; k < packets * packetSize; ++k)
            area[k] = static_cast<uint8_t>(k);
        *returned = static_cast<uint32_t>(needed);
        return 0;
    }

    std::string m_Id;
    std::unique_ptr<simcam::CameraUsb> m_Camera;
};

class UsbEndpoint : public PlatDeviceEndpoint {
public:
    explicit UsbEndpoint(std::shared_ptr<UsbDevice> device)
        : m_Device(std::move(device)), m_Closed(std::make_shared<std::atomic<bool>>(false))
    {
    }

    bool Present() override
    {
        simcam::CameraSummary summary;
        return simcam::GetCamera(m_Device->Id(), &summary) && summary.plug == simcam::Plug::Usb;
    }

    void Closed() override { *m_Closed = true; }

    void Submit(std::shared_ptr<PlatDeviceRequest> request) override
    {
        const uint32_t code = request->Code();
        const bool transfer = code == kBulk || code == kControl || code == kIsochronous;
        if (!transfer || m_Device->Delay() == 0) {
            m_Device->Serve(*request);
            return;
        }
        std::lock_guard<std::mutex> guard(m_Lock);
        if (!m_Worker)
            m_Worker = std::make_unique<Worker>();
        // The job keeps what it needs; a request of a closed handle was aborted and is skipped.
        m_Worker->Post([device = m_Device, closed = m_Closed, request] {
            if (!*closed)
                device->Serve(*request);
        });
    }

    ~UsbEndpoint() override { *m_Closed = true; }

private:
    std::shared_ptr<UsbDevice> m_Device;
    std::shared_ptr<std::atomic<bool>> m_Closed;
    std::mutex m_Lock;
    std::unique_ptr<Worker> m_Worker;
};

class UsbProvider : public PlatDeviceProvider {
public:
    std::vector<PlatDeviceInterface> Interfaces() override
    {
        std::vector<PlatDeviceInterface> out;
        const PlatGuid guid = InterfaceClass();
        for (const std::string& id : UsbCameras())
            out.push_back({guid, DevicePath(id)});
        return out;
    }

    std::shared_ptr<PlatDeviceEndpoint> Open(const std::string& path) override
    {
        const std::string id = CameraOf(path);
        if (id.empty())
            return nullptr;
        std::unique_ptr<simcam::CameraUsb> camera = simcam::OpenCameraUsb(id);
        if (!camera)
            return nullptr;
        return std::make_shared<UsbEndpoint>(std::make_shared<UsbDevice>(id, std::move(camera)));
    }

private:
    // The camera on USB that the path names: its device path (any case but the id's) or \\.\KUSB<n>.
    static std::string CameraOf(const std::string& path)
    {
        const std::vector<std::string> ids = UsbCameras();
        const std::string lower = Lower(path);
        // \\.\KUSB<n>, or on Windows NT 4 the name of the value in the notification key: \\.\{class}#KUSB<n>.
        std::string link = "\\\\.\\kusb";
        const std::string nt4 = "\\\\.\\" + Lower(Identity().interfaceClass) + "#kusb";
        if (lower.compare(0, nt4.size(), nt4) == 0)
            link = nt4;
        if (lower.compare(0, link.size(), link) == 0) {
            const std::string digits = path.substr(link.size());
            if (digits.empty() || digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos)
                return {};
            if (digits.size() > 1 && digits[0] == '0')
                return {};
            const size_t n = std::stoul(digits);
            return n < ids.size() ? ids[n] : std::string();
        }
        for (const std::string& id : ids) {
            const std::string want = DevicePath(id);
            if (lower.size() == want.size() && lower == Lower(want) && path.find("#" + id + "#") != std::string::npos)
                return id;
        }
        return {};
    }
};

}  // namespace

extern "C" __attribute__((visibility("default"))) void PlatDeviceProviderEntry()
{
    PlatRegisterDeviceProvider(std::make_shared<UsbProvider>());
    simcam::SyncUsbNotificationValues();
}
