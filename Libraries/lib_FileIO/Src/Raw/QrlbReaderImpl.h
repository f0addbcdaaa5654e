#pragma once
// The reader's implementation and the image row decoders it calls.
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "KDebug.h"
#include "KIFile.h"
#include "KQrlbFormat.h"
#include "KQrlbImageReader.h"

// Assertions of the reader report its module by the name it has always had.
#define QRLB_ASSERT(test, text)                                                          \
    do {                                                                                 \
        if (!(test))                                                                     \
            AssertionFailed("Libraries\\lib_FileIO\\Src\\QrlbImageIO", __LINE__, text, 0, 0); \
    } while (0)

// Progress and cancel bytes are shared with the threads that watch them.
inline void QrlbStoreProgress(double* progress, double value)
{
    if (progress)
        __atomic_store(progress, &value, __ATOMIC_RELAXED);
}

inline bool QrlbCancelled(const KUInt8* cancel)
{
    return cancel && __atomic_load_n(cancel, __ATOMIC_RELAXED) != 0;
}

// Reads of the file at checked positions. Every offset and length is checked against the file's size in
// 64-bit arithmetic before the read; a read that would leave the file throws KExceptionQrlbReader naming it.
class KQrlbFile {
public:
    KQrlbFile(KIFile* file, const KWString& name);
    ~KQrlbFile();
    KQrlbFile(const KQrlbFile&) = delete;
    KQrlbFile& operator=(const KQrlbFile&) = delete;

    KUInt64 Size() const { return m_Size; }
    const std::string& Name() const { return m_Name; }
    KIFile* File() const { return m_pFile; }
    KUInt64 Position() const { return m_Position; }

    void Seek(KUInt64 position);
    // Reads count bytes at the current position; throws when they are not all in the file.
    void Read(void* buffer, KUInt64 count);
    KUInt32 ReadWord();
    void ReadAt(KUInt64 position, void* buffer, KUInt64 count);

    // Throws KExceptionQrlbReader with "<what> in <file>".
    [[noreturn]] void Fail(const std::string& what) const;

private:
    KIFile* m_pFile;
    std::string m_Name;
    KUInt64 m_Size;
    KUInt64 m_Position = 0;
};

class KQrlbImageReaderImpl {
public:
    KQrlbImageReaderImpl(KIFile* file, const KWString& name);

    KQrlbFile m_File;
    KUInt8 m_Header[KQrlb::kHeaderSize];
    char m_WhiteBalance[KQrlb::kWhiteBalanceSize + 1];
    std::vector<KQrlbDirEntry> m_Directory;
    bool m_DirectoryLoaded = false;
    KUInt32 m_CipherState = 0;

    KUInt32 HeaderWord(size_t offset) const { return KQrlb::ReadLE32(m_Header + offset); }

    void LoadDirectory();
    // Position in the directory of the n-th entry of a type; KExceptionIndexOutOfRange when there is none.
    size_t FindSection(KUInt32 type, int n);
    const KQrlbDirEntry& Entry(size_t position) const;
    // Position of the index-th image ("IMAG" first, then "IMA2").
    size_t FindImage(int index);
    int CountType(KUInt32 type);

    // Section header reads: seek to the section, check tag and version; the file is then after the header.
    KQrlbImageSection ReadImageHeader(const KQrlbDirEntry& e);
    KUInt32 ReadCamHeader(const KQrlbDirEntry& e);
    void ReadProperties(const KQrlbDirEntry& e, KPropTree* tree);
    KUInt32 ReadCamFile(int index, void* buffer, KUInt32 bufferSize, double* progress, KUInt8* cancel);

private:
    // listed counts the entries of every directory read so far: they cannot together hold more bytes than
    // the file, else overlapping directories could list a number of sections that grows with the square of it.
    void priLoadDirectory(KUInt64 offset, int depth, std::set<KUInt64>& visited, KUInt64& listed);
    // Checks that the section lies in the file and is at least headerSize long; seeks to it.
    void priEnterSection(const KQrlbDirEntry& e, size_t headerSize, const char* kind);
};

// Image row decoders. The file is at the start of the image data; dataSize bytes of it belong to the image.
bool ReadImageFixedLineLength(KQrlbFile& file, KPixmap* pixmap, const KQrlbImageSection& h, KUInt64 dataSize,
                              double* progress, KUInt8* cancel);
bool ReadImageVariableLineLength(KQrlbFile& file, KPixmap* pixmap, const KQrlbImageSection& h, KUInt64 dataSize,
                                 double* progress, KUInt8* cancel);

// The rows of an image on demand; the file belongs to the reader, which must outlive the result.
std::unique_ptr<KQrlbImageRows> OpenQrlbImageRows(KQrlbFile& file, const KQrlbImageSection& h, KUInt64 start,
                                                  KUInt64 dataSize);

// Checks that an image section's header fits its data and its sizes are sane, before anything is allocated.
void CheckImageSection(const KQrlbFile& file, const KQrlbImageSection& h, KUInt64 dataSize);
