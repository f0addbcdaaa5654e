#pragma once
// The files kzrgen writes: the camera's usual set of images (raw frame, dark frame and preview, or a
// dark-subtracted frame) with its property list and calibration, and a file that gathers the edge cases
// of the decoder in one place.
#include <cstdint>

#include "KzrCalibrationBuilder.h"
#include "KzrFileBuilder.h"
#include "KzrScene.h"

namespace kzrsynth {

struct StandardOptions {
    int width = 96;
    int height = 64;
    int rawFormat = -1;         // 0 or 4; -1 = 4 unless only a dark-subtracted frame is asked for
    int darkFormat = 4;         // 0 or 4
    int subtractedFormat = -1;  // 5 or 6; -1 = no dark-subtracted frame
    int previewFormat = 11;     // 1, 3 or 11; -1 = no preview
    uint32_t version = KQrlb::kVersion22;
    uint32_t seed = 1;
    bool calibration = true;    // one "CAMF" section (of `cams`, or an empty calibration block)
    std::vector<CamFileLayout> cams;  // calibration sections handed in by the caller
    DefaultCalibrationOptions defaultCalibration;  // when on: the default calibration first, and dark shields
};

// Property pairs of the camera (model, exposure, lens, white balance "Auto", ...).
PropPairs CameraProperties(uint32_t seed);

// Preview size for a frame: a quarter of each side, at least 1.
int PreviewSide(int frameSide);

FileLayout StandardLayout(const StandardOptions& options);

// One file with every case that the decoder must get right at a boundary: a format-4 row of 10 columns, a
// Huffman row whose bits fill whole 32-bit words, a code table whose longest code is 5 bits, format-5 and
// format-6 rows whose running sum passes 32767, formats 0, 1, 3, 4, 5, 6 and 11, two property lists in both
// layouts, directories nested two deep, "IMAG" and "IMA2" sections, and an enciphered calibration section.
FileLayout EdgeCaseLayout(uint32_t seed);

}  // namespace kzrsynth
