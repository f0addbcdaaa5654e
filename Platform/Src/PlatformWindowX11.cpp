// The X11 backend of the window seam, through Xlib. One X window per seam window, on the default TrueColor
// visual, with no background (the system never erases): what the window shows is what was blitted into it.
// The server's events become the seam's messages, with the system's virtual-key codes.
#include "PlatformWindowX11.h"

#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/cursorfont.h>
#include <X11/keysym.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <bitset>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <vector>

#include "PlatformText.h"

namespace platx11 {
namespace {

// Mouse-key flags of the mouse messages' wParam.
constexpr uintptr_t kMkLButton = 0x1, kMkRButton = 0x2, kMkShift = 0x4, kMkControl = 0x8;

// A second press within this time and distance of the first is a double click.
constexpr Time kDoubleClickMs = 500;
constexpr int kDoubleClickPixels = 4;
// The most another client's selection may hand us.
constexpr long kMaxSelectionBytes = 16L << 20;
// The most a clipboard read waits for the owner.
constexpr int kSelectionWaitMs = 1000;

struct Native {
    PlatHWND handle = nullptr;
    Window xid = 0;
    XIC ic = nullptr;
    uint32_t style = 0;
    int32_t width = 1, height = 1;  // the client size the seam last asked for or accepted
    int32_t bar = 0;                // the menu bar's rows at the top of the X window, above the client
    std::vector<uint8_t> barPixels; // what the bar shows (barWidth x bar, BGRA)
    int32_t barWidth = 0;
    bool reparented = false;        // inside a window manager's frame
    bool exposing = false;
    PlatRect exposed{0, 0, 0, 0};
    unsigned long configureSerial = 0;  // ConfigureNotify before this request is stale
    Cursor shape = 0;                   // 0: the arrow
    bool cursorShown = true;
};

enum AtomId {
    A_WM_PROTOCOLS,
    A_WM_DELETE_WINDOW,
    A_NET_WM_NAME,
    A_UTF8_STRING,
    A_NET_WM_STATE,
    A_NET_WM_STATE_ABOVE,
    A_NET_WM_WINDOW_TYPE,
    A_NET_WM_WINDOW_TYPE_NORMAL,
    A_NET_WM_WINDOW_TYPE_UTILITY,
    A_NET_WM_WINDOW_TYPE_DIALOG,
    A_MOTIF_WM_HINTS,
    A_NET_WM_PID,
    A_NET_ACTIVE_WINDOW,
    A_NET_SUPPORTING_WM_CHECK,
    A_CLIPBOARD,
    A_TARGETS,
    A_TEXT,
    A_INCR,
    A_LUMO_SELECTION,
    A_COUNT
};
const char* const kAtomNames[A_COUNT] = {
    "WM_PROTOCOLS",          "WM_DELETE_WINDOW",           "_NET_WM_NAME",
    "UTF8_STRING",           "_NET_WM_STATE",              "_NET_WM_STATE_ABOVE",
    "_NET_WM_WINDOW_TYPE",   "_NET_WM_WINDOW_TYPE_NORMAL", "_NET_WM_WINDOW_TYPE_UTILITY",
    "_NET_WM_WINDOW_TYPE_DIALOG", "_MOTIF_WM_HINTS",       "_NET_WM_PID",
    "_NET_ACTIVE_WINDOW",    "_NET_SUPPORTING_WM_CHECK",   "CLIPBOARD",
    "TARGETS",               "TEXT",                       "INCR",
    "LUMO_SELECTION",
};

struct State {
    Display* display = nullptr;
    int screen = 0;
    Window root = 0;
    Visual* visual = nullptr;
    int depth = 0;
    bool directPixels = false;  // 32 bits a pixel, B, G, R, X in memory: no conversion
    GC gc = nullptr;
    XIM im = nullptr;
    int wakeFd = -1;
    Window helper = 0;  // owns the clipboard and receives transfers
    Cursor arrow = 0, blank = 0;
    Atom atoms[A_COUNT] = {};
    std::map<Window, Native*> byXid;
    std::map<PlatHWND, Native*> byHandle;
    std::bitset<256> keysDown;
    Time lastTime = CurrentTime;
    unsigned long focusSerial = 0;  // focus events before this request are stale
    Window pressWindow = 0;         // the first press of a possible double click
    Time pressTime = 0;
    int pressX = 0, pressY = 0;
    Window grab = 0;
    int modal = 0;                  // message boxes open: other windows take no input
    std::string clipboard;          // UTF-8, while we own CLIPBOARD
    bool ownClipboard = false;
};

State g;

Atom A(AtomId id)
{
    return g.atoms[id];
}

int IgnoreErrors(Display*, XErrorEvent*)
{
    // A window another client destroyed, a focus request on an unmapped window: nothing to report.
    return 0;
}

int16_t Coordinate(int32_t v)
{
    return static_cast<int16_t>(std::clamp<int32_t>(v, INT16_MIN, INT16_MAX));
}


// UTF-8 from another client: every malformed sequence becomes U+FFFD.
std::u16string FromUtf8(const unsigned char* s, size_t n)
{
    std::u16string out;
    out.reserve(n);
    size_t i = 0;
    while (i < n) {
        const unsigned char b = s[i];
        uint32_t c = 0xFFFD;
        size_t len = 1;
        if (b < 0x80) {
            c = b;
        } else {
            size_t need = b >= 0xF0 && b <= 0xF4 ? 4 : b >= 0xE0 ? 3 : b >= 0xC2 && b < 0xE0 ? 2 : 0;
            if (need && i + need <= n) {
                uint32_t v = need == 2 ? (b & 0x1F) : need == 3 ? (b & 0x0F) : (b & 0x07);
                bool ok = true;
                for (size_t k = 1; k < need; ++k) {
                    if ((s[i + k] & 0xC0) != 0x80) {
                        ok = false;
                        break;
                    }
                    v = (v << 6) | (s[i + k] & 0x3F);
                }
                const uint32_t least = need == 2 ? 0x80 : need == 3 ? 0x800 : 0x10000;
                if (ok && v >= least && v <= 0x10FFFF && !(v >= 0xD800 && v < 0xE000)) {
                    c = v;
                    len = need;
                }
            }
        }
        if (c >= 0x10000) {
            out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
            out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            out += static_cast<char16_t>(c);
        }
        i += len;
    }
    return out;
}

Native* ByXid(Window xid)
{
    auto it = g.byXid.find(xid);
    return it == g.byXid.end() ? nullptr : it->second;
}

Native* ByHandle(PlatHWND handle)
{
    auto it = g.byHandle.find(handle);
    return it == g.byHandle.end() ? nullptr : it->second;
}

unsigned ShiftOf(unsigned long mask)
{
    unsigned s = 0;
    while (mask && !(mask & 1)) {
        mask >>= 1;
        ++s;
    }
    return s;
}

unsigned long PixelOf(uint8_t r, uint8_t gr, uint8_t b)
{
    auto scale = [](uint8_t v, unsigned long mask) {
        const unsigned shift = ShiftOf(mask);
        const unsigned long max = mask >> shift;
        return ((static_cast<unsigned long>(v) * max + 127) / 255) << shift;
    };
    return scale(r, g.visual->red_mask) | scale(gr, g.visual->green_mask) | scale(b, g.visual->blue_mask);
}

void ColourOf(unsigned long pixel, uint8_t* bgra)
{
    auto part = [pixel](unsigned long mask) {
        const unsigned shift = ShiftOf(mask);
        const unsigned long max = mask >> shift;
        return static_cast<uint8_t>(max ? ((pixel & mask) >> shift) * 255 / max : 0);
    };
    bgra[0] = part(g.visual->blue_mask);
    bgra[1] = part(g.visual->green_mask);
    bgra[2] = part(g.visual->red_mask);
    bgra[3] = 255;
}

void SetProperty32(Window xid, Atom property, Atom type, const long* values, int count)
{
    XChangeProperty(g.display, xid, property, type, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(values), count);
}

void SetTitleOf(Window xid, const std::u16string& title)
{
    const std::string utf8 = PlatWindowUtf8(title);
    XChangeProperty(g.display, xid, A(A_NET_WM_NAME), A(A_UTF8_STRING), 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(utf8.data()), static_cast<int>(utf8.size()));
    // WM_NAME in Latin-1, as older tools read it.
    std::string latin;
    for (char16_t c : title)
        latin += c < 0x100 ? static_cast<char>(c) : '?';
    XChangeProperty(g.display, xid, XA_WM_NAME, XA_STRING, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(latin.data()), static_cast<int>(latin.size()));
}

bool HaveWindowManager()
{
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    const bool found = XGetWindowProperty(g.display, g.root, A(A_NET_SUPPORTING_WM_CHECK), 0, 1, False, XA_WINDOW,
                                          &type, &format, &count, &after, &data) == Success &&
                       type == XA_WINDOW && format == 32 && count == 1;
    if (data)
        XFree(data);
    return found;
}

// The window's smallest client size, from the window procedure.
void MinimumSize(Native* n, int32_t& width, int32_t& height)
{
    PlatMinMaxInfo info{0, 0};
    PlatSendMessage(n->handle, PLAT_WM_GETMINMAXINFO, 0, reinterpret_cast<intptr_t>(&info));
    width = std::max(1, info.minWidth);
    height = std::max(1, info.minHeight);
}

// WM_NORMAL_HINTS: a fixed size for a window the user may not size, else the window's minimum.
void UpdateSizeHints(Native* n, bool askMinimum, int32_t x, int32_t y)
{
    XSizeHints* hints = XAllocSizeHints();
    if (!hints)
        return;
    hints->flags = PMinSize | PWinGravity | USPosition | PPosition;
    hints->x = x;
    hints->y = y - n->bar;
    hints->win_gravity = NorthWestGravity;
    if (n->style & PLAT_WS_RESIZABLE) {
        int32_t w = 1, h = 1;
        if (askMinimum)
            MinimumSize(n, w, h);
        hints->min_width = w;
        hints->min_height = h + n->bar;
    } else {
        hints->flags |= PMaxSize;
        hints->min_width = hints->max_width = n->width;
        hints->min_height = hints->max_height = n->height + n->bar;
    }
    XSetWMNormalHints(g.display, n->xid, hints);
    XFree(hints);
}

void ApplyCursor(Native* n)
{
    XDefineCursor(g.display, n->xid, !n->cursorShown ? g.blank : n->shape ? n->shape : g.arrow);
}

void Post(Native* n, uint32_t message, uintptr_t wParam, intptr_t lParam)
{
    PlatPostMessage(n->handle, message, wParam, lParam);
}

intptr_t PackPoint(int x, int y)
{
    return static_cast<intptr_t>((static_cast<uint32_t>(static_cast<uint16_t>(Coordinate(y))) << 16) |
                                 static_cast<uint16_t>(Coordinate(x)));
}

uintptr_t MouseKeys(unsigned state)
{
    return ((state & Button1Mask) ? kMkLButton : 0) | ((state & Button3Mask) ? kMkRButton : 0) |
           ((state & ShiftMask) ? kMkShift : 0) | ((state & ControlMask) ? kMkControl : 0);
}

// A window takes input unless it is disabled or a message box is open.
bool TakesInput(Native* n)
{
    return g.modal == 0 && PlatIsWindowEnabled(n->handle);
}

uint32_t VirtualKey(KeySym ks)
{
    if (ks >= XK_a && ks <= XK_z)
        return static_cast<uint32_t>(ks - XK_a + 'A');
    if ((ks >= XK_A && ks <= XK_Z) || (ks >= XK_0 && ks <= XK_9))
        return static_cast<uint32_t>(ks);
    if (ks >= XK_F1 && ks <= XK_F12)
        return static_cast<uint32_t>(0x70 + (ks - XK_F1));
    switch (ks) {
    case XK_Prior: case XK_KP_Prior: return PLAT_VK_PRIOR;
    case XK_Next: case XK_KP_Next: return PLAT_VK_NEXT;
    case XK_End: case XK_KP_End: return PLAT_VK_END;
    case XK_Home: case XK_KP_Home: return PLAT_VK_HOME;
    case XK_Left: case XK_KP_Left: return PLAT_VK_LEFT;
    case XK_Up: case XK_KP_Up: return PLAT_VK_UP;
    case XK_Right: case XK_KP_Right: return PLAT_VK_RIGHT;
    case XK_Down: case XK_KP_Down: return PLAT_VK_DOWN;
    case XK_Insert: case XK_KP_Insert: return PLAT_VK_INSERT;
    case XK_Delete: case XK_KP_Delete: return PLAT_VK_DELETE;
    case XK_Shift_L: case XK_Shift_R: return PLAT_VK_SHIFT;
    case XK_Control_L: case XK_Control_R: return PLAT_VK_CONTROL;
    case XK_Alt_L: case XK_Alt_R: case XK_Meta_L: case XK_Meta_R: return PLAT_VK_MENU;
    case XK_bracketleft: case XK_braceleft: return PLAT_VK_OEM_4;
    case XK_bracketright: case XK_braceright: return PLAT_VK_OEM_6;
    case XK_Escape: return 0x1B;
    case XK_Return: case XK_KP_Enter: return 0x0D;
    case XK_BackSpace: return 0x08;
    case XK_Tab: case XK_ISO_Left_Tab: return 0x09;
    case XK_space: return 0x20;
    default: return 0;
    }
}

// The text a key press types, in UTF-8.
std::string LookupText(Native* n, XKeyEvent& key)
{
    char buffer[64];
    KeySym ks = NoSymbol;
    if (n->ic) {
        Status status = 0;
        int len = Xutf8LookupString(n->ic, &key, buffer, sizeof buffer, &ks, &status);
        if (status == XBufferOverflow) {
            std::vector<char> big(static_cast<size_t>(len) + 1);
            len = Xutf8LookupString(n->ic, &key, big.data(), len, &ks, &status);
            return (status == XLookupChars || status == XLookupBoth) ? std::string(big.data(), size_t(std::max(0, len)))
                                                                     : std::string();
        }
        return (status == XLookupChars || status == XLookupBoth) ? std::string(buffer, size_t(std::max(0, len)))
                                                                 : std::string();
    }
    // No input method: Latin-1 from the key map.
    const int len = XLookupString(&key, buffer, sizeof buffer, &ks, nullptr);
    std::string out;
    for (int i = 0; i < len; ++i) {
        const unsigned char c = static_cast<unsigned char>(buffer[i]);
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

void OnKey(Native* n, XKeyEvent& key, bool press)
{
    const unsigned code = key.keycode & 0xFF;
    const bool repeat = g.keysDown.test(code);
    if (press)
        g.keysDown.set(code);
    else
        g.keysDown.reset(code);
    if (!TakesInput(n))
        return;
    const uint32_t vk = VirtualKey(XLookupKeysym(&key, 0));
    const intptr_t scan = static_cast<intptr_t>(code) << 16;
    if (!press) {
        if (vk)
            Post(n, PLAT_WM_KEYUP, vk, 1 | scan | (intptr_t(1) << 30) | (intptr_t(1) << 31));
        return;
    }
    if (vk)
        Post(n, PLAT_WM_KEYDOWN, vk, 1 | scan | (repeat ? intptr_t(1) << 30 : 0));
    const std::string text = LookupText(n, key);
    // Alt with a key is a shortcut, not typing.
    if ((key.state & Mod1Mask) && !(key.state & ControlMask))
        return;
    const std::u16string units = FromUtf8(reinterpret_cast<const unsigned char*>(text.data()), text.size());
    for (char16_t u : units)
        if (u != 0x7F)  // the Delete key comes as its key only
            Post(n, PLAT_WM_CHAR, u, 1 | scan);
}

void PutPixels(Window xid, int32_t x, int32_t y, int32_t width, int32_t height, const uint8_t* source,
               int32_t sourceRowBytes, int32_t sourceX, int32_t sourceY);

// Puts the bar's pixels on the window (what the bar's copy holds, cut to the window's width).
void PutBar(Native* n)
{
    const int32_t width = std::min(n->barWidth, n->width);
    if (n->bar <= 0 || width <= 0 || n->barPixels.empty())
        return;
    PutPixels(n->xid, 0, 0, width, n->bar, n->barPixels.data(), n->barWidth * 4, 0, 0);
}

void OnButton(Native* n, XButtonEvent& b, bool press)
{
    if (!TakesInput(n))
        return;
    if (b.y < n->bar && b.button == Button1 && press && g.grab != n->xid) {
        Post(n, PLAT_WM_NCLBUTTONDOWN, PLAT_HTMENU, PackPoint(b.x_root, b.y_root));
        return;
    }
    b.y -= n->bar;
    const intptr_t at = PackPoint(b.x, b.y);
    const uintptr_t keys = MouseKeys(b.state);
    switch (b.button) {
    case Button1:
        if (!press) {
            Post(n, PLAT_WM_LBUTTONUP, keys & ~uintptr_t(kMkLButton), at);
        } else {
            const bool twice = g.pressWindow == b.window && b.time - g.pressTime <= kDoubleClickMs &&
                               std::abs(b.x_root - g.pressX) <= kDoubleClickPixels &&
                               std::abs(b.y_root - g.pressY) <= kDoubleClickPixels;
            // The press after a double click starts again.
            g.pressWindow = twice ? 0 : b.window;
            g.pressTime = b.time;
            g.pressX = b.x_root;
            g.pressY = b.y_root;
            Post(n, twice ? PLAT_WM_LBUTTONDBLCLK : PLAT_WM_LBUTTONDOWN, keys | kMkLButton, at);
        }
        return;
    case Button3:
        Post(n, press ? PLAT_WM_RBUTTONDOWN : PLAT_WM_RBUTTONUP,
             press ? (keys | kMkRButton) : (keys & ~uintptr_t(kMkRButton)), at);
        return;
    case Button4:
    case Button5:
        if (press) {
            const int16_t delta = b.button == Button4 ? 120 : -120;
            Post(n, PLAT_WM_MOUSEWHEEL, (static_cast<uintptr_t>(static_cast<uint16_t>(delta)) << 16) | keys,
                 PackPoint(b.x_root, b.y_root));
        }
        return;
    default:
        return;
    }
}

void OnConfigure(Native* n, XConfigureEvent& c)
{
    if (c.serial < n->configureSerial)
        return;  // an older geometry than the one last asked for
    int x = c.x, y = c.y;
    if (n->reparented && !c.send_event) {
        Window child = 0;
        XTranslateCoordinates(g.display, n->xid, g.root, 0, 0, &x, &y, &child);
    }
    y += n->bar;
    int32_t width = c.width, height = std::max(1, c.height - n->bar);
    // With no window manager to keep the size hints, the backend keeps them itself.
    int32_t minW = 1, minH = 1;
    if (n->style & PLAT_WS_RESIZABLE) {
        MinimumSize(n, minW, minH);
    } else {
        minW = n->width;
        minH = n->height;
        width = std::min(width, n->width);
        height = std::min(height, n->height);
    }
    if (width < minW || height < minH || width != c.width || height + n->bar != c.height) {
        width = std::max(width, minW);
        height = std::max(height, minH);
        n->configureSerial = NextRequest(g.display);
        XResizeWindow(g.display, n->xid, static_cast<unsigned>(width), static_cast<unsigned>(height + n->bar));
    }
    n->width = width;
    n->height = height;
    PlatBackendConfigured(n->handle, x, y, width, height);
}

bool AcceptsFocusEvent(const XFocusChangeEvent& f)
{
    if (f.serial < g.focusSerial || f.mode == NotifyGrab || f.mode == NotifyUngrab)
        return false;
    return f.detail == NotifyAncestor || f.detail == NotifyVirtual || f.detail == NotifyNonlinear ||
           f.detail == NotifyNonlinearVirtual;
}

void AnswerSelectionRequest(const XSelectionRequestEvent& r)
{
    XSelectionEvent reply{};
    reply.type = SelectionNotify;
    reply.display = g.display;
    reply.requestor = r.requestor;
    reply.selection = r.selection;
    reply.target = r.target;
    reply.time = r.time;
    reply.property = None;
    const Atom property = r.property != None ? r.property : r.target;
    // What one request may carry; a longer text is refused rather than sent in pieces.
    const long maxBytes =
        (XExtendedMaxRequestSize(g.display) ? XExtendedMaxRequestSize(g.display) : XMaxRequestSize(g.display)) * 4 -
        1024;
    if (r.selection == A(A_CLIPBOARD) && g.ownClipboard && r.owner == g.helper) {
        if (r.target == A(A_TARGETS)) {
            const long targets[4] = {static_cast<long>(A(A_TARGETS)), static_cast<long>(A(A_UTF8_STRING)),
                                     static_cast<long>(XA_STRING), static_cast<long>(A(A_TEXT))};
            SetProperty32(r.requestor, property, XA_ATOM, targets, 4);
            reply.property = property;
        } else if ((r.target == A(A_UTF8_STRING) || r.target == A(A_TEXT)) &&
                   static_cast<long>(g.clipboard.size()) <= maxBytes) {
            XChangeProperty(g.display, r.requestor, property, A(A_UTF8_STRING), 8, PropModeReplace,
                            reinterpret_cast<const unsigned char*>(g.clipboard.data()),
                            static_cast<int>(g.clipboard.size()));
            reply.property = property;
        } else if (r.target == XA_STRING) {
            const std::u16string text =
                FromUtf8(reinterpret_cast<const unsigned char*>(g.clipboard.data()), g.clipboard.size());
            std::string latin;
            for (char16_t c : text)
                latin += c < 0x100 ? static_cast<char>(c) : '?';
            if (static_cast<long>(latin.size()) <= maxBytes) {
                XChangeProperty(g.display, r.requestor, property, XA_STRING, 8, PropModeReplace,
                                reinterpret_cast<const unsigned char*>(latin.data()), static_cast<int>(latin.size()));
                reply.property = property;
            }
        }
    }
    XSendEvent(g.display, r.requestor, False, NoEventMask, reinterpret_cast<XEvent*>(&reply));
}

void Handle(XEvent& ev)
{
    switch (ev.type) {
    case KeyPress:
    case KeyRelease:
        g.lastTime = ev.xkey.time;
        break;
    case ButtonPress:
    case ButtonRelease:
        g.lastTime = ev.xbutton.time;
        break;
    case MotionNotify:
        g.lastTime = ev.xmotion.time;
        break;
    case PropertyNotify:
        g.lastTime = ev.xproperty.time;
        break;
    default:
        break;
    }
    if (ev.type == MappingNotify) {
        // Another client changed the key map (xdotool does so to type what the map lacks).
        XRefreshKeyboardMapping(&ev.xmapping);
        return;
    }
    if (ev.xany.window == g.helper) {
        if (ev.type == SelectionRequest)
            AnswerSelectionRequest(ev.xselectionrequest);
        else if (ev.type == SelectionClear && ev.xselectionclear.selection == A(A_CLIPBOARD))
            g.ownClipboard = false;
        return;
    }
    Native* n = ByXid(ev.xany.window);
    if (!n)
        return;
    switch (ev.type) {
    case Expose: {
        if (ev.xexpose.y < n->bar)
            PutBar(n);
        const PlatRect r{ev.xexpose.x, ev.xexpose.y - n->bar, ev.xexpose.x + ev.xexpose.width,
                         ev.xexpose.y + ev.xexpose.height - n->bar};
        if (!n->exposing) {
            n->exposed = r;
            n->exposing = true;
        } else {
            n->exposed.left = std::min(n->exposed.left, r.left);
            n->exposed.top = std::min(n->exposed.top, r.top);
            n->exposed.right = std::max(n->exposed.right, r.right);
            n->exposed.bottom = std::max(n->exposed.bottom, r.bottom);
        }
        if (ev.xexpose.count == 0) {
            n->exposing = false;
            PlatInvalidateRect(n->handle, &n->exposed);
        }
        return;
    }
    case KeyPress:
    case KeyRelease:
        OnKey(n, ev.xkey, ev.type == KeyPress);
        return;
    case ButtonPress:
    case ButtonRelease:
        OnButton(n, ev.xbutton, ev.type == ButtonPress);
        return;
    case MotionNotify: {
        // Only the latest position matters.
        XEvent next;
        while (XEventsQueued(g.display, QueuedAlready) > 0) {
            XPeekEvent(g.display, &next);
            if (next.type != MotionNotify || next.xmotion.window != ev.xmotion.window)
                break;
            XNextEvent(g.display, &ev);
        }
        if (TakesInput(n))
            Post(n, PLAT_WM_MOUSEMOVE, MouseKeys(ev.xmotion.state), PackPoint(ev.xmotion.x, ev.xmotion.y - n->bar));
        return;
    }
    case ConfigureNotify:
        OnConfigure(n, ev.xconfigure);
        return;
    case ReparentNotify:
        n->reparented = ev.xreparent.parent != g.root;
        return;
    case FocusIn:
        if (AcceptsFocusEvent(ev.xfocus)) {
            if (n->ic)
                XSetICFocus(n->ic);
            PlatBackendFocus(n->handle, true);
        }
        return;
    case FocusOut:
        if (AcceptsFocusEvent(ev.xfocus)) {
            if (n->ic)
                XUnsetICFocus(n->ic);
            PlatBackendFocus(n->handle, false);
        }
        return;
    case ClientMessage:
        if (ev.xclient.message_type == A(A_WM_PROTOCOLS) && ev.xclient.format == 32 &&
            static_cast<Atom>(ev.xclient.data.l[0]) == A(A_WM_DELETE_WINDOW) && g.modal == 0)
            Post(n, PLAT_WM_CLOSE, 0, 0);
        return;
    default:
        return;
    }
}

// Sends the rectangle of BGRA pixels to the window, converted when the visual wants another layout.
void PutPixels(Window xid, int32_t x, int32_t y, int32_t width, int32_t height, const uint8_t* source,
               int32_t sourceRowBytes, int32_t sourceX, int32_t sourceY)
{
    if (g.directPixels) {
        // The rows are sent as they are: B, G, R, X is the depth-24 visual's own order.
        XImage image{};
        image.width = sourceX + width;
        image.height = sourceY + height;
        image.format = ZPixmap;
        image.data = const_cast<char*>(reinterpret_cast<const char*>(source));
        image.byte_order = LSBFirst;
        image.bitmap_unit = 32;
        image.bitmap_bit_order = LSBFirst;
        image.bitmap_pad = 32;
        image.depth = g.depth;
        image.bytes_per_line = sourceRowBytes;
        image.bits_per_pixel = 32;
        image.red_mask = g.visual->red_mask;
        image.green_mask = g.visual->green_mask;
        image.blue_mask = g.visual->blue_mask;
        if (!XInitImage(&image))
            return;
        XPutImage(g.display, xid, g.gc, &image, sourceX, sourceY, x, y, static_cast<unsigned>(width),
                  static_cast<unsigned>(height));
    } else {
        XImage* image = XCreateImage(g.display, g.visual, static_cast<unsigned>(g.depth), ZPixmap, 0, nullptr,
                                     static_cast<unsigned>(width), static_cast<unsigned>(height), 32, 0);
        if (!image)
            return;
        image->data = static_cast<char*>(std::calloc(static_cast<size_t>(image->bytes_per_line), size_t(height)));
        if (!image->data) {
            XDestroyImage(image);
            return;
        }
        for (int32_t row = 0; row < height; ++row) {
            const uint8_t* p = source + ptrdiff_t(sourceY + row) * sourceRowBytes + ptrdiff_t(sourceX) * 4;
            for (int32_t col = 0; col < width; ++col, p += 4)
                XPutPixel(image, col, row, PixelOf(p[2], p[1], p[0]));
        }
        XPutImage(g.display, xid, g.gc, image, 0, 0, x, y, static_cast<unsigned>(width),
                  static_cast<unsigned>(height));
        XDestroyImage(image);
    }
}

// Waits until the connection has something to read, the wake-up is rung or timeoutMs passes.
void PollConnection(int timeoutMs, bool withWake)
{
    XFlush(g.display);
    if (XEventsQueued(g.display, QueuedAlready) > 0)
        return;
    pollfd fds[2] = {{ConnectionNumber(g.display), POLLIN, 0}, {g.wakeFd, POLLIN, 0}};
    const int count = withWake && g.wakeFd >= 0 ? 2 : 1;
    if (poll(fds, static_cast<nfds_t>(count), timeoutMs) > 0 && count == 2 && (fds[1].revents & POLLIN)) {
        uint64_t value = 0;
        ssize_t got = read(g.wakeFd, &value, sizeof value);
        (void)got;
    }
}

uint32_t NowMs()
{
    using namespace std::chrono;
    return static_cast<uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

}  // namespace

bool Start(std::string& error)
{
    const char* name = std::getenv("DISPLAY");
    if (!name || !*name) {
        error = "the X11 window backend needs an X display: DISPLAY is not set";
        return false;
    }
    XSetErrorHandler(&IgnoreErrors);
    g.display = XOpenDisplay(nullptr);
    if (!g.display) {
        error = std::string("cannot open the X display \"") + name + "\"";
        return false;
    }
    g.screen = DefaultScreen(g.display);
    g.root = RootWindow(g.display, g.screen);
    g.visual = DefaultVisual(g.display, g.screen);
    g.depth = DefaultDepth(g.display, g.screen);
    if (g.visual->c_class != TrueColor) {
        error = std::string("the X display \"") + name + "\" has no TrueColor default visual";
        XCloseDisplay(g.display);
        g.display = nullptr;
        return false;
    }
    int formats = 0;
    if (XPixmapFormatValues* f = XListPixmapFormats(g.display, &formats)) {
        for (int i = 0; i < formats; ++i)
            if (f[i].depth == g.depth)
                g.directPixels = f[i].bits_per_pixel == 32 && g.visual->red_mask == 0xFF0000 &&
                                 g.visual->green_mask == 0xFF00 && g.visual->blue_mask == 0xFF;
        XFree(f);
    }
    XInternAtoms(g.display, const_cast<char**>(kAtomNames), A_COUNT, False, g.atoms);
    XGCValues values{};
    values.graphics_exposures = False;
    g.gc = XCreateGC(g.display, g.root, GCGraphicsExposures, &values);
    Bool detectable = False;
    XkbSetDetectableAutoRepeat(g.display, True, &detectable);
    XSetLocaleModifiers("");
    g.im = XOpenIM(g.display, nullptr, nullptr, nullptr);
    if (!g.im) {
        XSetLocaleModifiers("@im=none");
        g.im = XOpenIM(g.display, nullptr, nullptr, nullptr);
    }
    g.wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    XSetWindowAttributes a{};
    a.event_mask = PropertyChangeMask;
    g.helper = XCreateWindow(g.display, g.root, -10, -10, 1, 1, 0, CopyFromParent, InputOnly, CopyFromParent,
                             CWEventMask, &a);
    g.arrow = XCreateFontCursor(g.display, XC_left_ptr);
    const char none[4] = {0, 0, 0, 0};
    Pixmap empty = XCreateBitmapFromData(g.display, g.root, none, 1, 1);
    XColor black{};
    g.blank = XCreatePixmapCursor(g.display, empty, empty, &black, &black, 0, 0);
    XFreePixmap(g.display, empty);
    XFlush(g.display);
    return true;
}

bool CreateWindow(PlatHWND window, const PlatWindowDesc& desc)
{
    auto n = std::make_unique<Native>();
    n->handle = window;
    n->style = desc.style;
    n->width = desc.width;
    n->height = desc.height;
    n->bar = desc.menuBarHeight;
    XSetWindowAttributes a{};
    a.background_pixmap = None;
    a.border_pixel = 0;
    a.bit_gravity = NorthWestGravity;
    a.colormap = DefaultColormap(g.display, g.screen);
    a.event_mask = ExposureMask | KeyPressMask | KeyReleaseMask | ButtonPressMask | ButtonReleaseMask |
                   PointerMotionMask | StructureNotifyMask | FocusChangeMask;
    // A menu's popup is left alone by the window manager.
    a.override_redirect = (desc.style & PLAT_WS_MENUPOPUP) ? True : False;
    a.save_under = a.override_redirect;
    n->xid = XCreateWindow(g.display, g.root, Coordinate(desc.x), Coordinate(desc.y - n->bar),
                           static_cast<unsigned>(desc.width), static_cast<unsigned>(desc.height + n->bar), 0, g.depth,
                           InputOutput, g.visual,
                           CWBackPixmap | CWBorderPixel | CWBitGravity | CWColormap | CWEventMask | CWOverrideRedirect |
                               CWSaveUnder,
                           &a);
    if (!n->xid)
        return false;
    Atom protocols[1] = {A(A_WM_DELETE_WINDOW)};
    XSetWMProtocols(g.display, n->xid, protocols, 1);
    SetTitleOf(n->xid, desc.title);
    XClassHint cls{const_cast<char*>("lumodesk"), const_cast<char*>("KOsUiWindow")};
    XSetClassHint(g.display, n->xid, &cls);
    XWMHints wm{};
    wm.flags = InputHint | StateHint;
    wm.input = True;
    wm.initial_state = NormalState;
    XSetWMHints(g.display, n->xid, &wm);
    const long pid = static_cast<long>(getpid());
    SetProperty32(n->xid, A(A_NET_WM_PID), XA_CARDINAL, &pid, 1);
    if (Native* owner = ByHandle(desc.owner))
        XSetTransientForHint(g.display, n->xid, owner->xid);
    const long type = static_cast<long>(A((desc.style & PLAT_WS_TOOLWINDOW) ? A_NET_WM_WINDOW_TYPE_UTILITY
                                                                            : A_NET_WM_WINDOW_TYPE_NORMAL));
    SetProperty32(n->xid, A(A_NET_WM_WINDOW_TYPE), XA_ATOM, &type, 1);
    if (desc.style & PLAT_WS_TOPMOST) {
        const long above = static_cast<long>(A(A_NET_WM_STATE_ABOVE));
        SetProperty32(n->xid, A(A_NET_WM_STATE), XA_ATOM, &above, 1);
    }
    if (desc.style & PLAT_WS_POPUP) {
        // Flags: decorations given; decorations: none.
        const long motif[5] = {2, 0, 0, 0, 0};
        SetProperty32(n->xid, A(A_MOTIF_WM_HINTS), A(A_MOTIF_WM_HINTS), motif, 5);
    }
    UpdateSizeHints(n.get(), false, desc.x, desc.y);
    if (g.im)
        n->ic = XCreateIC(g.im, XNInputStyle, XIMPreeditNothing | XIMStatusNothing, XNClientWindow, n->xid,
                          XNFocusWindow, n->xid, nullptr);
    ApplyCursor(n.get());
    g.byXid[n->xid] = n.get();
    g.byHandle[window] = n.release();
    return true;
}

void DestroyWindow(PlatHWND window)
{
    Native* n = ByHandle(window);
    if (!n)
        return;
    if (g.grab == n->xid) {
        XUngrabPointer(g.display, CurrentTime);
        g.grab = 0;
    }
    if (g.pressWindow == n->xid)
        g.pressWindow = 0;
    if (n->ic)
        XDestroyIC(n->ic);
    XDestroyWindow(g.display, n->xid);
    if (n->shape)
        XFreeCursor(g.display, n->shape);
    XFlush(g.display);
    g.byXid.erase(n->xid);
    g.byHandle.erase(window);
    delete n;
}

void Configure(PlatHWND window, int32_t x, int32_t y, int32_t width, int32_t height, uint32_t flags)
{
    Native* n = ByHandle(window);
    if (!n)
        return;
    XWindowChanges c{};
    unsigned mask = 0;
    if (!(flags & PLAT_SWP_NOMOVE)) {
        c.x = Coordinate(x);
        c.y = Coordinate(y - n->bar);
        mask |= CWX | CWY;
    }
    if (!(flags & PLAT_SWP_NOSIZE)) {
        c.width = width;
        c.height = height + n->bar;
        mask |= CWWidth | CWHeight;
        n->width = width;
        n->height = height;
        if (!(n->style & PLAT_WS_RESIZABLE))
            UpdateSizeHints(n, false, x, y);
    }
    if (!mask)
        return;
    n->configureSerial = NextRequest(g.display);
    XConfigureWindow(g.display, n->xid, mask, &c);
    XFlush(g.display);
}

void Show(PlatHWND window, bool show)
{
    Native* n = ByHandle(window);
    if (!n)
        return;
    if (show) {
        PlatRect r{};
        PlatGetWindowRect(window, r);
        UpdateSizeHints(n, true, r.left, r.top);
        XMapRaised(g.display, n->xid);
    } else {
        XWithdrawWindow(g.display, n->xid, g.screen);
    }
    XFlush(g.display);
}

void Focus(PlatHWND window)
{
    Native* n = ByHandle(window);
    if (!n)
        return;
    g.focusSerial = NextRequest(g.display);
    if (HaveWindowManager()) {
        XEvent e{};
        e.xclient.type = ClientMessage;
        e.xclient.window = n->xid;
        e.xclient.message_type = A(A_NET_ACTIVE_WINDOW);
        e.xclient.format = 32;
        e.xclient.data.l[0] = 1;  // from an application
        e.xclient.data.l[1] = static_cast<long>(g.lastTime);
        XSendEvent(g.display, g.root, False, SubstructureRedirectMask | SubstructureNotifyMask, &e);
    } else {
        XSetInputFocus(g.display, n->xid, RevertToParent, CurrentTime);
    }
    XFlush(g.display);
}

void Raise(PlatHWND window)
{
    if (Native* n = ByHandle(window)) {
        XRaiseWindow(g.display, n->xid);
        XFlush(g.display);
    }
}

void SetTitle(PlatHWND window, const std::u16string& title)
{
    if (Native* n = ByHandle(window)) {
        SetTitleOf(n->xid, title);
        XFlush(g.display);
    }
}

void Blit(PlatHWND window, int32_t x, int32_t y, int32_t width, int32_t height, const uint8_t* source,
          int32_t sourceRowBytes, int32_t sourceX, int32_t sourceY)
{
    Native* n = ByHandle(window);
    if (!n || sourceX < 0 || sourceY < 0)
        return;
    // Only what lies on the window is sent.
    if (x < 0) {
        sourceX -= x;
        width += x;
        x = 0;
    }
    if (y < 0) {
        sourceY -= y;
        height += y;
        y = 0;
    }
    width = std::min(width, n->width - x);
    height = std::min(height, n->height - y);
    if (width <= 0 || height <= 0)
        return;
    PutPixels(n->xid, x, y + n->bar, width, height, source, sourceRowBytes, sourceX, sourceY);
    XFlush(g.display);
}

void Fill(PlatHWND window, const PlatRect& rect, uint8_t r, uint8_t gr, uint8_t b)
{
    Native* n = ByHandle(window);
    if (!n)
        return;
    const int32_t left = std::max(0, rect.left), top = std::max(0, rect.top);
    const int32_t right = std::min(n->width, rect.right), bottom = std::min(n->height, rect.bottom);
    if (right <= left || bottom <= top)
        return;
    XSetForeground(g.display, g.gc, PixelOf(r, gr, b));
    XFillRectangle(g.display, n->xid, g.gc, left, top + n->bar, static_cast<unsigned>(right - left),
                   static_cast<unsigned>(bottom - top));
    XFlush(g.display);
}

bool ReadPixels(PlatHWND window, int32_t width, int32_t height, uint8_t* out)
{
    Native* n = ByHandle(window);
    if (!n || width < 1 || height < 1)
        return false;
    XSync(g.display, False);
    XImage* image = XGetImage(g.display, n->xid, 0, n->bar, static_cast<unsigned>(width),
                              static_cast<unsigned>(height), AllPlanes, ZPixmap);
    if (!image)
        return false;
    for (int32_t row = 0; row < height; ++row)
        for (int32_t col = 0; col < width; ++col)
            ColourOf(XGetPixel(image, col, row), out + (size_t(row) * size_t(width) + size_t(col)) * 4);
    XDestroyImage(image);
    return true;
}

void SetMenuBar(PlatHWND window, const uint8_t* pixels, int32_t width, int32_t rowBytes)
{
    Native* n = ByHandle(window);
    if (!n || n->bar <= 0 || width <= 0)
        return;
    n->barWidth = width;
    n->barPixels.assign(static_cast<size_t>(width) * static_cast<size_t>(n->bar) * 4, 0);
    for (int32_t row = 0; row < n->bar; ++row)
        std::memcpy(&n->barPixels[static_cast<size_t>(row) * width * 4], pixels + ptrdiff_t(row) * rowBytes,
                    static_cast<size_t>(width) * 4);
    PutBar(n);
    XFlush(g.display);
}

bool ReadMenuBarPixels(PlatHWND window, int32_t width, int32_t height, uint8_t* out)
{
    Native* n = ByHandle(window);
    if (!n || width < 1 || height < 1 || height > n->bar)
        return false;
    XSync(g.display, False);
    XImage* image = XGetImage(g.display, n->xid, 0, 0, static_cast<unsigned>(width), static_cast<unsigned>(height),
                              AllPlanes, ZPixmap);
    if (!image)
        return false;
    for (int32_t row = 0; row < height; ++row)
        for (int32_t col = 0; col < width; ++col)
            ColourOf(XGetPixel(image, col, row), out + (size_t(row) * size_t(width) + size_t(col)) * 4);
    XDestroyImage(image);
    return true;
}

void ScreenSize(int32_t& width, int32_t& height)
{
    width = DisplayWidth(g.display, g.screen);
    height = DisplayHeight(g.display, g.screen);
}

bool Pump()
{
    bool any = false;
    while (XPending(g.display) > 0) {
        XEvent ev;
        XNextEvent(g.display, &ev);
        any = true;
        if (XFilterEvent(&ev, None))
            continue;
        Handle(ev);
    }
    return any;
}

void Wait(int timeoutMs)
{
    PollConnection(timeoutMs, true);
}

void Wake()
{
    if (g.wakeFd >= 0) {
        const uint64_t one = 1;
        ssize_t put = write(g.wakeFd, &one, sizeof one);
        (void)put;
    }
}

void SetCapture(PlatHWND window)
{
    Native* n = ByHandle(window);
    if (!n)
        return;
    if (XGrabPointer(g.display, n->xid, False, ButtonPressMask | ButtonReleaseMask | PointerMotionMask,
                     GrabModeAsync, GrabModeAsync, None, None, CurrentTime) == GrabSuccess)
        g.grab = n->xid;
    XFlush(g.display);
}

void ReleaseCapture()
{
    XUngrabPointer(g.display, CurrentTime);
    g.grab = 0;
    XFlush(g.display);
}

void SetCursor(PlatHWND window, const uint8_t* andMask, const uint8_t* xorMask, int32_t hotX, int32_t hotY)
{
    Native* n = ByHandle(window);
    if (!n)
        return;
    if (n->shape) {
        XFreeCursor(g.display, n->shape);
        n->shape = 0;
    }
    if (andMask && xorMask) {
        // X bitmaps have the leftmost pixel in a byte's low bit; shown where the AND mask is clear.
        char source[128], mask[128];
        for (int i = 0; i < 128; ++i) {
            uint8_t s = 0, m = 0;
            for (int bit = 0; bit < 8; ++bit) {
                if (xorMask[i] & (0x80 >> bit))
                    s |= uint8_t(1 << bit);
                if (!(andMask[i] & (0x80 >> bit)))
                    m |= uint8_t(1 << bit);
            }
            source[i] = static_cast<char>(s & m);
            mask[i] = static_cast<char>(m);
        }
        Pixmap sp = XCreateBitmapFromData(g.display, n->xid, source, 32, 32);
        Pixmap mp = XCreateBitmapFromData(g.display, n->xid, mask, 32, 32);
        XColor white{}, black{};
        white.red = white.green = white.blue = 0xFFFF;
        white.flags = black.flags = DoRed | DoGreen | DoBlue;
        n->shape = XCreatePixmapCursor(g.display, sp, mp, &white, &black, static_cast<unsigned>(std::clamp(hotX, 0, 31)),
                                       static_cast<unsigned>(std::clamp(hotY, 0, 31)));
        XFreePixmap(g.display, sp);
        XFreePixmap(g.display, mp);
    }
    ApplyCursor(n);
    XFlush(g.display);
}

void ShowCursor(PlatHWND window, bool show)
{
    if (Native* n = ByHandle(window)) {
        n->cursorShown = show;
        ApplyCursor(n);
        XFlush(g.display);
    }
}

void GetCursorPos(int32_t& x, int32_t& y)
{
    Window rootReturn = 0, child = 0;
    int rx = 0, ry = 0, wx = 0, wy = 0;
    unsigned mask = 0;
    XQueryPointer(g.display, g.root, &rootReturn, &child, &rx, &ry, &wx, &wy, &mask);
    x = rx;
    y = ry;
}

void SetCursorPos(int32_t x, int32_t y)
{
    XWarpPointer(g.display, None, g.root, 0, 0, 0, 0, Coordinate(x), Coordinate(y));
    XFlush(g.display);
}

PlatHWND WindowFromPoint(int32_t x, int32_t y)
{
    // Down from the root through the windows that hold the point (a window manager's frames among them).
    Window from = g.root;
    int fx = x, fy = y;
    for (int depth = 0; depth < 8; ++depth) {
        Window child = 0;
        int cx = 0, cy = 0;
        if (!XTranslateCoordinates(g.display, from, from, fx, fy, &cx, &cy, &child) || !child)
            return nullptr;
        if (Native* n = ByXid(child))
            return n->handle;
        int tx = 0, ty = 0;
        Window ignored = 0;
        if (!XTranslateCoordinates(g.display, from, child, fx, fy, &tx, &ty, &ignored))
            return nullptr;
        from = child;
        fx = tx;
        fy = ty;
    }
    return nullptr;
}

bool KeyDown(uint32_t virtualKey)
{
    KeySym syms[4] = {NoSymbol, NoSymbol, NoSymbol, NoSymbol};
    switch (virtualKey) {
    case PLAT_VK_SHIFT: syms[0] = XK_Shift_L; syms[1] = XK_Shift_R; break;
    case PLAT_VK_CONTROL: syms[0] = XK_Control_L; syms[1] = XK_Control_R; break;
    case PLAT_VK_MENU: syms[0] = XK_Alt_L; syms[1] = XK_Alt_R; syms[2] = XK_Meta_L; syms[3] = XK_Meta_R; break;
    default:
        if ((virtualKey >= 'A' && virtualKey <= 'Z') || (virtualKey >= '0' && virtualKey <= '9'))
            syms[0] = virtualKey;
        break;
    }
    char keys[32];
    XQueryKeymap(g.display, keys);
    for (KeySym ks : syms) {
        if (ks == NoSymbol)
            continue;
        const KeyCode code = XKeysymToKeycode(g.display, ks);
        if (code && (keys[code / 8] & (1 << (code % 8))))
            return true;
    }
    return false;
}

bool SetClipboardText(const std::u16string& text)
{
    g.clipboard = PlatWindowUtf8(text);
    XSetSelectionOwner(g.display, A(A_CLIPBOARD), g.helper, g.lastTime);
    g.ownClipboard = XGetSelectionOwner(g.display, A(A_CLIPBOARD)) == g.helper;
    return g.ownClipboard;
}

bool GetClipboardText(std::u16string& out)
{
    const Window owner = XGetSelectionOwner(g.display, A(A_CLIPBOARD));
    if (owner == None)
        return false;
    if (owner == g.helper) {
        if (!g.ownClipboard)
            return false;
        out = FromUtf8(reinterpret_cast<const unsigned char*>(g.clipboard.data()), g.clipboard.size());
        return true;
    }
    const Atom property = A(A_LUMO_SELECTION);
    XDeleteProperty(g.display, g.helper, property);
    XConvertSelection(g.display, A(A_CLIPBOARD), A(A_UTF8_STRING), property, g.helper, g.lastTime);
    // The owner's answer; every other event waits in the queue for the loop.
    const uint32_t start = NowMs();
    XEvent ev;
    for (;;) {
        if (XCheckTypedWindowEvent(g.display, g.helper, SelectionNotify, &ev) &&
            ev.xselection.selection == A(A_CLIPBOARD))
            break;
        const int left = kSelectionWaitMs - static_cast<int>(NowMs() - start);
        if (left <= 0)
            return false;
        PollConnection(left, false);
    }
    if (ev.xselection.property == None)
        return false;
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(g.display, g.helper, property, 0, kMaxSelectionBytes / 4, True, AnyPropertyType, &type,
                           &format, &count, &after, &data) != Success)
        return false;
    std::unique_ptr<unsigned char, int (*)(void*)> hold(data, &XFree);
    // Another client's bytes: only whole 8-bit text is taken; pieces (INCR) and oversize text are refused.
    if (after != 0)
        XDeleteProperty(g.display, g.helper, property);
    if (!data || format != 8 || after != 0 || (type != A(A_UTF8_STRING) && type != XA_STRING))
        return false;
    if (type == XA_STRING) {
        out.assign(data, data + count);
        return true;
    }
    out = FromUtf8(data, count);
    return true;
}

void MessageBox(PlatHWND owner, const std::u16string& text, const std::u16string& caption)
{
    PlatFont* font = PlatCreateFont(u"DejaVu Sans", 16, PLAT_FW_NORMAL, false, false, PLAT_DEFAULT_CHARSET);
    if (!font)
        return;
    std::unique_ptr<PlatFont, void (*)(PlatFont*)> fontHold(font, &PlatDeleteFont);
    auto widthOf = [font](const std::u16string& s) {
        int32_t cx = 0, cy = 0;
        PlatGetTextExtent(font, s.data(), static_cast<int32_t>(s.size()), &cx, &cy);
        return cx;
    };
    // Wrapped at spaces within the widest line; a word wider than that is cut.
    constexpr int32_t kMaxLine = 420, kMargin = 20, kButtonW = 80, kButtonH = 26;
    std::vector<std::u16string> lines;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(u'\n', start);
        if (end == std::u16string::npos)
            end = text.size();
        std::u16string paragraph = text.substr(start, end - start);
        std::u16string line;
        size_t i = 0;
        while (i < paragraph.size()) {
            size_t j = paragraph.find(u' ', i);
            if (j == std::u16string::npos)
                j = paragraph.size();
            std::u16string word = paragraph.substr(i, j - i);
            std::u16string tryLine = line.empty() ? word : line + u" " + word;
            if (widthOf(tryLine) <= kMaxLine) {
                line = tryLine;
            } else {
                if (!line.empty())
                    lines.push_back(line);
                line.clear();
                while (widthOf(word) > kMaxLine && word.size() > 1) {
                    size_t k = word.size() - 1;
                    while (k > 1 && widthOf(word.substr(0, k)) > kMaxLine)
                        --k;
                    lines.push_back(word.substr(0, k));
                    word = word.substr(k);
                }
                line = word;
            }
            i = j + 1;
        }
        lines.push_back(line);
        if (lines.size() > 40 || end == text.size())
            break;
        start = end + 1;
    }
    PlatTextMetrics metrics{};
    PlatGetTextMetrics(font, &metrics);
    int32_t textW = 0;
    for (const auto& l : lines)
        textW = std::max(textW, widthOf(l));
    const int32_t width = std::max(textW, 200) + 2 * kMargin;
    const int32_t height = kMargin + static_cast<int32_t>(lines.size()) * metrics.height + 16 + kButtonH + 14;
    const PlatRect button{(width - kButtonW) / 2, height - 14 - kButtonH, (width + kButtonW) / 2, height - 14};

    // The box's pixels: light grey, black text, a framed OK button.
    std::vector<uint8_t> cover(size_t(width) * size_t(height) * 4, 0);
    for (size_t i = 0; i < lines.size(); ++i)
        PlatDrawText(font, lines[i].data(), static_cast<int32_t>(lines[i].size()), cover.data(), width, height,
                     width * 4, kMargin, kMargin + static_cast<int32_t>(i) * metrics.height);
    const std::u16string ok = u"OK";
    PlatDrawText(font, ok.data(), 2, cover.data(), width, height, width * 4,
                 button.left + (kButtonW - widthOf(ok)) / 2, button.top + (kButtonH - metrics.height) / 2);
    std::vector<uint8_t> pixels(cover.size());
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x) {
            const bool inButton = x >= button.left && x < button.right && y >= button.top && y < button.bottom;
            const bool edge = inButton && (x == button.left || x == button.right - 1 || y == button.top ||
                                           y == button.bottom - 1);
            const int bg = edge ? 96 : inButton ? 252 : 236;
            const size_t at = (size_t(y) * size_t(width) + size_t(x)) * 4;
            const int v = bg * (255 - cover[at + 1]) / 255;
            pixels[at] = pixels[at + 1] = pixels[at + 2] = static_cast<uint8_t>(v);
            pixels[at + 3] = 255;
        }

    Native* ownerNative = ByHandle(owner);
    int32_t sw = 0, sh = 0;
    ScreenSize(sw, sh);
    int32_t x = sw / 2 - width / 2, y = sh / 2 - height / 2;
    PlatRect o{};
    if (ownerNative && PlatGetWindowRect(owner, o)) {
        x = o.left + (o.right - o.left) / 2 - width / 2;
        y = o.top + (o.bottom - o.top) / 2 - height / 2;
    }
    x = std::clamp(x, 0, std::max(0, sw - width));
    y = std::clamp(y, 0, std::max(0, sh - height));
    XSetWindowAttributes a{};
    a.background_pixmap = None;
    a.event_mask = ExposureMask | KeyPressMask | ButtonPressMask | ButtonReleaseMask | StructureNotifyMask;
    const Window box = XCreateWindow(g.display, g.root, x, y, static_cast<unsigned>(width), static_cast<unsigned>(height),
                                     0, g.depth, InputOutput, g.visual, CWBackPixmap | CWEventMask, &a);
    Atom protocols[1] = {A(A_WM_DELETE_WINDOW)};
    XSetWMProtocols(g.display, box, protocols, 1);
    SetTitleOf(box, caption);
    XClassHint cls{const_cast<char*>("lumodesk"), const_cast<char*>("KOsUiMessageBox")};
    XSetClassHint(g.display, box, &cls);
    const long type = static_cast<long>(A(A_NET_WM_WINDOW_TYPE_DIALOG));
    SetProperty32(box, A(A_NET_WM_WINDOW_TYPE), XA_ATOM, &type, 1);
    if (ownerNative)
        XSetTransientForHint(g.display, box, ownerNative->xid);
    if (XSizeHints* hints = XAllocSizeHints()) {
        hints->flags = PMinSize | PMaxSize | PPosition | USPosition;
        hints->x = x;
        hints->y = y;
        hints->min_width = hints->max_width = width;
        hints->min_height = hints->max_height = height;
        XSetWMNormalHints(g.display, box, hints);
        XFree(hints);
    }
    XDefineCursor(g.display, box, g.arrow);
    XMapRaised(g.display, box);

    auto paint = [&]() { PutPixels(box, 0, 0, width, height, pixels.data(), width * 4, 0, 0); };

    ++g.modal;
    bool done = false, pressed = false, focused = false;
    while (!done) {
        PollConnection(-1, false);
        while (!done && XPending(g.display) > 0) {
            XEvent ev;
            XNextEvent(g.display, &ev);
            if (XFilterEvent(&ev, None))
                continue;
            if (ev.xany.window != box) {
                Handle(ev);
                continue;
            }
            switch (ev.type) {
            case MapNotify:
                if (!focused) {
                    XSetInputFocus(g.display, box, RevertToParent, CurrentTime);
                    focused = true;
                }
                break;
            case Expose:
                if (ev.xexpose.count == 0)
                    paint();
                break;
            case KeyPress: {
                const KeySym ks = XLookupKeysym(&ev.xkey, 0);
                done = ks == XK_Return || ks == XK_KP_Enter || ks == XK_Escape || ks == XK_space;
                break;
            }
            case ButtonPress:
            case ButtonRelease: {
                const bool inside = ev.xbutton.x >= button.left && ev.xbutton.x < button.right &&
                                    ev.xbutton.y >= button.top && ev.xbutton.y < button.bottom;
                if (ev.xbutton.button == Button1) {
                    if (ev.type == ButtonPress)
                        pressed = inside;
                    else
                        done = pressed && inside;
                }
                break;
            }
            case ClientMessage:
                done = ev.xclient.message_type == A(A_WM_PROTOCOLS) &&
                       static_cast<Atom>(ev.xclient.data.l[0]) == A(A_WM_DELETE_WINDOW);
                break;
            default:
                break;
            }
        }
        // The other windows still repaint what the box uncovers.
        for (auto& entry : g.byHandle)
            PlatUpdateWindow(entry.first);
    }
    --g.modal;
    XDestroyWindow(g.display, box);
    if (PlatHWND active = PlatGetActiveWindow())
        Focus(active);
    XFlush(g.display);
}

}  // namespace platx11
