#pragma once
// The storage class "camera": the files of an attached camera through the storage interfaces. URL paths are
// the device name (escaped as a URL component) and the camera path: camera://USB@tool_OstraUSB0/cf/images/ is
// the folder /cf/images of the first USB camera; "camera://" alone lists the first connected camera.
//
// Every file operation, listing, deletion and folder query holds the named mutex "CirroCameraMutex" (waiting at
// most 5 seconds), so that the threads and processes that share the camera take turns at its one mailbox.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "KIStorageClass.h"
#include "KNullFolder.h"

class KSCCamera : public KIStorageClass {
public:
    // Looks for a connected camera; with none, a folder "MyCamera" in the working directory stands in for the
    // cameras (the disk-root mode).
    explicit KSCCamera(const KWString& name);

    KIFile* OpenFile(const KWString& path, int mode) override;
    KIFolder* OpenFolder(const KWString& path, KWString& leafName, bool create) override;
    bool GetSpecialFolder(int kind, KWString& url) override;
    bool GetNativePath(const KWString& path, KWString& native) override;
    bool FromNativePath(const KWString& native, KWString& path) override;
    const KWChar* GetName() override;
    const KWChar* GetDescription() override;
    // Throws KExceptionFileNotFound: nothing on a camera can be launched.
    void Launch(const KWString& path, const KWChar* parameters) override;
    // True, as a folder, when the path's device names a connected camera.
    bool Exists(const KWString& path, bool* isFolder) override;
    // Deletes the file (a camera has no trash); throws KExceptionFileIO when that fails.
    void MoveToTrash(const KWString& path) override;

    bool IsDiskRoot() const { return m_DiskRoot; }

private:
    KWString m_Name;
    bool m_DiskRoot = false;
    KWString m_DiskRootURL;
};

// Registers KSCCamera as "camera" (after the disk class).
void RegisterCameraStorageClass();

// A folder of a camera: device name and camera path ("/" for the card's root).
class KSCCameraFolder : public KIFolder {
public:
    // An empty device name takes the first connected camera's.
    KSCCameraFolder(const std::string& camera, const std::string& path);

    void Release() override;
    KIFolder* OpenFolder(const KWString& name, bool create) override;
    // Null for a missing file unless the mode writes.
    KIFile* OpenFile(const KWString& name, int mode) override;
    void ListFiles(std::vector<KWString>& names) override;
    void ListFolders(std::vector<KWString>& names) override;
    // Throw KExceptionFileIO: the camera renames and removes no folders.
    void Rename(const KWString& oldName, const KWString& newName) override;
    void DeleteFolder(const KWString& url, int how) override;
    // The named file of the folder; an empty name deletes the folder's own path.
    bool DeleteFile(const KWString& name) override;
    void GetURL(KWString& url) override;
    void GetNote(KWString& note) override;
    void SetUserData(uintptr_t data) override;
    // 0 when the camera reports its card, else -1.
    KInt64 GetFreeSpace() override;
    bool IsReadOnly() override;
    bool GetAttributes(KUInt32* flags) override;
    int GetDriveType() override;

    const std::string& GetCamera() const { return m_Camera; }
    const std::string& GetPath() const { return m_Path; }

private:
    // Names of the listing's entries that are (or are not) folders.
    void priList(std::vector<KWString>& names, bool folders);

    std::string m_Camera;
    std::string m_Path;
    uintptr_t m_UserData = 0;
};

// The top of the class: the first connected camera (its device name escaped), or the "MyCamera" folder's URL in
// disk-root mode.
class KSCVolEnumCameraFolder : public KNullFolder {
public:
    explicit KSCVolEnumCameraFolder(const KWString& url) : m_URL(url) {}

    KIFolder* OpenFolder(const KWString& name, bool create) override;
    void ListFolders(std::vector<KWString>& names) override;
    void GetURL(KWString& url) override;
    void GetNote(KWString& note) override;
    void SetUserData(uintptr_t data) override;
    KInt64 GetFreeSpace() override;
    bool IsReadOnly() override;
    bool GetAttributes(KUInt32* flags) override;
    int GetDriveType() override;

private:
    KWString m_URL;
    uintptr_t m_UserData = 0;
};

// A file of a camera. Reads go through a read-ahead cache of 64 KiB; a longer read goes to the camera directly.
class KSCCameraFile : public KIFile {
public:
    static constexpr KUInt32 kCacheBytes = 65536;

    KSCCameraFile(const std::string& camera, const std::string& path, int mode);

    void Release() override;
    // A position beyond the size moves to 0; answers the size.
    KUInt32 Seek(KUInt32 position) override;
    KUInt32 Tell() override;
    bool ReadLine(KWString& line) override;
    void ReadExact(void* buffer, KUInt32 count) override;
    KUInt32 Read(void* buffer, KUInt32 count) override;
    int Write(const void* buffer, KUInt32 count) override;
    void Flush() override;
    void SetEndOfFile(KUInt32 length) override;
    // 0 when the camera cannot tell.
    KUInt32 GetSize() override;
    void GetURL(KWString& url) override;
    // Bit 0 = locked, bit 1 = not marked (transferred), and the camera's file time.
    void GetInfo(KFileInfo* info) override;
    // Locks after bit 0 and marks after NOT bit 1.
    void SetReadOnly(const KFileInfo* info) override;

    const std::string& GetPath() const { return m_Path; }
    int GetMode() const { return m_Mode; }

private:
    std::string m_Camera;
    std::string m_Path;
    int m_Mode;
    KUInt32 m_Position = 0;
    std::unique_ptr<uint8_t[]> m_Cache;
    KUInt32 m_CacheStart = 0;
    KUInt32 m_CacheLength = 0;
};

// One entry of a camera listing ("path\tsize\ttime\tflags\n").
struct KCameraListingEntry {
    std::string name;  // the path's part after its last '/'
    int64_t size = 0;
    int64_t time = 0;
    bool folder = false;
};

// The whole lines of a listing text: a last line without "\n", lines whose size or time is not a number and
// entries without a name (or named "." or "..") are dropped.
void ParseCameraListing(const char* text, size_t length, std::vector<KCameraListingEntry>& entries);
