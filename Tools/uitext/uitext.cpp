// uitext: text as the user interface draws it, from the shell.
//
//   uitext render --font NAME --height H [--bold] [--italic] [--underline] [--color #RRGGBB[AA]] [--widths]
//                 TEXT OUT.png
//   uitext metrics --font NAME --height H [--bold] [--italic] [--underline]
//   uitext date SECONDS
//
// render writes the text surface (text colour, alpha = coverage x colour alpha / 255) as a PNG file; with
// --widths it prints the width of each prefix, one per UTF-16 unit, on one line. metrics prints "HEIGHT
// AVERAGE". date prints the date and the time of day of SECONDS since 1970 (UTC) in the user's format.
// Exit 0; 1 when the font, the surface or the file cannot be made, or a date cannot be converted; 2 for a
// wrong command line.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "KException.h"
#include "KGenericUiPixmap.h"
#include "KPNGWriter.h"
#include "KSCDiskWin.h"
#include "KStorage.h"
#include "KStorageURL.h"
#include "KTextFunctions.h"
#include "KUiDateText.h"

namespace {

const char kUsage[] =
    "usage: uitext render --font NAME --height H [--bold] [--italic] [--underline] [--color #RRGGBB[AA]]\n"
    "                     [--widths] TEXT OUT.png\n"
    "       uitext metrics --font NAME --height H [--bold] [--italic] [--underline]\n"
    "       uitext date SECONDS\n";

int Usage(const std::string& why)
{
    if (!why.empty())
        std::fprintf(stderr, "uitext: %s\n", why.c_str());
    std::fprintf(stderr, "%s", kUsage);
    return 2;
}

bool ParseInt(const char* text, long long low, long long high, long long& out)
{
    if (!*text)
        return false;
    errno = 0;
    char* end = nullptr;
    const long long v = std::strtoll(text, &end, 10);
    if (errno != 0 || *end != '\0' || v < low || v > high)
        return false;
    out = v;
    return true;
}

// "#" and six or eight hexadecimal digits: red, green, blue and alpha (255 when left out).
bool ParseColour(const std::string& text, KUiColor& out)
{
    if ((text.size() != 7 && text.size() != 9) || text[0] != '#')
        return false;
    uint8_t bytes[4] = {0, 0, 0, 255};
    for (size_t i = 1; i < text.size(); i += 2) {
        int value = 0;
        for (size_t j = i; j < i + 2; ++j) {
            const char c = text[j];
            const int digit = c >= '0' && c <= '9'   ? c - '0'
                              : c >= 'A' && c <= 'F' ? c - 'A' + 10
                              : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                                     : -1;
            if (digit < 0)
                return false;
            value = value * 16 + digit;
        }
        bytes[i / 2] = uint8_t(value);
    }
    out = KUiColor(bytes[0], bytes[1], bytes[2], bytes[3]);
    return true;
}

struct FontOptions {
    std::string face;
    bool hasFace = false;
    int32_t height = 0;
    bool hasHeight = false;
    bool bold = false;
    bool italic = false;
    bool underline = false;
    KUiColor colour{0, 0, 0, 255};
    bool widths = false;
    std::vector<std::string> operands;
};

// Reads the options of render (withRender) or metrics; false with the reason in why.
bool ParseOptions(int argc, char** argv, bool withRender, FontOptions& o, std::string& why)
{
    for (int i = 2; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= argc) {
                why = a + " needs a value";
                return false;
            }
            out = argv[++i];
            return true;
        };
        std::string v;
        if (a == "--font") {
            if (!value(o.face))
                return false;
            o.hasFace = true;
        } else if (a == "--height") {
            long long h = 0;
            if (!value(v))
                return false;
            if (!ParseInt(v.c_str(), INT32_MIN, INT32_MAX, h)) {
                why = "--height takes a whole number, not \"" + v + "\"";
                return false;
            }
            o.height = int32_t(h);
            o.hasHeight = true;
        } else if (a == "--bold") {
            o.bold = true;
        } else if (a == "--italic") {
            o.italic = true;
        } else if (a == "--underline") {
            o.underline = true;
        } else if (withRender && (a == "--color" || a == "--colour")) {
            if (!value(v))
                return false;
            if (!ParseColour(v, o.colour)) {
                why = "--color takes #RRGGBB or #RRGGBBAA, not \"" + v + "\"";
                return false;
            }
        } else if (withRender && a == "--widths") {
            o.widths = true;
        } else if (a == "--") {
            for (++i; i < argc; ++i)
                o.operands.push_back(argv[i]);
        } else if (a.size() > 1 && a[0] == '-' && a[1] == '-') {
            why = "unknown option " + a;
            return false;
        } else {
            o.operands.push_back(a);
        }
    }
    if (!o.hasFace || o.face.empty()) {
        why = "--font NAME is required";
        return false;
    }
    if (!o.hasHeight) {
        why = "--height H is required";
        return false;
    }
    return true;
}

void PrintWidths(const std::vector<int32_t>& widths)
{
    std::string line;
    for (size_t i = 0; i < widths.size(); ++i)
        line += (i ? " " : "") + std::to_string(widths[i]);
    std::printf("%s\n", line.c_str());
}

int Render(int argc, char** argv)
{
    FontOptions o;
    std::string why;
    if (!ParseOptions(argc, argv, true, o, why))
        return Usage(why);
    if (o.operands.size() != 2)
        return Usage("render takes TEXT and OUT.png");
    const KWString text = Utf8ToWide(o.operands[0]);
    const std::string& out = o.operands[1];
    if (text.IsEmpty()) {
        std::fprintf(stderr, "uitext: there is no text to render\n");
        return 1;
    }
    std::vector<int32_t> widths(text.GetLength());
    KIGenericUiPixmap* surface = CreateTextUiPixmap(text, Utf8ToWide(o.face), o.height, o.bold, o.italic,
                                                    o.underline, o.colour, widths.data(), false);
    if (!surface) {
        std::fprintf(stderr, "uitext: no font \"%s\" of height %d, or the text is too large to draw\n",
                     o.face.c_str(), int(o.height));
        return 1;
    }
    int status = 0;
    RegisterDiskStorageClass();
    KWString url;
    if (!PosixFileToURL(out, url)) {
        std::fprintf(stderr, "uitext: cannot name %s\n", out.c_str());
        status = 1;
    } else {
        try {
            SavePNGPixmap(*surface->GetPixmap(), url);
        } catch (const KException& e) {
            std::fprintf(stderr, "uitext: %s: %s (%s)\n", out.c_str(), e.GetMessage(), e.GetDescription());
            status = 1;
        }
    }
    ShutdownStorageClasses();
    DeleteUiPixmap(surface);
    if (status == 0 && o.widths)
        PrintWidths(widths);
    return status;
}

int Metrics(int argc, char** argv)
{
    FontOptions o;
    std::string why;
    if (!ParseOptions(argc, argv, false, o, why))
        return Usage(why);
    if (!o.operands.empty())
        return Usage("metrics takes no text");
    int32_t height = 0, average = 0;
    if (!GetUiFontMetrics(Utf8ToWide(o.face), o.height, o.bold, o.italic, o.underline, &height, &average)) {
        std::fprintf(stderr, "uitext: no font \"%s\" of height %d\n", o.face.c_str(), int(o.height));
        return 1;
    }
    std::printf("%d %d\n", int(height), int(average));
    return 0;
}

int Date(int argc, char** argv)
{
    long long seconds = 0;
    if (argc != 3)
        return Usage("date takes SECONDS");
    if (!ParseInt(argv[2], 0, UINT32_MAX, seconds))
        return Usage(std::string("SECONDS is a whole number from 0 to 4294967295, not \"") + argv[2] + "\"");
    const KWString date = FormatDateString(uint32_t(seconds));
    const KWString time = FormatTimeString(uint32_t(seconds));
    std::printf("%s %s\n", WideToUtf8(date).c_str(), WideToUtf8(time).c_str());
    return date == "DATE CONVERSION FAILED" || time == "TIME CONVERSION FAILED" ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
        return Usage("");
    const std::string command = argv[1];
    if (command == "render")
        return Render(argc, argv);
    if (command == "metrics")
        return Metrics(argc, argv);
    if (command == "date")
        return Date(argc, argv);
    if (command == "--help" || command == "help") {
        std::printf("%s", kUsage);
        return 0;
    }
    return Usage("unknown command " + command);
}
