// Appends a bundle to a host file: pads the host to a multiple of 512 bytes, then writes a ustar archive of the
// regular files below a folder (names relative to it, "/" between folders, in name order) and a 14-byte trailer
// ("BNDL" and the archive's length in ten digits, trailer included). With /dev/null as the host the result is a
// stand-alone bundle. OUT may be HOST: the result is written beside it and renamed into place.
//
// usage: mkbundle HOST FOLDER OUT
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr uint64_t kBlock = 512;
constexpr uint64_t kMaxBundle = 0xFFFFFFFEull;  // readers address hosts with 32-bit offsets

int Fail(const std::string& message)
{
    std::fprintf(stderr, "mkbundle: %s\n", message.c_str());
    return 1;
}

void PutOctal(char* field, size_t width, uint64_t value)
{
    // width - 1 digits and a NUL.
    std::snprintf(field, width, "%0*llo", static_cast<int>(width - 1), static_cast<unsigned long long>(value));
}

std::vector<char> Header(const std::string& name, uint64_t size, uint64_t mtime, bool executable)
{
    std::vector<char> h(kBlock, 0);
    std::memcpy(h.data(), name.data(), name.size());
    PutOctal(h.data() + 100, 8, executable ? 0755 : 0644);
    PutOctal(h.data() + 108, 8, 0);
    PutOctal(h.data() + 116, 8, 0);
    PutOctal(h.data() + 124, 12, size);
    PutOctal(h.data() + 136, 12, mtime);
    h[156] = '0';
    std::memcpy(h.data() + 257, "ustar", 6);
    std::memcpy(h.data() + 263, "00", 2);
    std::memset(h.data() + 148, ' ', 8);
    unsigned sum = 0;
    for (char c : h)
        sum += static_cast<unsigned char>(c);
    std::snprintf(h.data() + 148, 8, "%06o", sum);
    h[155] = ' ';
    return h;
}

bool CopyInto(std::ofstream& out, const fs::path& from, uint64_t& written)
{
    std::ifstream in(from, std::ios::binary);
    if (!in)
        return false;
    std::vector<char> buffer(1 << 16);
    while (in) {
        in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        std::streamsize n = in.gcount();
        if (n <= 0)
            break;
        out.write(buffer.data(), n);
        written += static_cast<uint64_t>(n);
    }
    return !in.bad() && static_cast<bool>(out);
}

void Pad(std::ofstream& out, uint64_t& written)
{
    static const char zeros[kBlock] = {};
    uint64_t rest = (kBlock - written % kBlock) % kBlock;
    out.write(zeros, static_cast<std::streamsize>(rest));
    written += rest;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: mkbundle HOST FOLDER OUT\n");
        return 2;
    }
    const fs::path host = argv[1], folder = argv[2], out = argv[3];
    std::error_code ec;
    if (!fs::is_directory(folder, ec))
        return Fail("not a folder: " + folder.string());

    struct Entry {
        std::string name;
        fs::path path;
        uint64_t size;
        uint64_t mtime;
        bool executable;
    };
    std::vector<Entry> entries;
    const char* epoch = std::getenv("SOURCE_DATE_EPOCH");
    for (auto it = fs::recursive_directory_iterator(folder, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        if (!it->is_regular_file())
            continue;
        std::string name = fs::relative(it->path(), folder).generic_string();
        if (name.size() > 99)
            return Fail("member name longer than 99 bytes: " + name);
        struct stat st;
        if (stat(it->path().c_str(), &st) != 0)
            return Fail("cannot read " + it->path().string());
        entries.push_back({name, it->path(), static_cast<uint64_t>(st.st_size),
                           epoch ? std::strtoull(epoch, nullptr, 10) : static_cast<uint64_t>(st.st_mtime),
                           (st.st_mode & S_IXUSR) != 0});
    }
    if (ec)
        return Fail("cannot list " + folder.string() + ": " + ec.message());
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.name < b.name; });

    struct stat hostStat;
    if (stat(host.c_str(), &hostStat) != 0)
        return Fail("cannot read " + host.string());
    const fs::path temp = out.string() + ".mkbundle-" + std::to_string(getpid());
    std::ofstream o(temp, std::ios::binary | std::ios::trunc);
    if (!o)
        return Fail("cannot create " + temp.string());
    uint64_t written = 0;
    bool ok = CopyInto(o, host, written);
    Pad(o, written);
    const uint64_t archiveStart = written;
    for (const Entry& e : entries) {
        if (!ok)
            break;
        std::vector<char> h = Header(e.name, e.size, e.mtime, e.executable);
        o.write(h.data(), static_cast<std::streamsize>(h.size()));
        written += kBlock;
        uint64_t before = written;
        ok = CopyInto(o, e.path, written) && written - before == e.size;
        Pad(o, written);
    }
    static const char zeros[2 * kBlock] = {};
    o.write(zeros, sizeof zeros);
    written += sizeof zeros;
    const uint64_t length = written - archiveStart + 14;
    char trailer[15];
    std::snprintf(trailer, sizeof trailer, "BNDL%010llu", static_cast<unsigned long long>(length));
    o.write(trailer, 14);
    written += 14;
    o.flush();
    ok = ok && static_cast<bool>(o) && written <= kMaxBundle;
    o.close();
    ok = ok && !o.fail();
    if (!ok) {
        fs::remove(temp, ec);
        return Fail(written > kMaxBundle ? "bundle larger than 4 GiB" : "cannot write " + out.string());
    }
    if (S_ISREG(hostStat.st_mode))
        chmod(temp.c_str(), hostStat.st_mode & 07777);  // an executable stays executable
    if (std::rename(temp.c_str(), out.c_str()) != 0) {
        fs::remove(temp, ec);
        return Fail("cannot replace " + out.string());
    }
    return 0;
}
