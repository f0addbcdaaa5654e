#pragma once
// The request buffer of the 1394 link and the checks its replies pass before their bytes are used.
//
// A request buffer is an 84-byte header of little-endian 32-bit words followed by the payload. It is allocated
// for a payload capacity c with c + 84 + 32 bytes: the payload-only form puts a 28-byte prefix in front of the
// data and asks for 4 more bytes behind it.
#include <cstdint>
#include <cstring>

#include "KCamDevices.h"

namespace cam1394 {

constexpr uint32_t kHeaderSize = 84;
constexpr uint32_t kPrefixSize = 28;    // payload-only form: {0, high, low, length, 128, 0, 0}
constexpr uint32_t kTrailerSize = 4;    // payload-only form: behind the data
constexpr uint32_t kSlack = kPrefixSize + kTrailerSize;
constexpr uint32_t kChunk = 8108;       // the largest payload of one transfer
constexpr uint32_t kMagic = 0x01020304;

enum : uint32_t {
    kCodeGetName = 0x81252004,
    kCodeGetGeneration = 0x81252008,
    kCodeRead = 0x8125200C,
    kCodeWrite = 0x81252010,
    kCodeWritePayloadOnly = 0x81252012,
    kCodeFastRead = 0x81252014,
    kCodeConfigArea = 0x81252018,
};

enum : uint32_t {
    kStatusBusy = 0x80000011,
    kStatusNotImplemented = 0xC0000002,
    kStatusPreset = 87,
};

// Header fields (byte offsets).
enum : uint32_t {
    kMagicAt = 0,
    kSequenceAt = 4,
    kCodeAt = 12,
    kAddressLowAt = 16,
    kAddressHighAt = 20,
    kInputSizeAt = 24,
    kOutputSizeAt = 28,
    kCapacityAt = 32,
    kHintAt = 36,
    kFastHintAt = 44,
    kGenerationAt = 52,
    kStatusAt = 72,
    kSuccessAt = 76,
    kCompletionAt = 80,
};

inline uint32_t Word(const uint8_t* at)
{
    uint32_t v;
    std::memcpy(&v, at, 4);
    return v;
}
inline void PutWord(uint8_t* at, uint32_t v)
{
    std::memcpy(at, &v, 4);
}
inline uint32_t Field(const uint8_t* request, uint32_t offset)
{
    return Word(request + offset);
}
inline void SetField(uint8_t* request, uint32_t offset, uint32_t v)
{
    PutWord(request + offset, v);
}

// Bytes of a request buffer of payload capacity `capacity`.
constexpr uint64_t BufferBytes(uint32_t capacity)
{
    return uint64_t(capacity) + kHeaderSize + kSlack;
}

// A header-form reply: the device-control returned `returned` bytes for an output of `asked` payload bytes. Whole
// when the success flag is set and the bytes cover the header and at most the asked payload; then the output
// payload size becomes the payload returned.
bool AcceptHeaderReply(uint8_t* request, uint32_t asked, uint32_t returned);

// A payload-only read reply of `returned` bytes in `payload` (prefix, data, trailer). Whole when it holds at least
// the prefix and the trailer; then the data is moved to the front and *delivered is its length (at most `asked`).
bool AcceptPayloadOnlyReadReply(uint8_t* payload, uint32_t asked, uint32_t returned, uint32_t* delivered);

// A configuration area as a device returned it (`returned` payload bytes): false unless all 896 bytes came; the
// area is then copied over `area` with its entry count cut to the entries it can hold.
bool AcceptConfigArea(const uint8_t* payload, uint32_t returned, CamConfigArea* area);

}  // namespace cam1394
