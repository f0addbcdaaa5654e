// Fuzzes the checks a 1394 camera device's replies pass before the link uses their bytes: a header-form reply,
// a payload-only read reply and a configuration area, each as a device may return it.
//
// Input: byte 0 = which reply (0 header, 1 payload-only read, 2 configuration area); a 32-bit size asked and a
// 32-bit count of bytes returned; then the reply's bytes (as many as there are, in a request buffer of the
// link's size).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "Cam1394Request.h"

using namespace cam1394;

namespace {

uint32_t U32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void Check(bool ok)
{
    if (!ok)
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 9)
        return 0;
    const uint8_t which = data[0] % 3;
    uint32_t asked = U32(data + 1);
    uint32_t returned = U32(data + 5);
    std::vector<uint8_t> request(BufferBytes(kChunk), 0);
    const size_t n = std::min(size - 9, request.size());
    std::memcpy(request.data(), data + 9, n);
    // A device never returns more than the output it was given; the link asks at most its capacity.
    asked %= kChunk + 1;
    if (which == 0) {
        returned %= kHeaderSize + asked + 64;
        if (AcceptHeaderReply(request.data(), asked, returned)) {
            const uint32_t payload = Field(request.data(), kOutputSizeAt);
            Check(payload <= asked && uint64_t(payload) + kHeaderSize == returned);
            volatile uint8_t sum = 0;
            for (uint32_t i = 0; i < payload; ++i)
                sum = uint8_t(sum + request[kHeaderSize + i]);
        }
    } else if (which == 1) {
        returned %= asked + kSlack + 64;
        uint8_t* payload = request.data() + kHeaderSize;
        uint32_t delivered = 0;
        if (AcceptPayloadOnlyReadReply(payload, asked, returned, &delivered))
            Check(delivered <= asked && uint64_t(delivered) + kSlack <= returned);
    } else {
        CamConfigArea area;
        ResetCamConfigArea(&area);
        if (AcceptConfigArea(request.data() + kHeaderSize, returned, &area)) {
            Check(area.entryCount <= kCamMaxConfigEntries);
            // Look-ups by type walk the entries the count names.
            volatile uint32_t found = 0;
            for (uint32_t i = 0; i < area.entryCount; ++i)
                if (area.entries[i].type == kCamEntryFastRead)
                    found = found + area.entries[i].value3;
        } else {
            Check(returned < sizeof(CamConfigArea));
        }
    }
    return 0;
}
