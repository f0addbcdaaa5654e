#include "OstraNames.h"

#include <cstdio>
#include <cstring>

#include "PlatformOS.h"
#include "PlatformRegistry.h"

namespace ostra {

const char kNotificationKey[] = "System\\CurrentControlSet\\Control\\Rokit\\DeviceNotification";

namespace {

// Exactly `digits` hexadecimal digits into bytes.
bool HexBytes(const char* text, size_t digits, uint8_t* out)
{
    if (std::strlen(text) != digits)
        return false;
    for (size_t i = 0; i < digits; i += 2) {
        unsigned v = 0;
        for (size_t k = i; k < i + 2; ++k) {
            const char c = text[k];
            const int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                                    : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
            if (d < 0)
                return false;
            v = v * 16 + static_cast<unsigned>(d);
        }
        out[i / 2] = static_cast<uint8_t>(v);
    }
    return true;
}

}  // namespace

bool ParseNotificationName(const char* name, PlatGuid* guid)
{
    if (!name || !guid)
        return false;
    unsigned d1 = 0, d2 = 0, d3 = 0;
    char clock[5] = {};
    char node[13] = {};
    int end = 0;
    if (std::sscanf(name, "{%8x-%4x-%4x-%4s-%12s%n", &d1, &d2, &d3, clock, node, &end) != 5 || end == 0)
        return false;
    // The node field is read up to 12 characters; the brace must follow it.
    if (name[end] != '}')
        return false;
    PlatGuid g{};
    g.data1 = d1;
    g.data2 = static_cast<uint16_t>(d2);
    g.data3 = static_cast<uint16_t>(d3);
    if (!HexBytes(clock, 4, g.data4) || !HexBytes(node, 12, g.data4 + 2))
        return false;
    *guid = g;
    return true;
}

bool IsWindowsNT4()
{
    PlatOsVersion v{};
    return PlatGetVersion(&v) && v.platformId == PLAT_OS_PLATFORM_NT && v.major == 4;
}

std::vector<std::string> NotificationNames(PlatHKEY open)
{
    std::vector<std::string> names;
    PlatHKEY key = open;
    if (!key && PlatRegOpenKeyEx(PLAT_HKEY_LOCAL_MACHINE, kNotificationKey, 0, PLAT_KEY_READ, &key) != 0)
        return names;
    for (uint32_t i = 0;; ++i) {
        char name[kNotificationNameLength + 1];
        uint32_t size = sizeof name;
        const int32_t rc = PlatRegEnumValue(key, i, name, &size, nullptr, nullptr, nullptr);
        if (rc == PLAT_ERROR_MORE_DATA)
            continue;
        if (rc != 0)
            break;
        names.emplace_back(name, strnlen(name, size));
    }
    if (!open)
        PlatRegCloseKey(key);
    return names;
}

}  // namespace ostra
