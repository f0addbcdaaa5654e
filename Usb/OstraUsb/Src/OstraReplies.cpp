#include "OstraReplies.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "PlatformCodePage.h"
#include "PlatformError.h"

namespace ostra {

namespace {

struct Field {
    const char* name;
    uint8_t size;  // 1 or 2 bytes, little-endian
    bool hex;
};

constexpr Field kDevice[] = {
    {"bLength", 1, false},           {"bDescriptorType", 1, false}, {"bcdUSB", 2, true},
    {"bDeviceClass", 1, true},       {"bDeviceSubClass", 1, true},  {"bDeviceProtocol", 1, true},
    {"bMaxPacketSize0", 1, false},   {"idVendor", 2, true},         {"idProduct", 2, true},
    {"bcdDevice", 2, true},          {"iManufacturer", 1, false},   {"iProduct", 1, false},
    {"iSerialNumber", 1, false},     {"bNumConfigurations", 1, false},
};
constexpr Field kConfiguration[] = {
    {"bLength", 1, false},      {"bDescriptorType", 1, false},     {"wTotalLength", 2, false},
    {"bNumInterfaces", 1, false}, {"bConfigurationValue", 1, false}, {"iConfiguration", 1, false},
    {"bmAttributes", 1, true},  {"MaxPower", 1, false},
};
constexpr Field kInterface[] = {
    {"bLength", 1, false},          {"bDescriptorType", 1, false},   {"bInterfaceNumber", 1, false},
    {"bAlternateSetting", 1, false}, {"bNumEndpoints", 1, false},     {"bInterfaceClass", 1, true},
    {"bInterfaceSubClass", 1, true}, {"bInterfaceProtocol", 1, true}, {"iInterface", 1, false},
};
constexpr Field kEndpoint[] = {
    {"bLength", 1, false},       {"bDescriptorType", 1, false}, {"bEndpointAddress", 1, true},
    {"bmAttributes", 1, true},   {"wMaxPacketSize", 2, false},  {"bInterval", 1, false},
};

template <size_t N>
void Describe(const Field (&fields)[N], const uint8_t* bytes, uint32_t returned, std::vector<std::string>* lines)
{
    uint32_t at = 0;
    for (const Field& f : fields) {
        if (uint64_t(at) + f.size > returned)
            return;
        const uint32_t value = f.size == 1 ? bytes[at] : uint32_t(bytes[at]) | uint32_t(bytes[at + 1]) << 8;
        char line[96];
        if (f.hex && f.size == 1)
            std::snprintf(line, sizeof line, "%s 0x%02X\r\n", f.name, value);
        else if (f.hex)
            std::snprintf(line, sizeof line, "%s 0x%04X\r\n", f.name, value);
        else
            std::snprintf(line, sizeof line, "%s %u\r\n", f.name, value);
        lines->push_back(line);
        at += f.size;
    }
}

}  // namespace

uint32_t DescriptorSize(DescriptorKind kind)
{
    switch (kind) {
    case DescriptorKind::Device:
        return 18;
    case DescriptorKind::Endpoint:
        return 7;
    default:
        return 9;
    }
}

std::vector<std::string> DescribeDescriptor(DescriptorKind kind, const uint8_t* bytes, uint32_t returned,
                                            uint32_t handle)
{
    static const char* const kHeadings[] = {
        "OSTRAUSB_DEVICE_DESCRIPTOR on handle 0x%08X\r\n",
        "OSTRAUSB_CONFIGURATION_DESCRIPTOR on handle 0x%08X\r\n",
        "OSTRAUSB_INTERFACE_DESCRIPTOR on handle 0x%08X\r\n",
        "OSTRAUSB_ENDPOINT_DESCRIPTOR on handle 0x%08X\r\n",
    };
    std::vector<std::string> lines;
    char heading[96];
    std::snprintf(heading, sizeof heading, kHeadings[static_cast<int>(kind)], handle);
    lines.push_back(heading);
    if (!bytes)
        return lines;
    if (returned > DescriptorSize(kind))
        returned = DescriptorSize(kind);
    switch (kind) {
    case DescriptorKind::Device:
        Describe(kDevice, bytes, returned, &lines);
        break;
    case DescriptorKind::Configuration:
        Describe(kConfiguration, bytes, returned, &lines);
        break;
    case DescriptorKind::Interface:
        Describe(kInterface, bytes, returned, &lines);
        break;
    case DescriptorKind::Endpoint:
        Describe(kEndpoint, bytes, returned, &lines);
        break;
    }
    return lines;
}

uint32_t ReplyToAnsi(const uint8_t* reply, uint32_t returnedBytes, char* out, uint32_t capacity, uint32_t* copied)
{
    *copied = 0;
    const uint32_t units = returnedBytes / 2;
    if (units == 0)
        return 0;
    try {
        std::vector<char16_t> text(units);
        std::memcpy(text.data(), reply, size_t(units) * 2);
        // A zero-filled buffer of the returned byte count takes the converted text, as many bytes as units.
        std::vector<char> converted(returnedBytes, 0);
        const int32_t n = PlatWideCharToMultiByte(text.data(), static_cast<int32_t>(units), converted.data(),
                                                  static_cast<int32_t>(converted.size()));
        if (n <= 0)
            return PlatGetLastError();
        const uint32_t take = uint32_t(n) < capacity ? uint32_t(n) : capacity;
        if (take > 0)
            std::memcpy(out, converted.data(), take);
        *copied = take;
        return 0;
    } catch (const std::bad_alloc&) {
        return PLAT_ERROR_NOT_ENOUGH_MEMORY;
    }
}

}  // namespace ostra
