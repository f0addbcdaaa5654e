#pragma once
// Shared by the TIFF and PNG tests: the scratch machine of the JPEG tests, TIFF files written directly with the
// library in any layout, pixmaps and small helpers.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "JpegTestSupport.h"
#include "KException.h"
#include "KPixmap.h"
#include "KPropTree.h"
#include "KSCDiskWin.h"
#include "KStorage.h"
#include "KTextFunctions.h"
#include "LumoTestSupport.h"

namespace tifftest {

// A scratch machine with the disk class: Root(), Path(name), URL(name).
using Fixture = jpegtest::Fixture;

// The pairs of a tree as "KEY=VALUE;" text.
inline std::string Pairs(const KPropTree& tree)
{
    std::string out;
    for (const KPropPair* p = tree.GetFirstPair(); p != nullptr; p = p->GetNext())
        out += WideToUtf8(p->GetKey()) + "=" + WideToUtf8(p->GetValue()) + ";";
    return out;
}

// The message of the KException that f throws, or "(nothing thrown)".
template <class F>
std::string ThrownMessage(F f)
{
    try {
        f();
    } catch (const KException& e) {
        return e.GetMessage();
    }
    return "(nothing thrown)";
}

// A layout of a TIFF file as its tags give it.
struct Layout {
    uint16_t photometric = PHOTOMETRIC_RGB;
    uint16_t samples = 3;
    uint16_t extra = 0;  // extra samples (unspecified)
    uint16_t bits = 8;
    uint16_t planar = PLANARCONFIG_CONTIG;
};

// Writes an uncompressed TIFF with the library's own file functions. Row r gets the bytes rowBytes(r) (one
// file row). tagBlock, when not empty, goes to tag 37717 as LONG words.
inline bool WriteTiff(const std::filesystem::path& path, const Layout& layout, uint32_t width, uint32_t height,
                      const std::function<std::vector<uint8_t>(uint32_t)>& rowBytes,
                      const std::vector<uint8_t>& tagBlock = {})
{
    TIFF* tiff = TIFFOpen(path.c_str(), "w");
    if (tiff == nullptr)
        return false;
    if (!tagBlock.empty() && TIFFFindField(tiff, 37717, TIFF_ANY) == nullptr) {
        static const TIFFFieldInfo kField[] = {
            {37717, TIFF_VARIABLE2, TIFF_VARIABLE2, TIFF_LONG, FIELD_CUSTOM, 1, 1, const_cast<char*>("Quarel")}};
        TIFFMergeFieldInfo(tiff, kField, 1);
    }
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, layout.bits);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, layout.samples);
    if (layout.extra > 0) {
        std::vector<uint16_t> kinds(layout.extra, EXTRASAMPLE_UNSPECIFIED);
        TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, layout.extra, kinds.data());
    }
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, layout.photometric);
    TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, layout.planar);
    if (!tagBlock.empty()) {
        std::vector<uint32_t> words(tagBlock.size() / 4);
        std::memcpy(words.data(), tagBlock.data(), words.size() * 4);
        TIFFSetField(tiff, 37717, static_cast<uint32_t>(words.size()), words.data());
    }
    bool ok = true;
    const uint16_t planes = layout.planar == PLANARCONFIG_SEPARATE ? layout.samples : 1;
    for (uint16_t plane = 0; plane < planes && ok; ++plane) {
        for (uint32_t r = 0; r < height && ok; ++r) {
            std::vector<uint8_t> row = rowBytes(r);
            row.resize(static_cast<size_t>(TIFFScanlineSize64(tiff)), 0);
            ok = TIFFWriteScanline(tiff, row.data(), r, plane) == 1;
        }
    }
    TIFFClose(tiff);
    return ok;
}

// A pixmap of one type over its own zeroed rows, padded as pixmaps pad them.
class TestPixmap {
public:
    TestPixmap(int type, int32_t width, int32_t height)
    {
        int32_t header = 0, rowBytes = 0;
        GetKPixmapSizes(type, width, height, header, rowBytes);
        m_Data.assign(static_cast<size_t>(rowBytes) * height, 0);
        m_pPixmap = MapKPixmapHeader(m_Header, type, width, height, rowBytes, m_Data.data());
    }
    TestPixmap(const TestPixmap&) = delete;
    TestPixmap& operator=(const TestPixmap&) = delete;

    KPixmap& Pixmap() { return *m_pPixmap; }
    uint8_t* Row(int32_t r) { return m_pPixmap->GetRow(r); }

private:
    alignas(std::max_align_t) uint8_t m_Header[64];
    std::vector<uint8_t> m_Data;
    KPixmap* m_pPixmap = nullptr;
};

}  // namespace tifftest
