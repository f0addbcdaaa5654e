#pragma once
// The window system: top-level windows, their screens, a message queue per process, timers, the tick clock,
// the clipboard and message boxes. Message numbers, show commands and position flags keep the values the
// system's window procedure was written against, so that it reads as written.
//
// Two backends, chosen once by PlatUiStart: "headless" (windows are records with a BGRA screen of their client
// size in memory, messages are injected, the clock can be driven) and "x11". LUMO_UI=headless or LUMO_UI=x11
// forces one; otherwise x11 when DISPLAY is set, else headless. Every call is made on the one UI thread, except
// PlatPostMessage and PlatSendMessage, which any thread may call, and message-only windows (below).
//
// Threads: a window belongs to the thread that created it. A message sent from another thread runs on the
// window's thread, while that thread is in PlatGetMessage, PlatMsgWaitForSingleObject or a PlatSendMessage of
// its own to another thread; the sender waits for the result (and meanwhile runs the messages sent to its own
// windows). A message-only window (PlatWindowDesc::messageOnly) is hidden for good, needs no backend (no
// PlatUiStart) and may be created on any thread: it only receives messages.
//
// Headless model: the screen is 1280 x 1024; windows have no frame, so a window's rectangle is its client
// area; showing a window activates it at once; a window's pixels are what was blitted or filled into it.
//
// A window may have a menu bar: a strip of its own height right above the client area, whose pixels the
// window procedure gives (PlatSetMenuBarPixels). The client area keeps its corner and size: the window grows
// upward by the strip. A press of the left button on the strip comes as WM_NCLBUTTONDOWN with PLAT_HTMENU
// and the screen point. A menu popup (PLAT_WS_MENUPOPUP) is a frameless window above the others that never
// becomes active (on X11 an override-redirect window).
#include <cstdint>
#include <string>

struct PlatWindow;
using PlatHWND = PlatWindow*;

// Window messages.
enum : uint32_t {
    PLAT_WM_NULL = 0x0000,
    PLAT_WM_CREATE = 0x0001,
    PLAT_WM_DESTROY = 0x0002,
    PLAT_WM_ACTIVATE = 0x0006,
    PLAT_WM_PAINT = 0x000F,
    PLAT_WM_CLOSE = 0x0010,
    PLAT_WM_QUIT = 0x0012,
    PLAT_WM_ERASEBKGND = 0x0014,
    PLAT_WM_GETMINMAXINFO = 0x0024,
    PLAT_WM_NCLBUTTONDOWN = 0x00A1,  // wParam: the hit-test code; lParam: the screen point
    PLAT_WM_WINDOWPOSCHANGED = 0x0047,
    PLAT_WM_KEYDOWN = 0x0100,
    PLAT_WM_KEYUP = 0x0101,
    PLAT_WM_CHAR = 0x0102,
    PLAT_WM_COMMAND = 0x0111,
    PLAT_WM_TIMER = 0x0113,
    PLAT_WM_MOUSEMOVE = 0x0200,
    PLAT_WM_LBUTTONDOWN = 0x0201,
    PLAT_WM_LBUTTONUP = 0x0202,
    PLAT_WM_LBUTTONDBLCLK = 0x0203,
    PLAT_WM_RBUTTONDOWN = 0x0204,
    PLAT_WM_RBUTTONUP = 0x0205,
    PLAT_WM_MOUSEWHEEL = 0x020A,
    PLAT_WM_USER = 0x0400,
};

// Hit-test code of WM_NCLBUTTONDOWN on the menu bar.
enum : uintptr_t { PLAT_HTMENU = 5 };

// Position flags of PlatSetWindowPos and of the PlatWindowPos record sent with WM_WINDOWPOSCHANGED.
enum : uint32_t {
    PLAT_SWP_NOSIZE = 0x0001,
    PLAT_SWP_NOMOVE = 0x0002,
    PLAT_SWP_NOZORDER = 0x0004,
    PLAT_SWP_NOACTIVATE = 0x0010,
};

// Window styles (only what the backends look at).
enum : uint32_t {
    PLAT_WS_RESIZABLE = 0x1,  // a frame the user can drag
    PLAT_WS_POPUP = 0x2,      // no title bar
    PLAT_WS_TOOLWINDOW = 0x4,
    PLAT_WS_TOPMOST = 0x8,
    PLAT_WS_MENUPOPUP = 0x10,  // a menu's popup: no frame, above the others, never active
};

// Virtual-key codes the window procedure reads.
enum : uint32_t {
    PLAT_VK_SHIFT = 0x10,
    PLAT_VK_CONTROL = 0x11,
    PLAT_VK_MENU = 0x12,
    PLAT_VK_PRIOR = 0x21,
    PLAT_VK_NEXT = 0x22,
    PLAT_VK_END = 0x23,
    PLAT_VK_HOME = 0x24,
    PLAT_VK_LEFT = 0x25,
    PLAT_VK_UP = 0x26,
    PLAT_VK_RIGHT = 0x27,
    PLAT_VK_DOWN = 0x28,
    PLAT_VK_INSERT = 0x2D,
    PLAT_VK_DELETE = 0x2E,
    PLAT_VK_OEM_4 = 0xDB,
    PLAT_VK_OEM_6 = 0xDD,
};

struct PlatRect {
    int32_t left, top, right, bottom;
};

// lParam of WM_WINDOWPOSCHANGED: the new position, the new client size and the flags of the change.
struct PlatWindowPos {
    int32_t x, y, width, height;
    uint32_t flags;
};

// lParam of WM_GETMINMAXINFO: the window procedure raises minWidth/minHeight (outer size).
struct PlatMinMaxInfo {
    int32_t minWidth, minHeight;
};

struct PlatMsg {
    PlatHWND window;
    uint32_t message;
    uintptr_t wParam;
    intptr_t lParam;
};

using PlatWndProc = intptr_t (*)(PlatHWND window, uint32_t message, uintptr_t wParam, intptr_t lParam);

// Chooses and starts the backend (once per process; later calls answer the first verdict). False, with a
// reason in error, when the chosen backend cannot run.
bool PlatUiStart(std::string& error);
// "headless" or "x11"; empty before PlatUiStart.
const char* PlatUiBackend();

struct PlatWindowDesc {
    std::u16string title;
    int32_t x = 0, y = 0;          // client corner on the screen, kept within +-2^24
    int32_t width = 1, height = 1; // client size, kept within 1 to 16384 a side
    uint32_t style = 0;            // PLAT_WS_*
    PlatHWND owner = nullptr;
    PlatWndProc procedure = nullptr;
    void* userData = nullptr;      // readable by the procedure from WM_CREATE on
    const char* className = nullptr; // a window with a class can be found by PlatFindWindow
    bool messageOnly = false;        // never shown, no backend needed: see above
    int32_t menuBarHeight = 0;     // a menu bar of this height above the client area (0 to 64; 0: none)
};

// Creates a hidden, enabled window and sends it WM_CREATE; null when the backend is not started or the
// procedure answers -1 to WM_CREATE (the window is then gone).
PlatHWND PlatCreateWindow(const PlatWindowDesc& desc);
// Destroys the window's owned windows, sends WM_DESTROY and frees the window. Unknown handles are ignored.
bool PlatDestroyWindow(PlatHWND window);
bool PlatIsWindow(PlatHWND window);
void* PlatGetWindowUserData(PlatHWND window);
void PlatSetWindowUserData(PlatHWND window, void* data);
PlatHWND PlatGetOwner(PlatHWND window);

// Moves and sizes (client size) the window as the flags allow, raises it unless PLAT_SWP_NOZORDER, and sends
// WM_WINDOWPOSCHANGED. Sizes are kept within 1 to 16384 a side, positions within +-2^24.
bool PlatSetWindowPos(PlatHWND window, int32_t x, int32_t y, int32_t width, int32_t height, uint32_t flags);
// show true: visible, raised and active (WM_ACTIVATE 0 to the window that was active, then 1 to this one);
// false: hidden, and the next visible window in z-order becomes active.
bool PlatShowWindow(PlatHWND window, bool show);
bool PlatIsWindowVisible(PlatHWND window);
bool PlatEnableWindow(PlatHWND window, bool enable);
bool PlatIsWindowEnabled(PlatHWND window);
bool PlatSetActiveWindow(PlatHWND window);
PlatHWND PlatGetActiveWindow();
bool PlatSetWindowText(PlatHWND window, const std::u16string& title);
std::u16string PlatGetWindowText(PlatHWND window);
// The window's client rectangle on the screen.
bool PlatGetWindowRect(PlatHWND window, PlatRect& out);
void PlatGetScreenSize(int32_t& width, int32_t& height);
// The visible windows, front first, then the hidden ones in creation order.
void PlatListWindows(PlatHWND* out, int& count, int capacity);
// Sends WM_PAINT now when the window is visible and has something to repaint.
void PlatUpdateWindow(PlatHWND window);
// Marks rect (null: the whole client area) for repainting; WM_PAINT comes when the queue is empty.
void PlatInvalidateRect(PlatHWND window, const PlatRect* rect);
// The rectangle WM_PAINT must repaint (cleared by this call).
bool PlatBeginPaint(PlatHWND window, PlatRect& out);

// Copies width x height pixels (BGRA, rows top-down) from source at (sourceX, sourceY) to the window's client
// area at (x, y); clipped to both.
void PlatBlit(PlatHWND window, int32_t x, int32_t y, int32_t width, int32_t height, const uint8_t* source,
              int32_t sourceRowBytes, int32_t sourceX, int32_t sourceY);
void PlatFillRect(PlatHWND window, const PlatRect& rect, uint8_t r, uint8_t g, uint8_t b);
// The window's screen pixels (BGRA, width x 4 bytes a row) and size; null when the backend keeps none.
const uint8_t* PlatGetWindowPixels(PlatHWND window, int32_t& width, int32_t& height);

// The height of the window's menu bar, 0 without one.
int32_t PlatGetMenuBarHeight(PlatHWND window);
// Shows the pixels (BGRA, width x the bar's height, rowBytes a row) in the window's menu bar from its left
// edge; columns beyond the client width are cut, columns beyond width keep what they showed.
void PlatSetMenuBarPixels(PlatHWND window, const uint8_t* pixels, int32_t width, int32_t rowBytes);
// The menu bar's pixels as shown (client width x bar height, width x 4 bytes a row); null without a bar.
const uint8_t* PlatGetMenuBarPixels(PlatHWND window, int32_t& width, int32_t& height);

// Queue. Sent messages go to the procedure at once (from another thread: see Threads above); posted ones wait
// in the queue. A message sent to a window that goes before it has run answers 0.
intptr_t PlatSendMessage(PlatHWND window, uint32_t message, uintptr_t wParam, intptr_t lParam);
// Waits for a waitable object (PlatformSync.h; null: only for the time) like PlatWaitForSingleObject, running the
// messages other threads and processes send to the calling thread's windows meanwhile.
uint32_t PlatMsgWaitForSingleObject(void* object, uint32_t milliseconds);
bool PlatPostMessage(PlatHWND window, uint32_t message, uintptr_t wParam, intptr_t lParam);
void PlatPostQuitMessage(int code);
// Waits for the next message (timers and paints come when the queue is otherwise empty); false for WM_QUIT.
bool PlatGetMessage(PlatMsg& out);
// The first queued message of the window (null: any) within [first, last] (both 0: any); removes it when
// remove is set.
bool PlatPeekMessage(PlatMsg& out, PlatHWND window, uint32_t first, uint32_t last, bool remove);
intptr_t PlatDispatchMessage(const PlatMsg& message);
// Called by PlatGetMessage when nothing is queued or due, before it waits. A hook that answers false has no
// more to give: the loop then receives WM_QUIT.
using PlatIdleHook = bool (*)(void* context);
void PlatSetIdleHook(PlatIdleHook hook, void* context);

// Timers post WM_TIMER (wParam = id) every period; a timer that is already queued is not queued again.
bool PlatSetTimer(PlatHWND window, uintptr_t id, uint32_t periodMs);
bool PlatKillTimer(PlatHWND window, uintptr_t id);

// Milliseconds since an arbitrary start, wrapping at 32 bits. With the virtual clock (headless only) time moves
// only through PlatAdvanceClock, which queues the timers that fell due.
uint32_t PlatGetTickCount();
void PlatUseVirtualClock(bool on);
void PlatAdvanceClock(uint32_t ms);

// Clipboard text (in the process on headless).
bool PlatSetClipboardText(const std::u16string& text);
bool PlatGetClipboardText(std::u16string& out);

// An OK message box; headless writes "caption: text" to stderr and answers at once.
void PlatMessageBox(PlatHWND owner, const std::u16string& text, const std::u16string& caption);

// Mouse pointer position on the screen (headless: where the last injected mouse message put it).
void PlatGetCursorPos(int32_t& x, int32_t& y);
void PlatSetCursorPos(int32_t x, int32_t y);

// Mouse capture: the window receives the mouse messages wherever the pointer goes (a pointer grab on X11)
// until released. PlatSetCapture answers the window that had it.
PlatHWND PlatSetCapture(PlatHWND window);
bool PlatReleaseCapture();
PlatHWND PlatGetCapture();
// The visible window at a point of the screen, null for none of ours.
PlatHWND PlatWindowFromPoint(int32_t x, int32_t y);
// Whether a key (virtual-key code) is down now; headless keeps no keyboard and answers false.
bool PlatIsKeyDown(uint32_t virtualKey);
// The window's mouse cursor: 32 x 32 AND and XOR masks, 4 bytes a row, the leftmost pixel in a byte's high
// bit (AND 1 lets the screen through; under AND 0, XOR 1 is white and XOR 0 black); null masks give the arrow.
bool PlatSetCursor(PlatHWND window, const uint8_t* andMask, const uint8_t* xorMask, int32_t hotX, int32_t hotY);
// A hidden cursor is blank over the window whatever its shape.
void PlatShowCursor(PlatHWND window, bool show);
// 0 the arrow, 1 hidden, 2 a shape from masks (with its hot spot).
int PlatGetCursorShape(PlatHWND window, int32_t& hotX, int32_t& hotY);

// Finding a window by class and title, in this process or in another process of the same machine. Every
// window created with a class listens on a Unix socket in the machine folder named after its class and title
// (bound again when the title changes; a later window of the same class and title takes the name over). A
// window of another process is answered as a stand-in handle that carries only PlatSendMessage: the message
// and wParam go over the socket and the call returns once that window's procedure has handled it (0, lParam
// is not sent; a message below PLAT_WM_USER is answered without reaching the procedure). A socket nobody
// answers (its process ended) counts as no window. Null when none is found.
PlatHWND PlatFindWindow(const char* className, const std::u16string& title);
