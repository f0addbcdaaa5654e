// ipmrequest: hands one image-processing request to a manager, drives it as the user interface does (idle
// calls until the record's state leaves 1) and shows the answer: properties and illuminants as KEY=VALUE
// lines, settings as numbers, previews and processed images as PPM files.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "KCache.h"
#include "KException.h"
#include "IPManager2.h"
#include "KIpMgrReq.h"
#include "KPMImage2.h"
#include "KPerfTimer.h"
#include "KPixelTypes.h"
#include "KPixmap.h"
#include "KPropTree.h"
#include "KSCDiskWin.h"
#include "KStorage.h"
#include "KTextFunctions.h"

namespace {

const char* kUsage =
    "usage: ipmrequest --kind N --in FILE [options]\n"
    "  --kind 1|2|3|5|6|7|8     properties, preview, processed image, automatic settings, modify, grey balance,\n"
    "                           illuminants\n"
    "  --out FILE.ppm           where a preview or processed image goes (8 bits, or 16 bits for --format 3)\n"
    "  --size WxH               output area (default 224x176)\n"
    "  --crop L,T,R,B           part of the fitted image (default: all of the output area)\n"
    "  --format 1|2|3           display BGRA, 24-bit RGB, 48-bit RGB (default 1 for previews, else 2)\n"
    "  --adjust A0,...,A5       adjustments (default 0)\n"
    "  --color R,G,B            colour adjustment factors (default 0)\n"
    "  --neutral R,G,B          override neutral\n"
    "  --colorspace N           output colour space (default 2)\n"
    "  --point X,Y              grey-balance sample point\n"
    "  --camfile FILE           calibration file in place of the file's own\n"
    "  --set KEY=VALUE          a property to write back (kind 6; may be repeated)\n"
    "  --repeat N               run the request N times in the same process (default 1)\n"
    "  --labels                 list the cache's labels at the end\n";

[[noreturn]] void Usage(const std::string& problem)
{
    std::fprintf(stderr, "ipmrequest: %s\n%s", problem.c_str(), kUsage);
    std::exit(2);
}

std::vector<double> Numbers(const std::string& option, const std::string& text, char separator, size_t count)
{
    std::vector<double> values;
    const char* p = text.c_str();
    while (true) {
        char* end = nullptr;
        errno = 0;
        const double v = std::strtod(p, &end);
        if (end == p || errno)
            Usage("bad value for " + option + ": " + text);
        values.push_back(v);
        if (*end == 0)
            break;
        if (*end != separator)
            Usage("bad value for " + option + ": " + text);
        p = end + 1;
    }
    if (values.size() != count)
        Usage(option + " takes " + std::to_string(count) + " values");
    return values;
}

// A value of text as an int (its fraction dropped); the usage message when it lies beyond the int range.
int ToInt(const std::string& option, const std::string& text, double v)
{
    if (!(v > INT32_MIN - 1.0 && v < INT32_MAX + 1.0))
        Usage("bad value for " + option + ": " + text);
    return static_cast<int>(v);
}

int Integer(const std::string& option, const std::string& text)
{
    const double v = Numbers(option, text, ',', 1)[0];
    if (ToInt(option, text, v) != v)
        Usage("bad value for " + option + ": " + text);
    return static_cast<int>(v);
}

KWString URL(const std::string& path)
{
    KWString url;
    if (!PosixFileToURL(path, url))
        throw std::runtime_error("cannot name '" + path + "' as a storage URL");
    return url;
}

// Binary PPM of a result: 8-bit from display or 24-bit RGB pixels, 16-bit from 48-bit RGB.
void WritePpm(const std::string& path, const KPixmap& pixmap)
{
    const int type = pixmap.GetPixelType();
    const bool wide = type == kPixelType48RGB;
    if (type != kPixelType32BGRA && type != kPixelType24RGB && !wide)
        throw std::runtime_error("no PPM for pixel type " + std::to_string(type));
    const std::string temporary = path + ".part";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << "P6\n" << pixmap.GetWidth() << " " << pixmap.GetHeight() << "\n" << (wide ? 65535 : 255) << "\n";
        std::vector<uint8_t> row;
        for (int32_t y = 0; y < pixmap.GetHeight(); ++y) {
            const uint8_t* p = pixmap.GetRow(y);
            row.clear();
            for (int32_t x = 0; x < pixmap.GetWidth(); ++x) {
                if (type == kPixelType32BGRA) {
                    row.insert(row.end(), {p[4 * x + 2], p[4 * x + 1], p[4 * x]});
                } else if (type == kPixelType24RGB) {
                    row.insert(row.end(), p + 3 * x, p + 3 * x + 3);
                } else {
                    for (int c = 0; c < 3; ++c) {
                        uint16_t v;
                        std::memcpy(&v, p + 6 * x + 2 * c, 2);
                        row.push_back(static_cast<uint8_t>(v >> 8));
                        row.push_back(static_cast<uint8_t>(v));
                    }
                }
            }
            out.write(reinterpret_cast<const char*>(row.data()), static_cast<std::streamsize>(row.size()));
        }
        out.flush();
        if (!out)
            throw std::runtime_error("cannot write '" + temporary + "'");
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        std::remove(temporary.c_str());
        throw std::runtime_error("cannot write '" + path + "'");
    }
}

void PrintPairs(const KPropTree& tree)
{
    for (const KPropPair* p = tree.GetFirstPair(); p; p = p->GetNext())
        std::printf("%s=%s\n", WideToUtf8(p->GetKey()).c_str(), WideToUtf8(p->GetValue()).c_str());
}

struct Options {
    KUInt32 kind = 0;
    std::string in, out, camfile;
    int width = 224, height = 176;
    bool cropGiven = false;
    KRect crop;
    int format = -1;
    std::vector<double> adjust = std::vector<double>(6, 0.0), color = std::vector<double>(3, 0.0),
                        neutral = std::vector<double>(3, -1.0);
    int colorSpace = 2;
    KPoint point;
    std::vector<std::pair<std::string, std::string>> set;
    int repeat = 1;
    bool labels = false;
};

Options Parse(int argc, char** argv)
{
    Options o;
    bool kindGiven = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--labels") {
            o.labels = true;
            continue;
        }
        if (a == "--help")
            Usage("help");
        if (i + 1 >= argc)
            Usage("option " + a + " needs a value");
        const std::string v = argv[++i];
        if (a == "--kind") {
            o.kind = static_cast<KUInt32>(Integer(a, v));
            kindGiven = true;
        } else if (a == "--in") {
            o.in = v;
        } else if (a == "--out") {
            o.out = v;
        } else if (a == "--camfile") {
            o.camfile = v;
        } else if (a == "--size") {
            const std::vector<double> s = Numbers(a, v, 'x', 2);
            o.width = ToInt(a, v, s[0]);
            o.height = ToInt(a, v, s[1]);
        } else if (a == "--crop") {
            const std::vector<double> c = Numbers(a, v, ',', 4);
            o.crop = KRect(ToInt(a, v, c[0]), ToInt(a, v, c[1]), ToInt(a, v, c[2]), ToInt(a, v, c[3]));
            o.cropGiven = true;
        } else if (a == "--format") {
            o.format = Integer(a, v);
        } else if (a == "--adjust") {
            o.adjust = Numbers(a, v, ',', 6);
        } else if (a == "--color") {
            o.color = Numbers(a, v, ',', 3);
        } else if (a == "--neutral") {
            o.neutral = Numbers(a, v, ',', 3);
        } else if (a == "--colorspace") {
            o.colorSpace = Integer(a, v);
        } else if (a == "--point") {
            const std::vector<double> p = Numbers(a, v, ',', 2);
            o.point = KPoint{ToInt(a, v, p[0]), ToInt(a, v, p[1])};
        } else if (a == "--set") {
            const size_t eq = v.find('=');
            if (eq == std::string::npos || eq == 0)
                Usage("--set takes KEY=VALUE");
            o.set.emplace_back(v.substr(0, eq), v.substr(eq + 1));
        } else if (a == "--repeat") {
            o.repeat = Integer(a, v);
            if (o.repeat < 1)
                Usage("--repeat takes a number of at least 1");
        } else {
            Usage("unknown option " + a);
        }
    }
    if (!kindGiven || o.in.empty())
        Usage("--kind and --in are needed");
    if ((o.kind == kIpReqPreview || o.kind == kIpReqProcessed) && o.out.empty())
        Usage("--out is needed for an image");
    if (o.format < 0)
        o.format = o.kind == kIpReqPreview ? kDisplay : kOutput24RGB;
    if (!o.cropGiven)
        o.crop = KRect(0, 0, o.width, o.height);
    return o;
}

void Fill(KIpMgrReq& request, const Options& o)
{
    request.Reset();
    request.m_SoftwareName = KWString(u"ipmrequest");
    request.m_FileName = URL(o.in);
    request.m_Kind = o.kind;
    request.m_OutputWidth = o.width;
    request.m_OutputHeight = o.height;
    request.m_CropRect = o.crop;
    request.m_OutputFormat = static_cast<KUInt32>(o.format);
    for (int i = 0; i < 6; ++i)
        request.m_Adjustments[i] = o.adjust[i];
    for (int i = 0; i < 3; ++i) {
        request.m_ColorAdjust[i] = o.color[i];
        request.m_OverrideRGBNeutral[i] = o.neutral[i];
    }
    request.m_OutputColorSpace = static_cast<KUInt32>(o.colorSpace);
    request.m_SamplePoint = o.point;
    if (!o.camfile.empty())
        request.m_ExternalCamfile = URL(o.camfile);
    for (auto& [key, value] : o.set)
        request.m_pImageProps->AddPair(key.c_str(), value.c_str());
}

// The answer of a finished request; the exit status.
int Answer(const KIpMgrReq& request, const Options& o)
{
    if (request.m_Async.GetState() != kDone) {
        std::fprintf(stderr, "ipmrequest: state %u, error %u: %s\n", request.m_Async.GetState(),
                     request.m_Async.GetError(), WideToUtf8(request.m_Async.m_Message).c_str());
        return 1;
    }
    switch (request.m_Kind) {
    case kIpReqProperties:
    case kIpReqIlluminants:
        PrintPairs(*request.m_pImageProps);
        break;
    case kIpReqPreview:
    case kIpReqProcessed:
        if (!request.m_pResultImage || !request.m_pResultImage->GetPixmap())
            throw std::runtime_error("the request answered without an image");
        WritePpm(o.out, *request.m_pResultImage->GetPixmap());
        std::printf("crop %d,%d,%d,%d of %dx%d\n", request.m_CropRect.left, request.m_CropRect.top,
                    request.m_CropRect.right, request.m_CropRect.bottom, request.m_OutputWidth,
                    request.m_OutputHeight);
        break;
    case kIpReqAutoSettings:
        std::printf("adjust %g,%g,%g,%g,%g\ncolor %g,%g,%g\n", request.m_Adjustments[0], request.m_Adjustments[1],
                    request.m_Adjustments[2], request.m_Adjustments[3], request.m_Adjustments[4],
                    request.m_ColorAdjust[0], request.m_ColorAdjust[1], request.m_ColorAdjust[2]);
        break;
    case kIpReqGreyBalance:
        std::printf("color %g,%g,%g\n", request.m_ColorAdjust[0], request.m_ColorAdjust[1], request.m_ColorAdjust[2]);
        break;
    default:
        break;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    const Options options = Parse(argc, argv);
    int status = 1;
    try {
        RegisterDiskStorageClass();
        std::unique_ptr<KIPManager> manager(CreateIPManager2());
        KIpMgrReq request;
        for (int run = 0; run < options.repeat; ++run) {
            Fill(request, options);
            KPerfTimer stopwatch;
            stopwatch.Start();
            manager->Request(&request);
            while (request.m_Async.IsBusy())
                manager->Idle();
            if (options.repeat > 1)
                std::fprintf(stderr, "run %d: %.3f s\n", run + 1, stopwatch.GetElapsedSeconds());
            status = Answer(request, options);
            if (status != 0)
                break;
        }
        if (options.labels)
            for (const KWString& label : GetGlobalCache()->List())
                std::printf("label %s\n", WideToUtf8(label).c_str());
    } catch (const KException& e) {
        std::fprintf(stderr, "ipmrequest: %s (%s)\n", e.GetMessage(), e.GetDescription());
        status = 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "ipmrequest: %s\n", e.what());
        status = 1;
    }
    ShutdownStorageClasses();
    return status;
}
