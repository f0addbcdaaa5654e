#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "KDebug.h"
#include "KPNGLoader.h"
#include "TiffTestSupport.h"

namespace {

class PNGLoader : public tifftest::Fixture {
protected:
    // Makes name with ImageMagick's convert (arguments end with the output format, "PNG24:" or "PNG:"); checks
    // the colour type and bit depth that it wrote.
    void Convert(const std::string& arguments, const std::string& name, int bitDepth, int colorType)
    {
        const std::string command = "convert " + arguments + "'" + Path(name).string() + "'";
        ASSERT_EQ(lumotest::RunCommand(command), 0) << command;
        const auto bytes = lumotest::ReadBytes(Path(name));
        ASSERT_GT(bytes.size(), 26u);
        ASSERT_EQ(bytes[24], bitDepth) << name;
        ASSERT_EQ(bytes[25], colorType) << name;
    }

    std::unique_ptr<KPNGPixmap> Load(const std::string& name)
    {
        KIFile* file = OpenFileByURL(URL(name), KFILE_MODE_READ);
        EXPECT_NE(file, nullptr) << name;
        if (file == nullptr)
            return nullptr;
        std::unique_ptr<KPNGPixmap> pixmap(LoadPNGPixmap(file));
        if (pixmap)
            file->Release();  // on success the file stays with the caller
        return pixmap;
    }

    static std::vector<int> Pixel(const KPixmap& pixmap, int x, int y)
    {
        const uint8_t* p = pixmap.GetRow(y) + 4 * x;
        return {p[0], p[1], p[2], p[3]};
    }
};

uint32_t Crc32(const uint8_t* p, size_t n)
{
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < n; ++i) {
        crc ^= p[i];
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    return ~crc;
}

void AppendChunk(std::vector<uint8_t>& png, const char* type, const std::vector<uint8_t>& data)
{
    auto put32 = [&](uint32_t v) {
        for (int i = 3; i >= 0; --i)
            png.push_back(static_cast<uint8_t>(v >> (8 * i)));
    };
    put32(static_cast<uint32_t>(data.size()));
    const size_t start = png.size();
    png.insert(png.end(), type, type + 4);
    png.insert(png.end(), data.begin(), data.end());
    put32(Crc32(png.data() + start, png.size() - start));
}

}  // namespace

TEST_F(PNGLoader, EveryKindLoadsAsBGRA)
{
    Convert("-size 4x3 xc:'rgb(200,100,50)' PNG24:", "rgb.png", 8, 2);
    Convert("-size 4x3 xc:'rgba(200,100,50,0.4)' PNG32:", "rgba.png", 8, 6);
    Convert("-size 4x3 gradient:'gray(10%)'-'gray(90%)' -depth 16 -define png:bit-depth=16 -define png:color-type=0 PNG:",
            "grey16.png", 16, 0);
    Convert("-size 2x3 xc:red xc:blue +append PNG8:", "palette.png", 8, 3);
    Convert("-size 2x3 xc:red xc:blue +append -interlace PNG PNG8:", "interlaced.png", 8, 3);
    Convert("-size 4x3 xc:'graya(40%,0.4)' -define png:color-type=4 PNG:", "greyalpha.png", 8, 4);
    Convert("-size 2x3 xc:none xc:red +append PNG8:", "transparent.png", 8, 3);  // palette with tRNS

    struct Case {
        const char* name;
        int width, height, x, y;
        std::vector<int> bgra;
    } cases[] = {
        {"rgb.png", 4, 3, 3, 2, {50, 100, 200, 255}},
        {"rgba.png", 4, 3, 0, 0, {50, 100, 200, 102}},
        {"grey16.png", 4, 3, 1, 0, {0x19, 0x19, 0x19, 255}},  // 0x199A stripped to its high byte
        {"palette.png", 4, 3, 0, 2, {0, 0, 255, 255}},
        {"palette.png", 4, 3, 3, 0, {255, 0, 0, 255}},
        {"interlaced.png", 4, 3, 3, 2, {255, 0, 0, 255}},
        {"greyalpha.png", 4, 3, 2, 1, {102, 102, 102, 102}},
        {"transparent.png", 4, 3, 0, 0, {0, 0, 0, 0}},
        {"transparent.png", 4, 3, 3, 2, {0, 0, 255, 255}},
    };
    for (const Case& c : cases) {
        auto pixmap = Load(c.name);
        ASSERT_TRUE(pixmap) << c.name;
        EXPECT_EQ(pixmap->GetPixelType(), kPixelType32BGRA);
        EXPECT_EQ(pixmap->GetWidth(), c.width) << c.name;
        EXPECT_EQ(pixmap->GetHeight(), c.height) << c.name;
        EXPECT_EQ(pixmap->GetRowBytes(), c.width * 4) << c.name;
        EXPECT_EQ(Pixel(*pixmap, c.x, c.y), c.bgra) << c.name;
    }
}

TEST_F(PNGLoader, TallImageLoadsEveryRow)
{
    Convert("-size 2x3000 gradient:black-white PNG24:", "tall.png", 8, 2);
    auto pixmap = Load("tall.png");
    ASSERT_TRUE(pixmap);
    EXPECT_EQ(pixmap->GetHeight(), 3000);
    EXPECT_EQ(Pixel(*pixmap, 1, 0), (std::vector<int>{0, 0, 0, 255}));
    EXPECT_EQ(Pixel(*pixmap, 1, 2999), (std::vector<int>{255, 255, 255, 255}));
    EXPECT_EQ(Pixel(*pixmap, 0, 1500)[3], 255);
}

TEST_F(PNGLoader, BadFilesGiveNullAndReleaseTheFile)
{
    Convert("-size 16x16 xc:'rgb(1,2,3)' PNG24:", "good.png", 8, 2);
    const auto good = lumotest::ReadBytes(Path("good.png"));
    std::vector<uint8_t> huge = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    AppendChunk(huge, "IHDR", {0, 0, 0x4E, 0x20, 0, 0, 0x4E, 0x20, 8, 2, 0, 0, 0});  // 20000 x 20000
    AppendChunk(huge, "IEND", {});
    std::vector<uint8_t> corrupt = good;
    corrupt[good.size() / 2] ^= 0xFF;

    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
    } cases[] = {
        {"three.png", {0x89, 'P', 'N'}},
        {"text.png", {'h', 'e', 'l', 'l', 'o', '!'}},
        {"cut.png", std::vector<uint8_t>(good.begin(), good.begin() + good.size() / 2)},
        {"corrupt.png", corrupt},
        {"huge.png", huge},
    };
    for (const Case& c : cases) {
        lumotest::WriteBytes(Path(c.name), c.bytes);
        KIFile* file = OpenFileByURL(URL(c.name), KFILE_MODE_READ);
        ASSERT_NE(file, nullptr);
        KTraceCapture trace;
        EXPECT_EQ(LoadPNGPixmap(file), nullptr) << c.name;
        EXPECT_TRUE(trace.Contains("not loaded")) << c.name;
        // The file was released: ASan would report a leak, and its name can be opened for writing again.
    }
    EXPECT_EQ(LoadPNGPixmap(nullptr), nullptr);
}
