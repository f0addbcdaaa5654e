// kzrgen: writes a synthetic raw container file, and optionally the exact decode of each of its images.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

#include "KzrCommandLine.h"
#include "KzrNegative.h"
#include "KzrPpm.h"
#include "KzrStandard.h"

namespace {

const char* kUsage =
    "usage: kzrgen [options] OUT.kzr\n"
    "  --size WxH                 frame size (default 96x64)\n"
    "  --raw-format 0|4           raw and dark frame data format (default 4)\n"
    "  --dark-format 0|4          dark frame data format (default 4)\n"
    "  --subtracted-format 5|6    write a dark-subtracted frame (without --raw-format: instead of raw and dark)\n"
    "  --preview-format 1|3|11|none  preview data format (default 11)\n"
    "  --version 1.0|2.0|2.1|2.2  container version (default 2.2)\n"
    "  --seed N                   noise and identifier seed (default 1)\n"
    "  --calibration none|default no calibration section, or the default calibration with dark shields around\n"
    "                             the picture (without the option: an empty calibration block)\n"
    "  --calibration-order little|big  --calibration-form file|blocks  --calibration-illuminants\n"
    "                             byte order and form of the default calibration, and its white-balance lights\n"
    "  --camf-file PATH           calibration payload from a file (with --camf-type 0|1|2, default 1;\n"
    "                             the type applies to the default calibration too)\n"
    "  --white-balance TEXT       header white-balance text (version 2.1 and later)\n"
    "  --rotation DEG  --marks N  header rotation and mark bits\n"
    "  --edge-cases               the file of decoder edge cases instead of a camera file\n"
    "  --expected DIR             also write DIR/image-<index>.ppm, each image's exact decode\n"
    "  --negative CASE            damage the file: ";

void Usage(const std::string& problem)
{
    if (!problem.empty())
        std::fprintf(stderr, "kzrgen: %s\n", problem.c_str());
    std::fprintf(stderr, "%s", kUsage);
    for (const std::string& n : kzrsynth::NegativeNames())
        std::fprintf(stderr, "%s ", n.c_str());
    std::fprintf(stderr, "\n");
}

}  // namespace

int main(int argc, char** argv)
{
    kzrsynth::StandardOptions o;
    kzrsynth::NegativeCase damage;
    std::string out, expectedDir, camfFile, whiteBalance;
    int camfType = 1;
    bool edgeCases = false, haveWhiteBalance = false;
    long rotation = 0, marks = 0;
    kzrsynth::CommandLine args(argc, argv, Usage);
    std::string a;
    while (args.Next(a)) {
        if (a == "--size") {
            const std::string v = args.Value(a);
            const size_t x = v.find('x');
            if (x == std::string::npos)
                args.Fail("bad value for --size: " + v);
            o.width = static_cast<int>(args.Number(a, v.substr(0, x), 1, 65536));
            o.height = static_cast<int>(args.Number(a, v.substr(x + 1), 1, 65536));
        } else if (a == "--raw-format") {
            o.rawFormat = args.OneOf(a, {0, 4});
        } else if (a == "--dark-format") {
            o.darkFormat = args.OneOf(a, {0, 4});
        } else if (a == "--subtracted-format") {
            o.subtractedFormat = args.OneOf(a, {5, 6});
        } else if (a == "--preview-format") {
            const std::string v = args.OneOf(a, {"1", "3", "11", "none"});
            o.previewFormat = v == "none" ? -1 : std::stoi(v);
        } else if (a == "--version") {
            const std::string v = args.OneOf(a, {"1.0", "2.0", "2.1", "2.2"});
            o.version = v == "1.0" ? KQrlb::kVersion10 : 0x00020000u | static_cast<uint32_t>(v[2] - '0');
        } else if (a == "--seed") {
            o.seed = static_cast<uint32_t>(args.Number(a, 0, 0xFFFFFFFFL));
        } else if (a == "--calibration") {
            const std::string v = args.OneOf(a, {"none", "default"});
            o.calibration = v == "default";
            o.defaultCalibration.on = v == "default";
        } else if (a == "--calibration-order") {
            o.defaultCalibration.order =
                args.OneOf(a, {"little", "big"}) == "big" ? KzrByteOrder::Big : KzrByteOrder::Little;
        } else if (a == "--calibration-form") {
            o.defaultCalibration.bareBlocks = args.OneOf(a, {"file", "blocks"}) == "blocks";
        } else if (a == "--calibration-illuminants") {
            o.defaultCalibration.illuminants = true;
        } else if (a == "--camf-file") {
            camfFile = args.Value(a);
        } else if (a == "--camf-type") {
            camfType = args.OneOf(a, {0, 1, 2});
        } else if (a == "--white-balance") {
            whiteBalance = args.Value(a);
            haveWhiteBalance = true;
        } else if (a == "--rotation") {
            rotation = args.Number(a, -0x7FFFFFFFL, 0x7FFFFFFFL);
        } else if (a == "--marks") {
            marks = args.Number(a, 0, 0xFFFFFFFFL);
        } else if (a == "--edge-cases") {
            edgeCases = true;
        } else if (a == "--expected") {
            expectedDir = args.Value(a);
        } else if (a == "--negative") {
            const std::string v = args.Value(a);
            if (!kzrsynth::ParseNegative(v, damage))
                args.Fail("unknown negative case: " + v);
        } else {
            args.Other(a, out, "output file");
        }
    }
    if (out.empty())
        args.Fail("no output file");

    o.defaultCalibration.camType = static_cast<uint32_t>(camfType);
    try {
        if (!camfFile.empty()) {
            std::ifstream in(camfFile, std::ios::binary);
            if (!in)
                throw std::runtime_error("cannot read " + camfFile);
            kzrsynth::CamFileLayout cam;
            cam.type = static_cast<uint32_t>(camfType);
            cam.payload.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
            o.cams.push_back(std::move(cam));
            o.calibration = true;
        }
        kzrsynth::FileLayout layout = edgeCases ? kzrsynth::EdgeCaseLayout(o.seed) : kzrsynth::StandardLayout(o);
        if (haveWhiteBalance)
            layout.whiteBalance = whiteBalance;
        layout.rotation = static_cast<uint32_t>(rotation);
        layout.markBits = static_cast<uint32_t>(marks);
        const kzrsynth::BuiltFile file = kzrsynth::BuildNegative(layout, damage);
        kzrsynth::WriteFileAtomically(out, file.bytes);
        if (!expectedDir.empty()) {
            std::filesystem::create_directories(expectedDir);
            for (size_t i = 0; i < file.readerOrder.size(); ++i) {
                const kzrsynth::EncodedImage* im = file.ReaderImage(i);
                if (im->decodable)
                    kzrsynth::WriteFileAtomically(expectedDir + "/image-" + std::to_string(i) + ".ppm",
                                                  kzrsynth::PpmBytes(im->expected));
            }
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "kzrgen: %s\n", e.what());
        return 1;
    }
    return 0;
}
