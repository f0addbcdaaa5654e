#pragma once
// UTF-16 text with value semantics: names, paths, URLs, UI texts and property-tree names, keys and values.
// Units are never interpreted as surrogate pairs; every operation counts single 16-bit units.
// Narrow text converts by sign extension of each byte (0xE9 becomes 0xFFE9); GetAscii narrows to 7 bits.
#include <string>
#include <string_view>

#include "KTypes.h"

class KWString {
public:
    KWString() = default;
    KWString(const char* text);
    KWString(const KWChar* text);
    // Inclusive ranges: last = first - 1 gives an empty string.
    KWString(const KWChar* first, const KWChar* last);
    KWString(const char* first, const char* last);
    KWString(const KWString& other) : m_Text(other.m_Text) {}
    KWString(KWString&& other) noexcept : m_Text(std::move(other.m_Text)) {}
    explicit KWString(std::u16string_view text) : m_Text(text) {}

    KWString& operator=(const char* text);
    KWString& operator=(const KWChar* text);
    KWString& operator=(const KWString& other);
    KWString& operator=(KWString&& other) noexcept;
    void Assign(const char* text);
    void Assign(const KWChar* first, const KWChar* last);
    void Assign(const char* first, const char* last);
    void Clear();

    KWString& operator+=(const char* text);
    KWString& operator+=(const KWChar* text);
    KWString& operator+=(const KWString& other);
    // 0 does nothing; 8 (backspace) removes the last unit; anything else is appended.
    KWString& operator+=(char c);
    KWString& operator+=(KWChar c);
    void AppendChar(KWChar c);

    void Insert(KWChar c, size_t position);
    void Insert(const KWChar* text, size_t position);
    void Erase(size_t position, size_t count);
    void RemoveFromEnd(size_t count);
    void ToLower();
    void FormatByteSize(KInt64 bytes);

    size_t GetLength() const { return m_Text.size(); }
    bool IsEmpty() const { return m_Text.empty(); }
    const KWChar* GetBuffer() const { return m_Text.c_str(); }
    const KWChar* c_str() const { return m_Text.c_str(); }
    std::u16string_view View() const { return m_Text; }
    const std::u16string& Str() const { return m_Text; }

    // Index past the end reads as 0 (a reference to a scratch zero unit).
    KWChar& operator[](size_t index);
    KWChar operator[](size_t index) const;

    // 7-bit copy (units >= 127 become '?'), valid until the string changes.
    const char* GetAscii() const;

    const KWChar* Find(const KWString& other) const;
    bool Split(const KWString& separator, KWString& head, KWString& tail) const;
    bool Split(const KWChar* separator, KWString& head, KWString& tail) const;

    bool operator==(const KWChar* text) const;
    bool operator==(const char* text) const;
    bool operator==(const KWString& other) const { return m_Text == other.m_Text; }
    bool operator!=(const KWString& other) const { return m_Text != other.m_Text; }
    bool operator!=(const KWChar* text) const { return !(*this == text); }
    bool operator!=(const char* text) const { return !(*this == text); }

    int CompareNoCase(const KWChar* text) const;
    int CompareNoCase(const char* text) const;

private:
    std::u16string m_Text;
    mutable std::string m_Narrow;
};

KWString operator+(const KWString& a, const KWString& b);

bool EqualsNoCase(const KWString& a, const KWString& b);
// Case-insensitive, accent-aware comparison for sorting names: -1, 0 or 1.
int LocaleCompareNoCase(const KWString& a, const KWString& b);
int WideStrCompareNoCase(const KWChar* wide, const char* narrow);
int WideStrCompareN(const KWChar* a, const KWChar* b, size_t n);
size_t SafeWideStrLen(const KWChar* p);
size_t WideStrLen(const KWChar* p);
KWChar* WideStrCopy(KWChar* dst, const KWChar* src);
void WideToAscii(const KWChar* src, char* dst, size_t size);
