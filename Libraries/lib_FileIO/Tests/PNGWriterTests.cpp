#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "KPNGLoader.h"
#include "KPNGWriter.h"
#include "KPixmapExceptions.h"
#include "TiffTestSupport.h"

namespace {

class PNGWriter : public tifftest::Fixture {
protected:
    std::unique_ptr<KPNGPixmap> Load(const std::string& name)
    {
        KIFile* file = OpenFileByURL(URL(name), KFILE_MODE_READ);
        EXPECT_NE(file, nullptr) << name;
        if (file == nullptr)
            return nullptr;
        std::unique_ptr<KPNGPixmap> pixmap(LoadPNGPixmap(file));
        if (pixmap)
            file->Release();
        return pixmap;
    }

    std::vector<std::string> Names()
    {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(Path("")))
            names.push_back(entry.path().filename().string());
        return names;
    }
};

// Rows of rowBytes (padding filled with 0xEE) with distinct B, G, R and a varying alpha.
std::vector<uint8_t> Pixels(int32_t width, int32_t height, int32_t rowBytes)
{
    std::vector<uint8_t> bytes(size_t(rowBytes) * size_t(height), 0xEE);
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x) {
            uint8_t* p = &bytes[size_t(y) * size_t(rowBytes) + size_t(x) * 4];
            p[0] = uint8_t(x * 40);
            p[1] = uint8_t(y * 50);
            p[2] = uint8_t(200 - x);
            p[3] = uint8_t((x + y) * 30);
        }
    return bytes;
}

}  // namespace

TEST_F(PNGWriter, PixelsAndAlphaComeBackAsTheyWere)
{
    for (int32_t rowBytes : {5 * 4, 5 * 4 + 12}) {
        std::vector<uint8_t> bytes = Pixels(5, 3, rowBytes);
        KPixmapTemplate<KPixelClass32BGRA> pixmap(bytes.data(), 5, 3, rowBytes);
        SavePNGPixmap(pixmap, URL("out.png"));
        std::unique_ptr<KPNGPixmap> back = Load("out.png");
        ASSERT_TRUE(back);
        ASSERT_EQ(back->GetWidth(), 5);
        ASSERT_EQ(back->GetHeight(), 3);
        for (int32_t y = 0; y < 3; ++y)
            EXPECT_EQ(std::vector<uint8_t>(back->GetRow(y), back->GetRow(y) + 20),
                      std::vector<uint8_t>(pixmap.GetRow(y), pixmap.GetRow(y) + 20))
                << "row " << y << " of rows of " << rowBytes;
    }
    // ImageMagick reads it as an RGBA image of that size.
    EXPECT_EQ(lumotest::CommandOutput("identify -format '%w %h %[channels]' '" + Path("out.png").string() + "'"),
              "5 3 srgba");
    EXPECT_EQ(Names(), std::vector<std::string>{"out.png"});  // no temporary file left
}

TEST_F(PNGWriter, RefusesWhatItCannotWriteAndLeavesNoFile)
{
    std::vector<uint8_t> bytes = Pixels(4, 4, 16);
    KPixmapTemplate<KPixelClass24BGR> wrongType(bytes.data(), 4, 4, 16);
    EXPECT_THROW(SavePNGPixmap(wrongType, URL("a.png")), KExceptionUnknownPixelType);
    KPixmapTemplate<KPixelClass32BGRA> empty(bytes.data(), 0, 4, 16);
    EXPECT_THROW(SavePNGPixmap(empty, URL("a.png")), KExceptionFileWrite);
    KPixmapTemplate<KPixelClass32BGRA> shortRows(bytes.data(), 4, 4, 12);
    EXPECT_THROW(SavePNGPixmap(shortRows, URL("a.png")), KExceptionFileWrite);
    KPixmapTemplate<KPixelClass32BGRA> good(bytes.data(), 4, 4, 16);
    EXPECT_THROW(SavePNGPixmap(good, URL("missing-folder/a.png")), KExceptionFileOpen);
    EXPECT_TRUE(Names().empty());

    // An existing file is replaced only by a complete one.
    lumotest::WriteText(Path("keep.png"), "old");
    EXPECT_THROW(SavePNGPixmap(empty, URL("keep.png")), KExceptionFileWrite);
    EXPECT_EQ(lumotest::ReadText(Path("keep.png")), "old");
    SavePNGPixmap(good, URL("keep.png"));
    EXPECT_TRUE(Load("keep.png"));
}
