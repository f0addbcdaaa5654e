// jpeg-read and jpeg-write.
#include <cstdio>
#include <stdexcept>

#include "KHasProperties.h"
#include "KJPEGImageReader.h"
#include "KJPEGLineWriter.h"
#include "LumoImg.h"

namespace {

const KVersionInfo kToolVersion{0, 1, 0, 0};

}  // namespace

int JpegReadCommand(const std::vector<std::string>& argv)
{
    LumoImgArgs args(argv, {"scale"}, {"props"});
    if (args.Positional().size() != 2)
        throw LumoImgUsageError{"jpeg-read takes an input JPEG and an output PNM file"};
    const int scale = args.GetInt("scale", 0, 0, 3);
    LumoImgStartStorage();
    KJPEGImageReader reader(LumoImgURL(args.Positional()[0]));
    reader.SetScale(scale);
    KInt32 width = 0, height = 0;
    int type = 0;
    reader.GetDimensions(width, height, type);
    LumoImgImage image(type, width, height);
    reader.ReadImage(image.Pixmap());
    if (args.Has("props")) {
        KPropTree tree(nullptr, "ImageProps");
        reader.GetProperties(tree);
        LumoImgPrintProperties(tree);
    }
    LumoImgWritePnm(args.Positional()[1], image.Pixmap());
    return 0;
}

int JpegWriteCommand(const std::vector<std::string>& argv)
{
    LumoImgArgs args(argv, {"quality", "props", "icc", "colorspace", "description"}, {"thumbnail"});
    if (args.Positional().size() != 2)
        throw LumoImgUsageError{"jpeg-write takes an input PNM and an output JPEG file"};
    const int quality = args.GetInt("quality", 95, 1, 100);
    const int colorSpace = args.GetInt("colorspace", 2, 0, 255);
    LumoImgStartStorage();
    std::unique_ptr<LumoImgImage> image = LumoImgReadPnm(args.Positional()[0]);
    std::unique_ptr<KPropTree> props = args.Has("props") ? LumoImgReadProperties(args.Get("props"))
                                                         : std::make_unique<KPropTree>(nullptr, "ImageProps");
    std::vector<uint8_t> profile;
    if (args.Has("icc"))
        profile = LumoImgReadFile(args.Get("icc"));
    const KPixmap& pixmap = image->Pixmap();

    KJPEGLineWriter writer(LumoImgURL(args.Positional()[1]), quality, false);
    writer.SetDimensions(pixmap.GetWidth(), pixmap.GetHeight(), pixmap.GetPixelType());
    KHasProperties tags;
    if (args.Has("description"))
        tags.SetProperty("Description", args.Get("description").c_str());
    writer.WriteTags(tags);
    if (args.Has("thumbnail"))
        writer.WriteThumbnail(LumoImgThumbnail(pixmap, kJPEGThumbnailMaxSize)->Pixmap());
    writer.WriteProperties(*props, colorSpace, KWString("lumoimg"), kToolVersion);
    writer.WriteProfile(static_cast<KUInt32>(profile.size()), profile.data());
    for (KInt32 row = 0; row < pixmap.GetHeight(); ++row)
        writer.WriteLine(pixmap.GetRow(row), pixmap.GetPixelType());
    return 0;
}
