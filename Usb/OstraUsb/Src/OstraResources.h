#pragma once
// The library's resources, as data: the string resources 101-113 (the driver's USB failure texts, in the order
// of their codes) and the bitmaps 102 (toolbox) and 201 (the control's design-time picture), as BMP files.
#include <cstddef>
#include <cstdint>

namespace ostra {

// The text of a string resource, null for an id the library lacks.
const char* StringResource(uint32_t id);
// The string resource of a driver's USB failure code, 0 for another code.
uint32_t StringResourceOfCode(uint32_t code);
// A bitmap resource's bytes (a BMP file), null for an id the library lacks.
const uint8_t* BitmapResource(uint32_t id, size_t* size);

}  // namespace ostra
