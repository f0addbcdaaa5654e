// kzrdump: shows what a raw container file holds, writes one of its images as PPM, and changes its header
// through the raw container writer.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "KPixmap.h"
#include "KPropTree.h"
#include "KQrlbImageReader.h"
#include "KQrlbImageWriter.h"
#include "KSCDiskWin.h"
#include "KStorageURL.h"
#include "KTextFunctions.h"
#include "KzrCommandLine.h"
#include "KzrFileBuilder.h"
#include "KzrPixmap.h"
#include "KzrPpm.h"

namespace {

const char* kUsage =
    "usage: kzrdump FILE                         header, directory, properties, calibration and images\n"
    "       kzrdump --ppm INDEX OUT.ppm FILE     one image as PPM (16 bits a sample for 48-bit types)\n"
    "       kzrdump [--set-rotation DEG] [--set-marks N] [--set-wb TEXT] FILE\n";

void Usage(const std::string& problem)
{
    if (!problem.empty())
        std::fprintf(stderr, "kzrdump: %s\n", problem.c_str());
    std::fprintf(stderr, "%s", kUsage);
}


std::string FourCC(KUInt32 code)
{
    std::string s;
    for (int i = 0; i < 4; ++i) {
        const char c = static_cast<char>(code >> (8 * i));
        s += (c >= 32 && c < 127) ? c : '?';
    }
    return s;
}

std::string VersionText(KUInt32 v)
{
    if (v == KQrlb::kVersion10)
        return "1.0";
    return std::to_string(v >> 16) + "." + std::to_string(v & 0xFFFF);
}

const char* ImageTypeName(KUInt32 type)
{
    switch (type) {
    case KQrlb::kImageDark:
        return "dark";
    case KQrlb::kImageRaw:
        return "raw";
    case KQrlb::kImageViewable:
        return "viewable";
    case KQrlb::kImageDarkSubtracted:
        return "dark-subtracted";
    default:
        return "unknown";
    }
}

void Report(const KException& e)
{
    std::printf("  error: %s (%s)\n", e.GetMessage(), e.GetDescription());
}

int Dump(const KWString& url, const std::string& path)
{
    int failures = 0;
    KQrlbImageReader reader(url);
    std::printf("file: %s\n", path.c_str());
    KInt32 columns = 0, rows = 0;
    reader.GetDimensions(columns, rows);
    std::printf("header:\n  version: %s (0x%08X)\n  identifier: ", VersionText(reader.GetVersion()).c_str(),
                reader.GetVersion());
    for (int i = 0; i < 16; ++i)
        std::printf("%02X", reader.GetUniqueIdentifier()[i]);
    std::printf("\n  mark bits: %u\n  columns: %d\n  rows: %d\n  rotation: %d\n", reader.GetMarkBits(), columns,
                rows, reader.GetRotation());
    if (const char* wb = reader.GetWhiteBalance())
        std::printf("  white balance: \"%s\"\n", wb);
    else
        std::printf("  white balance: (no field before version 2.1)\n");

    try {
        const std::vector<KQrlbDirEntry>& dir = reader.GetDirectory();
        std::printf("directory: %zu entries (nested directories expanded)\n", dir.size());
        for (size_t i = 0; i < dir.size(); ++i)
            std::printf("  %zu  %s  offset %u  length %u\n", i, FourCC(dir[i].type).c_str(), dir[i].offset,
                        dir[i].length);
    } catch (const KException& e) {
        std::printf("directory:\n");
        Report(e);
        return 1;
    }

    std::printf("properties:\n");
    try {
        KPropTree tree(nullptr, "properties");
        reader.GetProperties(&tree);
        for (KPropPair* p = tree.GetFirstPair(); p; p = p->GetNext())
            std::printf("  %s = %s\n", WideToUtf8(p->GetKey()).c_str(), WideToUtf8(p->GetValue()).c_str());
    } catch (const KException& e) {
        Report(e);
        ++failures;
    }

    const int cams = reader.GetNumCamFiles();
    std::printf("calibration sections: %d\n", cams);
    for (int i = 0; i < cams; ++i) {
        try {
            KUInt32 size = 0, type = 0;
            reader.GetCamFileInfo(i, size, type);
            std::vector<KUInt8> head(std::min<KUInt32>(size, 4));
            reader.GetCamFile(i, head.data(), static_cast<KUInt32>(head.size()), nullptr, nullptr);
            std::string magic;
            for (KUInt8 c : head)
                magic += (c >= 32 && c < 127) ? static_cast<char>(c) : '.';
            std::printf("  %d  type %u  size %u bytes  begins \"%s\"\n", i, type, size, magic.c_str());
        } catch (const KException& e) {
            Report(e);
            ++failures;
        }
    }

    const int images = reader.GetNumImages();
    std::printf("images: %d\n", images);
    for (int i = 0; i < images; ++i) {
        try {
            const KQrlbImageSection h = reader.GetImageSection(i);
            std::printf("  %d  %u x %u  image type %u (%s)  data format %u  row size %u", i, h.columns, h.rows,
                        h.imageType, ImageTypeName(h.imageType), h.dataFormat, h.rowSize);
            KQrlbSize size;
            int pixmapType = 0;
            KUInt32 imageType = 0;
            reader.GetImageInfo(i, size, pixmapType, imageType);
            std::printf("  pixel type %d\n", pixmapType);
        } catch (const KException& e) {
            std::printf("\n");
            Report(e);
            ++failures;
        }
    }
    return failures ? 1 : 0;
}

int WritePpm(const KWString& url, int index, const std::string& outPath)
{
    KQrlbImageReader reader(url);
    KQrlbSize size;
    int pixmapType = 0;
    KUInt32 imageType = 0;
    reader.GetImageInfo(index, size, pixmapType, imageType);
    kzrsynth::OwnedPixmap target(pixmapType, size.columns, size.rows);
    if (!reader.GetImage(index, target.pixmap, nullptr, nullptr))
        throw KExceptionQrlbReader("image read cancelled");
    kzrsynth::WriteFileAtomically(outPath, kzrsynth::PpmBytes(pixmapType, size.columns, size.rows,
                                                              target.pixels.data(), size_t(target.rowBytes)));
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    std::string file, ppmOut, wb, rotationText;
    long ppmIndex = -1, rotation = 0, marks = 0;
    bool setRotation = false, setMarks = false, setWb = false;
    kzrsynth::CommandLine args(argc, argv, Usage);
    std::string a;
    while (args.Next(a)) {
        if (a == "--ppm") {
            ppmIndex = args.Number(a, 0, 0x7FFFFFFF);
            ppmOut = args.Value(a);
        } else if (a == "--set-rotation") {
            rotation = args.Number(a, -0x7FFFFFFFL, 0x7FFFFFFFL);
            rotationText = std::to_string(rotation);
            setRotation = true;
        } else if (a == "--set-marks") {
            marks = args.Number(a, 0, 0xFFFFFFFFL);
            setMarks = true;
        } else if (a == "--set-wb") {
            wb = args.Value(a);
            setWb = true;
        } else {
            args.Other(a, file, "file");
        }
    }
    if (file.empty())
        args.Fail("no file");

    RegisterDiskStorageClass();
    int status = 0;
    try {
        KWString url;
        if (!PosixFileToURL(file, url))
            throw KExceptionFileNotFound(file.c_str());
        if (setRotation) {
            // Stored as the loader stores it: brought into one turn, and only quarter turns.
            rotation %= 360;
            if (rotation < 0)
                rotation += 360;
            if (rotation % 90 != 0) {
                std::fprintf(stderr, "kzrdump: a rotation of %s degrees cannot be stored (only quarter turns: 0, 90, "
                                     "180, 270); nothing changed\n",
                             rotationText.c_str());
                ShutdownStorageClasses();
                return 1;
            }
        }
        if (setRotation || setMarks || setWb) {
            KQrlbImageWriter writer;
            writer.Open(url);
            // The white balance may be refused: ask for it first, so that a refusal changes nothing.
            if (setWb && !writer.SetWhiteBalance(wb.c_str())) {
                writer.Close();
                std::fprintf(stderr, "kzrdump: white balance refused (more than 31 characters, or a file before "
                                     "version 2.1); nothing changed\n");
                ShutdownStorageClasses();
                return 1;
            }
            if (setMarks)
                writer.SetMarkBits(static_cast<KUInt32>(marks));
            if (setRotation)
                writer.SetRotation(static_cast<KInt32>(rotation));
            writer.Close();
        } else if (ppmIndex >= 0) {
            status = WritePpm(url, static_cast<int>(ppmIndex), ppmOut);
        } else {
            status = Dump(url, file);
        }
    } catch (const KException& e) {
        std::fprintf(stderr, "kzrdump: %s (%s)\n", e.GetMessage(), e.GetDescription());
        status = 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "kzrdump: %s\n", e.what());
        status = 1;
    }
    ShutdownStorageClasses();
    return status;
}
