// Prints what this build of the tree is and what it holds.
#include <cstdio>

#include "KCacheBudget.h"
#include "KTextFunctions.h"
#include "KWString.h"

int main()
{
    KWString size;
    size.FormatByteSize(static_cast<long long>(kDefaultCacheBudgetMiB) * 1024 * 1024);
    std::printf("LumoDesk %s: raw workstation for the KZR raw container (Linux build)\n", LUMO_VERSION);
    std::printf("wide-character platform: %s; default cache budget: %s\n", IsUnicodeOS() ? "yes" : "no",
                size.GetAscii());
    return 0;
}
