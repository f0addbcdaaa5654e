// The shared trace section as damaged bytes left it: the first bytes of the input overlay the section's
// fields, the rest drives writes, copies, wake-ups and clears. Nothing outside the section may be touched.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "OstraTraceCore.h"

namespace {

class Checker : public ostra::SlotSignal {
public:
    void Signal(uint32_t slot) override
    {
        if (slot >= ostra::kSlots)
            std::abort();
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    auto section = std::make_unique<ostra::TraceSection>();
    std::memset(section.get(), 0, sizeof(*section));
    // Header fields (offset 20500 on), then each slot's used length word.
    constexpr size_t kHeader = sizeof(ostra::TraceSection) - offsetof(ostra::TraceSection, oldest);
    size_t at = 0;
    for (size_t i = 0; i < kHeader && at < size; ++i)
        reinterpret_cast<uint8_t*>(&section->oldest)[i] = data[at++];
    for (auto& slot : section->slots) {
        for (int b = 0; b < 4 && at < size; ++b)
            reinterpret_cast<uint8_t*>(&slot.used)[b] = data[at++];
    }
    Checker signal;
    std::vector<uint8_t> copy(4100);
    while (at < size) {
        const uint8_t op = data[at++];
        switch (op & 3) {
        case 0: {
            // A write of up to 4096 bytes, taken from the input (repeated when it runs short).
            uint32_t count = (uint32_t(op) << 5) % 4097;
            std::vector<char> text(count);
            for (uint32_t i = 0; i < count; ++i)
                text[i] = at < size ? char(data[at + (i % (size - at))]) : 'x';
            const uint32_t after = ostra::Append(*section, text.data(), count, signal);
            signal.Signal(after);
            if (ostra::UsedLength(section->slots[ostra::SlotNumber(section->current)]) > ostra::kSlotText)
                std::abort();
            break;
        }
        case 1: {
            uint32_t next = 0, length = 0;
            ostra::CopySlot(*section, op >> 2, copy.data(), &next, &length);
            if (next >= ostra::kSlots || length > ostra::kSlotText)
                std::abort();
            break;
        }
        case 2:
            ostra::WakeReaders(*section, signal);
            break;
        default:
            if (op & 4)
                ostra::ClearSlots(*section);
            else if (at < size)
                section->slots[data[at++] % ostra::kSlots].used = uint32_t(op) << 24 | op;
            break;
        }
    }
    return 0;
}
