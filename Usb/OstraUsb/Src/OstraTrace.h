#pragma once
// The library's side of the shared trace buffer: its own trace lines.
#include <cstdarg>
#include <cstdint>

namespace ostra {

// True while tracing is enabled (a hint for skipping work; the writers check again under the mutex).
bool TracingOn();
// Writes a line as OstraUsbPrintf does.
void Trace(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Writes text as OstraUsbTrace does.
void TraceText(const char* text);

}  // namespace ostra
