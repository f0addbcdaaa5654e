#pragma once
// Shared by the JPEG tests: a scratch machine with the disk class and the in-memory class "mem", images of
// any pixel type, and a walk over the markers of a JPEG file.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "KJPEGLineWriter.h"
#include "KPixmap.h"
#include "KSCDiskWin.h"
#include "KStorage.h"
#include "KTextFunctions.h"
#include "MemoryFixture.h"

namespace jpegtest {

class Fixture : public memstore::Fixture {
protected:
    // Names of the files in the scratch folder.
    std::vector<std::string> FilesInRoot() const
    {
        std::vector<std::string> names;
        for (auto& e : std::filesystem::directory_iterator(Root()))
            names.push_back(e.path().filename().string());
        return names;
    }
};

// An image of one pixel type with rows padded as pixmaps pad them.
class TestImage {
public:
    TestImage(int type, int32_t width, int32_t height) : m_Type(type)
    {
        int32_t header = 0, rowBytes = 0;
        GetKPixmapSizes(type, width, height, header, rowBytes);
        EXPECT_LE(static_cast<size_t>(header), sizeof m_Header);
        m_Data.assign(static_cast<size_t>(rowBytes) * height, 0);
        m_Pixmap = MapKPixmapHeader(m_Header, type, width, height, rowBytes, m_Data.data());
    }
    // The pixmap header lives inside the object: a copy maps its own.
    TestImage(const TestImage& other) : m_Type(other.m_Type), m_Data(other.m_Data)
    {
        m_Pixmap = MapKPixmapHeader(m_Header, m_Type, other.Width(), other.Height(), other.m_Pixmap->GetRowBytes(),
                                    m_Data.data());
    }
    TestImage& operator=(const TestImage&) = delete;

    KPixmap& Pixmap() { return *m_Pixmap; }
    const KPixmap& Pixmap() const { return *m_Pixmap; }
    int Type() const { return m_Type; }
    int32_t Width() const { return m_Pixmap->GetWidth(); }
    int32_t Height() const { return m_Pixmap->GetHeight(); }
    uint8_t* Row(int32_t r) const { return m_Pixmap->GetRow(r); }

    // A smooth colour (or grey) pattern that compresses well and survives it closely.
    static TestImage Gradient(int type, int32_t width, int32_t height)
    {
        TestImage img(type, width, height);
        const int bpp = KPixelTypeBytes(type);
        for (int32_t y = 0; y < height; ++y)
            for (int32_t x = 0; x < width; ++x) {
                uint8_t* p = img.Row(y) + x * bpp;
                if (type == kPixelType8Mono) {
                    p[0] = uint8_t((x + y) * 255 / (width + height));
                } else {
                    p[0] = uint8_t(x * 255 / width);
                    p[1] = uint8_t(y * 255 / height);
                    p[2] = uint8_t(128 + (x - y) / 4);
                }
            }
        return img;
    }

private:
    int m_Type;
    alignas(std::max_align_t) unsigned char m_Header[128];
    std::vector<uint8_t> m_Data;
    KPixmap* m_Pixmap = nullptr;
};

// Writes the image with a line writer; `before` runs between SetDimensions and the first row.
inline void WriteJpeg(const KWString& url, const TestImage& image, int quality,
                      const std::function<void(KJPEGLineWriter&)>& before = {}, int writerType = 0)
{
    KJPEGLineWriter writer(url, quality, false);
    writer.SetDimensions(image.Width(), image.Height(), writerType ? writerType : image.Type());
    if (before)
        before(writer);
    for (int32_t r = 0; r < image.Height(); ++r)
        writer.WriteLine(image.Row(r), image.Type());
}

struct Marker {
    int code;
    std::vector<uint8_t> data;  // without the length bytes
};

// The markers from the start of the file up to and including the first SOS.
inline std::vector<Marker> Markers(const std::vector<uint8_t>& file)
{
    std::vector<Marker> out;
    if (file.size() < 2 || file[0] != 0xFF || file[1] != 0xD8)
        return out;
    size_t pos = 2;
    while (pos + 4 <= file.size() && file[pos] == 0xFF) {
        int code = file[pos + 1];
        size_t length = size_t(file[pos + 2]) << 8 | file[pos + 3];
        if (length < 2 || pos + 2 + length > file.size())
            break;
        out.push_back({code, std::vector<uint8_t>(file.begin() + pos + 4, file.begin() + pos + 2 + length)});
        if (code == 0xDA)
            break;
        pos += 2 + length;
    }
    return out;
}

}  // namespace jpegtest
