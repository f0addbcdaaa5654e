// usbprobe: a USB device through OstraUsb from the shell. Each command prints what it read and
// "result 0x%08X" for each call it makes; the exit status is 0 when the last result is 0.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "OstraReplies.h"
#include "OstraUsb.h"
#include "PlatformUser32.h"
#include "PlatformWindow.h"

namespace {

const char kUsage[] =
    "usage: usbprobe [--open guid:GUID,N|link:NAME,N] COMMAND\n"
    "  list                      N LINKNAME of each device of the class\n"
    "  descriptors               device, configuration, interface and endpoint descriptors\n"
    "  strings [LENGTH]          language ids and the device's strings (LENGTH characters asked)\n"
    "  version                   the driver's version\n"
    "  control TYPE REQUEST VALUE INDEX in|out LENGTH [HEX]\n"
    "  bulk-in PIPE LENGTH       bulk-out PIPE HEX       clear-stall PIPE\n"
    "  iso ENDPOINT PACKETS SIZE [--length N] [--record N]\n"
    "  async-bulk-in PIPE LENGTH start, an immediate check, the final result\n"
    "  watch SECONDS             WM_DEVICECHANGE 0x8000|0x8004 PATH for each device of the class that comes or goes\n"
    "The default device is the camera class {3219D400-E372-4B5D-AB0F-D2594CD9084D}, member 0.\n";

constexpr const char* kCameraClass = "{3219D400-E372-4B5D-AB0F-D2594CD9084D}";

int Usage()
{
    std::fputs(kUsage, stderr);
    return 2;
}

bool ParseNumber(const char* text, uint64_t limit, uint32_t* out)
{
    char* end = nullptr;
    errno = 0;
    const unsigned long long v = std::strtoull(text, &end, 0);
    if (!*text || *end || errno || v > limit || text[0] == '-')
        return false;
    *out = static_cast<uint32_t>(v);
    return true;
}

bool ParseGuid(const std::string& text, PlatGuid* g)
{
    unsigned d[11];
    char tail;
    if (std::sscanf(text.c_str(), "{%8x-%4x-%4x-%2x%2x-%2x%2x%2x%2x%2x%2x}%c", &d[0], &d[1], &d[2], &d[3], &d[4], &d[5],
                    &d[6], &d[7], &d[8], &d[9], &d[10], &tail) != 11 ||
        text.size() != 38)
        return false;
    g->data1 = d[0];
    g->data2 = static_cast<uint16_t>(d[1]);
    g->data3 = static_cast<uint16_t>(d[2]);
    for (int i = 0; i < 8; ++i)
        g->data4[i] = static_cast<uint8_t>(d[3 + i]);
    return true;
}

bool ParseHex(const char* text, std::vector<uint8_t>* out)
{
    const size_t n = std::strlen(text);
    if (n % 2)
        return false;
    for (size_t i = 0; i < n; i += 2) {
        unsigned v;
        char pair[3] = {text[i], text[i + 1], 0};
        if (!std::isxdigit(static_cast<unsigned char>(pair[0])) || !std::isxdigit(static_cast<unsigned char>(pair[1])) ||
            std::sscanf(pair, "%2x", &v) != 1)
            return false;
        out->push_back(static_cast<uint8_t>(v));
    }
    return true;
}

void PrintHex(const char* label, const uint8_t* data, size_t n)
{
    std::printf("%s ", label);
    for (size_t i = 0; i < n; ++i)
        std::printf("%02x", data[i]);
    std::printf("\n");
}

uint32_t Result(uint32_t r)
{
    std::printf("result 0x%08X\n", r);
    return r;
}

struct Target {
    bool byGuid = true;
    PlatGuid guid{};
    std::string link;
    uint32_t index = 0;
};

PlatHandle Open(const Target& t)
{
    return t.byGuid ? OstraOpenGuidHandle(&t.guid, t.index, 0) : OstraOpenHandle(t.link.c_str(), t.index, 0);
}

uint32_t List(const Target& t)
{
    uint32_t r = 0;
    for (uint32_t n = 0;; ++n) {
        Target member = t;
        member.index = n;
        PlatHandle h = Open(member);
        if (h == PLAT_INVALID_HANDLE_VALUE)
            break;
        char name[64] = {};
        r = OstraGetLinkname(h, sizeof name - 1, name);
        if (r == 0)
            std::printf("%u %s\n", n, name);
        OstraCloseHandle(h);
        if (r != 0 || !t.byGuid)
            break;
    }
    return Result(r);
}

void PrintLines(ostra::DescriptorKind kind, const uint8_t* bytes)
{
    for (const std::string& line : ostra::DescribeDescriptor(kind, bytes, ostra::DescriptorSize(kind), 0)) {
        std::string text = line;
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
            text.pop_back();
        // The heading names no handle here.
        const size_t on = text.find(" on handle");
        if (on != std::string::npos)
            text.erase(on);
        std::printf("%s\n", text.c_str());
    }
}

uint32_t Descriptors(PlatHandle h)
{
    uint8_t device[18] = {}, config[9] = {}, interface[9] = {};
    uint32_t r = Result(OstraGetDeviceDescriptor(h, device));
    if (r)
        return r;
    PrintLines(ostra::DescriptorKind::Device, device);
    if ((r = Result(OstraGetConfigDescriptor(h, config))))
        return r;
    PrintLines(ostra::DescriptorKind::Configuration, config);
    if ((r = Result(OstraGetInterfaceDescriptor(h, interface))))
        return r;
    PrintLines(ostra::DescriptorKind::Interface, interface);
    for (uint8_t i = 0; i < interface[4]; ++i) {
        uint8_t endpoint[7] = {};
        if ((r = Result(OstraGetEndpointDescriptor(h, i, endpoint))))
            return r;
        PrintLines(ostra::DescriptorKind::Endpoint, endpoint);
    }
    return r;
}

uint32_t Strings(PlatHandle h, int asked)
{
    uint16_t count = 0;
    uint32_t r = Result(OstraGetNumberOfLanguageIds(h, &count));
    if (r)
        return r;
    std::vector<uint16_t> ids(count ? count : 1);
    if ((r = Result(OstraGetLanguageIds(h, count, ids.data()))))
        return r;
    std::printf("languages");
    for (uint16_t i = 0; i < count; ++i)
        std::printf(" 0x%04X", ids[i]);
    std::printf("\n");
    uint8_t device[18] = {};
    if ((r = Result(OstraGetDeviceDescriptor(h, device))))
        return r;
    const uint16_t language = count ? ids[0] : 0;
    for (int field : {14, 15, 16}) {
        const uint8_t index = device[field];
        if (index == 0)
            continue;
        uint32_t length = 0;
        if ((r = Result(OstraGetStringDescriptorLength(h, language, index, &length))))
            return r;
        const uint32_t ask = asked >= 0 ? static_cast<uint32_t>(asked) : length;
        std::vector<char> text(ask + 1, 0);
        if ((r = Result(OstraGetStringDescriptor(h, language, index, ask, text.data()))))
            return r;
        // The text as the code page has it: its bytes, as many as came.
        std::printf("string %u ", index);
        std::fwrite(text.data(), 1, strnlen(text.data(), ask), stdout);
        std::printf("\n");
    }
    return r;
}

uint32_t Iso(PlatHandle h, int argc, char** argv, int at)
{
    uint32_t endpoint, packets, size, record = OSTRA_ISO_RECORD_SIZE, length = 0;
    bool lengthGiven = false;
    if (at + 3 > argc || !ParseNumber(argv[at], 0xFF, &endpoint) || !ParseNumber(argv[at + 1], 4096, &packets) ||
        !ParseNumber(argv[at + 2], 65536, &size))
        return Usage();
    for (int i = at + 3; i < argc; i += 2) {
        if (i + 1 >= argc)
            return Usage();
        if (!std::strcmp(argv[i], "--length") && ParseNumber(argv[i + 1], 64u << 20, &length))
            lengthGiven = true;
        else if (!(!std::strcmp(argv[i], "--record") && ParseNumber(argv[i + 1], 4096, &record)))
            return Usage();
    }
    const uint64_t needed = uint64_t(packets) * (uint64_t(size) + record);
    if (!lengthGiven)
        length = static_cast<uint32_t>(needed);
    // The buffer holds at least the record size word, whatever length is given.
    std::vector<uint8_t> buffer(std::max<uint64_t>(std::max<uint64_t>(length, needed), 4), 0);
    std::memcpy(buffer.data(), &record, 4);
    uint32_t returned = 0;
    const uint32_t r = OstraIsochronousTransfer(h, static_cast<uint8_t>(endpoint), packets, size, length,
                                                buffer.data(), &returned);
    if (r == 0) {
        for (uint32_t i = 0; i < packets; ++i) {
            uint32_t status, got;
            std::memcpy(&status, &buffer[size_t(i) * record + 4], 4);
            std::memcpy(&got, &buffer[size_t(i) * record + 8], 4);
            std::printf("packet %u status 0x%08X length %u\n", i, status, got);
        }
        PrintHex("data", buffer.data() + size_t(packets) * record, size_t(packets) * size);
    }
    return Result(r);
}

uint32_t Run(PlatHandle h, int argc, char** argv, int at)
{
    const std::string command = argv[at++];
    uint32_t a, b;
    if (command == "descriptors" && at == argc)
        return Descriptors(h);
    if (command == "strings" && (at == argc || at + 1 == argc)) {
        int asked = -1;
        if (at < argc) {
            if (!ParseNumber(argv[at], 0xFFFF, &a))
                return Usage();
            asked = static_cast<int>(a);
        }
        return Strings(h, asked);
    }
    if (command == "version" && at == argc) {
        uint32_t major = 0, minor = 0;
        const uint32_t r = OstraGetDriverVersion(h, &major, &minor);
        if (r == 0)
            std::printf("%u.%u\n", major, minor);
        return Result(r);
    }
    if (command == "control" && (argc - at == 6 || argc - at == 7)) {
        uint32_t type, request, value, index, length;
        const std::string direction = argv[at + 4];
        if (!ParseNumber(argv[at], 0xFF, &type) || !ParseNumber(argv[at + 1], 0xFF, &request) ||
            !ParseNumber(argv[at + 2], 0xFFFF, &value) || !ParseNumber(argv[at + 3], 0xFFFF, &index) ||
            (direction != "in" && direction != "out") || !ParseNumber(argv[at + 5], 1u << 20, &length))
            return Usage();
        std::vector<uint8_t> data;
        if (argc - at == 7 && !ParseHex(argv[at + 6], &data))
            return Usage();
        data.resize(std::max<size_t>(length, 1), 0);
        uint32_t returned = 0;
        const uint32_t r = OstraControlTransfer(h, static_cast<uint8_t>(type), static_cast<uint8_t>(request),
                                                static_cast<uint16_t>(value), static_cast<uint16_t>(index),
                                                direction == "out", length, data.data(), &returned);
        if (r == 0 && direction == "in")
            PrintHex("data", data.data(), returned);
        if (r == 0)
            std::printf("returned %u\n", returned);
        return Result(r);
    }
    if (command == "bulk-in" && argc - at == 2) {
        if (!ParseNumber(argv[at], 0xFF, &a) || !ParseNumber(argv[at + 1], 64u << 20, &b))
            return Usage();
        std::vector<uint8_t> data(std::max<uint32_t>(b, 1), 0);
        uint32_t returned = 0;
        const uint32_t r = OstraBulkTransfer(h, static_cast<uint8_t>(a), b, data.data(), &returned);
        if (r == 0)
            PrintHex("data", data.data(), returned);
        return Result(r);
    }
    if (command == "bulk-out" && argc - at == 2) {
        std::vector<uint8_t> data;
        if (!ParseNumber(argv[at], 0xFF, &a) || !ParseHex(argv[at + 1], &data))
            return Usage();
        uint32_t returned = 0;
        const uint32_t r = OstraBulkTransfer(h, static_cast<uint8_t>(a), static_cast<uint32_t>(data.size()),
                                             data.empty() ? nullptr : data.data(), &returned);
        if (r == 0)
            std::printf("returned %u\n", returned);
        return Result(r);
    }
    if (command == "clear-stall" && argc - at == 1) {
        if (!ParseNumber(argv[at], 0xFF, &a))
            return Usage();
        return Result(OstraClearStall(h, static_cast<uint8_t>(a)));
    }
    if (command == "iso")
        return Iso(h, argc, argv, at);
    if (command == "async-bulk-in" && argc - at == 2) {
        if (!ParseNumber(argv[at], 0xFF, &a) || !ParseNumber(argv[at + 1], 64u << 20, &b))
            return Usage();
        std::vector<uint8_t> data(std::max<uint32_t>(b, 1), 0);
        PlatOverlapped overlapped{};
        overlapped.event = PlatCreateEvent(true, false, nullptr);
        uint32_t returned = 0;
        uint32_t r = Result(OstraAsynchBulkTransfer(h, static_cast<uint8_t>(a), b, data.data(), &returned, &overlapped));
        if (r == PLAT_ERROR_IO_PENDING) {
            r = Result(OstraCheckAsynchCompletion(h, &returned, &overlapped));
            if (r == PLAT_ERROR_IO_PENDING) {
                PlatWaitForSingleObject(overlapped.event, PLAT_INFINITE);
                r = OstraCheckAsynchCompletion(h, &returned, &overlapped);
                if (r == 0)
                    PrintHex("data", data.data(), returned);
                Result(r);
            }
        } else if (r == 0) {
            PrintHex("data", data.data(), returned);
        }
        PlatCloseHandle(overlapped.event);
        return r;
    }
    return Usage();
}

intptr_t WatchWindow(PlatHWND, uint32_t message, uintptr_t wParam, intptr_t lParam)
{
    if (message != PLAT_WM_DEVICECHANGE || !lParam)
        return 0;
    const auto* r = reinterpret_cast<const PlatDevBroadcastDeviceInterface*>(lParam);
    if (r->size < PLAT_DEV_BROADCAST_FIXED + 1)
        return 0;
    const size_t room = r->size - PLAT_DEV_BROADCAST_FIXED;
    std::printf("WM_DEVICECHANGE 0x%04X %.*s\n", static_cast<unsigned>(wParam), static_cast<int>(strnlen(r->name, room)),
                r->name);
    std::fflush(stdout);
    return 0;
}

// A hidden window registered for the class, for the given time.
int Watch(const PlatGuid& guid, uint32_t seconds)
{
    PlatWindowDesc desc;
    desc.messageOnly = true;
    desc.procedure = WatchWindow;
    PlatHWND window = PlatCreateWindow(desc);
    PlatDevBroadcastDeviceInterface filter{};
    filter.size = sizeof filter;
    filter.deviceType = PLAT_DBT_DEVTYP_DEVICEINTERFACE;
    filter.classGuid = guid;
    void* notification = window ? OstraRegisterDeviceNotification(window, &filter, PLAT_DEVICE_NOTIFY_WINDOW_HANDLE)
                                : nullptr;
    if (!notification) {
        std::printf("register failed (error %u)\n", PlatGetLastError());
        if (window)
            PlatDestroyWindow(window);
        return 1;
    }
    std::fflush(stdout);
    PlatMsgWaitForSingleObject(nullptr, seconds * 1000);
    OstraUnregisterDeviceNotification(notification);
    PlatDestroyWindow(window);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    Target target;
    ParseGuid(kCameraClass, &target.guid);
    int at = 1;
    if (at < argc && !std::strcmp(argv[at], "--open")) {
        if (at + 1 >= argc)
            return Usage();
        const std::string opening = argv[at + 1];
        const size_t comma = opening.rfind(',');
        if (comma == std::string::npos || !ParseNumber(opening.c_str() + comma + 1, 0xFFFFFFFFu, &target.index))
            return Usage();
        const std::string what = opening.substr(0, comma);
        if (what.rfind("guid:", 0) == 0) {
            if (!ParseGuid(what.substr(5), &target.guid))
                return Usage();
        } else if (what.rfind("link:", 0) == 0) {
            target.byGuid = false;
            target.link = what.substr(5);
        } else {
            return Usage();
        }
        at += 2;
    }
    if (at >= argc)
        return Usage();
    if (!std::strcmp(argv[at], "list") && at + 1 == argc)
        return List(target) == 0 ? 0 : 1;
    if (!std::strcmp(argv[at], "watch")) {
        uint32_t seconds = 0;
        if (at + 2 != argc || !ParseNumber(argv[at + 1], 86400, &seconds))
            return Usage();
        return Watch(target.guid, seconds);
    }
    PlatHandle h = Open(target);
    if (h == PLAT_INVALID_HANDLE_VALUE) {
        std::printf("invalid handle\n");
        return 1;
    }
    const uint32_t r = Run(h, argc, argv, at);
    OstraCloseHandle(h);
    std::fflush(stdout);
    return r == 0 ? 0 : r == 2 ? 2 : 1;
}
