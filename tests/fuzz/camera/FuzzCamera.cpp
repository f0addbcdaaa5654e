// Fuzzes the simulated camera: a damaged state, window or listing file, then any sequence of 1394 accesses,
// USB requests and tool operations. Nothing may crash, and nothing outside the camera's folder may change:
// the card holds symbolic links out of it, and a file beside the machine folder is watched.
//
// Input: byte 0 = order (bit 0) and the file to damage (bits 1-2: none, state, window, listing); a 16-bit
// length and that many bytes for it; then operations, each an opcode byte and its arguments.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "SimCamera.h"

namespace {

namespace fs = std::filesystem;

class Reader {
public:
    Reader(const uint8_t* data, size_t size) : m_Data(data), m_Size(size) {}
    bool More() const { return m_At < m_Size; }
    uint8_t U8() { return m_At < m_Size ? m_Data[m_At++] : 0; }
    uint16_t U16() { return uint16_t(U8() | U8() << 8); }
    uint32_t U32() { return uint32_t(U16()) | uint32_t(U16()) << 16; }
    std::vector<uint8_t> Bytes(size_t n)
    {
        n = std::min(n, m_Size - m_At);
        std::vector<uint8_t> out(m_Data + m_At, m_Data + m_At + n);
        m_At += n;
        return out;
    }

private:
    const uint8_t* m_Data;
    size_t m_Size;
    size_t m_At = 0;
};

struct Scratch {
    fs::path root, machine, outside, secret;
    Scratch()
    {
        char tmpl[] = "/tmp/lumo-fuzz-camera-XXXXXX";
        if (!mkdtemp(tmpl))
            std::abort();
        root = tmpl;
        machine = root / "machine";
        outside = root / "outside";
        secret = outside / "secret.txt";
        fs::create_directories(machine);
        fs::create_directories(outside);
        std::ofstream(secret) << "outside the camera";
        setenv("LUMO_MACHINE", machine.c_str(), 1);
    }
    ~Scratch()
    {
        std::error_code ec;
        fs::remove_all(root, ec);
    }
};

Scratch& Dirs()
{
    static Scratch scratch;
    return scratch;
}

uint64_t Base(uint8_t selector, Reader& in)
{
    static const uint64_t bases[] = {
        0x100900000000ull, 0x100900000100ull, 0x1009010000F0ull, 0x100910000000ull, 0x100700000000ull,
        0x100700000080ull, 0x1006000000E4ull, 0xFFFFF0000404ull, 0xFFFFF0010000ull, 0xFFFFF0010010ull,
    };
    const size_t n = sizeof bases / sizeof bases[0];
    if (selector % (n + 1) == n)
        return (uint64_t(in.U16()) << 32 | in.U32()) & 0xFFFFFFFFFFFFull;
    return bases[selector % (n + 1)] + (in.U8() & 0xFC);
}

const char* const kPaths[] = {
    "/cf/images/IMG_0001.KZR", "/cf/images/*", "/cf/images", "/", "/out/secret.txt", "/../outside/secret.txt",
    "/cf/images/LINK.KZR",     "/dev/Time",    "/dev/CF",    "/dev/Battery", "/*", "/cf/images/NEW.KZR",
};
const char* const kKnobs[] = {"level", "engine", "entries", "lookup-busy", "command-busy", "command-fails",
                              "bad-crc", "scratch", "preamble", "stall", "not-responding", "reply6",
                              "engine-busy", "engine-silent", "battery"};
const char* const kFlags[] = {"lock", "mark", "whole", "nogrow"};

void Check(const fs::path& secret, const fs::path& outside, const fs::path& machine)
{
    std::ifstream in(secret);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    size_t outsideCount = 0, machineCount = 0;
    for (auto& e : fs::directory_iterator(outside)) {
        (void)e;
        ++outsideCount;
    }
    for (auto& e : fs::directory_iterator(machine)) {
        if (e.path().filename() != "hardware")
            ++machineCount;
    }
    if (text != "outside the camera" || outsideCount != 1 || machineCount != 0) {
        std::fprintf(stderr, "the camera wrote outside its folder\n");
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Scratch& dirs = Dirs();
    Reader in(data, size);
    const uint8_t head = in.U8();
    const simcam::ByteOrder order = (head & 1) ? simcam::ByteOrder::KCVK : simcam::ByteOrder::KVCK;
    const fs::path cameraFolder = dirs.machine / "hardware/cameras/c1";
    std::error_code ec;
    fs::remove_all(cameraFolder, ec);
    if (!simcam::NewCamera("c1", order, nullptr) || !simcam::PlugCamera("c1", simcam::Plug::Bus1394, nullptr))
        std::abort();
    const fs::path card = cameraFolder / "card";
    std::ofstream(card / "cf/images/IMG_0001.KZR") << std::string(200, 'k');
    fs::create_directory_symlink(dirs.outside, card / "out", ec);
    fs::create_symlink(dirs.secret, card / "cf/images/LINK.KZR", ec);

    const int damaged = (head >> 1) & 3;
    std::vector<uint8_t> bytes = in.Bytes(in.U16());
    if (damaged != 0) {
        if (damaged == 1) {
            // A damaged state may ask for long USB pauses; the fuzzer has no time for them.
            std::string text(bytes.begin(), bytes.end());
            for (size_t at; (at = text.find("usb-delay")) != std::string::npos;)
                text[at] = 'x';
            bytes.assign(text.begin(), text.end());
        }
        const char* names[] = {"", "state", "window", "listing"};
        std::ofstream out(cameraFolder / names[damaged], std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    }

    auto node = simcam::OpenCamera1394("c1");
    auto usb = simcam::OpenCameraUsb("c1");
    if (!node || !usb)
        std::abort();
    size_t delivered = 0;
    node->SetHostWriter([&](uint64_t, const uint8_t* piece, size_t length) {
        if (!piece && length)
            std::abort();
        delivered += length;
    });
    std::vector<uint8_t> buffer(20000);
    for (int ops = 0; in.More() && ops < 100; ++ops) {
        const uint8_t op = in.U8();
        switch (op % 12) {
        case 0: {
            uint64_t address = Base(in.U8(), in);
            size_t length = size_t(in.U8()) * 4;
            node->ReadBlock(address, buffer.data(), length);
            break;
        }
        case 1: {
            uint64_t address = Base(in.U8(), in);
            std::vector<uint8_t> b = in.Bytes(size_t(in.U8()) * 4);
            node->WriteBlock(address, b.data(), b.size());
            break;
        }
        case 2: {
            uint8_t type = (in.U8() & 1) ? 0x40 : 0xC0;
            uint8_t request = in.U8() % 10;
            uint16_t value = in.U16(), index = in.U16();
            bool out = in.U8() & 1;
            std::vector<uint8_t> b = in.Bytes(in.U8() % 12);
            b.resize(16);
            uint32_t done = 0;
            usb->ControlTransfer(type, request, value, index, out, b.data(), uint32_t(b.size() > 0 ? b.size() : 0),
                                 &done);
            break;
        }
        case 3: {
            uint32_t pipe = in.U8() % 3;
            uint32_t length = in.U16() % 20001;
            std::vector<uint8_t> b = in.Bytes(std::min<size_t>(length, 64));
            std::copy(b.begin(), b.end(), buffer.begin());
            uint32_t done = 0;
            usb->BulkTransfer(pipe, buffer.data(), length, &done);
            if (done > length)
                std::abort();
            break;
        }
        case 4:
            usb->ClearStall(in.U8() % 3);
            break;
        case 5:
            simcam::PlugCamera("c1", simcam::Plug(in.U8() % 3), nullptr);
            break;
        case 6: {
            const char* key = kKnobs[in.U8() % (sizeof kKnobs / sizeof kKnobs[0])];
            uint8_t v = in.U8();
            simcam::SetCameraKnob("c1", key, v < 2 ? (v ? "on" : "off") : std::to_string(v % 8), nullptr);
            break;
        }
        case 7:
            simcam::SetCameraFileFlag("c1", kPaths[in.U8() % (sizeof kPaths / sizeof kPaths[0])],
                                      kFlags[in.U8() % 4], in.U8() & 1, nullptr);
            break;
        case 8: {
            // The name area, written as the host's 1394 link would (any text, or one of the paths).
            uint8_t pick = in.U8();
            std::string name = pick < 200 ? kPaths[pick % (sizeof kPaths / sizeof kPaths[0])]
                                          : [&] {
                                                std::vector<uint8_t> t = in.Bytes(in.U8() % 124);
                                                return std::string(t.begin(), t.end());
                                            }();
            std::vector<uint8_t> b((name.size() + 4) & ~size_t(3), 0);
            std::memcpy(b.data(), name.data(), std::min(name.size(), b.size()));
            if (b.size() > 124)
                b.resize(124);
            for (size_t i = 0; i + 4 <= b.size(); i += 4)
                std::swap(b[i], b[i + 3]), std::swap(b[i + 1], b[i + 2]);
            node->WriteBlock(0x100900000004ull, b.data(), b.size());
            break;
        }
        case 9: {
            // A command with its arguments, in the camera's order.
            const bool kvck = order == simcam::ByteOrder::KVCK;
            auto put = [&](uint32_t low, uint32_t v) {
                uint8_t q[4];
                for (int i = 0; i < 4; ++i)
                    q[kvck ? 3 - i : i] = uint8_t(v >> (8 * i));
                node->WriteBlock(0x100900000000ull | low, q, 4);
            };
            static const uint32_t words[] = {0xF11E0EAD, 0xF11EFEED, 0xF11EDE1E, 0};
            put(0x010000F4, in.U16());
            put(0x010000F8, in.U16());
            put(0x010000F0, in.U16());
            put(0x010000FC, words[in.U8() % 4]);
            break;
        }
        case 10:
            simcam::ResetCamera("c1", nullptr);
            break;
        default: {
            std::vector<uint8_t> t = in.Bytes(in.U8() % 16);
            const fs::path source = dirs.root / "shot";
            std::ofstream(source, std::ios::binary).write(reinterpret_cast<const char*>(t.data()),
                                                          std::streamsize(t.size()));
            simcam::ShootPicture("c1", source.string(), (in.U8() & 1) ? "" : "../escape", nullptr, nullptr);
            fs::remove(source, ec);
            break;
        }
        }
    }
    std::string log;
    simcam::ReadCameraLog("c1", &log, nullptr);
    simcam::ListCameras();
    Check(dirs.secret, dirs.outside, dirs.machine);
    return 0;
}
