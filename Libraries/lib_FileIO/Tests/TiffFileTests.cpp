#include <gtest/gtest.h>

#include <cstdarg>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "KDebug.h"
#include "KException.h"
#include "Tiff/KTiffFile.h"
#include "TiffTestSupport.h"

namespace {

class TiffFile : public tifftest::Fixture {};

// A file over bytes in memory that counts its releases.
class CountingFile : public KIFile {
public:
    CountingFile(std::vector<uint8_t> bytes, int* releases) : m_Bytes(std::move(bytes)), m_pReleases(releases) {}
    void Release() override
    {
        ++*m_pReleases;
        delete this;
    }
    KUInt32 Seek(KUInt32 position) override { return m_Pos = position; }
    KUInt32 Tell() override { return m_Pos; }
    bool ReadLine(KWString&) override { return false; }
    void ReadExact(void* buffer, KUInt32 count) override
    {
        if (Read(buffer, count) != count)
            throw KExceptionEOF("");
    }
    KUInt32 Read(void* buffer, KUInt32 count) override
    {
        if (m_Pos >= m_Bytes.size())
            return 0;
        const KUInt32 n = static_cast<KUInt32>(std::min<size_t>(count, m_Bytes.size() - m_Pos));
        std::memcpy(buffer, m_Bytes.data() + m_Pos, n);
        m_Pos += n;
        return n;
    }
    int Write(const void*, KUInt32) override { throw KExceptionFileWrite("disk gone"); }
    void Flush() override {}
    void SetEndOfFile(KUInt32 length) override { m_Bytes.resize(length); }
    KUInt32 GetSize() override { return static_cast<KUInt32>(m_Bytes.size()); }
    void GetURL(KWString& url) override { url = KWString("mem://x"); }
    void GetInfo(KFileInfo*) override {}
    void SetReadOnly(const KFileInfo*) override {}

private:
    std::vector<uint8_t> m_Bytes;
    int* m_pReleases;
    KUInt32 m_Pos = 0;
};

void TraceError(const char* module, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    TiffErrorHandler(module, format, args);
    va_end(args);
}

void TraceWarning(const char* module, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    TiffWarningHandler(module, format, args);
    va_end(args);
}

// A valid little TIFF of 2 x 2 grey pixels.
std::vector<uint8_t> SmallTiff(const std::filesystem::path& path)
{
    EXPECT_TRUE(tifftest::WriteTiff(path, {PHOTOMETRIC_MINISBLACK, 1, 0, 8}, 2, 2,
                                    [](uint32_t) { return std::vector<uint8_t>{1, 2}; }));
    return lumotest::ReadBytes(path);
}

}  // namespace

TEST_F(TiffFile, ReadsThroughTheStorageLayer)
{
    SmallTiff(Path("a.tif"));
    TIFF* tiff = TIFFOpen(URL("a.tif"), "r");
    ASSERT_NE(tiff, nullptr);
    uint32_t width = 0;
    EXPECT_TRUE(TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width));
    EXPECT_EQ(width, 2u);
    uint8_t row[2] = {};
    EXPECT_EQ(TIFFReadScanline(tiff, row, 1, 0), 1);
    EXPECT_EQ(row[1], 2);
    TIFFClose(tiff);
}

TEST_F(TiffFile, WriteModesCreateOrTruncateAndReadWriteKeeps)
{
    const auto original = SmallTiff(Path("keep.tif"));
    for (const char* mode : {"w", "wa"}) {
        std::filesystem::copy_file(Path("keep.tif"), Path("t.tif"), std::filesystem::copy_options::overwrite_existing);
        TIFF* tiff = TIFFOpen(URL("t.tif"), mode);
        ASSERT_NE(tiff, nullptr) << mode;
        // Nothing of the old file is left: the library wrote its new header only.
        EXPECT_EQ(std::filesystem::file_size(Path("t.tif")), 8u) << mode;
        TIFFClose(tiff);
    }
    TIFF* created = TIFFOpen(URL("new.tif"), "w");
    ASSERT_NE(created, nullptr);
    TIFFClose(created);
    EXPECT_TRUE(std::filesystem::exists(Path("new.tif")));

    // "r+" keeps the file as it is and refuses a missing one.
    TIFF* both = TIFFOpen(URL("keep.tif"), "r+");
    ASSERT_NE(both, nullptr);
    uint32_t width = 0;
    EXPECT_TRUE(TIFFGetField(both, TIFFTAG_IMAGEWIDTH, &width));
    EXPECT_EQ(width, 2u);
    TIFFClose(both);
    EXPECT_EQ(lumotest::ReadBytes(Path("keep.tif")), original);
    EXPECT_EQ(TIFFOpen(URL("absent.tif"), "r+"), nullptr);
    EXPECT_FALSE(std::filesystem::exists(Path("absent.tif")));
}

TEST_F(TiffFile, BadModeAndMissingFilesAreTracedAndOpenNothing)
{
    KTraceCapture trace;
    EXPECT_EQ(TIFFOpen(URL("x.tif"), "x"), nullptr);
    EXPECT_TRUE(trace.Contains("TIFFOpen: \"x\": Bad mode.\n")) << trace.Text();
    EXPECT_FALSE(std::filesystem::exists(Path("x.tif")));
    trace.Clear();
    EXPECT_EQ(TIFFOpen(URL("none.tif"), "r"), nullptr);
    EXPECT_TRUE(trace.Contains("TIFFOpen: Cannot open file.\n")) << trace.Text();
    EXPECT_EQ(TIFFOpen(KWString("nosuchclass://a.tif"), "w"), nullptr);
}

TEST_F(TiffFile, HandlersTraceWithAndWithoutModule)
{
    KTraceCapture trace;
    TraceError("Mod", "bad %d", 7);
    TraceError(nullptr, "no module %s", "here");
    TraceWarning("Mod", "odd");
    TraceWarning(nullptr, "odder");
    EXPECT_EQ(trace.Text(), "Mod: bad 7.\nno module here.\nMod: Warning, odd.\nWarning, odder.\n");
}

TEST_F(TiffFile, FailedOpenReleasesTheFileOnce)
{
    int releases = 0;
    auto* garbage = new CountingFile(std::vector<uint8_t>(64, 0x55), &releases);
    EXPECT_EQ(TIFFFileOpen(garbage, KWString("mem://garbage"), "r"), nullptr);
    EXPECT_EQ(releases, 1);

    auto* empty = new CountingFile({}, &releases);
    EXPECT_EQ(TIFFFileOpen(empty, KWString("mem://empty"), "r"), nullptr);
    EXPECT_EQ(releases, 2);

    // A write failure (thrown by the file) is a failed open for writing, never an exception out of the library.
    auto* full = new CountingFile({}, &releases);
    EXPECT_EQ(TIFFFileOpen(full, KWString("mem://full"), "w"), nullptr);
    EXPECT_EQ(releases, 3);

    auto* kept = new CountingFile({}, &releases);
    EXPECT_EQ(TIFFFileOpen(kept, KWString("mem://kept"), "r", false), nullptr);
    EXPECT_EQ(releases, 3);
    kept->Release();

    auto* good = new CountingFile(SmallTiff(Path("g.tif")), &releases);
    TIFF* tiff = TIFFFileOpen(good, KWString("mem://good"), "r");
    ASSERT_NE(tiff, nullptr);
    EXPECT_EQ(TIFFGetKIFile(tiff), good);
    EXPECT_EQ(releases, 4);
    TIFFClose(tiff);
    EXPECT_EQ(releases, 5);
}

TEST_F(TiffFile, SeekGrowsAWritableFileOnlyForward)
{
    TIFF* tiff = TIFFOpen(URL("seek.tif"), "w");
    ASSERT_NE(tiff, nullptr);
    TIFFSeekProc seek = TIFFGetSeekProc(tiff);
    thandle_t handle = TIFFClientdata(tiff);
    EXPECT_EQ(seek(handle, 100, SEEK_SET), 100u);
    EXPECT_EQ(std::filesystem::file_size(Path("seek.tif")), 100u);
    EXPECT_EQ(seek(handle, 20, SEEK_CUR), 120u);
    EXPECT_EQ(std::filesystem::file_size(Path("seek.tif")), 120u);
    EXPECT_EQ(seek(handle, static_cast<toff_t>(-10), SEEK_END), 110u);
    EXPECT_EQ(seek(handle, 0, SEEK_END), 120u);
    EXPECT_EQ(std::filesystem::file_size(Path("seek.tif")), 120u);
    EXPECT_EQ(seek(handle, 5, SEEK_END), 125u);
    EXPECT_EQ(std::filesystem::file_size(Path("seek.tif")), 125u);
    EXPECT_EQ(seek(handle, 3, 7), 125u);  // unknown whence: nothing moves
    EXPECT_EQ(seek(handle, 0x100000000ull, SEEK_SET), 125u);  // beyond 32 bits: nothing moves
    TIFFClose(tiff);

    SmallTiff(Path("ro.tif"));
    const auto size = std::filesystem::file_size(Path("ro.tif"));
    TIFF* reading = TIFFOpen(URL("ro.tif"), "r");
    ASSERT_NE(reading, nullptr);
    TIFFGetSeekProc(reading)(TIFFClientdata(reading), size + 1000, SEEK_SET);
    TIFFClose(reading);
    EXPECT_EQ(std::filesystem::file_size(Path("ro.tif")), size);
}
