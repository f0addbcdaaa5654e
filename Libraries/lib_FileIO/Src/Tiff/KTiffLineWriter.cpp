#include "KTiffLineWriter.h"

#include <cstring>
#include <string>
#include <vector>

#include "Exif/KExifNumbers.h"
#include "KDebug.h"
#include "KExifWriter.h"
#include "KFileReplacer.h"
#include "KHasProperties.h"
#include "KPixmap.h"
#include "KPropTree.h"
#include "KQuarelTag.h"
#include "KTextFunctions.h"
#include "Tiff/KTiffFile.h"
#include "Tiff/KTiffRowConversion.h"

struct KTiffLineWriter::State {
    KFileReplacer output;   // the file, under a temporary name until the last row
    TIFF* tiff = nullptr;   // borrows the output's file
    int pixelType = 0;
    std::vector<uint8_t> convertBuffer;
    KWString url;
    int32_t rowBytes = 0;
    int32_t width = 0;
    int32_t height = 0;
    int32_t nextRow = 0;
    bool finished = false;

    ~State()
    {
        if (tiff != nullptr)
            TIFFClose(tiff);
    }
};

namespace {

constexpr tmsize_t kTiffWriteBufferBytes = 256 * 1024;  // rows gathered before they go to the file

struct FileLayout {
    int pixelType;
    uint16_t samples;
    uint16_t bits;
    bool extraSample;
    uint16_t photometric;
};

const FileLayout kFileLayouts[] = {
    {kPixelType8Mono, 1, 8, false, PHOTOMETRIC_MINISBLACK},
    {kPixelType16Mono, 1, 16, false, PHOTOMETRIC_MINISBLACK},
    {kPixelType24RGB, 3, 8, false, PHOTOMETRIC_RGB},
    {kPixelType30RGBL, 4, 8, true, PHOTOMETRIC_RGB},
    {kPixelType48RGB, 3, 16, false, PHOTOMETRIC_RGB},
};

void Require(bool ok, const char* refusal)
{
    if (!ok)
        throw KExceptionFileWrite(refusal);
}

std::string Ascii(const KWString& text) { return text.GetAscii(); }

// Free-pair texts are joined with the byte 0x8B: a text holding that byte would split into two and shift every
// pair after it, so the byte is stored as '?'.
std::string ListText(const char* text)
{
    std::string s = text;
    for (char& c : s)
        if (c == KQuarelTag::kStringListSeparator)
            c = '?';
    return s;
}

void SetFreePairs(KQuarelTag& tag, const std::vector<std::string>& strings)
{
    std::vector<const char*> pointers;
    for (const std::string& s : strings)
        pointers.push_back(s.c_str());
    tag.SetInt(KQuarelKey("exsu"), static_cast<int32_t>(strings.size()));
    tag.SetString(KQuarelKey("exst"),
                  KQuarelTag::JoinStringList(pointers.data(), static_cast<int>(pointers.size())).CStr());
}

}  // namespace

KTiffLineWriter::KTiffLineWriter(const KWString& url, bool append) : m_pState(std::make_unique<State>())
{
    State& s = *m_pState;
    s.url = url;
    if (s.output.Open(url))
        s.tiff = TIFFFileOpen(s.output.File(), url, append ? "wa" : "w", false);
    if (s.tiff == nullptr) {
        // The URL, and why: the system's reason for a file that cannot be made.
        KNarrowString message("%s: %s", WideToUtf8(url).c_str(),
                              s.output.GetFailure().empty() ? "the TIFF library cannot start the file"
                                                            : s.output.GetFailure().c_str());
        s.output.Abandon();
        throw KExceptionFileOpen(message.CStr());
    }
}

KTiffLineWriter::~KTiffLineWriter()
{
    if (!m_pState->finished)
        DebugTrace("~KTiffLineWriter: '%s' not finished after %d of %d rows; no file written\n",
                   m_pState->url.GetAscii(), m_pState->nextRow, m_pState->height);
    // The state closes the TIFF; the output, destroyed after it, removes an unfinished file.
}

void KTiffLineWriter::priCheckBeforeLines(const char* refusal) const
{
    // Tags cannot change once rows are in the file (and nothing can after the last row).
    if (m_pState->nextRow > 0 || m_pState->tiff == nullptr)
        throw KExceptionFileWrite(refusal);
}

void KTiffLineWriter::SetDimensions(KInt32 width, KInt32 height, int pixelType)
{
    const FileLayout* layout = nullptr;
    for (const FileLayout& l : kFileLayouts)
        if (l.pixelType == pixelType)
            layout = &l;
    if (layout == nullptr)
        throw KExceptionUnknownPixelType("TiffLineWriter: while setting dimensions");
    priCheckBeforeLines("TiffLineWriter: while writing TIFFTAG_IMAGELENGTH");
    Require(height > 0, "TiffLineWriter: while writing TIFFTAG_IMAGELENGTH");
    const int64_t rowBytes = static_cast<int64_t>(width) * KPixelTypeBytes(pixelType);
    Require(width > 0 && rowBytes <= 0x7FFFFFFF, "TiffLineWriter: while writing TIFFTAG_IMAGEWIDTH");

    State& s = *m_pState;
    TIFF* tiff = s.tiff;
    s.rowBytes = static_cast<int32_t>(rowBytes);
    s.width = width;
    s.height = height;
    s.pixelType = pixelType;
    s.convertBuffer.clear();
    Require(TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(height)),
            "TiffLineWriter: while writing TIFFTAG_IMAGELENGTH");
    Require(TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(width)),
            "TiffLineWriter: while writing TIFFTAG_IMAGEWIDTH");
    Require(TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, layout->bits), "TiffLineWriter: while writing TIFFTAG_BITSPERSAMPLE");
    Require(TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, layout->samples),
            "TiffLineWriter: while writing TIFFTAG_SAMPLESPERPIXEL");
    if (layout->extraSample) {
        const uint16_t kind = EXTRASAMPLE_UNSPECIFIED;
        Require(TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, uint16_t{1}, &kind),
                "TiffLineWriter: while writing TIFFTAG_EXTRASAMPLES");
    }
    Require(TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, layout->photometric),
            "TiffLineWriter: while writing TIFFTAG_PHOTOMETRIC");
    Require(TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_NONE), "TiffLineWriter: while writing TIFFTAG_COMPRESSION");
    Require(TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG),
            "TiffLineWriter: while writing TIFFTAG_PLANARCONFIG");
}

void KTiffLineWriter::priWriteTagBlock(KQuarelTag& tag, const char* refusal)
{
    std::vector<uint8_t> form;
    tag.GetBuffer(form, true);
    std::vector<uint32_t> words(form.size() / 4);
    std::memcpy(words.data(), form.data(), words.size() * 4);
    Require(TIFFSetField(m_pState->tiff, kTiffTagQuarel, static_cast<uint32_t>(words.size()), words.data()), refusal);
}

void KTiffLineWriter::WriteTags(const KHasProperties& tags)
{
    priCheckBeforeLines("KTiffLineWriter: while writing Quarel tag.");
    TIFF* tiff = m_pState->tiff;
    KHasProperties options(tags);
    options.RemoveProperty("Rows");
    options.RemoveProperty("Columns");
    options.RemoveProperty("Filename");

    enum Kind { kNumber, kInteger, kText, kDate };
    struct StandardTag {
        const char* key;
        ttag_t tag;
        Kind kind;
        const char* refusal;
    };
    static const StandardTag kStandard[] = {
        {"XResolution", TIFFTAG_XRESOLUTION, kNumber, "KTiffLineWriter: while writing XResolution tag."},
        {"YResolution", TIFFTAG_YRESOLUTION, kNumber, "KTiffLineWriter: while writing YResolution tag."},
        {"ResolutionUnits", TIFFTAG_RESOLUTIONUNIT, kInteger, "KTiffLineWriter: while writing ResolutionUnits tag."},
        {"DocumentName", TIFFTAG_DOCUMENTNAME, kText, "KTiffLineWriter: while writing DocumentName tag."},
        {"Description", TIFFTAG_IMAGEDESCRIPTION, kText, "KTiffLineWriter: while writing Description tag."},
        {"CameraMake", TIFFTAG_MAKE, kText, "KTiffLineWriter: while writing CameraMake tag."},
        {"CameraModel", TIFFTAG_MODEL, kText, "KTiffLineWriter: while writing CameraModel tag."},
        {"CameraSoftware", TIFFTAG_SOFTWARE, kText, "KTiffLineWriter: while writing CameraSoftware tag."},
        {"Photographer", TIFFTAG_ARTIST, kText, "KTiffLineWriter: while writing Photographer tag."},
        {"DateTime", TIFFTAG_DATETIME, kDate, "KTiffLineWriter: while writing DateTime tag."},
    };
    for (const StandardTag& t : kStandard) {
        if (!options.HasProperty(t.key))
            continue;
        bool ok = false;
        switch (t.kind) {
        case kNumber: ok = TIFFSetField(tiff, t.tag, options.GetPropertyDouble(t.key, 0.0)); break;
        case kInteger:
            ok = TIFFSetField(tiff, t.tag, static_cast<uint16_t>(ExifTruncToInt(options.GetPropertyDouble(t.key, 0.0))));
            break;
        case kText: ok = TIFFSetField(tiff, t.tag, options.GetProperty(t.key, "")); break;
        case kDate: {
            // Right-aligned in the 19 characters of a TIFF date; a longer text is cut to them.
            std::string date = KNarrowString("%19s", options.GetProperty(t.key, "")).Str().substr(0, 19);
            ok = TIFFSetField(tiff, t.tag, date.c_str());
            break;
        }
        }
        Require(ok, t.refusal);
        options.RemoveProperty(t.key);
    }

    enum ItemKind { kItemText, kItemInteger, kItemReal };
    struct BlockItem {
        const char* key;
        uint32_t item;
        ItemKind kind;
    };
    static const BlockItem kItems[] = {
        {"Lens", KQuarelKey("lens"), kItemText},
        {"FocalLength", KQuarelKey("focl"), kItemReal},
        {"ApertureString", KQuarelKey("sfsp"), kItemText},
        {"Exposure", KQuarelKey("issd"), kItemInteger},
        {"ShutterString", KQuarelKey("sssd"), kItemText},
        {"DarkShortFilename", KQuarelKey("drks"), kItemText},
        {"DarkLongFilename", KQuarelKey("drkl"), kItemText},
        {"CamFilename", KQuarelKey("camf"), kItemText},
        {"ImageNumber", KQuarelKey("imgn"), kItemInteger},
        {"CameraSerialNumber", KQuarelKey("came"), kItemText},
        {"ExposureCompensation", KQuarelKey("excp"), kItemReal},
        {"Blackness", KQuarelKey("blkn"), kItemReal},
        {"Contrast", KQuarelKey("cont"), kItemReal},
        {"Highlight", KQuarelKey("hilt"), kItemReal},
        {"ColorAdjustRed", KQuarelKey("cadr"), kItemReal},
        {"ColorAdjustGreen", KQuarelKey("cadg"), kItemReal},
        {"ColorAdjustBlue", KQuarelKey("cadb"), kItemReal},
        {"NeutralRed", KQuarelKey("nred"), kItemReal},
        {"NeutralGreen", KQuarelKey("ngrn"), kItemReal},
        {"NeutralBlue", KQuarelKey("nblu"), kItemReal},
        {"NeutralDate", KQuarelKey("ndat"), kItemText},
        {"NeutralFilename", KQuarelKey("nfnm"), kItemText},
        {"NeutralPointX", KQuarelKey("nptx"), kItemInteger},
        {"NeutralPointY", KQuarelKey("npty"), kItemInteger},
        {"ColorSpaceIndex", KQuarelKey("clsp"), kItemInteger},
    };
    KQuarelTag tag;
    for (const BlockItem& i : kItems) {
        if (!options.HasProperty(i.key))
            continue;
        switch (i.kind) {
        case kItemText: tag.SetString(i.item, options.GetProperty(i.key, "")); break;
        case kItemInteger: tag.SetInt(i.item, ExifTruncToInt(options.GetPropertyDouble(i.key, 0.0))); break;
        case kItemReal: tag.SetDouble(i.item, options.GetPropertyDouble(i.key, 0.0)); break;
        }
        options.RemoveProperty(i.key);
    }

    std::vector<std::string> pairs;
    for (const auto& [key, value] : options.GetPropertyMap()) {
        pairs.push_back(ListText(key.CStr()));
        pairs.push_back(ListText(value.CStr()));
    }
    if (!pairs.empty())
        SetFreePairs(tag, pairs);
    priWriteTagBlock(tag, "KTiffLineWriter: while writing Quarel tag.");
}

void KTiffLineWriter::WriteProperties(const KPropTree& props, int colorSpaceCode, const KWString& softwareName,
                                      const KVersionInfo& version)
{
    priCheckBeforeLines("KTiffLineWriter: while writing EXIF IFD tag.");
    TIFF* tiff = m_pState->tiff;
    Require(TIFFSetField(tiff, TIFFTAG_XRESOLUTION, 180.0), "KTiffLineWriter: while writing XResolution tag.");
    Require(TIFFSetField(tiff, TIFFTAG_YRESOLUTION, 180.0), "KTiffLineWriter: while writing YResolution tag.");
    Require(TIFFSetField(tiff, TIFFTAG_RESOLUTIONUNIT, uint16_t{RESUNIT_INCH}),
            "KTiffLineWriter: while writing ResolutionUnits tag.");

    const KWString empty;
    const std::string make = Ascii(props.GetString(KWString("CAMMANUF"), empty));
    const std::string model = Ascii(props.GetString(KWString("CAMMODEL"), empty));
    Require(TIFFSetField(tiff, TIFFTAG_MAKE, make.c_str()), "KTiffLineWriter: while writing CAMMANUF tag.");
    Require(TIFFSetField(tiff, TIFFTAG_MODEL, model.c_str()), "KTiffLineWriter: while writing CAMMODEL tag.");
    const std::string software = Ascii(FormatExifSoftware(softwareName, version));
    Require(TIFFSetField(tiff, TIFFTAG_SOFTWARE, software.c_str()),
            "KTiffLineWriter: while writing TIFFTAG_SOFTWARE tag.");
    char now[20] = {};
    FormatExifDateTimeNow(now);
    Require(TIFFSetField(tiff, TIFFTAG_DATETIME, now), "KTiffLineWriter: while writing TIME tag.");

    KQuarelTag tag;
    tag.SetString(KQuarelKey("sfsp"), Ascii(props.GetString(KWString("AP_DESC"), empty)).c_str());
    tag.SetString(KQuarelKey("sssd"), Ascii(props.GetString(KWString("SH_DESC"), empty)).c_str());
    tag.SetString(KQuarelKey("came"), Ascii(props.GetString(KWString("CAMSERIAL"), empty)).c_str());
    struct FreeKey {
        const char* treeKey;
        const char* storedAs;
    };
    static const FreeKey kFreeKeys[] = {
        {"ISO", "ISO"},         {"EXPCOMP", "EXPCOMP"}, {"PMODE", "PMODE"},       {"RESOLUTION", "RESOLUTION"},
        {"AEMODE", "AEMODE"},   {"AFMODE", "AFMODE"},   {"FLASH", "FLASH"},       {"EXPNET", "EXPNET"},
        {"DRIVE", "DRIVE"},     {"FLENGTH", "FLENGTH"}, {"WB_DESC", "WB_DESC"},   {"FIRMVERS", "FIRMVERS"},
        {"TIME", "TIME"},       {"COLS", "KZRCOLS"},    {"ROWS", "KZRROWS"},
    };
    std::vector<std::string> strings;
    for (const FreeKey& k : kFreeKeys) {
        bool found = false;
        const KWString& value = props.GetString(KWString(k.treeKey), empty, &found);
        if (found) {
            strings.push_back(k.storedAs);
            strings.push_back(Ascii(value));
        }
    }
    SetFreePairs(tag, strings);
    priWriteTagBlock(tag, "KTiffLineWriter: while writing Quarel tag.");

    priWriteExifDirectory(props, colorSpaceCode, softwareName, version);
}

// The EXIF directory goes to the end of the file as it stands (the library appends everything it writes, strips
// and directory alike, after it), its offsets counted from the start of the file; tag 34665 points at it.
void KTiffLineWriter::priWriteExifDirectory(const KPropTree& props, int colorSpaceCode, const KWString& softwareName,
                                            const KVersionInfo& version)
{
    static const char kRefusal[] = "KTiffLineWriter: while writing EXIF IFD tag.";
    State& s = *m_pState;
    KIFile* file = TIFFGetKIFile(s.tiff);
    const KUInt32 end = file->GetSize();
    Require(end < 0x7FFF0000u, kRefusal);
    const KUInt32 at = (end + 3) & ~KUInt32{3};
    KUInt32 size = 0;
    std::vector<KUInt8> block =
        BuildExifIfdBlock(props, s.width, s.height, colorSpaceCode, softwareName, version, size, at);
    const uint8_t zeros[4] = {0, 0, 0, 0};
    bool ok = file->Seek(end) == end && (at == end || file->Write(zeros, at - end)) &&
              file->Write(block.data(), static_cast<KUInt32>(block.size()));
    Require(ok, kRefusal);
    Require(TIFFSetField(s.tiff, TIFFTAG_EXIFIFD, static_cast<uint64_t>(at)), kRefusal);
}

void KTiffLineWriter::WriteThumbnail(const KPixmap& pixmap)
{
    static const char kRefusal[] = "TiffLineWriter: while writing Photoshop thumbnail";
    priCheckBeforeLines(kRefusal);
    const int type = pixmap.GetPixelType();
    if (type != kPixelType24RGB && type != kPixelType24BGR)
        throw KExceptionUnknownPixelType("TiffLineWriter: thumbnail must be a 24-bit pixmap");
    const int64_t width = pixmap.GetWidth(), height = pixmap.GetHeight(), stride = pixmap.GetRowBytes();
    if (width < 0 || height < 0 || stride < width * 3)
        throw KExceptionUnknownPixelType("TiffLineWriter: thumbnail rows shorter than its width");
    const int64_t dataSize = height * stride;
    const int64_t total = dataSize + 40;
    if (total > 65535)
        throw KExceptionThumbTooBig("");

    std::vector<uint8_t> resource(static_cast<size_t>(total), 0);
    auto put32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            resource[at + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
    };
    auto put16 = [&](size_t at, uint16_t v) {
        resource[at] = static_cast<uint8_t>(v >> 8);
        resource[at + 1] = static_cast<uint8_t>(v);
    };
    std::memcpy(resource.data(), "8BIM", 4);
    put16(4, 1033);
    put32(8, static_cast<uint32_t>(dataSize + 28));
    put32(12, 0);
    put32(16, static_cast<uint32_t>(width));
    put32(20, static_cast<uint32_t>(height));
    put32(24, static_cast<uint32_t>(stride));
    put32(28, static_cast<uint32_t>(dataSize));
    put32(32, static_cast<uint32_t>(dataSize));
    put16(36, 24);
    put16(38, 1);
    // Pixels in B, G, R order.
    const int blueAt = type == kPixelType24RGB ? 2 : 0;
    for (int64_t y = 0; y < height; ++y) {
        const uint8_t* in = pixmap.GetRow(static_cast<int32_t>(y));
        uint8_t* out = resource.data() + 40 + y * stride;
        for (int64_t x = 0; x < width; ++x) {
            out[3 * x] = in[3 * x + blueAt];
            out[3 * x + 1] = in[3 * x + 1];
            out[3 * x + 2] = in[3 * x + 2 - blueAt];
        }
    }
    Require(TIFFSetField(m_pState->tiff, TIFFTAG_PHOTOSHOP, static_cast<uint32_t>(total), resource.data()), kRefusal);
}

void KTiffLineWriter::WriteProfile(KUInt32 size, const void* data)
{
    static const char kRefusal[] = "TiffLineWriter: while writing profile";
    priCheckBeforeLines(kRefusal);
    if (size == 0)
        return;
    Require(TIFFSetField(m_pState->tiff, TIFFTAG_ICCPROFILE, static_cast<uint32_t>(size), data), kRefusal);
}

void KTiffLineWriter::WriteLine(const void* row, int pixelType)
{
    State& s = *m_pState;
    if (s.rowBytes == 0)
        throw KExceptionWriteUninitialized("TiffLineWriter");
    if (s.finished || s.nextRow >= s.height) {
        KNarrowString message("TIFFWriteScanline failed at row %d", s.nextRow);
        throw KExceptionFileWrite(message.CStr());
    }
    if (s.convertBuffer.empty()) {
        s.convertBuffer.resize(static_cast<size_t>(s.rowBytes));
        // The library's own buffer would hold the whole strip, which is the whole image: rows go to the file
        // whenever this much has gathered instead, one after another in the same strip.
        if (!TIFFWriteBufferSetup(s.tiff, nullptr, kTiffWriteBufferBytes))
            throw KExceptionFileWrite("TIFFWriteScanline failed at row 0");
    }
    // The library gets a row of its own: it may work on the buffer it is given.
    if (pixelType == s.pixelType)
        std::memcpy(s.convertBuffer.data(), row, s.convertBuffer.size());
    else
        GetTiffWriterRowConverter(s.pixelType, pixelType)(s.width, row, s.convertBuffer.data());

    if (TIFFWriteScanline(s.tiff, s.convertBuffer.data(), static_cast<uint32_t>(s.nextRow), 0) == -1) {
        KNarrowString message("TIFFWriteScanline failed at row %d", s.nextRow);
        throw KExceptionFileWrite(message.CStr());
    }
    ++s.nextRow;
    if (s.nextRow == s.height)
        priFinish();
}

// After the last row: the library writes its directory, then the file takes its name. A failure leaves no file.
void KTiffLineWriter::priFinish()
{
    State& s = *m_pState;
    const bool flushed = TIFFFlush(s.tiff) != 0;
    TIFFClose(s.tiff);
    s.tiff = nullptr;
    if (!flushed) {
        s.output.Abandon();
        KNarrowString message("TiffLineWriter: while writing the directory of '%s'", s.url.GetAscii());
        throw KExceptionFileWrite(message.CStr());
    }
    s.output.Commit();
    s.finished = true;
}
