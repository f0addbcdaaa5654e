#include "PlatformSetupApi.h"

#define SETUPAPI_EXPORT extern "C" __attribute__((visibility("default")))

SETUPAPI_EXPORT PlatHandle SetupDiGetClassDevsA(const PlatGuid* classGuid, const char*, void*, uint32_t flags)
{
    return PlatGetClassDevs(classGuid, flags);
}

SETUPAPI_EXPORT int32_t SetupDiEnumDeviceInterfaces(PlatHandle list, void*, const PlatGuid* classGuid, uint32_t index,
                                                    PlatDeviceInterfaceData* data)
{
    return PlatEnumDeviceInterfaces(list, classGuid, index, data) ? 1 : 0;
}

SETUPAPI_EXPORT int32_t SetupDiGetDeviceInterfaceDetailA(PlatHandle list, PlatDeviceInterfaceData* data,
                                                         PlatDeviceInterfaceDetail* detail, uint32_t detailSize,
                                                         uint32_t* requiredSize, void*)
{
    return PlatGetDeviceInterfaceDetail(list, data, detail, detailSize, requiredSize) ? 1 : 0;
}

SETUPAPI_EXPORT int32_t SetupDiDestroyDeviceInfoList(PlatHandle list)
{
    return PlatDestroyDeviceInfoList(list) ? 1 : 0;
}
