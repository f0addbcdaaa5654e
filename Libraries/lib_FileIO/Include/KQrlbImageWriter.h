#pragma once
// Writes the user's edits of a raw container (rotation, mark bits, white balance) into the fixed fields of
// its header, in place: no section is touched and the file keeps its size.
//
// Calling order: Open, any number of setters, Close. A setter whose write fails throws KExceptionQrlbWriter
// and leaves the writer's copy of the header as it was. One thread uses a writer.
#include "KQrlbExceptions.h"
#include "KQrlbFormat.h"
#include "KTypes.h"
#include "KWString.h"

class KIFile;

class KQrlbImageWriter {
public:
    KQrlbImageWriter() = default;
    ~KQrlbImageWriter();
    KQrlbImageWriter(const KQrlbImageWriter&) = delete;
    KQrlbImageWriter& operator=(const KQrlbImageWriter&) = delete;

    // Opens an existing container for update: KExceptionQrlbWriter "Error openning file for write." when it
    // cannot be opened (a missing file is not created), KExceptionEOF for a file shorter than the header,
    // KExceptionNotAQrlb or KExceptionQrlbIncompatible (message: the URL).
    void Open(const KWString& url);
    KInt32 GetRotation() const;
    // 0, 90, 180 or 270; any other value throws KExceptionQrlbWriter and writes nothing.
    void SetRotation(KInt32 degrees);
    void SetMarkBits(KUInt32 bits);
    // False, with nothing written, for a text over 31 characters or a header before version 2.1. Bytes of
    // the field after the terminator keep their values.
    bool SetWhiteBalance(const char* text);
    // Pushes the changes to the medium and releases the file.
    void Close();

private:
    void priWrite(size_t offset, const void* bytes, size_t count, const char* field);
    void priRelease();

    KIFile* m_pFile = nullptr;
    KWString m_URL;
    KUInt8 m_Header[KQrlb::kHeaderSize] = {};
};
