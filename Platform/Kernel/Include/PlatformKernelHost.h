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
// object and registry path. `service` empty takes the file's name without "lib" and ".so". False with *error
// when it cannot be loaded (no such file, no DriverEntry, a machine without the driver model); when the entry
// fails, false with its status in *entryStatus and the object unloaded (no unload routine called).
bool KernLoadDriver(const std::string& path, const std::string& service, PDRIVER_OBJECT* driver,
                    NTSTATUS* entryStatus, std::string* error);

// Unloads a driver that has no device left: calls its unload routine, closes its object and reports the pool
// that is still held, by tag. False (nothing done) while it still has devices.
bool KernUnloadDriver(PDRIVER_OBJECT driver, KernPoolReport* report);

// The device of that name ("\Device\X"), or null.
PDEVICE_OBJECT KernFindDevice(const std::u16string& name);
