#pragma once
// An open file of the disk storage class. Line reading knows three text encodings, detected at open from a
// byte-order mark: 8-bit, UTF-16 big-endian, UTF-16 little-endian. The object holds its handle from
// construction to destruction; one thread uses it at a time.
#include "KIFile.h"

struct PlatFile;

class KSCFileWin : public KIFile {
public:
    enum Encoding { ENCODING_8BIT = KTEXT_8BIT, ENCODING_UTF16BE = KTEXT_UTF16BE, ENCODING_UTF16LE = KTEXT_UTF16LE };

    // Opens nativePath in a KFILE_MODE_*; throws KExceptionFileOpen (message: the path and the reason) when
    // the file cannot be opened.
    KSCFileWin(const KWString& className, const KWString& nativePath, int mode);
    ~KSCFileWin() override;
    KSCFileWin(const KSCFileWin&) = delete;
    KSCFileWin& operator=(const KSCFileWin&) = delete;

    void Release() override;
    KUInt32 Seek(KUInt32 position) override;
    KUInt32 Tell() override;
    bool ReadLine(KWString& line) override;
    // Throws KExceptionEOF naming the file when fewer bytes arrive.
    void ReadExact(void* buffer, KUInt32 count) override;
    KUInt32 Read(void* buffer, KUInt32 count) override;
    int Write(const void* buffer, KUInt32 count) override;
    // Throws KExceptionFileWrite when the data cannot be pushed to the medium (a full disk shows here on some
    // file systems), so that a writer never reports a lost file as saved.
    void Flush() override;
    void SetEndOfFile(KUInt32 length) override;
    KUInt32 GetSize() override;
    void GetURL(KWString& url) override;
    void GetInfo(KFileInfo* info) override;
    void SetReadOnly(const KFileInfo* info) override;

    Encoding GetEncoding() const { return m_Encoding; }
    const KWString& GetNativePath() const { return m_NativePath; }

private:
    KWString m_ClassName;
    KWString m_NativePath;
    PlatFile* m_pFile = nullptr;
    Encoding m_Encoding = ENCODING_8BIT;
};
