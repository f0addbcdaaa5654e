#pragma once
#include <cstdint>

namespace ostra {

// The text of a driver's USB failure (0xE0100001 and up), null for another code.
const char* UsbErrorText(uint32_t code);
// Traces the error text of a failed request: "Error: %d.  %s" with the system's text below the driver's
// codes, the driver's own text for them, nothing for other codes.
void TraceErrorText(uint32_t code);

}  // namespace ostra
