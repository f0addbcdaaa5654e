// Loads a driver into the kernel stand-in, unloads it and reports what it left behind.
//
//   kdrv load FILE [--name SERVICE] [--trace]
//
// Prints "DriverEntry 0x%08X", then after the unload "pool: N blocks, M bytes outstanding" (and a line per
// tag still holding any) and "breaks: N". Exit 0 only when the entry succeeded and all three figures are 0.
// A FILE named without a folder is looked for beside kdrv, then in the current folder.
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <string>

#include "PlatformKernelHost.h"

namespace {

int Usage()
{
    std::fprintf(stderr, "usage: kdrv load FILE [--name SERVICE] [--trace]\n");
    return 2;
}

bool Exists(const std::string& path)
{
    return access(path.c_str(), F_OK) == 0;
}

std::string Resolve(const std::string& file)
{
    if (file.find('/') != std::string::npos)
        return file;
    char self[PATH_MAX] = {};
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n > 0) {
        std::string dir(self, static_cast<size_t>(n));
        dir = dir.substr(0, dir.rfind('/') + 1);
        if (Exists(dir + file))
            return dir + file;
    }
    if (Exists(file))
        return "./" + file;
    return file;
}

void Report(const KernPoolReport& pool)
{
    std::printf("pool: %llu blocks, %llu bytes outstanding\n", static_cast<unsigned long long>(pool.blocks),
                static_cast<unsigned long long>(pool.bytes));
    for (const KernPoolTagFigures& f : pool.tags)
        std::printf("  tag %s: %llu blocks, %llu bytes\n", KernTagText(f.tag).c_str(),
                    static_cast<unsigned long long>(f.blocks), static_cast<unsigned long long>(f.bytes));
    std::printf("breaks: %u\n", KernGetBreakCount());
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3 || std::strcmp(argv[1], "load") != 0)
        return Usage();
    std::string file = argv[2];
    std::string service;
    bool trace = false;
    for (int i = 3; i < argc; ++i) {
        if (std::strcmp(argv[i], "--name") == 0 && i + 1 < argc)
            service = argv[++i];
        else if (std::strcmp(argv[i], "--trace") == 0)
            trace = true;
        else
            return Usage();
    }
    if (trace)
        KernSetDbgPrintEcho(stdout);

    PDRIVER_OBJECT driver = nullptr;
    NTSTATUS entry = STATUS_DRIVER_UNABLE_TO_LOAD;
    std::string error;
    bool loaded = KernLoadDriver(Resolve(file), service, &driver, &entry, &error);
    if (!loaded && entry == STATUS_DRIVER_UNABLE_TO_LOAD) {
        std::fprintf(stderr, "kdrv: cannot load %s: %s\n", file.c_str(), error.c_str());
        return 1;
    }
    std::printf("DriverEntry 0x%08X\n", static_cast<ULONG>(entry));
    std::fflush(stdout);
    KernPoolReport pool;
    if (loaded) {
        if (!KernUnloadDriver(driver, &pool)) {
            std::fprintf(stderr, "kdrv: the driver still has devices; it cannot be unloaded\n");
            return 1;
        }
    } else {
        pool = KernGetPoolReport();
    }
    Report(pool);
    KernSetDbgPrintEcho(nullptr);
    return (loaded && pool.blocks == 0 && pool.bytes == 0 && KernGetBreakCount() == 0) ? 0 : 1;
}
