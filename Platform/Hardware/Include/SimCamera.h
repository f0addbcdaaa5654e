#pragma once
// The simulated camera: the tree's only hardware double.
//
// A camera lives in the machine folder (PlatformMachine.h), in hardware/cameras/<id>/:
//   card/     the camera's card, a folder of files: camera path "/cf/images/IMG_0001.KZR" is
//             card/cf/images/IMG_0001.KZR. Camera paths never leave it: "..", and symbolic links, give "not
//             found"; a name is matched exactly first, then without regard to ASCII case.
//   state     registers, name area, console, USB latches, per-file lock/mark/whole/nogrow bits, knobs and the
//             plug state (a text file; a damaged one reads as far as it makes sense, the rest as power-on)
//   window    the data window (byte n of the current transfer at 0x1009:0x10000000 + n)
//   scratch   scratch memory (knob "scratch"): 24-byte records, a block's 48-bit address then its 16 bytes
//   listing   the text of the last pattern lookup
//   log       one line per access: face, process, operation, high:low, length, result
//   lock      every access holds an exclusive flock on it, so all processes (and threads) see one camera
// The firmware runs in the process that makes the access; nothing is cached between accesses.
//
// The camera's register map, as the host sees it:
//   0x1009:0x0        transfer length word (plain)
//   0x1009:0x4..0x7F  name area (bytes); a write sets the lookup status to 0x01 and starts a lookup of the name
//                     (up to its first zero byte), resolved at the next read of 0x100 (or later: knob lookup-busy)
//   0x1009:0x100      lookup status: file 0x02|0x08, plus 0x10|0x20|0x40 unless locked (0x40 also not with
//                     nogrow), plus 0x80 in whole-file mode; pattern ('*', '?') 0x02|0x08 with the listing text as
//                     the file; folder 0x02; nothing 0x00
//   0x1009:0x104/108/10C  size, attributes (bit 0 lock, bit 1 mark; a write sets the file's lock and mark), time
//   0x1009:0x010000F0..FC  check word, offset, length, command (read 0xF11E0EAD, write 0xF11EFEED,
//                     delete 0xF11EDE1E); 0x01000100 command status (2 done, 0 refused or unknown, 1 busy)
//   0x1009:0x10000000+n  data window
//   0x1007:0x0        host lock flag (plain); 0x1007:0x80..0xFF console block (byte 0 the length, then text):
//                     text written is echoed back, queued for reading
//   0x1006:228..260   transfer engine: camera address hi/lo (228, 232), size (236), host address hi/lo (240,
//                     244), packet size (248), command (252), status (256), spare (260)
//   0xFFFF:0xF0000404 "1394"; 0xFFFF:0xF0010000 magic, 0xF0010004 entry count, 0xF0010010 + 16 i entry i
//   Device files: "/dev/Time" (clock, read-write), "/dev/Battery", "/dev/CF" (capacity and free KiB), in
//   little-endian words.
// Any other address is an address error, or scratch memory with the knob "scratch".
//
// Byte views (order KVCK keeps quadlets most significant byte first, KCVK least significant first):
//   1394: quadlet registers in the camera's order; name area and data window quadlet-reversed; console
//         quadlet-reversed for KVCK only; "1394" as it stands.
//   USB:  request 8 gives the magic as its 1394 bytes and any other quadlet little-endian; bulk transfers of a
//         quadlet register carry its 1394 bytes; name area and data window natural, console quadlet-reversed for
//         KCVK; a 4-byte bulk transfer at a byte area below low 0x10000000 is reversed (as the host link does).
//
// Knobs (SetCameraKnob, camsim knob): "level" and "engine" on|off (the 0x40000 and 0x50000 entries), "entries"
// N or "all" (the entry count read; entries past the table are address errors), "lookup-busy" N, "command-busy" N,
// "command-fails" N, "bad-crc" N, "scratch" on|off, "preamble" on|off (each bulk IN first answers "VI!"),
// "stall" N, "not-responding" N, "reply6" N (bulk INs answering 6 bytes), "usb-delay" milliseconds (before each
// USB transaction), "engine-busy" N (status reads that still say busy after a transfer), "engine-silent"
// on|off (a started transfer never delivers), "battery" N. The busy knobs hold for every lookup, command or
// transfer; "command-fails", "bad-crc", "stall", "not-responding" and "reply6" count down as they act.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace simcam {

enum class ByteOrder { KVCK, KCVK };
enum class Plug { None, Bus1394, Usb };

const char* PlugName(Plug plug);            // "none", "1394", "usb"
const char* OrderName(ByteOrder order);     // "KVCK", "KCVK"

// Camera ids: 1 to 64 of [A-Za-z0-9_-].
bool IsValidCameraId(const std::string& id);
// <machine>/hardware/cameras/<id>, and its card/ folder (neither is created).
std::string CameraFolder(const std::string& id);
std::string CardFolder(const std::string& id);

struct CameraSummary {
    std::string id;
    Plug plug = Plug::None;
    ByteOrder order = ByteOrder::KVCK;
};

// Management, as the tool and tests drive it. Each returns false with a message in *error (may be null).
bool NewCamera(const std::string& id, ByteOrder order, std::string* error);
bool PlugCamera(const std::string& id, Plug plug, std::string* error);
// Power-on again: registers 0, console empty, window empty; card, file bits, knobs and plug kept.
bool ResetCamera(const std::string& id, std::string* error);
// Copies `source` onto the card as /cf/images/<name> (empty name: the next IMG_nnnn.KZR), marked. The camera
// path made goes to *cameraPath.
bool ShootPicture(const std::string& id, const std::string& source, const std::string& name,
                  std::string* cameraPath, std::string* error);
// flag: "lock", "mark", "whole" or "nogrow"; the path is a camera path of a file or folder on the card.
bool SetCameraFileFlag(const std::string& id, const std::string& cameraPath, const std::string& flag, bool on,
                       std::string* error);
// value: "on", "off" or a decimal number (see the knob list above).
bool SetCameraKnob(const std::string& id, const std::string& key, const std::string& value, std::string* error);
bool ReadCameraLog(const std::string& id, std::string* text, std::string* error);
bool GetCamera(const std::string& id, CameraSummary* out);
// Every camera of the machine, sorted by id.
std::vector<CameraSummary> ListCameras();
// The number of cameras plugged into USB now.
size_t UsbCameraCount();
// On a Windows NT 4 machine the USB kernel driver keeps one value per camera plugged into USB in
// HKLM\System\CurrentControlSet\Control\Rokit\DeviceNotification, named after the interface class and the link
// name ("{3219D400-E372-4B5D-AB0F-D2594CD9084D}#KUSB<n>"): makes the values of the cameras on USB now, and
// removes those of the link numbers from the count now up to `before` (the count before a change). Other values
// are left alone. Plugging and unplugging do this; so does the driver when it starts.
void SyncUsbNotificationValues(size_t before = 0);

// CRC-16, polynomial 0x1021, initial value 0, most significant bit first, no final XOR.
uint16_t Crc16(const uint8_t* data, size_t length, uint16_t crc = 0);

// ---- The 1394 face: what the simulated 1394 bus calls. -----------------------------------------------------
// Addresses are the 48-bit offsets of the camera's node (high 16 bits the space, low 32 bits). Block reads and
// writes must be quadlet-aligned in address and length (else TypeError) and stay within mapped registers
// (else AddressError). NoDevice when the camera is gone or not plugged into 1394.
enum class BusResult { Complete, AddressError, TypeError, NoDevice };

// The bus's way of letting the camera write into the host: data for the host's address. The transfer engine
// calls it in PacketSize pieces, in order, after a write of the start command, from the writing thread and
// outside the camera's lock (it may itself access the camera). Its answer is ignored.
using HostWriter = std::function<void(uint64_t hostAddress, const uint8_t* data, size_t length)>;

class Camera1394 {
public:
    virtual ~Camera1394() = default;
    virtual const std::string& Id() const = 0;
    virtual BusResult ReadBlock(uint64_t address, void* buffer, size_t length) = 0;
    virtual BusResult WriteBlock(uint64_t address, const void* data, size_t length) = 0;
    virtual void SetHostWriter(HostWriter writer) = 0;
};

// Null when there is no camera of that id (whatever its plug: the accesses tell).
std::unique_ptr<Camera1394> OpenCamera1394(const std::string& id);

// ---- The USB face: what the simulated USB kernel driver calls. ---------------------------------------------
// Results are the USB driver's codes: 0 done, kUsbStall, kUsbNotResponding (also when the camera is gone or not
// plugged into USB), 87 for a request the camera has no place for (an unknown pipe).
constexpr uint32_t kUsbOk = 0;
constexpr uint32_t kUsbInvalidParameter = 87;
constexpr uint32_t kUsbStall = 0xE0100004;
constexpr uint32_t kUsbNotResponding = 0xE0100005;

// Vendor requests (request type 0x40): 0 and 1 latch the read or write address (6 bytes out: high as 16-bit
// little-endian, then the upper and the lower 16 bits of low, each little-endian); 4 and 5 latch the bulk IN or
// OUT length (value << 16 | index); 8 answers 4 bytes from the read address. Anything else stalls.
// Bulk: pipe 0 OUT writes at the write address, pipe 1 IN reads at the read address, each moving at most the
// latched length, and advancing the address. A stalled pipe stays stalled until ClearStall.
struct UsbIdentity {
    uint16_t vendorId;
    uint16_t productId;
    uint16_t deviceRelease;
    std::vector<uint8_t> deviceDescriptor;         // 18 bytes
    std::vector<uint8_t> configurationDescriptor;  // configuration, interface and two bulk endpoints
    const char* manufacturer;  // UTF-8 (string 1)
    const char* product;       // UTF-8 (string 2), not all ASCII
    std::vector<uint16_t> languageIds;
    // The device-interface class the kernel driver publishes for the camera.
    const char* interfaceClass;  // "{3219D400-E372-4B5D-AB0F-D2594CD9084D}"
    uint8_t bulkOutEndpoint;     // pipe 0
    uint8_t bulkInEndpoint;      // pipe 1
};
const UsbIdentity& CameraUsbIdentity();

class CameraUsb {
public:
    virtual ~CameraUsb() = default;
    virtual const std::string& Id() const = 0;
    virtual const UsbIdentity& Identity() const = 0;
    // hostToDevice: data (length bytes) goes to the camera; else the camera fills it. *transferred: bytes moved.
    virtual uint32_t ControlTransfer(uint8_t requestType, uint8_t request, uint16_t value, uint16_t index,
                                     bool hostToDevice, void* data, uint32_t length, uint32_t* transferred) = 0;
    virtual uint32_t BulkTransfer(uint32_t pipe, void* data, uint32_t length, uint32_t* transferred) = 0;
    virtual uint32_t ClearStall(uint32_t pipe) = 0;
    // The "usb-delay" knob: milliseconds each transaction takes (0 when the camera is gone).
    virtual uint32_t UsbDelay() = 0;
};

std::unique_ptr<CameraUsb> OpenCameraUsb(const std::string& id);

}  // namespace simcam
