#include "KExifBuilder.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "KDebug.h"
#include "KException.h"
#include "KExifNumbers.h"
#include "KPropTree.h"

namespace {

constexpr KUInt16 kAscii = 2, kShort = 3, kLong = 4, kRational = 5, kUndefined = 7, kSRational = 10;

// Positions inside the EXIF directory's data area.
constexpr size_t kExposureTimeAt = 0, kFNumberAt = 8, kOriginalAt = 16, kDigitizedAt = 36, kBiasAt = 56,
                 kMaxApertureAt = 64, kFocalLengthAt = 72, kMakerNoteAt = 80;
constexpr size_t kMakerNoteSize = 512, kMakerNoteDataAt = 124;
// The directory's data area, and everything from it to the end of the block or segment.
constexpr size_t kJpegExifDataAt = 282, kTiffExifDataAt = 270, kExifDataSize = 716;

// A work buffer of a fixed size filled with 0xFF; every store is checked against its end. Offsets written
// into entries count from `origin` (the TIFF header), plus `base` when the buffer itself lies at base in a file.
class BlockBuffer {
public:
    BlockBuffer(size_t size, size_t origin, KUInt32 base = 0) : m_Bytes(size, 0xFF), m_Origin(origin), m_Base(base) {}

    void PutBytes(size_t at, const void* data, size_t n) { std::memcpy(priAt(at, n), data, n); }
    void Put16(size_t at, KUInt16 v)
    {
        KUInt8* p = priAt(at, 2);
        p[0] = static_cast<KUInt8>(v);
        p[1] = static_cast<KUInt8>(v >> 8);
    }
    void Put32(size_t at, KUInt32 v) { WriteExifLong(priAt(at, 4), false, v); }
    void PutRational(size_t at, KUInt32 n, KUInt32 d) { WriteExifRational(priAt(at, 8), false, n, d); }
    void PutSRational(size_t at, KInt32 n, KInt32 d) { WriteExifSRational(priAt(at, 8), false, n, d); }

    KUInt32 Offset(size_t at) const { return static_cast<KUInt32>(at - m_Origin) + m_Base; }

    void Entry(size_t at, KUInt16 tag, KUInt16 type, KUInt32 count)
    {
        Put16(at, tag);
        Put16(at + 2, type);
        Put32(at + 4, count);
    }
    void ShortEntry(size_t at, KUInt16 tag, KUInt16 value)
    {
        Entry(at, tag, kShort, 1);
        Put16(at + 8, value);
        Put16(at + 10, 0);
    }
    void LongEntry(size_t at, KUInt16 tag, KUInt32 value)
    {
        Entry(at, tag, kLong, 1);
        Put32(at + 8, value);
    }
    // An entry whose value lies at `dataAt`.
    void OffsetEntry(size_t at, KUInt16 tag, KUInt16 type, KUInt32 count, size_t dataAt)
    {
        Entry(at, tag, type, count);
        Put32(at + 8, Offset(dataAt));
    }
    // UNDEFINED bytes (at most 4) in the value field.
    void FieldEntry(size_t at, KUInt16 tag, const void* bytes, KUInt32 count)
    {
        Entry(at, tag, kUndefined, count);
        PutBytes(at + 8, bytes, count);
    }
    // ASCII text with its zero byte: in the value field when it fits there, else at dataAt, which advances.
    void TextEntry(size_t at, KUInt16 tag, const std::string& text, size_t& dataAt)
    {
        KUInt32 count = static_cast<KUInt32>(text.size() + 1);
        Entry(at, tag, kAscii, count);
        if (count <= 4) {
            PutBytes(at + 8, text.c_str(), count);
        } else {
            PutBytes(dataAt, text.c_str(), count);
            Put32(at + 8, Offset(dataAt));
            dataAt += count;
        }
    }

    std::vector<KUInt8>& Bytes() { return m_Bytes; }

private:
    KUInt8* priAt(size_t at, size_t n)
    {
        if (at > m_Bytes.size() || n > m_Bytes.size() - at)
            throw KException("EXIF builder: write past the end of its block");
        return m_Bytes.data() + at;
    }

    std::vector<KUInt8> m_Bytes;
    size_t m_Origin;
    KUInt32 m_Base;
};

// Everything the EXIF directory needs, read from the tree once.
struct ExifValues {
    KUInt32 exposureNum = 0, exposureDen = 0;
    KUInt32 fNumberTenths = 0;
    KUInt16 program = 0;
    KUInt16 iso = 0;
    char original[20] = {};
    KInt32 biasHalves = 0;
    KUInt32 maxApertureTenths = 0;
    KUInt32 focalLength = 0;
    KUInt16 metering = 0;
    KUInt16 flash = 0;
    KUInt16 colorSpace = 0;
    KUInt32 width = 0, height = 0;
    KUInt16 focal35 = 0;
    std::string makerTexts[9];
};

// One byte a character: 0-126 as they are, anything else "?"; at most `limit` characters.
std::string ExifText(const KWString& text, size_t limit)
{
    std::string out;
    size_t n = std::min(text.GetLength(), limit);
    out.reserve(n);
    for (size_t i = 0; i < n; ++i) {
        KWChar c = text[i];
        out += c <= 126 ? static_cast<char>(c) : '?';
    }
    return out;
}

std::string TreeText(const KPropTree& tree, const char* key, const char* missing = " ")
{
    static const size_t kNoLimit = static_cast<size_t>(-1);
    KWString fallback(missing);
    return ExifText(tree.GetString(KWString(key), fallback), kNoLimit);
}

// The "%i" conversion: optional sign, decimal, octal or hexadecimal; kept to 32 bits.
bool ScanInt(const char*& p, KInt32& out)
{
    char* end = nullptr;
    errno = 0;
    long v = std::strtol(p, &end, 0);
    if (end == p)
        return false;
    p = end;
    out = static_cast<KInt32>(std::clamp<long>(v, INT32_MIN, INT32_MAX));
    return true;
}

void ReadExposureTime(const std::string& text, ExifValues& v)
{
    const char* p = text.c_str();
    KInt32 n = 0, d = 0;
    if (text.find('.') != std::string::npos) {
        n = ExifTruncToInt(std::strtod(p, nullptr) * 10);
        d = 10;
    } else if (text.find('/') == std::string::npos) {
        ScanInt(p, n);
        d = 1;
    } else if (ScanInt(p, n) && *p == '/') {
        ++p;
        ScanInt(p, d);
    }
    v.exposureNum = static_cast<KUInt32>(n);
    v.exposureDen = static_cast<KUInt32>(d);
}

KUInt16 ProgramCode(const std::string& m)
{
    return m == "M" ? 1 : m == "P" ? 2 : m == "A" ? 3 : m == "S" ? 4 : 0;
}

KUInt16 MeteringCode(const std::string& m)
{
    return m == "A" ? 1 : m == "C" ? 2 : m == "8" ? 5 : 0;
}

ExifValues ReadExifValues(const KPropTree& tree, KInt32 width, KInt32 height, int colorSpaceCode, bool jpegRules)
{
    static const char* const kMakerKeys[9] = {"CAMSERIAL", "DRIVE", "RESOLUTION", "AFMODE", "FOCUS",
                                              "WB_DESC",   "PMODE", "AEMODE",     "LENSFRANGE"};
    ExifValues v;
    ReadExposureTime(TreeText(tree, "SH_DESC", "1/1"), v);
    v.fNumberTenths = static_cast<KUInt32>(ExifTruncToInt(tree.GetDouble(KWString("AP_DESC"), 0) * 10));
    v.program = ProgramCode(TreeText(tree, "PMODE"));
    v.iso = static_cast<KUInt16>(tree.GetInt(KWString("ISO"), 0));
    FormatExifDateTime(static_cast<std::time_t>(tree.GetInt(KWString("TIME"), 0)), true, v.original);
    v.biasHalves = ExifTruncToInt(tree.GetDouble(KWString("EXPNET"), 0) * 2);
    double wide = 0, tele = 0;
    if (tree.FindPair(KWString("LENSARANGE")) &&
        std::sscanf(TreeText(tree, "LENSARANGE").c_str(), "%lf to %lf", &wide, &tele) == 2)
        v.maxApertureTenths = static_cast<KUInt32>(ExifTruncToInt(tele * 10));
    int focal = tree.GetInt(KWString("FLENGTH"), 0);
    v.focalLength = static_cast<KUInt32>(focal);
    v.metering = MeteringCode(TreeText(tree, "AEMODE"));
    v.flash = TreeText(tree, "FLASH", "OFF") == "OFF" ? 0 : 1;
    v.colorSpace = colorSpaceCode == 2 ? 1 : 0xFFFF;
    v.width = static_cast<KUInt32>(width);
    v.height = static_cast<KUInt32>(height);
    int focal35 = ExifTruncToInt(focal * 1.7);
    if (jpegRules) {
        bool modelFound = false;
        const KWString& model = tree.GetString(KWString("CAMMODEL"), KWString(), &modelFound);
        if (tree.FindPair(KWString("FLEQ35MM")))
            focal35 = tree.GetInt(KWString("FLEQ35MM"), 0);
        else if (!(modelFound && model == "PELTA DV7"))
            focal35 = 0;
    }
    v.focal35 = static_cast<KUInt16>(focal35);
    for (int i = 0; i < 9; ++i)
        v.makerTexts[i] = TreeText(tree, kMakerKeys[i]);
    return v;
}

// The 512-byte maker note at `at`: signature, version 1, nine ASCII entries (tags 2-10), texts from byte 124.
// A text that does not fit the rest of the data area is cut to what fits.
void WriteMakerNote(BlockBuffer& b, size_t at, const ExifValues& v)
{
    b.PutBytes(at, "PELTA\0\0\0", 8);
    b.Put16(at + 8, 1);
    b.Put16(at + 10, 9);
    size_t data = at + kMakerNoteDataAt;
    const size_t end = at + kMakerNoteSize;
    for (int i = 0; i < 9; ++i) {
        size_t room = end - data;
        size_t limit = room > 4 ? room - 1 : 3;  // three characters always fit the value field
        std::string text = v.makerTexts[i].substr(0, limit);
        b.TextEntry(at + 12 + 12 * i, static_cast<KUInt16>(2 + i), text, data);
    }
    b.Put32(at + 120, 0);
}

// The EXIF directory (22 entries) at `at`, its data area at `data`.
void WriteExifDirectory(BlockBuffer& b, size_t at, size_t data, const ExifValues& v, const char* digitized)
{
    static const KUInt8 kExifVersion[4] = {'0', '2', '2', '0'};
    static const KUInt8 kComponents[4] = {1, 2, 3, 0};
    static const KUInt8 kFlashpixVersion[4] = {'0', '1', '0', '0'};
    static const KUInt8 kFileSource[1] = {3};
    b.Put16(at, 22);
    size_t e = at + 2;
    auto next = [&e] {
        size_t entry = e;
        e += 12;
        return entry;
    };
    b.PutRational(data + kExposureTimeAt, v.exposureNum, v.exposureDen);
    b.OffsetEntry(next(), 0x829A, kRational, 1, data + kExposureTimeAt);
    b.PutRational(data + kFNumberAt, v.fNumberTenths, 10);
    b.OffsetEntry(next(), 0x829D, kRational, 1, data + kFNumberAt);
    b.ShortEntry(next(), 0x8822, v.program);
    b.ShortEntry(next(), 0x8827, v.iso);
    b.FieldEntry(next(), 0x9000, kExifVersion, 4);
    b.PutBytes(data + kOriginalAt, v.original, 20);
    b.OffsetEntry(next(), 0x9003, kAscii, 20, data + kOriginalAt);
    b.PutBytes(data + kDigitizedAt, digitized, 20);
    b.OffsetEntry(next(), 0x9004, kAscii, 20, data + kDigitizedAt);
    b.FieldEntry(next(), 0x9101, kComponents, 4);
    b.PutSRational(data + kBiasAt, v.biasHalves, 2);
    b.OffsetEntry(next(), 0x9204, kSRational, 1, data + kBiasAt);
    b.PutRational(data + kMaxApertureAt, v.maxApertureTenths, 10);
    b.OffsetEntry(next(), 0x9205, kRational, 1, data + kMaxApertureAt);
    b.ShortEntry(next(), 0x9207, v.metering);
    b.ShortEntry(next(), 0x9209, v.flash);
    b.PutRational(data + kFocalLengthAt, v.focalLength, 1);
    b.OffsetEntry(next(), 0x920A, kRational, 1, data + kFocalLengthAt);
    WriteMakerNote(b, data + kMakerNoteAt, v);
    b.OffsetEntry(next(), 0x927C, kUndefined, kMakerNoteSize, data + kMakerNoteAt);
    b.FieldEntry(next(), 0xA000, kFlashpixVersion, 4);
    b.ShortEntry(next(), 0xA001, v.colorSpace);
    b.LongEntry(next(), 0xA002, v.width);
    b.LongEntry(next(), 0xA003, v.height);
    b.ShortEntry(next(), 0xA217, 2);
    b.FieldEntry(next(), 0xA300, kFileSource, 1);
    b.ShortEntry(next(), 0xA401, 1);
    b.ShortEntry(next(), 0xA405, v.focal35);
    b.Put32(e, 0);
}

// Bytes a text takes in the data area (none when it sits in the value field).
size_t DataBytes(const std::string& text)
{
    return text.size() + 1 > 4 ? text.size() + 1 : 0;
}

}  // namespace

std::vector<KUInt8> BuildExifApp1Segment(const KPropTree& tree, KInt32 width, KInt32 height, int colorSpaceCode,
                                         const KWString& softwareName, const KVersionInfo& version,
                                         const std::vector<KUInt8>& thumbnail, std::time_t now)
{
    ExifValues v = ReadExifValues(tree, width, height, colorSpaceCode, true);
    KWString space(" ");
    std::string make = ExifText(tree.GetString(KWString("CAMMANUF"), space), kMaxMainText);
    std::string model = ExifText(tree.GetString(KWString("CAMMODEL"), space), kMaxMainText);
    std::string software = ExifText(FormatExifSoftware(softwareName, version), kMaxMainText);
    char dateTime[20] = {};
    FormatExifDateTime(now, false, dateTime);

    // Main directory values: the three texts, two resolutions, the date.
    const size_t mainData = DataBytes(make) + DataBytes(model) + 16 + DataBytes(software) + 20;
    const size_t exifPart = kJpegExifDataAt + kExifDataSize;
    bool withThumbnail = !thumbnail.empty();
    size_t total = 230 + mainData + thumbnail.size() + 16 + exifPart;
    if (withThumbnail && total > kMaxMarkerData) {
        DebugTrace("BuildExifBlock: thumbnail of %zu bytes does not fit the EXIF segment; left out\n",
                   thumbnail.size());
        withThumbnail = false;
    }
    if (!withThumbnail)
        total = 140 + mainData + exifPart;

    BlockBuffer b(total, 6);
    b.PutBytes(0, "Exif\0\0II", 8);
    b.Put16(8, 42);
    b.Put32(10, 8);
    b.Put16(14, 10);
    size_t data = withThumbnail ? 230 : 140;
    b.TextEntry(16, 0x010F, make, data);
    b.TextEntry(28, 0x0110, model, data);
    b.ShortEntry(40, 0x0112, 1);
    b.PutRational(data, 180, 1);
    b.OffsetEntry(52, 0x011A, kRational, 1, data);
    data += 8;
    b.PutRational(data, 180, 1);
    b.OffsetEntry(64, 0x011B, kRational, 1, data);
    data += 8;
    b.ShortEntry(76, 0x0128, 2);
    b.TextEntry(88, 0x0131, software, data);
    b.PutBytes(data, dateTime, 20);
    b.OffsetEntry(100, 0x0132, kAscii, 20, data);
    data += 20;
    b.ShortEntry(112, 0x0213, 2);
    b.Put32(136, withThumbnail ? 134 : 0);

    if (withThumbnail) {
        size_t thumbAt = data;
        b.PutBytes(thumbAt, thumbnail.data(), thumbnail.size());
        data += thumbnail.size();
        b.PutRational(data, 180, 1);
        b.PutRational(data + 8, 180, 1);
        b.Put16(140, 7);
        b.ShortEntry(142, 0x0103, 6);
        b.OffsetEntry(154, 0x011A, kRational, 1, data);
        b.OffsetEntry(166, 0x011B, kRational, 1, data + 8);
        b.ShortEntry(178, 0x0128, 2);
        b.LongEntry(190, 0x0201, b.Offset(thumbAt));
        b.LongEntry(202, 0x0202, static_cast<KUInt32>(thumbnail.size()));
        b.ShortEntry(214, 0x0213, 2);
        b.Put32(226, 0);
        data += 16;
    }

    b.LongEntry(124, 0x8769, b.Offset(data));
    WriteExifDirectory(b, data, data + kJpegExifDataAt, v, dateTime);
    return std::move(b.Bytes());
}

std::vector<KUInt8> BuildExifIfdBlockAt(const KPropTree& tree, KInt32 width, KInt32 height, int colorSpaceCode,
                                        std::time_t now, KUInt32& size, KUInt32 fileOffset)
{
    ExifValues v = ReadExifValues(tree, width, height, colorSpaceCode, false);
    char dateTime[20] = {};
    FormatExifDateTime(now, false, dateTime);
    BlockBuffer b((kExifIfdBlockSize + 3) / 4 * 4, 0, fileOffset);
    WriteExifDirectory(b, 0, kTiffExifDataAt, v, dateTime);
    size = kExifIfdBlockSize;
    return std::move(b.Bytes());
}
