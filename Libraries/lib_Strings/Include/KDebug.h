#pragma once
// Diagnostic trace and the assertion reporter.
//
// DebugTrace hands its text to one sink. The sink discards it unless the environment variable LUMO_TRACE is
// set (to anything but "0"), which sends it to stderr. Tests can capture traces with KTraceCapture.
#include <cstdarg>
#include <string>

#include "KTypes.h"

int DebugTrace(const char* format, ...) K_PRINTF_FORMAT(1, 2);
int DebugTraceV(const char* format, va_list args);
// Hands text to the sink as it stands (not a format).
void DebugTraceText(const char* text);

enum : unsigned {
    K_ASSERT_ASSUMPTION = 1,  // report only
    K_ASSERT_HAS_PARAM = 2,   // the report carries param
};

// Reports a failed check; an assertion (flags bit 0 clear) then throws KException with the report as message.
void AssertionFailed(const char* file, int line, const char* test, unsigned flags, KUInt32 param);

// The module name of a source path: from its "Libraries/" folder on, backslashes, no extension
// ("Libraries\lib_Strings\Src\KPropTree"); the bare file name outside Libraries/.
const char* KSourceModule(const char* path);

#define KASSERT(test)                                                                      \
    do {                                                                                   \
        if (!(test))                                                                       \
            AssertionFailed(KSourceModule(__FILE__), __LINE__, #test, 0, 0);               \
    } while (0)
#define KASSERT_PARAM(test, param)                                                         \
    do {                                                                                   \
        if (!(test))                                                                       \
            AssertionFailed(KSourceModule(__FILE__), __LINE__, #test, K_ASSERT_HAS_PARAM,  \
                            static_cast<KUInt32>(param));                                  \
    } while (0)
#define KASSUME(test)                                                                      \
    do {                                                                                   \
        if (!(test))                                                                       \
            AssertionFailed(KSourceModule(__FILE__), __LINE__, #test, K_ASSERT_ASSUMPTION, 0); \
    } while (0)

// Collects every trace text while it lives (all threads). Captures nest; each sees every text.
class KTraceCapture {
public:
    KTraceCapture();
    ~KTraceCapture();
    KTraceCapture(const KTraceCapture&) = delete;
    KTraceCapture& operator=(const KTraceCapture&) = delete;

    std::string Text() const;
    bool Contains(const std::string& piece) const;
    void Clear();

private:
    friend void DebugTraceText(const char* text);
    void priAppend(const char* text);
    std::string m_Text;
};
