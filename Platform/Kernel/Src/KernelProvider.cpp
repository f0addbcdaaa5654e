// The kernel stand-in as a provider of the device services: the machine's 1394 bus and driver, the kernel's
// enabled interfaces, opens and closes as create, cleanup and close requests, and device-control requests.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>

#include "KernelPrivate.h"
#include "PlatformDeviceProvider.h"
#include "PlatformDevices.h"
#include "PlatformMachine.h"
#include "PlatformOS.h"

namespace {

// ---- The machine's setting --------------------------------------------------------------------------------------

std::string SettingPath()
{
    return PlatGetMachineFolder() + "/driver1394";
}

std::string Trim(std::string s)
{
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ' || s.back() == '\t'))
        s.pop_back();
    size_t first = s.find_first_not_of(" \t");
    return first == std::string::npos ? std::string() : s.substr(first);
}

std::string Narrow(const std::u16string& s)
{
    std::string out;
    for (char16_t c : s)
        out += c < 0x80 ? char(c) : '?';
    return out;
}

std::u16string Widen(const std::string& s)
{
    return std::u16string(s.begin(), s.end());
}

std::string BaseName(const std::string& path)
{
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// ---- The bus and the driver of this process ---------------------------------------------------------------------

struct Machine1394 {
    std::mutex lock;
    bool tried = false;
    bool running = false;
    std::string error;
    PDRIVER_OBJECT driver = nullptr;
    std::string driverFile;
    void (*setFunction)(PDRIVER_OBJECT) = nullptr;
    void (*stop)() = nullptr;
};

Machine1394& Machine()
{
    static auto* machine = new Machine1394;
    return *machine;
}

// The process ends: the bus stops (each device leaves as if unplugged) before the libraries go away.
void StopAtExit()
{
    Machine1394& m = Machine();
    std::lock_guard<std::mutex> guard(m.lock);
    if (!m.running)
        return;
    if (m.setFunction)
        m.setFunction(nullptr);
    if (m.stop)
        m.stop();
    m.running = false;
}

// ---- Requests ---------------------------------------------------------------------------------------------------

uint32_t ErrorOf(NTSTATUS status)
{
    if (NT_SUCCESS(status))
        return PLAT_ERROR_SUCCESS;
    switch (static_cast<uint32_t>(status)) {
    case 0xC000000Du:
        return PLAT_ERROR_INVALID_PARAMETER;
    case 0xC0000002u:
        return PLAT_ERROR_INVALID_FUNCTION;
    case 0xC0000056u:
        return 5;  // access denied
    case 0xC0000120u:
        return PLAT_ERROR_OPERATION_ABORTED;
    case 0xC000009Au:
        return 8;  // not enough memory
    case 0x80000011u:
        return PLAT_ERROR_BUSY;
    default:
        return 31;  // a device attached to the system is not functioning
    }
}

NTSTATUS SendFileRequest(PDEVICE_OBJECT device, UCHAR major, PFILE_OBJECT file)
{
    IO_STACK_LOCATION location{};
    location.MajorFunction = major;
    location.FileObject = file;
    if (major == IRP_MJ_CREATE)
        location.Parameters.Create.ShareAccess = 3;
    KernHostRequest request(device, location);
    request.Send();
    request.Wait();
    return request.Status().Status;
}

// The camera whose node lies at the bottom of the stack `top` heads, or empty.
std::string CameraBelow(PDEVICE_OBJECT top)
{
    std::string id;
    for (auto& [device, ids] : KernPnpReferenceOfferedDevices()) {
        if (id.empty() && ids.bus == u"1394" && IoGetAttachedDevice(device) == top)
            id = Narrow(ids.device);
        ObDereferenceObject(device);
    }
    return id;
}

// A camera's lock across processes: taken by this process's first running request to it, given back by its last.
class CameraLock {
public:
    explicit CameraLock(std::string id) : m_Id(std::move(id)) {}
    void Acquire()
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        if (m_Count++ > 0)
            return;
        std::string folder = PlatGetMachineSubfolder("kernel");
        if (folder.empty())
            return;
        m_Fd = open((folder + "/1394-" + m_Id + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (m_Fd >= 0)
            while (flock(m_Fd, LOCK_EX) != 0 && errno == EINTR) {
            }
    }
    void Release()
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        if (m_Count == 0 || --m_Count > 0)
            return;
        if (m_Fd >= 0) {
            flock(m_Fd, LOCK_UN);
            close(m_Fd);
        }
        m_Fd = -1;
    }

private:
    std::string m_Id;
    std::mutex m_Lock;
    unsigned m_Count = 0;
    int m_Fd = -1;
};

std::shared_ptr<CameraLock> LockOf(const std::string& id)
{
    static std::mutex lock;
    static auto* locks = new std::map<std::string, std::shared_ptr<CameraLock>>;
    std::lock_guard<std::mutex> guard(lock);
    auto& entry = (*locks)[id];
    if (!entry)
        entry = std::make_shared<CameraLock>(id);
    return entry;
}

// One device-control request on its way through the stack.
struct Flight {
    std::shared_ptr<PlatDeviceRequest> request;
    std::shared_ptr<CameraLock> camera;
    PVOID systemBuffer = nullptr;
    bool buffered = false;
};

NTSTATUS FlightLanded(PDEVICE_OBJECT, PIRP irp, PVOID context)
{
    std::unique_ptr<Flight> flight(static_cast<Flight*>(context));
    const NTSTATUS status = irp->IoStatus.Status;
    const ULONG_PTR information = irp->IoStatus.Information;
    PlatDeviceRequest& request = *flight->request;
    if (information > request.OutputSize())
        KernBugCheck("a device-control request completed more bytes than its output buffer holds");
    const uint32_t error = ErrorOf(status);
    const uint32_t returned = NT_ERROR(status) ? 0 : static_cast<uint32_t>(information);
    if (flight->buffered && returned > 0)
        std::memcpy(request.Output(), flight->systemBuffer, returned);
    std::free(flight->systemBuffer);
    while (PMDL mdl = irp->MdlAddress) {
        irp->MdlAddress = mdl->Next;
        if (mdl->MdlFlags & MDL_PAGES_LOCKED)
            MmUnlockPages(mdl);
        IoFreeMdl(mdl);
    }
    IoFreeIrp(irp);
    if (flight->camera)
        flight->camera->Release();
    request.Complete(error, returned);
    return STATUS_MORE_PROCESSING_REQUIRED;
}

class KernelEndpoint : public PlatDeviceEndpoint {
public:
    // `top` comes referenced and opened.
    KernelEndpoint(PDEVICE_OBJECT top, std::unique_ptr<FILE_OBJECT> file)
        : m_Top(top), m_File(std::move(file))
    {
        std::string camera = CameraBelow(top);
        if (!camera.empty())
            m_Camera = LockOf(camera);
    }
    ~KernelEndpoint() override { ObDereferenceObject(m_Top); }

    bool Present() override { return !KernDeviceIsDeleted(m_Top); }

    void Submit(std::shared_ptr<PlatDeviceRequest> request) override
    {
        auto flight = std::make_unique<Flight>();
        flight->request = request;
        const uint32_t code = request->Code();
        const auto in = static_cast<ULONG>(request->Input().size());
        const ULONG out = request->OutputSize();
        PIRP irp = IoAllocateIrp(m_Top->StackSize, FALSE);
        if (!irp) {
            request->Complete(8, 0);
            return;
        }
        irp->Tail.Overlay.OriginalFileObject = m_File.get();
        PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
        next->MajorFunction = IRP_MJ_DEVICE_CONTROL;
        next->FileObject = m_File.get();
        next->Parameters.DeviceIoControl.IoControlCode = code;
        next->Parameters.DeviceIoControl.InputBufferLength = in;
        next->Parameters.DeviceIoControl.OutputBufferLength = out;
        bool ok = true;
        switch (code & 3) {
        case METHOD_BUFFERED: {
            // One system buffer of the larger length, holding the input.
            const size_t length = std::max<size_t>(in, out);
            flight->buffered = true;
            if (length) {
                flight->systemBuffer = std::calloc(1, length);
                ok = flight->systemBuffer != nullptr;
                if (ok && in)
                    std::memcpy(flight->systemBuffer, request->Input().data(), in);
            }
            irp->AssociatedIrp.SystemBuffer = flight->systemBuffer;
            break;
        }
        case METHOD_IN_DIRECT:
        case METHOD_OUT_DIRECT:
            if (in) {
                flight->systemBuffer = std::malloc(in);
                ok = flight->systemBuffer != nullptr;
                if (ok)
                    std::memcpy(flight->systemBuffer, request->Input().data(), in);
                irp->AssociatedIrp.SystemBuffer = flight->systemBuffer;
            }
            if (ok && out) {
                PMDL mdl = IoAllocateMdl(request->Output(), out, FALSE, FALSE, irp);
                ok = mdl != nullptr;
                if (ok)
                    MmProbeAndLockPages(mdl, UserMode, IoModifyAccess);
            }
            break;
        default:
            next->Parameters.DeviceIoControl.Type3InputBuffer =
                in ? const_cast<uint8_t*>(request->Input().data()) : nullptr;
            irp->UserBuffer = out ? request->Output() : nullptr;
            break;
        }
        if (!ok) {
            std::free(flight->systemBuffer);
            while (PMDL mdl = irp->MdlAddress) {
                irp->MdlAddress = mdl->Next;
                if (mdl->MdlFlags & MDL_PAGES_LOCKED)
                    MmUnlockPages(mdl);
                IoFreeMdl(mdl);
            }
            IoFreeIrp(irp);
            request->Complete(8, 0);
            return;
        }
        if (m_Camera) {
            m_Camera->Acquire();
            flight->camera = m_Camera;
        }
        IoSetCompletionRoutine(irp, FlightLanded, flight.release(), TRUE, TRUE, TRUE);
        IoCallDriver(m_Top, irp);
    }

    void Closed() override
    {
        if (KernDeviceIsDeleted(m_Top))
            return;
        SendFileRequest(m_Top, IRP_MJ_CLEANUP, m_File.get());
        if (!KernDeviceIsDeleted(m_Top))
            SendFileRequest(m_Top, IRP_MJ_CLOSE, m_File.get());
    }

private:
    PDEVICE_OBJECT m_Top;
    std::unique_ptr<FILE_OBJECT> m_File;
    std::shared_ptr<CameraLock> m_Camera;
};

class KernelProvider : public PlatDeviceProvider {
public:
    std::vector<PlatDeviceInterface> Interfaces() override
    {
        KernStart1394(nullptr);
        std::vector<PlatDeviceInterface> out;
        for (const KernDeviceInterface& i : KernGetDeviceInterfaces()) {
            if (!i.enabled)
                continue;
            PlatDeviceInterface p{};
            static_assert(sizeof(PlatGuid) == sizeof(GUID));
            std::memcpy(&p.classGuid, &i.classGuid, sizeof(GUID));
            p.path = Narrow(i.link);
            out.push_back(std::move(p));
        }
        return out;
    }

    std::shared_ptr<PlatDeviceEndpoint> Open(const std::string& path) override
    {
        uint32_t error = 0;
        return OpenOrRefuse(path, &error);
    }

    std::shared_ptr<PlatDeviceEndpoint> OpenOrRefuse(const std::string& path, uint32_t* error) override
    {
        *error = 0;
        KernStart1394(nullptr);
        PDEVICE_OBJECT device = nullptr;
        if (path.rfind("\\\\.\\", 0) == 0) {
            std::u16string target = KernResolveSymbolicLink(u"\\DosDevices\\" + Widen(path.substr(4)));
            if (!target.empty())
                device = KernReferenceDeviceByName(target);
        } else if (path.rfind("\\\\?\\", 0) == 0) {
            device = KernPnpReferenceInterfaceDevice(Widen(path));
        }
        if (!device)
            return nullptr;
        PDEVICE_OBJECT top = IoGetAttachedDeviceReference(device);
        ObDereferenceObject(device);
        auto file = std::make_unique<FILE_OBJECT>();
        file->Type = IO_TYPE_FILE;
        file->Size = sizeof(FILE_OBJECT);
        file->DeviceObject = top;
        const NTSTATUS status = SendFileRequest(top, IRP_MJ_CREATE, file.get());
        if (!NT_SUCCESS(status)) {
            ObDereferenceObject(top);
            *error = ErrorOf(status);
            return nullptr;
        }
        return std::make_shared<KernelEndpoint>(top, std::move(file));
    }
};

}  // namespace

// ---- The setting and the machine's driver ---------------------------------------------------------------------------

std::string KernGet1394DriverSetting()
{
    std::ifstream in(SettingPath());
    std::string text;
    if (in)
        std::getline(in, text);
    text = Trim(text);
    return text.empty() ? "default" : text;
}

bool KernSet1394DriverSetting(const std::string& setting, std::string* error)
{
    const std::string value = Trim(setting);
    if (value.find('\n') != std::string::npos) {
        if (error)
            *error = "a driver file name is one line";
        return false;
    }
    if (PlatGetMachineSubfolder("kernel").empty()) {
        if (error)
            *error = "the machine folder cannot be made";
        return false;
    }
    const std::string path = SettingPath();
    if (value.empty() || value == "default") {
        if (std::remove(path.c_str()) != 0 && errno != ENOENT) {
            if (error)
                *error = "cannot remove " + path + ": " + std::strerror(errno);
            return false;
        }
        return true;
    }
    const std::string temporary = path + ".part";
    {
        std::ofstream out(temporary, std::ios::trunc);
        out << value << "\n";
        out.flush();
        if (!out) {
            if (error)
                *error = "cannot write " + temporary;
            std::remove(temporary.c_str());
            return false;
        }
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        if (error)
            *error = "cannot write " + path + ": " + std::strerror(errno);
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}

std::string KernMachine1394DriverFile()
{
    const std::string setting = KernGet1394DriverSetting();
    if (setting != "default")
        return setting;
    if (!PlatGetWdmVersion(nullptr, nullptr))
        return std::string();
    PlatOsVersion version{};
    PlatGetVersion(&version);
    return version.platformId == PLAT_OS_PLATFORM_WINDOWS ? "libK139498.so" : "libK13942k.so";
}

bool KernStart1394(std::string* error)
{
    Machine1394& m = Machine();
    std::lock_guard<std::mutex> guard(m.lock);
    if (m.tried) {
        if (error)
            *error = m.error;
        return m.running;
    }
    m.tried = true;
    PlatModule hardware = PlatLoadLibrary("PlatformHardware.dll");
    auto start = hardware ? reinterpret_cast<bool (*)(char*, size_t)>(PlatGetProcAddress(hardware, "SimBus1394Start"))
                          : nullptr;
    m.setFunction = hardware ? reinterpret_cast<void (*)(PDRIVER_OBJECT)>(
                                   PlatGetProcAddress(hardware, "SimBus1394SetFunctionDriver"))
                             : nullptr;
    m.stop = hardware ? reinterpret_cast<void (*)()>(PlatGetProcAddress(hardware, "SimBus1394Stop")) : nullptr;
    char why[256] = {};
    if (!start || !m.setFunction || !m.stop) {
        m.error = "the simulated 1394 bus is not there";
    } else if (!start(why, sizeof why)) {
        m.error = why;
    } else {
        m.running = true;
        std::atexit(StopAtExit);
        const std::string file = KernMachine1394DriverFile();
        if (!file.empty()) {
            std::string loadError;
            NTSTATUS entry = STATUS_SUCCESS;
            if (KernLoadDriver(file, "", &m.driver, &entry, &loadError)) {
                m.driverFile = BaseName(file);
                m.setFunction(m.driver);
            } else {
                DbgPrint("kernel: the 1394 driver %s did not load: %s\n", file.c_str(), loadError.c_str());
            }
        }
    }
    if (error)
        *error = m.error;
    return m.running;
}

std::vector<Kern1394Device> KernGet1394Devices()
{
    std::vector<Kern1394Device> out;
    PDRIVER_OBJECT driver;
    std::string file;
    {
        Machine1394& m = Machine();
        std::lock_guard<std::mutex> guard(m.lock);
        driver = m.driver;
        file = m.driverFile;
    }
    if (!driver)
        return out;
    for (auto& [device, ids] : KernPnpReferenceOfferedDevices()) {
        if (ids.bus == u"1394") {
            PDEVICE_OBJECT top = IoGetAttachedDeviceReference(device);
            if (top != device && top->DriverObject == driver) {
                std::u16string name = KernDeviceName(top);
                if (!name.empty())
                    out.push_back({name, Narrow(ids.device), file});
            }
            ObDereferenceObject(top);
        }
        ObDereferenceObject(device);
    }
    std::sort(out.begin(), out.end(), [](const Kern1394Device& a, const Kern1394Device& b) {
        return a.name.size() != b.name.size() ? a.name.size() < b.name.size() : a.name < b.name;
    });
    return out;
}

// The device services' entry: registers the kernel as a provider.
extern "C" __attribute__((visibility("default"))) void PlatDeviceProviderEntry()
{
    PlatRegisterDeviceProvider(std::make_shared<KernelProvider>());
}
