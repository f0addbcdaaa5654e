// UI scripts are hand-written and may arrive broken in a bundle: the application must load any bytes as a
// script (or refuse them with a script or XML error), draw what it built and shut down cleanly. No storage
// class is registered, so nothing is read from or written to disk beside the script.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "KException.h"
#include "KGenericUiApp.h"
#include "KIGenericUiWindow.h"
#include "KMemoryStorage.h"
#include "PlatformWindow.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool started = [] {
        setenv("LUMO_UI", "headless", 1);
        std::string error;
        return PlatUiStart(error);
    }();
    if (!started)
        return 0;
    auto* folder = new KMemoryFolder;
    folder->Put(u"ui.xml", std::vector<uint8_t>(data, data + size));
    KGenericUiApp* app = CreateGenericUiApp();
    try {
        bool running = false;
        if (app->LoadUiScript(folder, KWString(u"ui.xml"), running)) {
            for (KIGenericUiWindow* w = app->GetFirstWindow(); w; w = w->GetNextWindow()) {
                w->Invalidate(nullptr);
                w->RedrawIfDirty();
                w->Tick(0.01);
            }
        }
    } catch (const KException&) {
        // Refused with a script or XML error.
    }
    DeleteGenericUiApp(app);
    // Drop what the windows left queued (the quit of a destroyed main window).
    PlatMsg msg{};
    while (PlatPeekMessage(msg, nullptr, 0, 0, true)) {
    }
    return 0;
}
