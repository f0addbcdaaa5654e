// The mailbox protocol's reading of what a camera answers, over a camera emulated in a file: the input fills
// the mailbox registers, name area, data window, host lock and console block, then runs operations on them.
// Nothing may crash or read past a buffer; a console read never reports more than the caller's capacity.
//
// Input: a 16-bit length and that many bytes for space 0x1009 (from 0), a byte length and that many bytes for
// space 0x1007 (from 0), then operations: an opcode byte and its arguments.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "KCamConnection.h"
#include "KCamMailbox.h"

namespace {

class Reader {
public:
    Reader(const uint8_t* data, size_t size) : m_Data(data), m_Size(size) {}
    bool More() const { return m_At < m_Size; }
    uint8_t U8() { return m_At < m_Size ? m_Data[m_At++] : 0; }
    uint16_t U16() { return uint16_t(U8() | U8() << 8); }
    uint32_t U32() { return uint32_t(U16()) | uint32_t(U16()) << 16; }
    std::vector<uint8_t> Bytes(size_t n)
    {
        n = n < m_Size - m_At ? n : m_Size - m_At;
        std::vector<uint8_t> out(m_Data + m_At, m_Data + m_At + n);
        m_At += n;
        return out;
    }

private:
    const uint8_t* m_Data;
    size_t m_Size;
    size_t m_At = 0;
};

struct Camera {
    std::string path;
    CamConnection* connection = nullptr;
    Camera()
    {
        char tmpl[] = "/tmp/lumo-fuzz-mailbox-XXXXXX";
        if (!mkdtemp(tmpl))
            std::abort();
        path = std::string(tmpl) + "/camera.img";
        SetCameraWaitPace(0);
        connection = OpenCamera(("FILE@" + path).c_str());
        if (!connection)
            std::abort();
    }
};

Camera& TheCamera()
{
    static Camera camera;
    return camera;
}

void Fill(const std::string& path, uint64_t offset, const std::vector<uint8_t>& bytes)
{
    int fd = open(path.c_str(), O_RDWR);
    if (fd < 0)
        std::abort();
    if (!bytes.empty() && pwrite(fd, bytes.data(), bytes.size(), off_t(offset)) != ssize_t(bytes.size()))
        std::abort();
    close(fd);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Camera& camera = TheCamera();
    CamConnection* c = camera.connection;
    Reader in(data, size);
    // Spaces 0x1009 and 0x1007 as the FILE link keeps them.
    std::vector<uint8_t> mailbox(0x400, 0);
    std::vector<uint8_t> given = in.Bytes(in.U16() % 0x400);
    std::copy(given.begin(), given.end(), mailbox.begin());
    Fill(camera.path, 0x01001400, mailbox);
    std::vector<uint8_t> console(0x100, 0);
    given = in.Bytes(in.U8());
    std::copy(given.begin(), given.end(), console.begin());
    Fill(camera.path, 0x01001000, console);

    for (int ops = 0; in.More() && ops < 16; ++ops) {
        const uint8_t op = in.U8();
        std::vector<uint8_t> nameBytes = in.Bytes(in.U8() % 160);
        std::string name(nameBytes.begin(), nameBytes.end());
        switch (op % 9) {
        case 0: {
            uint32_t size = 0, time = 0, attributes = 0, status = 0;
            QueryCameraFile(c, name.c_str(), &size, &time, &attributes, &status);
            break;
        }
        case 1: {
            const uint32_t capacity = in.U8();
            std::vector<uint8_t> out(capacity);
            uint32_t length = 0;
            if (ReadConsole(c, out.empty() ? nullptr : out.data(), capacity, &length) && length > capacity)
                std::abort();
            break;
        }
        case 2: {
            std::vector<uint8_t> text = in.Bytes(in.U16() % 600);
            WriteConsole(c, text.data(), uint32_t(text.size()));
            break;
        }
        case 3: {
            const uint32_t offset = in.U32();
            std::vector<uint8_t> out(in.U16() % 4096);
            uint32_t got = 0;
            if (ReadCameraFile(c, name.c_str(), offset, out.data(), uint32_t(out.size()), &got) && got > out.size())
                std::abort();
            break;
        }
        case 4: {
            const uint32_t offset = in.U32();
            std::vector<uint8_t> bytes = in.Bytes(in.U16() % 4096);
            WriteCameraFile(c, name.c_str(), offset, bytes.data(), uint32_t(bytes.size()));
            break;
        }
        case 5:
            DeleteCameraFile(c, name.c_str());
            break;
        case 6:
            SetCameraFileAttributes(c, name.c_str(), in.U8());
            break;
        case 7:
            if (in.U8() & 1)
                TakeHostLock(c);
            else
                ReleaseHostLock(c);
            break;
        default: {
            uint32_t status = 0;
            WriteMailboxFileName(c, name.c_str(), &status);
            break;
        }
        }
    }
    return 0;
}
