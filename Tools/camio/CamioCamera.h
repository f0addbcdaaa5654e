#pragma once
// camio's camera commands: names, alive, info, get, put, rm, attr and console, through the connections and
// the mailbox protocol.

#include <cstdint>

// A 32-bit number: hexadecimal (with or without "0x") when `hex`, else decimal unless it starts with "0x".
bool ParseCamioNumber(const char* text, bool hex, uint32_t* value);

bool IsCamioCameraCommand(const char* command);
// Exit status: 0 on success, 1 with the reason on standard error.
int RunCamioCameraCommand(int argc, char** argv);
