#pragma once
// The row-by-row image writer that the JPEG and TIFF writers implement. Calls come in the order dimensions,
// tags, thumbnail, properties, profile, lines; a file is complete once its last row is written. One thread
// uses a writer at a time.
#include "KStorageHolder.h"
#include "KTypes.h"
#include "KWString.h"

class KHasProperties;
class KPixmap;
class KPropTree;

// The program's version: four 32-bit numbers, shown as " %d.%d.%d.%04d" after the program's name.
struct KVersionInfo {
    KInt32 Major = 0;
    KInt32 Minor = 0;
    KInt32 Revision = 0;
    KInt32 Build = 0;
};

class KImageLineWriter {
public:
    virtual ~KImageLineWriter() = default;
    virtual void SetDimensions(KInt32 width, KInt32 height, int pixelType) = 0;
    virtual void WriteTags(const KHasProperties& tags) = 0;
    virtual void WriteProperties(const KPropTree& props, int colorSpaceCode, const KWString& softwareName,
                                 const KVersionInfo& version) = 0;
    virtual void WriteThumbnail(const KPixmap& pixmap) = 0;
    virtual void WriteProfile(KUInt32 size, const void* data) = 0;
    virtual void WriteLine(const void* row, int pixelType) = 0;
};

// A writer of whole pixmaps (the JPEG writer's thumbnail maker among its users).
class KImageWriter {
public:
    virtual ~KImageWriter() = default;
    // Remembers a profile to embed; the caller keeps the bytes alive until Write returns.
    virtual void SetProfile(KUInt32 size, const void* data) = 0;
    virtual void Write(const KPixmap& pixmap, const KHasProperties& tags) = 0;
};

// The file a writer fills. It is written under a temporary name beside the target; Commit renames it to the
// target once every byte is written and flushed (an older file of that name is replaced only then). Destroyed
// before Commit, it removes the temporary: a failed or unfinished save leaves no file that looks complete.
class KImageOutputFile {
public:
    // KExceptionFileOpen (message: the URL) when the folder or the temporary file cannot be opened.
    explicit KImageOutputFile(const KWString& url);
    ~KImageOutputFile();
    KImageOutputFile(const KImageOutputFile&) = delete;
    KImageOutputFile& operator=(const KImageOutputFile&) = delete;

    KIFile* GetFile() const { return m_pFile.get(); }
    const KWString& GetURL() const { return m_URL; }
    // Closes the file and moves it to the target; KExceptionFileWrite when that fails (the target then holds
    // what it held before).
    void Commit();

private:
    bool priExists(const KWString& name) const;

    KWString m_URL;
    KWString m_FolderURL;
    KWString m_Name;
    KWString m_TempName;
    KFolderHolder m_pFolder;
    KFileHolder m_pFile;
    bool m_Committed = false;
};
