#pragma once
// camsim's commands, for the tool and for tests that set up cameras without starting a process for each step.
#include <string>
#include <vector>

namespace simcam {

// The usage text of the commands.
const char* CamsimUsage();

// Runs one command ("new", "plug", "unplug", "reset", "shoot", "set", "knob", "card", "log", "list" and their
// arguments, as camsim takes them) on the machine that LUMO_MACHINE names. What it prints goes to *out, its
// complaint to *error. Answers 0 when done, 1 when it failed, 2 for a command it does not know.
int RunCamsimCommand(const std::vector<std::string>& args, std::string* out, std::string* error);

}  // namespace simcam
