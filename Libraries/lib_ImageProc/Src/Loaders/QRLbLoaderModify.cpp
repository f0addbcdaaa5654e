// The raw loader's modify request: the user's edits written into the file's header.
#include <cerrno>
#include <cstdlib>
#include <string>

#include "KDebug.h"
#include "KPropTree.h"
#include "KQrlbImageWriter.h"
#include "QRLbLoader.h"

namespace {
// A whole decimal integer with an optional sign (surrounding blanks allowed); false for anything else.
bool ParseDecimal(const KWString& text, long long low, long long high, long long& value)
{
    const std::string narrow = text.GetAscii();
    const char* begin = narrow.c_str();
    char* end = nullptr;
    errno = 0;
    value = std::strtoll(begin, &end, 10);
    if (end == begin || errno)
        return false;
    while (*end == ' ' || *end == '\t')
        ++end;
    return *end == 0 && value >= low && value <= high;
}

// The 8-bit text that widens to this text (each byte is widened by sign extension); false when a unit is one
// that no byte gives, or a zero that would end the text early.
bool NarrowText(const KWString& text, std::string& narrow)
{
    narrow.clear();
    for (size_t i = 0; i < text.GetLength(); ++i) {
        const KWChar unit = text[i];
        if (unit == 0 || (unit >= 0x80 && unit < 0xFF80))
            return false;
        narrow += static_cast<char>(unit & 0xFF);
    }
    return true;
}

// Longest white-balance text the header holds (with its terminator, 32 bytes).
constexpr size_t kLongestWhiteBalance = 31;

KLoaderOutcome NotANumber(const char* key, const KWString& value)
{
    return KLoaderOutcome::Fail(
        kIpErrBadArgument,
        KNarrowString("QRLbLoader::priModifyProperties: %s is not a whole number: '%s'", key, value.GetAscii()));
}

KLoaderOutcome CannotStore(const char* key, const KWString& value, const char* why)
{
    return KLoaderOutcome::Fail(kIpErrBadArgument,
                                KNarrowString("QRLbLoader::priModifyProperties: %s '%s' cannot be stored: %s; "
                                              "nothing was written",
                                              key, value.GetAscii(), why));
}
}  // namespace

KLoaderOutcome QRLbLoader::priModifyProperties(KLoaderRequest& request)
{
    if (!request.m_pTree)
        return KLoaderOutcome::Fail(kIpErrBadArgument, KWString("QRLbLoader: Property list pointer is NULL"));
    const KPropTree& tree = *request.m_pTree;
    const KPropPair* rotation = tree.FindPair(KWString("ROTATION"));
    const KPropPair* marks = tree.FindPair(KWString("MARKBITS"));
    const KPropPair* whiteBalance = tree.FindPair(KWString("WB_DESC"));
    if (!rotation && !marks && !whiteBalance)
        return KLoaderOutcome::Done();

    // Every value is checked before anything is written, so that a bad one changes nothing.
    long long turn = 0, bits = 0;
    bool relative = false;
    if (rotation) {
        const KWString& text = rotation->GetValue();
        relative = !text.IsEmpty() && (text[0] == u'+' || text[0] == u'-');
        if (!ParseDecimal(text, -0x7FFFFFFFll - 1, 0x7FFFFFFFll, turn))
            return NotANumber("ROTATION", text);
    }
    if (marks && !ParseDecimal(marks->GetValue(), -0x7FFFFFFFll - 1, 0xFFFFFFFFll, bits))
        return NotANumber("MARKBITS", marks->GetValue());
    // A value that the header cannot hold as given, or that the reader would not take back, is refused: the
    // caller must not believe it stored.
    std::string whiteBalanceText;
    if (whiteBalance && !NarrowText(whiteBalance->GetValue(), whiteBalanceText))
        return CannotStore("WB_DESC", whiteBalance->GetValue(), "it holds characters other than 8-bit text");
    if (whiteBalance && whiteBalanceText.size() > kLongestWhiteBalance)
        return CannotStore("WB_DESC", whiteBalance->GetValue(), "it is longer than 31 characters");

    KQrlbImageWriter writer;
    writer.Open(request.m_URL);
    long long degrees = 0;
    if (rotation) {
        degrees = relative ? writer.GetRotation() + turn : turn;
        degrees %= 360;
        if (degrees < 0)
            degrees += 360;
        if (degrees % 90 != 0) {
            writer.Close();
            return CannotStore("ROTATION", rotation->GetValue(), "the rotation must come to 0, 90, 180 or 270 degrees");
        }
    }
    // The white balance goes first: it is the one field a file may lack, and a refusal must change nothing.
    if (whiteBalance && !writer.SetWhiteBalance(whiteBalanceText.c_str())) {
        DebugTrace("QRLbLoader::priModifyProperties: Error setting white balance in '%s'\n", request.m_URL.GetAscii());
        writer.Close();
        return CannotStore("WB_DESC", whiteBalance->GetValue(), "the file (before version 2.1) has no field for it");
    }
    if (marks)
        writer.SetMarkBits(static_cast<KUInt32>(bits));
    if (rotation)
        writer.SetRotation(static_cast<KInt32>(degrees));
    writer.Close();
    return KLoaderOutcome::Done();
}
