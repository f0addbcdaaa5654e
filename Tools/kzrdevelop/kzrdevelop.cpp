// kzrdevelop: develops a raw container file through the processing engine, one request of every stage
// (stage 1, stage 2, stage 3, the tone curve, stage 4) on the engine's worker thread, and writes the result as
// a TIFF file of 8 or 16 bits a sample with the output colour space's profile.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "KCamdata.h"
#include "KCamdataGetters.h"
#include "KDataMatrix.h"
#include "KException.h"
#include "KICCProfiles.h"
#include "KIPEngine2.h"
#include "KImage.h"
#include "KPixmap.h"
#include "KPropTree.h"
#include "KQrlbFormat.h"
#include "KQrlbImageReader.h"
#include "KSCDiskWin.h"
#include "KStorageURL.h"
#include "KTextFunctions.h"
#include "KTiffLineWriter.h"
#include "KzrCommandLine.h"
#include "KzrImages.h"

namespace {

using kzrsynth::DecodeImage;
using kzrsynth::FirstImageOfType;
using ImageHolder = kzrsynth::OwnedImage;

using kzrsynth::FloatColumn;
using kzrsynth::IntMatrix;

const char* kUsage =
    "usage: kzrdevelop --in FILE.kzr --out OUT.tif [options]\n"
    "  --bits 8|16        output samples (default 16)\n"
    "  --cs N             output colour space 0-11 (default 2, sRGB)\n"
    "  --size WxH         fit the picture into W x H (default: its own size)\n"
    "  --rotation DEG     clockwise quarter turns (default: the file's rotation)\n"
    "  --auto             apply the automatic adjustments that stage 2 measures\n"
    "  --quiet            no report on standard output\n";

void Usage(const std::string& problem)
{
    if (!problem.empty())
        std::fprintf(stderr, "kzrdevelop: %s\n", problem.c_str());
    std::fprintf(stderr, "%s", kUsage);
}

struct Options {
    std::string in, out;
    int bits = 16;
    int colorSpace = 2;
    int boxWidth = 0, boxHeight = 0;
    bool haveRotation = false;
    long rotation = 0;
    bool automatic = false;
    bool quiet = false;
};

// An image of the program's own, released when it goes.



// Runs one request on the engine's worker, polling as an owner does; throws with the engine's message when
// the stage does not finish.
void Run(KIPEngine2& engine, KIPEngineRequest& request, const char* name, const Options& o)
{
    const auto start = std::chrono::steady_clock::now();
    engine.Request(request);
    while (request.m_Async.IsBusy())
        engine.Idle();
    if (request.m_Async.GetState() != kDone)
        throw std::runtime_error(std::string(name) + " failed (error " + std::to_string(request.m_Async.GetError()) +
                                 "): " + WideToUtf8(request.m_Async.m_Message));
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    if (!o.quiet)
        std::printf("%-10s done in %.1f ms\n", name, ms);
    request.FreeParams();
}



int Develop(const Options& o)
{
    KWString inUrl, outUrl;
    if (!PosixFileToURL(o.in, inUrl))
        throw std::runtime_error("cannot name '" + o.in + "' as a storage URL");
    if (!PosixFileToURL(o.out, outUrl))
        throw std::runtime_error("cannot name '" + o.out + "' as a storage URL");
    KQrlbImageReader reader(inUrl);

    // Calibration data: the file's first calibration section.
    if (reader.GetNumCamFiles() < 1)
        throw std::runtime_error(o.in + " holds no calibration section");
    KUInt32 camSize = 0, camType = 0;
    reader.GetCamFileInfo(0, camSize, camType);
    if (camSize == 0)
        throw std::runtime_error(o.in + " holds an empty calibration section (kzrgen --calibration default writes one)");
    std::vector<KUInt8> camBytes(camSize);
    if (reader.GetCamFile(0, camBytes.data(), camSize, nullptr, nullptr) != camSize)
        throw std::runtime_error(o.in + ": calibration section cut short");
    KCamdata camdata(camBytes.data(), camBytes.size());

    // Capture settings.
    KPropTree props(nullptr, "properties");
    reader.GetProperties(&props);
    const int iso = props.GetInt(u"ISO", 100);
    const int exposure = props.GetInt(u"EXPTIME", 100);
    KWString whiteBalance = props.GetString(u"WB_DESC", KWString());
    if (const char* header = reader.GetWhiteBalance(); header && *header)
        whiteBalance = KWString(header);
    const long rotation = o.haveRotation ? o.rotation : reader.GetRotation();

    // Stage 1 (or the file's dark-subtracted frame in its place).
    const int rawIndex = FirstImageOfType(reader, KQrlb::kImageRaw), darkIndex = FirstImageOfType(reader, KQrlb::kImageDark);
    const int subtractedIndex = FirstImageOfType(reader, KQrlb::kImageDarkSubtracted);
    KIPEngine2 engine;
    std::unique_ptr<ImageHolder> stage1;
    if (rawIndex >= 0 && darkIndex >= 0) {
        const std::unique_ptr<ImageHolder> raw = DecodeImage(reader, rawIndex), dark = DecodeImage(reader, darkIndex);
        stage1 = std::make_unique<ImageHolder>(raw->Pixmap()->GetWidth(), raw->Pixmap()->GetHeight(),
                                               kPixelType48SRGB);
        KIPEngineRequest request;
        request.m_Kind = kEngineStage1;
        request.AddPixmap(u"RAWIMAGE", raw->Pixmap());
        request.AddPixmap(u"DARKIMAGE", dark->Pixmap());
        request.AddCamdata(u"CAMBDATA", &camdata);
        request.AddPixmap(u"OUTIMAGE", stage1->Pixmap());
        Run(engine, request, "stage 1", o);
    } else if (subtractedIndex >= 0) {
        stage1 = DecodeImage(reader, subtractedIndex);
        if (!o.quiet)
            std::printf("stage 1    the file's dark-subtracted frame\n");
    } else {
        throw std::runtime_error(o.in + " holds neither a raw and a dark frame nor a dark-subtracted frame");
    }
    KPixmap* image = stage1->Pixmap();
    const KInt32 width = image->GetWidth(), height = image->GetHeight();

    // Stage 2, in place, with its scratch rows (also stage 3's scratch).
    const KInt64 reduced = KInt64{(height + 3) / 4} * ((width + 3) / 4);
    const auto scratchRows = static_cast<KInt32>(std::max<KInt64>(5, (reduced + width - 1) / width + 2));
    ImageHolder scratch(width, scratchRows, kPixelType48SRGB);
    std::vector<double> automatic(8, 0.0);
    {
        KIPEngineRequest request;
        request.m_Kind = kEngineStage2;
        request.AddPixmap(u"STAGE1IMAGE", image);
        request.AddCamdata(u"CAMBDATA", &camdata);
        request.AddText(u"WB_DESC", whiteBalance.c_str());
        request.AddPixmap(u"TEMPDATA", scratch.Pixmap());
        request.AddMatrix(u"ISO", FloatColumn({double(iso)}));
        request.AddMatrix(u"EXPTIME", FloatColumn({double(exposure)}));
        request.AddMatrix(u"AUTOADJUSTOUT", new KDataMatrixTemplate<FloatClass>(8, 1, automatic.data()));
        request.AddMatrix(u"OVERRIDERGBNEUTRAL", FloatColumn({0, 0, 0}));
        request.m_Resume[0] = kStage1Mark;
        Run(engine, request, "stage 2", o);
    }
    if (!o.quiet)
        std::printf("automatic  exposure %.1f  tones %.1f %.1f %.1f  colour %.1f  balance %.3f %.3f %.3f\n",
                    automatic[0], automatic[1], automatic[2], automatic[3], automatic[4], automatic[5], automatic[6],
                    automatic[7]);

    // Stage 3: the picture (the calibration's active area) at the fitted size, turned, uncropped.
    // In 64 bits: the file's calibration may place its areas anywhere in the 32-bit range.
    const KRect keep = GetCamdataRect("KeepImageArea", camdata), active = GetCamdataRect("ActiveImageArea", camdata);
    const KInt64 left = KInt64{active.left} - keep.left, top = KInt64{active.top} - keep.top;
    const KInt64 right = KInt64{active.right} - keep.left, bottom = KInt64{active.bottom} - keep.top;
    if (left < 0 || top < 0 || right > width || bottom > height || right - left < 2 || bottom - top < 2)
        throw std::runtime_error(o.in + ": the calibration's active area does not lie in the frame");
    const auto pictureWidth = static_cast<KInt32>(right - left), pictureHeight = static_cast<KInt32>(bottom - top);
    const bool quarter = ((rotation % 360) + 360) % 180 == 90;
    KInt32 outWidth = quarter ? pictureHeight : pictureWidth, outHeight = quarter ? pictureWidth : pictureHeight;
    if (o.boxWidth > 0) {
        const double scale = std::min(double(o.boxWidth) / outWidth, double(o.boxHeight) / outHeight);
        outWidth = std::max<KInt32>(1, KInt32(std::lround(outWidth * scale)));
        outHeight = std::max<KInt32>(1, KInt32(std::lround(outHeight * scale)));
    }
    ImageHolder stage3(outWidth, outHeight, kPixelType48SRGB), stage3L(outWidth, outHeight, kPixelType16SMono);
    {
        KIPEngineRequest request;
        request.m_Kind = kEngineStage3;
        request.AddPixmap(u"STAGE2IMAGE", image);
        request.AddMatrix(u"OUTSIZE", IntMatrix({outWidth, outHeight}, 2, 1));
        request.AddMatrix(u"CROPRECT", IntMatrix({0, 0, outWidth, outHeight}, 2, 2));
        request.AddMatrix(u"ROTATION", IntMatrix({KInt32(rotation)}, 1, 1));
        request.AddMatrix(u"EXPECTEDIMAGESIZE", IntMatrix({pictureWidth, pictureHeight}, 2, 1));
        request.AddCamdata(u"CAMBDATA", &camdata);
        request.AddPixmap(u"TEMPDATA", scratch.Pixmap());
        request.AddPixmap(u"OUTIMAGE", stage3.Pixmap());
        request.AddPixmap(u"OUTIMAGEL", stage3L.Pixmap());
        Run(engine, request, "stage 3", o);
    }

    // The tone curve, then stage 4.
    const std::vector<double> tone = o.automatic ? std::vector<double>{automatic[0], automatic[1], automatic[2],
                                                                       automatic[3]}
                                                 : std::vector<double>{0, 0, 0, 0};
    const std::vector<double> colour =
        o.automatic ? std::vector<double>{automatic[5], automatic[6], automatic[7]} : std::vector<double>{1, 1, 1};
    std::vector<KInt16> toneTable(size_t{65536} * 3);
    {
        KIPEngineRequest request;
        request.m_Kind = kEngineToneLUT;
        request.AddMatrix(u"OUTLUT", new KDataMatrixTemplate<Int16Class>(65536, 3, toneTable.data()));
        request.AddMatrix(u"ADJUSTMENTS", FloatColumn(tone));
        request.AddMatrix(u"COLORADJUST", FloatColumn(colour));
        Run(engine, request, "tone curve", o);
    }
    const int outType = o.bits == 16 ? kPixelType48RGB : kPixelType24RGB;
    ImageHolder output(outWidth, outHeight, outType);
    {
        KIPEngineRequest request;
        request.m_Kind = kEngineStage4;
        request.AddPixmap(u"STAGE3IMAGE", stage3.Pixmap());
        request.AddPixmap(u"STAGE3IMAGEL", stage3L.Pixmap());
        request.AddMatrix(u"TONELUT", new KDataMatrixTemplate<Int16Class>(65536, 3, toneTable.data()));
        request.AddMatrix(u"ADJUSTMENTS", FloatColumn({0.0, o.automatic ? automatic[4] : 0.0}));
        request.AddMatrix(u"OUTCOLORSPACE", IntMatrix({o.colorSpace}, 1, 1));
        request.AddPixmap(u"OUTIMAGE", output.Pixmap());
        Run(engine, request, "stage 4", o);
    }

    KTiffLineWriter writer(outUrl, false);
    writer.SetDimensions(outWidth, outHeight, outType);
    writer.WriteProperties(props, o.colorSpace, KWString(u"kzrdevelop"), KVersionInfo{});
    if (const KICCProfile* profile = GetBuiltInICCProfile(o.colorSpace))
        writer.WriteProfile(profile->size, profile->data);
    for (KInt32 y = 0; y < outHeight; ++y)
        writer.WriteLine(output.Pixmap()->GetRow(y), outType);
    if (!o.quiet)
        std::printf("%s: %d x %d frame, picture %d x %d, rotation %ld -> %s: %d x %d, %d bits, colour space %d\n",
                    o.in.c_str(), width, height, pictureWidth, pictureHeight, rotation, o.out.c_str(), outWidth,
                    outHeight, o.bits, o.colorSpace);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    Options o;
    kzrsynth::CommandLine line(argc, argv, Usage);
    std::string a;
    while (line.Next(a)) {
        if (a == "--in") {
            o.in = line.Value(a);
        } else if (a == "--out") {
            o.out = line.Value(a);
        } else if (a == "--bits") {
            o.bits = line.OneOf(a, {8, 16});
        } else if (a == "--cs") {
            o.colorSpace = static_cast<int>(line.Number(a, 0, 11));
        } else if (a == "--size") {
            const std::string v = line.Value(a);
            const size_t x = v.find('x');
            if (x == std::string::npos)
                line.Fail("bad value for --size: " + v);
            o.boxWidth = static_cast<int>(line.Number(a, v.substr(0, x), 1, 65535));
            o.boxHeight = static_cast<int>(line.Number(a, v.substr(x + 1), 1, 65535));
        } else if (a == "--rotation") {
            o.rotation = line.Number(a, -0x7FFFFFFFL, 0x7FFFFFFFL);
            o.haveRotation = true;
        } else if (a == "--auto") {
            o.automatic = true;
        } else if (a == "--quiet") {
            o.quiet = true;
        } else {
            std::string operand;
            line.Other(a, operand, "operand");
            line.Fail("unexpected argument " + a);
        }
    }
    if (o.in.empty() || o.out.empty())
        line.Fail("--in and --out are needed");

    RegisterDiskStorageClass();
    int status = 0;
    try {
        status = Develop(o);
    } catch (const KException& e) {
        std::fprintf(stderr, "kzrdevelop: %s (%s)\n", e.GetMessage(), e.GetDescription());
        status = 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "kzrdevelop: %s\n", e.what());
        status = 1;
    }
    ShutdownStorageClasses();
    return status;
}
