#pragma once
// One member of a bundle (see KBundleFolder.h) as a read-only file, and the shared holder of the host file.
//
// Each member file reads through a host file of its own, so members of one bundle can be read on different
// threads at once; the holder's count changes under its lock, so files may be released on any thread.
#include "KCopyableFile.h"
#include "KRefCountable.h"

// The host file shared by a bundle folder and its files: the folder's reference plus one per file whose host
// opened. The last Release deletes it and releases the host file.
class KBundleFileHandle : public KRefCountable {
public:
    // Takes the host file (may be null when the host could not be opened).
    explicit KBundleFileHandle(KIFile* host);

private:
    ~KBundleFileHandle() override;

    KIFile* m_pHost;
};

class KBundleFile : public KCopyableFile {
public:
    // Opens the host again and finds the member; an absent member (or a host that is no bundle or cannot be
    // opened) gives a file of size 0.
    KBundleFile(KBundleFileHandle* handle, const KWString& hostURL, const KWString& memberName);
    ~KBundleFile() override;

    void Release() override;
    // Positions are within the member; reads stop at the member's end.
    KUInt32 Seek(KUInt32 position) override;
    KUInt32 Tell() override;
    // 8-bit lines, terminator kept.
    bool ReadLine(KWString& line) override;
    void ReadExact(void* buffer, KUInt32 count) override;
    KUInt32 Read(void* buffer, KUInt32 count) override;
    // The bundle is only read: writing writes nothing (and says so with 0).
    int Write(const void* buffer, KUInt32 count) override;
    void Flush() override;
    void SetEndOfFile(KUInt32 length) override;
    KUInt32 GetSize() override;
    void GetURL(KWString& url) override;
    // Sets the read-only bit; the times are left as they are.
    void GetInfo(KFileInfo* info) override;
    void SetReadOnly(const KFileInfo* info) override;

    KUInt32 GetMemberStart() const { return m_MemberStart; }

private:
    bool priFindMember(const KWString& name);

    KIFile* m_pHost = nullptr;
    KUInt32 m_HostSize = 0;
    KUInt32 m_MemberStart = 0;
    KUInt32 m_MemberSize = 0;
    KUInt32 m_Position = 0;
    KBundleFileHandle* m_pHandle = nullptr;
    KWString m_HostURL;
};
