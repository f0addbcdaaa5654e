// Loads a driver into the kernel stand-in, unloads it and reports what it left behind.
//
//   kdrv load FILE [--name SERVICE] [--trace] [--pnp "STEPS"]
//
// Prints "DriverEntry 0x%08X", then after the unload "pool: N blocks, M bytes outstanding" (and a line per
// tag still holding any) and "breaks: N". Exit 0 only when the entry succeeded and all three figures are 0.
// A FILE named without a folder is looked for beside kdrv, then in the current folder.
//
// --pnp runs STEPS against one device of the test bus under the loaded driver, one line "STEP -> 0x%08X" each
// (a step still running after 2 s shows 0x00000103), then waits up to 10 s for the driver to have no device:
//   add  start  query-stop  cancel-stop  stop  query-remove  cancel-remove  remove  surprise
//   open  close  ioctl (adds "calls=N", the driver's count)  hold (a device-control request kept pending; adds
//   "calls=N" too)
//   release (cancels the held request)  sleep MS  sys S0..S5 (system set-power)  query D1..D4 (device query)
#include <unistd.h>

#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "PlatformKernelHost.h"
#include "TestBus.h"

namespace {

int Usage()
{
    std::fprintf(stderr, "usage: kdrv load FILE [--name SERVICE] [--trace] [--pnp \"STEPS\"]\n");
    return 2;
}

bool Exists(const std::string& path)
{
    return access(path.c_str(), F_OK) == 0;
}

std::string Resolve(const std::string& file)
{
    if (file.find('/') != std::string::npos)
        return file;
    char self[PATH_MAX] = {};
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n > 0) {
        std::string dir(self, static_cast<size_t>(n));
        dir = dir.substr(0, dir.rfind('/') + 1);
        if (Exists(dir + file))
            return dir + file;
    }
    if (Exists(file))
        return "./" + file;
    return file;
}

void Report(const KernPoolReport& pool)
{
    std::printf("pool: %llu blocks, %llu bytes outstanding\n", static_cast<unsigned long long>(pool.blocks),
                static_cast<unsigned long long>(pool.bytes));
    for (const KernPoolTagFigures& f : pool.tags)
        std::printf("  tag %s: %llu blocks, %llu bytes\n", KernTagText(f.tag).c_str(),
                    static_cast<unsigned long long>(f.blocks), static_cast<unsigned long long>(f.bytes));
    std::printf("breaks: %u\n", KernGetBreakCount());
}

// ---- --pnp ----------------------------------------------------------------------------------------------------

constexpr ULONG kIoctlCount = CTL_CODE(FILE_DEVICE_UNKNOWN, 0x800, METHOD_BUFFERED, FILE_ANY_ACCESS);
constexpr ULONG kIoctlHold = CTL_CODE(FILE_DEVICE_UNKNOWN, 0x801, METHOD_BUFFERED, FILE_ANY_ACCESS);

// A plug-and-play or power step on a thread of its own, so that a step that waits does not stop the script.
struct Running {
    std::mutex lock;
    std::condition_variable changed;
    bool done = false;
    NTSTATUS status = STATUS_PENDING;
};

class Script {
public:
    Script(PDRIVER_OBJECT driver, PDEVICE_OBJECT pdo) : m_Driver(driver), m_Pdo(pdo)
    {
        m_Calls = reinterpret_cast<ULONG (*)()>(KernGetDriverSymbol(driver, "ToolkitTestDriverCalls"));
        m_File.Type = IO_TYPE_FILE;
        m_File.Size = sizeof m_File;
    }

    // Runs the steps; false for a step it does not know.
    bool Run(const std::vector<std::string>& words)
    {
        for (size_t i = 0; i < words.size(); ++i) {
            std::string step = words[i];
            if ((step == "sleep" || step == "sys" || step == "query") && i + 1 < words.size())
                step += " " + words[++i];
            if (!priStep(step))
                return false;
        }
        return true;
    }

    // Waits until the driver has no device left (at most `seconds`), then for steps still running.
    bool WaitForNoDevices(int seconds)
    {
        auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        while (KernDriverHasDevices(m_Driver) && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (KernDriverHasDevices(m_Driver))
            return false;
        for (auto& r : m_Running) {
            std::unique_lock<std::mutex> lock(r->lock);
            if (!r->changed.wait_until(lock, until, [&] { return r->done; }))
                return false;
        }
        m_Held.reset();
        return true;
    }

private:
    void priLine(const std::string& step, NTSTATUS status, const std::string& more = "")
    {
        std::printf("%s -> 0x%08X%s\n", step.c_str(), static_cast<ULONG>(status), more.c_str());
        std::fflush(stdout);
    }

    template <class Work>
    NTSTATUS priInThread(Work work)
    {
        auto r = std::make_shared<Running>();
        m_Running.push_back(r);
        std::thread([r, work] {
            NTSTATUS status = work();
            std::lock_guard<std::mutex> guard(r->lock);
            r->status = status;
            r->done = true;
            r->changed.notify_all();
        }).detach();
        std::unique_lock<std::mutex> lock(r->lock);
        r->changed.wait_for(lock, std::chrono::seconds(2), [&] { return r->done; });
        return r->status;
    }

    bool priAttached() const { return IoGetAttachedDevice(m_Pdo) != m_Pdo; }

    std::unique_ptr<KernHostRequest> priRequest(UCHAR major, ULONG code, ULONG outLength)
    {
        IO_STACK_LOCATION location{};
        location.MajorFunction = major;
        location.FileObject = &m_File;
        if (major == IRP_MJ_CREATE) {
            location.Parameters.Create.ShareAccess = 3;
        } else if (major == IRP_MJ_DEVICE_CONTROL) {
            location.Parameters.DeviceIoControl.IoControlCode = code;
            location.Parameters.DeviceIoControl.OutputBufferLength = outLength;
        }
        return std::make_unique<KernHostRequest>(m_Pdo, location, std::vector<uint8_t>(outLength ? outLength : 0));
    }

    bool priStep(const std::string& step)
    {
        static const struct {
            const char* name;
            UCHAR minor;
        } kPnp[] = {{"start", IRP_MN_START_DEVICE},
                    {"query-stop", IRP_MN_QUERY_STOP_DEVICE},
                    {"cancel-stop", IRP_MN_CANCEL_STOP_DEVICE},
                    {"stop", IRP_MN_STOP_DEVICE},
                    {"query-remove", IRP_MN_QUERY_REMOVE_DEVICE},
                    {"cancel-remove", IRP_MN_CANCEL_REMOVE_DEVICE},
                    {"remove", IRP_MN_REMOVE_DEVICE},
                    {"surprise", IRP_MN_SURPRISE_REMOVAL}};
        if (step == "add") {
            priLine(step, KernPnpAddDevice(m_Pdo, testbus::TestDeviceIds(m_Pdo), m_Driver));
            return true;
        }
        for (const auto& p : kPnp) {
            if (step != p.name)
                continue;
            PDEVICE_OBJECT pdo = m_Pdo;
            UCHAR minor = p.minor;
            priLine(step, priInThread([pdo, minor] {
                        NTSTATUS status = KernPnpRequest(pdo, minor);
                        if (minor == IRP_MN_START_DEVICE && NT_SUCCESS(status))
                            KernPnpRequest(pdo, IRP_MN_QUERY_CAPABILITIES);
                        return status;
                    }));
            return true;
        }
        if (step == "open" || step == "close" || step == "ioctl" || step == "hold") {
            std::string more;
            if (!priAttached()) {
                if (step == "ioctl")
                    more = " calls=" + std::to_string(priCalls());
                priLine(step, STATUS_NO_SUCH_DEVICE, more);
                return true;
            }
            UCHAR major = step == "open" ? IRP_MJ_CREATE : step == "close" ? IRP_MJ_CLOSE : IRP_MJ_DEVICE_CONTROL;
            auto request = priRequest(major, step == "hold" ? kIoctlHold : kIoctlCount, step == "ioctl" ? 4 : 0);
            NTSTATUS status = request->Send();
            if (step == "hold") {
                more = " calls=" + std::to_string(priCalls());
                if (!request->Wait(50)) {
                    m_Held = std::move(request);
                    priLine(step, STATUS_PENDING, more);
                    return true;
                }
                priLine(step, request->Status().Status, more);
                return true;
            }
            request->Wait();
            status = request->Status().Status;
            if (step == "ioctl")
                more = " calls=" + std::to_string(priCalls());
            priLine(step, status, more);
            return true;
        }
        if (step == "release") {
            if (!m_Held) {
                priLine(step, STATUS_INVALID_DEVICE_REQUEST);
                return true;
            }
            m_Held->Cancel();
            m_Held->Wait(2000);
            priLine(step, m_Held->Done() ? m_Held->Status().Status : STATUS_PENDING);
            if (m_Held->Done())
                m_Held.reset();
            return true;
        }
        if (step.rfind("sleep ", 0) == 0) {
            char* end = nullptr;
            unsigned long ms = std::strtoul(step.c_str() + 6, &end, 10);
            if (!end || *end || ms > 600000)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(ms));
            priLine(step, STATUS_SUCCESS);
            return true;
        }
        if (step.size() == 6 && step.rfind("sys S", 0) == 0 && step[5] >= '0' && step[5] <= '5') {
            auto state = static_cast<SYSTEM_POWER_STATE>(step[5] - '0' + 1);
            PDEVICE_OBJECT pdo = m_Pdo;
            priLine(step, priInThread([pdo, state] { return KernPoSystemRequest(pdo, IRP_MN_SET_POWER, state); }));
            return true;
        }
        if (step.size() == 8 && step.rfind("query D", 0) == 0 && step[7] >= '1' && step[7] <= '4') {
            auto state = static_cast<DEVICE_POWER_STATE>(step[7] - '0');
            PDEVICE_OBJECT pdo = m_Pdo;
            priLine(step, priInThread([pdo, state] { return KernPoDeviceRequest(pdo, IRP_MN_QUERY_POWER, state); }));
            return true;
        }
        std::fprintf(stderr, "kdrv: unknown step \"%s\"\n", step.c_str());
        return false;
    }

    ULONG priCalls() const { return m_Calls ? m_Calls() : 0; }

    PDRIVER_OBJECT m_Driver;
    PDEVICE_OBJECT m_Pdo;
    ULONG (*m_Calls)() = nullptr;
    FILE_OBJECT m_File{};
    std::unique_ptr<KernHostRequest> m_Held;
    std::vector<std::shared_ptr<Running>> m_Running;
};

std::vector<std::string> Words(const std::string& text)
{
    std::vector<std::string> words;
    std::istringstream in(text);
    std::string w;
    while (in >> w)
        words.push_back(w);
    return words;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3 || std::strcmp(argv[1], "load") != 0)
        return Usage();
    std::string file = argv[2];
    std::string service;
    bool trace = false;
    bool pnp = false;
    std::vector<std::string> steps;
    for (int i = 3; i < argc; ++i) {
        if (std::strcmp(argv[i], "--name") == 0 && i + 1 < argc)
            service = argv[++i];
        else if (std::strcmp(argv[i], "--pnp") == 0 && i + 1 < argc) {
            pnp = true;
            steps = Words(argv[++i]);
        }
        else if (std::strcmp(argv[i], "--trace") == 0)
            trace = true;
        else
            return Usage();
    }
    if (trace)
        KernSetDbgPrintEcho(stdout);

    PDRIVER_OBJECT driver = nullptr;
    NTSTATUS entry = STATUS_DRIVER_UNABLE_TO_LOAD;
    std::string error;
    bool loaded = KernLoadDriver(Resolve(file), service, &driver, &entry, &error);
    if (!loaded && entry == STATUS_DRIVER_UNABLE_TO_LOAD) {
        std::fprintf(stderr, "kdrv: cannot load %s: %s\n", file.c_str(), error.c_str());
        return 1;
    }
    std::printf("DriverEntry 0x%08X\n", static_cast<ULONG>(entry));
    std::fflush(stdout);
    KernPoolReport pool;
    PDEVICE_OBJECT pdo = nullptr;
    if (loaded && pnp) {
        pdo = testbus::AddTestDevice("0");
        if (!pdo) {
            std::fprintf(stderr, "kdrv: the test bus did not start\n");
            return 1;
        }
        Script script(driver, pdo);
        if (!script.Run(steps))
            return 2;
        if (!script.WaitForNoDevices(10)) {
            std::fprintf(stderr, "kdrv: the driver still has devices after 10 s\n");
            std::fflush(stdout);
            std::_Exit(1);
        }
    }
    if (loaded) {
        if (!KernUnloadDriver(driver, &pool)) {
            std::fprintf(stderr, "kdrv: the driver still has devices; it cannot be unloaded\n");
            return 1;
        }
    } else {
        pool = KernGetPoolReport();
    }
    if (pdo) {
        testbus::DeleteTestDevice(pdo);
        testbus::StopTestBus();
    }
    Report(pool);
    KernSetDbgPrintEcho(nullptr);
    return (loaded && pool.blocks == 0 && pool.bytes == 0 && KernGetBreakCount() == 0) ? 0 : 1;
}
