// Runs a libFuzzer entry point once on every file of the folders (or files) named on the command line, so
// the seed corpus of each fuzz target is a regression test in a build without libFuzzer.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>
#include <algorithm>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

static int RunOne(const std::filesystem::path& p)
{
    std::ifstream in(p, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", p.c_str());
        return 1;
    }
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // A copy of exactly the file's size, so that ASan sees any read past the end.
    std::vector<uint8_t> exact(bytes.begin(), bytes.end());
    LLVMFuzzerTestOneInput(exact.empty() ? nullptr : exact.data(), exact.size());
    return 0;
}

int main(int argc, char** argv)
{
    int failures = 0;
    size_t count = 0;
    for (int i = 1; i < argc; ++i) {
        std::filesystem::path arg(argv[i]);
        if (std::filesystem::is_directory(arg)) {
            std::vector<std::filesystem::path> files;
            for (auto& e : std::filesystem::recursive_directory_iterator(arg))
                if (e.is_regular_file())
                    files.push_back(e.path());
            std::sort(files.begin(), files.end());
            for (auto& f : files) {
                failures += RunOne(f);
                ++count;
            }
        } else {
            failures += RunOne(arg);
            ++count;
        }
    }
    std::printf("ran %zu inputs\n", count);
    if (count == 0) {
        std::fprintf(stderr, "no corpus inputs found\n");
        return 1;
    }
    return failures ? 1 : 0;
}
