#pragma once
// The camera's firmware: its register map, byte views, lookup, commands, console and transfer engine, run on
// the state of an open session.
#include <sys/stat.h>

#include <cstdint>
#include <string>
#include <vector>

#include "CameraState.h"

namespace simcam {

enum class Face { Bus1394, Usb };

// A piece of data the transfer engine hands to the host.
struct Delivery {
    uint64_t hostAddress;
    std::vector<uint8_t> data;
};

constexpr uint64_t Address(uint32_t high, uint32_t low) { return (uint64_t(high) << 32) | low; }

constexpr uint64_t kTransferLength = Address(0x1009, 0x0);
constexpr uint64_t kNameArea = Address(0x1009, 0x4);
constexpr uint64_t kLookupStatus = Address(0x1009, 0x100);
constexpr uint64_t kFileSize = Address(0x1009, 0x104);
constexpr uint64_t kFileAttributes = Address(0x1009, 0x108);
constexpr uint64_t kFileTime = Address(0x1009, 0x10C);
constexpr uint64_t kCheckWord = Address(0x1009, 0x010000F0);
constexpr uint64_t kArgOffset = Address(0x1009, 0x010000F4);
constexpr uint64_t kArgLength = Address(0x1009, 0x010000F8);
constexpr uint64_t kCommandWord = Address(0x1009, 0x010000FC);
constexpr uint64_t kCommandStatus = Address(0x1009, 0x01000100);
constexpr uint64_t kDataWindow = Address(0x1009, 0x10000000);
constexpr uint64_t kHostLock = Address(0x1007, 0x0);
constexpr uint64_t kConsole = Address(0x1007, 0x80);
constexpr uint64_t kEngine = Address(0x1006, 0);
constexpr uint64_t kEngineCameraHi = kEngine + 228;
constexpr uint64_t kEngineCameraLo = kEngine + 232;
constexpr uint64_t kEngineSize = kEngine + 236;
constexpr uint64_t kEngineHostHi = kEngine + 240;
constexpr uint64_t kEngineHostLo = kEngine + 244;
constexpr uint64_t kEnginePacket = kEngine + 248;
constexpr uint64_t kEngineCommand = kEngine + 252;
constexpr uint64_t kEngineStatus = kEngine + 256;
constexpr uint64_t kEngineSpare = kEngine + 260;
constexpr uint64_t kRom1394 = Address(0xFFFF, 0xF0000404);
constexpr uint64_t kMagic = Address(0xFFFF, 0xF0010000);
constexpr uint64_t kEntryCount = Address(0xFFFF, 0xF0010004);
constexpr uint64_t kEntryTable = Address(0xFFFF, 0xF0010010);
constexpr uint64_t kAddressEnd = 1ull << 48;

constexpr uint32_t kMagicValue = 0x4B56434B;  // "KVCK" most significant byte first
constexpr uint32_t kEngineStart = 0xDEFE1111;
constexpr uint32_t kEngineStop = 0xDEFE0000;
constexpr uint32_t kCommandRead = 0xF11E0EAD;
constexpr uint32_t kCommandWrite = 0xF11EFEED;
constexpr uint32_t kCommandDelete = 0xF11EDE1E;
constexpr size_t kEngineMax = 1 << 20;

class Firmware {
public:
    explicit Firmware(Session& session) : m_S(session), m_St(session.State()) {}

    // Bus-byte accesses through a face. False (and nothing done) when part of the range is not mapped.
    // quadRule: a 4-byte USB transfer at a byte area travels reversed (false for request 8).
    bool Read(Face face, uint64_t address, uint8_t* out, size_t length, bool quadRule = true);
    bool Write(Face face, uint64_t address, const uint8_t* data, size_t length, std::vector<Delivery>* deliveries);
    // USB request 8: the 4 bytes that answer it (the magic in its 1394 bytes, other quadlets little-endian).
    bool ReadInteger(uint64_t address, uint8_t out[4]);
    bool IsMapped(uint64_t address, size_t length);

private:
    enum class Region { Unmapped, Register, Name, Window, Console, Rom };
    struct Span {
        Region region;
        uint64_t start;
        uint64_t end;
    };
    struct Entry {
        uint32_t words[4];
    };

    Span Classify(uint64_t address);
    std::vector<Entry> Entries() const;
    bool Reversed(Face face, Region region, bool usbQuad) const;
    void Encode(uint32_t value, uint8_t out[4]) const;
    uint32_t Decode(const uint8_t in[4]) const;

    uint32_t PeekRegister(uint64_t address);
    uint32_t ReadRegister(uint64_t address);
    void WriteRegister(uint64_t address, uint32_t value, std::vector<Delivery>* deliveries);

    void ReadNatural(Region region, uint64_t offset, uint8_t* out, size_t length, bool effects);
    void WriteNatural(Region region, uint64_t offset, const uint8_t* data, size_t length);
    bool ScratchRead(uint64_t address, uint8_t* out, size_t length);
    bool ScratchWrite(uint64_t address, const uint8_t* data, size_t length);

    void Lookup();
    bool RunCommand(uint32_t word);
    bool CommandRead();
    bool CommandWrite();
    bool CommandDelete();
    void SetAttributes(uint32_t value);
    std::vector<uint8_t> DeviceBytes(Found found);
    void StartEngine(std::vector<Delivery>* deliveries);
    uint32_t Now() const;

    Session& m_S;
    CameraState& m_St;
    size_t m_ConsoleRead = 0;  // bytes of the console block that the current read takes
};

// A plain file or folder on the card, walked from the card's root without following symbolic links.
struct CardItem {
    int dir = -1;           // the folder holding it (owned; the card itself for the root)
    std::string leaf;       // its name as it stands in that folder ("" for the root)
    std::string relative;   // card-relative path as it stands on the card ("" for the root)
    struct stat st{};
    CardItem() = default;
    CardItem(const CardItem&) = delete;
    CardItem& operator=(const CardItem&) = delete;
    ~CardItem();
    bool IsFolder() const { return S_ISDIR(st.st_mode); }
};

// Finds a camera path ("/cf/images/A.KZR"; the leading '/' may be left out) on the card. False for "..", a
// symbolic link, anything that is not a plain file or folder, or nothing.
bool FindOnCard(int card, const std::string& cameraPath, CardItem* item);
// Case-insensitive match with '*' and '?'.
bool PatternMatch(const char* pattern, const char* name);

}  // namespace simcam
