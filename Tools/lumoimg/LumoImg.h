#pragma once
// Shared by the subcommands of lumoimg: arguments, storage set-up, PNM files and property files.
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "KPixmap.h"
#include "KPropTree.h"
#include "KWString.h"

// A subcommand: its name, a one-line usage and its entry; the entry returns the exit status.
struct LumoImgCommand {
    const char* name;
    const char* usage;
    int (*run)(const std::vector<std::string>& args);
};

// Wrong use of a command: printed with the command's usage, exit status 2.
struct LumoImgUsageError {
    std::string text;
};

// Positional arguments and options ("--name value" or "--flag") of one command line.
class LumoImgArgs {
public:
    // valueOptions: the options that take a value; any other "--x" is a flag.
    LumoImgArgs(const std::vector<std::string>& args, const std::vector<std::string>& valueOptions,
                const std::vector<std::string>& flags);
    const std::vector<std::string>& Positional() const { return m_Positional; }
    bool Has(const std::string& option) const { return m_Options.count(option) != 0; }
    std::string Get(const std::string& option, const std::string& fallback = "") const;
    int GetInt(const std::string& option, int fallback, int low, int high) const;

private:
    std::vector<std::string> m_Positional;
    std::map<std::string, std::string> m_Options;
};

// Registers the disk storage class; POSIX paths of the command line become disk URLs.
void LumoImgStartStorage();
KWString LumoImgURL(const std::string& path);

// An image in memory with a pixmap over it (8Mono or 24RGB from a PNM file).
class LumoImgImage {
public:
    LumoImgImage(int pixelType, int32_t width, int32_t height);
    KPixmap& Pixmap() { return *m_pPixmap; }
    const KPixmap& Pixmap() const { return *m_pPixmap; }

private:
    std::vector<uint8_t> m_Pixels;
    std::unique_ptr<KPixmap> m_pPixmap;
};

// Binary PGM (P5) or PPM (P6) with 8-bit samples; throws std::runtime_error naming the file and the fault.
std::unique_ptr<LumoImgImage> LumoImgReadPnm(const std::string& path);
void LumoImgWritePnm(const std::string& path, const KPixmap& pixmap);

// The whole file; throws std::runtime_error when it cannot be read.
std::vector<uint8_t> LumoImgReadFile(const std::string& path);

// An XML property file: the first element named "ImageProps" (or else the root element) with its pairs.
// Throws std::runtime_error when it cannot be read.
std::unique_ptr<KPropTree> LumoImgReadProperties(const std::string& path);

// Prints the pairs of a tree as KEY=VALUE lines.
void LumoImgPrintProperties(const KPropTree& tree);

// The image scaled down by box averages to fit size x size (aspect kept), same pixel type.
std::unique_ptr<LumoImgImage> LumoImgThumbnail(const KPixmap& image, int32_t size);
