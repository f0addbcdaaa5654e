#pragma once
// The machine folder: the one folder where the stand-in keeps the state of the machine the system believes it
// runs on (registry, named objects, ...).
//
// LUMO_MACHINE (when set and not empty) points the whole stand-in at that folder, which is how tests keep
// everything inside a scratch folder. Otherwise it is $XDG_DATA_HOME/LumoDesk/machine, or
// ~/.local/share/LumoDesk/machine when XDG_DATA_HOME is unset or not absolute (XDG rule).
#include <string>

// The machine folder as an absolute path, read afresh from the environment on every call. Not created.
std::string PlatGetMachineFolder();

// The folder `relative` inside the machine folder (for example "objects"), created with its parents (mode
// 0700) when missing. Empty when it cannot be made; PlatGetLastError tells why.
std::string PlatGetMachineSubfolder(const char* relative);
