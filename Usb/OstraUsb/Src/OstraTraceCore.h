#pragma once
// The shared trace section and the operations on it, without the mutex and the events (the caller holds the
// mutex and signals the slots these name). Every field is read as damaged bytes may have left it: a slot
// number above 4 counts as slot 0, a used length above 4096 as 4096.
#include <cstddef>
#include <cstdint>

namespace ostra {

constexpr uint32_t kSlots = 5;
constexpr uint32_t kSlotText = 4096;

struct TraceSlot {
    uint32_t used;
    char text[kSlotText];
};

struct TraceSection {
    TraceSlot slots[kSlots];
    uint8_t oldest;
    uint8_t current;
    uint8_t initialised;
    uint8_t unused0;
    uint32_t processes;
    uint8_t cleared;
    uint8_t unused1[7];
    uint8_t enabled;
    uint8_t unused2[3];
    uint32_t ownerKey;
    uint8_t keyHeld;
    uint8_t unused3[3];
};
static_assert(offsetof(TraceSection, oldest) == 20500);
static_assert(offsetof(TraceSection, current) == 20501);
static_assert(offsetof(TraceSection, initialised) == 20502);
static_assert(offsetof(TraceSection, processes) == 20504);
static_assert(offsetof(TraceSection, cleared) == 20508);
static_assert(offsetof(TraceSection, enabled) == 20516);
static_assert(offsetof(TraceSection, ownerKey) == 20520);
static_assert(offsetof(TraceSection, keyHeld) == 20524);

// Receives the slots whose events are to be signalled.
class SlotSignal {
public:
    virtual ~SlotSignal() = default;
    virtual void Signal(uint32_t slot) = 0;
};

uint32_t SlotNumber(uint8_t field);
uint32_t NextSlot(uint32_t slot);
uint32_t UsedLength(const TraceSlot& slot);

// Signals the slots from the oldest to the current one.
void WakeReaders(const TraceSection& s, SlotSignal& signal);
// Empties the slots: oldest and current 0, every slot zeroed, the cleared flag set.
void ClearSlots(TraceSection& s);
// Appends count bytes of text (count at most 4096; the text holds at least count bytes) as the write does:
// into the current slot when they fit before its end, else into a fresh slot (the slot left is signalled).
// The used length grows by the bytes up to the first zero. Answers the slot to signal afterwards.
uint32_t Append(TraceSection& s, const char* text, uint32_t count, SlotSignal& signal);
// Copies slot (0-4) as 4100 bytes (its used length word clamped to 4096) into out and tells where a reader
// goes on: the current slot gives its used length and itself, another slot length 0 and the following slot.
void CopySlot(const TraceSection& s, uint32_t slot, uint8_t* out, uint32_t* next, uint32_t* length);

}  // namespace ostra
