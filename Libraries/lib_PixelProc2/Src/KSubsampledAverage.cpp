#include "KSubsampledAverage.h"

#include <algorithm>

#include "KExceptionPixelProc2.h"

namespace {

template <class PixelClass>
KRGBTriple ReadPixel(const KUInt8* p)
{
    return PixelClass::GetRGB(p);
}
// Stored B, G, R; averaged as unsigned values (the pixel class reads them signed).
template <>
KRGBTriple ReadPixel<KPixelClass48BGR>(const KUInt8* p)
{
    using KPixelMemory::Load16;
    return KRGBTriple(Load16(p, 2), Load16(p, 1), Load16(p, 0));
}

template <class PixelClass>
KColorTriple AverageOf(const KPixmap* image, KInt32 step)
{
    const auto* typed = dynamic_cast<const KPixmapTemplate<PixelClass>*>(image);
    if (!typed)
        throw KExceptionPixelProc2("SubsampledAverage: input pixmap ptr is not specified type");
    return SubsampledAverage(*typed, step);
}

}  // namespace

template <class PixelClass>
KColorTriple SubsampledAverage(const KPixmapTemplate<PixelClass>& image, KInt32 step)
{
    step = std::max(step, 1);
    const KInt32 start = step / 2;
    double sum[3] = {0, 0, 0};
    KInt64 count = 0;
    // Positions in 64 bits: a step near the 32-bit limit must not wrap back into the image.
    for (KInt64 y = start; y < image.GetHeight(); y += step) {
        const KUInt8* row = image.GetRow(static_cast<KInt32>(y));
        for (KInt64 x = start; x < image.GetWidth(); x += step) {
            const KRGBTriple p = ReadPixel<PixelClass>(row + x * PixelClass::kBytesPerPixel);
            sum[0] += p.r;
            sum[1] += p.g;
            sum[2] += p.b;
            ++count;
        }
    }
    if (count == 0)
        return {0, 0, 0};
    return {sum[0] / double(count), sum[1] / double(count), sum[2] / double(count)};
}

template KColorTriple SubsampledAverage(const KPixmapTemplate<KPixelClass24RGB>&, KInt32);
template KColorTriple SubsampledAverage(const KPixmapTemplate<KPixelClass30RGBL>&, KInt32);
template KColorTriple SubsampledAverage(const KPixmapTemplate<KPixelClass30RGB>&, KInt32);
template KColorTriple SubsampledAverage(const KPixmapTemplate<KPixelClass48RGB>&, KInt32);
template KColorTriple SubsampledAverage(const KPixmapTemplate<KPixelClass48SRGB>&, KInt32);
template KColorTriple SubsampledAverage(const KPixmapTemplate<KPixelClass48BGR>&, KInt32);

KColorTriple SubsampledColorAverage(const KPixmap* image, KInt32 step)
{
    if (!image)
        throw KExceptionPixelProc2("SubsampledColorAverage: Unknown pixel type");
    switch (image->GetPixelType()) {
    case kPixelType24RGB:
        return AverageOf<KPixelClass24RGB>(image, step);
    case kPixelType30RGBL:
        return AverageOf<KPixelClass30RGBL>(image, step);
    case kPixelType30RGB:
        return AverageOf<KPixelClass30RGB>(image, step);
    case kPixelType48RGB:
        return AverageOf<KPixelClass48RGB>(image, step);
    case kPixelType48SRGB:
        return AverageOf<KPixelClass48SRGB>(image, step);
    case kPixelType48BGR:
        return AverageOf<KPixelClass48BGR>(image, step);
    default:
        throw KExceptionPixelProc2("SubsampledColorAverage: Unknown pixel type");
    }
}

KColorTriple CalculateFlare(const KPixmap* image, const KColorTriple& factor)
{
    const KColorTriple mean = SubsampledColorAverage(image, 4);
    return {mean[0] * factor[0], mean[1] * factor[1], mean[2] * factor[2]};
}
