// Builds the five RGB display profiles that saved images carry and writes them as a C++ source file of byte
// arrays (the build embeds it in lib_FileIO), or as .icc files for a look with other tools.
//
//   iccgen SOURCE.cpp        the source file of the profile table
//   iccgen --icc FOLDER      one .icc file a profile
//
// Each profile is an ICC version 2.1 display profile ("mntr", RGB data, XYZ connection space): the primaries
// come from the colour space's XYZ-to-RGB matrix at its own white point (columns of the inverse, as
// chromaticities to four decimals), the white point and the tone curves are those of the colour space; the
// colorants are adapted to D50 as the connection space requires. The output is the same on every run.
#include <lcms2.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "KColorSpace.h"
#include "KMatrix3x3.h"
#include "KTransferCurve.h"

namespace {

struct ProfileRecipe {
    int colorSpace;
    const char* description;
    const char* fileName;
    int matrixWhitePoint;  // kPcsWhitePointD65 or kPcsWhitePointD50: the space's own white
    double white[3];       // white point, XYZ
    double gamma;          // 0: the sRGB curve as a 1024-entry table
};

const ProfileRecipe kProfiles[] = {
    {2, "sRGB IEC61966-2.1", "srgb", kPcsWhitePointD65, {0.95045, 1.0, 1.08905}, 0.0},
    {3, "Adobe RGB (1998)", "adobergb1998", kPcsWhitePointD65, {0.95045, 1.0, 1.08905}, 2.19921875},
    {4, "Apple RGB", "applergb", kPcsWhitePointD65, {0.95045, 1.0, 1.08905}, 1.80078125},
    {8, "ColorMatch RGB", "colormatchrgb", kPcsWhitePointD50, {0.96429, 1.0, 0.8251}, 1.80078125},
    {11, "ProPhoto RGB", "prophotorgb", kPcsWhitePointD50, {0.9642, 1.0, 0.82489}, 1.80078125},
};

const char kCopyright[] = "No copyright, use freely";

// Header date and time of every profile (12 big-endian 16-bit numbers: year, month, day, hour, minute,
// second): fixed, so that the build is reproducible.
const uint16_t kProfileDate[6] = {2003, 1, 1, 0, 0, 0};

double Round4(double v) { return std::round(v * 10000.0) / 10000.0; }

cmsCIExyY Chromaticity(double x, double y, double z)
{
    const double sum = x + y + z;
    return cmsCIExyY{Round4(x / sum), Round4(y / sum), 1.0};
}

// The decoding curve of the sRGB space: the inverse of its encoding curve (power 1/2.4 with a linear toe up to
// 0.00304), sampled at 1024 points.
cmsToneCurve* SRGBCurve(cmsContext context)
{
    const KTransferCurve encode(1.0 / 2.4, 0.00304);
    const double a = encode.m_Offset;
    const double s = encode.m_ToeSlope;
    const double toeEnd = encode.m_Threshold * s;
    std::vector<cmsUInt16Number> table(1024);
    for (size_t i = 0; i < table.size(); ++i) {
        const double e = static_cast<double>(i) / (table.size() - 1);
        const double linear = e <= toeEnd ? e / s : std::pow(e * (1.0 - a) + a, 1.0 / encode.m_Gamma);
        table[i] = static_cast<cmsUInt16Number>(std::lround(std::fmin(1.0, linear) * 65535.0));
    }
    return cmsBuildTabulatedToneCurve16(context, static_cast<cmsUInt32Number>(table.size()), table.data());
}

bool WriteText(cmsHPROFILE profile, cmsTagSignature tag, const char* text)
{
    cmsMLU* mlu = cmsMLUalloc(cmsGetProfileContextID(profile), 1);
    bool ok = mlu != nullptr && cmsMLUsetASCII(mlu, "en", "US", text) && cmsWriteTag(profile, tag, mlu);
    cmsMLUfree(mlu);
    return ok;
}

std::vector<uint8_t> BuildProfile(cmsContext context, const ProfileRecipe& recipe)
{
    KMatrix3x3 toRGB;
    CreateColorSpaceWhitePoint(toRGB, recipe.colorSpace, recipe.matrixWhitePoint);
    const KMatrix3x3 toXYZ = Invert3x3(toRGB);
    const cmsCIExyYTRIPLE primaries = {
        Chromaticity(toXYZ[0], toXYZ[3], toXYZ[6]),
        Chromaticity(toXYZ[1], toXYZ[4], toXYZ[7]),
        Chromaticity(toXYZ[2], toXYZ[5], toXYZ[8]),
    };
    const cmsCIEXYZ whiteXYZ = {recipe.white[0], recipe.white[1], recipe.white[2]};
    cmsCIExyY white;
    cmsXYZ2xyY(&white, &whiteXYZ);

    cmsToneCurve* curve = recipe.gamma > 0.0 ? cmsBuildGamma(context, recipe.gamma) : SRGBCurve(context);
    cmsToneCurve* curves[3] = {curve, curve, curve};
    cmsHPROFILE profile = curve != nullptr ? cmsCreateRGBProfileTHR(context, &white, &primaries, curves) : nullptr;
    cmsFreeToneCurve(curve);
    if (profile == nullptr)
        return {};

    cmsSetProfileVersion(profile, 2.1);
    cmsSetDeviceClass(profile, cmsSigDisplayClass);
    cmsSetHeaderRenderingIntent(profile, INTENT_PERCEPTUAL);
    bool ok = WriteText(profile, cmsSigProfileDescriptionTag, recipe.description) &&
              WriteText(profile, cmsSigCopyrightTag, kCopyright) &&
              cmsWriteTag(profile, cmsSigMediaWhitePointTag, &whiteXYZ);
    // A version 2 profile carries no chromatic adaptation tag (a version 4 tag).
    cmsWriteTag(profile, cmsSigChromaticAdaptationTag, nullptr);

    std::vector<uint8_t> bytes;
    cmsUInt32Number size = 0;
    if (ok && cmsSaveProfileToMem(profile, nullptr, &size) && size >= 128) {
        bytes.resize(size);
        if (!cmsSaveProfileToMem(profile, bytes.data(), &size))
            bytes.clear();
    }
    cmsCloseProfile(profile);
    for (int i = 0; i < 6 && !bytes.empty(); ++i) {
        bytes[24 + 2 * i] = static_cast<uint8_t>(kProfileDate[i] >> 8);
        bytes[25 + 2 * i] = static_cast<uint8_t>(kProfileDate[i]);
    }
    return bytes;
}

void LogError(cmsContext, cmsUInt32Number code, const char* text)
{
    std::fprintf(stderr, "iccgen: colour library error %u: %s\n", code, text);
}

bool WriteSource(const char* path, const std::vector<std::vector<uint8_t>>& profiles)
{
    std::string out =
        "// Generated by Tools/iccgen: the built-in ICC profiles. Do not edit.\n"
        "#include \"KICCProfiles.h\"\n\nnamespace {\n";
    char line[64];
    for (size_t p = 0; p < profiles.size(); ++p) {
        std::snprintf(line, sizeof line, "const uint8_t kProfile%d[] = {", kProfiles[p].colorSpace);
        out += line;
        for (size_t i = 0; i < profiles[p].size(); ++i) {
            std::snprintf(line, sizeof line, "%s0x%02X,", i % 16 == 0 ? "\n    " : " ", profiles[p][i]);
            out += line;
        }
        out += "\n};\n";
    }
    out += "}  // namespace\n\nconst KICCProfile kBuiltInICCProfiles[] = {\n";
    for (const ProfileRecipe& recipe : kProfiles) {
        std::snprintf(line, sizeof line, "    {%d, \"", recipe.colorSpace);
        out += line;
        out += recipe.description;
        std::snprintf(line, sizeof line, "\", kProfile%d, sizeof kProfile%d},\n", recipe.colorSpace, recipe.colorSpace);
        out += line;
    }
    out += "};\nconst int kBuiltInICCProfileCount = sizeof kBuiltInICCProfiles / sizeof kBuiltInICCProfiles[0];\n";

    const std::string temporary = std::string(path) + ".tmp";
    FILE* f = std::fopen(temporary.c_str(), "wb");
    if (f == nullptr)
        return false;
    bool ok = std::fwrite(out.data(), 1, out.size(), f) == out.size();
    ok = std::fclose(f) == 0 && ok;
    return ok && std::rename(temporary.c_str(), path) == 0;
}

bool WriteIccFiles(const std::string& folder, const std::vector<std::vector<uint8_t>>& profiles)
{
    for (size_t p = 0; p < profiles.size(); ++p) {
        const std::string path = folder + "/" + kProfiles[p].fileName + ".icc";
        FILE* f = std::fopen(path.c_str(), "wb");
        if (f == nullptr)
            return false;
        bool ok = std::fwrite(profiles[p].data(), 1, profiles[p].size(), f) == profiles[p].size();
        if (std::fclose(f) != 0 || !ok)
            return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    const bool iccFiles = argc == 3 && std::strcmp(argv[1], "--icc") == 0;
    if (argc != 2 && !iccFiles) {
        std::fprintf(stderr, "usage: iccgen SOURCE.cpp | iccgen --icc FOLDER\n");
        return 2;
    }
    cmsContext context = cmsCreateContext(nullptr, nullptr);
    if (context == nullptr) {
        std::fprintf(stderr, "iccgen: no colour library context\n");
        return 1;
    }
    cmsSetLogErrorHandlerTHR(context, LogError);
    std::vector<std::vector<uint8_t>> profiles;
    for (const ProfileRecipe& recipe : kProfiles) {
        profiles.push_back(BuildProfile(context, recipe));
        if (profiles.back().empty()) {
            std::fprintf(stderr, "iccgen: cannot build the profile \"%s\"\n", recipe.description);
            cmsDeleteContext(context);
            return 1;
        }
    }
    cmsDeleteContext(context);
    const bool ok = iccFiles ? WriteIccFiles(argv[2], profiles) : WriteSource(argv[1], profiles);
    if (!ok) {
        std::fprintf(stderr, "iccgen: cannot write %s\n", argv[iccFiles ? 2 : 1]);
        return 1;
    }
    return 0;
}
