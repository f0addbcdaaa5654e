#include <algorithm>
#include <cmath>

#include "KRounding.h"
#include "KRowCorrections.h"

namespace {

constexpr double kOne14 = 16384.0;  // 14 fractional bits

// Which polynomial terms have non-zero coefficients; the forms give identical results.
enum class PolyForm { None, Squares, OwnSquareAndCube, All };

// Per-call state of the kernel. Running sums (gain, drift) advance in 32 bits with wrap-around, as the
// per-column additions do; products are formed in 64 bits and each named result keeps 32 bits.
struct RowState {
    KInt32 filter[3];   // F: column filter
    KInt32 square[3];   // Q: square column filter
    KInt32 level[3];    // V: dark level
    KInt32 driftStep[3];
    KUInt32 drift[3];   // D: drift at the current column
    KUInt32 gain[3];    // A: running gain, 22 fractional bits
    KUInt32 gainStep[3];
    KInt32 poly[3][9];
    KInt32 previous[3];
};

inline KInt32 Wrap32(KInt64 v)
{
    return static_cast<KInt32>(static_cast<KUInt32>(static_cast<KUInt64>(v)));
}

inline KInt32 MulShift14(KInt64 a, KInt64 b)
{
    return Wrap32((a * b) >> 14);
}

template <PolyForm Form, bool Square>
void CorrectColumns(KInt16* px, KInt32 count, RowState& st)
{
    for (KInt32 x = 0; x < count; ++x, px += 3) {
        const KInt32 in[3] = {px[0], px[1], px[2]};
        KInt32 u[3];
        for (int c = 0; c < 3; ++c) {
            const KInt32 d = in[c] - st.previous[c];
            KInt64 t = KInt64(st.filter[c]) * d - KInt32(st.drift[c]) - st.level[c];
            if constexpr (Square)
                t += KInt64(st.square[c]) * Wrap32((KInt64(d) * d) >> 14);
            u[c] = Wrap32(KInt64(in[c]) + Wrap32(t >> 14));
        }
        if constexpr (Form != PolyForm::None) {
            const KInt32 sq[3] = {MulShift14(u[0], u[0]), MulShift14(u[1], u[1]), MulShift14(u[2], u[2])};
            KInt64 add[3];
            if constexpr (Form == PolyForm::Squares) {
                for (int k = 0; k < 3; ++k)
                    add[k] = KInt64(st.poly[k][0]) * sq[0] + KInt64(st.poly[k][1]) * sq[1] + KInt64(st.poly[k][2]) * sq[2];
            } else if constexpr (Form == PolyForm::OwnSquareAndCube) {
                for (int k = 0; k < 3; ++k)
                    add[k] = KInt64(st.poly[k][k]) * sq[k] + KInt64(st.poly[k][6 + k]) * MulShift14(u[k], sq[k]);
            } else {
                const KInt32 rg = MulShift14(u[1], u[0]), rb = MulShift14(u[2], u[0]), gb = MulShift14(u[2], u[1]);
                const KInt32 cube[3] = {MulShift14(u[0], sq[0]), MulShift14(u[1], sq[1]), MulShift14(u[2], sq[2])};
                for (int k = 0; k < 3; ++k) {
                    const KInt32* p = st.poly[k];
                    add[k] = KInt64(p[0]) * sq[0] + KInt64(p[1]) * sq[1] + KInt64(p[2]) * sq[2] + KInt64(p[3]) * rg +
                             KInt64(p[4]) * rb + KInt64(p[5]) * gb + KInt64(p[6]) * cube[0] +
                             KInt64(p[7]) * cube[1] + KInt64(p[8]) * cube[2];
                }
            }
            for (int k = 0; k < 3; ++k)
                u[k] = Wrap32(KInt64(u[k]) + Wrap32(add[k] >> 14));
        }
        for (int c = 0; c < 3; ++c) {
            const KInt32 v = MulShift14(u[c], KInt32(st.gain[c]) >> 8);
            px[c] = static_cast<KInt16>(std::clamp(v, -32768, 32000));
            st.previous[c] = in[c];
            st.gain[c] += st.gainStep[c];
            st.drift[c] += static_cast<KUInt32>(st.driftStep[c]);
        }
    }
}

using Kernel = void (*)(KInt16*, KInt32, RowState&);

template <bool Square>
Kernel PickKernel(PolyForm form)
{
    switch (form) {
    case PolyForm::None:
        return CorrectColumns<PolyForm::None, Square>;
    case PolyForm::Squares:
        return CorrectColumns<PolyForm::Squares, Square>;
    case PolyForm::OwnSquareAndCube:
        return CorrectColumns<PolyForm::OwnSquareAndCube, Square>;
    default:
        return CorrectColumns<PolyForm::All, Square>;
    }
}

PolyForm ChoosePolyForm(const KInt32 (&p)[3][9])
{
    bool squares = true, own = true, none = true;
    for (int k = 0; k < 3; ++k)
        for (int j = 0; j < 9; ++j) {
            if (p[k][j] == 0)
                continue;
            none = false;
            if (j > 2)
                squares = false;
            if (j != k && j != 6 + k)
                own = false;
        }
    return none ? PolyForm::None : squares ? PolyForm::Squares : own ? PolyForm::OwnSquareAndCube : PolyForm::All;
}

}  // namespace

void ApplyRowCorrections(KInt16* row, KInt32 columns, const KColorTriple& cf, const KColorTriple& cs,
                         const KRowDrift& drift, const KColorTriple& level, const KPostPoly& poly,
                         const float* gainRow, KUInt32 gridColumns, const KColorTriple& scale)
{
    if (!row || columns <= 0)
        return;
    RowState st;
    bool square = false;
    double k[3];
    for (int c = 0; c < 3; ++c) {
        st.driftStep[c] = KTruncToInt32(drift.m_Slope[c] / columns * kOne14);
        st.drift[c] = static_cast<KUInt32>(KTruncToInt32(drift.m_Mean[c] * kOne14)) -
                      static_cast<KUInt32>(st.driftStep[c]) * static_cast<KUInt32>(columns >> 1);
        st.filter[c] = KTruncToInt32(cf[c] * kOne14);
        st.square[c] = KTruncToInt32(cs[c] * kOne14);
        st.level[c] = KTruncToInt32(level[c] * kOne14);
        square = square || st.square[c] != 0;
        k[c] = scale[c] * kOne14 * 256;
        st.previous[c] = row[c];
    }
    for (int i = 0; i < 27; ++i)
        st.poly[i / 9][i % 9] = KTruncToInt32(double(poly[i]) * kOne14);
    const Kernel kernel = square ? PickKernel<true>(ChoosePolyForm(st.poly)) : PickKernel<false>(ChoosePolyForm(st.poly));

    const bool grid = gainRow && gridColumns >= 2;
    const KUInt32 last = grid ? gridColumns - 1 : 0;
    // Segment j runs between grid points j and j + 1, w columns wide; the gain starts at point j and steps
    // towards point j + 1 by one addition per column.
    const float w = grid ? static_cast<float>(columns) / static_cast<float>(last) : 0.0f;
    auto startSegment = [&](KUInt32 j) {
        for (int c = 0; c < 3; ++c) {
            if (!grid) {
                st.gain[c] = static_cast<KUInt32>(KTruncToInt32(k[c]));
                st.gainStep[c] = 0;
                continue;
            }
            const float g0 = gainRow[std::min(j, last) * 3 + c];
            const float g1 = gainRow[std::min(j + 1, last) * 3 + c];
            st.gain[c] = static_cast<KUInt32>(KTruncToInt32(k[c] * g0));
            st.gainStep[c] = static_cast<KUInt32>(KTruncToInt32(double((g1 - g0) / w) * k[c]));
        }
    };

    KUInt32 j = 0;
    double boundary = w;
    startSegment(j);
    KInt32 x = 0;
    while (x < columns) {
        // A new segment begins at the first column at or past the boundary (at most one per column).
        KInt32 stop = columns;
        if (grid && boundary < double(columns))
            stop = std::max(x + 1, static_cast<KInt32>(std::ceil(boundary)));
        kernel(row + 3 * static_cast<size_t>(x), stop - x, st);
        x = stop;
        if (x < columns) {
            startSegment(++j);
            boundary += w;
        }
    }
}
