#include "PlatformWindowLink.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "PlatformMachine.h"

namespace {

// One record on a connection: the message and wParam, little-endian as the machine keeps them.
struct Record {
    uint32_t message;
    uint32_t reserved;
    uint64_t wParam;
};
static_assert(sizeof(Record) == 16);

// How long a sender waits for one answer.
constexpr int kAnswerWaitSeconds = 5;

std::string Utf8(const std::u16string& text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t c = text[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000)
            c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

// The socket's file name: a hash of class and title, so that any title makes a short, safe name.
std::string SocketName(const std::string& className, const std::u16string& title)
{
    uint64_t h = 1469598103934665603ull;
    const std::string key = className + '\0' + Utf8(title);
    for (unsigned char c : key) {
        h ^= c;
        h *= 1099511628211ull;
    }
    char name[32];
    std::snprintf(name, sizeof name, "%016llx.sock", static_cast<unsigned long long>(h));
    return name;
}

// The address of folder/name; a folder too long for an address is reached through its descriptor.
bool MakeAddress(const std::string& folder, const std::string& name, int folderFd, sockaddr_un& out)
{
    std::memset(&out, 0, sizeof out);
    out.sun_family = AF_UNIX;
    std::string path = folder + "/" + name;
    if (path.size() >= sizeof out.sun_path)
        path = "/proc/self/fd/" + std::to_string(folderFd) + "/" + name;
    if (path.size() >= sizeof out.sun_path)
        return false;
    std::memcpy(out.sun_path, path.c_str(), path.size() + 1);
    return true;
}

bool WriteAll(int fd, const void* data, size_t size)
{
    const auto* p = static_cast<const uint8_t*>(data);
    while (size > 0) {
        ssize_t n = send(fd, p, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool ReadAll(int fd, void* data, size_t size)
{
    auto* p = static_cast<uint8_t*>(data);
    while (size > 0) {
        ssize_t n = recv(fd, p, size, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

void SetReceiveTimeout(int fd, int seconds)
{
    timeval tv{seconds, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
}

struct Listener {
    PlatHWND window;
    int fd;
    std::string path;  // the socket file, for removing it
    dev_t device;
    ino_t inode;
};

struct Remote {
    int fd;
};

// Process-wide state; never freed, since the listening thread may outlive static destruction.
struct State {
    std::mutex lock;
    std::vector<Listener> listeners;
    std::vector<int> closing;  // listening sockets the thread closes after its poll
    std::vector<Remote*> remotes;
    int wake[2] = {-1, -1};
    bool threadStarted = false;
};

State& St()
{
    static State* state = new State;
    return *state;
}

void Wake(State& s)
{
    if (s.wake[1] >= 0) {
        const char c = 1;
        ssize_t n = write(s.wake[1], &c, 1);
        (void)n;
    }
}

// Serves one connection: every record goes to the window's procedure and is answered once it has run.
void Serve(int connection, PlatHWND window)
{
    Record r{};
    while (ReadAll(connection, &r, sizeof r)) {
        PlatDeliverFromLink(window, r.message, static_cast<uintptr_t>(r.wParam));
        const uint8_t answer = 1;
        if (!WriteAll(connection, &answer, 1))
            break;
    }
}

void ThreadMain()
{
    State& s = St();
    for (;;) {
        std::vector<pollfd> fds;
        std::vector<PlatHWND> windows;
        {
            std::lock_guard<std::mutex> guard(s.lock);
            for (int fd : s.closing)
                close(fd);
            s.closing.clear();
            fds.push_back(pollfd{s.wake[0], POLLIN, 0});
            windows.push_back(nullptr);
            for (const Listener& l : s.listeners) {
                fds.push_back(pollfd{l.fd, POLLIN, 0});
                windows.push_back(l.window);
            }
        }
        if (poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[0].revents) {
            char buffer[64];
            while (read(s.wake[0], buffer, sizeof buffer) > 0) {
            }
        }
        for (size_t i = 1; i < fds.size(); ++i) {
            if (!(fds[i].revents & POLLIN))
                continue;
            {
                // Skip a socket stopped while polling: its descriptor is about to be closed.
                std::lock_guard<std::mutex> guard(s.lock);
                bool live = false;
                for (const Listener& l : s.listeners)
                    live = live || (l.fd == fds[i].fd && l.window == windows[i]);
                if (!live)
                    continue;
            }
            int connection = accept4(fds[i].fd, nullptr, nullptr, SOCK_CLOEXEC);
            if (connection < 0)
                continue;
            // Each connection is served on its own, so that a sender that keeps one open blocks no other.
            try {
                std::thread([connection, window = windows[i]] {
                    Serve(connection, window);
                    close(connection);
                }).detach();
            } catch (...) {
                close(connection);
            }
        }
    }
}

bool StartThread(State& s)
{
    if (s.threadStarted)
        return true;
    if (pipe2(s.wake, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    try {
        std::thread(ThreadMain).detach();
    } catch (...) {
        close(s.wake[0]);
        close(s.wake[1]);
        s.wake[0] = s.wake[1] = -1;
        return false;
    }
    s.threadStarted = true;
    return true;
}

// Removes the listener of window (lock held); its socket file goes when it still is the one bound.
void StopLocked(State& s, PlatHWND window)
{
    for (auto it = s.listeners.begin(); it != s.listeners.end(); ++it) {
        if (it->window != window)
            continue;
        struct stat st{};
        if (stat(it->path.c_str(), &st) == 0 && st.st_dev == it->device && st.st_ino == it->inode)
            unlink(it->path.c_str());
        s.closing.push_back(it->fd);
        s.listeners.erase(it);
        return;
    }
}

}  // namespace

namespace platlink {

bool Listen(PlatHWND window, const std::string& className, const std::u16string& title)
{
    State& s = St();
    std::lock_guard<std::mutex> guard(s.lock);
    StopLocked(s, window);
    Wake(s);
    const std::string folder = PlatGetMachineSubfolder("windows");
    if (folder.empty() || !StartThread(s))
        return false;
    const std::string name = SocketName(className, title);
    int folderFd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    sockaddr_un address{};
    const bool addressed = folderFd >= 0 && MakeAddress(folder, name, folderFd, address);
    int fd = addressed ? socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0) : -1;
    bool ok = fd >= 0;
    // A later window of the same class and title takes the name over (also from a process that ended).
    if (ok) {
        unlinkat(folderFd, name.c_str(), 0);
        ok = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 && listen(fd, 8) == 0;
    }
    struct stat st{};
    ok = ok && fstatat(folderFd, name.c_str(), &st, 0) == 0;
    if (folderFd >= 0)
        close(folderFd);
    if (!ok) {
        if (fd >= 0)
            close(fd);
        return false;
    }
    s.listeners.push_back(Listener{window, fd, folder + "/" + name, st.st_dev, st.st_ino});
    Wake(s);
    return true;
}

void Stop(PlatHWND window)
{
    State& s = St();
    std::lock_guard<std::mutex> guard(s.lock);
    StopLocked(s, window);
    Wake(s);
}

PlatHWND Connect(const std::string& className, const std::u16string& title)
{
    const std::string folder = PlatGetMachineSubfolder("windows");
    if (folder.empty())
        return nullptr;
    int folderFd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd < 0)
        return nullptr;
    sockaddr_un address{};
    int fd = -1;
    if (MakeAddress(folder, SocketName(className, title), folderFd, address)) {
        fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        // Refused or missing: nobody answers under that name.
        if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            close(fd);
            fd = -1;
        }
    }
    close(folderFd);
    if (fd < 0)
        return nullptr;
    SetReceiveTimeout(fd, kAnswerWaitSeconds);
    auto* remote = new Remote{fd};
    State& s = St();
    std::lock_guard<std::mutex> guard(s.lock);
    s.remotes.push_back(remote);
    return reinterpret_cast<PlatHWND>(remote);
}

bool IsRemote(PlatHWND window)
{
    State& s = St();
    std::lock_guard<std::mutex> guard(s.lock);
    for (Remote* r : s.remotes)
        if (reinterpret_cast<PlatHWND>(r) == window)
            return true;
    return false;
}

bool Send(PlatHWND remote, uint32_t message, uintptr_t wParam)
{
    int fd = -1;
    {
        State& s = St();
        std::lock_guard<std::mutex> guard(s.lock);
        for (Remote* r : s.remotes)
            if (reinterpret_cast<PlatHWND>(r) == remote)
                fd = r->fd;
    }
    if (fd < 0)
        return false;
    const Record r{message, 0, static_cast<uint64_t>(wParam)};
    uint8_t answer = 0;
    return WriteAll(fd, &r, sizeof r) && ReadAll(fd, &answer, 1);
}

}  // namespace platlink
