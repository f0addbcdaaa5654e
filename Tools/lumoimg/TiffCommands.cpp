// tiff-write, tiff-read and png-read.
#include <cstdio>
#include <memory>
#include <stdexcept>

#include "KHasProperties.h"
#include "KICCProfiles.h"
#include "KPNGLoader.h"
#include "KStorage.h"
#include "KTextFunctions.h"
#include "KTiffImageReader.h"
#include "KTiffLineWriter.h"
#include "LumoImg.h"

namespace {

const KVersionInfo kToolVersion{0, 1, 0, 0};

// The thumbnail box of a save, and the largest box whose Photoshop resource fits its 65535 bytes whatever the image's shape
// (147 x 147 pixels at 444 bytes a row).
constexpr int32_t kThumbnailBox = 160;
constexpr int32_t kSquareThumbnailBox = 147;

// The file's pixel type for the bits asked and the image's kind (grey or colour).
int FilePixelType(int bits, bool grey)
{
    switch (bits) {
    case 8: return grey ? kPixelType8Mono : kPixelType24RGB;
    case 11:
        if (grey)
            throw LumoImgUsageError{"--bits 11 (packed 11-bit RGB) needs a colour image"};
        return kPixelType30RGBL;
    case 16: return grey ? kPixelType16Mono : kPixelType48RGB;
    default: throw LumoImgUsageError{"--bits takes 8, 11 or 16"};
    }
}

// A thumbnail of the image as 24-bit RGB, small enough for the Photoshop resource.
std::unique_ptr<LumoImgImage> Thumbnail(const KPixmap& image)
{
    std::unique_ptr<LumoImgImage> thumb = LumoImgThumbnail(image, kThumbnailBox);
    const KPixmap& t = thumb->Pixmap();
    if (static_cast<int64_t>(t.GetHeight()) * t.GetRowBytes() + 40 > 65535)
        thumb = LumoImgThumbnail(image, kSquareThumbnailBox);
    if (thumb->Pixmap().GetPixelType() == kPixelType24RGB)
        return thumb;
    const KPixmap& grey = thumb->Pixmap();
    auto rgb = std::make_unique<LumoImgImage>(kPixelType24RGB, grey.GetWidth(), grey.GetHeight());
    for (int32_t y = 0; y < grey.GetHeight(); ++y)
        for (int32_t x = 0; x < grey.GetWidth(); ++x)
            for (int c = 0; c < 3; ++c)
                rgb->Pixmap().GetRow(y)[3 * x + c] = grey.GetRow(y)[x];
    return rgb;
}

// The pairs of a property file as save options.
KHasProperties ReadOptions(const std::string& path)
{
    std::unique_ptr<KPropTree> tree = LumoImgReadProperties(path);
    KHasProperties options;
    for (const KPropPair* p = tree->GetFirstPair(); p != nullptr; p = p->GetNext())
        options.SetProperty(WideToUtf8(p->GetKey()).c_str(), WideToUtf8(p->GetValue()).c_str());
    return options;
}

}  // namespace

int TiffWriteCommand(const std::vector<std::string>& argv)
{
    LumoImgArgs args(argv, {"bits", "props", "tags", "cs", "icc"}, {"thumbnail"});
    if (args.Positional().size() != 2)
        throw LumoImgUsageError{"tiff-write takes an input PNM and an output TIFF file"};
    if (args.Has("props") && args.Has("tags"))
        throw LumoImgUsageError{"--props and --tags both fill the file's tag block: give one of them"};
    const int colorSpace = args.GetInt("cs", 2, 0, 11);
    LumoImgStartStorage();
    std::unique_ptr<LumoImgImage> image = LumoImgReadPnm(args.Positional()[0]);
    const KPixmap& pixmap = image->Pixmap();
    const int fileType = FilePixelType(args.GetInt("bits", 8, 0, 64), pixmap.GetPixelType() == kPixelType8Mono);
    std::vector<uint8_t> iccFile;
    const void* profile = nullptr;
    KUInt32 profileSize = 0;
    if (args.Has("icc")) {
        iccFile = LumoImgReadFile(args.Get("icc"));
        profile = iccFile.data();
        profileSize = static_cast<KUInt32>(iccFile.size());
    } else if (const KICCProfile* builtIn = GetBuiltInICCProfile(colorSpace)) {
        profile = builtIn->data;
        profileSize = builtIn->size;
    }

    KTiffLineWriter writer(LumoImgURL(args.Positional()[1]), false);
    writer.SetDimensions(pixmap.GetWidth(), pixmap.GetHeight(), fileType);
    if (args.Has("tags"))
        writer.WriteTags(ReadOptions(args.Get("tags")));
    if (args.Has("thumbnail"))
        writer.WriteThumbnail(Thumbnail(pixmap)->Pixmap());
    if (!args.Has("tags")) {
        std::unique_ptr<KPropTree> props = args.Has("props") ? LumoImgReadProperties(args.Get("props"))
                                                             : std::make_unique<KPropTree>(nullptr, "ImageProps");
        writer.WriteProperties(*props, colorSpace, KWString("lumoimg"), kToolVersion);
    }
    writer.WriteProfile(profileSize, profile);
    for (KInt32 row = 0; row < pixmap.GetHeight(); ++row)
        writer.WriteLine(pixmap.GetRow(row), pixmap.GetPixelType());
    return 0;
}

int TiffReadCommand(const std::vector<std::string>& argv)
{
    LumoImgArgs args(argv, {"scale"}, {"props"});
    if (args.Positional().size() != 2)
        throw LumoImgUsageError{"tiff-read takes an input TIFF and an output PNM file"};
    const int scale = args.GetInt("scale", 0, 0, 8);
    LumoImgStartStorage();
    KTiffImageReader reader(LumoImgURL(args.Positional()[0]));
    reader.SetScale(scale);
    KInt32 width = 0, height = 0;
    int type = 0;
    reader.GetDimensions(&width, &height, &type);
    if (reader.IsTiled())
        throw std::runtime_error("'" + args.Positional()[0] + "' is a tiled TIFF file: tiled TIFF files are not supported");
    if (type == 0)
        throw std::runtime_error("'" + args.Positional()[0] + "' has a layout this reader does not take");
    const bool grey = type == kPixelType8Mono || type == kPixelType16Mono;
    LumoImgImage image(grey ? kPixelType8Mono : kPixelType24RGB, width, height);
    reader.ReadImage(image.Pixmap());
    if (args.Has("props")) {
        KPropTree tree(nullptr, "ImageProps");
        reader.GetProperties(tree);
        LumoImgPrintProperties(tree);
    }
    LumoImgWritePnm(args.Positional()[1], image.Pixmap());
    return 0;
}

int PngReadCommand(const std::vector<std::string>& argv)
{
    LumoImgArgs args(argv, {"alpha"}, {});
    if (args.Positional().size() != 2)
        throw LumoImgUsageError{"png-read takes an input PNG and an output PPM file"};
    LumoImgStartStorage();
    const std::string& path = args.Positional()[0];
    KIFile* file = OpenFileByURL(LumoImgURL(path), KFILE_MODE_READ);
    if (file == nullptr)
        throw std::runtime_error("cannot open '" + path + "'");
    std::unique_ptr<KPNGPixmap> png(LoadPNGPixmap(file));  // releases the file when it fails
    if (!png)
        throw std::runtime_error("'" + path + "' is not a PNG image that can be read");
    file->Release();

    const int32_t width = png->GetWidth(), height = png->GetHeight();
    LumoImgImage rgb(kPixelType24RGB, width, height);
    LumoImgImage alpha(kPixelType8Mono, width, height);
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            const uint8_t* bgra = png->GetRow(y) + 4 * x;
            KPixelClass24RGB::SetRGB(rgb.Pixmap().GetRow(y) + 3 * x, KPixelClass32BGRA::GetRGB(bgra));
            alpha.Pixmap().GetRow(y)[x] = bgra[3];
        }
    }
    LumoImgWritePnm(args.Positional()[1], rgb.Pixmap());
    if (args.Has("alpha"))
        LumoImgWritePnm(args.Get("alpha"), alpha.Pixmap());
    std::printf("%d x %d\n", width, height);
    return 0;
}
