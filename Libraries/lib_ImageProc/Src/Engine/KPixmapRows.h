#pragma once
// Pixmaps over a band of another pixmap's rows, of its type, width and row bytes: the stages that spread their
// rows over threads hand each band its own rows.
#include <cstddef>

#include "KPixmap.h"

// Rows [begin, end) of pixmap as a pixmap of the same class.
template <class PixelClass>
KPixmapTemplate<PixelClass> RowsOf(const KPixmapTemplate<PixelClass>& pixmap, KInt32 begin, KInt32 end)
{
    return KPixmapTemplate<PixelClass>(pixmap.GetRow(begin), pixmap.GetWidth(), end - begin, pixmap.GetRowBytes());
}

// Rows [begin, end) of a pixmap of any type; the view's header lives in this object.
class KPixmapRows {
public:
    KPixmapRows(const KPixmap& pixmap, KInt32 begin, KInt32 end)
        : m_pPixmap(MapKPixmapHeader(m_Header, pixmap.GetPixelType(), pixmap.GetWidth(), end - begin,
                                     pixmap.GetRowBytes(), pixmap.GetRow(begin)))
    {
    }
    KPixmapRows(const KPixmapRows&) = delete;
    KPixmapRows& operator=(const KPixmapRows&) = delete;
    KPixmap& Get() const { return *m_pPixmap; }

private:
    static_assert(sizeof(KPixmapTemplate<KPixelClass48RGB>) <= 64);
    alignas(std::max_align_t) unsigned char m_Header[64];
    KPixmap* m_pPixmap;
};
