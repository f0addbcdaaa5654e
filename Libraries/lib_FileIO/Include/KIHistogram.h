#pragma once
// The histogram of a 32BGRA display image: per level 0-255 the number of pixels whose red, green and blue
// channel has that level, a luminance table, and the pixel count. Counted by the image handle; read by the
// histogram control.
#include <cstdint>
#include <memory>

class KPixmap;

class KIHistogram {
public:
    struct ChannelCounts {
        uint32_t red;
        uint32_t green;
        uint32_t blue;
    };
    static constexpr int kLevels = 256;

    KIHistogram();
    KIHistogram(const KIHistogram&) = delete;
    KIHistogram& operator=(const KIHistogram&) = delete;
    virtual ~KIHistogram();

    // Recounts from a 32BGRA pixmap (bytes blue, green, red, unused); luminance level of a pixel:
    // floor(0.3 x red + 0.55 x green + 0.15 x blue + 0.5). Any other pixel type throws
    // KExceptionUnknownPixelType and leaves the counts as they were.
    void Count(const KPixmap& pixmap);

    const ChannelCounts* GetChannelTable() const { return m_pChannels.get(); }
    const uint32_t* GetLuminanceTable() const { return m_pLuminance.get(); }
    uint32_t GetPixelCount() const { return m_PixelCount; }

private:
    std::unique_ptr<ChannelCounts[]> m_pChannels;
    std::unique_ptr<uint32_t[]> m_pLuminance;
    uint32_t m_PixelCount = 0;
};
