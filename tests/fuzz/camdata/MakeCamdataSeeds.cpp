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
    KzrCalibrationLayout layout;
    layout.columns = 40;
    layout.rows = 24;
    layout.keepLeft = 2;
    layout.keepTop = 1;
    layout.shieldLeft = 5;
    layout.shieldRight = 4;
    layout.shieldTop = 3;
    layout.shieldBottom = 1;
    layout.badPixels = {{10, 10}};
    layout.illuminants = true;
    KzrCalibrationBuilder def = KzrDefaultCalibration(layout);
    Write(folder, "default-le-file", def.BuildFile(KzrByteOrder::Little));
    Write(folder, "default-be-file", def.BuildFile(KzrByteOrder::Big));
    Write(folder, "default-le-blocks", def.BuildBlocks(KzrByteOrder::Little));
    Write(folder, "default-be-blocks", def.BuildBlocks(KzrByteOrder::Big));

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

    KzrCalibrationBuilder empty;
    empty.NewSection();
    Write(folder, "empty-sections", empty.BuildFile(KzrByteOrder::Little));
    return 0;
}
