#pragma once
// The scripts comprobe runs: one command a line.
//   new NAME PROGID              creates an object of the class and calls it NAME
//   put NAME PROPERTY VALUE      sets a property
//   get NAME PROPERTY            prints NAME.PROPERTY = VALUE
//   call NAME METHOD ARG...      prints NAME.METHOD -> 0x%08X (with the error's description), then the out values
// ARG (and VALUE) is a number (decimal, 0x hexadecimal, may be negative), "text" (\" and \\ inside), @NAME (an
// object made before), hex:BYTES (an array of bytes; hex: alone is an empty one) or out (a place for a value the
// method gives back; not for put). Blank lines and lines starting with # are skipped.
#include <cstdint>
#include <string>
#include <vector>

namespace comprobe {

struct Arg {
    enum Kind { Number, Text, Object, Bytes, Out } kind = Number;
    int64_t number = 0;
    std::string text;  // Text: the text; Object: the name
    std::vector<uint8_t> bytes;
};

struct Line {
    enum Op { New, Put, Get, Call } op = New;
    int number = 0;      // line in the script, from 1
    std::string name;    // the object
    std::string member;  // ProgID, property or method
    std::vector<Arg> args;
};

// Limits of a script.
constexpr size_t kMaxScript = 1u << 20;
constexpr size_t kMaxLines = 10000;
constexpr size_t kMaxArgs = 32;
constexpr size_t kMaxName = 64;
constexpr size_t kMaxMember = 255;

// Reads a whole script; false with an error naming the line ("line 3: unknown command 'frob'").
bool ParseScript(const std::string& text, std::vector<Line>* lines, std::string* error);

}  // namespace comprobe
