#include "PlatformText.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_SYNTHESIS_H
#include FT_TRUETYPE_TABLES_H

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <tuple>
#include <unordered_map>
#include <vector>

#include "PlatformError.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace {

constexpr size_t kMaxFaces = 24;          // open faces kept for later fonts
constexpr size_t kMaxMatches = 32;        // sorted face lists kept for later fonts
constexpr size_t kMaxCandidates = 64;     // faces of one sorted list looked at for fallback
constexpr size_t kMaxGlyphEntries = 4096; // characters remembered by one font
constexpr int32_t kDefaultCellHeight = 16;
constexpr FT_Int32 kLoadFlags = FT_LOAD_TARGET_LIGHT | FT_LOAD_NO_BITMAP;

std::mutex& Lock()
{
    static std::mutex* m = new std::mutex;
    return *m;
}

// One opened face file.
struct Face {
    FT_Face face = nullptr;
    ~Face()
    {
        if (face)
            FT_Done_Face(face);
    }
};

// A face that a match proposes, with what the match asks of it.
struct Candidate {
    std::string file;
    int index = 0;
    FcCharSet* charset = nullptr;  // owned reference
    bool embolden = false;
    bool hasMatrix = false;
    FT_Matrix matrix{};
};

struct Match {
    std::vector<Candidate> candidates;
    ~Match()
    {
        for (Candidate& c : candidates)
            if (c.charset)
                FcCharSetDestroy(c.charset);
    }
};

using MatchKey = std::tuple<std::string, bool, bool, bool>;  // family, bold, italic, Japanese

// The process-wide state; never destroyed, so that fonts deleted late still find it.
struct TextState {
    FT_Library library = nullptr;
    bool fontconfigReady = false;
    std::list<std::pair<std::pair<std::string, int>, std::shared_ptr<Face>>> faces;  // most recent first
    std::list<std::pair<MatchKey, std::shared_ptr<Match>>> matches;                  // most recent first
};

TextState& State()
{
    static TextState* s = new TextState;
    return *s;
}

bool Ready(TextState& s)
{
    if (!s.library && FT_Init_FreeType(&s.library) != 0) {
        s.library = nullptr;
        return false;
    }
    if (!s.fontconfigReady) {
#if defined(__SANITIZE_ADDRESS__)
        // fontconfig's start-up drops a few blocks that no pointer holds; they are made once.
        __lsan_disable();
#endif
        s.fontconfigReady = FcInit() == FcTrue;
#if defined(__SANITIZE_ADDRESS__)
        __lsan_enable();
#endif
    }
    return s.fontconfigReady;
}

std::shared_ptr<Face> OpenFace(TextState& s, const std::string& file, int index)
{
    const std::pair<std::string, int> key(file, index);
    for (auto it = s.faces.begin(); it != s.faces.end(); ++it)
        if (it->first == key) {
            s.faces.splice(s.faces.begin(), s.faces, it);
            return it->second;
        }
    auto face = std::make_shared<Face>();
    if (FT_New_Face(s.library, file.c_str(), index, &face->face) != 0) {
        face->face = nullptr;
        return nullptr;
    }
    if (!FT_IS_SCALABLE(face->face) || face->face->units_per_EM == 0 ||
        FT_Select_Charmap(face->face, FT_ENCODING_UNICODE) != 0)
        return nullptr;
    s.faces.emplace_front(key, face);
    if (s.faces.size() > kMaxFaces)
        s.faces.pop_back();  // fonts that use it keep it open
    return face;
}

std::shared_ptr<Match> FindMatch(TextState& s, const MatchKey& key)
{
    for (auto it = s.matches.begin(); it != s.matches.end(); ++it)
        if (it->first == key) {
            s.matches.splice(s.matches.begin(), s.matches, it);
            return it->second;
        }

    FcPattern* pattern = FcPatternCreate();
    if (!pattern)
        return nullptr;
    const auto& [family, bold, italic, japanese] = key;
    FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
    FcPatternAddInteger(pattern, FC_WEIGHT, bold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
    FcPatternAddInteger(pattern, FC_SLANT, italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
    FcPatternAddBool(pattern, FC_OUTLINE, FcTrue);
    if (japanese)
        FcPatternAddString(pattern, FC_LANG, reinterpret_cast<const FcChar8*>("ja"));
    FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);

    auto match = std::make_shared<Match>();
    FcResult result = FcResultNoMatch;
    FcFontSet* set = FcFontSort(nullptr, pattern, FcTrue, nullptr, &result);
    for (int i = 0; set && i < set->nfont && match->candidates.size() < kMaxCandidates; ++i) {
        FcPattern* font = FcFontRenderPrepare(nullptr, pattern, set->fonts[i]);
        if (!font)
            continue;
        FcChar8* file = nullptr;
        FcBool outline = FcTrue;
        FcPatternGetBool(font, FC_OUTLINE, 0, &outline);
        if (FcPatternGetString(font, FC_FILE, 0, &file) == FcResultMatch && file && outline) {
            Candidate c;
            c.file = reinterpret_cast<const char*>(file);
            FcPatternGetInteger(font, FC_INDEX, 0, &c.index);
            FcCharSet* charset = nullptr;
            if (FcPatternGetCharSet(font, FC_CHARSET, 0, &charset) == FcResultMatch && charset)
                c.charset = FcCharSetCopy(charset);
            FcBool embolden = FcFalse;
            if (FcPatternGetBool(font, FC_EMBOLDEN, 0, &embolden) == FcResultMatch)
                c.embolden = embolden == FcTrue;
            FcMatrix* m = nullptr;
            if (FcPatternGetMatrix(font, FC_MATRIX, 0, &m) == FcResultMatch && m &&
                (m->xx != 1 || m->xy != 0 || m->yx != 0 || m->yy != 1)) {
                c.hasMatrix = true;
                c.matrix.xx = static_cast<FT_Fixed>(std::lround(m->xx * 65536.0));
                c.matrix.xy = static_cast<FT_Fixed>(std::lround(m->xy * 65536.0));
                c.matrix.yx = static_cast<FT_Fixed>(std::lround(m->yx * 65536.0));
                c.matrix.yy = static_cast<FT_Fixed>(std::lround(m->yy * 65536.0));
            }
            match->candidates.push_back(std::move(c));
        }
        FcPatternDestroy(font);
    }
    if (set)
        FcFontSetDestroy(set);
    FcPatternDestroy(pattern);

    s.matches.emplace_front(key, match);
    if (s.matches.size() > kMaxMatches)
        s.matches.pop_back();
    return match;
}

std::string Utf8FromUtf16(const char16_t* text)
{
    std::string out;
    for (size_t i = 0; text[i] != 0; ++i) {
        uint32_t c = text[i];
        if (c >= 0xD800 && c < 0xDC00 && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c < 0xE000) {
            c = 0xFFFD;
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

// One character of a text: its code point and how many UTF-16 units it took.
struct CodeUnit {
    uint32_t codePoint;
    int units;
};

CodeUnit NextCharacter(const char16_t* text, int32_t length, int32_t i)
{
    const uint32_t c = text[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < length && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000)
        return {0x10000 + ((c - 0xD800) << 10) + (static_cast<uint32_t>(text[i + 1]) - 0xDC00), 2};
    if (c >= 0xD800 && c < 0xE000)
        return {0xFFFD, 1};
    return {c, 1};
}

int32_t RoundDiv(int64_t numerator, int64_t denominator)
{
    // Rounds half away from zero; denominator > 0.
    const int64_t q = numerator >= 0 ? (numerator + denominator / 2) / denominator
                                     : -((-numerator + denominator / 2) / denominator);
    return static_cast<int32_t>(q);
}

}  // namespace

struct PlatFont {
    struct Slot {
        const Candidate* candidate = nullptr;  // owned by match
        std::shared_ptr<Face> face;            // null until first needed; failed marks a face that won't open
        bool failed = false;
    };
    struct Glyph {
        int slot;
        FT_UInt index;
        int32_t advance;
    };

    std::shared_ptr<Match> match;
    std::vector<Slot> slots;
    FT_F26Dot6 emSize = 0;  // pixels per em, 26.6
    bool underline = false;
    PlatTextMetrics metrics{};
    int32_t underlineTop = 0;
    int32_t underlineThickness = 0;
    std::unordered_map<uint32_t, Glyph> glyphs;

    // The face of slot i sized for this font, or null.
    FT_Face Use(TextState& s, size_t i)
    {
        Slot& slot = slots[i];
        if (slot.failed)
            return nullptr;
        if (!slot.face) {
            slot.face = OpenFace(s, slot.candidate->file, slot.candidate->index);
            if (!slot.face) {
                slot.failed = true;
                return nullptr;
            }
        }
        FT_Face face = slot.face->face;
        if (FT_Set_Char_Size(face, 0, emSize, 72, 72) != 0) {
            slot.failed = true;
            return nullptr;
        }
        FT_Set_Transform(face, slot.candidate->hasMatrix ? const_cast<FT_Matrix*>(&slot.candidate->matrix) : nullptr,
                         nullptr);
        return face;
    }

    // Loads the glyph into its face's slot (emboldened when asked); the face or null.
    FT_Face Load(TextState& s, const Glyph& g)
    {
        FT_Face face = Use(s, static_cast<size_t>(g.slot));
        if (!face || FT_Load_Glyph(face, g.index, kLoadFlags) != 0)
            return nullptr;
        if (slots[static_cast<size_t>(g.slot)].candidate->embolden)
            FT_GlyphSlot_Embolden(face->glyph);
        return face;
    }

    Glyph Find(TextState& s, uint32_t codePoint)
    {
        auto it = glyphs.find(codePoint);
        if (it != glyphs.end())
            return it->second;
        Glyph g{0, 0, 0};
        for (size_t i = 0; i < slots.size(); ++i) {
            const Candidate* c = slots[i].candidate;
            if (c->charset && !FcCharSetHasChar(c->charset, codePoint))
                continue;
            FT_Face face = Use(s, i);
            if (!face)
                continue;
            const FT_UInt index = FT_Get_Char_Index(face, codePoint);
            if (index != 0) {
                g = Glyph{static_cast<int>(i), index, 0};
                break;
            }
        }
        if (FT_Face face = Load(s, g))
            g.advance = static_cast<int32_t>((face->glyph->advance.x + 32) >> 6);
        if (glyphs.size() >= kMaxGlyphEntries)
            glyphs.clear();
        glyphs.emplace(codePoint, g);
        return g;
    }
};

PlatFont* PlatCreateFont(const char16_t* faceName, int32_t height, uint32_t weight, bool italic, bool underline,
                         uint32_t charSet)
{
    if (!faceName || faceName[0] == 0 || height > kPlatMaxFontHeight || height < -kPlatMaxFontHeight) {
        PlatSetLastError(PLAT_ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (height == 0)
        height = kDefaultCellHeight;
    std::lock_guard<std::mutex> guard(Lock());
    TextState& s = State();
    if (!Ready(s)) {
        PlatSetLastError(PLAT_ERROR_GEN_FAILURE);
        return nullptr;
    }
    const MatchKey key(Utf8FromUtf16(faceName), weight >= PLAT_FW_BOLD, italic, charSet == PLAT_SHIFTJIS_CHARSET);
    std::shared_ptr<Match> match = FindMatch(s, key);
    if (!match || match->candidates.empty()) {
        PlatSetLastError(PLAT_ERROR_FILE_NOT_FOUND);
        return nullptr;
    }

    auto font = std::make_unique<PlatFont>();
    font->match = match;
    font->underline = underline;
    for (const Candidate& c : match->candidates)
        font->slots.push_back(PlatFont::Slot{&c, nullptr, false});

    // The first face that opens sets the sizes.
    size_t primary = 0;
    FT_Face face = nullptr;
    for (; primary < font->slots.size(); ++primary) {
        Candidate const* c = font->slots[primary].candidate;
        font->slots[primary].face = OpenFace(s, c->file, c->index);
        if (font->slots[primary].face) {
            face = font->slots[primary].face->face;
            break;
        }
        font->slots[primary].failed = true;
    }
    if (!face) {
        PlatSetLastError(PLAT_ERROR_FILE_NOT_FOUND);
        return nullptr;
    }
    if (primary > 0)
        font->slots.erase(font->slots.begin(), font->slots.begin() + static_cast<ptrdiff_t>(primary));

    const int64_t unitsPerEm = face->units_per_EM;
    const auto* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
    int64_t ascender = 0, descender = 0;
    if (os2 && os2->version != 0xFFFF && os2->usWinAscent + os2->usWinDescent > 0) {
        ascender = os2->usWinAscent;
        descender = os2->usWinDescent;
    } else {
        ascender = face->ascender;
        descender = -static_cast<int64_t>(face->descender);
    }
    if (ascender + descender <= 0) {
        ascender = unitsPerEm * 4 / 5;
        descender = unitsPerEm - ascender;
    }

    PlatTextMetrics& m = font->metrics;
    if (height > 0) {
        m.height = height;
        m.ascent = RoundDiv(ascender * height, ascender + descender);
        m.descent = height - m.ascent;
        font->emSize = static_cast<FT_F26Dot6>(RoundDiv(int64_t(height) * 64 * unitsPerEm, ascender + descender));
    } else {
        const int64_t em = -static_cast<int64_t>(height);
        m.ascent = RoundDiv(ascender * em, unitsPerEm);
        m.descent = RoundDiv(descender * em, unitsPerEm);
        m.height = m.ascent + m.descent;
        font->emSize = static_cast<FT_F26Dot6>(em * 64);
    }
    font->emSize = std::max<FT_F26Dot6>(font->emSize, 64);
    const int64_t emPixels64 = font->emSize;  // 26.6

    if (os2 && os2->version != 0xFFFF && os2->xAvgCharWidth > 0)
        m.aveCharWidth = RoundDiv(int64_t(os2->xAvgCharWidth) * emPixels64, unitsPerEm * 64);
    else
        m.aveCharWidth = font->Find(s, 'x').advance;

    const int64_t thickness = face->underline_thickness > 0 ? face->underline_thickness : unitsPerEm / 14;
    font->underlineThickness = std::max(1, RoundDiv(thickness * emPixels64, unitsPerEm * 64));
    const int32_t centre = m.ascent - RoundDiv(int64_t(face->underline_position) * emPixels64, unitsPerEm * 64);
    font->underlineTop = centre - font->underlineThickness / 2;
    return font.release();
}

void PlatDeleteFont(PlatFont* font)
{
    if (!font)
        return;
    std::lock_guard<std::mutex> guard(Lock());
    delete font;
}

bool PlatGetTextMetrics(PlatFont* font, PlatTextMetrics* metrics)
{
    if (!font || !metrics) {
        PlatSetLastError(PLAT_ERROR_INVALID_PARAMETER);
        return false;
    }
    *metrics = font->metrics;
    return true;
}

bool PlatGetTextPrefixWidths(PlatFont* font, const char16_t* text, int32_t length, int32_t* widths)
{
    if (!font || length < 0 || (length > 0 && (!text || !widths))) {
        PlatSetLastError(PLAT_ERROR_INVALID_PARAMETER);
        return false;
    }
    std::lock_guard<std::mutex> guard(Lock());
    TextState& s = State();
    int64_t x = 0;
    for (int32_t i = 0; i < length;) {
        const CodeUnit c = NextCharacter(text, length, i);
        if (c.units == 2)
            widths[i] = static_cast<int32_t>(std::min<int64_t>(x, INT32_MAX));
        x += font->Find(s, c.codePoint).advance;
        widths[i + c.units - 1] = static_cast<int32_t>(std::min<int64_t>(x, INT32_MAX));
        i += c.units;
    }
    return true;
}

bool PlatGetTextExtent(PlatFont* font, const char16_t* text, int32_t length, int32_t* cx, int32_t* cy)
{
    if (!font || length < 0 || (length > 0 && !text)) {
        PlatSetLastError(PLAT_ERROR_INVALID_PARAMETER);
        return false;
    }
    std::lock_guard<std::mutex> guard(Lock());
    TextState& s = State();
    int64_t x = 0;
    for (int32_t i = 0; i < length;) {
        const CodeUnit c = NextCharacter(text, length, i);
        x += font->Find(s, c.codePoint).advance;
        i += c.units;
    }
    if (cx)
        *cx = static_cast<int32_t>(std::min<int64_t>(x, INT32_MAX));
    if (cy)
        *cy = font->metrics.height;
    return true;
}

namespace {

void Lighten(uint8_t* pixel, uint8_t coverage)
{
    for (int k = 0; k < 3; ++k)
        pixel[k] = std::max(pixel[k], coverage);
}

void BlitCoverage(const FT_Bitmap& bitmap, int64_t left, int64_t top, uint8_t* pixels, int32_t width,
                  int32_t height, int32_t rowBytes)
{
    for (unsigned row = 0; row < bitmap.rows; ++row) {
        const int64_t y = top + row;
        if (y < 0 || y >= height)
            continue;
        const unsigned char* src = bitmap.buffer + static_cast<ptrdiff_t>(row) * bitmap.pitch;
        if (bitmap.pitch < 0)
            src = bitmap.buffer + static_cast<ptrdiff_t>(bitmap.rows - 1 - row) * -bitmap.pitch;
        uint8_t* dst = pixels + static_cast<ptrdiff_t>(y) * rowBytes;
        for (unsigned col = 0; col < bitmap.width; ++col) {
            const int64_t x = left + col;
            if (x < 0 || x >= width)
                continue;
            uint8_t coverage = 0;
            if (bitmap.pixel_mode == FT_PIXEL_MODE_GRAY)
                coverage = static_cast<uint8_t>(bitmap.num_grays == 256 ? src[col] : src[col] * 255 / (bitmap.num_grays - 1));
            else if (bitmap.pixel_mode == FT_PIXEL_MODE_MONO)
                coverage = (src[col >> 3] & (0x80 >> (col & 7))) ? 255 : 0;
            Lighten(dst + x * 4, coverage);
        }
    }
}

}  // namespace

bool PlatDrawText(PlatFont* font, const char16_t* text, int32_t length, uint8_t* pixels, int32_t width,
                  int32_t height, int32_t rowBytes, int32_t x, int32_t y)
{
    if (!font || length < 0 || (length > 0 && !text) || !pixels || width < 0 || height < 0 ||
        (height > 0 && int64_t(rowBytes) < int64_t(width) * 4)) {
        PlatSetLastError(PLAT_ERROR_INVALID_PARAMETER);
        return false;
    }
    std::lock_guard<std::mutex> guard(Lock());
    TextState& s = State();
    const int64_t baseline = int64_t(y) + font->metrics.ascent;
    int64_t pen = x;
    for (int32_t i = 0; i < length;) {
        const CodeUnit c = NextCharacter(text, length, i);
        i += c.units;
        const PlatFont::Glyph g = font->Find(s, c.codePoint);
        if (pen < width && pen + g.advance + font->metrics.height > 0) {  // glyphs may overhang their advance
            FT_Face face = font->Load(s, g);
            if (face && FT_Render_Glyph(face->glyph, FT_RENDER_MODE_LIGHT) == 0)
                BlitCoverage(face->glyph->bitmap, pen + face->glyph->bitmap_left, baseline - face->glyph->bitmap_top,
                             pixels, width, height, rowBytes);
        }
        pen += g.advance;
    }
    if (font->underline) {
        const int64_t from = std::max<int64_t>(x, 0), to = std::min<int64_t>(pen, width);
        for (int32_t row = 0; row < font->underlineThickness; ++row) {
            const int64_t yy = int64_t(y) + font->underlineTop + row;
            if (yy < 0 || yy >= height)
                continue;
            for (int64_t xx = from; xx < to; ++xx)
                Lighten(pixels + yy * rowBytes + xx * 4, 255);
        }
    }
    return true;
}

uint16_t PlatGetUserDefaultLangID()
{
    const char* names[] = {"LC_ALL", "LC_CTYPE", "LANG"};
    for (const char* name : names) {
        const char* value = std::getenv(name);
        if (value && *value)
            return (std::strncmp(value, "ja", 2) == 0 && (value[2] == 0 || value[2] == '_' || value[2] == '.' || value[2] == '@'))
                       ? 0x0411
                       : 0x0409;
    }
    return 0x0409;
}
