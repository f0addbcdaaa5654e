#pragma once
// An open file of a storage class: a byte stream with a 32-bit position. Files are made by the storage classes
// (KIStorageClass::OpenFile, KIFolder::OpenFile, OpenFileByURL) and given back by the caller with Release.
// One thread uses a file at a time.
#include "KTypes.h"
#include "KWString.h"

// What GetInfo reports and SetReadOnly reads. Times are seconds since 1970-01-01 UTC.
struct KFileInfo {
    KUInt32 flags = 0;  // bit 0 read-only; bit 1 belongs to callers (carried, never interpreted here)
    KInt32 modifiedTime = 0;
    KInt32 createdTime = 0;
    KInt32 accessedTime = 0;
};

enum : KUInt32 {
    KFILEINFO_READONLY = 0x1,
    KFILEINFO_CALLER_MARK = 0x2,
};

// Open modes of OpenFile: bit 0 read, bit 1 write (implies read), bit 2 keep the contents and start at the end.
enum : int {
    KFILE_MODE_READ = 1,        // existing file only
    KFILE_MODE_WRITE = 2,       // created, or emptied when it exists
    KFILE_MODE_READWRITE = 3,   // created, or emptied when it exists
    KFILE_MODE_APPEND = 6,      // opened and kept (created when missing), positioned at the end
};

// Text encodings of ReadLine.
enum : int {
    KTEXT_8BIT = 0,     // one byte a character, sign-extended to a unit
    KTEXT_UTF16BE = 1,
    KTEXT_UTF16LE = 2,
};

// Position and size value of a file beyond 4 GiB.
constexpr KUInt32 KFILE_SIZE_UNKNOWN = 0xFFFFFFFFu;

class KIFile {
public:
    virtual ~KIFile() = default;

    // Deletes the file object, closing the file.
    virtual void Release() = 0;
    // Moves to an absolute byte position; returns it.
    virtual KUInt32 Seek(KUInt32 position) = 0;
    // Current position; KFILE_SIZE_UNKNOWN when it does not fit 32 bits.
    virtual KUInt32 Tell() = 0;
    // One text line in the file's encoding, terminator kept; false at the end of the file.
    virtual bool ReadLine(KWString& line) = 0;
    // Exactly count bytes, or KExceptionEOF.
    virtual void ReadExact(void* buffer, KUInt32 count) = 0;
    // Up to count bytes; how many were read (0 at the end).
    virtual KUInt32 Read(void* buffer, KUInt32 count) = 0;
    // Non-zero when all count bytes were written.
    virtual int Write(const void* buffer, KUInt32 count) = 0;
    // Pushes buffered data to the medium.
    virtual void Flush() = 0;
    // Makes the file exactly length bytes long; the position is kept.
    virtual void SetEndOfFile(KUInt32 length) = 0;
    // Size in bytes; KFILE_SIZE_UNKNOWN when it does not fit 32 bits.
    virtual KUInt32 GetSize() = 0;
    virtual void GetURL(KWString& url) = 0;
    // Fills flags bit 0 (other bits kept) and the three times.
    virtual void GetInfo(KFileInfo* info) = 0;
    // Makes the file read-only or writable after bit 0 of info->flags.
    virtual void SetReadOnly(const KFileInfo* info) = 0;
};

// ReadLine for any file, from its current position: characters up to and including a line feed or carriage
// return (a carriage return takes a following line feed with it); a character 0 adds nothing and a backspace
// takes the character before it, as narrow text does. False (line empty) at the end of the file.
bool ReadTextLine(KIFile* file, int encoding, KWString& line);
