// k1394: the 1394 camera driver from user mode, through the device services as a program reaches it.
//
//   k1394 [--device N] [--threads N] COMMAND
//     list                          the driver's interface paths
//     devices                       device name, camera id and driver file of each device
//     follow SECONDS [CHANGES]      "added NAME ID" and "removed NAME" as cameras come and go, for SECONDS or
//                                   until CHANGES lines are printed
//     getname [--capacity N]        K1394_GetName (payload capacity N, default 12)
//     read|cdt HIGH LOW LENGTH [--out FILE]   asynchronous or camera-driven read
//     write HIGH LOW FILE           asynchronous write of the file's bytes
//     config [--out N] [--save FILE]          the configuration area (output size N, default 896)
//     raw CODE [--in N] [--out N]   a header with function CODE, sent with control code CODE
//     raw CODE --bare N             N zeroed bytes, no header
// A request opens the N-th interface path (default 0) and prints
// "status=0x%08X success=N out=N gen=N returned=N" and, when it succeeded, its payload (text when printable, else
// hex; with --out or --save the payload goes to the file instead); a failed device-control request prints "error N" and exits 1.
// --threads N sends the request from N threads started 100 ms apart.
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "PlatformDevices.h"
#include "PlatformKernelHost.h"

namespace {

constexpr PlatGuid kInterface = {0x5030D1C7, 0x169B, 0x4D1D, {0x9F, 0x88, 0xAB, 0x03, 0xB4, 0x10, 0xCD, 0x0C}};
constexpr uint32_t kMagic = 0x01020304;
constexpr uint32_t kHeader = 84;

int Usage()
{
    std::fprintf(stderr,
                 "usage: k1394 [--device N] [--threads N] COMMAND\n"
                 "  list | devices | follow SECONDS [CHANGES]\n"
                 "  getname [--capacity N]\n"
                 "  read|cdt HIGH LOW LENGTH [--out FILE]\n"
                 "  write HIGH LOW FILE\n"
                 "  config [--out N] [--save FILE]\n"
                 "  raw CODE [--in N] [--out N] | raw CODE --bare N\n");
    return 2;
}

bool Number(const std::string& text, uint32_t* value)
{
    if (text.empty())
        return false;
    char* end = nullptr;
    errno = 0;
    unsigned long long v = std::strtoull(text.c_str(), &end, 0);
    if (errno || !end || *end || v > 0xFFFFFFFFull || text[0] == '-')
        return false;
    *value = static_cast<uint32_t>(v);
    return true;
}

std::vector<std::string> InterfacePaths()
{
    std::vector<std::string> paths;
    PlatHandle set = PlatGetClassDevs(&kInterface, PLAT_DIGCF_PRESENT | PLAT_DIGCF_DEVICEINTERFACE);
    if (set == PLAT_INVALID_HANDLE_VALUE)
        return paths;
    for (uint32_t i = 0;; ++i) {
        PlatDeviceInterfaceData data{};
        data.cbSize = sizeof data;
        if (!PlatEnumDeviceInterfaces(set, &kInterface, i, &data))
            break;
        uint32_t needed = 0;
        PlatGetDeviceInterfaceDetail(set, &data, nullptr, 0, &needed);
        std::vector<uint8_t> memory(needed + sizeof(PlatDeviceInterfaceDetail));
        auto* detail = reinterpret_cast<PlatDeviceInterfaceDetail*>(memory.data());
        detail->cbSize = sizeof(PlatDeviceInterfaceDetail);
        if (PlatGetDeviceInterfaceDetail(set, &data, detail, needed, nullptr))
            paths.push_back(detail->devicePath);
    }
    PlatDestroyDeviceInfoList(set);
    return paths;
}

std::string Narrow(const std::u16string& s)
{
    return std::string(s.begin(), s.end());
}

bool WriteFile(const std::string& path, const uint8_t* data, size_t size)
{
    const std::string temporary = path + ".part";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), std::streamsize(size));
        out.flush();
        if (!out) {
            std::remove(temporary.c_str());
            return false;
        }
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}

std::string Payload(const uint8_t* data, size_t size)
{
    size_t text = size;
    while (text > 0 && data[text - 1] == 0)
        --text;
    bool printable = text > 0;
    for (size_t i = 0; i < text && printable; ++i)
        printable = data[i] >= 0x20 && data[i] < 0x7F;
    if (printable)
        return std::string(reinterpret_cast<const char*>(data), text);
    std::string hex;
    char b[4];
    for (size_t i = 0; i < size; ++i) {
        std::snprintf(b, sizeof b, i ? " %02x" : "%02x", data[i]);
        hex += b;
    }
    return hex;
}

uint32_t Word(const std::vector<uint8_t>& buffer, size_t offset)
{
    uint32_t v = 0;
    std::memcpy(&v, buffer.data() + offset, 4);
    return v;
}

void PutWord(std::vector<uint8_t>* buffer, size_t offset, uint32_t v)
{
    std::memcpy(buffer->data() + offset, &v, 4);
}

struct Request {
    uint32_t code = 0;
    std::vector<uint8_t> buffer;
    std::string saveTo;
};

// A header with its payload area, as the driver's clients build one.
Request MakeRequest(uint32_t code, uint32_t high, uint32_t low, uint32_t in, uint32_t out, uint32_t capacity)
{
    Request r;
    r.code = code;
    r.buffer.assign(kHeader + size_t(std::max(std::max(in, out), capacity)), 0);
    PutWord(&r.buffer, 0, kMagic);
    PutWord(&r.buffer, 4, 1);
    PutWord(&r.buffer, 12, code);
    PutWord(&r.buffer, 16, low);
    PutWord(&r.buffer, 20, high);
    PutWord(&r.buffer, 24, in);
    PutWord(&r.buffer, 28, out);
    PutWord(&r.buffer, 32, capacity);
    return r;
}

std::mutex g_Print;

// Sends one request on the handle and prints its outcome; false when the device-control request failed.
bool Send(PlatHandle device, Request request, bool bare)
{
    std::vector<uint8_t>& b = request.buffer;
    uint32_t returned = 0;
    const bool ok = PlatDeviceIoControl(device, request.code, b.data(), uint32_t(b.size()), b.data(),
                                        uint32_t(b.size()), &returned, nullptr);
    const uint32_t error = PlatGetLastError();
    std::lock_guard<std::mutex> guard(g_Print);
    if (!ok) {
        std::printf("error %u\n", error);
        std::fflush(stdout);
        return false;
    }
    if (bare || returned < kHeader) {
        std::printf("returned=%u\n", returned);
        if (returned)
            std::printf("%s\n", Payload(b.data(), returned).c_str());
        std::fflush(stdout);
        return true;
    }
    const uint32_t out = Word(b, 28);
    std::printf("status=0x%08X success=%u out=%u gen=%u returned=%u\n", Word(b, 72), Word(b, 76), out, Word(b, 52),
                returned);
    const size_t payload = std::min<size_t>(out, returned - kHeader);
    if (!request.saveTo.empty()) {
        if (!WriteFile(request.saveTo, b.data() + kHeader, payload)) {
            std::fprintf(stderr, "k1394: cannot write %s\n", request.saveTo.c_str());
            std::fflush(stdout);
            return false;
        }
    } else if (payload && Word(b, 76)) {
        std::printf("%s\n", Payload(b.data() + kHeader, payload).c_str());
    }
    std::fflush(stdout);
    return true;
}

int Follow(uint32_t seconds, uint32_t changes)
{
    uint32_t printed = 0;
    InterfacePaths();  // brings the kernel and its devices up in this process
    std::map<std::u16string, std::string> known;
    for (const Kern1394Device& d : KernGet1394Devices())
        known[d.name] = d.cameraId;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < until && (changes == 0 || printed < changes)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        std::map<std::u16string, std::string> now;
        for (const Kern1394Device& d : KernGet1394Devices())
            now[d.name] = d.cameraId;
        for (const auto& [name, id] : known)
            if (!now.count(name)) {
                std::printf("removed %s\n", Narrow(name).c_str());
                ++printed;
            }
        for (const auto& [name, id] : now)
            if (!known.count(name)) {
                std::printf("added %s %s\n", Narrow(name).c_str(), id.c_str());
                ++printed;
            }
        std::fflush(stdout);
        known.swap(now);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> a(argv + 1, argv + argc);
    uint32_t deviceIndex = 0;
    uint32_t threads = 1;
    size_t at = 0;
    while (at + 1 < a.size() && (a[at] == "--device" || a[at] == "--threads")) {
        uint32_t* target = a[at] == "--device" ? &deviceIndex : &threads;
        if (!Number(a[at + 1], target))
            return Usage();
        at += 2;
    }
    if (at >= a.size() || threads == 0 || threads > 64)
        return Usage();
    const std::string command = a[at];
    std::vector<std::string> rest(a.begin() + std::ptrdiff_t(at) + 1, a.end());

    if (command == "list" && rest.empty()) {
        for (const std::string& path : InterfacePaths())
            std::printf("%s\n", path.c_str());
        return 0;
    }
    if (command == "devices" && rest.empty()) {
        InterfacePaths();
        for (const Kern1394Device& d : KernGet1394Devices())
            std::printf("%s %s %s\n", Narrow(d.name).c_str(), d.cameraId.c_str(), d.driverFile.c_str());
        return 0;
    }
    if (command == "follow" && (rest.size() == 1 || rest.size() == 2)) {
        uint32_t seconds = 0, changes = 0;
        if (!Number(rest[0], &seconds) || seconds > 86400 || (rest.size() == 2 && !Number(rest[1], &changes)))
            return Usage();
        return Follow(seconds, changes);
    }

    // The requests.
    Request request;
    bool bare = false;
    std::map<std::string, std::string> options;
    std::vector<std::string> words;
    for (size_t i = 0; i < rest.size(); ++i) {
        if (rest[i].rfind("--", 0) == 0) {
            if (i + 1 >= rest.size() || options.count(rest[i]))
                return Usage();
            options[rest[i]] = rest[i + 1];
            ++i;
        } else {
            words.push_back(rest[i]);
        }
    }
    auto option = [&](const char* name, uint32_t fallback, uint32_t* value) {
        auto it = options.find(name);
        if (it == options.end()) {
            *value = fallback;
            return true;
        }
        return Number(it->second, value);
    };
    auto allowed = [&](std::initializer_list<const char*> names) {
        for (const auto& [key, value] : options) {
            bool known = false;
            for (const char* n : names)
                known = known || key == n;
            if (!known)
                return false;
        }
        return true;
    };
    uint32_t high = 0, low = 0, length = 0;
    if (command == "getname" && words.empty() && allowed({"--capacity"})) {
        uint32_t capacity;
        if (!option("--capacity", 12, &capacity) || capacity > 0x1000000)
            return Usage();
        request = MakeRequest(0x81252004, 0, 0, 0, 12, capacity);
    } else if ((command == "read" || command == "cdt") && words.size() == 3 && allowed({"--out"}) &&
               Number(words[0], &high) && Number(words[1], &low) && Number(words[2], &length) &&
               length <= 0x4000000) {
        request = MakeRequest(command == "read" ? 0x8125200C : 0x81252014, high, low, 0, length, length);
        if (options.count("--out"))
            request.saveTo = options["--out"];
    } else if (command == "write" && words.size() == 3 && options.empty() && Number(words[0], &high) &&
               Number(words[1], &low)) {
        std::ifstream in(words[2], std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "k1394: cannot read %s\n", words[2].c_str());
            return 1;
        }
        std::vector<uint8_t> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (data.size() > 0x4000000) {
            std::fprintf(stderr, "k1394: %s is too large\n", words[2].c_str());
            return 1;
        }
        request = MakeRequest(0x81252010, high, low, uint32_t(data.size()), 0, uint32_t(data.size()));
        std::memcpy(request.buffer.data() + kHeader, data.data(), data.size());
    } else if (command == "config" && words.empty() && allowed({"--out", "--save"})) {
        uint32_t out;
        if (!option("--out", 896, &out) || out > 0x1000000)
            return Usage();
        request = MakeRequest(0x81252018, 0, 0, 0, out, out);
        if (options.count("--save"))
            request.saveTo = options["--save"];
    } else if (command == "raw" && words.size() == 1 && Number(words[0], &high) &&
               allowed({"--in", "--out", "--bare"})) {
        uint32_t in, out, size;
        if (options.count("--bare")) {
            if (options.size() != 1 || !option("--bare", 0, &size) || size > 0x1000000)
                return Usage();
            bare = true;
            request.code = high;
            request.buffer.assign(size, 0);
        } else {
            if (!option("--in", 0, &in) || !option("--out", 0, &out) || in > 0x1000000 || out > 0x1000000)
                return Usage();
            request = MakeRequest(high, 0, 0, in, out, std::max(in, out));
        }
    } else {
        return Usage();
    }

    const std::vector<std::string> paths = InterfacePaths();
    if (deviceIndex >= paths.size()) {
        std::fprintf(stderr, "k1394: there is no device %u (%zu found)\n", deviceIndex, paths.size());
        return 1;
    }
    PlatHandle device = PlatCreateDeviceFile(paths[deviceIndex].c_str(), 0, 3, 0);
    if (device == PLAT_INVALID_HANDLE_VALUE) {
        std::printf("error %u\n", PlatGetLastError());
        return 1;
    }
    bool ok = true;
    if (threads == 1) {
        ok = Send(device, request, bare);
    } else {
        std::vector<std::thread> senders;
        std::mutex lock;
        for (uint32_t i = 0; i < threads; ++i) {
            if (i)
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            senders.emplace_back([&, request] {
                bool sent = Send(device, request, bare);
                std::lock_guard<std::mutex> guard(lock);
                ok = ok && sent;
            });
        }
        for (std::thread& t : senders)
            t.join();
    }
    PlatCloseHandle(device);
    return ok ? 0 : 1;
}
