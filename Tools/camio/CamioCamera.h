#pragma once
// camio's camera commands: names, alive, info, get, put, rm, attr and console, through the connections and
// the mailbox protocol.

bool IsCamioCameraCommand(const char* command);
// Exit status: 0 on success, 1 with the reason on standard error.
int RunCamioCameraCommand(int argc, char** argv);
