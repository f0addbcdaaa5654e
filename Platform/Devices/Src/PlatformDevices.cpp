// Device enumeration, device handles and device-control requests over the providers.
#include "PlatformDevices.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <new>

#include "PlatformDeviceProvider.h"
#include "PlatformObjects.h"
#include "PlatformOS.h"

namespace {

using plat::Object;

// ---- Providers ---------------------------------------------------------------------------------------------

struct ProviderTable {
    std::mutex lock;
    std::vector<std::shared_ptr<PlatDeviceProvider>> providers;
};

// Never destroyed: requests may still complete on providers' threads while the process exits.
ProviderTable& Providers()
{
    static ProviderTable* table = new ProviderTable;
    return *table;
}

void LoadProviderLibraries()
{
    static std::once_flag once;
    std::call_once(once, [] {
        const uint32_t saved = PlatGetLastError();
        for (const std::string& name : PlatDeviceProviderLibraries())
            PlatLoadDeviceProvider(name.c_str());
        PlatSetLastError(saved);
    });
}

// The providers in the order they were added (a copy: providers are called without the table's lock).
std::vector<std::shared_ptr<PlatDeviceProvider>> CurrentProviders()
{
    LoadProviderLibraries();
    ProviderTable& t = Providers();
    std::lock_guard<std::mutex> guard(t.lock);
    return t.providers;
}

// ---- Request log -------------------------------------------------------------------------------------------

void LogRequest(const std::string& path, uint32_t code, uint32_t inputSize, uint32_t outputSize, uint32_t result,
                uint32_t returned)
{
    const char* file = PlatGetEnv("LUMO_DEVICE_LOG");
    if (!file || !*file)
        return;
    std::string safePath = path;
    for (char& c : safePath)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = '?';
    std::string line = std::to_string(getpid()) + " " + safePath;
    char tail[160];
    snprintf(tail, sizeof(tail), " code=0x%08X in=%u out=%u result=%u returned=%u\n", code, inputSize, outputSize,
             result, returned);
    line += tail;
    int fd = open(file, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    // One write per line under an exclusive lock: other processes appending to the file never split it.
    flock(fd, LOCK_EX);
    const char* p = line.data();
    size_t left = line.size();
    while (left > 0) {
        ssize_t n = write(fd, p, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        p += n;
        left -= static_cast<size_t>(n);
    }
    flock(fd, LOCK_UN);
    close(fd);
}

// ---- Device handles and requests ---------------------------------------------------------------------------

class DeviceHandle;

// A request of the services: delivers its result to the caller's buffer, record and event.
class IoRequest : public PlatDeviceRequest {
public:
    IoRequest(uint32_t code, const void* input, uint32_t inputSize, void* output, uint32_t outputSize,
              PlatOverlapped* overlapped, std::weak_ptr<DeviceHandle> handle, std::string path)
        : PlatDeviceRequest(code, input, inputSize, outputSize, output), m_CallerOutput(output),
          m_Overlapped(overlapped), m_Handle(std::move(handle)), m_Path(std::move(path)), m_InputSize(inputSize)
    {
    }

    // Waits until the request has completed; answers its error and bytes.
    void WaitDone(uint32_t* error, uint32_t* returned)
    {
        std::unique_lock<std::mutex> guard(m_Lock);
        m_Completed.wait(guard, [&] { return m_Done; });
        *error = m_Error;
        *returned = m_Returned;
    }

    // True, with the result, when the request has completed.
    bool DoneNow(uint32_t* error, uint32_t* returned)
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        *error = m_Error;
        *returned = m_Returned;
        return m_Done;
    }

protected:
    void OnComplete(uint32_t error, uint32_t returned) override;

private:
    void* m_CallerOutput;
    PlatOverlapped* m_Overlapped;
    std::weak_ptr<DeviceHandle> m_Handle;
    std::string m_Path;
    uint32_t m_InputSize;
    uint32_t m_Error = 0;
    uint32_t m_Returned = 0;
    std::condition_variable m_Completed;
};

class DeviceHandle : public Object, public std::enable_shared_from_this<DeviceHandle> {
public:
    DeviceHandle(std::string path, std::shared_ptr<PlatDeviceEndpoint> endpoint, bool overlapped)
        : m_Path(std::move(path)), m_Endpoint(std::move(endpoint)), m_OverlappedHandle(overlapped)
    {
    }

    ~DeviceHandle() override
    {
        // Requests still running end now: their callers may free records and buffers once the handle is gone.
        for (auto& weak : m_Running)
            if (auto request = weak.lock())
                request->Complete(PLAT_ERROR_OPERATION_ABORTED, 0);
        m_Endpoint->Closed();
    }

    uint32_t Wait(uint32_t) override { return PLAT_WAIT_OBJECT_0; }

    const std::string& Path() const { return m_Path; }
    bool OverlappedHandle() const { return m_OverlappedHandle; }
    PlatDeviceEndpoint& Endpoint() { return *m_Endpoint; }

    void Track(const std::shared_ptr<IoRequest>& request)
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        m_Running.erase(std::remove_if(m_Running.begin(), m_Running.end(),
                                       [](const std::weak_ptr<IoRequest>& w) { return w.expired(); }),
                        m_Running.end());
        m_Running.push_back(request);
    }

    // A request of this handle completed.
    void Notify()
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        ++m_Completions;
        m_Changed.notify_all();
    }

    // Waits until the record no longer shows a running request.
    void WaitFor(const PlatOverlapped* overlapped)
    {
        std::unique_lock<std::mutex> guard(m_Lock);
        m_Changed.wait(guard, [&] { return PlatHasOverlappedIoCompleted(overlapped); });
    }

private:
    std::string m_Path;
    std::shared_ptr<PlatDeviceEndpoint> m_Endpoint;
    bool m_OverlappedHandle;
    std::mutex m_Lock;
    std::condition_variable m_Changed;
    uint64_t m_Completions = 0;
    std::vector<std::weak_ptr<IoRequest>> m_Running;
};

void IoRequest::OnComplete(uint32_t error, uint32_t returned)
{
    if (m_CallerOutput && returned > 0)
        memcpy(m_CallerOutput, Output(), returned);
    if (m_Overlapped) {
        m_Overlapped->internalHigh = returned;
        __atomic_store_n(&m_Overlapped->internal, static_cast<uintptr_t>(error), __ATOMIC_RELEASE);
        if (m_Overlapped->event)
            PlatSetEvent(m_Overlapped->event);
    }
    LogRequest(m_Path, Code(), m_InputSize, OutputSize(), error, returned);
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        m_Error = error;
        m_Returned = returned;
        m_Done = true;
    }
    m_Completed.notify_all();
    if (auto handle = m_Handle.lock())
        handle->Notify();
}

// A snapshot of interfaces.
class InfoSet : public Object {
public:
    explicit InfoSet(std::vector<PlatDeviceInterface> interfaces) : interfaces(std::move(interfaces)) {}
    uint32_t Wait(uint32_t) override
    {
        PlatSetLastError(PLAT_ERROR_INVALID_HANDLE);
        return PLAT_WAIT_FAILED;
    }
    const std::vector<PlatDeviceInterface> interfaces;
};

bool IsDevicePath(const char* path)
{
    return path && (strncmp(path, "\\\\?\\", 4) == 0 || strncmp(path, "\\\\.\\", 4) == 0) && path[4] != '\0';
}

}  // namespace

// ---- Requests (provider side) ------------------------------------------------------------------------------

PlatDeviceRequest::PlatDeviceRequest(uint32_t code, const void* input, uint32_t inputSize, uint32_t outputSize,
                                     const void* callerOutput)
    : m_Code(code), m_Input(static_cast<const uint8_t*>(input), static_cast<const uint8_t*>(input) + (input ? inputSize : 0)),
      m_Output(outputSize, 0)
{
    if (callerOutput && IsDirect(code)) {
        if (outputSize > 0)
            memcpy(m_Output.data(), callerOutput, outputSize);
        m_OutputAddress = reinterpret_cast<uintptr_t>(callerOutput);
    }
}

PlatDeviceRequest::~PlatDeviceRequest() = default;

bool PlatDeviceRequest::Complete(uint32_t error, uint32_t returned)
{
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        if (m_Claimed)
            return false;
        m_Claimed = true;
    }
    OnComplete(error, std::min(returned, OutputSize()));
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        m_Done = true;
    }
    return true;
}

void PlatRegisterDeviceProvider(std::shared_ptr<PlatDeviceProvider> provider)
{
    if (!provider)
        return;
    ProviderTable& t = Providers();
    std::lock_guard<std::mutex> guard(t.lock);
    t.providers.push_back(std::move(provider));
}

void PlatUnregisterDeviceProvider(const std::shared_ptr<PlatDeviceProvider>& provider)
{
    ProviderTable& t = Providers();
    std::lock_guard<std::mutex> guard(t.lock);
    t.providers.erase(std::remove(t.providers.begin(), t.providers.end(), provider), t.providers.end());
}

// ---- GUIDs -------------------------------------------------------------------------------------------------

bool operator==(const PlatGuid& a, const PlatGuid& b)
{
    return a.data1 == b.data1 && a.data2 == b.data2 && a.data3 == b.data3 &&
           memcmp(a.data4, b.data4, sizeof(a.data4)) == 0;
}

std::string PlatGuidText(const PlatGuid& g)
{
    char text[40];
    snprintf(text, sizeof(text), "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.data1, g.data2, g.data3,
             g.data4[0], g.data4[1], g.data4[2], g.data4[3], g.data4[4], g.data4[5], g.data4[6], g.data4[7]);
    return text;
}

// ---- Enumeration -------------------------------------------------------------------------------------------

PlatHandle PlatGetClassDevs(const PlatGuid* classGuid, uint32_t flags)
{
    const bool all = (flags & PLAT_DIGCF_ALLCLASSES) != 0;
    if (!all && !classGuid) {
        PlatSetLastError(PLAT_ERROR_INVALID_PARAMETER);
        return PLAT_INVALID_HANDLE_VALUE;
    }
    try {
        std::vector<PlatDeviceInterface> snapshot;
        for (const auto& provider : CurrentProviders())
            for (PlatDeviceInterface& i : provider->Interfaces())
                if (all || i.classGuid == *classGuid)
                    snapshot.push_back(std::move(i));
        PlatHandle set = plat::NewHandle(std::make_shared<InfoSet>(std::move(snapshot)));
        if (!set)
            return PLAT_INVALID_HANDLE_VALUE;
        PlatSetLastError(PLAT_ERROR_SUCCESS);
        return set;
    } catch (const std::bad_alloc&) {
        PlatSetLastError(PLAT_ERROR_NOT_ENOUGH_MEMORY);
        return PLAT_INVALID_HANDLE_VALUE;
    }
}

bool PlatDestroyDeviceInfoList(PlatHandle set)
{
    if (!plat::Find<InfoSet>(set))
        return false;
    return PlatCloseHandle(set);
}

bool PlatEnumDeviceInterfaces(PlatHandle set, const PlatGuid* classGuid, uint32_t index, PlatDeviceInterfaceData* data)
{
    std::shared_ptr<InfoSet> info = plat::Find<InfoSet>(set);
    if (!info)
        return false;
    if (!classGuid || !data || data->cbSize != sizeof(PlatDeviceInterfaceData)) {
        PlatSetLastError(PLAT_ERROR_INVALID_PARAMETER);
        return false;
    }
    uint32_t seen = 0;
    for (size_t i = 0; i < info->interfaces.size(); ++i) {
        if (!(info->interfaces[i].classGuid == *classGuid))
            continue;
        if (seen++ == index) {
            data->classGuid = *classGuid;
            data->flags = 1;
            data->reserved = i;
            PlatSetLastError(PLAT_ERROR_SUCCESS);
            return true;
        }
    }
    PlatSetLastError(PLAT_ERROR_NO_MORE_ITEMS);
    return false;
}

bool PlatGetDeviceInterfaceDetail(PlatHandle set, const PlatDeviceInterfaceData* data,
                                  PlatDeviceInterfaceDetail* detail, uint32_t detailSize, uint32_t* requiredSize)
{
    std::shared_ptr<InfoSet> info = plat::Find<InfoSet>(set);
    if (!info)
        return false;
    if (!data || data->cbSize != sizeof(PlatDeviceInterfaceData) || data->reserved >= info->interfaces.size()) {
        PlatSetLastError(PLAT_ERROR_INVALID_PARAMETER);
        return false;
    }
    const std::string& path = info->interfaces[data->reserved].path;
    const size_t needed = offsetof(PlatDeviceInterfaceDetail, devicePath) + path.size() + 1;
    if (needed > UINT32_MAX) {
        PlatSetLastError(PLAT_ERROR_INVALID_PARAMETER);
        return false;
    }
    if (requiredSize)
        *requiredSize = static_cast<uint32_t>(needed);
    if (!detail || detailSize < needed) {
        PlatSetLastError(PLAT_ERROR_INSUFFICIENT_BUFFER);
        return false;
    }
    if (detail->cbSize != sizeof(PlatDeviceInterfaceDetail)) {
        PlatSetLastError(PLAT_ERROR_INVALID_PARAMETER);
        return false;
    }
    // The path runs on past the fixed record, into the rest of the caller's buffer.
    memcpy(reinterpret_cast<char*>(detail) + offsetof(PlatDeviceInterfaceDetail, devicePath), path.c_str(),
           path.size() + 1);
    PlatSetLastError(PLAT_ERROR_SUCCESS);
    return true;
}

// ---- Opening and requests ----------------------------------------------------------------------------------

PlatHandle PlatCreateDeviceFile(const char* path, uint32_t access, uint32_t share, uint32_t flags)
{
    if (!IsDevicePath(path)) {
        PlatSetLastError(PLAT_ERROR_FILE_NOT_FOUND);
        return PLAT_INVALID_HANDLE_VALUE;
    }
    try {
        for (const auto& provider : CurrentProviders()) {
            uint32_t refused = 0;
            std::shared_ptr<PlatDeviceEndpoint> endpoint = provider->OpenOrRefuse(path, &refused);
            if (!endpoint && refused) {
                PlatSetLastError(refused);
                return PLAT_INVALID_HANDLE_VALUE;
            }
            if (!endpoint)
                continue;
            PlatHandle handle = plat::NewHandle(
                std::make_shared<DeviceHandle>(path, std::move(endpoint), (flags & PLAT_FILE_FLAG_OVERLAPPED) != 0));
            if (!handle)
                return PLAT_INVALID_HANDLE_VALUE;
            PlatSetLastError(PLAT_ERROR_SUCCESS);
            return handle;
        }
    } catch (const std::bad_alloc&) {
        PlatSetLastError(PLAT_ERROR_NOT_ENOUGH_MEMORY);
        return PLAT_INVALID_HANDLE_VALUE;
    }
    PlatSetLastError(PLAT_ERROR_FILE_NOT_FOUND);
    return PLAT_INVALID_HANDLE_VALUE;
}

bool PlatDeviceIoControl(PlatHandle device, uint32_t code, const void* input, uint32_t inputSize, void* output,
                         uint32_t outputSize, uint32_t* returned, PlatOverlapped* overlapped)
{
    if (returned)
        *returned = 0;
    std::shared_ptr<DeviceHandle> handle = plat::Find<DeviceHandle>(device);
    if (!handle)
        return false;
    if ((inputSize > 0 && !input) || (outputSize > 0 && !output)) {
        PlatSetLastError(PLAT_ERROR_INVALID_PARAMETER);
        return false;
    }
    if (overlapped) {
        overlapped->internalHigh = 0;
        __atomic_store_n(&overlapped->internal, PLAT_OVERLAPPED_PENDING, __ATOMIC_RELEASE);
        if (overlapped->event)
            PlatResetEvent(overlapped->event);
    }
    std::shared_ptr<IoRequest> request;
    try {
        request = std::make_shared<IoRequest>(code, input, inputSize, output, outputSize, overlapped,
                                              handle->weak_from_this(), handle->Path());
        handle->Track(request);
    } catch (const std::bad_alloc&) {
        if (overlapped)
            __atomic_store_n(&overlapped->internal, static_cast<uintptr_t>(PLAT_ERROR_NOT_ENOUGH_MEMORY), __ATOMIC_RELEASE);
        PlatSetLastError(PLAT_ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    if (!handle->Endpoint().Present())
        request->Complete(PLAT_ERROR_DEVICE_NOT_CONNECTED, 0);
    else
        handle->Endpoint().Submit(request);

    uint32_t error = 0;
    uint32_t bytes = 0;
    if (overlapped && handle->OverlappedHandle()) {
        if (!request->DoneNow(&error, &bytes)) {
            PlatSetLastError(PLAT_ERROR_IO_PENDING);
            return false;
        }
    } else {
        request->WaitDone(&error, &bytes);
    }
    if (returned)
        *returned = bytes;
    PlatSetLastError(error);
    return error == PLAT_ERROR_SUCCESS;
}

bool PlatGetOverlappedResult(PlatHandle device, PlatOverlapped* overlapped, uint32_t* transferred, bool wait)
{
    if (transferred)
        *transferred = 0;
    std::shared_ptr<DeviceHandle> handle = plat::Find<DeviceHandle>(device);
    if (!handle)
        return false;
    if (!overlapped) {
        PlatSetLastError(PLAT_ERROR_INVALID_PARAMETER);
        return false;
    }
    if (!PlatHasOverlappedIoCompleted(overlapped)) {
        if (!wait) {
            PlatSetLastError(PLAT_ERROR_IO_INCOMPLETE);
            return false;
        }
        if (overlapped->event) {
            if (PlatWaitForSingleObject(overlapped->event, PLAT_INFINITE) == PLAT_WAIT_FAILED)
                return false;
            // The event may be shared with other requests: the record decides.
            handle->WaitFor(overlapped);
        } else {
            handle->WaitFor(overlapped);
        }
    }
    const auto error = static_cast<uint32_t>(__atomic_load_n(&overlapped->internal, __ATOMIC_ACQUIRE));
    if (transferred)
        *transferred = static_cast<uint32_t>(overlapped->internalHigh);
    PlatSetLastError(error);
    return error == PLAT_ERROR_SUCCESS;
}
