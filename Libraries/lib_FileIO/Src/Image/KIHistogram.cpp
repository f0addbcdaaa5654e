#include "KIHistogram.h"

#include <cstring>

#include "KPixmap.h"
#include "KPixmapExceptions.h"

KIHistogram::KIHistogram()
    : m_pChannels(new ChannelCounts[kLevels]()), m_pLuminance(new uint32_t[kLevels]())
{
}

KIHistogram::~KIHistogram() = default;

void KIHistogram::Count(const KPixmap& pixmap)
{
    if (pixmap.GetPixelType() != kPixelType32BGRA)
        throw KExceptionUnknownPixelType("KIHistogram::Count: the pixmap is not 32BGRA");
    std::memset(m_pChannels.get(), 0, kLevels * sizeof(ChannelCounts));
    std::memset(m_pLuminance.get(), 0, kLevels * sizeof(uint32_t));
    ChannelCounts* channels = m_pChannels.get();
    uint32_t* luminance = m_pLuminance.get();
    const int32_t width = pixmap.GetWidth();
    for (int32_t y = 0; y < pixmap.GetHeight(); ++y) {
        const uint8_t* p = pixmap.GetRow(y);
        for (int32_t x = 0; x < width; ++x, p += 4) {
            const uint8_t blue = p[0], green = p[1], red = p[2];
            ++channels[red].red;
            ++channels[green].green;
            ++channels[blue].blue;
            ++luminance[static_cast<int>(0.3 * red + 0.55 * green + 0.15 * blue + 0.5)];
        }
    }
    if (width > 0 && pixmap.GetHeight() > 0)
        m_PixelCount = static_cast<uint32_t>(static_cast<int64_t>(width) * pixmap.GetHeight());
    else
        m_PixelCount = 0;
}
