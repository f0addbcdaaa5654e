#include "KzrConvertOptions.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <strings.h>

namespace kzrconvert {

namespace {

const char* kUsage =
    "usage: kzrconvert [--jpeg Q | --tiff8 | --tiff16] [--colorspace N] [--size WxH] [--exposure E]\n"
    "                  [--out DIR] [--require-profile] [--cache MIB] FILE...\n"
    "  develops raw files (.kzr, .qrl, .xxx) and saves each as FILE.jpg or FILE.tif; a folder converts the\n"
    "  raw files in it\n"
    "  --jpeg Q           JPEG of quality Q, 1 to 100 (the default, with quality 95)\n"
    "  --tiff8, --tiff16  TIFF of 8 or 16 bits per sample\n"
    "  --colorspace N     output colour space 0 to 11 (default 2 sRGB; 3 Adobe RGB, 4 Apple RGB,\n"
    "                     8 ColorMatch RGB, 11 ProPhoto RGB; the others have no profile)\n"
    "  --size WxH         fit the image into W x H pixels (default: its own size)\n"
    "  --exposure E       exposure compensation in stops, -2 to 2 (default 0)\n"
    "  --out DIR          write the results into DIR, made when missing (default: beside each raw file)\n"
    "  --require-profile  fail instead of saving a colour space without a profile\n"
    "  --cache MIB        memory cache budget in MiB, 16 to 4095 (default 1024)\n";

static_assert(kDefaultCacheBudgetMiB == 1024, "the usage text names the default cache budget");

[[noreturn]] void Usage(const std::string& problem)
{
    std::fprintf(stderr, "kzrconvert: %s\n%s", problem.c_str(), kUsage);
    std::exit(2);
}

long Integer(const std::string& option, const std::string& text, long lo, long hi)
{
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end || errno || value < lo || value > hi)
        Usage("bad value for " + option + ": '" + text + "' (" + std::to_string(lo) + " to " + std::to_string(hi) +
              ")");
    return value;
}

}  // namespace

Options ParseArguments(int argc, char** argv)
{
    Options o;
    bool formatGiven = false;
    auto setFormat = [&](Format format, const std::string& option) {
        if (formatGiven)
            Usage("one of --jpeg, --tiff8 and --tiff16 only, not also " + option);
        formatGiven = true;
        o.format = format;
    };
    bool options = true;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc)
                Usage(a + " needs a value");
            return argv[++i];
        };
        if (!options || a.empty() || a[0] != '-' || a == "-") {
            o.inputs.push_back(a);
        } else if (a == "--") {
            options = false;
        } else if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            std::exit(0);
        } else if (a == "--jpeg") {
            setFormat(Format::Jpeg, a);
            o.quality = static_cast<int>(Integer(a, value(), 1, 100));
        } else if (a == "--tiff8") {
            setFormat(Format::Tiff8, a);
        } else if (a == "--tiff16") {
            setFormat(Format::Tiff16, a);
        } else if (a == "--colorspace") {
            o.colorSpace = static_cast<int>(Integer(a, value(), 0, 11));
        } else if (a == "--size") {
            const std::string v = value();
            const size_t x = v.find('x');
            if (x == std::string::npos)
                Usage("bad value for --size: '" + v + "' (WxH)");
            o.width = static_cast<int>(Integer(a, v.substr(0, x), 1, 65535));
            o.height = static_cast<int>(Integer(a, v.substr(x + 1), 1, 65535));
        } else if (a == "--exposure") {
            const std::string v = value();
            char* end = nullptr;
            o.exposure = std::strtod(v.c_str(), &end);
            if (v.empty() || *end || !std::isfinite(o.exposure) || o.exposure < -2.0 || o.exposure > 2.0)
                Usage("bad value for --exposure: '" + v + "' (-2 to 2)");
        } else if (a == "--out") {
            o.outDir = value();
            if (o.outDir.empty())
                Usage("--out needs a folder");
        } else if (a == "--require-profile") {
            o.requireProfile = true;
        } else if (a == "--cache") {
            o.cacheMiB = static_cast<unsigned>(Integer(a, value(), 16, 4095));
        } else {
            Usage("unknown option " + a);
        }
    }
    if (o.inputs.empty())
        Usage("no raw file or folder given");
    return o;
}

const char* ResultExtension(Format format)
{
    return format == Format::Jpeg ? ".jpg" : ".tif";
}

bool IsRawFileName(const std::string& name)
{
    if (name.size() < 4)
        return false;
    const char* extension = name.c_str() + name.size() - 4;
    for (const char* raw : {".kzr", ".qrl", ".xxx"})
        if (strcasecmp(extension, raw) == 0)
            return true;
    return false;
}

}  // namespace kzrconvert
