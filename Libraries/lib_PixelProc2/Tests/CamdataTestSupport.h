#pragma once
// Shared helpers of the calibration tests: the layout used as fixture, word patching, and a text that lists
// what every getter answers, so that two buffers can be compared in one assertion.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "KCamdata.h"
#include "KzrCalibrationBuilder.h"

inline KzrCalibrationLayout TestLayout()
{
    KzrCalibrationLayout l;
    l.columns = 64;
    l.rows = 48;
    l.keepLeft = 8;
    l.keepTop = 4;
    l.shieldLeft = 6;
    l.shieldRight = 4;
    l.shieldTop = 4;
    l.shieldBottom = 2;
    l.badPixels = {{10, 10}, {20, 30}};
    l.illuminants = true;
    l.gainGrid3x4 = true;
    for (int c = 0; c < 3; ++c)
        l.sensorGain[c] = kzrsynth::kChannelGain[c];
    return l;
}

inline uint32_t Word(const std::vector<uint8_t>& b, size_t at, bool big = false)
{
    uint32_t w = 0;
    for (int i = 0; i < 4; ++i)
        w |= uint32_t(b.at(at + (big ? 3 - i : i))) << (8 * i);
    return w;
}

inline void SetWord(std::vector<uint8_t>& b, size_t at, uint32_t w, bool big = false)
{
    for (int i = 0; i < 4; ++i)
        b.at(at + (big ? 3 - i : i)) = uint8_t(w >> (8 * i));
}

// Offset of the n-th block of the first section of a file built by KzrCalibrationBuilder.
inline size_t BlockOffset(const std::vector<uint8_t>& file, size_t n, bool big = false)
{
    size_t at = KzrCalibrationBuilder::kFirstBlockOffset;
    for (size_t i = 0; i < n; ++i)
        at += Word(file, at + 8, big);
    return at;
}

std::string DescribeCamdata(const KCamdata& c);
