// UI scripts are hand-written and may arrive broken in a bundle: the application must load any bytes as a
// script (or refuse them with a script or XML error) with every generic control registered, lay out and
// draw what it built, take the broadcasts, the common commands and a few clicks, and shut down cleanly. No
// storage class is registered, so nothing is read from or written to disk beside the script and its pictures.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <string>
#include <typeinfo>
#include <vector>

#include "KException.h"
#include "KGenericUiApp.h"
#include "KIGenericUiWindow.h"
#include "KMemoryStorage.h"
#include "KRelayEvent.h"
#include "PlatformWindow.h"

namespace {

// Two pictures beside the script, for the controls that draw pictures: "a.png" (8 x 8, blue with clear 2 x 2
// corners) and "b.png" (24 x 24, a nine-part frame around a centre of 8, 8 to 15, 15).
const uint8_t kPictureA[] = {
    0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A, 0x00, 0x00, 0x00, 0x0D, 0x49, 0x48, 0x44, 0x52, 0x00, 0x00,
    0x00, 0x08, 0x00, 0x00, 0x00, 0x08, 0x08, 0x06, 0x00, 0x00, 0x00, 0xC4, 0x0F, 0xBE, 0x8B, 0x00, 0x00, 0x00,
    0x1F, 0x49, 0x44, 0x41, 0x54, 0x78, 0xDA, 0x63, 0x60, 0x80, 0x02, 0x8D, 0x80, 0x13, 0xFF, 0x91, 0x31, 0x03,
    0x3A, 0xC0, 0xA9, 0x00, 0x5D, 0x02, 0x43, 0x21, 0x1D, 0x14, 0x50, 0xEC, 0x0B, 0x00, 0x53, 0xC9, 0x6B, 0xD1,
    0x00, 0xF0, 0x53, 0x52, 0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4E, 0x44, 0xAE, 0x42, 0x60, 0x82
};
const uint8_t kPictureB[] = {
    0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A, 0x00, 0x00, 0x00, 0x0D, 0x49, 0x48, 0x44, 0x52, 0x00, 0x00,
    0x00, 0x18, 0x00, 0x00, 0x00, 0x18, 0x08, 0x06, 0x00, 0x00, 0x00, 0xE0, 0x77, 0x3D, 0xF8, 0x00, 0x00, 0x00,
    0x3E, 0x49, 0x44, 0x41, 0x54, 0x78, 0xDA, 0x63, 0xD0, 0xD0, 0x88, 0x6A, 0x00, 0xE2, 0xFF, 0xB8, 0x70, 0x54,
    0xD4, 0x02, 0xBC, 0x18, 0x9F, 0x5E, 0x10, 0x66, 0x20, 0xA4, 0x60, 0xD4, 0x82, 0x51, 0x0B, 0x06, 0x81, 0x05,
    0x84, 0x0C, 0x78, 0xF6, 0xEC, 0x17, 0x5E, 0x4C, 0x48, 0xFF, 0xA8, 0x05, 0xA3, 0x16, 0x0C, 0x05, 0x0B, 0x46,
    0x8B, 0x8A, 0x51, 0x0B, 0x46, 0x2D, 0xF8, 0x0F, 0x00, 0x14, 0xFB, 0xEC, 0xFE, 0xDA, 0xA6, 0x48, 0x79, 0x00,
    0x00, 0x00, 0x00, 0x49, 0x45, 0x4E, 0x44, 0xAE, 0x42, 0x60, 0x82
};

// Sends the system's broadcasts and the commands the generic controls share, with the data their names fix
// and with data of other types, then clicks and drags across the window, and draws.
void Exercise(KIGenericUiWindow* w)
{
    w->LayoutRoot();
    w->Invalidate(nullptr);
    w->RedrawIfDirty();
    w->Tick(0.01);
    KWString language(u"Japanese"), colour(u"#20408080"), badColour(u"#zz");
    KWString pair[2] = {KWString(u"a"), KWString(u"b")};
    bool no = false, yes = true;
    int32_t row = 2, size[2] = {40, 30};
    double half = 0.5, range[3] = {10, 4, 3};
    // Each with the data its name fixes, stated as the system's senders state it; the last ones with data of
    // another type, which the receivers must refuse.
    const struct {
        const char16_t* message;
        void* data;
        const std::type_info& type;
        size_t count;
    } commands[] = {
        {kUiMsgSetLanguage, &language, typeid(KWString), 1}, {u"HideChildren", nullptr, typeid(void), 0},
        {u"ToggleChildren", nullptr, typeid(void), 0},        {u"Visibility", &no, typeid(bool), 1},
        {u"Visibility", nullptr, typeid(void), 0},            {u"Visibility", &yes, typeid(bool), 1},
        {u"ShowChildren", nullptr, typeid(void), 0},          {u"SetColor", &colour, typeid(KWString), 1},
        {u"SetColor", &badColour, typeid(KWString), 1},       {u"SetColor", nullptr, typeid(void), 0},
        {u"Hide", nullptr, typeid(void), 0},                  {u"Show", nullptr, typeid(void), 0},
        {kUiMsgDisableWindowDisplay, nullptr, typeid(void), 0}, {kUiMsgEnableWindowDisplay, nullptr, typeid(void), 0},
        {u"Disable", nullptr, typeid(void), 0},               {u"SetEnabled", &yes, typeid(bool), 1},
        {u"ToggleEnabled", nullptr, typeid(void), 0},         {u"SetEnabled", &no, typeid(bool), 1},
        {u"Enable", nullptr, typeid(void), 0},                {u"ToggleVisibility", nullptr, typeid(void), 0},
        {u"Select", nullptr, typeid(void), 0},                {u"Deselect", nullptr, typeid(void), 0},
        {u"Press", nullptr, typeid(void), 0},                 {u"On", nullptr, typeid(void), 0},
        {u"Off", nullptr, typeid(void), 0},                   {u"Redraw", nullptr, typeid(void), 0},
        {u"Progress", &half, typeid(double), 1},              {u"Set", range, typeid(double), 3},
        {u"Scroll", &row, typeid(int32_t), 1},                {u"AddToListWithID", pair, typeid(KWString), 2},
        {u"Set", &half, typeid(double), 1},                   {u"Set", &row, typeid(int32_t), 1},
        {u"Progress", &yes, typeid(bool), 1},                 {u"SetTimer", &row, typeid(int32_t), 1},
        {u"SetText", &half, typeid(double), 1},               {u"AddToListWithID", &language, typeid(KWString), 1},
        {u"GetValue", &yes, typeid(bool), 1},                 {u"GetText", size, typeid(int32_t), 2},
        {u"SetImage", &colour, typeid(KWString), 1},          {u"NewList", &language, typeid(KWString), 1},
    };
    for (const auto& c : commands) {
        if (!c.data) {
            w->BroadcastRelayMessage(KWString(c.message), nullptr);
            continue;
        }
        const KUiRelayDataScope stated(c.data, c.type, c.count, true);
        w->BroadcastRelayMessage(KWString(c.message), c.data);
    }
    KRect r;
    w->GetWindowRect(r);
    const int32_t width = r.Width(), height = r.Height();
    for (int i = 1; i < 4; ++i) {
        const int32_t x = width * i / 4, y = height * i / 4;
        w->MouseMove(x, y);
        w->MouseDown(0, x, y, false, false);
        w->MouseMove(x + 7, y + 5);
        w->MouseMove(x - 20, y - 20);
        w->MouseUp(0, x - 20, y - 20, false, false);
    }
    w->ShrinkBy(0, 0);
    w->Invalidate(nullptr);
    w->RedrawIfDirty();
    w->Tick(0.01);
}

// "s.png": a 13 x 13 picture with a darker 5 x 5 centre, for every image key a script names so.
const std::vector<uint8_t> kSkin = {
    0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a, 0x00, 0x00, 0x00, 0x0d, 0x49, 0x48, 0x44, 0x52, 0x00, 0x00,
    0x00, 0x0d, 0x00, 0x00, 0x00, 0x0d, 0x08, 0x06, 0x00, 0x00, 0x00, 0x72, 0xeb, 0xe4, 0x7c, 0x00, 0x00, 0x00,
    0x1d, 0x49, 0x44, 0x41, 0x54, 0x78, 0xda, 0x63, 0x38, 0x71, 0xe2, 0xd2, 0x7f, 0x52, 0x31, 0xc3, 0x10, 0xd3,
    0x14, 0x15, 0x95, 0x87, 0x81, 0x47, 0xa4, 0xa6, 0x61, 0x10, 0xb9, 0x00, 0x46, 0xda, 0x1b, 0xe8, 0x7d, 0x1c,
    0x6d, 0x0e, 0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4e, 0x44, 0xae, 0x42, 0x60, 0x82};

// Menus through the window's messages: command ids, shortcut keys, and presses on the bar and beside it.
void ExerciseMenus(KIGenericUiWindow* w)
{
    auto* handle = static_cast<PlatHWND*>(w->GetAttribute(1));
    PlatHWND h = handle ? *handle : nullptr;
    if (!h || !PlatIsWindow(h))
        return;
    for (uintptr_t id : {0x0000u, 0x0001u, 0x0100u, 0x01FFu, 0xFE00u, 0xFFFFu})
        PlatSendMessage(h, PLAT_WM_COMMAND, id, 0);
    PlatSendMessage(h, PLAT_WM_KEYDOWN, PLAT_VK_CONTROL, 1);
    for (uintptr_t key : {uintptr_t('A'), uintptr_t('X'), uintptr_t(0x74), uintptr_t(PLAT_VK_OEM_4),
                          uintptr_t(PLAT_VK_DELETE)})
        PlatSendMessage(h, PLAT_WM_KEYDOWN, key, 1);
    PlatSendMessage(h, PLAT_WM_KEYUP, PLAT_VK_CONTROL, 1);
    PlatRect r{};
    PlatGetWindowRect(h, r);
    const int32_t barY = r.top - PlatGetMenuBarHeight(h) / 2;
    for (int32_t x : {r.left + 10, r.left + 40, r.left + 10}) {
        const intptr_t at = static_cast<intptr_t>((static_cast<uint32_t>(static_cast<uint16_t>(barY)) << 16) |
                                                  static_cast<uint16_t>(x));
        PlatSendMessage(h, PLAT_WM_NCLBUTTONDOWN, PLAT_HTMENU, at);
    }
    PlatSendMessage(h, PLAT_WM_KEYDOWN, 0x1B, 1);
    PlatSendMessage(h, PLAT_WM_LBUTTONDOWN, 0, 0);
    PlatSendMessage(h, PLAT_WM_LBUTTONUP, 0, 0);
}

}  // namespace

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
    folder->Put(u"s.png", kSkin);
    folder->Put(u"a.png", std::vector<uint8_t>(std::begin(kPictureA), std::end(kPictureA)));
    folder->Put(u"b.png", std::vector<uint8_t>(std::begin(kPictureB), std::end(kPictureB)));
    KGenericUiApp* app = CreateGenericUiApp();
    try {
        bool running = false;
        if (app->LoadUiScript(folder, KWString(u"ui.xml"), running)) {
            for (KIGenericUiWindow* w = app->GetFirstWindow(); w; w = w->GetNextWindow()) {
                Exercise(w);
                ExerciseMenus(w);
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
