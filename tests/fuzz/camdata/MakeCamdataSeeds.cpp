// Writes the seed corpus of the calibration fuzz target: tests/fuzz/corpus/camdata/<name>.
// Build the target fuzz_camdata_seeds and run it with the corpus folder as its argument.
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "KzrCalibrationBuilder.h"

namespace {

void Write(const std::string& folder, const std::string& name, const std::vector<uint8_t>& bytes)
{
    std::ofstream out(folder + "/" + name, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_camdata_seeds FOLDER\n");
        return 2;
    }
    const std::string folder = argv[1];
    // The calibration of a generated camera file, in every form.
    kzrsynth::SceneParams scene;
    scene.width = 40;
    scene.height = 24;
    kzrsynth::AddDefaultShields(scene);
    kzrsynth::DefaultCalibrationOptions o;
    o.illuminants = true;
    const struct {
        const char* name;
        KzrByteOrder order;
        bool blocks;
    } forms[] = {{"default-le-file", KzrByteOrder::Little, false},
                 {"default-be-file", KzrByteOrder::Big, false},
                 {"default-le-blocks", KzrByteOrder::Little, true},
                 {"default-be-blocks", KzrByteOrder::Big, true}};
    for (const auto& f : forms) {
        o.order = f.order;
        o.bareBlocks = f.blocks;
        Write(folder, f.name, kzrsynth::DefaultCalibrationSection(scene, o).payload);
    }

    KzrCalibrationBuilder types;
    types.AddInt16("i16", {3, 2}, {1, -2, 3, -4, 5, -6});
    types.AddInt32("i32", {3}, {-1, 2, -3});
    types.AddUInt32("u32", {1}, {7});
    types.AddFloat("f", {2, 3, 2}, std::vector<float>(12, 0.5f));
    types.AddBytes("u8", {2}, {1, 2});
    types.AddUInt16("u16", {2}, {1, 65535});
    types.AddPropertyList("props", {{"Auto", "m"}, {"Flash", ""}});
    types.AddOpaqueBlock(0x54624D43, "table", {1, 2, 3, 4});  // "CMbT"
    types.NewSection();
    types.AddRect("rect", 1, 2, 3, 4);
    Write(folder, "types-le-file", types.BuildFile(KzrByteOrder::Little));
    Write(folder, "types-be-file", types.BuildFile(KzrByteOrder::Big));
    Write(folder, "types-be-blocks", types.BuildBlocks(KzrByteOrder::Big));

    KzrCalibrationBuilder wide;
    wide.AddInt64("wide", {1}, {1});
    Write(folder, "int64-le-blocks", wide.BuildBlocks(KzrByteOrder::Little));
    Write(folder, "int64-be-file", wide.BuildFile(KzrByteOrder::Big));

    // A big-endian block whose name lies in its last element: swapping the element moves the name's
    // terminator in front of it. The property value gives the fuzz target the name to look up.
    KzrCalibrationBuilder swapped;
    swapped.AddPropertyList("p", {{"k", "xyz"}});
    swapped.AddUInt32("m", {2}, {1, 0x7A797800u});  // stored 'z', 'y', 'x', NUL
    std::vector<uint8_t> bytes = swapped.BuildBlocks(KzrByteOrder::Big);
    const size_t block = static_cast<size_t>(bytes[8]) << 24 | bytes[9] << 16 | bytes[10] << 8 | bytes[11];
    const uint32_t nameOffset = static_cast<uint32_t>(bytes.size() - block - 3);
    for (int i = 0; i < 4; ++i)
        bytes[block + 12 + i] = static_cast<uint8_t>(nameOffset >> (24 - 8 * i));
    Write(folder, "name-in-swapped-element", bytes);

    KzrCalibrationBuilder empty;
    empty.NewSection();
    Write(folder, "empty-sections", empty.BuildFile(KzrByteOrder::Little));
    return 0;
}
