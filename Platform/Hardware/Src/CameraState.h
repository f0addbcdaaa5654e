#pragma once
// The camera's state as kept in its folder, and a session: the folder opened, the lock held, the state read.
#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "SimCamera.h"

namespace simcam {

// Per-file bits, keyed by the card-relative path of the file as it stands on the card.
enum : uint32_t {
    kFileLock = 1,
    kFileMark = 2,
    kFileWhole = 4,
    kFileNoGrow = 8,
};

// What the last lookup found.
enum class Found : uint32_t { Nothing, File, Folder, Listing, Time, Battery, Card };

struct Knobs {
    bool level = true;
    bool engine = true;
    uint32_t entries = 0xFFFFFFFFu;  // as many as there are
    uint32_t lookupBusy = 0;
    uint32_t commandBusy = 0;
    uint32_t commandFails = 0;
    uint32_t badCrc = 0;
    bool scratch = false;
    bool preamble = false;
    uint32_t stall = 0;
    uint32_t notResponding = 0;
    uint32_t reply6 = 0;
    uint32_t usbDelay = 0;
    uint32_t engineBusy = 0;
    bool engineSilent = false;
    uint32_t battery = 8;
};

constexpr size_t kNameAreaSize = 124;
constexpr size_t kConsoleSize = 128;
constexpr size_t kConsoleQueueMax = 4096;
constexpr size_t kScratchBlocksMax = 4096;  // 16-byte blocks

// Scratch memory: 16-byte blocks by their 48-bit address, kept sorted in one array (an access reads and writes
// it whole, so it stays one allocation however many blocks there are).
class ScratchMemory {
public:
    using Block = std::array<uint8_t, 16>;
    size_t Size() const { return m_Blocks.size(); }
    bool Empty() const { return m_Blocks.empty(); }
    void Clear() { m_Blocks.clear(); }
    bool Has(uint64_t address) const { return Find(address) != nullptr; }
    // The block at the address, or null.
    const Block* Find(uint64_t address) const;
    // The block at the address, made (zeros) when missing.
    Block& At(uint64_t address);
    // Adds a block unless its address has one already.
    void Add(uint64_t address, const Block& block);
    // The file's form: per block the address (8 bytes, little-endian), then its 16 bytes, in address order.
    std::string Bytes() const;
    // Adds the blocks of the file's form (invalid records skipped, at most kScratchBlocksMax blocks in all).
    void Parse(const std::string& bytes);

private:
    std::vector<std::pair<uint64_t, Block>> m_Blocks;
};

struct CameraState {
    ByteOrder order = ByteOrder::KVCK;
    Plug plug = Plug::None;
    std::map<uint64_t, uint32_t> regs;  // quadlet registers by 48-bit address, as numbers
    std::array<uint8_t, kNameAreaSize> name{};
    bool lookupPending = false;
    uint32_t lookupBusyLeft = 0;
    Found found = Found::Nothing;
    std::string foundPath;  // card-relative, as found
    uint32_t commandBusyLeft = 0;
    uint32_t commandFinal = 0;
    uint32_t engineBusyLeft = 0;
    int64_t clockOffset = 0;
    std::string consoleQueue;
    std::array<uint8_t, kConsoleSize> consoleOut{};
    std::array<uint8_t, kConsoleSize> consoleIn{};
    uint32_t consoleInEnd = 0;
    uint64_t usbReadAddress = 0;
    uint64_t usbWriteAddress = 0;
    uint32_t usbInLength = 0;
    uint32_t usbOutLength = 0;
    std::array<bool, 2> usbHalted{};
    bool usbPreambleSent = false;
    std::map<std::string, uint32_t> fileFlags;
    // Kept in a file of its own ("scratch"), read only by the accesses that reach it (Session::Scratch).
    ScratchMemory scratch;
    bool scratchLoaded = false;   // (not kept) scratch holds the file's blocks
    bool scratchChanged = false;  // (not kept) scratch needs writing
    Knobs knobs;

    // Back to power-on, keeping what power does not touch (order, plug, file bits, knobs).
    void PowerOn();
};

// Sets a knob from its text ("on", "off" or a decimal number); false for an unknown key or value.
bool SetKnobValue(Knobs* knobs, const std::string& key, const std::string& value);

std::string SerializeState(const CameraState& state);
// Reads what it can; the rest stays as it was.
void ParseState(const std::string& text, CameraState* state);

// A camera folder opened under its lock. Every access makes one, does its work and lets it go; the state is
// written back when it was changed.
class Session {
public:
    // Opens hardware/cameras/<id> (not following symbolic links) and takes its lock.
    explicit Session(const std::string& id);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    bool Ok() const { return m_Dir >= 0 && m_Lock >= 0; }
    const std::string& Error() const { return m_Error; }
    CameraState& State() { return m_State; }
    void Touch() { m_Dirty = true; }
    // Writes the state now (when changed); false when it could not.
    bool Save();
    int Dir() const { return m_Dir; }
    // Scratch memory, read from its file on first use.
    ScratchMemory& Scratch();
    // The card folder, opened once per session; -1 when it is missing or not a folder.
    int Card();
    void Log(const char* face, const char* operation, uint64_t address, size_t length, const char* result);

    // The data window and the listing (files in the camera folder).
    size_t WindowSize();
    void ReadWindow(uint64_t offset, uint8_t* out, size_t length);
    bool WriteWindow(uint64_t offset, const uint8_t* data, size_t length);
    bool SetWindow(const std::vector<uint8_t>& data);
    std::string ReadListing();
    bool WriteListing(const std::string& text);

private:
    int OpenFile(const char* name, int flags);

    std::string m_Id;
    std::string m_Error;
    int m_Dir = -1;
    int m_Lock = -1;
    int m_Card = -2;
    int m_Window = -1;
    bool m_Dirty = false;
    std::string m_Text;  // the state file as read or last written
    CameraState m_State;
};

// The camera's plug, byte order and "usb-delay" knob (usbDelay may be null), as its state file says, read
// without taking its lock: the state file is only ever replaced whole, so a reader sees one state or the next.
// False when there is no camera of that id.
bool ReadStateSummary(const std::string& id, CameraSummary* summary, uint32_t* usbDelay);

// Largest data window (the host's second window starts here).
constexpr uint64_t kWindowMax = 0x08000000;

// Writes `data` to a file in the folder dir: a temporary beside it, then a rename. False when anything fails
// (nothing is left behind then).
bool WriteFileAt(int dir, const std::string& name, const std::string& data, int mode = 0644);

// The folder hardware/cameras in the machine folder; created when `create`. -1 when missing.
int OpenCamerasFolder(bool create);

}  // namespace simcam
