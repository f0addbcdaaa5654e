#include "KWinUiPixmap.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

namespace {

enum : int { kAttributeBitmap = 1 };

// Face names are cut to this many units, as a font's face name field holds no more.
constexpr size_t kMaxFaceNameUnits = 1024;

struct FontHolder {
    KOsFont font;
    ~FontHolder() { PlatDeleteFont(font); }
};

}  // namespace

KWinUiPixmap::~KWinUiPixmap()
{
    if (m_hBitmap)
        PlatDeleteBitmap(m_hBitmap);
    else
        delete[] m_pBits;
}

void* KWinUiPixmap::GetAttribute(int id)
{
    return id == kAttributeBitmap && m_hBitmap ? &m_hBitmap : nullptr;
}

bool KWinUiPixmap::SetAttribute(int id, const void* value)
{
    if (id != kAttributeBitmap)
        return false;
    m_hBitmap = value ? *static_cast<PlatBitmap* const*>(value) : nullptr;
    return true;
}

bool KWinUiPixmap::Allocate(int32_t width, int32_t height, bool osDrawable)
{
    if (width >= 1 && height >= 1 && width <= kPlatMaxBitmapSide && height <= kPlatMaxBitmapSide &&
        uint64_t(width) * uint64_t(height) * 4 <= kPlatMaxBitmapBytes) {
        if (osDrawable) {
            void* bits = nullptr;
            m_hBitmap = PlatCreateDIBSection(width, height, &bits);
            m_pBits = static_cast<uint8_t*>(bits);
        } else {
            m_pBits = new (std::nothrow) uint8_t[size_t(width) * size_t(height) * 4]();
        }
    }
    if (!m_pBits) {
        m_pSurface->ReplacePixmap(nullptr);
        return false;
    }
    m_Width = width;
    m_Height = height;
    m_RowBytes = width * 4;
    m_pSurface->ReplacePixmap(new KPixmap_Display(m_pBits, width, height, m_RowBytes));
    return true;
}

KIOsUiPixmap* CreateOsUiPixmap(KIGenericUiPixmap* surface, int32_t width, int32_t height, bool osDrawable)
{
    auto* pixmap = new KWinUiPixmap(surface);
    pixmap->Allocate(width, height, osDrawable);
    return pixmap;
}

KIOsUiPixmap* CreateOsUiPixmapFromPixmap(KIGenericUiPixmap* surface, const KPixmap_Display* source,
                                         bool osDrawable)
{
    auto* pixmap = new KWinUiPixmap(surface);
    if (!source || !source->GetData() || !pixmap->Allocate(source->GetWidth(), source->GetHeight(), osDrawable))
        return pixmap;
    // Row by row: the source's rows may be padded or shorter than ours.
    const int32_t rowBytes = pixmap->GetRowBytes();
    const size_t bytes = size_t(std::clamp(source->GetRowBytes(), 0, rowBytes));
    for (int32_t y = 0; y < source->GetHeight(); ++y)
        std::memcpy(pixmap->GetBits() + ptrdiff_t(y) * rowBytes, source->GetRow(y), bytes);
    return pixmap;
}

KIOsUiPixmap* CreateOsUiTextPixmap(KIGenericUiPixmap* surface, const KWString& text, const KWString& fontName,
                                   int32_t height, bool bold, bool italic, bool underline, int32_t* prefixWidths,
                                   bool osDrawable)
{
    auto* pixmap = new KWinUiPixmap(surface);
    FontHolder font{CreateOsUiFont(fontName, height, bold, italic, underline)};
    if (!font.font)
        return pixmap;
    const int32_t length = static_cast<int32_t>(std::min<size_t>(text.GetLength(), INT32_MAX));
    if (prefixWidths)
        PlatGetTextPrefixWidths(font.font, text.c_str(), length, prefixWidths);
    int32_t cx = 0, cy = 0;
    if (!PlatGetTextExtent(font.font, text.c_str(), length, &cx, &cy) || cx > INT32_MAX - 2)
        return pixmap;
    // Black, alpha 0, the pen one pixel in from the left.
    if (pixmap->Allocate(cx + 2, cy, osDrawable))
        PlatDrawText(font.font, text.c_str(), length, pixmap->GetBits(), cx + 2, cy, pixmap->GetRowBytes(), 1, 0);
    return pixmap;
}

void DeleteOsUiPixmap(KIOsUiPixmap* osPixmap)
{
    delete osPixmap;
}

KOsFont CreateOsUiFont(const KWString& fontName, int32_t height, bool bold, bool italic, bool underline)
{
    const uint32_t charSet = PlatGetUserDefaultLangID() == 0x0411 ? PLAT_SHIFTJIS_CHARSET : PLAT_DEFAULT_CHARSET;
    const std::u16string face(fontName.View().substr(0, kMaxFaceNameUnits));
    return PlatCreateFont(face.c_str(), height, bold ? PLAT_FW_BOLD : PLAT_FW_NORMAL, italic, underline, charSet);
}

bool GetOsFontMetrics(const KWString& fontName, int32_t height, bool bold, bool italic, bool underline,
                      int32_t* cellHeight, int32_t* averageCharWidth)
{
    FontHolder font{CreateOsUiFont(fontName, height, bold, italic, underline)};
    PlatTextMetrics metrics{};
    if (!font.font || !PlatGetTextMetrics(font.font, &metrics))
        return false;
    if (cellHeight)
        *cellHeight = metrics.height;
    if (averageCharWidth)
        *averageCharWidth = metrics.aveCharWidth;
    return true;
}

bool GetOsTextWidths(const KWString& text, const KWString& fontName, int32_t height, bool bold, bool italic,
                     bool underline, int32_t* widths)
{
    FontHolder font{CreateOsUiFont(fontName, height, bold, italic, underline)};
    if (!font.font)
        return false;
    const int32_t length = static_cast<int32_t>(std::min<size_t>(text.GetLength(), INT32_MAX));
    return length == 0 || PlatGetTextPrefixWidths(font.font, text.c_str(), length, widths);
}
