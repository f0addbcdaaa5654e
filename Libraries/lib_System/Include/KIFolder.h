#pragma once
// A folder of a storage class. Folders are made by the storage classes and given back by the caller with
// Release. One thread uses a folder at a time.
#include <vector>

#include "KIFile.h"

// GetAttributes bits.
enum : KUInt32 {
    KFOLDER_READONLY = 0x1,
    KFOLDER_HIDDEN = 0x2,
};

// GetDriveType values.
enum : int {
    KDRIVE_UNKNOWN = 0,
    KDRIVE_NO_ROOT_DIR = 1,
    KDRIVE_REMOVABLE = 2,
    KDRIVE_FIXED = 3,
    KDRIVE_REMOTE = 4,
    KDRIVE_CDROM = 5,
    KDRIVE_RAMDISK = 6,
};

class KIFolder {
public:
    virtual ~KIFolder() = default;

    // Deletes the folder object.
    virtual void Release() = 0;
    // Sub-folder by name; created (with any missing levels) when create is set. Null when missing.
    virtual KIFolder* OpenFolder(const KWString& name, bool create) = 0;
    // File in this folder by name (KFILE_MODE_*); null when it does not exist and the mode has no write bit.
    virtual KIFile* OpenFile(const KWString& name, int mode) = 0;
    // Appends the names of the files (not sub-folders); the vector is not cleared first.
    virtual void ListFiles(std::vector<KWString>& names) = 0;
    // Appends the names of the sub-folders.
    virtual void ListFolders(std::vector<KWString>& names) = 0;
    virtual void Rename(const KWString& oldName, const KWString& newName) = 0;
    // False when the file could not be deleted.
    virtual bool DeleteFile(const KWString& name) = 0;
    // Deletes a folder given by URL: how 0 only when empty, 1 with all its contents.
    virtual void DeleteFolder(const KWString& url, int how) = 0;
    // URL of this folder, ending "/".
    virtual void GetURL(KWString& url) = 0;
    virtual void GetNote(KWString& note) = 0;
    // One caller word kept with the folder object (pointer-sized: callers keep pointers in it).
    virtual void SetUserData(uintptr_t data) = 0;
    // Bytes free for the caller on the folder's volume; -1 when unknown.
    virtual KInt64 GetFreeSpace() = 0;
    virtual bool IsReadOnly() = 0;
    // Sets bits KFOLDER_READONLY and KFOLDER_HIDDEN of *flags; false when the folder cannot be queried.
    virtual bool GetAttributes(KUInt32* flags) = 0;
    // KDRIVE_* of the folder's volume.
    virtual int GetDriveType() = 0;
};
