#pragma once
// The command line of kzrconvert.
#include <string>
#include <vector>

#include "KCacheBudget.h"

namespace kzrconvert {

enum class Format { Jpeg, Tiff8, Tiff16 };

struct Options {
    Format format = Format::Jpeg;
    int quality = 95;
    int colorSpace = 2;
    int width = 0;  // 0: the image's own size
    int height = 0;
    double exposure = 0.0;
    bool requireProfile = false;
    std::string outDir;  // empty: beside each raw file
    unsigned cacheMiB = kDefaultCacheBudgetMiB;
    std::vector<std::string> inputs;
};

// Parses the arguments; prints the usage and exits with status 2 on a mistake (0 for --help).
Options ParseArguments(int argc, char** argv);

// The extension of the results of a format, with its dot.
const char* ResultExtension(Format format);

// Whether the file name ends in an extension of the raw loader (.kzr, .qrl, .xxx, in any case).
bool IsRawFileName(const std::string& name);

}  // namespace kzrconvert
