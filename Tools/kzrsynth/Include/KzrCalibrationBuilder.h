#pragma once
// Builds camera calibration buffers ("KCMb"): matrix blocks of every element type, property-list blocks and
// opaque blocks, grouped in data sections, written as a calibration file or as a bare run of blocks, in
// either byte order. Blocks are padded to multiples of 8 bytes so that every element lies aligned for its
// type when the buffer does.
//
// KzrDefaultCalibration() gives the smallest complete calibration that runs the whole development pipeline on
// the generator's scene; tests and kzrgen use it as their fixture. The builder knows the format by itself
// (it shares no constant with the parser it feeds).
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "KzrFileBuilder.h"
#include "KzrScene.h"

enum class KzrByteOrder { Little, Big };

class KzrCalibrationBuilder {
public:
    // Element types of matrix blocks.
    enum : uint32_t { Int16 = 0, Int32 = 1, UInt32 = 2, Float = 3, Int64 = 4, Byte = 5, UInt16 = 6 };
    // Byte offsets of the file form: the first data section, and its first block.
    static constexpr size_t kFirstSectionOffset = 28;
    static constexpr size_t kFirstBlockOffset = 48;

    // Blocks added after this call go to a new data section (the file form); the bare form ignores sections.
    void NewSection();

    // A matrix of dims (last dimension fastest) with count values of the element type, in machine order.
    // The count need not match the dimensions (a damaged block is sometimes the point).
    void AddMatrix(const std::string& name, uint32_t type, const std::vector<uint32_t>& dims, const void* values,
                   size_t count);
    void AddInt16(const std::string& name, const std::vector<uint32_t>& dims, const std::vector<int16_t>& v);
    void AddUInt16(const std::string& name, const std::vector<uint32_t>& dims, const std::vector<uint16_t>& v);
    void AddInt32(const std::string& name, const std::vector<uint32_t>& dims, const std::vector<int32_t>& v);
    void AddUInt32(const std::string& name, const std::vector<uint32_t>& dims, const std::vector<uint32_t>& v);
    void AddFloat(const std::string& name, const std::vector<uint32_t>& dims, const std::vector<float>& v);
    void AddInt64(const std::string& name, const std::vector<uint32_t>& dims, const std::vector<int64_t>& v);
    void AddBytes(const std::string& name, const std::vector<uint32_t>& dims, const std::vector<uint8_t>& v);
    // Shorthands for the shapes the pipeline reads.
    void AddFloatScalar(const std::string& name, float v) { AddFloat(name, {1}, {v}); }
    void AddUInt32Scalar(const std::string& name, uint32_t v) { AddUInt32(name, {1}, {v}); }
    void AddInt32Scalar(const std::string& name, int32_t v) { AddInt32(name, {1}, {v}); }
    // {left, top, right, bottom}, right and bottom inclusive as stored.
    void AddRect(const std::string& name, int32_t left, int32_t top, int32_t right, int32_t bottom);

    void AddPropertyList(const std::string& name, const std::vector<std::pair<std::string, std::string>>& pairs);
    // A block of any other type ("CMbT", "CMbB", ...) with opaque data.
    void AddOpaqueBlock(uint32_t type, const std::string& name, const std::vector<uint8_t>& data);

    // The calibration file: header, sections, blocks.
    std::vector<uint8_t> BuildFile(KzrByteOrder order) const;
    // The blocks alone, one after another.
    std::vector<uint8_t> BuildBlocks(KzrByteOrder order) const;

    size_t BlockCount() const { return m_Blocks.size(); }

private:
    struct Block {
        uint32_t type = 0;
        std::string name;
        // Matrix blocks.
        uint32_t elementType = 0;
        std::vector<uint32_t> dims;
        std::vector<uint8_t> elements;  // machine order
        // Property blocks.
        std::vector<std::pair<std::string, std::string>> pairs;
        // Opaque blocks.
        std::vector<uint8_t> data;
        size_t section = 0;
    };

    void priAppendBlock(std::vector<uint8_t>& out, const Block& b, KzrByteOrder order) const;

    std::vector<Block> m_Blocks;
    size_t m_Section = 0;
};

// The frame the default calibration describes. The raw frame (the keep area) is columns x rows pixels and
// lies at (keepLeft, keepTop) on the sensor; the picture (the active area) leaves dark shields of the given
// widths at its four sides. The header's columns and rows are the active area's size.
struct KzrCalibrationLayout {
    uint32_t columns = 0;  // of the raw frame
    uint32_t rows = 0;
    int32_t keepLeft = 0;
    int32_t keepTop = 0;
    uint32_t shieldLeft = 0;
    uint32_t shieldRight = 0;
    uint32_t shieldTop = 0;
    uint32_t shieldBottom = 0;
    // Frame positions (column, row) listed under "BadPixels".
    std::vector<std::pair<uint32_t, uint32_t>> badPixels;
    // White-balance illuminants with their matrices and neutrals.
    bool illuminants = false;
    // A 3 x 4 spatial gain grid (gentle, equal in the three channels) in place of the flat 2 x 2 one.
    bool gainGrid3x4 = false;
    // The sensor's response to a neutral scene: the camera matrices take it back out and the neutrals are it,
    // so that a grey of the scene develops to a grey.
    double sensorGain[3] = {1.0, 1.0, 1.0};
    // Linear level (after the dark frame is taken off) at which a channel clips.
    int16_t saturation = 3800;
};

KzrCalibrationBuilder KzrDefaultCalibration(const KzrCalibrationLayout& layout);

namespace kzrsynth {

// The default calibration of a generated camera file. The frame gets masked borders (dark shields) and keeps
// its size; the picture, and the header's columns and rows, are the frame without them.
struct DefaultCalibrationOptions {
    bool on = false;
    KzrByteOrder order = KzrByteOrder::Little;
    bool bareBlocks = false;   // the blocks alone, without the file header and sections
    bool illuminants = false;  // white-balance illuminants with their matrices
    uint32_t camType = KQrlb::kCamTypeBlock;
};
struct CalibrationShields {
    int left = 6, right = 4, top = 4, bottom = 2;
};
constexpr CalibrationShields kDefaultShields{};
// Gives the scene the default dark shields; throws std::invalid_argument for a frame too small to hold them.
void AddDefaultShields(SceneParams& scene);
// The calibration section for a scene with its shields: its hot pixels listed as bad pixels, the sensor's
// channel response as neutral.
CamFileLayout DefaultCalibrationSection(const SceneParams& scene, const DefaultCalibrationOptions& options);

}  // namespace kzrsynth
