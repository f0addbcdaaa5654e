// kzrgen: writes a synthetic raw container file, and optionally the exact decode of each of its images.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

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

[[noreturn]] void Usage(const std::string& problem)
{
    std::fprintf(stderr, "kzrgen: %s\n%s", problem.c_str(), kUsage);
    for (const std::string& n : kzrsynth::NegativeNames())
        std::fprintf(stderr, "%s ", n.c_str());
    std::fprintf(stderr, "\n");
    std::exit(2);
}

long Number(const std::string& option, const std::string& text, long lo, long hi)
{
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end || errno || v < lo || v > hi)
        Usage("bad value for " + option + ": " + text);
    return v;
}

int Choice(const std::string& option, const std::string& text, std::initializer_list<int> allowed)
{
    const long v = Number(option, text, 0, 99);
    for (int a : allowed)
        if (v == a)
            return a;
    Usage("bad value for " + option + ": " + text);
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
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc)
                Usage(a + " needs a value");
            return argv[++i];
        };
        if (a == "--size") {
            const std::string v = value();
            const size_t x = v.find('x');
            if (x == std::string::npos)
                Usage("bad value for --size: " + v);
            o.width = static_cast<int>(Number(a, v.substr(0, x), 1, 65536));
            o.height = static_cast<int>(Number(a, v.substr(x + 1), 1, 65536));
        } else if (a == "--raw-format") {
            o.rawFormat = Choice(a, value(), {0, 4});
        } else if (a == "--dark-format") {
            o.darkFormat = Choice(a, value(), {0, 4});
        } else if (a == "--subtracted-format") {
            o.subtractedFormat = Choice(a, value(), {5, 6});
        } else if (a == "--preview-format") {
            const std::string v = value();
            o.previewFormat = v == "none" ? -1 : Choice(a, v, {1, 3, 11});
        } else if (a == "--version") {
            const std::string v = value();
            if (v == "1.0")
                o.version = KQrlb::kVersion10;
            else if (v == "2.0" || v == "2.1" || v == "2.2")
                o.version = 0x00020000u | static_cast<uint32_t>(v[2] - '0');
            else
                Usage("bad value for --version: " + v);
        } else if (a == "--seed") {
            o.seed = static_cast<uint32_t>(Number(a, value(), 0, 0xFFFFFFFFL));
        } else if (a == "--calibration") {
            const std::string v = value();
            if (v != "none" && v != "default")
                Usage("bad value for --calibration: " + v);
            o.calibration = v == "default";
            o.defaultCalibration.on = v == "default";
        } else if (a == "--calibration-order") {
            const std::string v = value();
            if (v != "little" && v != "big")
                Usage("bad value for --calibration-order: " + v);
            o.defaultCalibration.order = v == "big" ? KzrByteOrder::Big : KzrByteOrder::Little;
        } else if (a == "--calibration-form") {
            const std::string v = value();
            if (v != "file" && v != "blocks")
                Usage("bad value for --calibration-form: " + v);
            o.defaultCalibration.bareBlocks = v == "blocks";
        } else if (a == "--calibration-illuminants") {
            o.defaultCalibration.illuminants = true;
        } else if (a == "--camf-file") {
            camfFile = value();
        } else if (a == "--camf-type") {
            camfType = Choice(a, value(), {0, 1, 2});
        } else if (a == "--white-balance") {
            whiteBalance = value();
            haveWhiteBalance = true;
        } else if (a == "--rotation") {
            rotation = Number(a, value(), -0x7FFFFFFFL, 0x7FFFFFFFL);
        } else if (a == "--marks") {
            marks = Number(a, value(), 0, 0xFFFFFFFFL);
        } else if (a == "--edge-cases") {
            edgeCases = true;
        } else if (a == "--expected") {
            expectedDir = value();
        } else if (a == "--negative") {
            const std::string v = value();
            if (!kzrsynth::ParseNegative(v, damage))
                Usage("unknown negative case: " + v);
        } else if (a == "--help" || a == "-h") {
            Usage("writes synthetic raw container files");
        } else if (!a.empty() && a[0] == '-') {
            Usage("unknown option " + a);
        } else if (out.empty()) {
            out = a;
        } else {
            Usage("more than one output file");
        }
    }
    if (out.empty())
        Usage("no output file");

    o.defaultCalibration.camType = static_cast<uint32_t>(camfType);
    try {
        if (!camfFile.empty()) {
            std::ifstream in(camfFile, std::ios::binary);
            if (!in)
                throw std::runtime_error("cannot read " + camfFile);
            kzrsynth::CamSpec cam;
            cam.type = static_cast<uint32_t>(camfType);
            cam.payload.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
            o.cams.push_back(std::move(cam));
            o.calibration = true;
        }
        kzrsynth::FileSpec spec = edgeCases ? kzrsynth::EdgeCaseSpec(o.seed) : kzrsynth::StandardSpec(o);
        if (haveWhiteBalance)
            spec.whiteBalance = whiteBalance;
        spec.rotation = static_cast<uint32_t>(rotation);
        spec.markBits = static_cast<uint32_t>(marks);
        const kzrsynth::BuiltFile file = kzrsynth::BuildNegative(spec, damage);
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
