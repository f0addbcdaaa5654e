// The simulated 1394 bus's state, shared by every process through the machine folder.
#include "BusState.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sstream>

#include "CameraState.h"
#include "PlatformMachine.h"
#include "SimCamera.h"

namespace simbus {

namespace {

constexpr off_t kLogMax = 4 << 20;

bool ReadAll(int fd, std::string* text)
{
    char buf[8192];
    for (;;) {
        ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            return true;
        text->append(buf, size_t(n));
        if (text->size() > (16u << 20))
            return true;
    }
}

bool ParseNumber(const std::string& text, uint32_t* value)
{
    if (text.empty() || text.size() > 12)
        return false;
    char* end = nullptr;
    errno = 0;
    unsigned long long v = std::strtoull(text.c_str(), &end, 0);
    if (errno != 0 || *end != 0 || v > 0xFFFFFFFFull || text[0] == '-')
        return false;
    *value = uint32_t(v);
    return true;
}

}  // namespace

std::string SerializeBus(const BusView& view)
{
    std::ostringstream out;
    out << "generation " << view.generation << "\n";
    for (const BusNode& n : view.nodes)
        out << "node " << n.id << "\n";
    for (const BusFailure& f : view.failures)
        out << "fail " << f.function << " " << f.count << " " << f.status << "\n";
    out << "pend " << view.knobs.pendMs << "\n";
    out << "delivery " << view.knobs.deliveryMs << "\n";
    out << "hostread " << view.knobs.hostRead << "\n";
    out << "hostwrite " << view.knobs.hostWrite << "\n";
    return out.str();
}

void ParseBus(const std::string& text, BusView* view)
{
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string key, a, b, c;
        words >> key >> a >> b >> c;
        uint32_t v1 = 0, v2 = 0, v3 = 0;
        if (key == "node" && simcam::IsValidCameraId(a)) {
            bool seen = std::any_of(view->nodes.begin(), view->nodes.end(), [&](const BusNode& n) { return n.id == a; });
            if (!seen)
                view->nodes.push_back({uint32_t(view->nodes.size()), a});
        } else if (key == "fail" && ParseNumber(a, &v1) && ParseNumber(b, &v2) && ParseNumber(c, &v3)) {
            if (v2 > 0)
                view->failures.push_back({v1, v2, v3});
        } else if (!ParseNumber(a, &v1)) {
            continue;
        } else if (key == "generation") {
            view->generation = v1;
        } else if (key == "pend") {
            view->knobs.pendMs = std::min<uint32_t>(v1, 60000);
        } else if (key == "delivery") {
            view->knobs.deliveryMs = std::min<uint32_t>(v1, 60000);
        } else if (key == "hostread" && v1 > 0) {
            view->knobs.hostRead = v1;
        } else if (key == "hostwrite" && v1 > 0) {
            view->knobs.hostWrite = v1;
        }
    }
}

BusSession::BusSession()
{
    // The folder is made once; every request opens it.
    std::string path = PlatGetMachineFolder() + "/hardware/bus1394";
    m_Dir = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (m_Dir < 0 && errno == ENOENT) {
        path = PlatGetMachineSubfolder("hardware/bus1394");
        if (path.empty()) {
            m_Error = "cannot make the bus folder in the machine folder";
            return;
        }
        m_Dir = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    }
    if (m_Dir < 0) {
        m_Error = "cannot open " + path + ": " + std::strerror(errno);
        return;
    }
    m_Lock = openat(m_Dir, "lock", O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
    if (m_Lock < 0) {
        m_Error = "cannot open the bus's lock: " + std::string(std::strerror(errno));
        return;
    }
    int rc;
    do {
        rc = flock(m_Lock, LOCK_EX);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        m_Error = "cannot take the bus's lock: " + std::string(std::strerror(errno));
        close(m_Lock);
        m_Lock = -1;
        return;
    }
    int fd = openat(m_Dir, "state", O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) {
        std::string text;
        ReadAll(fd, &text);
        close(fd);
        ParseBus(text, &m_View);
    }
}

BusSession::~BusSession()
{
    if (m_Dirty && Ok())
        simcam::WriteFileAt(m_Dir, "state", SerializeBus(m_View));
    if (m_Lock >= 0)
        close(m_Lock);
    if (m_Dir >= 0)
        close(m_Dir);
}

void BusSession::FollowCameras()
{
    std::vector<std::string> plugged;
    for (const simcam::CameraSummary& c : simcam::ListCameras())
        if (c.plug == simcam::Plug::Bus1394)
            plugged.push_back(c.id);
    std::vector<BusNode> nodes;
    for (const BusNode& n : m_View.nodes)
        if (std::find(plugged.begin(), plugged.end(), n.id) != plugged.end())
            nodes.push_back({uint32_t(nodes.size()), n.id});
    bool changed = nodes.size() != m_View.nodes.size();
    for (const std::string& id : plugged)
        if (std::none_of(nodes.begin(), nodes.end(), [&](const BusNode& n) { return n.id == id; })) {
            nodes.push_back({uint32_t(nodes.size()), id});
            changed = true;
        }
    if (changed) {
        m_View.nodes = std::move(nodes);
        ++m_View.generation;
        Touch();
    }
}

bool BusSession::TakeFailure(uint32_t function, uint32_t* status)
{
    for (auto it = m_View.failures.begin(); it != m_View.failures.end(); ++it)
        if (it->function == function && it->count > 0) {
            *status = it->status;
            if (--it->count == 0)
                m_View.failures.erase(it);
            Touch();
            return true;
        }
    return false;
}

void BusSession::Log(const std::string& line)
{
    if (!Ok())
        return;
    int fd = openat(m_Dir, "log", O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    struct stat st{};
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > kLogMax) {
        close(fd);
        renameat(m_Dir, "log", m_Dir, "log.old");
        fd = openat(m_Dir, "log", O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
        if (fd < 0)
            return;
    }
    std::string text = line + "\n";
    ssize_t w = write(fd, text.data(), text.size());
    (void)w;
    close(fd);
}

bool BusSession::ReadLog(std::string* text)
{
    text->clear();
    int fd = openat(m_Dir, "log", O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT;
    bool ok = ReadAll(fd, text);
    close(fd);
    return ok;
}

bool BusSession::ClearLog()
{
    return (unlinkat(m_Dir, "log", 0) == 0 || errno == ENOENT) && (unlinkat(m_Dir, "log.old", 0) == 0 || errno == ENOENT);
}

// ---- The tool's and the tests' operations ----------------------------------------------------------------------

namespace {

bool Fail(std::string* error, const std::string& message)
{
    if (error)
        *error = message;
    return false;
}

}  // namespace

bool SyncBus(BusView* view, std::string* error)
{
    BusSession s;
    if (!s.Ok())
        return Fail(error, s.Error());
    s.FollowCameras();
    if (view)
        *view = s.View();
    return true;
}

bool ResetBus(BusView* view, std::string* error)
{
    BusSession s;
    if (!s.Ok())
        return Fail(error, s.Error());
    s.FollowCameras();
    ++s.View().generation;
    s.Touch();
    if (view)
        *view = s.View();
    return true;
}

bool SetBusFailure(uint32_t function, uint32_t count, uint32_t status, std::string* error)
{
    BusSession s;
    if (!s.Ok())
        return Fail(error, s.Error());
    auto& f = s.View().failures;
    f.erase(std::remove_if(f.begin(), f.end(), [&](const BusFailure& x) { return x.function == function; }), f.end());
    if (count > 0)
        f.push_back({function, count, status});
    s.Touch();
    return true;
}

bool SetBusKnob(const std::string& key, uint32_t value, std::string* error)
{
    BusSession s;
    if (!s.Ok())
        return Fail(error, s.Error());
    BusKnobs& k = s.View().knobs;
    if (key == "pend" && value <= 60000)
        k.pendMs = value;
    else if (key == "delivery" && value <= 60000)
        k.deliveryMs = value;
    else if (key == "hostread" && value > 0)
        k.hostRead = value;
    else if (key == "hostwrite" && value > 0)
        k.hostWrite = value;
    else
        return Fail(error, "unknown knob or value: " + key + " " + std::to_string(value) +
                               " (pend and delivery take 0 to 60000 ms, hostread and hostwrite at least 1)");
    s.Touch();
    return true;
}

bool ReadBusLog(std::string* text, std::string* error)
{
    BusSession s;
    if (!s.Ok())
        return Fail(error, s.Error());
    if (!s.ReadLog(text))
        return Fail(error, "cannot read the bus's log");
    return true;
}

bool ClearBusLog(std::string* error)
{
    BusSession s;
    if (!s.Ok())
        return Fail(error, s.Error());
    if (!s.ClearLog())
        return Fail(error, "cannot clear the bus's log");
    return true;
}

const char* BusFunctionName(uint32_t function)
{
    switch (function) {
    case 0:
        return "read";
    case 1:
        return "write";
    case 17:
        return "allocate-range";
    case 18:
        return "free-range";
    case 19:
        return "host-info";
    case 24:
        return "config-info";
    case 26:
        return "generation";
    case 29:
        return "reset-notification";
    default:
        return "other";
    }
}

}  // namespace simbus
