// camio: the camera stack from the shell.
//   camio peek NAME HIGH LOW LENGTH     reads LENGTH bytes at HIGH:LOW and prints them as text when every byte
//                                       is printable, else as hexadecimal
//   camio poke NAME HIGH LOW HEXBYTES   writes the bytes at HIGH:LOW
//   camio links                         prints the device name of every camera the links find, one a line
// NAME is a device name: "FILE@path" (a camera emulated in a file), "1394@path" (the interface path of a 1394
// camera device) or "USB@tool_OstraUSB<n>" (the n-th camera on USB). HIGH and LOW are hexadecimal, with or
// without "0x"; LENGTH is decimal, or hexadecimal with "0x". Exit status 0 on success, 1 with the reason on
// failure.
// The camera commands go through the connections and the mailbox (NAME empty: the first camera that opens):
//   camio names                          the device names of the cameras attached, one a line
//   camio alive NAME                     "alive" (exit 0) or "not alive" (exit 1)
//   camio info NAME PATH                 the file's size, time (seconds since 1970) and attributes
//   camio get NAME PATH OUT [OFFSET COUNT]  copies the file (or COUNT bytes from OFFSET) into OUT
//   camio put NAME PATH OFFSET IN        writes the bytes of the file IN into the camera's file at OFFSET
//   camio rm NAME PATH                   deletes the file
//   camio attr NAME PATH FLAGS           sets the attributes: bit 0 lock, bit 1 mark
//   camio console NAME [TEXT]            writes TEXT to the camera's console, or prints what it has to say
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "CamioCamera.h"
#include "KCam1394Link.h"
#include "KCamFileLink.h"
#include "KCamUsbLink.h"
#include "PlatformError.h"

bool ParseCamioNumber(const char* text, bool hex, uint32_t* value)
{
    const char* p = text;
    int base = hex ? 16 : 10;
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
        p += 2;
        base = 16;
    }
    if (!*p)
        return false;
    uint64_t v = 0;
    for (; *p; ++p) {
        int digit;
        if (*p >= '0' && *p <= '9')
            digit = *p - '0';
        else if (base == 16 && *p >= 'a' && *p <= 'f')
            digit = *p - 'a' + 10;
        else if (base == 16 && *p >= 'A' && *p <= 'F')
            digit = *p - 'A' + 10;
        else
            return false;
        v = v * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
        if (v > 0xFFFFFFFFull)
            return false;
    }
    *value = static_cast<uint32_t>(v);
    return true;
}

namespace {

constexpr uint32_t kMaxLength = 16u << 20;

int Fail(const std::string& reason)
{
    fprintf(stderr, "camio: %s\n", reason.c_str());
    return 1;
}

int Usage()
{
    fprintf(stderr,
            "usage: camio peek NAME HIGH LOW LENGTH\n"
            "       camio poke NAME HIGH LOW HEXBYTES\n"
            "       camio names | alive NAME | info NAME PATH | get NAME PATH OUT [OFFSET COUNT]\n"
            "       camio put NAME PATH OFFSET IN | rm NAME PATH | attr NAME PATH FLAGS | console NAME [TEXT]\n"
            "       camio links\n"
            "NAME: FILE@path, 1394@path or USB@tool_OstraUSB<n>; HIGH, LOW: hexadecimal; LENGTH: hexadecimal\n"
            "with 0x, else decimal\n");
    return 1;
}


bool ParseHexBytes(const char* text, std::vector<uint8_t>* bytes)
{
    const size_t n = strlen(text);
    if (n == 0 || n % 2 != 0)
        return false;
    for (size_t i = 0; i < n; i += 2) {
        char pair[3] = {text[i], text[i + 1], 0};
        uint32_t v = 0;
        if (pair[0] == 'x' || pair[1] == 'x' || pair[0] == 'X' || pair[1] == 'X' || !ParseCamioNumber(pair, true, &v))
            return false;
        bytes->push_back(static_cast<uint8_t>(v));
    }
    return true;
}

std::string OpenFailure(const std::string& path)
{
    switch (PlatGetLastError()) {
    case PLAT_ERROR_ACCESS_DENIED:
        return "cannot open " + path + " for reading and writing (read-only, or not a file)";
    case PLAT_ERROR_FILE_NOT_FOUND:
    case PLAT_ERROR_PATH_NOT_FOUND:
        return "cannot create " + path + ": no such folder";
    default:
        return "cannot open " + path + " (error " + std::to_string(PlatGetLastError()) + ")";
    }
}

// The bytes as text when every one is printable, else as hexadecimal.
void PrintBytes(const std::vector<uint8_t>& bytes)
{
    bool printable = true;
    for (uint8_t b : bytes)
        printable = printable && b >= 0x20 && b < 0x7F;
    std::string out;
    if (printable) {
        out.assign(bytes.begin(), bytes.end());
    } else {
        static const char digits[] = "0123456789abcdef";
        for (uint8_t b : bytes) {
            out += digits[b >> 4];
            out += digits[b & 15];
        }
    }
    printf("%s\n", out.c_str());
}

std::string Address(uint32_t high, uint32_t low)
{
    char text[32];
    snprintf(text, sizeof(text), "0x%04X:0x%08X", high, low);
    return text;
}

// ---- 1394 ------------------------------------------------------------------------------------------------------

void PrintLinks1394()
{
    const uint32_t count = Count1394Devices();
    for (uint32_t i = 0; i < count; ++i) {
        char path[512];
        if (Get1394DeviceName(i, path, sizeof path))
            printf("1394@%s\n", path);
    }
}

// Reads or writes the bytes through the 1394 link, straight to the device at `path`.
int Transfer1394(const std::string& path, bool peek, uint32_t high, uint32_t low, std::vector<uint8_t>* bytes)
{
    Cam1394Device* device = Open1394Device(kCam1394DriverRow, path.c_str());
    if (!device)
        return Fail("cannot open the 1394 device " + path + " (error " + std::to_string(PlatGetLastError()) + ")");
    const auto length = static_cast<uint32_t>(bytes->size());
    const int ok = peek ? Read1394Block(device, low, high, bytes->data(), length)
                        : Write1394Block(device, low, high, bytes->data(), length);
    const uint32_t status = Get1394LastStatus(device);
    Close1394Device(device);
    if (!ok) {
        char text[16];
        snprintf(text, sizeof text, "0x%08X", status);
        return Fail(std::string(peek ? "cannot read " : "cannot write ") + std::to_string(length) + " bytes at " +
                    Address(high, low) + " (status " + text + ")");
    }
    return 0;
}

// ---- USB -------------------------------------------------------------------------------------------------------

// The cameras on USB, while the USB library can be loaded.
void PrintUsbLinks()
{
    const uint32_t count = CountUsbDevices();
    for (uint32_t i = 0; i < count; ++i) {
        char part[32];
        if (GetUsbDeviceName(i, part, sizeof part))
            printf("USB@%s\n", part);
    }
}

// Reads or writes the bytes through the USB link, straight to the device of the name's part.
int UsbTransfer(const std::string& name, bool peek, uint32_t high, uint32_t low, std::vector<uint8_t>* bytes)
{
    const std::string part = name.substr(4);
    uint32_t index = 0;
    if (!ParseUsbDeviceIndex(part.c_str(), &index))
        return Fail("unknown device name " + name + " (USB@tool_OstraUSB<n> names the n-th camera on USB)");
    if (!BindUsbLibrary())
        return Fail("the USB library OstraUsb.dll cannot be loaded");
    CamUsbDevice* device = OpenUsbDevice(kCamUsbDriverRow, part.c_str());
    if (!device)
        return Fail("no camera " + name + " on USB");
    const auto length = static_cast<uint32_t>(bytes->size());
    const int ok = peek ? ReadUsbBlock(device, low, high, bytes->data(), length)
                        : WriteUsbBlock(device, low, high, bytes->data(), length);
    CloseUsbDevice(device);
    if (!ok)
        return Fail(std::string(peek ? "cannot read " : "cannot write ") + std::to_string(length) + " bytes at " +
                    Address(high, low));
    return 0;
}

int Links()
{
    PrintLinks1394();
    PrintUsbLinks();
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc >= 2 && IsCamioCameraCommand(argv[1]))
        return RunCamioCameraCommand(argc, argv);
    if (argc == 2 && std::string(argv[1]) == "links")
        return Links();
    if (argc != 6)
        return Usage();
    const std::string command = argv[1];
    if (command != "peek" && command != "poke")
        return Usage();
    const std::string name = argv[2];
    uint32_t high = 0, low = 0;
    if (!ParseCamioNumber(argv[3], true, &high) || high > 0xFFFF)
        return Fail(std::string("not a 16-bit hexadecimal address space: ") + argv[3]);
    if (!ParseCamioNumber(argv[4], true, &low))
        return Fail(std::string("not a 32-bit hexadecimal address: ") + argv[4]);
    std::vector<uint8_t> bytes;
    if (command == "peek") {
        uint32_t length = 0;
        if (!ParseCamioNumber(argv[5], false, &length) || length > kMaxLength)
            return Fail(std::string("not a length of at most 16 MiB: ") + argv[5]);
        bytes.resize(length);
    } else if (!ParseHexBytes(argv[5], &bytes)) {
        return Fail(std::string("not an even number of hexadecimal digits: ") + argv[5]);
    } else if (bytes.size() > kMaxLength) {
        return Fail("more than 16 MiB to write");
    }

    if (name.compare(0, 5, "1394@") == 0 && name.size() > 5) {
        if (int failed = Transfer1394(name.substr(5), command == "peek", high, low, &bytes))
            return failed;
        if (command == "peek")
            PrintBytes(bytes);
        return 0;
    }
    if (name.compare(0, 4, "USB@") == 0) {
        if (int failed = UsbTransfer(name, command == "peek", high, low, &bytes))
            return failed;
        if (command == "peek")
            PrintBytes(bytes);
        return 0;
    }
    if (name.compare(0, 5, "FILE@") != 0 || name.size() == 5)
        return Fail("unknown device name " + name + " (FILE@path, 1394@path and USB@tool_OstraUSB<n> names are known)");
    const std::string path = name.substr(5);
    uint64_t offset = 0;
    if (!MapFileDeviceAddress(low, high, &offset))
        return Fail("address " + Address(high, low) + " is not in the emulated register spaces");
    CamFileDevice* device = OpenFileDevice(path.c_str());
    if (!device)
        return Fail(OpenFailure(path));
    const auto length = static_cast<uint32_t>(bytes.size());
    int ok = command == "peek" ? ReadFileDeviceBlock(device, low, high, bytes.data(), length)
                               : WriteFileDeviceBlock(device, low, high, bytes.data(), length);
    CloseFileDevice(device);
    if (!ok)
        return Fail(command == "peek" ? "cannot read " + std::to_string(length) + " bytes at " + Address(high, low)
                                      : "cannot write " + std::to_string(length) + " bytes at " + Address(high, low));
    if (command == "peek")
        PrintBytes(bytes);
    return 0;
}
