#include "KDebug.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>
#include <vector>

#include "KException.h"
#include "KNarrowString.h"

namespace {

std::mutex& SinkMutex()
{
    static std::mutex m;
    return m;
}

std::vector<KTraceCapture*>& Captures()
{
    static std::vector<KTraceCapture*> c;
    return c;
}

bool TraceToStderr()
{
    static const bool on = [] {
        const char* v = std::getenv("LUMO_TRACE");
        return v && *v && std::strcmp(v, "0") != 0;
    }();
    return on;
}

}  // namespace

void DebugTraceText(const char* text)
{
    if (!text)
        return;
    std::lock_guard<std::mutex> lock(SinkMutex());
    for (KTraceCapture* c : Captures())
        c->priAppend(text);
    if (TraceToStderr())
        std::fputs(text, stderr);
}

int DebugTraceV(const char* format, va_list args)
{
    KNarrowString text;
    text.FormatV(format, args);
    DebugTraceText(text.CStr());
    return static_cast<int>(text.GetLength());
}

int DebugTrace(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    int n = DebugTraceV(format, args);
    va_end(args);
    return n;
}

void AssertionFailed(const char* file, int line, const char* test, unsigned flags, KUInt32 param)
{
    const bool assumption = (flags & K_ASSERT_ASSUMPTION) != 0;
    KNarrowString report;
    report = assumption ? "\nASSUMPTION FAILED\n" : "\nASSERTION FAILED\n";
    report += KNarrowString("\tFile:  %s\n\tLine:  %d\n\tTest:  %s\n", file ? file : "?", line, test ? test : "?").CStr();
    if (flags & K_ASSERT_HAS_PARAM)
        report += KNarrowString("\tParam: 0x%08X = %d\n", param, static_cast<KInt32>(param)).CStr();
    DebugTraceText(report.CStr());
    if (!assumption)
        throw KException(report.CStr());
}

const char* KSourceModule(const char* path)
{
    if (!path)
        return nullptr;
    std::string p(path);
    size_t at = p.rfind("Libraries/");
    if (at != std::string::npos) {
        p = p.substr(at);
    } else {
        size_t slash = p.rfind('/');
        if (slash != std::string::npos)
            p = p.substr(slash + 1);
    }
    size_t dot = p.rfind('.');
    size_t lastSep = p.rfind('/');
    if (dot != std::string::npos && (lastSep == std::string::npos || dot > lastSep))
        p.resize(dot);
    std::replace(p.begin(), p.end(), '/', '\\');
    // Interned: the pointer stays valid for the life of the process.
    static std::mutex m;
    static std::set<std::string> names;
    std::lock_guard<std::mutex> lock(m);
    return names.insert(p).first->c_str();
}

KTraceCapture::KTraceCapture()
{
    std::lock_guard<std::mutex> lock(SinkMutex());
    Captures().push_back(this);
}

KTraceCapture::~KTraceCapture()
{
    std::lock_guard<std::mutex> lock(SinkMutex());
    auto& c = Captures();
    c.erase(std::remove(c.begin(), c.end(), this), c.end());
}

void KTraceCapture::priAppend(const char* text)
{
    m_Text += text;
}

std::string KTraceCapture::Text() const
{
    std::lock_guard<std::mutex> lock(SinkMutex());
    return m_Text;
}

bool KTraceCapture::Contains(const std::string& piece) const
{
    return Text().find(piece) != std::string::npos;
}

void KTraceCapture::Clear()
{
    std::lock_guard<std::mutex> lock(SinkMutex());
    m_Text.clear();
}
