#pragma once
// The system's message texts for its error codes, in the shape the system's classes expect.
#include <cstdint>

enum : uint32_t { PLAT_ERROR_MR_MID_NOT_FOUND = 317 };

// Writes the text for `code` (a sentence ending in ".\r\n") with a terminating zero into buffer, cut to fit
// size bytes; answers its length without the zero. 0 with PLAT_ERROR_MR_MID_NOT_FOUND for a code the table
// lacks, 0 with PLAT_ERROR_INVALID_PARAMETER for a null buffer or a size of 0.
uint32_t PlatFormatMessage(uint32_t code, char* buffer, uint32_t size);
