// Driver objects: drivers linked into the process and drivers loaded from shared objects.
#include <dlfcn.h>
#include <unistd.h>

#include <climits>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>
#include <string>

#include "KernelPrivate.h"
#include "PlatformKernelHost.h"
#include "PlatformOS.h"

namespace {

struct KernDriver {
    DRIVER_OBJECT object{};
    DRIVER_EXTENSION extension{};
    std::u16string name;
    std::u16string service;
    std::u16string registryPath;
    void* library = nullptr;
    std::mutex lock;
    std::vector<std::pair<PVOID, void*>> extensions;  // client id, zeroed memory
};

NTSTATUS InvalidDeviceRequest(PDEVICE_OBJECT, PIRP irp)
{
    irp->IoStatus.Status = STATUS_INVALID_DEVICE_REQUEST;
    irp->IoStatus.Information = 0;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return STATUS_INVALID_DEVICE_REQUEST;
}

std::u16string Widen(const std::string& s)
{
    std::u16string w;
    for (unsigned char c : s)
        w += static_cast<char16_t>(c);
    return w;
}

void Point(UNICODE_STRING& counted, std::u16string& text)
{
    counted.Buffer = text.data();
    counted.Length = static_cast<USHORT>(text.size() * sizeof(WCHAR));
    counted.MaximumLength = static_cast<USHORT>(counted.Length + sizeof(WCHAR));
}

KernDriver* MakeDriver(const std::string& service)
{
    auto* d = new KernDriver;
    d->service = Widen(service);
    d->name = u"\\Driver\\" + d->service;
    d->registryPath = u"\\Registry\\Machine\\System\\CurrentControlSet\\Services\\" + d->service;
    d->object.Type = IO_TYPE_DRIVER;
    d->object.Size = sizeof(DRIVER_OBJECT);
    d->object.DriverSection = d;
    d->object.DriverExtension = &d->extension;
    d->extension.DriverObject = &d->object;
    Point(d->object.DriverName, d->name);
    Point(d->extension.ServiceKeyName, d->service);
    for (PDRIVER_DISPATCH& routine : d->object.MajorFunction)
        routine = InvalidDeviceRequest;
    return d;
}

void DestroyDriver(KernDriver* d)
{
    KernDrainThreads();
    if (d->library)
        dlclose(d->library);
    for (auto& extension : d->extensions)
        std::free(extension.second);
    delete d;
}

bool MachineHasWdm(std::string* error)
{
    if (PlatGetWdmVersion(nullptr, nullptr))
        return true;
    if (error)
        *error = std::string(PlatGetOsName()) + " has no WDM driver model; drivers of this kind do not load there";
    return false;
}

NTSTATUS Enter(KernDriver* d, PDRIVER_INITIALIZE entry)
{
    if (KeGetCurrentIrql() != PASSIVE_LEVEL)
        KernBugCheck("driver entered above PASSIVE_LEVEL");
    d->object.DriverInit = entry;
    UNICODE_STRING path;
    Point(path, d->registryPath);
    NTSTATUS status = entry(&d->object, &path);
    if (KeGetCurrentIrql() != PASSIVE_LEVEL)
        KernBugCheck("DriverEntry returned at raised IRQL");
    if (!NT_SUCCESS(status) && d->object.DeviceObject)
        KernBugCheck("DriverEntry failed and left a device behind");
    return status;
}

std::string FolderOf(const std::string& path)
{
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

// A driver file named without a folder: beside the executable, then beside the kernel's own library, else as
// named (the library search path).
std::string ResolveDriver(const std::string& file)
{
    if (file.find('/') != std::string::npos)
        return file;
    std::vector<std::string> folders;
    char self[PATH_MAX] = {};
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n > 0)
        folders.push_back(FolderOf(std::string(self, size_t(n))));
    Dl_info info{};
    if (dladdr(reinterpret_cast<const void*>(&ResolveDriver), &info) && info.dli_fname)
        folders.push_back(FolderOf(info.dli_fname));
    for (const std::string& folder : folders)
        if (!folder.empty() && access((folder + "/" + file).c_str(), F_OK) == 0)
            return folder + "/" + file;
    return file;
}

}  // namespace

PDRIVER_OBJECT KernCreateDriver(const char* service, PDRIVER_INITIALIZE entry, NTSTATUS* entryStatus)
{
    if (entryStatus)
        *entryStatus = STATUS_DRIVER_UNABLE_TO_LOAD;
    if (!entry || !MachineHasWdm(nullptr))
        return nullptr;
    KernDriver* d = MakeDriver(service ? service : "");
    NTSTATUS status = Enter(d, entry);
    if (entryStatus)
        *entryStatus = status;
    if (!NT_SUCCESS(status)) {
        DestroyDriver(d);
        return nullptr;
    }
    return &d->object;
}

bool KernLoadDriver(const std::string& path, const std::string& service, PDRIVER_OBJECT* driver,
                    NTSTATUS* entryStatus, std::string* error)
{
    if (driver)
        *driver = nullptr;
    if (entryStatus)
        *entryStatus = STATUS_DRIVER_UNABLE_TO_LOAD;
    if (!MachineHasWdm(error))
        return false;
    std::string name = service;
    if (name.empty()) {
        size_t slash = path.rfind('/');
        name = slash == std::string::npos ? path : path.substr(slash + 1);
        if (name.rfind("lib", 0) == 0)
            name = name.substr(3);
        size_t dot = name.find('.');
        if (dot != std::string::npos)
            name = name.substr(0, dot);
    }
    void* library = dlopen(ResolveDriver(path).c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        if (error) {
            const char* why = dlerror();
            *error = why ? why : "cannot open " + path;
        }
        return false;
    }
    auto entry = reinterpret_cast<PDRIVER_INITIALIZE>(dlsym(library, "DriverEntry"));
    if (!entry) {
        if (error)
            *error = path + " exports no DriverEntry";
        dlclose(library);
        return false;
    }
    KernDriver* d = MakeDriver(name);
    d->library = library;
    NTSTATUS status = Enter(d, entry);
    if (entryStatus)
        *entryStatus = status;
    if (!NT_SUCCESS(status)) {
        if (error) {
            char text[64];
            std::snprintf(text, sizeof text, "DriverEntry failed with 0x%08X", static_cast<ULONG>(status));
            *error = text;
        }
        DestroyDriver(d);
        return false;
    }
    if (driver)
        *driver = &d->object;
    return true;
}

void* KernGetDriverSymbol(PDRIVER_OBJECT driver, const char* name)
{
    if (!driver || driver->Type != IO_TYPE_DRIVER || !name)
        return nullptr;
    auto* d = static_cast<KernDriver*>(driver->DriverSection);
    return d->library ? dlsym(d->library, name) : nullptr;
}

bool KernUnloadDriver(PDRIVER_OBJECT driver, KernPoolReport* report)
{
    if (!driver || driver->Type != IO_TYPE_DRIVER)
        KernBugCheck("unloading something that is not a driver");
    if (driver->DeviceObject)
        return false;
    if (driver->DriverUnload)
        driver->DriverUnload(driver);
    if (KeGetCurrentIrql() != PASSIVE_LEVEL)
        KernBugCheck("unload routine returned at raised IRQL");
    auto* d = static_cast<KernDriver*>(driver->DriverSection);
    DestroyDriver(d);
    KernPoolReport held = KernGetPoolReport();
    DbgPrint("kernel: driver unloaded; pool: %llu blocks, %llu bytes outstanding\n",
             static_cast<unsigned long long>(held.blocks), static_cast<unsigned long long>(held.bytes));
    for (const KernPoolTagFigures& f : held.tags)
        DbgPrint("kernel:   tag %s: %llu blocks, %llu bytes\n", KernTagText(f.tag).c_str(),
                 static_cast<unsigned long long>(f.blocks), static_cast<unsigned long long>(f.bytes));
    if (report)
        *report = held;
    return true;
}

extern "C" NTSTATUS IoAllocateDriverObjectExtension(PDRIVER_OBJECT driverObject, PVOID clientIdentificationAddress,
                                                    ULONG driverObjectExtensionSize, PVOID* driverObjectExtension)
{
    if (driverObjectExtension)
        *driverObjectExtension = nullptr;
    if (!driverObject || driverObject->Type != IO_TYPE_DRIVER || !driverObjectExtension)
        return STATUS_INVALID_PARAMETER;
    auto* d = static_cast<KernDriver*>(driverObject->DriverSection);
    std::lock_guard<std::mutex> guard(d->lock);
    for (auto& extension : d->extensions)
        if (extension.first == clientIdentificationAddress)
            return STATUS_OBJECT_NAME_COLLISION;
    void* memory = std::calloc(1, driverObjectExtensionSize ? driverObjectExtensionSize : 1);
    if (!memory)
        return STATUS_INSUFFICIENT_RESOURCES;
    d->extensions.emplace_back(clientIdentificationAddress, memory);
    *driverObjectExtension = memory;
    return STATUS_SUCCESS;
}

extern "C" PVOID IoGetDriverObjectExtension(PDRIVER_OBJECT driverObject, PVOID clientIdentificationAddress)
{
    if (!driverObject || driverObject->Type != IO_TYPE_DRIVER)
        return nullptr;
    auto* d = static_cast<KernDriver*>(driverObject->DriverSection);
    std::lock_guard<std::mutex> guard(d->lock);
    for (auto& extension : d->extensions)
        if (extension.first == clientIdentificationAddress)
            return extension.second;
    return nullptr;
}
