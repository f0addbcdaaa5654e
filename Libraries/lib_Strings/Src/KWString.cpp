#include "KWString.h"

#include <cctype>
#include <cstdio>
#include <mutex>

#include <unicode/coll.h>
#include <unicode/locid.h>
#include <unicode/ucol.h>

namespace {

KWChar Widen(char c)
{
    // Sign extension: bytes 128..255 become 0xFF80..0xFFFF.
    return static_cast<KWChar>(static_cast<int16_t>(static_cast<signed char>(c)));
}

KWChar FoldUnit(KWChar u)
{
    return u < 128 ? static_cast<KWChar>(std::toupper(u)) : u;
}

std::u16string WidenText(const char* text)
{
    std::u16string out;
    if (text)
        for (; *text; ++text)
            out.push_back(Widen(*text));
    return out;
}

}  // namespace

KWString::KWString(const char* text) : m_Text(WidenText(text)) {}

KWString::KWString(const KWChar* text)
{
    if (text)
        m_Text = text;
}

KWString::KWString(const KWChar* first, const KWChar* last)
{
    Assign(first, last);
}

KWString::KWString(const char* first, const char* last)
{
    Assign(first, last);
}

KWString& KWString::operator=(const char* text)
{
    m_Text = WidenText(text);
    return *this;
}

KWString& KWString::operator=(const KWChar* text)
{
    if (!text)
        m_Text.clear();
    else if (text != m_Text.c_str())
        m_Text = text;
    return *this;
}

KWString& KWString::operator=(const KWString& other)
{
    if (this != &other)
        m_Text = other.m_Text;
    return *this;
}

KWString& KWString::operator=(KWString&& other) noexcept
{
    if (this != &other)
        m_Text = std::move(other.m_Text);
    return *this;
}

void KWString::Assign(const char* text)
{
    *this = text;
}

void KWString::Assign(const KWChar* first, const KWChar* last)
{
    if (!first || !last || last < first) {
        m_Text.clear();
        return;
    }
    m_Text.assign(first, static_cast<size_t>(last - first) + 1);
}

void KWString::Assign(const char* first, const char* last)
{
    m_Text.clear();
    if (!first || !last || last < first)
        return;
    for (const char* p = first; p <= last; ++p)
        m_Text.push_back(Widen(*p));
}

void KWString::Clear()
{
    m_Text.clear();
}

KWString& KWString::operator+=(const char* text)
{
    m_Text += WidenText(text);
    return *this;
}

KWString& KWString::operator+=(const KWChar* text)
{
    if (text)
        m_Text += text;
    return *this;
}

KWString& KWString::operator+=(const KWString& other)
{
    m_Text += other.m_Text;
    return *this;
}

KWString& KWString::operator+=(char c)
{
    return *this += Widen(c);
}

KWString& KWString::operator+=(KWChar c)
{
    if (c == 0)
        return *this;
    if (c == 8) {
        if (!m_Text.empty())
            m_Text.pop_back();
        return *this;
    }
    m_Text.push_back(c);
    return *this;
}

void KWString::AppendChar(KWChar c)
{
    m_Text.push_back(c);
}

void KWString::Insert(KWChar c, size_t position)
{
    if (position > m_Text.size())
        position = m_Text.size();
    m_Text.insert(m_Text.begin() + static_cast<std::ptrdiff_t>(position), c);
}

void KWString::Insert(const KWChar* text, size_t position)
{
    if (!text || !*text)
        return;
    if (position > m_Text.size())
        position = m_Text.size();
    m_Text.insert(position, text);
}

void KWString::Erase(size_t position, size_t count)
{
    if (count == 0 || position > m_Text.size())
        return;
    m_Text.erase(position, count);  // clamps count to what remains
}

void KWString::RemoveFromEnd(size_t count)
{
    if (count <= m_Text.size())
        m_Text.resize(m_Text.size() - count);
}

void KWString::ToLower()
{
    for (auto& u : m_Text)
        if (u < 128)
            u = static_cast<KWChar>(std::tolower(u));
}

void KWString::FormatByteSize(KInt64 bytes)
{
    static const char* const kFormats[] = {"%.3g B", "%.3g KB", "%.3g MB", "%.3g GB", "%.3g TB"};
    double value = bytes <= 0 ? 0.0 : static_cast<double>(bytes);
    int steps = 0;
    while (value >= 1024.0 && steps < 4) {
        value *= 1.0 / 1024.0;
        ++steps;
    }
    char text[64];
    std::snprintf(text, sizeof text, kFormats[steps], value);
    *this = text;
}

KWChar& KWString::operator[](size_t index)
{
    if (index < m_Text.size())
        return m_Text[index];
    thread_local KWChar zero;
    zero = 0;
    return zero;
}

KWChar KWString::operator[](size_t index) const
{
    return index < m_Text.size() ? m_Text[index] : 0;
}

const char* KWString::GetAscii() const
{
    m_Narrow.resize(m_Text.size());
    for (size_t i = 0; i < m_Text.size(); ++i)
        m_Narrow[i] = m_Text[i] < 127 ? static_cast<char>(m_Text[i]) : '?';
    return m_Narrow.c_str();
}

const KWChar* KWString::Find(const KWString& other) const
{
    if (m_Text.empty() || other.m_Text.empty())
        return nullptr;
    size_t at = m_Text.find(other.m_Text);
    return at == std::u16string::npos ? nullptr : m_Text.c_str() + at;
}

bool KWString::Split(const KWString& separator, KWString& head, KWString& tail) const
{
    if (m_Text.empty() || separator.m_Text.empty())
        return false;
    // Work on a copy: head or tail may be this string.
    std::u16string text = m_Text;
    head.Clear();
    tail.Clear();
    size_t at = text.find(separator.m_Text);
    if (at == std::u16string::npos)
        return false;
    head.m_Text = text.substr(0, at);
    tail.m_Text = text.substr(at + separator.m_Text.size());
    return true;
}

bool KWString::Split(const KWChar* separator, KWString& head, KWString& tail) const
{
    return Split(KWString(separator), head, tail);
}

bool KWString::operator==(const KWChar* text) const
{
    if (!text)
        return m_Text.empty();
    return m_Text == text;
}

bool KWString::operator==(const char* text) const
{
    if (!text)
        return m_Text.empty();
    size_t i = 0;
    for (; i < m_Text.size(); ++i, ++text) {
        if (!*text || Widen(*text) != m_Text[i])
            return false;
    }
    return *text == 0;
}

int KWString::CompareNoCase(const KWChar* text) const
{
    const KWChar* a = m_Text.c_str();
    const KWChar* b = text ? text : u"";
    while (*a && FoldUnit(*a) == FoldUnit(*b)) {
        ++a;
        ++b;
    }
    return static_cast<int>(FoldUnit(*a)) - static_cast<int>(FoldUnit(*b));
}

int KWString::CompareNoCase(const char* text) const
{
    return WideStrCompareNoCase(m_Text.c_str(), text);
}

KWString operator+(const KWString& a, const KWString& b)
{
    KWString r(a);
    r += b;
    return r;
}

bool EqualsNoCase(const KWString& a, const KWString& b)
{
    return a.CompareNoCase(b.c_str()) == 0;
}

namespace {

// One collator for the process: ICU's compare is safe to call from several threads on a const collator.
const icu::Collator* SharedCollator()
{
    static const icu::Collator* collator = [] {
        UErrorCode status = U_ZERO_ERROR;
        icu::Collator* c = icu::Collator::createInstance(icu::Locale::getRoot(), status);
        if (U_FAILURE(status) || !c)
            return static_cast<icu::Collator*>(nullptr);
        c->setStrength(icu::Collator::SECONDARY);
        return c;
    }();
    return collator;
}

}  // namespace

int LocaleCompareNoCase(const KWString& a, const KWString& b)
{
    if (const icu::Collator* c = SharedCollator()) {
        UErrorCode status = U_ZERO_ERROR;
        UCollationResult r = c->compare(reinterpret_cast<const UChar*>(a.c_str()), static_cast<int32_t>(a.GetLength()),
                                        reinterpret_cast<const UChar*>(b.c_str()), static_cast<int32_t>(b.GetLength()),
                                        status);
        if (U_SUCCESS(status))
            return r < 0 ? -1 : (r > 0 ? 1 : 0);
    }
    int r = a.CompareNoCase(b.c_str());
    return r < 0 ? -1 : (r > 0 ? 1 : 0);
}

int WideStrCompareNoCase(const KWChar* wide, const char* narrow)
{
    const KWChar* a = wide ? wide : u"";
    const char* b = narrow ? narrow : "";
    while (*a && FoldUnit(*a) == FoldUnit(Widen(*b))) {
        ++a;
        ++b;
    }
    return static_cast<int>(FoldUnit(*a)) - static_cast<int>(FoldUnit(Widen(*b)));
}

int WideStrCompareN(const KWChar* a, const KWChar* b, size_t n)
{
    for (size_t i = 0; i < n; ++i) {
        if (a[i] != b[i])
            return a[i] < b[i] ? -1 : 1;
    }
    return 0;
}

size_t SafeWideStrLen(const KWChar* p)
{
    return p ? WideStrLen(p) : 0;
}

size_t WideStrLen(const KWChar* p)
{
    size_t n = 0;
    while (p[n])
        ++n;
    return n;
}

KWChar* WideStrCopy(KWChar* dst, const KWChar* src)
{
    KWChar* d = dst;
    while ((*d++ = *src++) != 0) {
    }
    return dst;
}

void WideToAscii(const KWChar* src, char* dst, size_t size)
{
    if (!dst || size == 0)
        return;
    size_t i = 0;
    if (src)
        for (; i + 1 < size && src[i]; ++i)
            dst[i] = src[i] < 128 ? static_cast<char>(src[i]) : '?';
    dst[i] = 0;
}
