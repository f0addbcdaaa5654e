// uirun: loads a UI script through the real application, runs it and shuts it down normally.
//
//   uirun [--headless|--x11] (--folder DIR | --bundle FILE) [--script NAME] [--events FILE] [--dump-dir DIR]
//         [--timeout S] [ARGUMENT]
//
// With --events the clock is virtual and moves only by the commands of the file, one a line (see Usage).
// Exit 0; 2 with the error on stderr for a script error; 3 when the script does not load.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <typeinfo>
#include <vector>

#include "KArray.h"
#include "KBundleFolder.h"
#include "KException.h"
#include "KExceptionUiScript.h"
#include "KGenericUiApp.h"
#include "KGenericUiWindow.h"
#include "KIGenericUiWindow.h"
#include "KIOsUiApp.h"
#include "KIUiObject.h"
#include "KPNGWriter.h"
#include "KPixmapDisplay.h"
#include "KSCDiskWin.h"
#include "KStorage.h"
#include "KTextFunctions.h"
#include "KUiObject.h"
#include "KUiObjectFactory.h"
#include "KUiWindowClass.h"
#include "KWinUiMenu.h"
#include "KWinUiWindow.h"
#include "PlatformTime.h"
#include "PlatformWindow.h"
#include "TestProbe.h"

namespace {

const char kUsage[] =
    "usage: uirun [--headless|--x11] (--folder DIR | --bundle FILE) [--script NAME] [--events FILE]\n"
    "             [--dump-dir DIR] [--timeout S] [ARGUMENT]\n"
    "events, one a line: tick [N] | wait MS | relay PATH MESSAGE [DATA] | lang NAME | list |\n"
    "  sh COMMAND (through /bin/sh, for tests that change files between events) |\n"
    "  (a MESSAGE with spaces in double quotes)\n"
    "  dump WINPATH FILE.png | close WINPATH | resize WINPATH W H | move WINPATH X Y |\n"
    "  layout WINPATH (each object: TYPE PATH LEFT TOP WIDTH HEIGHT, indented by depth)\n"
    "  mouse WINPATH X Y | down|up|click|dblclick WINPATH X Y [ctrl] [shift] | wheel WINPATH X Y DELTA |\n"
    "  leave WINPATH | key WINPATH KEY [ctrl] [shift] [alt] | type WINPATH TEXT | cursor WINPATH | clipboard\n"
    "  menus WINPATH (each menu title, then each entry: INDEX \"TEXT\" enabled|disabled [checked], or\n"
    "  INDEX separator) | menu WINPATH TITLE [ENTRY] (a click on the title in the bar, then on the entry of\n"
    "  that label) | dump WINPATH.bar FILE.png | dump WINPATH.popup FILE.png (the bar, the open menu)\n"
    "  DATA: s:TEXT ss:A|B b:0|1 i:N ii:X,Y iii:A,B,C d:X ddd:A,B,C o:PATH a:A|B|... (an array of texts)\n"
    "  X Y in client pixels; KEY a key name (Left, Escape, Return, F5, a, ...) or the program's key code\n"
    "  (digits only; a digit key is its character code, 48 to 57)\n"
    "  (146 is sent as Left, 22 as Ctrl+V); a WINPATH of a window class names its front instance\n";

struct Driver {
    KGenericUiApp* app = nullptr;
    std::vector<std::string> lines;
    size_t next = 0;
    int pendingTicks = 0;
    bool useEvents = false;
    std::string dumpDir;
    double timeout = 0;
    uint32_t startMs = 0;
    bool finished = false;
};

// The windows of the script, then the instances of each class, front first.
std::vector<KIGenericUiWindow*> AllWindows(KGenericUiApp* app)
{
    std::vector<KIGenericUiWindow*> all;
    for (KIGenericUiWindow* w = app->GetFirstWindow(); w; w = w->GetNextWindow())
        all.push_back(w);
    for (KUiWindowClass* c = app->GetFirstWindowClass(); c; c = c->GetNext())
        for (KIGenericUiWindow* w = c->GetFrontWindow(); w; w = w->GetNextWindow())
            all.push_back(w);
    return all;
}

KIGenericUiWindow* FindWindowByPath(KGenericUiApp* app, const std::string& path)
{
    for (KIGenericUiWindow* w : AllWindows(app)) {
        KWString p;
        w->GetPath(p);
        if (WideToUtf8(p) == path)
            return w;
    }
    return nullptr;
}

PlatHWND HandleOf(KIGenericUiWindow* w)
{
    auto* h = w ? static_cast<PlatHWND*>(w->GetAttribute(1)) : nullptr;
    return h ? *h : nullptr;
}

KWinUiWindow* OsWindowOf(KIGenericUiWindow* w)
{
    auto* g = dynamic_cast<KGenericUiWindow*>(w);
    return g ? dynamic_cast<KWinUiWindow*>(g->GetOsWindow()) : nullptr;
}

// part: "" the client area, ".bar" the menu bar, ".popup" the open menu.
bool Dump(KIGenericUiWindow* w, const std::string& file, const std::string& part = "")
{
    PlatHWND h = HandleOf(w);
    int32_t width = 0, height = 0;
    const uint8_t* pixels = nullptr;
    if (part == ".bar") {
        pixels = PlatGetMenuBarPixels(h, width, height);
    } else if (part == ".popup") {
        KWinUiWindow* os = OsWindowOf(w);
        PlatHWND popup = os && os->GetMenuBar() ? os->GetMenuBar()->GetPopup() : nullptr;
        pixels = popup ? PlatGetWindowPixels(popup, width, height) : nullptr;
    } else {
        pixels = PlatGetWindowPixels(h, width, height);
    }
    if (!pixels) {
        std::fprintf(stderr, "uirun: no pixels to dump into %s\n", file.c_str());
        return false;
    }
    KPixmap_Display view(const_cast<uint8_t*>(pixels), width, height, width * 4);
    KWString url;
    if (!PosixFileToURL(file, url)) {
        std::fprintf(stderr, "uirun: cannot name %s\n", file.c_str());
        return false;
    }
    try {
        SavePNGPixmap(view, url);
    } catch (const KException& e) {
        std::fprintf(stderr, "uirun: %s: %s (%s)\n", file.c_str(), e.GetMessage(), e.GetDescription());
        return false;
    }
    return true;
}

void DumpAll(Driver& d)
{
    if (d.dumpDir.empty())
        return;
    for (KIGenericUiWindow* w = d.app->GetFirstWindow(); w; w = w->GetNextWindow()) {
        KWString p;
        w->GetPath(p);
        if (HandleOf(w))
            Dump(w, d.dumpDir + "/" + WideToUtf8(p) + ".png");
    }
}

std::vector<int32_t> Ints(const std::string& text)
{
    std::vector<int32_t> out;
    std::stringstream in(text);
    std::string part;
    while (std::getline(in, part, ','))
        out.push_back(static_cast<int32_t>(std::strtol(part.c_str(), nullptr, 10)));
    return out;
}

bool Relay(Driver& d, const std::string& path, const std::string& message, const std::string& dataText)
{
    KIUiRelay* target = d.app->GetUiRelay(Utf8ToWide(path));
    if (!target)
        return false;
    const size_t colon = dataText.find(':');
    const std::string kind = colon == std::string::npos ? "" : dataText.substr(0, colon);
    const std::string value = colon == std::string::npos ? "" : dataText.substr(colon + 1);
    KWString strings[2];
    bool flag = false;
    std::vector<int32_t> ints;
    double doubles[3] = {0, 0, 0};
    KArray<KWString> array;
    void* data = nullptr;
    // What data points to, stated for the delivery.
    const std::type_info* type = nullptr;
    size_t count = 1;
    if (kind == "a") {
        std::stringstream in(value);
        for (std::string part; std::getline(in, part, '|');)
            array.Add(Utf8ToWide(part));
        data = &array;
        type = &typeid(KArray<KWString>);
    } else if (kind == "s" || kind == "ss") {
        const size_t bar = kind == "ss" ? value.find('|') : std::string::npos;
        strings[0] = Utf8ToWide(value.substr(0, bar));
        strings[1] = Utf8ToWide(bar == std::string::npos ? "" : value.substr(bar + 1));
        data = strings;
        type = &typeid(KWString);
        count = 2;
    } else if (kind == "b") {
        flag = value == "1";
        data = &flag;
        type = &typeid(bool);
    } else if (kind == "i" || kind == "ii" || kind == "iii") {
        ints = Ints(value);
        ints.resize(kind.size(), 0);
        data = ints.data();
        type = &typeid(int32_t);
        count = ints.size();
    } else if (kind == "d" || kind == "ddd") {
        std::stringstream in(value);
        std::string part;
        for (int i = 0; i < 3 && std::getline(in, part, ','); ++i)
            doubles[i] = std::strtod(part.c_str(), nullptr);
        data = doubles;
        type = &typeid(double);
        count = kind == "d" ? 1 : 3;
    } else if (kind == "o") {
        if (KIGenericUiWindow* w = FindWindowByPath(d.app, value)) {
            data = w;
            type = &typeid(KIGenericUiWindow);
        } else if (KIUiRelay* r = d.app->GetUiRelay(Utf8ToWide(value))) {
            KIUiObject* o = dynamic_cast<KIUiObject*>(r);
            data = o ? static_cast<void*>(o) : r;
            type = o ? &typeid(KIUiObject) : &typeid(KIUiRelay);
        }
    }
    if (!data)
        return target->UiRelayMessage(Utf8ToWide(message), nullptr);
    const KUiRelayDataScope stated(data, *type, count, true);
    return target->UiRelayMessage(Utf8ToWide(message), data);
}

void List(Driver& d)
{
    for (KIGenericUiWindow* w : AllWindows(d.app)) {
        KWString p;
        w->GetPath(p);
        PlatHWND h = HandleOf(w);
        PlatRect r{};
        PlatGetWindowRect(h, r);
        const std::string title = WideToUtf8(KWString(std::u16string_view(PlatGetWindowText(h))));
        std::printf("%s \"%s\" %d %d %d %d %d %d\n", WideToUtf8(p).c_str(), title.c_str(), r.left, r.top,
                    r.right - r.left, r.bottom - r.top, PlatIsWindowVisible(h) ? 1 : 0,
                    PlatIsWindowEnabled(h) ? 1 : 0);
    }
    std::fflush(stdout);
}

intptr_t ClientPoint(int32_t x, int32_t y)
{
    return static_cast<intptr_t>((static_cast<uint32_t>(static_cast<uint16_t>(y)) << 16) | static_cast<uint16_t>(x));
}

// The optional modifier words after a command's arguments.
struct Modifiers {
    bool ctrl = false, shift = false, alt = false;
};

Modifiers ReadModifiers(std::istream& in)
{
    Modifiers m;
    for (std::string word; in >> word;) {
        if (word == "ctrl")
            m.ctrl = true;
        else if (word == "shift")
            m.shift = true;
        else if (word == "alt")
            m.alt = true;
        else
            std::fprintf(stderr, "uirun: unknown modifier '%s'\n", word.c_str());
    }
    return m;
}

// Keys go as a user's keyboard sends them: modifier presses, the key (WM_KEYDOWN with its virtual-key code),
// the characters it makes (WM_CHAR), then the releases.
void PressModifiers(PlatHWND h, const Modifiers& m, bool down)
{
    const uint32_t message = down ? PLAT_WM_KEYDOWN : PLAT_WM_KEYUP;
    const intptr_t flags = down ? 1 : static_cast<intptr_t>(0xC0000001u);
    if (m.ctrl)
        PlatPostMessage(h, message, PLAT_VK_CONTROL, flags);
    if (m.shift)
        PlatPostMessage(h, message, PLAT_VK_SHIFT, flags);
    if (m.alt)
        PlatPostMessage(h, message, PLAT_VK_MENU, flags);
}

void SendKey(PlatHWND h, uint32_t vk, int character, Modifiers m)
{
    PressModifiers(h, m, true);
    if (vk)
        PlatPostMessage(h, PLAT_WM_KEYDOWN, vk, 1);
    if (character >= 0)
        PlatPostMessage(h, PLAT_WM_CHAR, static_cast<uintptr_t>(character), 1);
    if (vk)
        PlatPostMessage(h, PLAT_WM_KEYUP, vk, static_cast<intptr_t>(0xC0000001u));
    PressModifiers(h, m, false);
}

// A key name or the program's own key code to (virtual key, character); false when it means nothing.
bool KeyOf(const std::string& name, Modifiers& m, uint32_t& vk, int& character)
{
    static const struct {
        const char* name;
        uint32_t vk;
        int character;
    } kNamed[] = {
        {"Left", PLAT_VK_LEFT, -1},     {"Right", PLAT_VK_RIGHT, -1},  {"Up", PLAT_VK_UP, -1},
        {"Down", PLAT_VK_DOWN, -1},     {"Home", PLAT_VK_HOME, -1},    {"End", PLAT_VK_END, -1},
        {"PageUp", PLAT_VK_PRIOR, -1},  {"Prior", PLAT_VK_PRIOR, -1},  {"PageDown", PLAT_VK_NEXT, -1},
        {"Next", PLAT_VK_NEXT, -1},     {"Insert", PLAT_VK_INSERT, -1}, {"Delete", PLAT_VK_DELETE, -1},
        {"Escape", 0x1B, 27},           {"Return", 0x0D, 13},          {"Enter", 0x0D, 13},
        {"BackSpace", 0x08, 8},         {"Tab", 0x09, 9},              {"space", 0x20, ' '},
    };
    vk = 0;
    character = -1;
    for (const auto& k : kNamed)
        if (name == k.name) {
            vk = k.vk;
            character = k.character;
            return true;
        }
    if (name.size() >= 2 && name[0] == 'F' && std::isdigit(static_cast<unsigned char>(name[1]))) {
        const int n = std::atoi(name.c_str() + 1);
        if (n < 1 || n > 12)
            return false;
        vk = 0x70 + static_cast<uint32_t>(n - 1);
        return true;
    }
    const bool number = !name.empty() && name.find_first_not_of("0123456789") == std::string::npos;
    if (name.size() == 1 && !number) {
        const unsigned char c = static_cast<unsigned char>(name[0]);
        if (std::isalpha(c)) {
            vk = static_cast<uint32_t>(std::toupper(c));
            character = m.ctrl ? (std::toupper(c) & 0x1F) : (m.shift ? std::toupper(c) : std::tolower(c));
        } else if (std::isdigit(c)) {
            vk = c;
            character = c;
        } else if (c == '[' || c == ']' || c == '\\') {
            vk = c == '[' ? uint32_t(PLAT_VK_OEM_4) : c == ']' ? uint32_t(PLAT_VK_OEM_6) : 0xDCu;
            character = m.ctrl ? (c & 0x1F) : c;
        } else {
            character = c;
        }
        return true;
    }
    if (!number || name.size() > 5)
        return false;
    const long code = std::strtol(name.c_str(), nullptr, 10);
    if (code > 0xFFFF)
        return false;
    // The program's own codes, sent as the key or character that makes them.
    static const struct {
        int code;
        uint32_t vk;
    } kSpecial[] = {{17, PLAT_VK_PRIOR}, {18, PLAT_VK_NEXT},  {2, PLAT_VK_END},    {20, PLAT_VK_HOME},
                    {146, PLAT_VK_LEFT}, {14, PLAT_VK_UP},    {145, PLAT_VK_RIGHT}, {19, PLAT_VK_DOWN},
                    {127, PLAT_VK_DELETE}};
    for (const auto& k : kSpecial)
        if (code == k.code) {
            vk = k.vk;
            return true;
        }
    if (code == 8 || code == 9 || code == 13 || code == 27) {
        vk = static_cast<uint32_t>(code == 27 ? 0x1B : code);
        character = static_cast<int>(code);
        return true;
    }
    if (code >= 1 && code <= 26) {
        m.ctrl = true;
        vk = static_cast<uint32_t>('A' + code - 1);
        character = static_cast<int>(code);
        return true;
    }
    if (code >= 28 && code <= 31) {
        m.ctrl = true;
        character = static_cast<int>(code);
        return true;
    }
    character = static_cast<int>(code);
    return true;
}

void MoveCursorTo(PlatHWND h, int32_t x, int32_t y)
{
    PlatRect r{};
    PlatGetWindowRect(h, r);
    PlatSetCursorPos(r.left + x, r.top + y);
}

void PrintMenus(KIGenericUiWindow* w)
{
    KWinUiWindow* os = OsWindowOf(w);
    for (KWinUiMenu* m = os ? os->GetFirstMenu() : nullptr; m; m = m->GetNext()) {
        if (!m->InBar())
            continue;
        std::printf("%s\n", WideToUtf8(m->GetTitle()).c_str());
        int index = 0;
        for (const KWinUiMenu::Entry& e : m->GetEntries()) {
            if (e.separator)
                std::printf("  %d separator\n", index++);
            else
                std::printf("  %d \"%s\" %s%s\n", index++, WideToUtf8(e.text).c_str(),
                            (e.state & KWinUiMenu::kDisabled) ? "disabled" : "enabled",
                            (e.state & KWinUiMenu::kChecked) ? " checked" : "");
        }
    }
    std::fflush(stdout);
}

// A click on a title of the window's bar, then (when entry is not empty) on the entry of that label in the
// menu it opened, where a pointer would click them.
void ClickMenu(PlatHWND h, KIGenericUiWindow* w, const std::string& title, const std::string& entry)
{
    KWinUiWindow* os = OsWindowOf(w);
    KWinUiMenuBar* bar = os ? os->GetMenuBar() : nullptr;
    if (!bar) {
        std::fprintf(stderr, "uirun: the window has no menu bar\n");
        return;
    }
    const std::vector<KMenuTitle> titles = bar->GetTitles();
    auto t = std::find_if(titles.begin(), titles.end(),
                          [&title](const KMenuTitle& m) { return WideToUtf8(m.menu->GetTitle()) == title; });
    if (t == titles.end()) {
        std::fprintf(stderr, "uirun: no menu titled '%s'\n", title.c_str());
        return;
    }
    PlatRect r{};
    PlatGetWindowRect(h, r);
    const int32_t sx = r.left + (t->rect.left + t->rect.right) / 2;
    const int32_t sy = r.top - PlatGetMenuBarHeight(h) + (t->rect.top + t->rect.bottom) / 2;
    PlatSetCursorPos(sx, sy);
    PlatSendMessage(h, PLAT_WM_NCLBUTTONDOWN, PLAT_HTMENU, ClientPoint(sx, sy));
    if (entry.empty())
        return;
    PlatHWND popup = bar->GetPopup();
    KWinUiMenu* open = bar->GetOpenMenu();
    if (!popup || !open) {
        std::fprintf(stderr, "uirun: the menu '%s' did not open\n", title.c_str());
        return;
    }
    const std::vector<KWinUiMenu::Entry>& entries = open->GetEntries();
    const std::vector<KRect>& rects = bar->GetEntryRects();
    for (size_t i = 0; i < entries.size() && i < rects.size(); ++i) {
        const std::string text = WideToUtf8(entries[i].text);
        if (entries[i].separator || text.substr(0, text.find('\t')) != entry)
            continue;
        const int32_t x = (rects[i].left + rects[i].right) / 2, y = (rects[i].top + rects[i].bottom) / 2;
        PlatRect p{};
        PlatGetWindowRect(popup, p);
        PlatSetCursorPos(p.left + x, p.top + y);
        PlatPostMessage(popup, PLAT_WM_LBUTTONDOWN, 0, ClientPoint(x, y));
        PlatPostMessage(popup, PLAT_WM_LBUTTONUP, 0, ClientPoint(x, y));
        return;
    }
    std::fprintf(stderr, "uirun: no entry '%s' in the menu '%s'\n", entry.c_str(), title.c_str());
}

void PrintLayout(KIUiObject* object, int depth)
{
    for (; object; object = object->GetNext()) {
        auto* o = dynamic_cast<KUiObject*>(object);
        const char* type = o && o->GetTypeKeyword() ? o->GetTypeKeyword() : "?";
        KWString path;
        object->GetPath(path);
        const KRect& r = *object->GetRect();
        std::printf("%*s%s %s %d %d %d %d\n", depth * 2, "", type, path.IsEmpty() ? "-" : WideToUtf8(path).c_str(),
                    r.left, r.top, r.Width(), r.Height());
        PrintLayout(object->GetFirstChild(), depth + 1);
    }
}

// Runs one command line; false for a line that could not be understood (reported, then skipped).
void RunCommand(Driver& d, const std::string& line)
{
    std::istringstream in(line);
    std::string verb;
    in >> verb;
    if (verb.empty() || verb[0] == '#')
        return;
    if (verb == "tick") {
        int n = 1;
        in >> n;
        d.pendingTicks = std::max(0, n);
        return;
    }
    if (verb == "wait") {
        long ms = 0;
        in >> ms;
        PlatAdvanceClock(static_cast<uint32_t>(std::max(0L, ms)));
        return;
    }
    if (verb == "relay") {
        std::string path, message, data;
        in >> path >> message;
        // A message with spaces is written in double quotes.
        if (message.size() > 1 && message.front() == '"' && message.back() == '"') {
            message = message.substr(1, message.size() - 2);
        } else if (!message.empty() && message.front() == '"') {
            std::string rest;
            std::getline(in, rest, '"');
            message = message.substr(1) + rest;
        }
        std::getline(in, data);
        const size_t start = data.find_first_not_of(' ');
        data = start == std::string::npos ? "" : data.substr(start);
        const bool ok = Relay(d, path, message, data);
        std::printf("relay -> %s\n", ok ? "true" : "false");
        std::fflush(stdout);
        return;
    }
    if (verb == "sh") {
        std::string command;
        std::getline(in, command);
        std::fflush(stdout);
        const int status = std::system(command.c_str());
        if (status != 0)
            std::fprintf(stderr, "uirun: sh exited with %d: %s\n", status, command.c_str());
        return;
    }
    if (verb == "lang") {
        std::string name;
        in >> name;
        d.app->SetLanguage(Utf8ToWide(name));
        return;
    }
    if (verb == "list") {
        List(d);
        return;
    }
    if (verb == "clipboard") {
        std::u16string text;
        PlatGetClipboardText(text);
        std::printf("%s\n", WideToUtf8(KWString(std::u16string_view(text))).c_str());
        std::fflush(stdout);
        return;
    }
    std::string path;
    in >> path;
    KIGenericUiWindow* w = FindWindowByPath(d.app, path);
    // A dump names a window's bar or open menu after the window's path.
    std::string part;
    for (const char* suffix : {".bar", ".popup"}) {
        const std::string s = suffix;
        if (!w && verb == "dump" && path.size() > s.size() && path.compare(path.size() - s.size(), s.size(), s) == 0) {
            w = FindWindowByPath(d.app, path.substr(0, path.size() - s.size()));
            part = s;
        }
    }
    PlatHWND h = HandleOf(w);
    if (!h) {
        std::fprintf(stderr, "uirun: no window %s\n", path.c_str());
        return;
    }
    if (verb == "dump") {
        std::string file;
        in >> file;
        Dump(w, file, part);
    } else if (verb == "menus") {
        PrintMenus(w);
    } else if (verb == "menu") {
        std::string title, entry;
        in >> title >> entry;
        ClickMenu(h, w, title, entry);
    } else if (verb == "layout") {
        if (auto* g = dynamic_cast<KGenericUiWindow*>(w))
            PrintLayout(g->GetFirstObject(), 0);
        std::fflush(stdout);
    } else if (verb == "close") {
        PlatPostMessage(h, PLAT_WM_CLOSE, 0, 0);
    } else if (verb == "resize") {
        int32_t width = 0, height = 0;
        in >> width >> height;
        // As a user dragging the frame: never below the window's minimum tracking size.
        PlatMinMaxInfo info{0, 0};
        PlatSendMessage(h, PLAT_WM_GETMINMAXINFO, 0, reinterpret_cast<intptr_t>(&info));
        PlatSetWindowPos(h, 0, 0, std::max(width, info.minWidth), std::max(height, info.minHeight),
                         PLAT_SWP_NOMOVE | PLAT_SWP_NOZORDER);
    } else if (verb == "move") {
        int32_t x = 0, y = 0;
        in >> x >> y;
        PlatSetWindowPos(h, x, y, 0, 0, PLAT_SWP_NOSIZE | PLAT_SWP_NOZORDER);
    } else if (verb == "mouse") {
        int32_t x = 0, y = 0;
        in >> x >> y;
        MoveCursorTo(h, x, y);
        PlatPostMessage(h, PLAT_WM_MOUSEMOVE, 0, ClientPoint(x, y));
    } else if (verb == "down" || verb == "up" || verb == "click" || verb == "dblclick") {
        int32_t x = 0, y = 0;
        in >> x >> y;
        const Modifiers m = ReadModifiers(in);
        MoveCursorTo(h, x, y);
        PressModifiers(h, m, true);
        if (verb != "up")
            PlatPostMessage(h, PLAT_WM_LBUTTONDOWN, 0, ClientPoint(x, y));
        if (verb != "down")
            PlatPostMessage(h, PLAT_WM_LBUTTONUP, 0, ClientPoint(x, y));
        if (verb == "dblclick") {
            PlatPostMessage(h, PLAT_WM_LBUTTONDBLCLK, 0, ClientPoint(x, y));
            PlatPostMessage(h, PLAT_WM_LBUTTONUP, 0, ClientPoint(x, y));
        }
        PressModifiers(h, m, false);
    } else if (verb == "wheel") {
        int32_t x = 0, y = 0, delta = 0;
        in >> x >> y >> delta;
        MoveCursorTo(h, x, y);
        PlatRect r{};
        PlatGetWindowRect(h, r);
        // The wheel message carries screen coordinates.
        const uintptr_t wParam = static_cast<uintptr_t>(static_cast<uint16_t>(static_cast<int16_t>(delta))) << 16;
        PlatPostMessage(h, PLAT_WM_MOUSEWHEEL, wParam, ClientPoint(r.left + x, r.top + y));
    } else if (verb == "leave") {
        // The pointer goes off every window; the next tick tells the window.
        PlatSetCursorPos(-(1 << 24) - 1, -(1 << 24) - 1);
        d.pendingTicks = 1;
    } else if (verb == "key") {
        std::string name;
        in >> name;
        Modifiers m = ReadModifiers(in);
        uint32_t vk = 0;
        int character = -1;
        if (!KeyOf(name, m, vk, character)) {
            std::fprintf(stderr, "uirun: unknown key '%s'\n", name.c_str());
            return;
        }
        SendKey(h, vk, character, m);
    } else if (verb == "type") {
        std::string text;
        std::getline(in, text);
        if (!text.empty() && text[0] == ' ')
            text.erase(0, 1);
        const KWString units = Utf8ToWide(text);
        for (KWChar unit : units.Str())
            PlatPostMessage(h, PLAT_WM_CHAR, unit, 1);
    } else if (verb == "cursor") {
        int32_t hx = 0, hy = 0;
        const int shape = PlatGetCursorShape(h, hx, hy);
        if (shape == 2)
            std::printf("custom %d %d\n", hx, hy);
        else
            std::printf("%s\n", shape == 1 ? "hidden" : "default");
        std::fflush(stdout);
    } else {
        std::fprintf(stderr, "uirun: unknown command '%s'\n", verb.c_str());
    }
}

// Gives the message loop its next piece of work; false when there is none left (the loop then quits).
bool Idle(void* context)
{
    Driver& d = *static_cast<Driver*>(context);
    if (!d.useEvents) {
        if (d.timeout > 0 && (PlatGetTickCount() - d.startMs) >= static_cast<uint32_t>(d.timeout * 1000)) {
            DumpAll(d);
            return false;
        }
        return true;
    }
    if (d.pendingTicks > 0) {
        --d.pendingTicks;
        PlatAdvanceClock(10);
        return true;
    }
    if (d.next >= d.lines.size()) {
        DumpAll(d);
        return false;
    }
    RunCommand(d, d.lines[d.next++]);
    // Windows redraw what the command changed as they handle their next message.
    for (KIGenericUiWindow* w : AllWindows(d.app))
        if (PlatHWND h = HandleOf(w))
            PlatPostMessage(h, PLAT_WM_NULL, 0, 0);
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    std::string folder, bundle, script = "ui.xml", events, backend;
    Driver d;
    std::string argument;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "uirun: %s needs a value\n%s", a.c_str(), kUsage);
                std::exit(1);
            }
            out = argv[++i];
        };
        if (a == "--headless" || a == "--x11") {
            backend = a.substr(2);
        } else if (a == "--folder") {
            value(folder);
        } else if (a == "--bundle") {
            value(bundle);
        } else if (a == "--script") {
            value(script);
        } else if (a == "--events") {
            value(events);
        } else if (a == "--dump-dir") {
            value(d.dumpDir);
        } else if (a == "--timeout") {
            std::string t;
            value(t);
            d.timeout = std::strtod(t.c_str(), nullptr);
        } else if (a == "--help") {
            std::printf("%s", kUsage);
            return 0;
        } else if (a.size() > 1 && a[0] == '-' && a[1] == '-') {
            std::fprintf(stderr, "uirun: unknown option %s\n%s", a.c_str(), kUsage);
            return 1;
        } else {
            argument = a;
        }
    }
    if (folder.empty() == bundle.empty()) {
        std::fprintf(stderr, "uirun: give one of --folder and --bundle\n%s", kUsage);
        return 1;
    }
    if (!backend.empty())
        setenv("LUMO_UI", backend.c_str(), 1);
    std::string error;
    if (!PlatUiStart(error)) {
        std::fprintf(stderr, "uirun: %s\n", error.c_str());
        return 1;
    }
    if (!events.empty()) {
        std::ifstream in(events);
        if (!in) {
            std::fprintf(stderr, "uirun: cannot read %s\n", events.c_str());
            return 1;
        }
        for (std::string line; std::getline(in, line);)
            d.lines.push_back(line);
        d.useEvents = true;
        PlatUseVirtualClock(true);
    }
    RegisterDiskStorageClass();
    KIFolder* scriptFolder = nullptr;
    KWString url, leaf;
    if (!folder.empty()) {
        if (PosixPathToURL(folder, url))
            scriptFolder = OpenFolderByURL(url, leaf, false);
    } else if (PosixFileToURL(bundle, url)) {
        scriptFolder = new KBundleFolder(url);
    }
    if (!scriptFolder) {
        std::fprintf(stderr, "uirun: cannot open %s\n", (folder.empty() ? bundle : folder).c_str());
        ShutdownStorageClasses();
        return 1;
    }
    StartupArgument() = Utf8ToWide(argument);
    int status = 0;
    KGenericUiApp* app = CreateGenericUiApp();
    RegisterTestProbe(app->GetFactory());
    d.app = app;
    try {
        bool alreadyRunning = false;
        if (!app->LoadUiScript(scriptFolder, Utf8ToWide(script), alreadyRunning)) {
            std::fprintf(stderr, "uirun: the script %s did not load\n", script.c_str());
            status = 3;
        } else if (alreadyRunning) {
            app->Run(true);
        } else {
            d.startMs = PlatGetTickCount();
            PlatSetIdleHook(&Idle, &d);
            app->Run(false);
            PlatSetIdleHook(nullptr, nullptr);
        }
    } catch (const KExceptionUiScript& e) {
        std::fprintf(stderr, "%s: %s\n", e.GetDescription(), e.GetMessage());
        status = 2;
    } catch (const KException& e) {
        std::fprintf(stderr, "%s: %s\n", e.GetDescription(), e.GetMessage());
        status = 2;
    }
    try {
        DeleteGenericUiApp(app);
    } catch (const KException& e) {
        std::fprintf(stderr, "%s: %s\n", e.GetDescription(), e.GetMessage());
        status = status ? status : 2;
    }
    ShutdownStorageClasses();
    return status;
}
