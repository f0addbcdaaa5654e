#pragma once
// What the parts of the kernel stand-in share among themselves.
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "PlatformKernelHost.h"

// Prints "bug check: <what>" to stderr and aborts.
[[noreturn]] void KernBugCheck(const char* what);

// Hands a text to the DbgPrint sinks (trace sink, echo, captures).
void KernTrace(const char* text);

// The dispatcher: one lock and one condition for every event of the process.
std::mutex& KernDispatcherLock();
std::condition_variable& KernDispatcherCondition();

// Spin lock words without any IRQL change.
void KernSpinAcquire(PKSPIN_LOCK lock);
void KernSpinRelease(PKSPIN_LOCK lock);

// Sets the calling thread's IRQL outright (the kernel's own threads).
void KernSetIrql(KIRQL irql);

// Runs `work` on the worker thread at PASSIVE_LEVEL.
void KernPostWork(std::function<void()> work);
// Waits until the worker and DPC threads have nothing queued or running.
void KernDrainThreads();

// Frees a deleted device object once its last reference went (kernel internal).
void KernDeviceReleased(PDEVICE_OBJECT device);

// Live-request check used by the I/O manager.
bool KernIsLiveIrp(PIRP irp);

// Forgets what the plug-and-play manager knew of a device being deleted.
void KernPnpForgetDevice(PDEVICE_OBJECT device);

// The devices the plug-and-play manager was offered, each with a reference taken (the caller drops it).
std::vector<std::pair<PDEVICE_OBJECT, KernDeviceIds>> KernPnpReferenceOfferedDevices();
// The physical device of an enabled interface (link compared without regard to case), referenced; or null.
PDEVICE_OBJECT KernPnpReferenceInterfaceDevice(const std::u16string& link);

// A live device by name, referenced; or null.
PDEVICE_OBJECT KernReferenceDeviceByName(const std::u16string& name);
// The name a device was created with (empty for none or a deleted device).
std::u16string KernDeviceName(PDEVICE_OBJECT device);
