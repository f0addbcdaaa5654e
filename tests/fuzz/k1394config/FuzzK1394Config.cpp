// Fuzzes what the 1394 driver reads back from a camera: configuration areas (any entry count, entry types and
// words, either byte order) and the answers of the camera-driven transfer engine (status values, busy answers,
// packet sizes and addresses), all through the simulated camera on the simulated bus. Nothing may crash, the
// area's count stays at most 50, and a successful camera-driven read returns the camera's bytes.
//
// Input: byte 0 = camera (bit 0: KVCK or KCVK), level entry (bit 1), engine entry (bit 2), camera-driven read
// (bit 3); then the entry count (u32), a busy count (u8), a status value for the engine (u32), the read's
// packet size (u16), size (u16) and camera address low offset (u32); then entries of four u32 words written
// past the camera's own table (which scratch memory backs), as many as there are bytes for.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "K1394Device.h"
#include "PlatformKernelHost.h"
#include "SimBus1394.h"
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

private:
    const uint8_t* m_Data;
    size_t m_Size;
    size_t m_At = 0;
};

NTSTATUS NoEntry(PDRIVER_OBJECT, PUNICODE_STRING) { return STATUS_SUCCESS; }

void Check(bool ok, const char* what)
{
    if (!ok) {
        std::fprintf(stderr, "fuzz_k1394config: %s\n", what);
        std::abort();
    }
}

struct Rig {
    fs::path root;
    PDRIVER_OBJECT driver = nullptr;
    PK1394_DEVICE_EXTENSION devices[2] = {};
    std::vector<uint8_t> window;  // the data window as the 1394 face shows it
    const char* ids[2] = {"kv", "kc"};

    Rig()
    {
        char tmpl[] = "/tmp/lumo-fuzz-k1394-XXXXXX";
        Check(mkdtemp(tmpl) != nullptr, "no scratch folder");
        root = tmpl;
        setenv("LUMO_MACHINE", (root / "machine").c_str(), 1);
        std::string error;
        Check(simcam::NewCamera("kv", simcam::ByteOrder::KVCK, &error), "camera");
        Check(simcam::NewCamera("kc", simcam::ByteOrder::KCVK, &error), "camera");
        for (const char* id : ids)
            Check(simcam::PlugCamera(id, simcam::Plug::Bus1394, &error), "plug");
        Check(simbus::StartBus1394(&error), "bus");
        driver = KernCreateDriver("K1394Fuzz", NoEntry, nullptr);
        Check(driver != nullptr, "driver");
        for (int i = 0; i < 2; ++i) {
            std::u16string name = u"\\Device\\K1394" + std::u16string(1, char16_t(u'0' + i));
            UNICODE_STRING counted{USHORT(name.size() * 2), USHORT(name.size() * 2), name.data()};
            PDEVICE_OBJECT object = nullptr;
            Check(NT_SUCCESS(IoCreateDevice(driver, sizeof(K1394_DEVICE_EXTENSION), &counted, 0x8125, 0, FALSE, &object)),
                  "device");
            devices[i] = static_cast<PK1394_DEVICE_EXTENSION>(object->DeviceExtension);
            K1394InitializeDeviceExtension(devices[i]);
            Check(NT_SUCCESS(Rk1394Initialize(nullptr, object, &counted, simbus::Bus1394NodeDevice(ids[i]))), "init");
            Check(NT_SUCCESS(Rk1394GetConfiguration(devices[i])), "configuration");
        }
        // A picture read into each camera's data window.
        fs::path picture = root / "picture";
        std::vector<uint8_t> bytes(16384);
        for (size_t i = 0; i < bytes.size(); ++i)
            bytes[i] = uint8_t(i * 31 + (i >> 8));
        FILE* f = std::fopen(picture.c_str(), "wb");
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
        for (const char* id : ids)
            Fill(id, picture.string(), bytes.size());
    }

    void Fill(const char* id, const std::string& picture, size_t size)
    {
        std::string path, error;
        Check(simcam::ShootPicture(id, picture, "", &path, &error), "shoot");
        auto node = simcam::OpenCamera1394(id);
        bool kcvk = std::string(id) == "kc";
        auto put = [&](uint32_t low, uint32_t v) {
            uint8_t q[4];
            for (int i = 0; i < 4; ++i)
                q[i] = kcvk ? uint8_t(v >> (8 * i)) : uint8_t(v >> (24 - 8 * i));
            node->WriteBlock(0x1009'00000000ull | low, q, 4);
        };
        std::vector<uint8_t> name(path.begin(), path.end());
        name.resize((name.size() + 4) & ~size_t(3), 0);
        for (size_t i = 0; i < name.size(); i += 4) {
            std::swap(name[i], name[i + 3]);
            std::swap(name[i + 1], name[i + 2]);
        }
        node->WriteBlock(0x1009'00000004ull, name.data(), name.size());
        uint8_t status[4];
        node->ReadBlock(0x1009'00000100ull, status, 4);
        put(0x010000F4, 0);
        put(0x010000F8, uint32_t(size));
        put(0x010000FC, 0xF11E0EAD);
        window.resize(size);
        Check(node->ReadBlock(0x1009'10000000ull, window.data(), size) == simcam::BusResult::Complete, "window");
    }
};

Rig& TheRig()
{
    static Rig* rig = new Rig;
    return *rig;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Rig& rig = TheRig();
    Reader in(data, size);
    const uint8_t flags = in.U8();
    const int which = flags & 1;
    const char* id = rig.ids[which];
    PK1394_DEVICE_EXTENSION device = rig.devices[which];
    const uint32_t count = in.U32();
    const uint32_t busy = in.U8() % 24;
    const uint32_t status = in.U32();
    const uint32_t packet = in.U16();
    const uint32_t sizeWord = in.U16();
    const uint32_t readLow = in.U32();

    simcam::SetCameraKnob(id, "scratch", "on", nullptr);
    simcam::SetCameraKnob(id, "level", flags & 2 ? "on" : "off", nullptr);
    simcam::SetCameraKnob(id, "engine", flags & 4 ? "on" : "off", nullptr);
    simcam::SetCameraKnob(id, "entries", std::to_string(count), nullptr);
    simcam::SetCameraKnob(id, "engine-busy", std::to_string(busy), nullptr);
    simcam::SetCameraKnob(id, "engine-silent", "off", nullptr);

    // Entries past the camera's own table (3 to 5 of them), in the camera's byte order.
    auto node = simcam::OpenCamera1394(id);
    const uint32_t own = 3 + ((flags >> 1) & 1) + ((flags >> 2) & 1);
    for (uint32_t i = own; i < 50 && in.More(); ++i)
        for (uint32_t w = 0; w < 4; ++w) {
            uint32_t v = in.U32();
            uint8_t q[4];
            for (int b = 0; b < 4; ++b)
                q[b] = which ? uint8_t(v >> (8 * b)) : uint8_t(v >> (24 - 8 * b));
            node->WriteBlock(0xFFFF'F0010010ull + 16 * i + 4 * w, q, 4);
        }

    ReadQuarelConfigurationAreaK1394(device);
    Check(device->ConfigArea.EntryCount <= K1394_MAX_CONFIG_ENTRIES, "more than 50 entries");
    Check(device->ConfigArea.Present == 1, "the magic was not read");

    // The engine's status register holds the given answer until the driver writes it.
    {
        uint8_t q[4];
        for (int b = 0; b < 4; ++b)
            q[b] = which ? uint8_t(status >> (8 * b)) : uint8_t(status >> (24 - 8 * b));
        node->WriteBlock(0x1006'00000100ull, q, 4);
    }

    // A camera-driven read, where the transfer area is the camera's engine (a register block in scratch memory
    // would only ever time out).
    if ((flags & 8) && device->CdtArea.Valid && device->CdtArea.RegisterBase == 0x100600000000ull) {
        // A read goes in chunks of at most four packets: small packets make thousands of register accesses, each
        // through the camera's files, so the read is kept to at most eight chunks.
        const uint32_t effective = packet ? packet : device->ConfigArea.CdtPacketSize;
        const uint32_t chunkMax = 4 * std::max<uint32_t>(effective & ~3u, 4);
        const uint32_t readSize = sizeWord % std::min<uint32_t>(12289, 8 * chunkMax + 1);
        std::vector<uint8_t> buffer(84 + readSize + 16);
        auto* header = reinterpret_cast<K1394_REQUEST_HEADER*>(buffer.data());
        header->Magic = K1394_HEADER_MAGIC;
        header->AddressHigh = 0x1009;
        header->AddressLow = flags & 16 ? readLow : 0x10000000 + (readLow & 0x1FFC);
        header->OutputSize = readSize;
        header->PacketSize = packet;
        header->Status = ULONG(STATUS_INVALID_PARAMETER);
        K1394_CameraDrivenRead(device, header);
        Check(header->OutputSize <= readSize, "delivered more than asked");
        if (header->Success && header->AddressLow >= 0x10000000 &&
            uint64_t(header->AddressLow - 0x10000000) + readSize <= rig.window.size())
            Check(std::memcmp(K1394Payload(header), rig.window.data() + (header->AddressLow - 0x10000000), readSize) == 0,
                  "the camera's bytes came back wrong");
        Check(device->CurrentCdtRequest == nullptr, "a read left itself as the current one");
    }
    simbus::DrainBus1394();
    return 0;
}
