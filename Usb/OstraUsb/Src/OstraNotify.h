#pragma once
// The library's side of Windows NT 4 device lists and notification.
#include <string>
#include <vector>

#include "PlatformDevices.h"

namespace ostra {

// The process-wide critical section shared by the NT 4 device list and the notification watcher.
PlatCriticalSection* ProcessLock();

// The paths ("\\.\" + value name) of the devices of the interface class in the notification key, in the key's
// order.
std::vector<std::string> Nt4DevicePaths(const PlatGuid& guid);

}  // namespace ostra
