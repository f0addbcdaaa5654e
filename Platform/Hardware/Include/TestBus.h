#pragma once
// A plain test bus: a bus driver of the kernel stand-in whose devices are simulated hardware with nothing behind
// them. Each device records every request it gets (also traced: "TestBus: <instance>: <what> -> <status>"),
// answers plug and play and power with success or with a status set per minor function, and completes anything
// else passed down to it with the status the request already carries.
#include <string>
#include <vector>

#include "PlatformKernelHost.h"

namespace testbus {

// Starts the bus in this process's kernel (once). False when the machine has no driver model.
bool StartTestBus();
// Ends it: every device of the bus must be deleted first. False (nothing done) while devices remain.
bool StopTestBus();

// A new device of the bus; its ids are bus "TESTBUS", device "PLAIN", instance `instance`.
PDEVICE_OBJECT AddTestDevice(const std::string& instance);
// Deletes a device of the bus (after its stack was removed).
void DeleteTestDevice(PDEVICE_OBJECT device);
KernDeviceIds TestDeviceIds(PDEVICE_OBJECT device);

// The status the device answers for a minor function of IRP_MJ_PNP or IRP_MJ_POWER (STATUS_SUCCESS unless set).
void SetTestAnswer(PDEVICE_OBJECT device, UCHAR major, UCHAR minor, NTSTATUS status);

// What the device got, oldest first: "pnp IRP_MN_START_DEVICE", "power set-power system S3", "power set-power
// device D4", "power query-power device D4", "system-control IRP_MN_QUERY_ALL_DATA provider 0x...", "major 0x0E".
std::vector<std::string> TestDeviceRecords(PDEVICE_OBJECT device);
void ClearTestDeviceRecords(PDEVICE_OBJECT device);

}  // namespace testbus
