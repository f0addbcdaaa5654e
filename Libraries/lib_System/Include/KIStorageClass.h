#pragma once
// A storage class: a named provider of files and folders ("disk", "camera"), reached through URLs of the form
// name://path. Paths passed here are URLs without the class name and "://". The registry (KStorageURL.h) owns
// the classes.
#include "KIFolder.h"

// GetSpecialFolder kinds.
enum : int {
    KSPECIAL_PROGRAM = 0,
    KSPECIAL_APPDATA = 1,
    KSPECIAL_TEMP = 2,
    KSPECIAL_SYSTEM = 3,
    KSPECIAL_DESKTOP = 4,
    KSPECIAL_PROGRAMS = 5,
    KSPECIAL_STARTUP = 6,
    KSPECIAL_NONE = 7,
    KSPECIAL_DOCUMENTS = 8,
};

class KIStorageClass {
public:
    virtual ~KIStorageClass() = default;

    // The last component of path is the file name as it stands (not unescaped). Null when it cannot be opened.
    virtual KIFile* OpenFile(const KWString& path, int mode) = 0;
    // The folder at path; when path names a file, the folder holding it, with leafName the file's name (else
    // leafName is empty). With create, missing folders are created.
    virtual KIFolder* OpenFolder(const KWString& path, KWString& leafName, bool create) = 0;
    // URL (ending "/") of a well-known folder (KSPECIAL_*); false when this class has none.
    virtual bool GetSpecialFolder(int kind, KWString& url) = 0;
    virtual bool GetNativePath(const KWString& path, KWString& native) = 0;
    // False when this class does not hold the native path.
    virtual bool FromNativePath(const KWString& native, KWString& path) = 0;
    virtual const KWChar* GetName() = 0;
    virtual const KWChar* GetDescription() = 0;
    // Opens the file with its associated program; failures are thrown.
    virtual void Launch(const KWString& path, const KWChar* parameters) = 0;
    // isFolder (may be null) is set when the path exists.
    virtual bool Exists(const KWString& path, bool* isFolder) = 0;
    // Moves the file to the recycle bin; failures are thrown.
    virtual void MoveToTrash(const KWString& path) = 0;
};
