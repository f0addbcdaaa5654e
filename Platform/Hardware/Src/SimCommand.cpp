// camsim's commands over the simulated camera's management functions.
#include "SimCommand.h"

#include "SimCamera.h"

namespace simcam {

const char* CamsimUsage()
{
    return "usage: camsim new ID [--order KVCK|KCVK]\n"
           "       camsim plug ID 1394|usb\n"
           "       camsim unplug ID\n"
           "       camsim reset ID\n"
           "       camsim shoot ID FILE [NAME]\n"
           "       camsim set ID PATH lock|mark|whole|nogrow on|off\n"
           "       camsim knob ID KEY VALUE\n"
           "       camsim card ID\n"
           "       camsim log ID\n"
           "       camsim list\n";
}

int RunCamsimCommand(const std::vector<std::string>& a, std::string* out, std::string* error)
{
    out->clear();
    error->clear();
    const auto done = [](bool ok) { return ok ? 0 : 1; };
    if (a.empty())
        return 2;
    const std::string& command = a[0];
    if (command == "list" && a.size() == 1) {
        for (const CameraSummary& c : ListCameras())
            *out += c.id + "\t" + PlugName(c.plug) + "\t" + OrderName(c.order) + "\n";
        return 0;
    }
    if (a.size() < 2)
        return 2;
    const std::string& id = a[1];
    if (command == "new" && (a.size() == 2 || (a.size() == 4 && a[2] == "--order"))) {
        ByteOrder order = ByteOrder::KVCK;
        if (a.size() == 4) {
            if (a[3] != "KVCK" && a[3] != "KCVK")
                return 2;
            order = a[3] == "KVCK" ? ByteOrder::KVCK : ByteOrder::KCVK;
        }
        return done(NewCamera(id, order, error));
    }
    if (command == "plug" && a.size() == 3) {
        if (a[2] != "1394" && a[2] != "usb")
            return 2;
        return done(PlugCamera(id, a[2] == "usb" ? Plug::Usb : Plug::Bus1394, error));
    }
    if (command == "unplug" && a.size() == 2)
        return done(PlugCamera(id, Plug::None, error));
    if (command == "reset" && a.size() == 2)
        return done(ResetCamera(id, error));
    if (command == "shoot" && (a.size() == 3 || a.size() == 4)) {
        std::string path;
        const bool ok = ShootPicture(id, a[2], a.size() == 4 ? a[3] : std::string(), &path, error);
        if (ok)
            *out = path + "\n";
        return done(ok);
    }
    if (command == "set" && a.size() == 5) {
        if (a[4] != "on" && a[4] != "off")
            return 2;
        return done(SetCameraFileFlag(id, a[2], a[3], a[4] == "on", error));
    }
    if (command == "knob" && a.size() == 4)
        return done(SetCameraKnob(id, a[2], a[3], error));
    if (command == "card" && a.size() == 2) {
        CameraSummary c;
        if (!GetCamera(id, &c)) {
            *error = "no camera " + id;
            return 1;
        }
        *out = CardFolder(id) + "\n";
        return 0;
    }
    if (command == "log" && a.size() == 2) {
        std::string text;
        const bool ok = ReadCameraLog(id, &text, error);
        if (ok)
            *out = text;
        return done(ok);
    }
    return 2;
}

}  // namespace simcam
