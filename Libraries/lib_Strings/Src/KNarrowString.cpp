#include "KNarrowString.h"

#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <vector>

KNarrowString::KNarrowString(const KNarrowString& other) : m_Text(other.Str()) {}

KNarrowString::KNarrowString(KNarrowString&& other) noexcept
{
    other.priSync();
    m_Text = std::move(other.m_Text);
    other.m_Text.clear();
}

KNarrowString::KNarrowString(const char* format, ...)
{
    if (!format)
        return;
    va_list args;
    va_start(args, format);
    FormatV(format, args);
    va_end(args);
}

KNarrowString KNarrowString::FromText(const char* text)
{
    KNarrowString s;
    s = text;
    return s;
}

void KNarrowString::FormatV(const char* format, va_list args)
{
    m_BufferOut = false;
    if (!format) {
        m_Text.clear();
        return;
    }
    if (!std::strchr(format, '%')) {
        m_Text = format;
        return;
    }
    char local[512];
    va_list copy;
    va_copy(copy, args);
    int n = std::vsnprintf(local, sizeof local, format, copy);
    va_end(copy);
    if (n < 0) {
        m_Text.clear();
        return;
    }
    if (static_cast<size_t>(n) < sizeof local) {
        m_Text.assign(local, static_cast<size_t>(n));
        return;
    }
    std::vector<char> big(static_cast<size_t>(n) + 1);
    std::vsnprintf(big.data(), big.size(), format, args);
    m_Text.assign(big.data(), static_cast<size_t>(n));
}

void KNarrowString::priSync() const
{
    if (m_BufferOut) {
        m_Text.resize(std::strlen(m_Text.c_str()));
        m_BufferOut = false;
    }
}

const std::string& KNarrowString::Str() const
{
    priSync();
    return m_Text;
}

size_t KNarrowString::GetLength() const
{
    return Str().size();
}

char* KNarrowString::GetBuffer(size_t n)
{
    priSync();
    if (m_Text.size() < n)
        m_Text.resize(n, '\0');
    m_BufferOut = true;
    return m_Text.data();
}

const char* KNarrowString::CStr() const
{
    return Str().c_str();
}

int KNarrowString::Compare(const char* text) const
{
    const unsigned char* a = reinterpret_cast<const unsigned char*>(CStr());
    const unsigned char* b = reinterpret_cast<const unsigned char*>(text ? text : "");
    while (*a && *a == *b) {
        ++a;
        ++b;
    }
    if (*a == *b)
        return 0;
    return *a < *b ? -1 : 1;
}

char KNarrowString::GetAt(size_t index) const
{
    if (index >= GetLength())
        throw std::out_of_range("invalid string position");
    return m_Text[index];
}

KNarrowString& KNarrowString::operator+=(const char* text)
{
    priSync();
    if (text)
        m_Text += text;
    return *this;
}

KNarrowString& KNarrowString::operator+=(char c)
{
    priSync();
    m_Text += c;
    return *this;
}

KNarrowString& KNarrowString::operator=(const char* text)
{
    m_BufferOut = false;
    if (text)
        m_Text = text;
    else
        m_Text.clear();
    return *this;
}

KNarrowString& KNarrowString::operator=(const KNarrowString& other)
{
    if (this != &other) {
        m_BufferOut = false;
        m_Text = other.Str();
    }
    return *this;
}

KNarrowString& KNarrowString::operator=(KNarrowString&& other) noexcept
{
    if (this != &other) {
        other.priSync();
        m_BufferOut = false;
        m_Text = std::move(other.m_Text);
        other.m_Text.clear();
    }
    return *this;
}
