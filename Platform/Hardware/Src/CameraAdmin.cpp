// Making, plugging, resetting and loading cameras: what the tool and the tests do to them.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

#include "CameraFirmware.h"

namespace simcam {

namespace {

bool Fail(std::string* error, const std::string& text)
{
    if (error)
        *error = text;
    return false;
}

// Opens (making it when missing) the folder `name` inside dir, not following symbolic links.
int SubFolder(int dir, const char* name)
{
    if (mkdirat(dir, name, 0755) != 0 && errno != EEXIST)
        return -1;
    return openat(dir, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

// The number of an "IMG_nnnn.KZR" name, or -1.
long PictureNumber(const std::string& name)
{
    if (name.size() < 9 || name.size() > 16)
        return -1;
    std::string upper = name;
    for (char& c : upper)
        if (c >= 'a' && c <= 'z')
            c = char(c - 'a' + 'A');
    if (upper.compare(0, 4, "IMG_") != 0 || upper.compare(upper.size() - 4, 4, ".KZR") != 0)
        return -1;
    std::string digits = upper.substr(4, upper.size() - 8);
    if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos)
        return -1;
    return std::stol(digits);
}

}  // namespace

bool NewCamera(const std::string& id, ByteOrder order, std::string* error)
{
    if (!IsValidCameraId(id))
        return Fail(error, "not a camera id: \"" + id + "\" (1 to 64 of A-Z a-z 0-9 _ -)");
    int cameras = OpenCamerasFolder(true);
    if (cameras < 0)
        return Fail(error, "cannot make the folder " + CameraFolder(id));
    if (mkdirat(cameras, id.c_str(), 0755) != 0) {
        int e = errno;
        close(cameras);
        return Fail(error, e == EEXIST ? "camera " + id + " exists" : "cannot make " + CameraFolder(id) + ": " +
                                                                          std::strerror(e));
    }
    close(cameras);
    Session s(id);
    if (!s.Ok())
        return Fail(error, s.Error());
    int card = SubFolder(s.Dir(), "card");
    int cf = card >= 0 ? SubFolder(card, "cf") : -1;
    int images = cf >= 0 ? SubFolder(cf, "images") : -1;
    for (int fd : {card, cf, images})
        if (fd >= 0)
            close(fd);
    if (images < 0)
        return Fail(error, "cannot make the card of camera " + id);
    s.State().order = order;
    s.Touch();
    if (!s.Save())
        return Fail(error, "cannot write the state of camera " + id);
    s.Log("tool", "new", 0, 0, OrderName(order));
    return true;
}

static bool PlugState(const std::string& id, Plug plug, std::string* error);

bool PlugCamera(const std::string& id, Plug plug, std::string* error)
{
    const size_t before = UsbCameraCount();
    if (!PlugState(id, plug, error))
        return false;
    SyncUsbNotificationValues(before);
    return true;
}

static bool PlugState(const std::string& id, Plug plug, std::string* error)
{
    Session s(id);
    if (!s.Ok())
        return Fail(error, s.Error());
    CameraState& st = s.State();
    st.plug = plug;
    st.usbHalted = {};
    st.usbPreambleSent = false;
    s.Touch();
    if (!s.Save())
        return Fail(error, "cannot write the state of camera " + id);
    s.Log("tool", "plug", 0, 0, PlugName(plug));
    return true;
}

bool ResetCamera(const std::string& id, std::string* error)
{
    Session s(id);
    if (!s.Ok())
        return Fail(error, s.Error());
    s.State().PowerOn();
    s.Touch();
    if (!s.SetWindow({}) || !s.Save())
        return Fail(error, "cannot write the state of camera " + id);
    s.Log("tool", "reset", 0, 0, "ok");
    return true;
}

bool ShootPicture(const std::string& id, const std::string& source, const std::string& name,
                  std::string* cameraPath, std::string* error)
{
    std::ifstream in(source, std::ios::binary);
    if (!in)
        return Fail(error, "cannot read " + source);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad())
        return Fail(error, "cannot read " + source);
    if (!name.empty() && (name.size() > 255 || name == "." || name == ".." || name.find('/') != std::string::npos ||
                          name.find('\0') != std::string::npos))
        return Fail(error, "not a file name: " + name);

    Session s(id);
    if (!s.Ok())
        return Fail(error, s.Error());
    int card = s.Card();
    if (card < 0)
        return Fail(error, "camera " + id + " has no card");
    int cf = SubFolder(card, "cf");
    int images = cf >= 0 ? SubFolder(cf, "images") : -1;
    if (cf >= 0)
        close(cf);
    if (images < 0)
        return Fail(error, "cannot make /cf/images on the card of camera " + id);

    std::string leaf = name;
    if (leaf.empty()) {
        long last = 0;
        int copy = dup(images);
        if (DIR* d = copy >= 0 ? fdopendir(copy) : nullptr) {
            while (dirent* e = readdir(d))
                last = std::max(last, PictureNumber(e->d_name));
            closedir(d);
        } else if (copy >= 0) {
            close(copy);
        }
        char text[32];
        std::snprintf(text, sizeof text, "IMG_%04ld.KZR", last + 1);
        leaf = text;
    }
    struct stat st{};
    if (fstatat(images, leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
        close(images);
        return Fail(error, "/cf/images/" + leaf + " is already on the card");
    }
    bool ok = WriteFileAt(images, leaf, bytes);
    close(images);
    if (!ok)
        return Fail(error, "cannot write /cf/images/" + leaf + " on the card of camera " + id);
    s.State().fileFlags["cf/images/" + leaf] = kFileMark;
    s.Touch();
    s.Log("tool", "shoot", 0, bytes.size(), leaf.c_str());
    if (cameraPath)
        *cameraPath = "/cf/images/" + leaf;
    return true;
}

bool SetCameraFileFlag(const std::string& id, const std::string& cameraPath, const std::string& flag, bool on,
                       std::string* error)
{
    uint32_t bit = 0;
    if (flag == "lock")
        bit = kFileLock;
    else if (flag == "mark")
        bit = kFileMark;
    else if (flag == "whole")
        bit = kFileWhole;
    else if (flag == "nogrow")
        bit = kFileNoGrow;
    if (bit == 0)
        return Fail(error, "not a file flag: " + flag + " (lock, mark, whole, nogrow)");
    Session s(id);
    if (!s.Ok())
        return Fail(error, s.Error());
    CardItem item;
    if (!FindOnCard(s.Card(), cameraPath, &item) || item.relative.empty())
        return Fail(error, cameraPath + " is not on the card of camera " + id);
    uint32_t& bits = s.State().fileFlags[item.relative];
    bits = on ? (bits | bit) : (bits & ~bit);
    if (bits == 0)
        s.State().fileFlags.erase(item.relative);
    s.Touch();
    return true;
}

bool SetCameraKnob(const std::string& id, const std::string& key, const std::string& value, std::string* error)
{
    Session s(id);
    if (!s.Ok())
        return Fail(error, s.Error());
    if (!SetKnobValue(&s.State().knobs, key, value))
        return Fail(error, "not a knob setting: " + key + " " + value);
    s.Touch();
    return true;
}

bool ReadCameraLog(const std::string& id, std::string* text, std::string* error)
{
    Session s(id);
    if (!s.Ok())
        return Fail(error, s.Error());
    text->clear();
    for (const char* name : {"log.old", "log"}) {
        int fd = openat(s.Dir(), name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            continue;
        char buf[8192];
        ssize_t n;
        while ((n = read(fd, buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR))
            if (n > 0)
                text->append(buf, size_t(n));
        close(fd);
    }
    return true;
}

bool GetCamera(const std::string& id, CameraSummary* out)
{
    return ReadStateSummary(id, out, nullptr);
}

std::vector<CameraSummary> ListCameras()
{
    std::vector<CameraSummary> out;
    int cameras = OpenCamerasFolder(false);
    if (cameras < 0)
        return out;
    std::vector<std::string> ids;
    if (DIR* d = fdopendir(cameras)) {
        while (dirent* e = readdir(d))
            if (IsValidCameraId(e->d_name))
                ids.push_back(e->d_name);
        closedir(d);
    } else {
        close(cameras);
    }
    std::sort(ids.begin(), ids.end());
    for (const std::string& id : ids) {
        CameraSummary summary;
        if (GetCamera(id, &summary))
            out.push_back(summary);
    }
    return out;
}

}  // namespace simcam
