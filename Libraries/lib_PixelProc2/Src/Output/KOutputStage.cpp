#include "KOutputStage.h"

#include <cstdint>
#include <vector>

#include "KColorSpace.h"
#include "KExceptionPixelProc2.h"
#include "KRGBTripleOps.h"
#include "KRounding.h"
#include "KPickKernel.h"

namespace {

// A row goes through three passes over buffers that live for the call: the tone look-ups (a gather), the
// colour matrix, toe and saturation (plain 32-bit arithmetic the compiler vectorises), and the gamma look-ups
// with the store. The matrix sums run in 32 bits when no row of the fixed-point matrix can pass them (tone
// entries are 16-bit values), else in 64 bits; both give the same result.
struct KOutputSetup {
    const KInt16* m_pTone[3];
    KUInt32 m_ToneMask;
    const KInt16* m_pGamma;
    KUInt32 m_GammaMask;
    KFixedMatrix3x3 m_Matrix;
    KInt32 m_DetailGain;  // 14 fractional bits
};

bool MatrixFits32Bits(const KFixedMatrix3x3& m)
{
    for (int i = 0; i < 3; ++i) {
        KInt64 sum = 4096;
        for (int j = 0; j < 3; ++j)
            sum += (m[i * 3 + j] < 0 ? -KInt64(m[i * 3 + j]) : KInt64(m[i * 3 + j])) * 32768;
        if (sum > INT32_MAX)
            return false;
    }
    return true;
}

// Detail added, then channel c through tone table c.
void TonePass(const KOutputSetup& s, const KInt16* w, const KInt16* d, KInt32 cols, KInt32* t0, KInt32* t1, KInt32* t2)
{
    const KUInt32 m = s.m_ToneMask;
    const KInt16* const tone0 = s.m_pTone[0];
    const KInt16* const tone1 = s.m_pTone[1];
    const KInt16* const tone2 = s.m_pTone[2];
    for (KInt32 x = 0; x < cols; ++x, w += 3) {
        const KInt32 e = static_cast<KInt32>(KUInt32(d[x]) * KUInt32(s.m_DetailGain)) >> 14;
        t0[x] = tone0[KUInt32(w[0] + e) & m];
        t1[x] = tone1[KUInt32(w[1] + e) & m];
        t2[x] = tone2[KUInt32(w[2] + e) & m];
    }
}

template <bool Wide>
K_INLINE_BODY KInt32 MatrixRow(const KFixedMatrix3x3& m, int i, KInt32 a, KInt32 b, KInt32 c)
{
    if constexpr (Wide)
        return static_cast<KInt32>((KInt64(m[i * 3]) * a + KInt64(m[i * 3 + 1]) * b + KInt64(m[i * 3 + 2]) * c + 4096) >> 13);
    else
        return (m[i * 3] * a + m[i * 3 + 1] * b + m[i * 3 + 2] * c + 4096) >> 13;
}

// The toe of ApplyShadowToe without branches: t and the square are formed unsigned (r may lie near the 32-bit
// limits with a steep matrix), and only used where r < 512 - k, that is t < 1024 without wrapping.
K_INLINE_BODY KInt32 Toe(KInt32 r, KInt32 k)
{
    const KInt32 t = static_cast<KInt32>(KUInt32(r) + KUInt32(k) + 512u);
    const KInt32 lifted = static_cast<KInt32>((KUInt32(t) * KUInt32(t)) >> 11) - k;
    const KInt32 toe = t < 0 ? -k : lifted;
    const KInt32 v = r >= 512 - k ? r : toe;
    return v > 32767 ? 32767 : (v < -32768 ? -32768 : v);
}

// Matrix, toe and saturation; the results are left as gamma-table indices.
template <bool Wide>
K_INLINE_BODY void ColourBody(const KFixedMatrix3x3& m, KUInt32 gammaMask, KInt32 cols, KInt32* c0, KInt32* c1,
                              KInt32* c2)
{
    for (KInt32 x = 0; x < cols; ++x) {
        const KInt32 a = c0[x], b = c1[x], c = c2[x];
        const KInt32 r0 = MatrixRow<Wide>(m, 0, a, b, c);
        const KInt32 r1 = MatrixRow<Wide>(m, 1, a, b, c);
        const KInt32 r2 = MatrixRow<Wide>(m, 2, a, b, c);
        const KInt32 top = r0 > r1 ? (r0 > r2 ? r0 : r2) : (r1 > r2 ? r1 : r2);
        const KInt32 k0 = 512 - (top >> 1);
        const KInt32 k = k0 < 32 ? 32 : k0;
        c0[x] = static_cast<KInt32>(KUInt32(Toe(r0, k)) & gammaMask);
        c1[x] = static_cast<KInt32>(KUInt32(Toe(r1, k)) & gammaMask);
        c2[x] = static_cast<KInt32>(KUInt32(Toe(r2, k)) & gammaMask);
    }
}

using KColourPassFunction = void (*)(const KFixedMatrix3x3&, KUInt32, KInt32, KInt32*, KInt32*, KInt32*);

void ColourPass32(const KFixedMatrix3x3& m, KUInt32 gammaMask, KInt32 cols, KInt32* c0, KInt32* c1, KInt32* c2)
{
    ColourBody<false>(m, gammaMask, cols, c0, c1, c2);
}
void ColourPass64(const KFixedMatrix3x3& m, KUInt32 gammaMask, KInt32 cols, KInt32* c0, KInt32* c1, KInt32* c2)
{
    ColourBody<true>(m, gammaMask, cols, c0, c1, c2);
}
#if K_HAVE_AVX2_BUILD
K_AVX2 void ColourPass32Avx2(const KFixedMatrix3x3& m, KUInt32 gammaMask, KInt32 cols, KInt32* c0, KInt32* c1,
                             KInt32* c2)
{
    ColourBody<false>(m, gammaMask, cols, c0, c1, c2);
}
K_AVX2 void ColourPass64Avx2(const KFixedMatrix3x3& m, KUInt32 gammaMask, KInt32 cols, KInt32* c0, KInt32* c1,
                             KInt32* c2)
{
    ColourBody<true>(m, gammaMask, cols, c0, c1, c2);
}
#endif

KColourPassFunction ColourPassFor(bool wide)
{
    return wide ? K_PICK_KERNEL(ColourPass64) : K_PICK_KERNEL(ColourPass32);
}

// Gamma codes (unsigned 16-bit) stored in the output type, fixed per instantiation.
template <class PixelClass>
void StorePass(const KInt16* gamma, KInt32 cols, const KInt32* c0, const KInt32* c1, const KInt32* c2, KUInt8* o)
{
    for (KInt32 x = 0; x < cols; ++x, o += PixelClass::kBytesPerPixel)
        PixelClass::SetRGB(o, KRGBTriple(static_cast<KUInt16>(gamma[c0[x]]), static_cast<KUInt16>(gamma[c1[x]]),
                                         static_cast<KUInt16>(gamma[c2[x]])));
}

template <class PixelClass>
void OutputRows(const KOutputSetup& s, const KPixmap& working, const KPixmap& detail, KPixmap& out)
{
    const KInt32 cols = working.GetWidth();
    if (cols <= 0)
        return;
    std::vector<KInt32> buffer(size_t(cols) * 3);
    KInt32* c0 = buffer.data();
    KInt32* c1 = c0 + cols;
    KInt32* c2 = c1 + cols;
    const KColourPassFunction colourPass = ColourPassFor(!MatrixFits32Bits(s.m_Matrix));
    for (KInt32 y = 0; y < working.GetHeight(); ++y) {
        TonePass(s, reinterpret_cast<const KInt16*>(working.GetRow(y)), reinterpret_cast<const KInt16*>(detail.GetRow(y)),
                 cols, c0, c1, c2);
        colourPass(s.m_Matrix, s.m_GammaMask, cols, c0, c1, c2);
        StorePass<PixelClass>(s.m_pGamma, cols, c0, c1, c2, out.GetRow(y));
    }
}

}  // namespace

void KPixelProc2::ProcessToOutput(const KPixmapTemplate<KPixelClass48SRGB>& working,
                                  const KPixmapTemplate<KPixelClass16SMono>& detail, double sharpening,
                                  const KColorLUT& tone, const KMatrix3x3& matrix, const KLUT& gamma, KPixmap& out)
{
    const int type = out.GetPixelType();
    if (type != kPixelType24RGB && type != kPixelType32BGRA && type != kPixelType48RGB)
        throw KExceptionPixelProc2("KPixelProc2::ProcessToOutput: unknown output pixel type.");
    if (out.GetWidth() < working.GetWidth() || out.GetHeight() < working.GetHeight())
        throw KExceptionPixelProc2("KPixelProc2::ProcessToOutput: output image smaller than the working image.");
    if (detail.GetWidth() < working.GetWidth() || detail.GetHeight() < working.GetHeight())
        throw KExceptionPixelProc2("KPixelProc2::ProcessToOutput: detail layer smaller than the working image.");

    const KOutputSetup s{{tone.m_pData[0], tone.m_pData[1], tone.m_pData[2]},
                         tone.m_Mask,
                         gamma.m_pData,
                         gamma.m_Mask,
                         ToFixedMatrix(matrix),
                         KTruncToInt32((1.0 + sharpening) * 16384.0)};
    if (type == kPixelType24RGB)
        OutputRows<KPixelClass24RGB>(s, working, detail, out);
    else if (type == kPixelType32BGRA)
        OutputRows<KPixelClass32BGRA>(s, working, detail, out);
    else
        OutputRows<KPixelClass48RGB>(s, working, detail, out);
}

KMatrix3x3& CalculateOutputColorMatrix(KMatrix3x3& result, int colorSpace, double saturation)
{
    KMatrix3x3 working, output;
    CreateColorSpaceWhitePoint(working, kWorkingColorSpace, kPcsWhitePointD65);
    CreateColorSpaceWhitePoint(output, colorSpace, kPcsWhitePointD65);
    const double a = -saturation / 6.0;
    const double diagonal = 1.0 - 2.0 * a;
    const KMatrix3x3 s = {diagonal, a, a, a, diagonal, a, a, a, diagonal};
    result = Multiply3x3(Multiply3x3(output, Invert3x3(working)), s);
    return result;
}
