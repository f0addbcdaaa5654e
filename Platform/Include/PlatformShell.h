#pragma once
// The shell: well-known folders, the program's own file, opening a document with its program, and the
// recycle bin. Paths are native (Windows-shaped, UTF-8; see PlatformPath.h).
//
// Opening goes through the command named by the environment variable LUMO_OPENER when it is set (tests point
// it at a script), else xdg-open, else "gio open". A file that is itself a program is started directly with the
// parameters. The recycle bin is the freedesktop trash under the user's data folder (files/ and info/ with a
// .trashinfo record for each item).
#include <cstdint>
#include <string>

// Folder kinds of the shell's special-folder query (the numbers the system passes).
enum : int {
    PLAT_CSIDL_PROGRAMS = 2,           // ~/.local/share/applications
    PLAT_CSIDL_PERSONAL = 5,           // XDG documents folder
    PLAT_CSIDL_STARTUP = 7,            // ~/.config/autostart
    PLAT_CSIDL_DESKTOPDIRECTORY = 16,  // XDG desktop folder
    PLAT_CSIDL_APPDATA = 26,           // $XDG_CONFIG_HOME or ~/.config
};

// Native path of a special folder, created (with its parents) when create is set and it is missing; false for
// an unknown kind or when it cannot be created.
bool PlatGetSpecialFolderPath(int csidl, std::string& native, bool create);
// Native path of the running program (from /proc/self/exe).
bool PlatGetModuleFileName(std::string& native);

enum : int {
    PLAT_SE_ERR_FNF = 2,             // file not found
    PLAT_SE_ERR_PNF = 3,             // path not found
    PLAT_SE_ERR_ACCESSDENIED = 5,
    PLAT_SE_ERR_OOM = 8,
    PLAT_SE_ERR_ASSOCINCOMPLETE = 27,
    PLAT_SE_ERR_NOASSOC = 31,
    PLAT_SE_ERR_DLLNOTFOUND = 32,
    PLAT_SW_SHOW = 5,
};
// Performs the verb "open" on file (relative to directory when not absolute); parameters go to a program that
// is started directly. Returns a value above 32 on success, else one of the PLAT_SE_ERR_* values (0 for any
// other failure).
intptr_t PlatShellExecuteOpen(const char* file, const char* parameters, const char* directory, int show);

// Moves a file or folder into the trash. 0 on success; else an error number (PlatformError.h), also the last
// error. Nothing is lost on failure: the item stays where it was.
uint32_t PlatMoveToTrash(const char* native);
