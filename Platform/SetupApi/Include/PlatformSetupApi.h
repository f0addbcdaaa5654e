#pragma once
// "setupapi.dll" of the stand-in (libsetupapi.so): the device-setup functions, over the device services
// (PlatformDevices.h), for programs that bind them by name at run time. The records are the device services'
// own: the caller sets cbSize to sizeof(PlatDeviceInterfaceData) and, in a detail, to
// sizeof(PlatDeviceInterfaceDetail).
#include <cstdint>

#include "PlatformDevices.h"

extern "C" {

// A list of the present interfaces of a class (flags PLAT_DIGCF_*); enumerator and parent are ignored.
// PLAT_INVALID_HANDLE_VALUE on failure.
PlatHandle SetupDiGetClassDevsA(const PlatGuid* classGuid, const char* enumerator, void* parent, uint32_t flags);
// The index-th interface of the class in the list (deviceInfo is ignored). 0 with the last error on failure.
int32_t SetupDiEnumDeviceInterfaces(PlatHandle list, void* deviceInfo, const PlatGuid* classGuid, uint32_t index,
                                    PlatDeviceInterfaceData* data);
// The interface's path, as PlatGetDeviceInterfaceDetail gives it (deviceInfo is ignored).
int32_t SetupDiGetDeviceInterfaceDetailA(PlatHandle list, PlatDeviceInterfaceData* data,
                                         PlatDeviceInterfaceDetail* detail, uint32_t detailSize,
                                         uint32_t* requiredSize, void* deviceInfo);
int32_t SetupDiDestroyDeviceInfoList(PlatHandle list);

}  // extern "C"

using PlatSetupDiGetClassDevsA = decltype(&SetupDiGetClassDevsA);
using PlatSetupDiEnumDeviceInterfaces = decltype(&SetupDiEnumDeviceInterfaces);
using PlatSetupDiGetDeviceInterfaceDetailA = decltype(&SetupDiGetDeviceInterfaceDetailA);
using PlatSetupDiDestroyDeviceInfoList = decltype(&SetupDiDestroyDeviceInfoList);
