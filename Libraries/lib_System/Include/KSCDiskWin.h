#pragma once
// The storage class "disk": the file system of the machine. URL paths: "C/Photos/a.kzr" for C:\Photos\a.kzr,
// "net/server/share/dir" for \\server\share\dir, "" for the list of drives and "net" for the list of servers.
// Stateless apart from its name; callable from any thread.
#include "KIStorageClass.h"

class KSCDiskWin : public KIStorageClass {
public:
    explicit KSCDiskWin(const KWString& name);

    KIFile* OpenFile(const KWString& path, int mode) override;
    KIFolder* OpenFolder(const KWString& path, KWString& leafName, bool create) override;
    bool GetSpecialFolder(int kind, KWString& url) override;
    bool GetNativePath(const KWString& path, KWString& native) override;
    bool FromNativePath(const KWString& native, KWString& path) override;
    const KWChar* GetName() override;
    const KWChar* GetDescription() override;
    // Throws KExceptionFileNotFound, KExceptionLaunchFailed or KExceptionFileIO.
    void Launch(const KWString& path, const KWChar* parameters) override;
    bool Exists(const KWString& path, bool* isFolder) override;
    // Throws KExceptionFileIO when the item cannot be moved.
    void MoveToTrash(const KWString& path) override;

private:
    // Creates the folder at path and every missing level above it; true when it exists afterwards.
    bool priCreateFolderPath(const KWString& path);

    KWString m_Name;
};

// Registers the class "disk" (first of all classes, before anything touches storage).
void RegisterDiskStorageClass();

// Native path -> escaped URL components: C:\Program Files\ gives [C, Program Files]; \\srv\photos\x gives
// [net, srv, photos, x].
void NativeToComponents(const KWString& native, std::vector<KWString>& components);
