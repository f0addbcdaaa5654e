#pragma once
// Names of the device-notification key's values (Windows NT 4): a device's link name, beginning with its
// interface class in the form "{%8x-%4x-%4x-%4s-%12s}".
#include <string>
#include <vector>

#include "PlatformDevices.h"
#include "PlatformRegistry.h"

namespace ostra {

// The key under HKEY_LOCAL_MACHINE that the USB kernel driver fills on Windows NT 4.
extern const char kNotificationKey[];
// Longest value name read from the key, in characters.
constexpr unsigned kNotificationNameLength = 50;

// The interface class a value name begins with; false when it does not begin with one.
bool ParseNotificationName(const char* name, PlatGuid* guid);

// True on Windows NT 4, where the notification key stands in for device-interface lists and notification.
bool IsWindowsNT4();

// The names of the key's values in the store's order (those longer than kNotificationNameLength are skipped):
// of an open key, or (key null) of the key opened for the call; empty when the key does not exist.
std::vector<std::string> NotificationNames(PlatHKEY key = nullptr);

}  // namespace ostra
