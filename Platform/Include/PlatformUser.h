#pragma once
// The user's folders as the stand-in sees them. On a scratch machine (LUMO_MACHINE set) the user has a home of
// his own inside the machine folder ("<machine>/home"), and the XDG variables are ignored, so that special
// folders, the trash and whatever else the stand-in writes for the user stay inside the scratch folder.
#include <string>

// True when LUMO_MACHINE names the machine folder.
bool PlatIsScratchMachine();
// "<machine>/home" on a scratch machine (created on first use), else $HOME (or the password entry's folder).
std::string PlatUserHome();
// An XDG base folder: the variable's value when set and absolute (not on a scratch machine), else the home
// folder followed by fallback (for example ".config").
std::string PlatXdgFolder(const char* variable, const char* fallback);
