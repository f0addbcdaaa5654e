// The camera's answers over USB, apart from the transport.
#include "CamUsbReplies.h"

#include <algorithm>
#include <cstring>

#include "KCamLinkSupport.h"

bool IsUsbWindowRead(uint32_t low, uint32_t high)
{
    return high > kCamUsbWindowHigh || (high == kCamUsbWindowHigh && low >= kCamUsbWindowLow);
}

uint32_t UsbReadChunkSize(uint32_t low, uint32_t high, uint32_t remaining)
{
    if (IsUsbWindowRead(low, high)) {
        if (remaining >= 16384)
            return 16384;
        if (remaining >= 4096)
            return 4096;
        if (remaining >= 1024)
            return 1024;
        if (remaining >= 129)
            return 128;
    }
    return std::min<uint32_t>(remaining, 16);
}

uint32_t UsbWriteChunkSize(uint32_t remaining)
{
    return std::min<uint32_t>(remaining, 16);
}

void UsbAddressBytes(uint32_t low, uint32_t high, uint8_t out[6])
{
    out[0] = static_cast<uint8_t>(high);
    out[1] = static_cast<uint8_t>(high >> 8);
    out[2] = static_cast<uint8_t>(low >> 16);
    out[3] = static_cast<uint8_t>(low >> 24);
    out[4] = static_cast<uint8_t>(low);
    out[5] = static_cast<uint8_t>(low >> 8);
}

bool IsUsbRegisterWrite(uint32_t low, uint32_t high)
{
    return high != kCamUsbWindowHigh || low < kCamUsbWindowLow;
}

void AdvanceUsbAddress(uint32_t* low, uint32_t* high, uint32_t count)
{
    const uint64_t address = ((static_cast<uint64_t>(*high & 0xFFFF) << 32 | *low) + count) & 0xFFFFFFFFFFFFull;
    *low = static_cast<uint32_t>(address);
    *high = static_cast<uint32_t>(address >> 32);
}

namespace {

bool IsPreamble(const uint8_t* bytes, uint32_t n)
{
    return n == 3 && memcmp(bytes, "VI!", 3) == 0;
}

void Dump(const uint8_t* bytes, uint32_t n)
{
    if (!kCamErrorTrace)
        return;
    for (uint32_t i = 0; i < n; ++i)
        CamTrace("0x%02x ", bytes[i]);
    CamTrace("\r\n");
}

// One IN of a multi-packet read into `scratch`: a 3-byte "VI!" answer to more than 3 bytes is a preamble, and the
// IN goes again for the data. Another 3-byte answer to the packet's first IN is no answer the camera gives.
bool PacketIn(const CamUsbBulkPort& port, bool first, uint32_t length, uint8_t* scratch, uint32_t* got)
{
    *got = 0;
    if (port.transfer(port.context, first ? CamUsbStage::MultiIn1 : CamUsbStage::MultiIn2, 1, scratch, length, got) != 0)
        return false;
    if (*got > length || *got == 0)
        return false;
    if (*got == 3 && length > 3) {
        if (!IsPreamble(scratch, 3)) {
            if (!first)
                return true;
            CamTrace("USB MultiTransfer...Shouldn't be here\r\n");
            return false;
        }
        *got = 0;
        if (port.transfer(port.context, CamUsbStage::MultiIn2, 1, scratch, length, got) != 0)
            return false;
        if (*got > length || *got == 0)
            return false;
    }
    return true;
}

// One packet of a multi-packet read into out: a short packet is followed by a second IN for its rest.
int ReceivePacket(const CamUsbBulkPort& port, uint32_t packet, uint8_t* scratch, uint8_t* out, uint32_t* received)
{
    uint32_t got = 0;
    if (!PacketIn(port, true, packet, scratch, &got))
        return 0;
    memcpy(out, scratch, got);
    if (got < packet) {
        uint32_t rest = 0;
        if (!PacketIn(port, false, packet - got, scratch, &rest))
            return 0;
        memcpy(out + got, scratch, rest);
        got += rest;
    }
    *received = got;
    return 1;
}

}  // namespace

int ReceiveUsbChunk(const CamUsbBulkPort& port, uint32_t low, uint32_t high, uint32_t chunk, uint8_t* scratch,
                    uint8_t* out, uint32_t* received)
{
    *received = 0;
    if (chunk == 0 || chunk > kCamUsbMaxChunk)
        return 0;
    uint32_t got = 0;
    if (IsUsbWindowRead(low, high) && chunk >= 128) {
        if (!ReceivePacket(port, chunk, scratch, out, &got))
            return 0;
    } else {
        CamTrace("BulkIN h 0x%04x l 0x%08x\r\n", high, low);
        const uint32_t ask = std::min<uint32_t>(chunk, 16);
        if (port.transfer(port.context, CamUsbStage::In1, 1, scratch, ask, &got) != 0 || got > ask)
            return 0;
        if (IsPreamble(scratch, got) && ask > 3) {
            got = 0;
            if (port.transfer(port.context, CamUsbStage::In2, 1, scratch, ask, &got) != 0 || got > ask)
                return 0;
        }
        CamTrace("successful bulk transfer %d bytes\r\n", static_cast<int>(got));
        Dump(scratch, got);
        if (got == 4 && low < kCamUsbWindowLow)
            std::reverse(scratch, scratch + 4);
        memcpy(out, scratch, got);
    }
    // Nothing delivered is a failed attempt too: the chunk would never end.
    if (got == 0 || got % 4 != 0)
        return 0;
    *received = got;
    return 1;
}

namespace {

uint32_t Spelled(const char* text)
{
    uint32_t v;
    memcpy(&v, text, 4);
    return v;
}

bool ReadAt(const CamUsbIntegerPort& port, uint32_t low, uint32_t high, uint32_t offset, uint32_t* value)
{
    AdvanceUsbAddress(&low, &high, offset);
    return port.read(port.context, low, high, value) != 0;
}

}  // namespace

uint32_t FillUsbConfigurationArea(const CamUsbIntegerPort& port, CamConfigArea* area)
{
    uint32_t magic = 0;
    if (!ReadAt(port, area->magicLow, area->magicHigh, 0, &magic))
        return area->areaRead;
    area->areaRead = 1;
    if (magic == Spelled("KVCK")) {
        area->swapFlag ^= 1;
        magic = Spelled("KCVK");
    }
    if (magic != Spelled("KCVK"))
        return area->areaRead;
    area->magic = magic;
    uint32_t count = 0;
    if (!ReadAt(port, area->entryCountLow, area->entryCountHigh, 0, &count))
        return area->areaRead;
    // The table has room for 50 entries; a camera that reports more gets 50.
    count = std::min(count, kCamMaxConfigEntries);
    area->entryCount = count;
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t words[4];
        for (uint32_t k = 0; k < 4; ++k)
            if (!ReadAt(port, area->entryTableLow, area->entryTableHigh, 16 * i + 4 * k, &words[k]))
                return area->areaRead;
        CamConfigEntry& e = area->entries[i];
        e = CamConfigEntry{words[0], words[1], words[2], words[3]};
        switch (e.type) {
        case kCamEntryFastRead:
            area->value3Of50000 = e.value3;
            break;
        case kCamEntryDataWindow:
            area->windowLow = 0;
            area->windowHigh = e.value2;
            area->window2Low = 0x08000000;
            area->window2High = e.value2;
            break;
        case kCamEntry60000:
            area->value3Of60000 = e.value3;
            break;
        case kCamEntry70000:
            area->value3Of70000 = e.value3;
            break;
        default:
            break;
        }
    }
    return area->areaRead;
}
