// camsim: makes, plugs, unplugs, resets and loads the simulated cameras of the machine (LUMO_MACHINE).
#include <cstdio>
#include <string>
#include <vector>

#include "SimCommand.h"

int main(int argc, char** argv)
{
    const std::vector<std::string> args(argv + 1, argv + argc);
    std::string out, error;
    const int status = simcam::RunCamsimCommand(args, &out, &error);
    std::fwrite(out.data(), 1, out.size(), stdout);
    if (status == 2)
        std::fputs(simcam::CamsimUsage(), stderr);
    else if (status != 0)
        std::fprintf(stderr, "camsim: %s\n", error.c_str());
    return status;
}
