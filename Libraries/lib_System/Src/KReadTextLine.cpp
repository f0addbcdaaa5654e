#include "KIFile.h"

namespace {

// One character; false when none is left.
bool ReadUnit(KIFile* file, int encoding, KWChar& unit)
{
    if (encoding == KTEXT_8BIT) {
        char byte;
        if (file->Read(&byte, 1) != 1)
            return false;
        unit = static_cast<KWChar>(static_cast<signed char>(byte));  // sign-extended, as narrow text widens
        return true;
    }
    unsigned char pair[2];
    if (file->Read(pair, 2) != 2)
        return false;
    unit = encoding == KTEXT_UTF16BE ? static_cast<KWChar>(pair[0] << 8 | pair[1])
                                     : static_cast<KWChar>(pair[1] << 8 | pair[0]);
    return true;
}

}  // namespace

bool ReadTextLine(KIFile* file, int encoding, KWString& line)
{
    line.Clear();
    KWChar unit = 0;
    bool last = false;
    while ((last = ReadUnit(file, encoding, unit))) {
        line += unit;
        if (unit == u'\n' || unit == u'\r')
            break;
    }
    if (line.IsEmpty())
        return false;
    if (last && unit == u'\r') {
        KUInt32 mark = file->Tell();
        KWChar next;
        if (ReadUnit(file, encoding, next)) {
            if (next == u'\n')
                line += next;
            else
                file->Seek(mark);
        }
    }
    return true;
}
