#include "OstraTraceCore.h"

#include <cstring>

namespace ostra {

uint32_t SlotNumber(uint8_t field)
{
    return field < kSlots ? field : 0;
}

uint32_t NextSlot(uint32_t slot)
{
    return slot + 1 < kSlots ? slot + 1 : 0;
}

uint32_t UsedLength(const TraceSlot& slot)
{
    return slot.used < kSlotText ? slot.used : kSlotText;
}

void WakeReaders(const TraceSection& s, SlotSignal& signal)
{
    const uint32_t current = SlotNumber(s.current);
    uint32_t slot = SlotNumber(s.oldest);
    for (uint32_t i = 0; i < kSlots; ++i) {
        signal.Signal(slot);
        if (slot == current)
            break;
        slot = NextSlot(slot);
    }
}

void ClearSlots(TraceSection& s)
{
    s.oldest = 0;
    s.current = 0;
    std::memset(s.slots, 0, sizeof(s.slots));
    s.cleared = 1;
}

uint32_t Append(TraceSection& s, const char* text, uint32_t count, SlotSignal& signal)
{
    if (count > kSlotText)
        count = kSlotText;
    uint32_t current = SlotNumber(s.current);
    uint32_t oldest = SlotNumber(s.oldest);
    TraceSlot* slot = &s.slots[current];
    uint32_t used = UsedLength(*slot);
    if (count >= kSlotText - used) {
        signal.Signal(current);
        current = NextSlot(current);
        if (current == oldest)
            oldest = NextSlot(oldest);
        slot = &s.slots[current];
        std::memset(slot, 0, sizeof(*slot));
        used = 0;
    }
    s.current = static_cast<uint8_t>(current);
    s.oldest = static_cast<uint8_t>(oldest);
    if (count > 0)
        std::memcpy(slot->text + used, text, count);
    slot->used = used + static_cast<uint32_t>(strnlen(slot->text + used, count));
    return current;
}

void CopySlot(const TraceSection& s, uint32_t slot, uint8_t* out, uint32_t* next, uint32_t* length)
{
    if (slot >= kSlots)
        slot = 0;
    const TraceSlot& from = s.slots[slot];
    const uint32_t used = UsedLength(from);
    std::memcpy(out, &used, 4);
    std::memcpy(out + 4, from.text, kSlotText);
    if (slot == SlotNumber(s.current)) {
        *length = used;
        *next = slot;
    } else {
        *length = 0;
        *next = NextSlot(slot);
    }
}

}  // namespace ostra
