#include "KTextFunctions.h"

#include <cstring>
#include <new>
#include <optional>

#include "PlatformOS.h"

bool IsUnicodeOS()
{
    static const bool unicode = [] {
        PlatOsVersion v{};
        if (!PlatGetVersion(&v))
            return false;
        return v.platformId == PLAT_OS_PLATFORM_NT;
    }();
    return unicode;
}

namespace {

// Strict UTF-8 decoding of one code point; nullopt on any malformed, overlong or surrogate sequence.
std::optional<char32_t> DecodeUtf8(const unsigned char*& p, const unsigned char* end)
{
    unsigned char b = *p;
    if (b < 0x80) {
        ++p;
        return b;
    }
    int extra;
    char32_t cp;
    if ((b & 0xE0) == 0xC0) {
        extra = 1;
        cp = b & 0x1F;
    } else if ((b & 0xF0) == 0xE0) {
        extra = 2;
        cp = b & 0x0F;
    } else if ((b & 0xF8) == 0xF0) {
        extra = 3;
        cp = b & 0x07;
    } else {
        return std::nullopt;
    }
    if (end - p <= extra)
        return std::nullopt;
    for (int i = 1; i <= extra; ++i) {
        if ((p[i] & 0xC0) != 0x80)
            return std::nullopt;
        cp = (cp << 6) | (p[i] & 0x3F);
    }
    static const char32_t kMin[] = {0, 0x80, 0x800, 0x10000};
    if (cp < kMin[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return std::nullopt;
    p += extra + 1;
    return cp;
}

void AppendUtf16(std::u16string& out, char32_t cp)
{
    if (cp >= 0x10000) {
        cp -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
        out.push_back(static_cast<char16_t>(cp));
    }
}

void AppendUtf8(std::string& out, char32_t cp)
{
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

// UTF-16 to UTF-8; with escapes, lone U+DC80..U+DCFF become the raw bytes. nullopt on other lone surrogates.
std::optional<std::string> Utf16ToUtf8(std::u16string_view w, bool escapes)
{
    std::string out;
    out.reserve(w.size());
    for (size_t i = 0; i < w.size(); ++i) {
        char32_t u = w[i];
        if (u >= 0xD800 && u <= 0xDBFF) {
            if (i + 1 < w.size() && w[i + 1] >= 0xDC00 && w[i + 1] <= 0xDFFF) {
                AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (w[i + 1] - 0xDC00));
                ++i;
                continue;
            }
            return std::nullopt;
        }
        if (u >= 0xDC00 && u <= 0xDFFF) {
            if (escapes && u >= 0xDC80 && u <= 0xDCFF) {
                out.push_back(static_cast<char>(u - 0xDC00));
                continue;
            }
            return std::nullopt;
        }
        AppendUtf8(out, u);
    }
    return out;
}

std::optional<std::u16string> Utf8ToUtf16(std::string_view s, bool escapes)
{
    std::u16string out;
    out.reserve(s.size());
    const unsigned char* p = reinterpret_cast<const unsigned char*>(s.data());
    const unsigned char* end = p + s.size();
    while (p < end) {
        auto cp = DecodeUtf8(p, end);
        if (!cp) {
            if (!escapes)
                return std::nullopt;
            out.push_back(static_cast<char16_t>(0xDC00 + *p));
            ++p;
            continue;
        }
        AppendUtf16(out, *cp);
    }
    return out;
}

}  // namespace

char* NewAnsiFromWide(const KWChar* wide)
{
    if (!wide)
        return nullptr;
    auto utf8 = Utf16ToUtf8(std::u16string_view(wide), false);
    if (!utf8)
        return nullptr;
    char* out = new (std::nothrow) char[utf8->size() + 1];
    if (!out)
        return nullptr;
    std::memcpy(out, utf8->c_str(), utf8->size() + 1);
    return out;
}

KWChar* NewWideFromAnsi(const char* ansi)
{
    if (!ansi)
        return nullptr;
    auto utf16 = Utf8ToUtf16(std::string_view(ansi), false);
    if (!utf16)
        return nullptr;
    KWChar* out = new (std::nothrow) KWChar[utf16->size() + 1];
    if (!out)
        return nullptr;
    std::memcpy(out, utf16->c_str(), (utf16->size() + 1) * sizeof(KWChar));
    return out;
}

bool GetFileExtension(const KWString& name, KWString& extension)
{
    size_t at = name.View().rfind(u'.');
    if (at == std::u16string_view::npos) {
        extension.Clear();
        return false;
    }
    extension = KWString(name.View().substr(at));
    return true;
}

KWString Utf8ToWide(std::string_view utf8)
{
    return KWString(std::u16string_view(*Utf8ToUtf16(utf8, true)));
}

std::string WideToUtf8(std::u16string_view wide)
{
    std::string out;
    out.reserve(wide.size());
    for (size_t i = 0; i < wide.size(); ++i) {
        char32_t u = wide[i];
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 && wide[i + 1] <= 0xDFFF) {
            AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (wide[i + 1] - 0xDC00));
            ++i;
        } else if (u >= 0xDC80 && u <= 0xDCFF) {
            out.push_back(static_cast<char>(u - 0xDC00));
        } else if (u >= 0xD800 && u <= 0xDFFF) {
            AppendUtf8(out, 0xFFFD);  // a lone surrogate has no UTF-8 form
        } else {
            AppendUtf8(out, u);
        }
    }
    return out;
}
