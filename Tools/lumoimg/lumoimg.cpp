// lumoimg: reads and writes the system's image files from a shell, through the same readers and writers the
// program uses. "lumoimg help" lists the commands.
#include <cstdio>
#include <cstring>
#include <exception>
#include <stdexcept>
#include <string>
#include <vector>

#include "KException.h"
#include "KStorage.h"
#include "LumoImg.h"

int JpegReadCommand(const std::vector<std::string>& args);
int JpegWriteCommand(const std::vector<std::string>& args);
int TiffWriteCommand(const std::vector<std::string>& args);
int TiffReadCommand(const std::vector<std::string>& args);
int PngReadCommand(const std::vector<std::string>& args);

namespace {

const LumoImgCommand kCommands[] = {
    {"jpeg-read", "jpeg-read IN.jpg OUT.ppm [--scale 0-3] [--props]", JpegReadCommand},
    {"jpeg-write",
     "jpeg-write IN.ppm OUT.jpg [--quality 1-100] [--props FILE.xml] [--thumbnail] [--icc FILE.icc] "
     "[--colorspace CODE] [--description TEXT]",
     JpegWriteCommand},
    {"tiff-write",
     "tiff-write IN.ppm|IN.pgm OUT.tif [--bits 8|11|16] [--props FILE.xml | --tags FILE.xml] [--thumbnail] "
     "[--cs CODE] [--icc FILE.icc]",
     TiffWriteCommand},
    {"tiff-read", "tiff-read IN.tif OUT.ppm|OUT.pgm [--scale 0-8] [--props]", TiffReadCommand},
    {"png-read", "png-read IN.png OUT.ppm [--alpha OUT.pgm]", PngReadCommand},
};

void PrintUsage(std::FILE* to)
{
    std::fprintf(to, "usage: lumoimg COMMAND ...\n");
    for (const LumoImgCommand& c : kCommands)
        std::fprintf(to, "  lumoimg %s\n", c.usage);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2 || std::strcmp(argv[1], "help") == 0 || std::strcmp(argv[1], "--help") == 0) {
        PrintUsage(argc < 2 ? stderr : stdout);
        return argc < 2 ? 2 : 0;
    }
    const LumoImgCommand* command = nullptr;
    for (const LumoImgCommand& c : kCommands)
        if (std::strcmp(argv[1], c.name) == 0)
            command = &c;
    if (!command) {
        std::fprintf(stderr, "lumoimg: unknown command '%s'\n", argv[1]);
        PrintUsage(stderr);
        return 2;
    }
    int status = 1;
    try {
        status = command->run(std::vector<std::string>(argv + 2, argv + argc));
    } catch (const LumoImgUsageError& e) {
        std::fprintf(stderr, "lumoimg %s: %s\nusage: lumoimg %s\n", command->name, e.text.c_str(), command->usage);
        status = 2;
    } catch (const KException& e) {
        std::fprintf(stderr, "lumoimg %s: %s (%s)\n", command->name, e.GetMessage(), e.GetDescription());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "lumoimg %s: %s\n", command->name, e.what());
    }
    ShutdownStorageClasses();
    return status;
}
