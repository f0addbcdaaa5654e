// The USB library's reading of driver replies: descriptor trace lines and string replies converted to the
// ANSI code page. Byte 0 picks the caller's capacity for the text; the rest is the reply.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "OstraReplies.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const uint32_t capacity = data[0];
    std::vector<uint8_t> reply(data + 1, data + size);  // exactly the reply's bytes
    const uint32_t n = static_cast<uint32_t>(reply.size());
    for (auto kind : {ostra::DescriptorKind::Device, ostra::DescriptorKind::Configuration,
                      ostra::DescriptorKind::Interface, ostra::DescriptorKind::Endpoint}) {
        // A driver may claim more bytes than the record: only the record's bytes are read.
        std::vector<uint8_t> record(ostra::DescriptorSize(kind), 0);
        for (uint32_t i = 0; i < record.size() && i < n; ++i)
            record[i] = reply[i];
        ostra::DescribeDescriptor(kind, record.data(), n, 0x1234);
    }
    std::vector<char> out(capacity);
    uint32_t copied = 0;
    if (ostra::ReplyToAnsi(reply.data(), n, out.data(), capacity, &copied) == 0 && copied > capacity)
        std::abort();
    return 0;
}
