#pragma once
// Loads a PNG file into a 32-bit display pixmap (32BGRA: blue, green, red, alpha), the form in which the user
// interface draws the pictures its scripts name. Every PNG loads: palette, grey (turned into RGB), 16-bit
// (stripped to 8 bits), with or without alpha (255 where the file has none), interlaced or not. Callable from
// any thread.
#include <cstdint>
#include <memory>

#include "KPixmap.h"

class KIFile;

// A 32BGRA pixmap that owns its rows (width x 4 bytes each, no padding).
class KPNGPixmap : public KPixmapTemplate<KPixelClass32BGRA> {
public:
    KPNGPixmap(std::unique_ptr<uint8_t[]> data, int32_t width, int32_t height)
        : KPixmapTemplate<KPixelClass32BGRA>(data.get(), width, height, width * 4), m_pData(std::move(data))
    {
    }

private:
    std::unique_ptr<uint8_t[]> m_pData;
};

// Images whose pixmap would exceed this many bytes are refused before anything is allocated.
constexpr uint64_t kPNGMaxPixmapBytes = 256u << 20;

// The image of the file (read from its start), or null when it is not a PNG or cannot be decoded (the reason
// is traced). The caller owns the result. On failure the file is released; on success it stays open for the
// caller.
KPNGPixmap* LoadPNGPixmap(KIFile* file);
