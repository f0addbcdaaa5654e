#include "KQrlbImageWriter.h"

#include <cstring>

#include "KIFile.h"
#include "KNarrowString.h"
#include "KStorageURL.h"

using namespace KQrlb;

KQrlbImageWriter::~KQrlbImageWriter() { priRelease(); }

void KQrlbImageWriter::priRelease()
{
    if (m_pFile)
        m_pFile->Release();
    m_pFile = nullptr;
}

void KQrlbImageWriter::Open(const KWString& url)
{
    priRelease();
    m_URL = url;
    // Opening for update creates a missing file: ask first, so that a wrong URL leaves nothing behind.
    bool isFolder = false;
    if (!ExistsByURL(url, &isFolder) || isFolder || !(m_pFile = OpenFileByURL(url, KFILE_MODE_APPEND)))
        throw KExceptionQrlbWriter("Error openning file for write.");
    try {
        m_pFile->Seek(0);
        m_pFile->ReadExact(m_Header, kHeaderSize);
    } catch (...) {
        priRelease();
        throw;
    }
    if (ReadLE32(m_Header + kOffMagic) != kTagMagic) {
        priRelease();
        throw KExceptionNotAQrlb(url.GetAscii());
    }
    if (!IsAcceptedVersion(ReadLE32(m_Header + kOffVersion))) {
        priRelease();
        throw KExceptionQrlbIncompatible(url.GetAscii());
    }
}

KInt32 KQrlbImageWriter::GetRotation() const { return static_cast<KInt32>(ReadLE32(m_Header + kOffRotation)); }

void KQrlbImageWriter::priWrite(size_t offset, const void* bytes, size_t count, const char* field)
{
    if (!m_pFile)
        throw KExceptionQrlbWriter("The raw file is not open for writing.");
    const KUInt32 position = m_pFile->Tell();
    m_pFile->Seek(static_cast<KUInt32>(offset));
    const int written = m_pFile->Write(bytes, static_cast<KUInt32>(count));
    m_pFile->Seek(position);
    if (!written)
        throw KExceptionQrlbWriter(
            KNarrowString("Error writing the %s into %s.", field, m_URL.GetAscii()).CStr());
    std::memcpy(m_Header + offset, bytes, count);
}

void KQrlbImageWriter::SetRotation(KInt32 degrees)
{
    // The reader takes quarter turns only: anything else would leave a file that cannot be developed.
    if (degrees != 0 && degrees != 90 && degrees != 180 && degrees != 270)
        throw KExceptionQrlbWriter(
            KNarrowString("A rotation of %d degrees cannot be stored: only 0, 90, 180 and 270 can", degrees).CStr());
    KUInt8 b[4];
    WriteLE32(b, static_cast<KUInt32>(degrees));
    priWrite(kOffRotation, b, 4, "rotation");
}

void KQrlbImageWriter::SetMarkBits(KUInt32 bits)
{
    KUInt8 b[4];
    WriteLE32(b, bits);
    priWrite(kOffMarkBits, b, 4, "mark bits");
}

bool KQrlbImageWriter::SetWhiteBalance(const char* text)
{
    if (!text)
        return false;
    const size_t length = std::strlen(text);
    if (length + 1 > kWhiteBalanceSize)
        return false;
    if (!HasWhiteBalanceField(ReadLE32(m_Header + kOffVersion)))
        return false;
    priWrite(kOffWhiteBalance, text, length + 1, "white balance");
    return true;
}

void KQrlbImageWriter::Close()
{
    if (!m_pFile)
        return;
    try {
        m_pFile->Flush();
    } catch (...) {
        priRelease();
        throw;
    }
    priRelease();
}
