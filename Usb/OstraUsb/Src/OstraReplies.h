#pragma once
// What the library makes of the driver's replies: the trace lines of a descriptor, and the UTF-16 text of a
// string descriptor or link name handed back in the ANSI code page.
#include <cstdint>
#include <string>
#include <vector>

namespace ostra {

enum class DescriptorKind { Device, Configuration, Interface, Endpoint };

// The size of the descriptor's record (18, 9, 9, 7).
uint32_t DescriptorSize(DescriptorKind kind);

// The trace lines of a descriptor read on handle: the heading, then one line per field ("bLength 18"). Only
// the fields that lie wholly within the `returned` bytes the driver gave are listed.
std::vector<std::string> DescribeDescriptor(DescriptorKind kind, const uint8_t* bytes, uint32_t returned,
                                            uint32_t handle);

// Converts the driver's reply (returnedBytes of UTF-16, an odd last byte ignored) to the ANSI code page and
// copies at most `capacity` bytes of it, without a terminating zero, to out; *copied tells how many. Answers 0,
// or the conversion's error (an empty reply converts to nothing and succeeds).
uint32_t ReplyToAnsi(const uint8_t* reply, uint32_t returnedBytes, char* out, uint32_t capacity, uint32_t* copied);

}  // namespace ostra
