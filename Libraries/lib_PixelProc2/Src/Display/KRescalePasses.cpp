#include "KRescalePasses.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "Display/KRescaleRows.h"
#include "KExceptionPixelProc.h"
#include "KNarrowString.h"

namespace KRescale {

namespace {

// Rows of a rectangle, by index from its top, starting at its left edge.
struct KSourceRows {
    KSourceRows(const KPixmap& pixmap, const KRect& rect)
        : base(pixmap.GetRow(rect.top) + static_cast<ptrdiff_t>(rect.left) * kPixelBytes),
          stride(pixmap.GetRowBytes())
    {
    }
    const uint8_t* Row(int32_t k) const { return base + k * stride; }

    const uint8_t* base;
    ptrdiff_t stride;
};

uint8_t* DestinationRow(KPixmap& d, const KRect& dr, int32_t y)
{
    return d.GetRow(y) + static_cast<ptrdiff_t>(dr.left) * kPixelBytes;
}

// Intermediate rows made on demand, each once, into four slots: the cubic row pass needs at most the four
// neighbouring rows s[-2] .. s[+1], which fall into four different slots.
template <class MakeRow>
class KRowWindow {
public:
    KRowWindow(int32_t width, MakeRow make)
        : m_Bytes(static_cast<size_t>(width) * kPixelBytes), m_Slots(4 * m_Bytes), m_Make(make)
    {
    }
    const uint8_t* Row(int32_t k)
    {
        const int slot = k & 3;
        uint8_t* p = m_Slots.data() + slot * m_Bytes;
        if (m_Tags[slot] != k) {
            m_Make(k, p);
            m_Tags[slot] = k;
        }
        return p;
    }

private:
    size_t m_Bytes;
    std::vector<uint8_t> m_Slots;
    int32_t m_Tags[4] = {-1, -1, -1, -1};
    MakeRow m_Make;
};

// The cubic row pass from n intermediate rows into the destination rectangle, from the bottom row upward and
// starting on the last source row; rows.Row(k) gives intermediate row k, width pixels long.
template <class RowSource>
void CubicRowsPass(KPixmap& d, const KRect& dr, int32_t n, RowSource& rows, int32_t width)
{
    const int32_t m = dr.Height();
    const size_t bytes = static_cast<size_t>(width) * kPixelBytes;
    KStepper step(n, m);
    for (int32_t j = 0; j < m; ++j, step.Next()) {
        const int32_t pos = n - 1 - static_cast<int32_t>(step.Advanced());
        uint8_t* out = DestinationRow(d, dr, dr.bottom - 1 - j);
        if (step.Fraction() == 0) {
            std::memcpy(out, rows.Row(pos), bytes);
            continue;
        }
        // Behind the first row s[+1] = s[0]; with fewer than two rows ahead s[-2] = s[-1].
        const int32_t behind = std::min(pos + 1, n - 1);
        const int32_t ahead1 = std::max(pos - 1, 0);
        const int32_t ahead2 = pos - 2 >= 0 ? pos - 2 : ahead1;
        const uint8_t* r3 = rows.Row(behind);
        const uint8_t* r2 = rows.Row(pos);
        const uint8_t* r1 = rows.Row(ahead1);
        const uint8_t* r0 = rows.Row(ahead2);
        CubicRowBlend(out, r0, r1, r2, r3, step.Phase(), bytes);
    }
}

}  // namespace

void CheckRect(const KPixmap& pixmap, const KRect& rect, const char* entry)
{
    if (pixmap.GetPixelType() != kPixelType32BGRA || pixmap.GetData() == nullptr)
        throw KExceptionPixelProc(KNarrowString("%s: pixmap is not a 32-bit BGRA pixmap with pixels", entry).CStr());
    if (rect.left < 0 || rect.top < 0 || rect.right > pixmap.GetWidth() || rect.bottom > pixmap.GetHeight() ||
        rect.left >= rect.right || rect.top >= rect.bottom)
        throw KExceptionPixelProc(KNarrowString("%s: rectangle {%d, %d, %d, %d} is empty or outside its %d x %d pixmap",
                                                entry, rect.left, rect.top, rect.right, rect.bottom,
                                                pixmap.GetWidth(), pixmap.GetHeight())
                                      .CStr());
}

bool RectsOverlap(const KPixmap& a, const KRect& ra, const KPixmap& b, const KRect& rb)
{
    auto span = [](const KPixmap& p, const KRect& r, uintptr_t& lo, uintptr_t& hi) {
        const uintptr_t first = reinterpret_cast<uintptr_t>(p.GetRow(r.top) + ptrdiff_t{r.left} * kPixelBytes);
        const uintptr_t last = reinterpret_cast<uintptr_t>(p.GetRow(r.bottom - 1) + ptrdiff_t{r.left} * kPixelBytes);
        lo = std::min(first, last);
        hi = std::max(first, last) + static_cast<uintptr_t>(r.Width()) * kPixelBytes;
    };
    uintptr_t aLo, aHi, bLo, bHi;
    span(a, ra, aLo, aHi);
    span(b, rb, bLo, bHi);
    return aLo < bHi && bLo < aHi;
}

void RowsDownNearest(KPixmap& d, const KRect& dr, const KPixmap& s, const KRect& sr)
{
    const KSourceRows rows(s, sr);
    const size_t bytes = static_cast<size_t>(std::min(dr.Width(), sr.Width())) * kPixelBytes;
    KStepper step(sr.Height(), dr.Height());
    for (int32_t y = 0; y < dr.Height(); ++y, step.Next())
        std::memcpy(DestinationRow(d, dr, dr.top + y), rows.Row(static_cast<int32_t>(step.Advanced())), bytes);
}

void ColumnsDownNearest(KPixmap& d, const KRect& dr, const KPixmap& s, const KRect& sr)
{
    const KSourceRows rows(s, sr);
    const std::vector<int32_t> index = NearestIndices(sr.Width(), dr.Width());
    const int32_t height = std::min(dr.Height(), sr.Height());
    for (int32_t y = 0; y < height; ++y)
        NearestRow(DestinationRow(d, dr, dr.top + y), rows.Row(y), index.data(), dr.Width());
}

void RowsUpCubic(KPixmap& d, const KRect& dr, const KPixmap& s, const KRect& sr)
{
    KSourceRows rows(s, sr);
    CubicRowsPass(d, dr, sr.Height(), rows, std::min(dr.Width(), sr.Width()));
}

void ColumnsUpCubic(KPixmap& d, const KRect& dr, const KPixmap& s, const KRect& sr)
{
    const KSourceRows rows(s, sr);
    KCubicColumns columns(sr.Width(), dr.Width());
    const int32_t height = std::min(dr.Height(), sr.Height());
    for (int32_t y = 0; y < height; ++y)
        columns.Row(DestinationRow(d, dr, dr.top + y), rows.Row(y));
}

void BothDownNearest(KPixmap& d, const KRect& dr, const KPixmap& s, const KRect& sr)
{
    const KSourceRows rows(s, sr);
    const std::vector<int32_t> index = NearestIndices(sr.Width(), dr.Width());
    KStepper step(sr.Height(), dr.Height());
    for (int32_t y = 0; y < dr.Height(); ++y, step.Next())
        NearestRow(DestinationRow(d, dr, dr.top + y), rows.Row(static_cast<int32_t>(step.Advanced())),
                   index.data(), dr.Width());
}

void ColumnsDownRowsUp(KPixmap& d, const KRect& dr, const KPixmap& s, const KRect& sr)
{
    const KSourceRows rows(s, sr);
    const std::vector<int32_t> index = NearestIndices(sr.Width(), dr.Width());
    const int32_t width = dr.Width();
    auto make = [&](int32_t k, uint8_t* out) { NearestRow(out, rows.Row(k), index.data(), width); };
    KRowWindow<decltype(make)> window(width, make);
    CubicRowsPass(d, dr, sr.Height(), window, width);
}

void RowsDownColumnsUp(KPixmap& d, const KRect& dr, const KPixmap& s, const KRect& sr)
{
    const KSourceRows rows(s, sr);
    KCubicColumns columns(sr.Width(), dr.Width());
    KStepper step(sr.Height(), dr.Height());
    for (int32_t y = 0; y < dr.Height(); ++y, step.Next())
        columns.Row(DestinationRow(d, dr, dr.top + y), rows.Row(static_cast<int32_t>(step.Advanced())));
}

void ColumnsUpRowsUp(KPixmap& d, const KRect& dr, const KPixmap& s, const KRect& sr)
{
    const KSourceRows rows(s, sr);
    KCubicColumns columns(sr.Width(), dr.Width());
    auto make = [&](int32_t k, uint8_t* out) { columns.Row(out, rows.Row(k)); };
    KRowWindow<decltype(make)> window(dr.Width(), make);
    CubicRowsPass(d, dr, sr.Height(), window, dr.Width());
}

}  // namespace KRescale
