#pragma once
// Windows-shaped native paths ("C:\Photos\a.kzr", UTF-8) and the drives of the machine, mapped onto POSIX
// paths. Drive C: is the POSIX root "/" unless the machine's drive table says otherwise; the table is the file
// "drives" in the machine folder, one drive a line: letter, type (fixed, removable, cdrom, ram, network) and
// the POSIX root, for example "E removable /media/card". Lines beginning with "#" are comments.
// Both "\" and "/" separate components of a native path. Component look-up is exact first, then
// case-insensitive (ASCII letters), as a Windows user expects; a component that matches nothing is kept as
// written, so that a path to be created maps too. Network paths (\\server\share) map to nothing: the machine has
// no network.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

enum : uint32_t {
    PLAT_DRIVE_UNKNOWN = 0,
    PLAT_DRIVE_NO_ROOT_DIR = 1,
    PLAT_DRIVE_REMOVABLE = 2,
    PLAT_DRIVE_FIXED = 3,
    PLAT_DRIVE_REMOTE = 4,
    PLAT_DRIVE_CDROM = 5,
    PLAT_DRIVE_RAMDISK = 6,
};

struct PlatDrive {
    char letter;        // upper case
    uint32_t type;      // PLAT_DRIVE_*
    std::string root;   // POSIX folder, no trailing slash ("" stands for "/")
};

// The machine's drives in letter order (C: always among them unless the table maps it elsewhere).
std::vector<PlatDrive> PlatGetDrives();
// Drive type of the drive that holds a native path; PLAT_DRIVE_NO_ROOT_DIR for no such drive.
uint32_t PlatGetDriveType(std::string_view native);

// Native path -> POSIX path; false (last error PATH_NOT_FOUND) for a network path or an unknown drive.
// A relative path is taken from the current directory.
bool PlatNativeToPosix(std::string_view native, std::string& posix);
// POSIX path -> native path (relative paths from the current directory, "." and ".." folded away); false when
// no drive holds it.
bool PlatPosixToNative(std::string_view posix, std::string& native);

// Current directory as a native path (no trailing backslash except for a drive root).
std::string PlatGetCurrentDirectory();
// Folder for temporary files ($TMPDIR or /tmp) as a native path with a trailing backslash.
std::string PlatGetTempPath();
// The long form of a native path; the machine has no short names, so the path as it stands.
std::string PlatGetLongPathName(std::string_view native);
