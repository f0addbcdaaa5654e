// kzrprobe: asks the data retriever about an image file (raw container, TIFF or JPEG) as the image-processing
// manager does, and prints what it answers: the images with their size, pixel type and kind, and the
// properties. It can also write properties back into the file and load an image or the calibration data.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "KDataObject.h"
#include "KDataRetriever.h"
#include "KPixmap.h"
#include "KPropTree.h"
#include "KSCDiskWin.h"
#include "KStorage.h"
#include "KTextFunctions.h"

namespace {

const char* kUsage =
    "usage: kzrprobe [--set KEY=VALUE]... [--load INDEX] [--calibration] FILE\n"
    "  prints the images of FILE (size, pixel type, kind) and its properties\n"
    "  --set KEY=VALUE   writes the pair into the file first (ROTATION, MARKBITS, WB_DESC of raw files)\n"
    "  --load INDEX      loads image INDEX and prints a checksum of its pixels\n"
    "  --calibration     loads the calibration data block and prints its size and checksum\n";

struct Options {
    std::vector<std::pair<std::string, std::string>> changes;
    long load = -1;
    bool calibration = false;
    std::string file;
};

[[noreturn]] void Usage(const std::string& problem)
{
    std::fprintf(stderr, "kzrprobe: %s\n%s", problem.c_str(), kUsage);
    std::exit(2);
}

Options ParseArguments(int argc, char** argv)
{
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--help" || argument == "-h") {
            std::fputs(kUsage, stdout);
            std::exit(0);
        } else if (argument == "--set" && i + 1 < argc) {
            const std::string pair = argv[++i];
            const size_t equals = pair.find('=');
            if (equals == std::string::npos || equals == 0)
                Usage("--set takes KEY=VALUE, not '" + pair + "'");
            options.changes.emplace_back(pair.substr(0, equals), pair.substr(equals + 1));
        } else if (argument == "--load" && i + 1 < argc) {
            const char* text = argv[++i];
            char* end = nullptr;
            errno = 0;
            options.load = std::strtol(text, &end, 10);
            if (!*text || *end || errno || options.load < 0 || options.load > 0xFFFF)
                Usage(std::string("--load takes an image index, not '") + text + "'");
        } else if (argument == "--calibration") {
            options.calibration = true;
        } else if (argument.rfind("--", 0) == 0) {
            Usage("unknown option " + argument);
        } else if (options.file.empty()) {
            options.file = argument;
        } else {
            Usage("one file at a time");
        }
    }
    if (options.file.empty())
        Usage("no file given");
    return options;
}

// Runs a request as the manager does: Request, then Idle until it has ended. False (with a message on
// stderr) when it failed.
bool Run(KDataRetriever& retriever, KDataRetrieverRequest& request)
{
    retriever.Request(request);
    while (request.m_Async.IsBusy())
        retriever.Idle();
    if (request.m_Async.GetState() == kDone)
        return true;
    std::fprintf(stderr, "kzrprobe: %s (error %u)\n", WideToUtf8(request.m_Async.m_Message).c_str(),
                 request.m_Async.GetError());
    return false;
}

void Prepare(KDataRetrieverRequest& request, const KWString& url, KUInt32 kind, KUInt32 subKind, KUInt32 index = 0,
             KPropTree* tree = nullptr)
{
    request.m_FileName = url;
    request.m_Kind = kind;
    request.m_SubKind = subKind;
    request.m_Index = index;
    request.m_pTree = tree;
}

// FNV-1a over bytes.
unsigned long long Checksum(const void* bytes, size_t count, unsigned long long hash = 1469598103934665603ull)
{
    const auto* p = static_cast<const unsigned char*>(bytes);
    for (size_t i = 0; i < count; ++i)
        hash = (hash ^ p[i]) * 1099511628211ull;
    return hash;
}

int Probe(const Options& options)
{
    KWString url;
    if (!PosixFileToURL(options.file, url)) {
        std::fprintf(stderr, "kzrprobe: cannot name '%s' as a storage URL\n", options.file.c_str());
        return 1;
    }
    KDataRetriever retriever;

    if (!options.changes.empty()) {
        for (const auto& change : options.changes) {
            if (change.first != "ROTATION" && change.first != "MARKBITS" && change.first != "WB_DESC") {
                std::fprintf(stderr, "kzrprobe: %s cannot be written into a file (only ROTATION, MARKBITS and "
                                     "WB_DESC can); nothing changed\n",
                             change.first.c_str());
                return 1;
            }
        }
        KPropTree changes(nullptr, "ImageProps");
        for (const auto& [key, value] : options.changes)
            changes.AddPair(Utf8ToWide(key), Utf8ToWide(value));
        KDataRetrieverRequest modify;
        Prepare(modify, url, kRetrieveModify, 0, 0, &changes);
        if (!Run(retriever, modify))
            return 1;
        std::printf("modified: %zu pair(s) written\n", options.changes.size());
    }

    KDataRetrieverRequest count;
    Prepare(count, url, kRetrieveInfo, kInfoImageCount);
    if (!Run(retriever, count))
        return 1;
    std::printf("images: %u\n", count.m_Value);
    for (KUInt32 index = 0; index < count.m_Value; ++index) {
        KDataRetrieverRequest image;
        Prepare(image, url, kRetrieveInfo, kInfoImage, index);
        if (!Run(retriever, image))
            return 1;
        std::printf("image %u: %d x %d, pixel type %d, kind %d\n", index, image.m_Width, image.m_Height,
                    image.m_PixelType, image.m_ImageKind);
    }

    KPropTree props(nullptr, "ImageProps");
    KDataRetrieverRequest properties;
    Prepare(properties, url, kRetrieveInfo, kInfoProperties, 0, &props);
    if (!Run(retriever, properties))
        return 1;
    std::printf("properties:\n");
    for (const KPropPair* pair = props.GetFirstPair(); pair; pair = pair->GetNext())
        std::printf("  %s=%s\n", WideToUtf8(pair->GetKey()).c_str(), WideToUtf8(pair->GetValue()).c_str());

    if (options.load >= 0) {
        KDataRetrieverRequest frame;
        Prepare(frame, url, kRetrieveData, kDataFrame, static_cast<KUInt32>(options.load));
        if (!Run(retriever, frame))
            return 1;
        const KPixmap& pixmap = *frame.m_pData->GetImagePixmapPtr();
        const size_t rowBytes = static_cast<size_t>(pixmap.GetWidth()) * size_t(pixmap.GetBytesPerPixel());
        unsigned long long hash = Checksum(nullptr, 0);
        for (int32_t y = 0; y < pixmap.GetHeight(); ++y)
            hash = Checksum(pixmap.GetRow(y), rowBytes, hash);
        std::printf("loaded image %ld: %d x %d, pixel type %d, checksum %016llX\n", options.load, pixmap.GetWidth(),
                    pixmap.GetHeight(), pixmap.GetPixelType(), hash);
        frame.m_pData->Release();
    }

    if (options.calibration) {
        KDataRetrieverRequest calibration;
        Prepare(calibration, url, kRetrieveData, kDataCalibration);
        if (!Run(retriever, calibration))
            return 1;
        const KDataObject& data = *calibration.m_pData;
        std::printf("calibration: %u bytes, checksum %016llX\n", data.GetCamfileSize(),
                    Checksum(data.GetCamfileData(), data.GetCamfileSize()));
        calibration.m_pData->Release();
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    const Options options = ParseArguments(argc, argv);
    RegisterDiskStorageClass();
    const int status = Probe(options);
    ShutdownStorageClasses();
    return status;
}
