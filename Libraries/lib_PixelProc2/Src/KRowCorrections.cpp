#include <algorithm>
#include <cmath>

#include "KRounding.h"
#include "KRowCorrections.h"
#include "KPickKernel.h"

namespace {

constexpr double kOne14 = 16384.0;  // 14 fractional bits

// Which polynomial terms have non-zero coefficients; the forms give identical results.
enum class PolyForm { None, Squares, OwnSquareAndCube, All };

// Per-call state of the kernel. Running sums (gain, drift) advance in 32 bits with wrap-around, as the
// per-column additions do; products are formed in 64 bits and each named result keeps 32 bits.
struct RowState {
    KInt32 filter[3];   // F: column filter
    KInt32 square[3];   // Q: square column filter
    KInt32 driftStep[3];
    KUInt32 dark[3];    // D + V: drift at the current column plus the dark level
    KUInt32 gain[3];    // A: running gain, 22 fractional bits
    KUInt32 gainStep[3];
    KInt32 poly[3][9];
    KInt32 previous[3];
};

// The low 32 bits of v >> 14. Only bits 14..45 of v matter, so products and sums may wrap in 64 bits and the
// shift may be logical: the result is that of the arithmetic shift of the exact value, kept in 32 bits.
inline KInt32 Low32Shift14(KUInt64 v)
{
    return static_cast<KInt32>(static_cast<KUInt32>(v >> 14));
}
inline KInt32 Low32Shift14(KInt64 v)
{
    return Low32Shift14(static_cast<KUInt64>(v));
}
// a x b, wrapping in 64 bits (a sum of such products may pass 64 bits with extreme coefficients).
inline KUInt64 Mul64(KInt32 a, KInt32 b)
{
    return static_cast<KUInt64>(KInt64(a) * b);
}

inline KInt32 Add32(KInt32 a, KInt32 b)
{
    return static_cast<KInt32>(static_cast<KUInt32>(a) + static_cast<KUInt32>(b));
}

// Pixels are corrected in chunks, each channel in an array of its own, so that every step is a plain loop over
// the chunk's columns: filter and drift per channel, the polynomial per pixel, gain and clip per channel.
constexpr KInt32 kChunk = 64;

template <PolyForm Form, bool Square>
K_INLINE_BODY void CorrectColumnsBody(KInt16* px, KInt32 count, RowState& st)
{
    alignas(32) KInt32 in[3][kChunk + 1];  // as read; element 0 is the previous pixel
    alignas(32) KInt32 u[3][kChunk];
    for (KInt32 done = 0; done < count; done += kChunk) {
        const KInt32 m = std::min(kChunk, count - done);
        KInt16* const p = px + 3 * static_cast<size_t>(done);
        for (int c = 0; c < 3; ++c)
            in[c][0] = st.previous[c];
        for (KInt32 i = 0; i < m; ++i)
            for (int c = 0; c < 3; ++c)
                in[c][i + 1] = p[3 * i + c];

        for (int c = 0; c < 3; ++c) {
            const KInt64 f = st.filter[c];
            const KInt64 q = st.square[c];
            const KUInt32 dark = st.dark[c];
            const KUInt32 step = static_cast<KUInt32>(st.driftStep[c]);
            const KInt32* x = in[c];
            KInt32* out = u[c];
            for (KInt32 i = 0; i < m; ++i) {
                const KInt32 d = x[i + 1] - x[i];
                KInt64 t = f * d - static_cast<KInt32>(dark + step * static_cast<KUInt32>(i));
                if constexpr (Square)
                    t += q * static_cast<KInt32>((static_cast<KUInt32>(d) * static_cast<KUInt32>(d)) >> 14);
                out[i] = Add32(x[i + 1], Low32Shift14(t));
            }
            st.dark[c] = dark + step * static_cast<KUInt32>(m);
            st.previous[c] = x[m];
        }

        if constexpr (Form != PolyForm::None) {
            const auto& P = st.poly;
            for (KInt32 i = 0; i < m; ++i) {
                const KInt32 r = u[0][i], g = u[1][i], b = u[2][i];
                const KInt32 r2 = Low32Shift14(KInt64(r) * r), g2 = Low32Shift14(KInt64(g) * g),
                             b2 = Low32Shift14(KInt64(b) * b);
                KUInt64 add[3];
                if constexpr (Form == PolyForm::Squares) {
                    for (int k = 0; k < 3; ++k)
                        add[k] = Mul64(P[k][0], r2) + Mul64(P[k][1], g2) + Mul64(P[k][2], b2);
                } else {
                    const KInt32 r3 = Low32Shift14(KInt64(r) * r2), g3 = Low32Shift14(KInt64(g) * g2),
                                 b3 = Low32Shift14(KInt64(b) * b2);
                    if constexpr (Form == PolyForm::OwnSquareAndCube) {
                        add[0] = Mul64(P[0][0], r2) + Mul64(P[0][6], r3);
                        add[1] = Mul64(P[1][1], g2) + Mul64(P[1][7], g3);
                        add[2] = Mul64(P[2][2], b2) + Mul64(P[2][8], b3);
                    } else {
                        const KInt32 rg = Low32Shift14(KInt64(g) * r), rb = Low32Shift14(KInt64(b) * r),
                                     gb = Low32Shift14(KInt64(b) * g);
                        for (int k = 0; k < 3; ++k)
                            add[k] = Mul64(P[k][0], r2) + Mul64(P[k][1], g2) + Mul64(P[k][2], b2) +
                                     Mul64(P[k][3], rg) + Mul64(P[k][4], rb) + Mul64(P[k][5], gb) +
                                     Mul64(P[k][6], r3) + Mul64(P[k][7], g3) + Mul64(P[k][8], b3);
                    }
                }
                u[0][i] = Add32(r, Low32Shift14(add[0]));
                u[1][i] = Add32(g, Low32Shift14(add[1]));
                u[2][i] = Add32(b, Low32Shift14(add[2]));
            }
        }

        for (int c = 0; c < 3; ++c) {
            const KUInt32 gain = st.gain[c];
            const KUInt32 step = st.gainStep[c];
            const KInt32* v = u[c];
            for (KInt32 i = 0; i < m; ++i) {
                const KInt32 a = static_cast<KInt32>(gain + step * static_cast<KUInt32>(i)) >> 8;
                p[3 * i + c] = static_cast<KInt16>(std::clamp(Low32Shift14(KInt64(v[i]) * a), -32768, 32000));
            }
            st.gain[c] = gain + step * static_cast<KUInt32>(m);
        }
    }
}

template <PolyForm Form, bool Square>
void CorrectColumns(KInt16* px, KInt32 count, RowState& st)
{
    CorrectColumnsBody<Form, Square>(px, count, st);
}

#if K_HAVE_AVX2_BUILD
template <PolyForm Form, bool Square>
K_AVX2 void CorrectColumnsAvx2(KInt16* px, KInt32 count, RowState& st)
{
    CorrectColumnsBody<Form, Square>(px, count, st);
}
#endif

using Kernel = void (*)(KInt16*, KInt32, RowState&);

template <PolyForm Form, bool Square>
Kernel PickBuild()
{
    return K_PICK_KERNEL(CorrectColumns, Form, Square);
}

template <bool Square>
Kernel PickKernel(PolyForm form)
{
    switch (form) {
    case PolyForm::None:
        return PickBuild<PolyForm::None, Square>();
    case PolyForm::Squares:
        return PickBuild<PolyForm::Squares, Square>();
    case PolyForm::OwnSquareAndCube:
        return PickBuild<PolyForm::OwnSquareAndCube, Square>();
    default:
        return PickBuild<PolyForm::All, Square>();
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
        // The drift at column 0 and the level, summed in 32 bits as the per-column sums are.
        st.dark[c] = static_cast<KUInt32>(KTruncToInt32(drift.m_Mean[c] * kOne14)) -
                     static_cast<KUInt32>(st.driftStep[c]) * static_cast<KUInt32>(columns >> 1) +
                     static_cast<KUInt32>(KTruncToInt32(level[c] * kOne14));
        st.filter[c] = KTruncToInt32(cf[c] * kOne14);
        st.square[c] = KTruncToInt32(cs[c] * kOne14);
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
