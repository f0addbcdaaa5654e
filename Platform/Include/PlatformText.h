#pragma once
// Fonts and lines of text for the user interface. fontconfig finds the faces by family, weight, slant and
// language; FreeType measures and draws the glyphs; the glyphs are composited here into 32-bit memory
// (bytes B, G, R, A), so that every window backend shows the same pixels.
//
// A font is a sorted list of faces: the first is the best match for the family; a character that face lacks
// comes from the next face of the list that has it. Unknown families are substituted, so only an empty name
// fails. Synthetic bold and oblique are applied where the match asks for them.
//
// Heights follow the usual rule of the system: a positive height is the cell height (the face's ascent plus
// descent scaled to that sum), a negative one the em height, 0 a default cell of 16 pixels. Advances are
// hinted whole pixels; there is no kerning or shaping. Text is UTF-16; an unpaired surrogate stands for
// U+FFFD.
//
// Every function may be called from any thread; the faces and matches are kept in bounded caches.
#include <cstdint>

struct PlatFont;

enum : uint32_t {
    PLAT_FW_NORMAL = 400,
    PLAT_FW_BOLD = 700,  // this weight and above ask for a bold face
};

enum : uint32_t {
    PLAT_DEFAULT_CHARSET = 1,
    PLAT_SHIFTJIS_CHARSET = 128,  // prefer faces that cover Japanese
};

// Heights beyond this many pixels, either sign, make no font.
constexpr int32_t kPlatMaxFontHeight = 4096;

struct PlatTextMetrics {
    int32_t height;        // cell height: ascent + descent
    int32_t ascent;        // baseline below the cell's top
    int32_t descent;
    int32_t aveCharWidth;  // the face's average character width, scaled
};

// A font of the family faceName (zero-terminated UTF-16). Null (PLAT_ERROR_INVALID_PARAMETER) for a null or
// empty name or a height out of range; null (PLAT_ERROR_FILE_NOT_FOUND) when no face at all is found.
PlatFont* PlatCreateFont(const char16_t* faceName, int32_t height, uint32_t weight, bool italic, bool underline,
                         uint32_t charSet);
// Null is ignored.
void PlatDeleteFont(PlatFont* font);

bool PlatGetTextMetrics(PlatFont* font, PlatTextMetrics* metrics);

// The extent of length units of text: cx the sum of the advances, cy the cell height.
bool PlatGetTextExtent(PlatFont* font, const char16_t* text, int32_t length, int32_t* cx, int32_t* cy);

// widths[i] = the extent of the first i + 1 units (the first unit of a surrogate pair repeats the width
// before it).
bool PlatGetTextPrefixWidths(PlatFont* font, const char16_t* text, int32_t length, int32_t* widths);

// Draws the line with its cell's top-left corner at (x, y) into the pixels (width x height, rowBytes a row,
// 4 bytes a pixel B, G, R, A), antialiased: each pixel's B, G and R become the larger of what they hold and
// the glyph coverage (white text); alpha is left as it is. The underline, when the font has one, is drawn
// at the face's position and thickness under the whole line. Clipped to the pixels.
bool PlatDrawText(PlatFont* font, const char16_t* text, int32_t length, uint8_t* pixels, int32_t width,
                  int32_t height, int32_t rowBytes, int32_t x, int32_t y);

// The user's language, as a language id (0x0411 Japanese, 0x0409 otherwise), from the first of LC_ALL,
// LC_CTYPE and LANG that is set.
uint16_t PlatGetUserDefaultLangID();
