#include "KExifReader.h"

#include <cmath>
#include <cstring>
#include <string>

#include "KExifNumbers.h"
#include "KNarrowString.h"
#include "KPropTree.h"

namespace {

// Bytes per element of the twelve TIFF types (index = type).
constexpr KUInt32 kElementSize[13] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8};

// A self-pointing or fanned-out block must not make the walk recurse forever or explode: camera files nest
// three levels (main, EXIF, maker note or interoperability) and hold a handful of directories.
constexpr int kMaxDepth = 4;
constexpr int kMaxDirectories = 16;

enum class DirectoryKind { Standard, MakerNote };

struct WalkContext {
    const KUInt8* base;
    KUInt32 length;
    bool bigEndian;
    KPropTree& tree;
    int directories;
};

struct Entry {
    KUInt16 tag;
    KUInt16 type;
    KUInt32 count;
    KUInt64 size;          // element size x count
    const KUInt8* field;   // the entry's 4-byte value field
    const KUInt8* value;   // the value: in the field, or at its offset inside the block
};

bool WalkDirectory(WalkContext& ctx, KUInt64 offset, DirectoryKind kind, int depth);

void AddText(KPropTree& tree, const char* key, const std::string& text)
{
    tree.AddPair(key, text.c_str());
}

template <typename... Args>
void AddFormatted(KPropTree& tree, const char* key, const char* format, Args... args)
{
    AddText(tree, key, KNarrowString(format, args...).Str());
}

// The value's bytes up to the first zero byte within its count.
std::string ValueText(const Entry& e)
{
    const char* p = reinterpret_cast<const char*>(e.value);
    size_t n = e.count;
    const void* zero = std::memchr(p, 0, n);
    if (zero)
        n = static_cast<const char*>(zero) - p;
    return std::string(p, n);
}

double ValueNumber(const WalkContext& ctx, const Entry& e)
{
    return GetExifValueAsDouble(e.value, e.type, ctx.bigEndian);
}

// A LONG read of the value field; a SHORT entry gives its short (its high half would otherwise depend on
// the byte order).
KUInt32 ValueLong(const WalkContext& ctx, const Entry& e)
{
    if (e.type == 3)
        return ReadExifShort(e.field, ctx.bigEndian);
    return ReadExifLong(e.field, ctx.bigEndian);
}

void ExposureTimeText(KPropTree& tree, double t)
{
    if (t >= 1)
        AddFormatted(tree, "SH_DESC", "%d", ExifTruncToInt(t));
    else if (t >= 0.5)
        AddFormatted(tree, "SH_DESC", "%.1f", t);
    else if (t == 0 || std::isnan(t))
        AddText(tree, "SH_DESC", "0");  // no exposure time recorded
    else
        AddFormatted(tree, "SH_DESC", "1/%d", ExifTruncToInt(1 / t));
}

void ConvertMakerNoteEntry(WalkContext& ctx, const Entry& e)
{
    static const char* const kKeys[11] = {nullptr,      nullptr, "CAMSERIAL", "DRIVE",  "RESOLUTION", "AFMODE",
                                          nullptr,      "WB_DESC", "PMODE",   "AEMODE", "LENSFRANGE"};
    if (e.tag < 11 && kKeys[e.tag])
        AddText(ctx.tree, kKeys[e.tag], ValueText(e));
}

void ConvertStandardEntry(WalkContext& ctx, const Entry& e, int depth)
{
    KPropTree& tree = ctx.tree;
    switch (e.tag) {
    case 0x010F:
        AddText(tree, "CAMMANUF", ValueText(e));
        break;
    case 0x0110:
        AddText(tree, "CAMMODEL", ValueText(e));
        break;
    case 0x0131:
        AddText(tree, "FIRMVERS", ValueText(e));
        break;
    case 0x0132:
    case 0x9003:
    case 0x9004: {
        KInt32 seconds = ParseExifDateTime(ValueText(e).c_str());
        const char* key = e.tag == 0x0132   ? "EXIF_DATETIME"
                          : e.tag == 0x9003 ? "EXIF_DATETIME_ORIGINAL"
                                            : "EXIF_DATETIME_DIGITIZED";
        if (seconds != 0)
            tree.SetInt(key, seconds);
        break;
    }
    case 0x829A:
        ExposureTimeText(tree, ValueNumber(ctx, e));
        break;
    case 0x829D:
        AddFormatted(tree, "AP_DESC", "%.1f", ValueNumber(ctx, e));
        break;
    case 0x8769:
    case 0xA005:
        WalkDirectory(ctx, ReadExifLong(e.field, ctx.bigEndian), DirectoryKind::Standard, depth + 1);
        break;
    case 0x8822: {
        static const char* const kModes[9] = {"U", "M", "P", "A", "S", "C", "X", "I", "L"};
        int v = ExifTruncToInt(ValueNumber(ctx, e));
        AddText(tree, "PMODE", (v >= 0 && v <= 8) ? kModes[v] : "U");
        break;
    }
    case 0x8827: {
        KInt64 iso = ExifTruncToInt(ValueNumber(ctx, e));
        if (iso < 50)
            iso *= 200;
        AddFormatted(tree, "ISO", "%d", static_cast<KInt32>(iso));
        break;
    }
    case 0x9201:
        AddFormatted(tree, "SH_DESC", "1/%.0f", std::pow(2.0, ValueNumber(ctx, e)));
        break;
    case 0x9202:
        AddFormatted(tree, "AP_DESC", "%.1f", std::pow(2.0, ValueNumber(ctx, e) / 2));
        break;
    case 0x9204: {
        double v = ValueNumber(ctx, e);
        KNarrowString text("%.1f", v);
        if (std::strstr(text.CStr(), ".0"))
            text = KNarrowString("%.0f", v);
        AddText(tree, "EXPCOMP", text.Str());
        AddText(tree, "EXPNET", text.Str());
        break;
    }
    case 0x9207: {
        int v = ExifTruncToInt(ValueNumber(ctx, e));
        AddText(tree, "AEMODE", v == 1 ? "A" : v == 2 ? "C" : v == 5 ? "8" : "U");
        break;
    }
    case 0x9209: {
        double v = ValueNumber(ctx, e);
        if (v == 0)
            AddText(tree, "FLASH", "OFF");
        else if (v == 1)
            AddText(tree, "FLASH", "ON");
        break;
    }
    case 0x920A:
        AddFormatted(tree, "FLENGTH", "%.0f", ValueNumber(ctx, e));
        break;
    case 0x927C:
        // The note's directory follows an 8-byte signature and a 16-bit version, whoever wrote it; the walk
        // checks that it lies inside the block.
        WalkDirectory(ctx, static_cast<KUInt64>(e.value - ctx.base) + 10, DirectoryKind::MakerNote, depth + 1);
        break;
    case 0xA002:
        AddFormatted(tree, "KZRCOLS", "%d", static_cast<KInt32>(ValueLong(ctx, e)));
        break;
    case 0xA003:
        AddFormatted(tree, "KZRROWS", "%d", static_cast<KInt32>(ValueLong(ctx, e)));
        break;
    default:
        break;
    }
}

bool WalkDirectory(WalkContext& ctx, KUInt64 offset, DirectoryKind kind, int depth)
{
    if (depth > kMaxDepth || ctx.directories >= kMaxDirectories)
        return false;
    ++ctx.directories;
    if (offset + 2 > ctx.length)
        return false;
    KUInt16 count = ReadExifShort(ctx.base + offset, ctx.bigEndian);
    bool haveOriginal = false, haveDigitized = false;
    KInt32 original = 0, digitized = 0;
    for (KUInt32 i = 0; i < count; ++i) {
        KUInt64 at = offset + 2 + 12ull * i;
        if (at + 12 > ctx.length)
            return false;
        const KUInt8* p = ctx.base + at;
        Entry e;
        e.tag = ReadExifShort(p, ctx.bigEndian);
        e.type = ReadExifShort(p + 2, ctx.bigEndian);
        e.count = ReadExifLong(p + 4, ctx.bigEndian);
        e.field = p + 8;
        if (e.type < 1 || e.type > 12)
            return false;
        e.size = static_cast<KUInt64>(kElementSize[e.type]) * e.count;
        if (e.size <= 4) {
            e.value = e.field;
        } else {
            KUInt64 valueOffset = ReadExifLong(e.field, ctx.bigEndian);
            if (valueOffset + e.size > ctx.length)
                return false;
            e.value = ctx.base + valueOffset;
        }
        if (e.count == 0)
            continue;  // nothing to convert
        if (kind == DirectoryKind::MakerNote) {
            ConvertMakerNoteEntry(ctx, e);
            continue;
        }
        if (e.tag == 0x9003) {
            haveOriginal = true;
            original = ParseExifDateTime(ValueText(e).c_str());
        } else if (e.tag == 0x9004) {
            haveDigitized = true;
            digitized = ParseExifDateTime(ValueText(e).c_str());
        }
        ConvertStandardEntry(ctx, e, depth);
    }
    if (haveOriginal)
        ctx.tree.SetInt("TIME", original);
    else if (haveDigitized)
        ctx.tree.SetInt("TIME", digitized);
    return true;
}

// Reads an optionally signed decimal field, saturating at 32 bits; false when there are no digits.
bool ReadField(const char*& p, KInt64& out)
{
    while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r' || *p == '\f' || *p == '\v')
        ++p;
    bool negative = false;
    if (*p == '+' || *p == '-')
        negative = *p++ == '-';
    if (*p < '0' || *p > '9')
        return false;
    KInt64 v = 0;
    for (; *p >= '0' && *p <= '9'; ++p)
        if (v < 0x80000000ll)
            v = v * 10 + (*p - '0');
    if (v > 0x7FFFFFFFll)
        v = 0x7FFFFFFFll;
    out = negative ? -v : v;
    return true;
}

// Days from 1970-01-01 to the proleptic Gregorian date (month 1-12).
KInt64 DaysFromCivil(KInt64 y, KInt64 m, KInt64 d)
{
    y -= m <= 2;
    KInt64 era = (y >= 0 ? y : y - 399) / 400;
    KInt64 yoe = y - era * 400;
    KInt64 doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    KInt64 doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

}  // namespace

KUInt16 ReadExifShort(const void* p, bool bigEndian)
{
    const KUInt8* b = static_cast<const KUInt8*>(p);
    return bigEndian ? static_cast<KUInt16>(b[0] << 8 | b[1]) : static_cast<KUInt16>(b[1] << 8 | b[0]);
}

KUInt32 ReadExifLong(const void* p, bool bigEndian)
{
    const KUInt8* b = static_cast<const KUInt8*>(p);
    if (bigEndian)
        return static_cast<KUInt32>(b[0]) << 24 | static_cast<KUInt32>(b[1]) << 16 | static_cast<KUInt32>(b[2]) << 8 | b[3];
    return static_cast<KUInt32>(b[3]) << 24 | static_cast<KUInt32>(b[2]) << 16 | static_cast<KUInt32>(b[1]) << 8 | b[0];
}

double GetExifValueAsDouble(const void* value, int type, bool bigEndian)
{
    const KUInt8* p = static_cast<const KUInt8*>(value);
    switch (type) {
    case 1:
        return p[0];
    case 3:
        return ReadExifShort(p, bigEndian);
    case 4:
        return ReadExifLong(p, bigEndian);
    case 5:
    case 10: {
        KInt32 num = static_cast<KInt32>(ReadExifLong(p, bigEndian));
        KInt32 den = static_cast<KInt32>(ReadExifLong(p + 4, bigEndian));
        return den == 0 ? 0.0 : static_cast<double>(num) / den;
    }
    case 6:
        return static_cast<int8_t>(p[0]);
    case 8:
        return static_cast<KInt16>(ReadExifShort(p, bigEndian));
    case 9:
        return static_cast<KInt32>(ReadExifLong(p, bigEndian));
    case 11: {
        float f;
        std::memcpy(&f, p, sizeof f);
        return f;
    }
    case 12: {
        double d;
        std::memcpy(&d, p, sizeof d);
        return d;
    }
    default:
        return 0.0;
    }
}

KInt32 ParseExifDateTime(const char* text)
{
    if (!text)
        return 0;
    KInt64 f[6];
    const char* p = text;
    for (int i = 0; i < 6; ++i) {
        if (!ReadField(p, f[i]))
            return 0;
        // Fields 1-2 and 4-5 follow a colon, field 3 white space (which ReadField skips).
        if (i == 0 || i == 1 || i == 3 || i == 4) {
            if (*p != ':')
                return 0;
            ++p;
        }
    }
    // Months outside 1-12 carry into the year, as the C library's normalisation does.
    KInt64 year = f[0], month = f[1] - 1;
    year += month >= 0 ? month / 12 : -((11 - month) / 12);
    month = ((month % 12) + 12) % 12 + 1;
    KInt64 seconds = DaysFromCivil(year, month, 1) * 86400 + (f[2] - 1) * 86400 + f[3] * 3600 + f[4] * 60 + f[5];
    return static_cast<KInt32>(static_cast<KUInt32>(seconds));
}

bool ParseExifIfd(const KUInt8* directory, const KUInt8* base, KUInt32 length, bool bigEndian, KPropTree& tree)
{
    if (!directory || !base || directory < base || static_cast<KUInt64>(directory - base) > length)
        return false;
    WalkContext ctx{base, length, bigEndian, tree, 0};
    return WalkDirectory(ctx, static_cast<KUInt64>(directory - base), DirectoryKind::Standard, 0);
}

bool ParseExifSegment(const KUInt8* data, size_t size, KPropTree& tree)
{
    if (!data || size < 14)
        return false;
    if (std::memcmp(data, "Exif\0\0", 6) != 0 && std::memcmp(data, "Jfif\0\0", 6) != 0)
        return false;
    bool bigEndian;
    if (data[6] == 'I' && data[7] == 'I')
        bigEndian = false;
    else if (data[6] == 'M' && data[7] == 'M')
        bigEndian = true;
    else
        return false;
    if (ReadExifShort(data + 8, bigEndian) != 42 || ReadExifLong(data + 10, bigEndian) != 8)
        return false;
    KUInt64 length = size - 6;
    if (length > 0xFFFFFFFFull)
        length = 0xFFFFFFFFull;
    ParseExifIfd(data + 14, data + 6, static_cast<KUInt32>(length), bigEndian, tree);
    return true;
}
