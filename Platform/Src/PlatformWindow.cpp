#include "PlatformWindow.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "PlatformSync.h"

#include "PlatformWindowLink.h"
#include "PlatformWindowX11.h"

struct PlatWindow {
    std::u16string title;
    int32_t x = 0, y = 0, width = 1, height = 1;
    uint32_t style = 0;
    PlatHWND owner = nullptr;
    PlatWndProc procedure = nullptr;
    void* userData = nullptr;
    bool visible = false;
    bool enabled = true;
    bool destroying = false;
    bool paintPending = false;
    PlatRect paintRect{0, 0, 0, 0};
    std::vector<uint8_t> pixels;  // BGRA, width x 4 a row
    int32_t barHeight = 0;           // menu bar above the client area
    std::vector<uint8_t> barPixels;  // BGRA, width x 4 a row, barHeight rows
    bool cursorCustom = false;
    bool cursorShown = true;
    int32_t cursorHotX = 0, cursorHotY = 0;
    std::string className;  // empty: not findable
    bool messageOnly = false;

    struct Timer {
        uintptr_t id;
        uint32_t period;
        uint32_t due;
    };
    std::vector<Timer> timers;
};

namespace {

constexpr int32_t kScreenWidth = 1280;
constexpr int32_t kScreenHeight = 1024;
constexpr int32_t kMaxMenuBarHeight = 64;
// Largest client side a window's screen takes, and the farthest a window's corner may lie from the origin,
// so that a corner plus a side never overflows.
constexpr int32_t kMaxSide = 16384;
constexpr int32_t kMaxPosition = 1 << 24;

int32_t ClampPosition(int32_t v)
{
    return std::clamp(v, -kMaxPosition, kMaxPosition);
}

enum class Backend { None, Headless, X11 };

Backend g_Backend = Backend::None;
bool g_Started = false;
bool g_StartResult = false;
std::string g_StartError;

// The lists and queues below are never destroyed: threads of other libraries (device notification, the window
// link) may still send and wait for an answer while the process exits and runs its destructors.
std::vector<PlatWindow*>& g_Windows = *new std::vector<PlatWindow*>;  // creation order
std::vector<PlatWindow*>& g_ZOrder = *new std::vector<PlatWindow*>;   // front first
PlatHWND g_Active = nullptr;
PlatHWND g_Capture = nullptr;

std::mutex& g_QueueLock = *new std::mutex;
std::condition_variable& g_QueueSignal = *new std::condition_variable;
std::deque<PlatMsg>& g_Queue = *new std::deque<PlatMsg>;
bool g_QuitPosted = false;

// Messages sent from another process or thread, waiting for the window's thread (under g_QueueLock). From
// another process only the program's own messages, without lParam, reach the procedure (see DeliverSent).
struct SentMessage {
    PlatHWND window;
    uint32_t message;
    uintptr_t wParam;
    intptr_t lParam = 0;
    bool local = false;        // from a thread of this process
    bool anyUiThread = false;  // for the thread that runs PlatGetMessage (a window of unknown thread)
    std::thread::id thread;    // the window's thread
    intptr_t result = 0;
    bool done = false;
};
std::deque<SentMessage*>& g_Sent = *new std::deque<SentMessage*>;
std::condition_variable& g_SentDone = *new std::condition_variable;

// Every window's thread, and the message-only windows (which live outside the UI thread's lists).
struct Owner {
    std::thread::id thread;
    bool messageOnly;
};
std::mutex& g_OwnersLock = *new std::mutex;
std::map<PlatWindow*, Owner>& g_Owners = *new std::map<PlatWindow*, Owner>;

PlatIdleHook g_IdleHook = nullptr;
void* g_IdleContext = nullptr;

bool g_VirtualClock = false;
uint32_t g_VirtualNow = 0;

std::u16string g_Clipboard;
bool g_ClipboardHasText = false;
int32_t g_CursorX = 0, g_CursorY = 0;


uint32_t RealNow()
{
    using namespace std::chrono;
    static const steady_clock::time_point start = steady_clock::now();
    return static_cast<uint32_t>(duration_cast<milliseconds>(steady_clock::now() - start).count());
}

PlatWindow* Find(PlatHWND window)
{
    if (!window)
        return nullptr;
    auto it = std::find(g_Windows.begin(), g_Windows.end(), window);
    return it == g_Windows.end() ? nullptr : *it;
}

// A window of the UI thread's lists or a message-only window.
PlatWindow* FindAny(PlatHWND window)
{
    if (PlatWindow* w = Find(window))
        return w;
    if (!window)
        return nullptr;
    std::lock_guard<std::mutex> lock(g_OwnersLock);
    auto it = g_Owners.find(window);
    return it != g_Owners.end() && it->second.messageOnly ? it->first : nullptr;
}

void WakeWaiters()
{
    g_QueueSignal.notify_all();
    if (g_Backend == Backend::X11)
        platx11::Wake();
}

// Whether a sent message waits for this thread (under g_QueueLock).
bool SentForMe(bool uiLoop)
{
    const std::thread::id me = std::this_thread::get_id();
    for (const SentMessage* m : g_Sent)
        if (m->thread == me || (uiLoop && m->anyUiThread))
            return true;
    return false;
}

// Answers the messages still waiting for a window that goes (under g_QueueLock).
void AnswerSentFor(PlatWindow* w)
{
    for (auto it = g_Sent.begin(); it != g_Sent.end();) {
        if ((*it)->window == w) {
            (*it)->done = true;
            it = g_Sent.erase(it);
        } else {
            ++it;
        }
    }
    g_SentDone.notify_all();
}

// The window's menu bar follows its width, keeping what it showed.
void ResizeBar(PlatWindow* w, int32_t width)
{
    if (w->barHeight <= 0)
        return;
    std::vector<uint8_t> bar(static_cast<size_t>(width) * static_cast<size_t>(w->barHeight) * 4, 0);
    const int32_t oldWidth = w->barPixels.empty() ? 0 : static_cast<int32_t>(w->barPixels.size() / 4 / w->barHeight);
    for (int32_t row = 0; row < w->barHeight && oldWidth > 0; ++row)
        std::memcpy(&bar[static_cast<size_t>(row) * width * 4], &w->barPixels[static_cast<size_t>(row) * oldWidth * 4],
                    static_cast<size_t>(std::min(width, oldWidth)) * 4);
    w->barPixels.swap(bar);
}

void ResizePixels(PlatWindow* w, int32_t width, int32_t height)
{
    ResizeBar(w, width);
    if (g_Backend == Backend::X11) {
        // The server keeps the pixels.
        w->width = width;
        w->height = height;
        return;
    }
    std::vector<uint8_t> pixels(static_cast<size_t>(width) * static_cast<size_t>(height) * 4, 0);
    for (int32_t row = 0; row < std::min(height, w->height) && !w->pixels.empty(); ++row)
        std::memcpy(&pixels[static_cast<size_t>(row) * width * 4], &w->pixels[static_cast<size_t>(row) * w->width * 4],
                    static_cast<size_t>(std::min(width, w->width)) * 4);
    w->pixels.swap(pixels);
    w->width = width;
    w->height = height;
}

void Raise(PlatWindow* w)
{
    g_ZOrder.erase(std::remove(g_ZOrder.begin(), g_ZOrder.end(), w), g_ZOrder.end());
    g_ZOrder.insert(g_ZOrder.begin(), w);
}

void Activate(PlatWindow* w)
{
    if (g_Active == w)
        return;
    PlatHWND previous = g_Active;
    g_Active = w;
    if (Find(previous) && previous->procedure)
        previous->procedure(previous, PLAT_WM_ACTIVATE, 0, 0);
    if (w && w->procedure)
        w->procedure(w, PLAT_WM_ACTIVATE, 1, 0);
}

void ActivateNextVisible(PlatWindow* leaving)
{
    if (g_Active != leaving)
        return;
    for (PlatWindow* w : g_ZOrder)
        if (w != leaving && w->visible && !w->destroying && !(w->style & PLAT_WS_MENUPOPUP)) {
            Activate(w);
            return;
        }
    PlatHWND previous = g_Active;
    g_Active = nullptr;
    if (Find(previous) && previous->procedure && !previous->destroying)
        previous->procedure(previous, PLAT_WM_ACTIVATE, 0, 0);
}

bool TimerQueued(PlatWindow* w, uintptr_t id)
{
    for (const PlatMsg& m : g_Queue)
        if (m.window == w && m.message == PLAT_WM_TIMER && m.wParam == id)
            return true;
    return false;
}

// Queues the timers that fell due at now (each at most once).
void QueueDueTimers(uint32_t now)
{
    std::lock_guard<std::mutex> lock(g_QueueLock);
    for (PlatWindow* w : g_Windows)
        for (PlatWindow::Timer& t : w->timers)
            if (static_cast<int32_t>(now - t.due) >= 0) {
                t.due = now + t.period;
                if (!TimerQueued(w, t.id))
                    g_Queue.push_back(PlatMsg{w, PLAT_WM_TIMER, t.id, 0});
            }
}

// Milliseconds until the next timer falls due, capped at limit.
uint32_t NextTimerWait(uint32_t now, uint32_t limit)
{
    uint32_t wait = limit;
    for (PlatWindow* w : g_Windows)
        for (const PlatWindow::Timer& t : w->timers) {
            int32_t d = static_cast<int32_t>(t.due - now);
            wait = std::min<uint32_t>(wait, d < 0 ? 0u : static_cast<uint32_t>(d));
        }
    return wait;
}

// Runs the messages sent to this thread's windows (uiLoop: also those for the thread of PlatGetMessage),
// answering each once its procedure has run.
void DeliverSent(bool uiLoop)
{
    const std::thread::id me = std::this_thread::get_id();
    for (;;) {
        SentMessage* m = nullptr;
        {
            std::lock_guard<std::mutex> lock(g_QueueLock);
            for (auto it = g_Sent.begin(); it != g_Sent.end(); ++it)
                if ((*it)->thread == me || (uiLoop && (*it)->anyUiThread)) {
                    m = *it;
                    g_Sent.erase(it);
                    break;
                }
            if (!m)
                return;
        }
        struct Answer {
            SentMessage* m;
            ~Answer()
            {
                {
                    std::lock_guard<std::mutex> lock(g_QueueLock);
                    m->done = true;
                }
                g_SentDone.notify_all();
            }
        } answer{m};
        // Only the program's own messages come from outside: system messages may carry pointers.
        PlatWindow* w = FindAny(m->window);
        if (w && !w->destroying && m->local)
            m->result = w->procedure(w, m->message, m->wParam, m->lParam);
        else if (w && !w->destroying && m->message >= PLAT_WM_USER)
            w->procedure(w, m->message, m->wParam, 0);
    }
}

// The thread of a window, when it has one.
bool WindowThread(PlatHWND window, std::thread::id* thread, bool* messageOnly)
{
    std::lock_guard<std::mutex> lock(g_OwnersLock);
    auto it = g_Owners.find(window);
    if (it == g_Owners.end())
        return false;
    *thread = it->second.thread;
    if (messageOnly)
        *messageOnly = it->second.messageOnly;
    return true;
}

}  // namespace

void PlatDeliverFromLink(PlatHWND window, uint32_t message, uintptr_t wParam)
{
    SentMessage m{window, message, wParam};
    m.anyUiThread = !WindowThread(window, &m.thread, nullptr);
    std::unique_lock<std::mutex> lock(g_QueueLock);
    g_Sent.push_back(&m);
    WakeWaiters();
    g_SentDone.wait(lock, [&m] { return m.done; });
}

bool PlatUiStart(std::string& error)
{
    if (!g_Started) {
        g_Started = true;
        const char* forced = std::getenv("LUMO_UI");
        std::string choice;
        if (forced && *forced)
            choice = forced;
        else
            choice = (std::getenv("DISPLAY") && *std::getenv("DISPLAY")) ? "x11" : "headless";
        if (choice == "headless") {
            g_Backend = Backend::Headless;
            g_StartResult = true;
        } else if (choice == "x11") {
            g_StartResult = platx11::Start(g_StartError);
            if (g_StartResult)
                g_Backend = Backend::X11;
        } else {
            g_StartError = "LUMO_UI must be \"headless\" or \"x11\", not \"" + choice + "\"";
        }
    }
    error = g_StartError;
    return g_StartResult;
}

const char* PlatUiBackend()
{
    switch (g_Backend) {
    case Backend::Headless: return "headless";
    case Backend::X11: return "x11";
    default: return "";
    }
}

namespace {

PlatHWND CreateMessageWindow(const PlatWindowDesc& desc)
{
    auto* w = new PlatWindow;
    w->title = desc.title;
    w->procedure = desc.procedure;
    w->userData = desc.userData;
    w->className = desc.className ? desc.className : "";
    w->messageOnly = true;
    {
        std::lock_guard<std::mutex> lock(g_OwnersLock);
        g_Owners[w] = Owner{std::this_thread::get_id(), true};
    }
    if (w->procedure(w, PLAT_WM_CREATE, 0, 0) == -1) {
        PlatDestroyWindow(w);
        return nullptr;
    }
    if (!w->className.empty())
        platlink::Listen(w, w->className, w->title);
    return w;
}

}  // namespace

PlatHWND PlatCreateWindow(const PlatWindowDesc& desc)
{
    if (desc.messageOnly && desc.procedure)
        return CreateMessageWindow(desc);
    if (g_Backend == Backend::None || !desc.procedure)
        return nullptr;
    auto* w = new PlatWindow;
    w->title = desc.title;
    w->x = ClampPosition(desc.x);
    w->y = ClampPosition(desc.y);
    w->style = desc.style;
    w->owner = Find(desc.owner);
    w->procedure = desc.procedure;
    w->userData = desc.userData;
    w->className = desc.className ? desc.className : "";
    w->barHeight = (desc.style & PLAT_WS_MENUPOPUP) ? 0 : std::clamp(desc.menuBarHeight, 0, kMaxMenuBarHeight);
    w->width = 0;
    w->height = 0;
    ResizePixels(w, std::clamp(desc.width, 1, kMaxSide), std::clamp(desc.height, 1, kMaxSide));
    if (g_Backend == Backend::X11) {
        PlatWindowDesc native = desc;
        native.x = w->x;
        native.y = w->y;
        native.width = w->width;
        native.height = w->height;
        native.owner = w->owner;
        native.menuBarHeight = w->barHeight;
        if (!platx11::CreateWindow(w, native)) {
            delete w;
            return nullptr;
        }
    }
    g_Windows.push_back(w);
    g_ZOrder.push_back(w);
    {
        std::lock_guard<std::mutex> lock(g_OwnersLock);
        g_Owners[w] = Owner{std::this_thread::get_id(), false};
    }
    if (w->procedure(w, PLAT_WM_CREATE, 0, 0) == -1) {
        PlatDestroyWindow(w);
        return nullptr;
    }
    if (!w->className.empty())
        platlink::Listen(w, w->className, w->title);
    return w;
}

namespace {

// The window leaves the list of owners; what was sent to it is answered.
void Forget(PlatWindow* w)
{
    std::lock_guard<std::mutex> lock(g_QueueLock);
    {
        std::lock_guard<std::mutex> owners(g_OwnersLock);
        g_Owners.erase(w);
    }
    AnswerSentFor(w);
}

}  // namespace

bool PlatDestroyWindow(PlatHWND window)
{
    PlatWindow* w = FindAny(window);
    if (!w || w->destroying)
        return false;
    w->destroying = true;
    if (w->messageOnly) {
        w->procedure(w, PLAT_WM_DESTROY, 0, 0);
        if (!w->className.empty())
            platlink::Stop(w);
        Forget(w);
        delete w;
        return true;
    }
    // Owned windows go first, as they cannot outlive their owner.
    std::vector<PlatWindow*> owned;
    for (PlatWindow* o : g_Windows)
        if (o->owner == w)
            owned.push_back(o);
    for (PlatWindow* o : owned)
        PlatDestroyWindow(o);
    const bool wasVisible = w->visible;
    if (w->visible)
        ActivateNextVisible(w);
    if (g_Active == w)
        g_Active = nullptr;
    w->visible = false;
    w->procedure(w, PLAT_WM_DESTROY, 0, 0);
    if (g_Capture == w)
        PlatReleaseCapture();
    if (!w->className.empty())
        platlink::Stop(w);
    if (g_Backend == Backend::X11) {
        platx11::DestroyWindow(w);
        // The keyboard follows the window that became active.
        if (wasVisible && g_Active)
            platx11::Focus(g_Active);
    }
    w->timers.clear();
    {
        std::lock_guard<std::mutex> lock(g_QueueLock);
        g_Queue.erase(std::remove_if(g_Queue.begin(), g_Queue.end(), [w](const PlatMsg& m) { return m.window == w; }),
                      g_Queue.end());
    }
    g_Windows.erase(std::remove(g_Windows.begin(), g_Windows.end(), w), g_Windows.end());
    g_ZOrder.erase(std::remove(g_ZOrder.begin(), g_ZOrder.end(), w), g_ZOrder.end());
    Forget(w);
    delete w;
    return true;
}

bool PlatIsWindow(PlatHWND window)
{
    PlatWindow* w = FindAny(window);
    return w && !w->destroying;
}

void* PlatGetWindowUserData(PlatHWND window)
{
    PlatWindow* w = FindAny(window);
    return w ? w->userData : nullptr;
}

void PlatSetWindowUserData(PlatHWND window, void* data)
{
    if (PlatWindow* w = FindAny(window))
        w->userData = data;
}

PlatHWND PlatGetOwner(PlatHWND window)
{
    PlatWindow* w = Find(window);
    return w ? w->owner : nullptr;
}

bool PlatSetWindowPos(PlatHWND window, int32_t x, int32_t y, int32_t width, int32_t height, uint32_t flags)
{
    PlatWindow* w = Find(window);
    if (!w || w->destroying)
        return false;
    if (!(flags & PLAT_SWP_NOMOVE)) {
        w->x = ClampPosition(x);
        w->y = ClampPosition(y);
    }
    if (!(flags & PLAT_SWP_NOSIZE)) {
        width = std::clamp(width, 1, kMaxSide);
        height = std::clamp(height, 1, kMaxSide);
        if (width != w->width || height != w->height) {
            ResizePixels(w, width, height);
            PlatInvalidateRect(w, nullptr);
        }
    }
    if (!(flags & PLAT_SWP_NOZORDER))
        Raise(w);
    if (g_Backend == Backend::X11) {
        platx11::Configure(w, w->x, w->y, w->width, w->height, flags);
        if (!(flags & PLAT_SWP_NOZORDER))
            platx11::Raise(w);
    }
    PlatWindowPos pos{w->x, w->y, w->width, w->height, flags};
    w->procedure(w, PLAT_WM_WINDOWPOSCHANGED, 0, reinterpret_cast<intptr_t>(&pos));
    return true;
}

bool PlatShowWindow(PlatHWND window, bool show)
{
    PlatWindow* w = Find(window);
    if (!w || w->destroying)
        return false;
    bool was = w->visible;
    if (w->style & PLAT_WS_MENUPOPUP) {
        // Shown above the others without taking the activation or the keyboard.
        w->visible = show;
        if (show)
            Raise(w);
        if (g_Backend == Backend::X11)
            platx11::Show(w, show);
        if (show && !was)
            PlatInvalidateRect(w, nullptr);
        return was;
    }
    if (show) {
        w->visible = true;
        Raise(w);
        if (g_Backend == Backend::X11) {
            platx11::Show(w, true);
            platx11::Focus(w);
        }
        if (!was)
            PlatInvalidateRect(w, nullptr);
        Activate(w);
    } else if (was) {
        w->visible = false;
        if (g_Backend == Backend::X11)
            platx11::Show(w, false);
        ActivateNextVisible(w);
        if (g_Backend == Backend::X11 && g_Active)
            platx11::Focus(g_Active);
    }
    return was;
}

bool PlatIsWindowVisible(PlatHWND window)
{
    PlatWindow* w = Find(window);
    return w && w->visible;
}

bool PlatEnableWindow(PlatHWND window, bool enable)
{
    PlatWindow* w = Find(window);
    if (!w)
        return false;
    bool wasDisabled = !w->enabled;
    w->enabled = enable;
    return wasDisabled;
}

bool PlatIsWindowEnabled(PlatHWND window)
{
    PlatWindow* w = Find(window);
    return w && w->enabled;
}

bool PlatSetActiveWindow(PlatHWND window)
{
    PlatWindow* w = Find(window);
    if (!w || w->destroying)
        return false;
    if (g_Backend == Backend::X11 && w->visible)
        platx11::Focus(w);
    Activate(w);
    return true;
}

PlatHWND PlatGetActiveWindow()
{
    return g_Active;
}

bool PlatSetWindowText(PlatHWND window, const std::u16string& title)
{
    PlatWindow* w = Find(window);
    if (!w)
        return false;
    w->title = title;
    if (!w->className.empty() && !w->destroying)
        platlink::Listen(w, w->className, w->title);
    if (g_Backend == Backend::X11)
        platx11::SetTitle(w, title);
    return true;
}

std::u16string PlatGetWindowText(PlatHWND window)
{
    PlatWindow* w = Find(window);
    return w ? w->title : std::u16string();
}

bool PlatGetWindowRect(PlatHWND window, PlatRect& out)
{
    PlatWindow* w = Find(window);
    if (!w)
        return false;
    out = PlatRect{w->x, w->y, w->x + w->width, w->y + w->height};
    return true;
}

void PlatGetScreenSize(int32_t& width, int32_t& height)
{
    width = kScreenWidth;
    height = kScreenHeight;
    if (g_Backend == Backend::X11)
        platx11::ScreenSize(width, height);
}

void PlatListWindows(PlatHWND* out, int& count, int capacity)
{
    count = 0;
    for (PlatWindow* w : g_ZOrder)
        if (w->visible && count < capacity)
            out[count++] = w;
    for (PlatWindow* w : g_Windows)
        if (!w->visible && count < capacity)
            out[count++] = w;
}

void PlatInvalidateRect(PlatHWND window, const PlatRect* rect)
{
    PlatWindow* w = Find(window);
    if (!w)
        return;
    PlatRect r = rect ? *rect : PlatRect{0, 0, w->width, w->height};
    r.left = std::max(0, r.left);
    r.top = std::max(0, r.top);
    r.right = std::min(w->width, r.right);
    r.bottom = std::min(w->height, r.bottom);
    if (r.right <= r.left || r.bottom <= r.top)
        return;
    if (!w->paintPending) {
        w->paintRect = r;
        w->paintPending = true;
    } else {
        w->paintRect.left = std::min(w->paintRect.left, r.left);
        w->paintRect.top = std::min(w->paintRect.top, r.top);
        w->paintRect.right = std::max(w->paintRect.right, r.right);
        w->paintRect.bottom = std::max(w->paintRect.bottom, r.bottom);
    }
}

void PlatUpdateWindow(PlatHWND window)
{
    PlatWindow* w = Find(window);
    if (w && w->visible && w->paintPending && !w->destroying)
        w->procedure(w, PLAT_WM_PAINT, 0, 0);
}

bool PlatBeginPaint(PlatHWND window, PlatRect& out)
{
    PlatWindow* w = Find(window);
    if (!w || !w->paintPending) {
        out = PlatRect{0, 0, 0, 0};
        return false;
    }
    out = w->paintRect;
    w->paintPending = false;
    return true;
}

void PlatBlit(PlatHWND window, int32_t x, int32_t y, int32_t width, int32_t height, const uint8_t* source,
              int32_t sourceRowBytes, int32_t sourceX, int32_t sourceY)
{
    PlatWindow* w = Find(window);
    if (!w || !source || width <= 0 || height <= 0)
        return;
    if (g_Backend == Backend::X11) {
        platx11::Blit(w, x, y, width, height, source, sourceRowBytes, sourceX, sourceY);
        return;
    }
    // Clip against the window; the source is trusted to hold the rectangle asked for.
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
    width = std::min(width, w->width - x);
    height = std::min(height, w->height - y);
    if (width <= 0 || height <= 0 || sourceX < 0 || sourceY < 0)
        return;
    for (int32_t row = 0; row < height; ++row)
        std::memcpy(&w->pixels[(static_cast<size_t>(y + row) * w->width + x) * 4],
                    source + static_cast<ptrdiff_t>(sourceY + row) * sourceRowBytes + static_cast<ptrdiff_t>(sourceX) * 4,
                    static_cast<size_t>(width) * 4);
}

void PlatFillRect(PlatHWND window, const PlatRect& rect, uint8_t r, uint8_t g, uint8_t b)
{
    PlatWindow* w = Find(window);
    if (!w)
        return;
    if (g_Backend == Backend::X11) {
        platx11::Fill(w, rect, r, g, b);
        return;
    }
    int32_t left = std::max(0, rect.left), top = std::max(0, rect.top);
    int32_t right = std::min(w->width, rect.right), bottom = std::min(w->height, rect.bottom);
    for (int32_t row = top; row < bottom; ++row)
        for (int32_t col = left; col < right; ++col) {
            uint8_t* p = &w->pixels[(static_cast<size_t>(row) * w->width + col) * 4];
            p[0] = b;
            p[1] = g;
            p[2] = r;
            p[3] = 255;
        }
}

const uint8_t* PlatGetWindowPixels(PlatHWND window, int32_t& width, int32_t& height)
{
    PlatWindow* w = Find(window);
    if (!w) {
        width = height = 0;
        return nullptr;
    }
    width = w->width;
    height = w->height;
    if (g_Backend == Backend::X11) {
        // The screen's own pixels, read back.
        w->pixels.assign(static_cast<size_t>(width) * static_cast<size_t>(height) * 4, 0);
        if (!platx11::ReadPixels(w, width, height, w->pixels.data())) {
            width = height = 0;
            return nullptr;
        }
    }
    return w->pixels.data();
}

int32_t PlatGetMenuBarHeight(PlatHWND window)
{
    PlatWindow* w = Find(window);
    return w ? w->barHeight : 0;
}

void PlatSetMenuBarPixels(PlatHWND window, const uint8_t* pixels, int32_t width, int32_t rowBytes)
{
    PlatWindow* w = Find(window);
    if (!w || w->barHeight <= 0 || !pixels || width <= 0 || rowBytes < width * 4)
        return;
    width = std::min(width, w->width);
    for (int32_t row = 0; row < w->barHeight; ++row)
        std::memcpy(&w->barPixels[static_cast<size_t>(row) * w->width * 4], pixels + static_cast<ptrdiff_t>(row) * rowBytes,
                    static_cast<size_t>(width) * 4);
    if (g_Backend == Backend::X11)
        platx11::SetMenuBar(w, w->barPixels.data(), w->width, w->width * 4);
}

const uint8_t* PlatGetMenuBarPixels(PlatHWND window, int32_t& width, int32_t& height)
{
    PlatWindow* w = Find(window);
    width = height = 0;
    if (!w || w->barHeight <= 0)
        return nullptr;
    if (g_Backend == Backend::X11 &&
        !platx11::ReadMenuBarPixels(w, w->width, w->barHeight, w->barPixels.data()))
        return nullptr;
    width = w->width;
    height = w->barHeight;
    return w->barPixels.data();
}

intptr_t PlatSendMessage(PlatHWND window, uint32_t message, uintptr_t wParam, intptr_t lParam)
{
    if (window && platlink::IsRemote(window)) {
        platlink::Send(window, message, wParam);
        return 0;
    }
    std::thread::id thread;
    std::unique_lock<std::mutex> lock(g_QueueLock);
    // Looked up under the queue's lock, which a window that goes takes to answer what waits for it.
    if (window && WindowThread(window, &thread, nullptr) && thread != std::this_thread::get_id()) {
        // Runs on the window's thread; meanwhile this thread runs what is sent to its own windows, so that two
        // threads sending to each other do not wait for ever.
        SentMessage m{window, message, wParam, lParam, true, false, thread};
        g_Sent.push_back(&m);
        WakeWaiters();
        while (!m.done) {
            if (SentForMe(false)) {
                lock.unlock();
                DeliverSent(false);
                lock.lock();
                continue;
            }
            g_SentDone.wait_for(lock, std::chrono::milliseconds(20));
        }
        return m.result;
    }
    lock.unlock();
    PlatWindow* w = FindAny(window);
    if (!w || w->destroying)
        return 0;
    return w->procedure(w, message, wParam, lParam);
}

uint32_t PlatMsgWaitForSingleObject(void* object, uint32_t milliseconds)
{
    const uint32_t start = RealNow();
    for (;;) {
        DeliverSent(false);
        if (object) {
            const uint32_t r = PlatWaitForSingleObject(object, 0);
            if (r != PLAT_WAIT_TIMEOUT)
                return r;
        }
        const uint32_t spent = RealNow() - start;
        if (milliseconds != PLAT_INFINITE && spent >= milliseconds)
            return PLAT_WAIT_TIMEOUT;
        uint32_t slice = 10;
        if (milliseconds != PLAT_INFINITE)
            slice = std::min(slice, milliseconds - spent);
        std::unique_lock<std::mutex> lock(g_QueueLock);
        if (!SentForMe(false))
            g_QueueSignal.wait_for(lock, std::chrono::milliseconds(slice));
    }
}

bool PlatPostMessage(PlatHWND window, uint32_t message, uintptr_t wParam, intptr_t lParam)
{
    {
        std::lock_guard<std::mutex> lock(g_QueueLock);
        g_Queue.push_back(PlatMsg{window, message, wParam, lParam});
    }
    WakeWaiters();
    return true;
}

void PlatPostQuitMessage(int code)
{
    (void)code;
    {
        std::lock_guard<std::mutex> lock(g_QueueLock);
        g_QuitPosted = true;
    }
    WakeWaiters();
}

bool PlatGetMessage(PlatMsg& out)
{
    for (;;) {
        DeliverSent(true);
        if (g_Backend == Backend::X11)
            platx11::Pump();
        {
            std::lock_guard<std::mutex> lock(g_QueueLock);
            if (!g_Queue.empty()) {
                out = g_Queue.front();
                g_Queue.pop_front();
                return true;
            }
            if (g_QuitPosted) {
                g_QuitPosted = false;
                out = PlatMsg{nullptr, PLAT_WM_QUIT, 0, 0};
                return false;
            }
        }
        for (PlatWindow* w : g_ZOrder)
            if (w->visible && w->paintPending && !w->destroying) {
                out = PlatMsg{w, PLAT_WM_PAINT, 0, 0};
                return true;
            }
        if (!g_VirtualClock) {
            QueueDueTimers(RealNow());
            std::lock_guard<std::mutex> lock(g_QueueLock);
            if (!g_Queue.empty())
                continue;
        }
        if (g_IdleHook) {
            if (!g_IdleHook(g_IdleContext)) {
                out = PlatMsg{nullptr, PLAT_WM_QUIT, 0, 0};
                return false;
            }
            std::lock_guard<std::mutex> lock(g_QueueLock);
            if (!g_Queue.empty() || g_QuitPosted || g_VirtualClock || SentForMe(true))
                continue;
        }
        if (g_Backend == Backend::X11) {
            {
                std::lock_guard<std::mutex> lock(g_QueueLock);
                if (!g_Queue.empty() || g_QuitPosted || SentForMe(true))
                    continue;
            }
            platx11::Wait(static_cast<int>(NextTimerWait(RealNow(), 1000)));
            continue;
        }
        std::unique_lock<std::mutex> lock(g_QueueLock);
        if (!g_Queue.empty() || g_QuitPosted || SentForMe(true))
            continue;
        if (g_VirtualClock)
            g_QueueSignal.wait(lock);
        else
            g_QueueSignal.wait_for(lock, std::chrono::milliseconds(NextTimerWait(RealNow(), 10)));
    }
}

bool PlatPeekMessage(PlatMsg& out, PlatHWND window, uint32_t first, uint32_t last, bool remove)
{
    std::lock_guard<std::mutex> lock(g_QueueLock);
    for (auto it = g_Queue.begin(); it != g_Queue.end(); ++it) {
        if (window && it->window != window)
            continue;
        if ((first || last) && (it->message < first || it->message > last))
            continue;
        out = *it;
        if (remove)
            g_Queue.erase(it);
        return true;
    }
    return false;
}

intptr_t PlatDispatchMessage(const PlatMsg& message)
{
    return PlatSendMessage(message.window, message.message, message.wParam, message.lParam);
}

void PlatSetIdleHook(PlatIdleHook hook, void* context)
{
    g_IdleHook = hook;
    g_IdleContext = context;
}

bool PlatSetTimer(PlatHWND window, uintptr_t id, uint32_t periodMs)
{
    PlatWindow* w = Find(window);
    if (!w || w->destroying)
        return false;
    periodMs = std::max<uint32_t>(1, periodMs);
    for (PlatWindow::Timer& t : w->timers)
        if (t.id == id) {
            t.period = periodMs;
            t.due = PlatGetTickCount() + periodMs;
            return true;
        }
    w->timers.push_back(PlatWindow::Timer{id, periodMs, PlatGetTickCount() + periodMs});
    return true;
}

bool PlatKillTimer(PlatHWND window, uintptr_t id)
{
    PlatWindow* w = Find(window);
    if (!w)
        return false;
    auto it = std::find_if(w->timers.begin(), w->timers.end(), [id](const PlatWindow::Timer& t) { return t.id == id; });
    if (it == w->timers.end())
        return false;
    w->timers.erase(it);
    std::lock_guard<std::mutex> lock(g_QueueLock);
    g_Queue.erase(std::remove_if(g_Queue.begin(), g_Queue.end(),
                                 [w, id](const PlatMsg& m) {
                                     return m.window == w && m.message == PLAT_WM_TIMER && m.wParam == id;
                                 }),
                  g_Queue.end());
    return true;
}

uint32_t PlatGetTickCount()
{
    return g_VirtualClock ? g_VirtualNow : RealNow();
}

void PlatUseVirtualClock(bool on)
{
    if (on && !g_VirtualClock)
        g_VirtualNow = RealNow();
    g_VirtualClock = on && g_Backend != Backend::X11;
}

void PlatAdvanceClock(uint32_t ms)
{
    if (!g_VirtualClock)
        return;
    g_VirtualNow += ms;
    QueueDueTimers(g_VirtualNow);
}

bool PlatSetClipboardText(const std::u16string& text)
{
    if (g_Backend == Backend::X11)
        return platx11::SetClipboardText(text);
    g_Clipboard = text;
    g_ClipboardHasText = true;
    return true;
}

bool PlatGetClipboardText(std::u16string& out)
{
    if (g_Backend == Backend::X11)
        return platx11::GetClipboardText(out);
    if (!g_ClipboardHasText)
        return false;
    out = g_Clipboard;
    return true;
}

void PlatMessageBox(PlatHWND owner, const std::u16string& text, const std::u16string& caption)
{
    std::fprintf(stderr, "%s: %s\n", PlatWindowUtf8(caption).c_str(), PlatWindowUtf8(text).c_str());
    std::fflush(stderr);
    if (g_Backend == Backend::X11)
        platx11::MessageBox(Find(owner), text, caption);
}

void PlatGetCursorPos(int32_t& x, int32_t& y)
{
    if (g_Backend == Backend::X11) {
        platx11::GetCursorPos(x, y);
        return;
    }
    x = g_CursorX;
    y = g_CursorY;
}

void PlatSetCursorPos(int32_t x, int32_t y)
{
    g_CursorX = x;
    g_CursorY = y;
    if (g_Backend == Backend::X11)
        platx11::SetCursorPos(x, y);
}

PlatHWND PlatSetCapture(PlatHWND window)
{
    PlatWindow* w = Find(window);
    if (!w || w->destroying)
        return nullptr;
    PlatHWND previous = g_Capture;
    g_Capture = w;
    if (g_Backend == Backend::X11)
        platx11::SetCapture(w);
    return previous;
}

bool PlatReleaseCapture()
{
    if (!g_Capture)
        return false;
    g_Capture = nullptr;
    if (g_Backend == Backend::X11)
        platx11::ReleaseCapture();
    return true;
}

PlatHWND PlatGetCapture()
{
    return g_Capture;
}

PlatHWND PlatWindowFromPoint(int32_t x, int32_t y)
{
    if (g_Backend == Backend::X11)
        return platx11::WindowFromPoint(x, y);
    for (PlatWindow* w : g_ZOrder)
        if (w->visible && !w->destroying && x >= w->x && y >= w->y - w->barHeight && x < w->x + w->width &&
            y < w->y + w->height)
            return w;
    return nullptr;
}

bool PlatIsKeyDown(uint32_t virtualKey)
{
    return g_Backend == Backend::X11 && platx11::KeyDown(virtualKey);
}

void PlatBackendConfigured(PlatHWND window, int32_t x, int32_t y, int32_t width, int32_t height)
{
    PlatWindow* w = Find(window);
    if (!w || w->destroying)
        return;
    x = ClampPosition(x);
    y = ClampPosition(y);
    width = std::clamp(width, 1, kMaxSide);
    height = std::clamp(height, 1, kMaxSide);
    uint32_t flags = PLAT_SWP_NOZORDER | PLAT_SWP_NOACTIVATE;
    if (x == w->x && y == w->y)
        flags |= PLAT_SWP_NOMOVE;
    if (width == w->width && height == w->height)
        flags |= PLAT_SWP_NOSIZE;
    if ((flags & PLAT_SWP_NOMOVE) && (flags & PLAT_SWP_NOSIZE))
        return;
    w->x = x;
    w->y = y;
    if (!(flags & PLAT_SWP_NOSIZE)) {
        ResizePixels(w, width, height);
        PlatInvalidateRect(w, nullptr);
    }
    PlatWindowPos pos{w->x, w->y, w->width, w->height, flags};
    w->procedure(w, PLAT_WM_WINDOWPOSCHANGED, 0, reinterpret_cast<intptr_t>(&pos));
}

void PlatBackendFocus(PlatHWND window, bool in)
{
    PlatWindow* w = Find(window);
    if (!w || w->destroying)
        return;
    if (in) {
        Raise(w);
        Activate(w);
    } else if (g_Active == w) {
        g_Active = nullptr;
        w->procedure(w, PLAT_WM_ACTIVATE, 0, 0);
    }
}

bool PlatSetCursor(PlatHWND window, const uint8_t* andMask, const uint8_t* xorMask, int32_t hotX, int32_t hotY)
{
    PlatWindow* w = Find(window);
    if (!w || w->destroying)
        return false;
    w->cursorCustom = andMask && xorMask;
    w->cursorHotX = w->cursorCustom ? hotX : 0;
    w->cursorHotY = w->cursorCustom ? hotY : 0;
    if (g_Backend == Backend::X11)
        platx11::SetCursor(w, w->cursorCustom ? andMask : nullptr, w->cursorCustom ? xorMask : nullptr, hotX, hotY);
    return true;
}

void PlatShowCursor(PlatHWND window, bool show)
{
    PlatWindow* w = Find(window);
    if (!w || w->destroying)
        return;
    w->cursorShown = show;
    if (g_Backend == Backend::X11)
        platx11::ShowCursor(w, show);
}

int PlatGetCursorShape(PlatHWND window, int32_t& hotX, int32_t& hotY)
{
    PlatWindow* w = Find(window);
    hotX = hotY = 0;
    if (!w)
        return 0;
    if (!w->cursorShown)
        return 1;
    if (!w->cursorCustom)
        return 0;
    hotX = w->cursorHotX;
    hotY = w->cursorHotY;
    return 2;
}

PlatHWND PlatFindWindow(const char* className, const std::u16string& title)
{
    if (!className || !*className)
        return nullptr;
    for (PlatWindow* w : g_Windows)
        if (!w->destroying && w->className == className && w->title == title)
            return w;
    return platlink::Connect(className, title);
}

std::string PlatWindowUtf8(const std::u16string& text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t c = text[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000)
            c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
        else if (c >= 0xD800 && c < 0xE000)
            c = 0xFFFD;
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
