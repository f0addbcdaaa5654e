#pragma once
// Reader of KZR raw container files: the fixed header, the directory (nested directories expanded), the
// property lists, the calibration sections and the images.
//
// Everything the file says is checked before it is used: offsets, lengths and counts against the file and
// the section that holds them, in 64-bit arithmetic; a damaged file ends in an exception that names the
// file and what was wrong, never in a read outside the file or an absurd allocation.
//
// A reader serves one thread for its whole life (the raw loader makes one per request). It owns its file.
// The progress and cancel bytes handed to GetCamFile and GetImage may be watched and set by other threads:
// they are written and read atomically.
#include <memory>
#include <vector>

#include "KPixmap.h"
#include "KPropTree.h"
#include "KQrlbExceptions.h"
#include "KTypes.h"
#include "KWString.h"

class KIFile;
class KQrlbImageReaderImpl;
class KQrlbImageRows;

struct KQrlbSize {
    KInt32 columns = 0;
    KInt32 rows = 0;
};

// One entry of the directory as the reader lists it.
struct KQrlbDirEntry {
    KUInt32 offset = 0;
    KUInt32 length = 0;
    KUInt32 type = 0;
};

// The fields of an image section header.
struct KQrlbImageSection {
    KUInt32 version = 0;
    KUInt32 imageType = 0;
    KUInt32 dataFormat = 0;
    KUInt32 columns = 0;
    KUInt32 rows = 0;
    KUInt32 rowSize = 0;  // 0 = rows of variable length
};

// Pixmap type that receives a data format; formats 7..10 and above 11 throw KExceptionUnknownPixelType
// "MapQrlbPixelFormatToKPixmapType()".
int MapQrlbPixelFormatToKPixmapType(KUInt32 dataFormat);

class KQrlbImageReader {
public:
    // Opens the file by storage URL and checks its header: KExceptionFileNotFound (message: the URL),
    // KExceptionEOF for a file shorter than the header, KExceptionNotAQrlb, KExceptionQrlbIncompatible.
    explicit KQrlbImageReader(const KWString& url);
    // The same over a file that is already open; the reader takes it over (and releases it, also when the
    // constructor throws). `name` stands for the URL in messages.
    KQrlbImageReader(KIFile* file, const KWString& name);
    ~KQrlbImageReader();
    KQrlbImageReader(const KQrlbImageReader&) = delete;
    KQrlbImageReader& operator=(const KQrlbImageReader&) = delete;

    // Header fields.
    void GetDimensions(KInt32& columns, KInt32& rows) const;
    const KUInt8* GetUniqueIdentifier() const;  // 16 bytes
    KUInt32 GetMarkBits() const;
    KInt32 GetRotation() const;
    // The header's white-balance text (always terminated), or null before version 2.1.
    const char* GetWhiteBalance() const;
    KUInt32 GetVersion() const;

    // Appends the pairs of every property list, in directory order.
    void GetProperties(KPropTree* tree);

    int GetNumCamFiles();
    // Payload size and calibration type; an enciphered section (type 2) reports type 1 and leaves out its
    // 12-byte header.
    void GetCamFileInfo(int index, KUInt32& size, KUInt32& type);
    // Reads (and deciphers) up to bufferSize payload bytes; returns how many, or 0 when cancelled.
    KUInt32 GetCamFile(int index, void* buffer, KUInt32 bufferSize, double* progress, KUInt8* cancel);

    // Images count the "IMAG" sections first, then the "IMA2" sections.
    int GetNumImages();
    void GetImageInfo(int index, KQrlbSize& size, int& pixmapType, KUInt32& imageType);
    // Decodes the image into the pixmap (at least the image's size, of its pixel type); false when cancelled.
    bool GetImage(int index, KPixmap* pixmap, double* progress, KUInt8* cancel);

    // The rows of an image on demand (below); the reader must outlive the object. Throws as GetImage does for
    // an image it cannot read.
    std::unique_ptr<KQrlbImageRows> OpenImageRows(int index);

    // For tools: the directory as listed (nested directories expanded, DIRP entries left out) and the
    // header of an image section.
    const std::vector<KQrlbDirEntry>& GetDirectory();
    KQrlbImageSection GetImageSection(int index);

private:
    std::unique_ptr<KQrlbImageReaderImpl> m_pImpl;
};

// Rows of one image decoded on demand, by any number of threads at once: the image's tables are read when it
// is opened; each ReadRows reads only the bytes of its rows (under a lock on the reader's file) and decodes
// them outside the lock, so bands of rows can be decoded where they are used instead of the whole image first.
// Rows come out exactly as GetImage writes them.
class KQrlbImageRows {
public:
    virtual ~KQrlbImageRows() = default;
    virtual KInt32 GetWidth() const = 0;
    virtual KInt32 GetHeight() const = 0;
    virtual int GetPixelType() const = 0;
    // Decodes rows first .. first + count - 1 into rows 0 .. count - 1 of pixmap (of the image's pixel type and
    // at least its width and count rows). Rows outside the image and pixmaps that do not fit throw
    // KExceptionQrlbReader; damaged rows throw as GetImage does.
    virtual void ReadRows(KInt32 first, KInt32 count, KPixmap* pixmap) = 0;
};
