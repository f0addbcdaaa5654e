// Sets and shows the settings of the machine the system believes it runs on.
//
//   lumomachine os [NAME]   sets the operating system (Windows95, Windows95_OSR2, Windows98, Windows98_SE,
//                           WindowsME, WindowsNT, Windows2K, WindowsXP) or prints it
//   lumomachine show        os=NAME platform=P version=MAJOR.MINOR build=B wdm=X.Y (wdm=none)
#include <cstdio>
#include <cstring>

#include "PlatformError.h"
#include "PlatformMachine.h"
#include "PlatformOS.h"

namespace {

int Usage()
{
    std::fprintf(stderr,
                 "usage: lumomachine os [NAME]   set or print the operating system\n"
                 "       lumomachine show        print the machine's identity\n"
                 "names: Windows95 Windows95_OSR2 Windows98 Windows98_SE WindowsME WindowsNT Windows2K "
                 "WindowsXP\n");
    return 2;
}

void Show()
{
    PlatOsVersion v{};
    PlatGetVersion(&v);
    char wdm[16] = "none";
    uint8_t major = 0, minor = 0;
    if (PlatGetWdmVersion(&major, &minor)) {
        if (minor == 0)
            std::snprintf(wdm, sizeof wdm, "%u.0", major);
        else
            std::snprintf(wdm, sizeof wdm, "%u.%02X", major, minor);
    }
    std::printf("os=%s platform=%u version=%u.%u build=%u wdm=%s\n", PlatGetOsName(), v.platformId, v.major,
                v.minor, v.build, wdm);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
        return Usage();
    if (std::strcmp(argv[1], "show") == 0 && argc == 2) {
        Show();
        return 0;
    }
    if (std::strcmp(argv[1], "os") == 0 && argc <= 3) {
        if (argc == 2) {
            std::printf("%s\n", PlatGetOsName());
            return 0;
        }
        if (!PlatIsOsName(argv[2])) {
            std::fprintf(stderr, "lumomachine: unknown operating system '%s'\n", argv[2]);
            return 1;
        }
        if (!PlatSetOsName(argv[2])) {
            std::fprintf(stderr, "lumomachine: cannot write the setting in %s (error %u)\n",
                         PlatGetMachineFolder().c_str(), PlatGetLastError());
            return 1;
        }
        return 0;
    }
    return Usage();
}
