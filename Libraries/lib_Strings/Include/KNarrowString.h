#pragma once
// 8-bit text with printf-style construction: messages, trace texts, property-map keys and values.
#include <cstdarg>
#include <string>

#include "KTypes.h"

class KNarrowString {
public:
    KNarrowString() = default;
    KNarrowString(const KNarrowString& other);
    KNarrowString(KNarrowString&& other) noexcept;
    // Formats the text; a format without '%' is taken as it stands.
    explicit KNarrowString(const char* format, ...) K_PRINTF_FORMAT(2, 3);
    ~KNarrowString() = default;

    // Text taken verbatim (no formatting).
    static KNarrowString FromText(const char* text);

    void FormatV(const char* format, va_list args);

    size_t GetLength() const;
    // Room for at least n characters plus the terminator; the text ends at the first NUL written.
    char* GetBuffer(size_t n);
    const char* CStr() const;
    // Unsigned byte-wise comparison: -1, 0 or 1.
    int Compare(const char* text) const;
    // The byte at index; throws std::out_of_range ("invalid string position") past the end.
    char GetAt(size_t index) const;

    KNarrowString& operator+=(const char* text);
    KNarrowString& operator+=(char c);
    KNarrowString& operator=(const char* text);
    KNarrowString& operator=(const KNarrowString& other);
    KNarrowString& operator=(KNarrowString&& other) noexcept;

    bool operator==(const char* text) const { return Compare(text) == 0; }
    bool operator<(const KNarrowString& other) const { return Compare(other.CStr()) < 0; }

    const std::string& Str() const;

private:
    void priSync() const;

    mutable std::string m_Text;
    mutable bool m_BufferOut = false;  // GetBuffer handed out: length is up to the first NUL
};
