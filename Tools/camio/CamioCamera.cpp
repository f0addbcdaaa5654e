// camio's camera commands.
#include "CamioCamera.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "KCamConnection.h"
#include "KCamMailbox.h"

namespace {

// The camera's file is copied in pieces of this size: one read command each.
constexpr uint32_t kGetPiece = 4u << 20;
constexpr uint64_t kMaxPut = 64u << 20;

int Fail(const std::string& reason)
{
    std::fprintf(stderr, "camio: %s\n", reason.c_str());
    return 1;
}

int Usage()
{
    std::fprintf(stderr,
                 "usage: camio names\n"
                 "       camio alive NAME\n"
                 "       camio info NAME PATH\n"
                 "       camio get NAME PATH OUT [OFFSET COUNT]\n"
                 "       camio put NAME PATH OFFSET IN\n"
                 "       camio rm NAME PATH\n"
                 "       camio attr NAME PATH FLAGS\n"
                 "       camio console NAME [TEXT]\n"
                 "NAME: a device name (camio names), empty for the first camera; numbers decimal or 0x hexadecimal\n");
    return 1;
}

std::string Shown(const std::string& name)
{
    return name.empty() ? "the first camera" : name;
}

// The camera of NAME (empty: the first one), or null with the reason told.
CamConnection* Open(const std::string& name)
{
    if (!name.empty() && GetLinkKind(name.c_str()) == kCamLinkNone) {
        Fail("not a device name: " + name + " (LINK@DEVICE, LINK one of 1394, USB, FILE)");
        return nullptr;
    }
    CamConnection* c = OpenCamera(name.empty() ? nullptr : name.c_str());
    if (!c)
        Fail(name.empty() ? "no camera can be opened" : "cannot open " + name);
    return c;
}

int Names()
{
    uint32_t size = 0;
    ListCameraDeviceNames(nullptr, &size);
    std::vector<char> text(size + 1, 0);
    // Cameras may come between the two calls: ask again until the list fits.
    for (int i = 0; i < 4; ++i) {
        uint32_t room = static_cast<uint32_t>(text.size());
        ListCameraDeviceNames(text.data(), &room);
        if (room <= text.size())
            break;
        text.assign(room + 1, 0);
    }
    if (text[0])
        std::printf("%s\n", text.data());
    return 0;
}

int Alive(const std::string& name)
{
    if (!name.empty() && GetLinkKind(name.c_str()) == kCamLinkNone)
        return Fail("not a device name: " + name);
    CamConnection* c = OpenCamera(name.empty() ? nullptr : name.c_str());
    const bool alive = c && IsCameraAlive(c);
    std::printf("%s\n", alive ? "alive" : "not alive");
    return alive ? 0 : 1;
}

int Info(const std::string& name, const std::string& path)
{
    CamConnection* c = Open(name);
    if (!c)
        return 1;
    uint32_t size = 0, time = 0, attributes = 0, status = 0;
    if (!QueryCameraFile(c, path.c_str(), &size, &time, &attributes, &status))
        return Fail("no file " + path + " on " + Shown(name));
    std::printf("size %u\ntime %u\nattributes %u%s%s\n", size, time, attributes, (attributes & 1) ? " lock" : "",
                (attributes & 2) ? " mark" : "");
    return 0;
}

// Writes OUT under a temporary name beside it, renamed once complete.
class OutFile {
public:
    explicit OutFile(const std::string& path) : m_Path(path), m_Temp(path + ".camio-part")
    {
        m_File = std::fopen(m_Temp.c_str(), "wb");
    }
    ~OutFile()
    {
        if (m_File) {
            std::fclose(m_File);
            std::remove(m_Temp.c_str());
        }
    }
    OutFile(const OutFile&) = delete;
    OutFile& operator=(const OutFile&) = delete;
    bool IsOpen() const { return m_File != nullptr; }
    bool Write(const void* data, size_t n) { return std::fwrite(data, 1, n, m_File) == n; }
    bool Commit()
    {
        const bool closed = std::fclose(m_File) == 0;
        m_File = nullptr;
        if (!closed || std::rename(m_Temp.c_str(), m_Path.c_str()) != 0) {
            std::remove(m_Temp.c_str());
            return false;
        }
        return true;
    }

private:
    std::string m_Path;
    std::string m_Temp;
    std::FILE* m_File = nullptr;
};

int Get(const std::string& name, const std::string& path, const std::string& out, const char* offsetText,
        const char* countText)
{
    uint32_t offset = 0, count = 0;
    const bool ranged = offsetText != nullptr;
    if (ranged && (!ParseCamioNumber(offsetText, false, &offset) || !ParseCamioNumber(countText, false, &count)))
        return Fail("not an offset and a count: " + std::string(offsetText) + " " + countText);
    CamConnection* c = Open(name);
    if (!c)
        return 1;
    uint32_t size = 0, status = 0;
    if (!QueryCameraFile(c, path.c_str(), &size, nullptr, nullptr, &status))
        return Fail("no file " + path + " on " + Shown(name));
    if (!(status & kCamMayRead))
        return Fail(path + " cannot be read");
    if (offset >= size)
        return Fail(size == 0 ? path + " is empty" : "offset " + std::to_string(offset) + " is past the end of " +
                                                         path + " (" + std::to_string(size) + " bytes)");
    if (!ranged || count > size - offset)
        count = size - offset;
    if (count == 0)
        return Fail("nothing to read");
    OutFile file(out);
    if (!file.IsOpen())
        return Fail("cannot write " + out + ": " + std::strerror(errno));
    std::vector<uint8_t> piece(count < kGetPiece ? count : kGetPiece);
    for (uint32_t done = 0; done < count;) {
        const uint32_t want = count - done < kGetPiece ? count - done : kGetPiece;
        uint32_t got = 0;
        if (!ReadCameraFile(c, path.c_str(), offset + done, piece.data(), want, &got) || got == 0)
            return Fail("cannot read " + path + " at " + std::to_string(offset + done));
        if (!file.Write(piece.data(), got))
            return Fail("cannot write " + out);
        done += got;
    }
    if (!file.Commit())
        return Fail("cannot write " + out);
    return 0;
}

int Put(const std::string& name, const std::string& path, const char* offsetText, const std::string& in)
{
    uint32_t offset = 0;
    if (!ParseCamioNumber(offsetText, false, &offset))
        return Fail(std::string("not an offset: ") + offsetText);
    std::FILE* f = std::fopen(in.c_str(), "rb");
    if (!f)
        return Fail("cannot read " + in + ": " + std::strerror(errno));
    std::vector<uint8_t> bytes;
    uint8_t buffer[65536];
    size_t n;
    bool tooBig = false;
    while ((n = std::fread(buffer, 1, sizeof(buffer), f)) > 0 && !tooBig) {
        bytes.insert(bytes.end(), buffer, buffer + n);
        tooBig = bytes.size() > kMaxPut;
    }
    const bool readError = std::ferror(f) != 0;
    std::fclose(f);
    if (readError)
        return Fail("cannot read " + in);
    if (tooBig)
        return Fail(in + " is larger than 64 MiB");
    CamConnection* c = Open(name);
    if (!c)
        return 1;
    if (!WriteCameraFile(c, path.c_str(), offset, bytes.data(), static_cast<uint32_t>(bytes.size())))
        return Fail("cannot write " + std::to_string(bytes.size()) + " bytes at " + std::to_string(offset) +
                    " of " + path);
    return 0;
}

int Remove(const std::string& name, const std::string& path)
{
    CamConnection* c = Open(name);
    if (!c)
        return 1;
    if (!DeleteCameraFile(c, path.c_str()))
        return Fail("cannot delete " + path);
    return 0;
}

int Attributes(const std::string& name, const std::string& path, const char* flagsText)
{
    uint32_t flags = 0;
    if (!ParseCamioNumber(flagsText, false, &flags) || flags > 3)
        return Fail(std::string("not attribute flags 0 to 3 (1 lock, 2 mark): ") + flagsText);
    CamConnection* c = Open(name);
    if (!c)
        return 1;
    if (!SetCameraFileAttributes(c, path.c_str(), flags))
        return Fail("cannot set the attributes of " + path);
    return 0;
}

int Console(const std::string& name, const char* text)
{
    CamConnection* c = Open(name);
    if (!c)
        return 1;
    if (text) {
        if (!WriteConsole(c, text, static_cast<uint32_t>(std::strlen(text))))
            return Fail("cannot write to the console");
        return 0;
    }
    char said[128];
    uint32_t length = 0;
    if (!ReadConsole(c, said, sizeof(said), &length))
        return Fail("cannot read the console");
    std::fwrite(said, 1, length, stdout);
    return 0;
}

}  // namespace

bool IsCamioCameraCommand(const char* command)
{
    static const char* const kCommands[] = {"names", "alive", "info", "get", "put", "rm", "attr", "console"};
    for (const char* k : kCommands)
        if (std::strcmp(command, k) == 0)
            return true;
    return false;
}

int RunCamioCameraCommand(int argc, char** argv)
{
    const std::string command = argv[1];
    const std::string name = argc > 2 ? argv[2] : "";
    if (command == "names" && argc == 2)
        return Names();
    if (command == "alive" && argc == 3)
        return Alive(name);
    if (command == "info" && argc == 4)
        return Info(name, argv[3]);
    if (command == "get" && (argc == 5 || argc == 7))
        return Get(name, argv[3], argv[4], argc == 7 ? argv[5] : nullptr, argc == 7 ? argv[6] : nullptr);
    if (command == "put" && argc == 6)
        return Put(name, argv[3], argv[4], argv[5]);
    if (command == "rm" && argc == 4)
        return Remove(name, argv[3]);
    if (command == "attr" && argc == 5)
        return Attributes(name, argv[3], argv[4]);
    if (command == "console" && (argc == 3 || argc == 4))
        return Console(name, argc == 4 ? argv[3] : nullptr);
    return Usage();
}
