#pragma once
// What the USB link makes of the camera's answers, apart from the transport: chunk sizes, the address data
// stage, the bulk IN replies of one chunk (preamble, short packets, byte order) and the configuration area
// read quadlet by quadlet. The link drives them over the USB library; the fuzz target over its input.
#include <cstdint>

#include "KCamDevices.h"

// The bulk transfers of one chunk, by their part in it (each has its own trace texts).
enum class CamUsbStage : uint32_t { Out, In1, In2, MultiIn1, MultiIn2 };

// One bulk transfer with the stall handling of its stage: 0 or the error, and the bytes moved.
struct CamUsbBulkPort {
    void* context;
    uint32_t (*transfer)(void* context, CamUsbStage stage, uint32_t pipe, uint8_t* buffer, uint32_t length,
                         uint32_t* moved);
};

// One quadlet read (address request, then the read-integer request): 1 with the value, or 0.
struct CamUsbIntegerPort {
    void* context;
    int (*read)(void* context, uint32_t low, uint32_t high, uint32_t* value);
};

constexpr uint32_t kCamUsbMaxChunk = 16384;
constexpr uint32_t kCamUsbWindowLow = 0x10000000;
constexpr uint32_t kCamUsbWindowHigh = 0x1009;

// Reads at or above the data window (high above 0x1009, or 0x1009 with low at or above 0x10000000).
bool IsUsbWindowRead(uint32_t low, uint32_t high);
// The next chunk of a block transfer with `remaining` bytes to go.
uint32_t UsbReadChunkSize(uint32_t low, uint32_t high, uint32_t remaining);
uint32_t UsbWriteChunkSize(uint32_t remaining);
// The 6-byte address data stage: high, then the upper and the lower half of low, each 16-bit little-endian.
void UsbAddressBytes(uint32_t low, uint32_t high, uint8_t out[6]);
// A 4-byte write there travels reversed (registers go most significant byte first).
bool IsUsbRegisterWrite(uint32_t low, uint32_t high);
// The address `count` bytes further on, within the 48-bit space.
void AdvanceUsbAddress(uint32_t* low, uint32_t* high, uint32_t count);

// Receives one chunk of a block read (`chunk` at most 16,384 bytes) through the port into `out` (room for
// `chunk` bytes); `scratch` holds 16,384 bytes. 1 with *received (1 to chunk, a multiple of 4), else 0.
int ReceiveUsbChunk(const CamUsbBulkPort& port, uint32_t low, uint32_t high, uint32_t chunk, uint8_t* scratch,
                    uint8_t* out, uint32_t* received);

// Fills the area (already reset to its initial values) through the port; answers the area-read flag.
uint32_t FillUsbConfigurationArea(const CamUsbIntegerPort& port, CamConfigArea* area);
