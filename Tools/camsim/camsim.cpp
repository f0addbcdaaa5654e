// camsim: makes, plugs, unplugs, resets and loads the simulated cameras of the machine (LUMO_MACHINE).
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "SimCamera.h"

namespace {

int Usage()
{
    std::fprintf(stderr,
                 "usage: camsim new ID [--order KVCK|KCVK]\n"
                 "       camsim plug ID 1394|usb\n"
                 "       camsim unplug ID\n"
                 "       camsim reset ID\n"
                 "       camsim shoot ID FILE [NAME]\n"
                 "       camsim set ID PATH lock|mark|whole|nogrow on|off\n"
                 "       camsim knob ID KEY VALUE\n"
                 "       camsim card ID\n"
                 "       camsim log ID\n"
                 "       camsim list\n");
    return 2;
}

int Done(bool ok, const std::string& error)
{
    if (ok)
        return 0;
    std::fprintf(stderr, "camsim: %s\n", error.c_str());
    return 1;
}

}  // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> a(argv + 1, argv + argc);
    if (a.empty())
        return Usage();
    const std::string& command = a[0];
    std::string error;
    if (command == "list" && a.size() == 1) {
        for (const simcam::CameraSummary& c : simcam::ListCameras())
            std::printf("%s\t%s\t%s\n", c.id.c_str(), simcam::PlugName(c.plug), simcam::OrderName(c.order));
        return 0;
    }
    if (a.size() < 2)
        return Usage();
    const std::string& id = a[1];
    if (command == "new" && (a.size() == 2 || (a.size() == 4 && a[2] == "--order"))) {
        simcam::ByteOrder order = simcam::ByteOrder::KVCK;
        if (a.size() == 4) {
            if (a[3] != "KVCK" && a[3] != "KCVK")
                return Usage();
            order = a[3] == "KVCK" ? simcam::ByteOrder::KVCK : simcam::ByteOrder::KCVK;
        }
        return Done(simcam::NewCamera(id, order, &error), error);
    }
    if (command == "plug" && a.size() == 3) {
        if (a[2] != "1394" && a[2] != "usb")
            return Usage();
        return Done(simcam::PlugCamera(id, a[2] == "usb" ? simcam::Plug::Usb : simcam::Plug::Bus1394, &error),
                    error);
    }
    if (command == "unplug" && a.size() == 2)
        return Done(simcam::PlugCamera(id, simcam::Plug::None, &error), error);
    if (command == "reset" && a.size() == 2)
        return Done(simcam::ResetCamera(id, &error), error);
    if (command == "shoot" && (a.size() == 3 || a.size() == 4)) {
        std::string path;
        bool ok = simcam::ShootPicture(id, a[2], a.size() == 4 ? a[3] : std::string(), &path, &error);
        if (ok)
            std::printf("%s\n", path.c_str());
        return Done(ok, error);
    }
    if (command == "set" && a.size() == 5) {
        if (a[4] != "on" && a[4] != "off")
            return Usage();
        return Done(simcam::SetCameraFileFlag(id, a[2], a[3], a[4] == "on", &error), error);
    }
    if (command == "knob" && a.size() == 4)
        return Done(simcam::SetCameraKnob(id, a[2], a[3], &error), error);
    if (command == "card" && a.size() == 2) {
        simcam::CameraSummary c;
        if (!simcam::GetCamera(id, &c))
            return Done(false, "no camera " + id);
        std::printf("%s\n", simcam::CardFolder(id).c_str());
        return 0;
    }
    if (command == "log" && a.size() == 2) {
        std::string text;
        bool ok = simcam::ReadCameraLog(id, &text, &error);
        if (ok)
            std::fwrite(text.data(), 1, text.size(), stdout);
        return Done(ok, error);
    }
    return Usage();
}
