#pragma once
// The kernel stand-in as the process that hosts it sees it: loading and unloading drivers, the pool's figures
// and its test hook, DbgPrint capture and the break count.
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "PlatformKernel.h"

// Figures of the pool for one tag (bytes as the callers asked for them).
struct KernPoolTagFigures {
    ULONG tag = 0;
    uint64_t blocks = 0;
    uint64_t bytes = 0;
    uint64_t peakBytes = 0;
};
struct KernPoolReport {
    uint64_t blocks = 0;  // outstanding
    uint64_t bytes = 0;
    std::vector<KernPoolTagFigures> tags;  // tags still holding blocks, by tag text
};

// The tag's four characters as they read in memory ("DRKC").
std::string KernTagText(ULONG tag);

// What the pool holds now.
KernPoolReport KernGetPoolReport();
// Figures of one tag (peak included), whether or not it holds blocks now.
KernPoolTagFigures KernGetPoolTagFigures(ULONG tag);
// Test hook: the next `count` allocations of `tag` fail (answer null). Count 0 clears it.
void KernFailPoolAllocations(ULONG tag, unsigned count);

// DbgBreakPoint calls so far in this process.
unsigned KernGetBreakCount();

// Sends every DbgPrint text also to `stream` (null stops it). kdrv --trace copies them to stdout.
void KernSetDbgPrintEcho(FILE* stream);

// Collects every DbgPrint text while it lives (all threads).
class KernDbgPrintCapture {
public:
    KernDbgPrintCapture();
    ~KernDbgPrintCapture();
    KernDbgPrintCapture(const KernDbgPrintCapture&) = delete;
    KernDbgPrintCapture& operator=(const KernDbgPrintCapture&) = delete;

    std::string Text() const;
    bool Contains(const std::string& piece) const;
    void Append(const char* text);

private:
    mutable std::mutex m_Lock;
    std::string m_Text;
};

// A driver linked into the process: made like a loaded one (driver object, registry path
// "\Registry\Machine\System\CurrentControlSet\Services\<service>") and entered at PASSIVE_LEVEL. Null when
// the entry failed (its status in *entryStatus; the driver object is then gone).
PDRIVER_OBJECT KernCreateDriver(const char* service, PDRIVER_INITIALIZE entry, NTSTATUS* entryStatus);

// Loads a driver: a shared object exporting DriverEntry, opened by run-time loading and entered with its driver
// object and registry path. A file named without a folder is looked for beside the executable, then beside the
// kernel's library, then on the library search path. `service` empty takes the file's name without "lib" and ".so". False with *error
// when it cannot be loaded (no such file, no DriverEntry, a machine without the driver model); when the entry
// fails, false with its status in *entryStatus and the object unloaded (no unload routine called).
bool KernLoadDriver(const std::string& path, const std::string& service, PDRIVER_OBJECT* driver,
                    NTSTATUS* entryStatus, std::string* error);

// A symbol a loaded driver exports (null for drivers linked into the process or a missing symbol).
void* KernGetDriverSymbol(PDRIVER_OBJECT driver, const char* name);

// Unloads a driver that has no device left: calls its unload routine, closes its object and reports the pool
// that is still held, by tag. False (nothing done) while it still has devices.
bool KernUnloadDriver(PDRIVER_OBJECT driver, KernPoolReport* report);

// The device of that name ("\Device\X"), or null.
PDEVICE_OBJECT KernFindDevice(const std::u16string& name);

// True once the device was deleted (its memory may still be held by references).
bool KernDeviceIsDeleted(PDEVICE_OBJECT device);

// True while the driver has a device that is not deleted; read under the lock that device deletion holds.
bool KernDriverHasDevices(PDRIVER_OBJECT driver);

// ---- Plug and play manager ----------------------------------------------------------------------------------
// The ids a bus gives a device it offers: they make its interface link names "\\?\<bus>#<device>#<instance>#...".
struct KernDeviceIds {
    std::u16string bus;
    std::u16string device;
    std::u16string instance;
};

// A bus offers a device: the function driver's AddDevice, then START and QUERY_CAPABILITIES to the top of the
// stack (a failed START is followed by REMOVE). Answers AddDevice's failure or START's status. PASSIVE_LEVEL;
// the requests are waited for.
NTSTATUS KernPnpOfferDevice(PDEVICE_OBJECT physicalDevice, const KernDeviceIds& ids, PDRIVER_OBJECT functionDriver);
// The first step of that alone: the ids recorded and the function driver's AddDevice called.
NTSTATUS KernPnpAddDevice(PDEVICE_OBJECT physicalDevice, const KernDeviceIds& ids, PDRIVER_OBJECT functionDriver);
// One plug-and-play request (minor) to the top of the device's stack, waited for; it starts with
// STATUS_NOT_SUPPORTED, as the manager sends them. `capabilities` goes with QUERY_CAPABILITIES (null: the
// manager's own).
NTSTATUS KernPnpRequest(PDEVICE_OBJECT physicalDevice, UCHAR minor, PDEVICE_CAPABILITIES capabilities = nullptr);
// The device left its bus: SURPRISE_REMOVAL then REMOVE where the machine has WDM 1.10 or later, REMOVE alone
// otherwise. Answers REMOVE's status.
NTSTATUS KernPnpDeviceLeft(PDEVICE_OBJECT physicalDevice);
// The ids the device was offered with (false when it was not offered).
bool KernPnpGetDeviceIds(PDEVICE_OBJECT physicalDevice, KernDeviceIds* ids);

// ---- Power manager ------------------------------------------------------------------------------------------
// A system power request (IRP_MN_SET_POWER or IRP_MN_QUERY_POWER) to the top of the device's stack, waited for.
NTSTATUS KernPoSystemRequest(PDEVICE_OBJECT physicalDevice, UCHAR minor, SYSTEM_POWER_STATE state);
// A device power request through PoRequestPowerIrp, waited for; answers the status its completion saw.
NTSTATUS KernPoDeviceRequest(PDEVICE_OBJECT physicalDevice, UCHAR minor, DEVICE_POWER_STATE state);
// What drivers told the power manager with PoSetPowerState, oldest first (the latest 1024).
struct KernPowerStateRecord {
    PDEVICE_OBJECT device;
    POWER_STATE_TYPE type;
    ULONG state;
};
std::vector<KernPowerStateRecord> KernGetPowerStateRecords();

// ---- Device interfaces, symbolic links and WMI ------------------------------------------------------------------
struct KernDeviceInterface {
    GUID classGuid;
    std::u16string link;
    PDEVICE_OBJECT physicalDevice;  // null once that device was deleted
    bool enabled;
};
// Every registered interface, in the order of registration; or only the enabled ones of a class.
std::vector<KernDeviceInterface> KernGetDeviceInterfaces();
std::vector<std::u16string> KernGetEnabledInterfaces(const GUID& classGuid);
// The device name a "\DosDevices\X" link points to (case-insensitive), or empty.
std::u16string KernResolveSymbolicLink(const std::u16string& link);
std::vector<std::u16string> KernGetSymbolicLinks();

struct KernWmiRegistration {
    PDEVICE_OBJECT device;
    ULONG action;
};
std::vector<KernWmiRegistration> KernGetWmiRegistrations();
// The event records written with IoWMIWriteEvent, as bytes (the latest 1024; registrations likewise).
std::vector<std::vector<uint8_t>> KernGetWmiEvents();

// GUID text as in link names: lower case, "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx".
std::string KernGuidText(const GUID& guid);

// ---- Requests the host sends --------------------------------------------------------------------------------
// A request built by the host for the top of a device's stack (the way the I/O manager sends opens, closes and
// device-control requests from programs). Send it, then wait for its completion.
class KernHostRequest {
public:
    // `location` is the first stack location (its device and completion fields are set here). `buffer` becomes
    // the request's system buffer; what the driver writes into it stays readable after completion.
    KernHostRequest(PDEVICE_OBJECT device, const IO_STACK_LOCATION& location, std::vector<uint8_t> buffer = {});
    ~KernHostRequest();  // waits for the completion of a request that was sent
    KernHostRequest(const KernHostRequest&) = delete;
    KernHostRequest& operator=(const KernHostRequest&) = delete;

    // Calls the top driver on this thread; answers what it returned.
    NTSTATUS Send();
    // Waits up to `milliseconds` (0 = no limit) for the completion: false on time-out.
    bool Wait(unsigned milliseconds = 0);
    bool Done() const;
    // Cancels the request (IoCancelIrp) while it is not completed; answers whether a cancel routine ran.
    bool Cancel();
    IO_STATUS_BLOCK Status() const;
    const std::vector<uint8_t>& Buffer() const { return m_Buffer; }

private:
    static NTSTATUS priCompleted(PDEVICE_OBJECT, PIRP irp, PVOID context);
    PDEVICE_OBJECT m_Top = nullptr;
    PIRP m_Irp = nullptr;
    bool m_Sent = false;
    KEVENT m_Done;
    IO_STATUS_BLOCK m_Status{};
    std::vector<uint8_t> m_Buffer;
};

// ---- The machine's 1394 driver and the device services ---------------------------------------------------------
// The kernel stand-in is a provider of the device services (PlatformDeviceProvider.h): loaded as
// "PlatformKernel.dll" on their first use in a process, it starts the simulated 1394 bus and loads the machine's
// 1394 driver, whose function driver then gets a device for each camera on the bus (added and started, and
// followed as cameras come and go). It lists the kernel's enabled device interfaces; an open of an interface
// path or of "\\.\NAME" (a "\DosDevices\NAME" link) sends IRP_MJ_CREATE to the top of the device's stack, and a
// close CLEANUP then CLOSE. A device-control request goes down as a request of its code's method; its status
// becomes an error: 0xC000000D 87, 0xC0000002 1, 0xC0000056 5, 0xC0000120 995, 0xC000009A 8, 0x80000011 (busy)
// 170, any other failure 31. Requests of all processes to one camera are serialised: a process holds the camera's lock (a file
// lock in the machine folder) while any of its requests to it runs.

// The setting "driver1394" of the machine: "default" or a driver file.
std::string KernGet1394DriverSetting();
// "default" (or empty) goes back to the default. False with a message when it cannot be written.
bool KernSet1394DriverSetting(const std::string& setting, std::string* error);
// The driver file the machine loads: the setting's file, else by the identity: "libK139498.so" on the 95/98/ME
// family, "libK13942k.so" on 2000 and XP; empty on a machine without the driver model.
std::string KernMachine1394DriverFile();

// Starts the bus and loads the machine's driver in this process (once; what the provider does on first use).
// False with a message when the bus cannot start; a driver that does not load is traced and leaves no devices.
bool KernStart1394(std::string* error);

// The devices of the machine's 1394 driver in this process, by device name.
struct Kern1394Device {
    std::u16string name;    // "\Device\K13940"
    std::string cameraId;   // the camera on the node below it
    std::string driverFile; // the loaded file's name ("libK13942k.so")
};
std::vector<Kern1394Device> KernGet1394Devices();
