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

// The 8-bit text that widens to this text (each byte is widened by sign extension); '?' for units that no
// byte gives.
std::string NarrowText(const KWString& text)
{
    std::string narrow;
    for (size_t i = 0; i < text.GetLength(); ++i) {
        const KWChar unit = text[i];
        narrow += unit < 0x80 || unit >= 0xFF80 ? static_cast<char>(unit & 0xFF) : '?';
    }
    return narrow;
}

KLoaderOutcome NotANumber(const char* key, const KWString& value)
{
    return KLoaderOutcome::Fail(
        kIpErrBadArgument,
        KNarrowString("QRLbLoader::priModifyProperties: %s is not a whole number: '%s'", key, value.GetAscii()));
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

    KQrlbImageWriter writer;
    writer.Open(request.m_URL);
    if (whiteBalance && !writer.SetWhiteBalance(NarrowText(whiteBalance->GetValue()).c_str()))
        DebugTrace("QRLbLoader::priModifyProperties: Error setting white balance in '%s'\n", request.m_URL.GetAscii());
    if (marks)
        writer.SetMarkBits(static_cast<KUInt32>(bits));
    if (rotation) {
        long long degrees = relative ? writer.GetRotation() + turn : turn;
        degrees %= 360;
        if (degrees < 0)
            degrees += 360;
        writer.SetRotation(static_cast<KInt32>(degrees));
    }
    writer.Close();
    return KLoaderOutcome::Done();
}
