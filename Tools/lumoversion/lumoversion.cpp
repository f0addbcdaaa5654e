// Prints what this build of the tree is and what it holds.
#include <cstdio>

#include "KTextFunctions.h"
#include "KWString.h"

int main()
{
    KWString size;
    size.FormatByteSize(120LL * 1024 * 1024);
    std::printf("LumoDesk %s: raw workstation for the KZR raw container (Linux build)\n", LUMO_VERSION);
    std::printf("wide-character platform: %s; default cache budget: %s\n", IsUnicodeOS() ? "yes" : "no",
                size.GetAscii());
    return 0;
}
