// Sets and shows the settings of the machine the system believes it runs on.
//
//   lumomachine os [NAME]   sets the operating system (Windows95, Windows95_OSR2, Windows98, Windows98_SE,
//                           WindowsME, WindowsNT, Windows2K, WindowsXP) or prints it
//   lumomachine show        os=NAME platform=P version=MAJOR.MINOR build=B wdm=X.Y (wdm=none)
//   lumomachine driver1394 [FILE|default]   sets the 1394 driver the kernel loads (default: by the system) or
//                           prints the setting
#include <cstdio>
#include <cstring>

#include <string>

#include "PlatformError.h"
#include "PlatformKernelHost.h"
#include "PlatformMachine.h"
#include "PlatformOS.h"
#include "SimCamera.h"

namespace {

int Usage()
{
    std::fprintf(stderr,
                 "usage: lumomachine os [NAME]   set or print the operating system\n"
                 "       lumomachine show        print the machine's identity\n"
                 "       lumomachine driver1394 [FILE|default]   set or print the 1394 driver the kernel loads\n"
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
        // The USB kernel driver's values follow the system.
        simcam::SyncUsbNotificationValues();
        return 0;
    }
    if (std::strcmp(argv[1], "driver1394") == 0 && argc <= 3) {
        if (argc == 2) {
            std::printf("%s\n", KernGet1394DriverSetting().c_str());
            return 0;
        }
        std::string error;
        if (!KernSet1394DriverSetting(argv[2], &error)) {
            std::fprintf(stderr, "lumomachine: %s\n", error.c_str());
            return 1;
        }
        return 0;
    }
    return Usage();
}
