#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "JpegTestSupport.h"
#include "KExifReader.h"
#include "KHasProperties.h"
#include "KJPEGImageReader.h"
#include "KJPEGImageWriter.h"
#include "KPixmapExceptions.h"
#include "KPropTree.h"

using jpegtest::Markers;
using jpegtest::TestImage;
using jpegtest::WriteJpeg;

namespace {

class JpegWriter : public jpegtest::Fixture {};

// Component 0's sampling byte in the frame header.
int LumaSampling(const std::vector<uint8_t>& file)
{
    for (auto& m : Markers(file))
        if (m.code == 0xC0)
            return m.data.at(7);
    return -1;
}

std::vector<int> Codes(const std::vector<uint8_t>& file)
{
    std::vector<int> codes;
    for (auto& m : Markers(file))
        codes.push_back(m.code);
    return codes;
}

template <class E>
std::string MessageOf(const std::function<void()>& f)
{
    try {
        f();
    } catch (const E& e) {
        return e.GetMessage();
    } catch (...) {
        return "<other exception>";
    }
    return "<no exception>";
}

}  // namespace

TEST_F(JpegWriter, RoundTripAndSampling)
{
    TestImage image = TestImage::Gradient(kPixelType24RGB, 96, 64);
    for (int quality : {78, 79, 95}) {
        std::string name = "q" + std::to_string(quality) + ".jpg";
        WriteJpeg(URL(name), image, quality);
        std::vector<uint8_t> file = lumotest::ReadBytes(Path(name));
        // No JFIF header: the frame's tables follow the start of image directly.
        EXPECT_NE(Codes(file).at(0), 0xE0);
        EXPECT_EQ(LumaSampling(file), quality > 78 ? 0x11 : 0x22) << quality;
        EXPECT_EQ(file[file.size() - 2], 0xFF);
        EXPECT_EQ(file[file.size() - 1], 0xD9);

        KJPEGImageReader reader(URL(name));
        KInt32 w = 0, h = 0;
        int type = 0;
        reader.GetDimensions(w, h, type);
        EXPECT_EQ(w, 96);
        EXPECT_EQ(h, 64);
        EXPECT_EQ(type, kPixelType24RGB);
        TestImage back(kPixelType24RGB, w, h);
        reader.ReadImage(back.Pixmap());
        int worst = 0;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w * 3; ++x)
                worst = std::max(worst, std::abs(int(back.Row(y)[x]) - int(image.Row(y)[x])));
        EXPECT_LE(worst, quality >= 95 ? 6 : 16) << quality;
    }
    EXPECT_EQ(FilesInRoot().size(), 3u) << "no temporary files stay behind";
}

TEST_F(JpegWriter, MarkersInCallOrder)
{
    TestImage image = TestImage::Gradient(kPixelType24RGB, 32, 16);
    std::vector<uint8_t> profile(65519);
    for (size_t i = 0; i < profile.size(); ++i)
        profile[i] = uint8_t(i * 31 + 7);
    KPropTree props(nullptr, "ImageProps");
    props.AddPair("CAMMANUF", "PELTA");
    WriteJpeg(URL("m.jpg"), image, 90, [&](KJPEGLineWriter& w) {
        KHasProperties tags;
        tags.SetProperty("Description", "A comment");
        tags.SetProperty("Other", "ignored");
        w.WriteTags(tags);
        w.WriteProperties(props, 2, KWString("Demo"), KVersionInfo{1, 2, 3, 4});
        w.WriteProfile(uint32_t(profile.size()), profile.data());
    });
    std::vector<uint8_t> file = lumotest::ReadBytes(Path("m.jpg"));
    auto markers = Markers(file);
    ASSERT_GE(markers.size(), 5u);
    EXPECT_EQ(markers[0].code, 0xFE);
    EXPECT_EQ(markers[0].data, std::vector<uint8_t>(std::begin("A comment"), std::end("A comment")));
    EXPECT_EQ(markers[1].code, 0xE1);
    KPropTree back(nullptr, "b");
    EXPECT_TRUE(ParseExifSegment(markers[1].data.data(), markers[1].data.size(), back));
    EXPECT_EQ(WideToUtf8(back.GetString(KWString("CAMMANUF"), KWString())), "PELTA");
    EXPECT_EQ(WideToUtf8(back.GetString(KWString("KZRCOLS"), KWString())), "32");
    // Two chunks: 65518 bytes and 1 byte, numbered 1 and 2 of 2.
    ASSERT_EQ(markers[2].code, 0xE2);
    ASSERT_EQ(markers[3].code, 0xE2);
    std::vector<uint8_t> joined;
    for (int i : {2, 3}) {
        const auto& d = markers[i].data;
        EXPECT_EQ(std::string(d.begin(), d.begin() + 12), std::string("ICC_PROFILE\0", 12));
        EXPECT_EQ(d[12], i - 1);
        EXPECT_EQ(d[13], 2);
        joined.insert(joined.end(), d.begin() + 14, d.end());
    }
    EXPECT_EQ(markers[2].data.size(), 14u + 65518);
    EXPECT_EQ(joined, profile);
    EXPECT_EQ(markers[4].code, 0xDB);  // then the image's own tables

    // A 65518-byte profile is one chunk; none is written for 0 bytes.
    WriteJpeg(URL("one.jpg"), image, 90, [&](KJPEGLineWriter& w) { w.WriteProfile(65518, profile.data()); });
    markers = Markers(lumotest::ReadBytes(Path("one.jpg")));
    EXPECT_EQ(markers[0].code, 0xE2);
    EXPECT_EQ(markers[0].data[13], 1);
    EXPECT_NE(markers[1].code, 0xE2);
    WriteJpeg(URL("none.jpg"), image, 90, [&](KJPEGLineWriter& w) { w.WriteProfile(0, nullptr); });
    EXPECT_EQ(Codes(lumotest::ReadBytes(Path("none.jpg"))).at(0), 0xDB);
    // More than 255 chunks cannot be numbered: refused before anything is written.
    std::vector<uint8_t> huge(255 * 65518 + 1);
    KJPEGLineWriter writer(URL("huge.jpg"), 90, false);
    writer.SetDimensions(4, 4, kPixelType8Mono);
    EXPECT_EQ(MessageOf<KExceptionJPEG>([&] { writer.WriteProfile(uint32_t(huge.size()), huge.data()); }),
              "ICC profile of 16707091 bytes is too large for a JPEG file");
}

TEST_F(JpegWriter, CommentLengthLimit)
{
    TestImage image = TestImage::Gradient(kPixelType8Mono, 8, 8);
    for (size_t length : {65531u, 65532u}) {
        KHasProperties tags;
        tags.SetProperty("Description", std::string(length, 'c').c_str());
        WriteJpeg(URL("c.jpg"), image, 90, [&](KJPEGLineWriter& w) { w.WriteTags(tags); });
        auto markers = Markers(lumotest::ReadBytes(Path("c.jpg")));
        if (length == 65531u) {
            ASSERT_EQ(markers.at(0).code, 0xFE);
            EXPECT_EQ(markers[0].data.size(), 65532u);
            EXPECT_EQ(markers[0].data.back(), 0);
        } else {
            EXPECT_NE(markers.at(0).code, 0xFE);
        }
    }
}

TEST_F(JpegWriter, OrderRules)
{
    TestImage image = TestImage::Gradient(kPixelType24RGB, 4, 2);
    KHasProperties tags;
    KPropTree props(nullptr, "p");
    const uint8_t profile[4] = {1, 2, 3, 4};
    const KVersionInfo version{1, 0, 0, 0};
    using Uninit = KExceptionJPEGWriteUninitialized;
    using Order = KExceptionJPEGOutOfOrderOperation;
    {
        KJPEGLineWriter w(URL("o.jpg"), 90, false);
        EXPECT_EQ(MessageOf<Uninit>([&] { w.WriteTags(tags); }), "JPEGLineWriter::WriteTags()");
        EXPECT_EQ(MessageOf<Uninit>([&] { w.WriteProperties(props, 2, KWString("x"), version); }),
                  "JPEGLineWriter::WriteTags()");
        EXPECT_EQ(MessageOf<Uninit>([&] { w.WriteProfile(4, profile); }), "JPEGLineWriter::WriteProfile()");
        EXPECT_EQ(MessageOf<Uninit>([&] { w.WriteLine(image.Row(0), kPixelType24RGB); }),
                  "JPEGLineWriter::WriteLine()");
        EXPECT_EQ(MessageOf<KExceptionUnknownPixelType>([&] { w.SetDimensions(4, 2, kPixelType48RGB); }),
                  "JPEGLineWriter: while setting dimensions");
        TestImage thumb = TestImage::Gradient(kPixelType24RGB, 16, 8);
        w.WriteThumbnail(thumb.Pixmap());  // accepted before SetDimensions
        w.SetDimensions(4, 2, kPixelType24RGB);
        w.WriteProperties(props, 2, KWString("x"), version);
        EXPECT_EQ(MessageOf<Order>([&] { w.WriteThumbnail(thumb.Pixmap()); }),
                  "Thumbnails must be written before properties!");
        w.WriteLine(image.Row(0), kPixelType24RGB);
        EXPECT_EQ(MessageOf<Order>([&] { w.WriteTags(tags); }), "Tags must be written before the first WriteLine()");
        EXPECT_EQ(MessageOf<Order>([&] { w.WriteProperties(props, 2, KWString("x"), version); }),
                  "Tags must be written before the first WriteLine()");
        EXPECT_EQ(MessageOf<Order>([&] { w.WriteProfile(4, profile); }),
                  "ICC Profiles must be written before the first WriteLine()");
        w.WriteLine(image.Row(1), kPixelType24RGB);
        EXPECT_EQ(MessageOf<KExceptionJPEG>([&] { w.WriteLine(image.Row(1), kPixelType24RGB); }),
                  "More scan lines written than rows specified.");
    }
    EXPECT_TRUE(std::filesystem::exists(Path("o.jpg")));
}

TEST_F(JpegWriter, RowTypesAreConverted)
{
    // Every 8-bit colour layout of the same pixels gives the same file as 24RGB rows.
    TestImage rgb = TestImage::Gradient(kPixelType24RGB, 40, 24);
    WriteJpeg(URL("ref.jpg"), rgb, 92);
    const std::vector<uint8_t> reference = lumotest::ReadBytes(Path("ref.jpg"));
    struct Layout {
        int type;
        int bytes;
        int r, g, b;
    } layouts[] = {
        {kPixelType24BGR, 3, 2, 1, 0},  {kPixelType32ARGB, 4, 1, 2, 3}, {kPixelType32ABGR, 4, 3, 2, 1},
        {kPixelType32BGRA, 4, 2, 1, 0}, {kPixelType32RGBA, 4, 0, 1, 2},
    };
    for (const Layout& l : layouts) {
        TestImage img(l.type, rgb.Width(), rgb.Height());
        for (int y = 0; y < rgb.Height(); ++y)
            for (int x = 0; x < rgb.Width(); ++x) {
                uint8_t* p = img.Row(y) + x * l.bytes;
                p[l.r] = rgb.Row(y)[3 * x];
                p[l.g] = rgb.Row(y)[3 * x + 1];
                p[l.b] = rgb.Row(y)[3 * x + 2];
            }
        WriteJpeg(URL("t.jpg"), img, 92, {}, kPixelType24RGB);
        EXPECT_EQ(lumotest::ReadBytes(Path("t.jpg")), reference) << l.type;
    }

    KJPEGLineWriter colour(URL("deep.jpg"), 90, false);
    colour.SetDimensions(4, 1, kPixelType24RGB);
    std::vector<uint8_t> row(64);
    for (int type : {8, 9, 10, 15, 16, 17})
        EXPECT_THROW(colour.WriteLine(row.data(), type), KExceptionBitDepthMismatch) << type;
    EXPECT_EQ(MessageOf<KExceptionUnknownPixelType>([&] { colour.WriteLine(row.data(), kPixelType16Mono); }),
              "JPEGLineWriter: Unknown dest pixel type");
    KJPEGLineWriter grey(URL("grey.jpg"), 90, false);
    grey.SetDimensions(4, 1, kPixelType8Mono);
    EXPECT_EQ(MessageOf<KExceptionUnknownPixelType>([&] { grey.WriteLine(row.data(), kPixelType24RGB); }),
              "JPEGLineWriter: Unknown source pixel type");
}

TEST_F(JpegWriter, Thumbnail)
{
    TestImage image = TestImage::Gradient(kPixelType24RGB, 48, 32);
    TestImage thumb = TestImage::Gradient(kPixelType24BGR, 160, 106);
    KPropTree props(nullptr, "p");
    // The thumbnail needs no temporary folder.
    const char* oldTemp = std::getenv("TMPDIR");
    const std::string keptTemp = oldTemp ? oldTemp : "";
    setenv("TMPDIR", "/nonexistent", 1);
    WriteJpeg(URL("th.jpg"), image, 90, [&](KJPEGLineWriter& w) {
        w.WriteThumbnail(thumb.Pixmap());
        w.WriteProperties(props, 2, KWString("Demo"), KVersionInfo{});
    });
    if (oldTemp)
        setenv("TMPDIR", keptTemp.c_str(), 1);
    else
        unsetenv("TMPDIR");
    auto markers = Markers(lumotest::ReadBytes(Path("th.jpg")));
    ASSERT_EQ(markers.at(0).code, 0xE1);
    const std::vector<uint8_t>& seg = markers[0].data;
    ASSERT_EQ(ReadExifLong(&seg[136], false), 134u);
    // Entries 5 and 6 of the thumbnail directory: offset and length of the embedded JPEG.
    size_t at = ReadExifLong(&seg[142 + 4 * 12 + 8], false) + 6;
    size_t size = ReadExifLong(&seg[142 + 5 * 12 + 8], false);
    ASSERT_LE(at + size, seg.size());
    lumotest::WriteBytes(Path("embedded.jpg"), std::vector<uint8_t>(seg.begin() + at, seg.begin() + at + size));
    KJPEGImageReader reader(URL("embedded.jpg"));
    KInt32 w = 0, h = 0;
    int type = 0;
    reader.GetDimensions(w, h, type);
    EXPECT_EQ(w, 160);
    EXPECT_EQ(h, 106);
    EXPECT_EQ(FilesInRoot().size(), 2u) << "no scratch file beside the image";

    KJPEGLineWriter writer(URL("big.jpg"), 90, false);
    TestImage square(kPixelType24RGB, 160, 160);
    writer.WriteThumbnail(square.Pixmap());
    TestImage wide(kPixelType24RGB, 161, 10);
    EXPECT_EQ(MessageOf<KExceptionJPEG>([&] { writer.WriteThumbnail(wide.Pixmap()); }),
              "Thumbnails can't be larger than 160x160.");
    TestImage deep(kPixelType48RGB, 16, 16);
    EXPECT_THROW(writer.WriteThumbnail(deep.Pixmap()), KExceptionUnknownPixelType);
}

TEST_F(JpegWriter, UnfinishedImageLeavesNoFile)
{
    TestImage image = TestImage::Gradient(kPixelType24RGB, 32, 32);
    lumotest::WriteText(Path("keep.jpg"), "the older file");
    {
        KJPEGLineWriter writer(URL("keep.jpg"), 90, false);
        writer.SetDimensions(32, 32, kPixelType24RGB);
        for (int r = 0; r < 20; ++r)
            writer.WriteLine(image.Row(r), kPixelType24RGB);
    }
    {
        KJPEGLineWriter writer(URL("new.jpg"), 90, false);
        writer.SetDimensions(32, 32, kPixelType24RGB);
        writer.WriteLine(image.Row(0), kPixelType24RGB);
    }
    EXPECT_EQ(lumotest::ReadText(Path("keep.jpg")), "the older file");
    EXPECT_EQ(FilesInRoot(), std::vector<std::string>{"keep.jpg"});

    // A finished image replaces the older file.
    WriteJpeg(URL("keep.jpg"), image, 90);
    EXPECT_EQ(LumaSampling(lumotest::ReadBytes(Path("keep.jpg"))), 0x11);
    EXPECT_EQ(FilesInRoot(), std::vector<std::string>{"keep.jpg"});
}

TEST_F(JpegWriter, FailedWritesFailTheSave)
{
    TestImage image = TestImage::Gradient(kPixelType24RGB, 256, 128);
    WriteJpeg(KWString("mem://ok.jpg"), image, 95);
    ASSERT_EQ(m_Memory->files.size(), 1u);
    const long long size = static_cast<long long>(m_Memory->files.begin()->second->size());
    ASSERT_GT(size, 4096);
    // A full disk: the codec's write error, from the row that needed the room or from the last one.
    for (long long budget : {0LL, size / 2, size - 1}) {
        m_Memory->files.clear();
        m_Memory->writeBudget = budget;
        std::string message = MessageOf<KExceptionJPEG>([&] { WriteJpeg(KWString("mem://full.jpg"), image, 95); });
        EXPECT_EQ(message, "Output file write error --- out of disk space?") << budget;
        EXPECT_TRUE(m_Memory->files.empty()) << "nothing left behind, budget " << budget;
    }
    // The final flush fails.
    m_Memory->writeBudget = -1;
    m_Memory->failFlush = true;
    EXPECT_EQ(MessageOf<KExceptionJPEG>([&] { WriteJpeg(KWString("mem://flush.jpg"), image, 95); }),
              "Output file write error --- out of disk space?");
    EXPECT_TRUE(m_Memory->files.empty());

    EXPECT_EQ(MessageOf<KExceptionFileOpen>([&] { KJPEGLineWriter w(URL("no/such/folder/x.jpg"), 90, false); }),
              WideToUtf8(URL("no/such/folder/x.jpg")) + ": No such file or directory");
}

TEST_F(JpegWriter, ImageWriter)
{
    TestImage grey = TestImage::Gradient(kPixelType8Mono, 20, 10);
    const uint8_t profile[3] = {9, 8, 7};
    {
        KJPEGImageWriter writer(URL("g.jpg"), 85, false);
        writer.SetProfile(3, profile);
        KHasProperties tags;
        tags.SetProperty("Description", "grey");
        writer.Write(grey.Pixmap(), tags);
    }
    auto markers = Markers(lumotest::ReadBytes(Path("g.jpg")));
    EXPECT_EQ(markers.at(0).code, 0xFE);
    EXPECT_EQ(markers.at(1).code, 0xE2);
    KJPEGImageReader reader(URL("g.jpg"));
    KInt32 w = 0, h = 0;
    int type = 0;
    reader.GetDimensions(w, h, type);
    EXPECT_EQ(type, kPixelType8Mono);
    KJPEGImageWriter bad(URL("b.jpg"), 85, false);
    TestImage argb(kPixelType32ARGB, 4, 4);
    EXPECT_EQ(MessageOf<KExceptionUnknownPixelType>([&] { bad.Write(argb.Pixmap(), KHasProperties()); }), "");
}
