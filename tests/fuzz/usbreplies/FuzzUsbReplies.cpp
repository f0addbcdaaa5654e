// The USB link's reading of the camera's answers: the bulk IN replies of one chunk and the configuration area
// read quadlet by quadlet. Byte 0 picks what is read: bit 0 the configuration area, else a chunk at one of
// eight addresses (bits 1-3) of a size from bytes 1-2. The rest are the camera's answers, each a byte whose
// low bits choose success, a stall or another error, a 16-bit length claimed, then the bytes delivered.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "CamUsbReplies.h"

namespace {

struct Replies {
    const uint8_t* data;
    size_t size;
    size_t at;

    bool Take(size_t n, const uint8_t** out)
    {
        if (size - at < n)
            return false;
        *out = data + at;
        at += n;
        return true;
    }
};

uint32_t Transfer(void* context, CamUsbStage, uint32_t, uint8_t* buffer, uint32_t length, uint32_t* moved)
{
    auto* r = static_cast<Replies*>(context);
    *moved = 0;
    const uint8_t* head = nullptr;
    if (!r->Take(3, &head))
        return 0xE0100005;
    if ((head[0] & 7) == 1)
        return 0xE0100004;
    if ((head[0] & 7) == 2)
        return 0xE0100005;
    const uint32_t claimed = uint32_t(head[1]) | uint32_t(head[2]) << 8;
    const uint32_t delivered = std::min<uint32_t>(claimed, length);
    const uint8_t* bytes = nullptr;
    if (!r->Take(delivered, &bytes))
        return 0xE0100005;
    memcpy(buffer, bytes, delivered);
    // A driver may claim more than it delivered: the reader must not take it at its word.
    *moved = claimed;
    return 0;
}

int ReadInteger(void* context, uint32_t, uint32_t, uint32_t* value)
{
    auto* r = static_cast<Replies*>(context);
    const uint8_t* bytes = nullptr;
    if (!r->Take(5, &bytes) || (bytes[0] & 15) == 0)
        return 0;
    memcpy(value, bytes + 1, 4);
    return 1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 3)
        return 0;
    Replies replies{data, size, 3};
    if (data[0] & 1) {
        CamConfigArea area;
        ResetCamConfigArea(&area);
        const CamUsbIntegerPort port{&replies, ReadInteger};
        FillUsbConfigurationArea(port, &area);
        if (area.entryCount > kCamMaxConfigEntries || area.areaRead > 1)
            std::abort();
        return 0;
    }
    static const uint32_t addresses[8][2] = {
        {0x0, 0x1009},        {0x100, 0x1009},      {0x10000000, 0x1009}, {0xF0000404, 0xFFFF},
        {0xFFFFE000, 0x2000}, {0x0FFFFFFC, 0x1009}, {0x4, 0x1007},        {0x10000010, 0x1008},
    };
    const uint32_t* a = addresses[(data[0] >> 1) & 7];
    const uint32_t remaining = (uint32_t(data[1]) | uint32_t(data[2]) << 8) % 20000 + 1;
    const uint32_t chunk = UsbReadChunkSize(a[0], a[1], remaining);
    if (chunk == 0 || chunk > kCamUsbMaxChunk || chunk > remaining)
        std::abort();
    const CamUsbBulkPort port{&replies, Transfer};
    std::vector<uint8_t> scratch(kCamUsbMaxChunk), out(chunk);
    uint32_t received = 0;
    if (ReceiveUsbChunk(port, a[0], a[1], chunk, scratch.data(), out.data(), &received) &&
        (received == 0 || received > chunk || received % 4 != 0))
        std::abort();
    return 0;
}
