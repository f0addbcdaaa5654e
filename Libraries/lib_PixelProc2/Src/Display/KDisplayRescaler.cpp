#include "KDisplayRescaler.h"

#include <cstring>
#include <optional>
#include <vector>

#include "Display/KExposureWarnings.h"
#include "Display/KRescalePasses.h"
#include "Display/KRescaleRows.h"

namespace {
using namespace KRescale;

// The source rectangle as a pass may read it: the source itself, or a copy of the rectangle when it shares
// memory with the destination rectangle (a pass writing in place would otherwise read pixels it has already
// overwritten).
class KSourceView {
public:
    KSourceView(const KPixmap& d, const KRect& dr, const KPixmap& s, const KRect& sr) : m_Pixmap(&s), m_Rect(sr)
    {
        if (!RectsOverlap(d, dr, s, sr))
            return;
        const size_t rowBytes = static_cast<size_t>(sr.Width()) * kPixelBytes;
        m_Bytes.resize(rowBytes * static_cast<size_t>(sr.Height()));
        for (int32_t y = 0; y < sr.Height(); ++y)
            std::memcpy(m_Bytes.data() + rowBytes * static_cast<size_t>(y),
                        s.GetRow(sr.top + y) + static_cast<ptrdiff_t>(sr.left) * kPixelBytes, rowBytes);
        m_Copy.emplace(m_Bytes.data(), sr.Width(), sr.Height(), static_cast<int32_t>(rowBytes));
        m_Pixmap = &*m_Copy;
        m_Rect = KRect(0, 0, sr.Width(), sr.Height());
    }
    KSourceView(const KSourceView&) = delete;
    KSourceView& operator=(const KSourceView&) = delete;

    const KPixmap& Pixmap() const { return *m_Pixmap; }
    const KRect& Rect() const { return m_Rect; }

private:
    const KPixmap* m_Pixmap;
    KRect m_Rect;
    std::vector<uint8_t> m_Bytes;
    std::optional<KPixmapTemplate<KPixelClass32BGRA>> m_Copy;
};

using KPass = void (*)(KPixmap&, const KRect&, const KPixmap&, const KRect&);

void RunPass(KPass pass, const char* entry, KPixmap& d, const KRect& dr, const KPixmap& s, const KRect& sr)
{
    CheckRect(d, dr, entry);
    CheckRect(s, sr, entry);
    const KSourceView view(d, dr, s, sr);
    pass(d, dr, view.Pixmap(), view.Rect());
}

// The checks shared by both entries; on success the clipped rectangles.
bool PrepareEntry(const KPixmap* d, const KRect* dr, const KPixmap* s, const KRect* sr, KRect& dc, KRect& sc)
{
    if (d == nullptr || dr == nullptr || s == nullptr || sr == nullptr)
        return false;
    if (d->GetPixelType() != kPixelType32BGRA || s->GetPixelType() != kPixelType32BGRA)
        return false;
    if (d->GetData() == nullptr || s->GetData() == nullptr)
        return false;
    dc = *dr;
    sc = *sr;
    return ClipResampleRects(*d, dc, *s, sc);
}

bool SameSize(const KRect& a, const KRect& b) { return a.Width() == b.Width() && a.Height() == b.Height(); }

void CopyRows(KPixmap& d, const KRect& dr, const KPixmap& s, const KRect& sr)
{
    const size_t bytes = static_cast<size_t>(dr.Width()) * kPixelBytes;
    for (int32_t y = 0; y < dr.Height(); ++y)
        std::memcpy(d.GetRow(dr.top + y) + static_cast<ptrdiff_t>(dr.left) * kPixelBytes,
                    s.GetRow(sr.top + y) + static_cast<ptrdiff_t>(sr.left) * kPixelBytes, bytes);
}

// Clips rectangle a to a width x height pixmap, moving b's edges in proportion; false when a lies outside.
// Coordinates in 64 bits: the products of a width and an offset need them.
struct KRect64 {
    int64_t left, top, right, bottom;
    int64_t Width() const { return right - left; }
    int64_t Height() const { return bottom - top; }
};

bool ClipOneAgainst(int64_t width, int64_t height, KRect64& a, KRect64& b)
{
    if (a.right <= 0 || a.left >= width || a.bottom <= 0 || a.top >= height)
        return false;
    if (a.Width() < 1 || a.Height() < 1)
        return false;
    // Offsets beyond an edge are smaller than a's extent, so b keeps at least one pixel.
    if (a.left < 0) {
        b.left -= b.Width() * a.left / a.Width();
        a.left = 0;
    }
    if (a.top < 0) {
        b.top -= b.Height() * a.top / a.Height();
        a.top = 0;
    }
    if (a.right > width) {
        b.right -= b.Width() * (a.right - width) / a.Width();
        a.right = width;
    }
    if (a.bottom > height) {
        b.bottom -= b.Height() * (a.bottom - height) / a.Height();
        a.bottom = height;
    }
    return true;
}

bool InsideAndNotEmpty(const KRect64& r, int64_t width, int64_t height)
{
    return r.left >= 0 && r.top >= 0 && r.right <= width && r.bottom <= height && r.left < r.right &&
           r.top < r.bottom;
}

}  // namespace

bool ClipResampleRects(const KPixmap& destination, KRect& destinationRect, const KPixmap& source,
                       KRect& sourceRect)
{
    KRect64 d{destinationRect.left, destinationRect.top, destinationRect.right, destinationRect.bottom};
    KRect64 s{sourceRect.left, sourceRect.top, sourceRect.right, sourceRect.bottom};
    if (d.Width() < 1 || d.Height() < 1 || s.Width() < 1 || s.Height() < 1)
        return false;
    if (!ClipOneAgainst(destination.GetWidth(), destination.GetHeight(), d, s))
        return false;
    if (!ClipOneAgainst(source.GetWidth(), source.GetHeight(), s, d))
        return false;
    if (!InsideAndNotEmpty(d, destination.GetWidth(), destination.GetHeight()) ||
        !InsideAndNotEmpty(s, source.GetWidth(), source.GetHeight()))
        return false;
    destinationRect = KRect(static_cast<int32_t>(d.left), static_cast<int32_t>(d.top), static_cast<int32_t>(d.right),
                            static_cast<int32_t>(d.bottom));
    sourceRect = KRect(static_cast<int32_t>(s.left), static_cast<int32_t>(s.top), static_cast<int32_t>(s.right),
                       static_cast<int32_t>(s.bottom));
    return true;
}

bool ResampleRect(KPixmap& destination, const KRect& destinationRect, const KPixmap& source,
                  const KRect& sourceRect)
{
    const int32_t dW = destinationRect.Width(), dH = destinationRect.Height();
    const int32_t sW = sourceRect.Width(), sH = sourceRect.Height();
    if (dW == sW && dH == sH)
        return false;

    KPass pass;
    if (dW == sW)
        pass = dH < sH ? RowsDownNearest : RowsUpCubic;
    else if (dW < sW)
        pass = dH == sH ? ColumnsDownNearest : dH < sH ? BothDownNearest : ColumnsDownRowsUp;
    else
        pass = dH == sH ? ColumnsUpCubic : dH < sH ? RowsDownColumnsUp : ColumnsUpRowsUp;
    RunPass(pass, "ResampleRect", destination, destinationRect, source, sourceRect);
    return true;
}

void ResamplePixmapRect(KPixmap* destination, const KRect* destinationRect, const KPixmap* source,
                        const KRect* sourceRect)
{
    KRect dr, sr;
    if (!PrepareEntry(destination, destinationRect, source, sourceRect, dr, sr))
        return;
    if (!SameSize(dr, sr)) {
        ResampleRect(*destination, dr, *source, sr);
        return;
    }
    const KSourceView view(*destination, dr, *source, sr);
    CopyRows(*destination, dr, view.Pixmap(), view.Rect());
}

void CopyRectWithExposureWarnings(KPixmap* destination, const KRect* destinationRect, const KPixmap* source,
                                  const KRect* sourceRect, int shadowThreshold, int highlightThreshold,
                                  KWarningColor shadowColor, KWarningColor highlightColor)
{
    KRect dr, sr;
    if (!PrepareEntry(destination, destinationRect, source, sourceRect, dr, sr))
        return;
    if (!SameSize(dr, sr)) {
        ResampleRect(*destination, dr, *source, sr);
        return;
    }
    const KSourceView view(*destination, dr, *source, sr);
    const KExposureWarnings warnings(shadowThreshold, highlightThreshold, shadowColor, highlightColor);
    const KRect& vr = view.Rect();
    for (int32_t y = 0; y < dr.Height(); ++y)
        warnings.CopyRow(destination->GetRow(dr.top + y) + static_cast<ptrdiff_t>(dr.left) * kPixelBytes,
                         view.Pixmap().GetRow(vr.top + y) + static_cast<ptrdiff_t>(vr.left) * kPixelBytes,
                         dr.Width());
}

void ScaleRowsUpCubic(KPixmap& destination, const KRect& destinationRect, const KPixmap& source,
                      const KRect& sourceRect)
{
    RunPass(RowsUpCubic, "ScaleRowsUpCubic", destination, destinationRect, source, sourceRect);
}

void ScaleRowsDownNearest(KPixmap& destination, const KRect& destinationRect, const KPixmap& source,
                          const KRect& sourceRect)
{
    RunPass(RowsDownNearest, "ScaleRowsDownNearest", destination, destinationRect, source, sourceRect);
}

void ScaleColumnsUpCubic(KPixmap& destination, const KRect& destinationRect, const KPixmap& source,
                         const KRect& sourceRect)
{
    RunPass(ColumnsUpCubic, "ScaleColumnsUpCubic", destination, destinationRect, source, sourceRect);
}

void ScaleColumnsDownNearest(KPixmap& destination, const KRect& destinationRect, const KPixmap& source,
                             const KRect& sourceRect)
{
    RunPass(ColumnsDownNearest, "ScaleColumnsDownNearest", destination, destinationRect, source, sourceRect);
}
