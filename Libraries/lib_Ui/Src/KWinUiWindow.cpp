#include "KWinUiWindow.h"

#include <cstring>
#include <new>

#include "KIGenericUiApp.h"
#include "KIGenericUiWindow.h"
#include "KDebug.h"
#include "KIUiPixmap.h"
#include "KPixmapDisplay.h"
#include "KRelayEvent.h"
#include "KUiWindowClass.h"

namespace {

// Program-wide state of the window procedure, touched only on the UI thread.
KWinUiWindow* g_WindowInProcedure = nullptr;
bool g_DeletedDuringMessage = false;

// The hand-over buffer, and the most units it keeps (a longer text is cut there).
constexpr size_t kMaxHandOverUnits = 32768;

KWString& HandOverBuffer()
{
    static KWString buffer;
    return buffer;
}

// The class name every window of the program registers, by which a second instance finds the first.
constexpr const char* kOsWindowClass = "KOsUiWindow";

}  // namespace

void MakeCursorMasks(KPixmap_Display* view, uint8_t andMask[128], uint8_t xorMask[128])
{
    std::memset(andMask, 0xFF, 128);
    std::memset(xorMask, 0, 128);
    const auto* data = static_cast<const uint8_t*>(view->GetData());
    for (int32_t y = 0; y < 16; ++y)
        for (int32_t x = 0; x < 16; ++x) {
            const uint8_t* p = data + static_cast<ptrdiff_t>(y) * view->GetRowBytes() + x * 4;
            const uint8_t bit = static_cast<uint8_t>(0x80 >> (x & 7));
            const int index = y * 4 + x / 8;
            if (p[3] > 128) {
                andMask[index] &= static_cast<uint8_t>(~bit);
                if (p[1] > 128)
                    xorMask[index] |= bit;
            }
        }
}

namespace {

int32_t LowSigned(intptr_t l)
{
    return static_cast<int16_t>(static_cast<uint16_t>(l & 0xFFFF));
}

int32_t HighSigned(intptr_t l)
{
    return static_cast<int16_t>(static_cast<uint16_t>((l >> 16) & 0xFFFF));
}

}  // namespace

KIOsUiWindow* CreateOsUiWindow(KIGenericUiWindow* window)
{
    return new (std::nothrow) KWinUiWindow(window);
}

void DeleteOsUiWindow(KIOsUiWindow*& osWindow)
{
    delete osWindow;
    osWindow = nullptr;
}

KWinUiWindow::KWinUiWindow(KIGenericUiWindow* window)
    : m_pApp(window ? window->GetApp() : nullptr), m_pWindow(window)
{
}

KWinUiWindow::~KWinUiWindow()
{
    if (g_WindowInProcedure == this)
        g_DeletedDuringMessage = true;
    delete m_pMenuBar;
    m_pMenuBar = nullptr;
    while (m_pFirstMenu) {
        KWinUiMenu* next = m_pFirstMenu->GetNext();
        delete m_pFirstMenu;
        m_pFirstMenu = next;
    }
    if (m_Handle && !m_IsDestroyed && PlatIsWindow(m_Handle)) {
        // Detach first: the window's last messages must not reach a half-destroyed object.
        PlatSetWindowUserData(m_Handle, nullptr);
        PlatDestroyWindow(m_Handle);
    }
}

void* KWinUiWindow::GetAttribute(int id)
{
    return id == KOSWIN_ATTR_HANDLE ? static_cast<void*>(&m_Handle) : nullptr;
}

bool KWinUiWindow::SetAttribute(int id, const void* value)
{
    if (id != KOSWIN_ATTR_HANDLE || !value)
        return false;
    m_Handle = *static_cast<PlatHWND const*>(value);
    return true;
}

void KWinUiWindow::Move(int32_t x, int32_t y)
{
    if (m_Handle)
        PlatSetWindowPos(m_Handle, x, y, 0, 0, PLAT_SWP_NOSIZE | PLAT_SWP_NOZORDER | PLAT_SWP_NOACTIVATE);
}

void KWinUiWindow::Resize(int32_t clientWidth, int32_t clientHeight)
{
    if (m_Handle)
        PlatSetWindowPos(m_Handle, 0, 0, clientWidth, clientHeight,
                         PLAT_SWP_NOMOVE | PLAT_SWP_NOZORDER | PLAT_SWP_NOACTIVATE);
}

void KWinUiWindow::Destroy()
{
    if (!m_Handle || m_DestroyCalled)
        return;
    m_DestroyCalled = true;
    PlatDestroyWindow(m_Handle);
}

void KWinUiWindow::Show(bool show, bool center)
{
    if (!m_Handle)
        return;
    if (show) {
        PlatRect own{};
        PlatGetWindowRect(m_Handle, own);
        const int32_t w = own.right - own.left, h = own.bottom - own.top;
        int32_t sw = 0, sh = 0;
        PlatGetScreenSize(sw, sh);
        PlatRect owner{};
        if (center && m_Owner && PlatGetWindowRect(m_Owner, owner)) {
            int32_t x = owner.left + (owner.right - owner.left) / 2 - w / 2;
            int32_t y = owner.top + (owner.bottom - owner.top) / 2 - h / 2;
            if (x + w > sw)
                x = sw - w;
            if (y + h > sh)
                y = sh - h;
            if (x < 0)
                x = 0;
            if (y < 0)
                y = 0;
            PlatSetWindowPos(m_Handle, x, y, 0, 0, PLAT_SWP_NOSIZE);
        } else if (center) {
            PlatSetWindowPos(m_Handle, sw / 2 - w / 2, sh / 2 - h / 2, 0, 0, PLAT_SWP_NOSIZE);
        } else {
            PlatSetWindowPos(m_Handle, 0, 0, 0, 0, PLAT_SWP_NOSIZE | PLAT_SWP_NOMOVE);
        }
        if (!m_Handle)
            return;
        PlatShowWindow(m_Handle, true);
        PlatUpdateWindow(m_Handle);
    } else {
        PlatShowWindow(m_Handle, false);
        if (m_Owner)
            PlatSetActiveWindow(m_Owner);
        PlatUpdateWindow(m_Handle);
    }
}

void KWinUiWindow::Blit(const KRect& destination, const KRect& source, KIUiPixmap* surface)
{
    if (!m_Handle || !surface || destination.Width() != source.Width() || destination.Height() != source.Height())
        return;
    KPixmap_Display* view = surface->GetPixmap();
    if (!view || !view->GetData())
        return;
    // Keep the source inside the surface.
    KRect s = source, d = destination;
    if (s.left < 0) {
        d.left -= s.left;
        s.left = 0;
    }
    if (s.top < 0) {
        d.top -= s.top;
        s.top = 0;
    }
    if (s.right > view->GetWidth())
        s.right = view->GetWidth();
    if (s.bottom > view->GetHeight())
        s.bottom = view->GetHeight();
    if (s.Width() <= 0 || s.Height() <= 0)
        return;
    PlatBlit(m_Handle, d.left, d.top, s.Width(), s.Height(), static_cast<const uint8_t*>(view->GetData()),
             view->GetRowBytes(), s.left, s.top);
}

void KWinUiWindow::Fill(KUiColor color)
{
    if (!m_Handle)
        return;
    KRect* r = m_pWindow->GetRect();
    PlatFillRect(m_Handle, PlatRect{0, 0, r->Width(), r->Height()}, color.r, color.g, color.b);
}

bool KWinUiWindow::Create(KIGenericUiWindow* owner)
{
    if (m_Handle)
        return false;
    PlatWindowDesc desc;
    KWString title;
    m_pWindow->GetTitle(title);
    desc.title = title.Str();
    KRect* r = m_pWindow->GetRect();
    desc.x = r->left;
    desc.y = r->top;
    desc.width = r->Width();
    desc.height = r->Height();
    desc.style = (m_pWindow->IsResizable() ? PLAT_WS_RESIZABLE : 0u) |
                 (m_pWindow->IsToolWindow() ? PLAT_WS_TOOLWINDOW : 0u) |
                 (m_pWindow->IsDraggableByBody() ? PLAT_WS_POPUP : 0u) |
                 (m_pWindow->IsTopMost() ? PLAT_WS_TOPMOST : 0u);
    PlatHWND ownerHandle = nullptr;
    if (owner) {
        if (auto* h = static_cast<PlatHWND*>(owner->GetAttribute(KOSWIN_ATTR_HANDLE)); h && *h) {
            ownerHandle = *h;
            owner->AddOwnedWindow(m_pWindow);
        }
    }
    desc.owner = ownerHandle;
    desc.procedure = &KWinUiWindow::WindowProcedure;
    desc.className = kOsWindowClass;
    desc.userData = this;
    for (KWinUiMenu* m = m_pFirstMenu; m; m = m->GetNext())
        if (m->InBar())
            desc.menuBarHeight = kMenuBarHeight;
    if (desc.menuBarHeight && !m_pMenuBar)
        m_pMenuBar = new KWinUiMenuBar(this);
    m_Owner = ownerHandle;
    m_Handle = PlatCreateWindow(desc);
    if (!m_Handle)
        return false;
    PlatSetWindowPos(m_Handle, 0, 0, r->Width(), r->Height(), PLAT_SWP_NOMOVE | PLAT_SWP_NOZORDER);
    if (m_pMenuBar && m_Handle)
        m_pMenuBar->DrawBar();
    return true;
}

void KWinUiWindow::ShowCursor(bool show)
{
    if (show == m_CursorShown)
        return;
    m_CursorShown = show;
    if (m_Handle)
        PlatShowCursor(m_Handle, show);
}

bool KWinUiWindow::AddMenu(KIGenericUiApp* application, KIGenericUiMenu* menu, KPropTree* node)
{
    if (m_Handle || !menu || !node)
        return false;
    if (m_MenuCount >= kMaxWindowMenus) {
        DebugTrace("window: more than %d menus, the rest are left out\n", static_cast<int>(kMaxWindowMenus));
        return false;
    }
    auto* osMenu = new KWinUiMenu(application, menu, m_MenuCount, this);
    osMenu->Build(node);
    if (!m_pFirstMenu) {
        m_pFirstMenu = osMenu;
    } else {
        KWinUiMenu* last = m_pFirstMenu;
        while (last->GetNext())
            last = last->GetNext();
        last->SetNext(osMenu);
    }
    ++m_MenuCount;
    menu->SetOsMenu(osMenu);
    return true;
}

void KWinUiWindow::MenuChanged(KWinUiMenu* menu)
{
    if (m_pMenuBar && m_Handle)
        m_pMenuBar->MenuChanged(menu);
}

bool KWinUiWindow::priMenuShortcut(uint16_t code)
{
    for (KWinUiMenu* m = m_pFirstMenu; m; m = m->GetNext()) {
        const int32_t entry = m->FindShortcut(code, m_ShiftDown, m_CtrlDown, m_AltDown);
        if (entry >= 0) {
            if (KIGenericUiMenu* g = m->GetGenericMenu())
                g->Select(entry);
            return true;
        }
    }
    return false;
}

void KWinUiWindow::priMenuCommand(uint16_t id)
{
    KWinUiMenu* m = m_pFirstMenu;
    for (int32_t position = id >> 8; m && position > 0; --position)
        m = m->GetNext();
    if (m && m->GetGenericMenu())
        m->GetGenericMenu()->Select(id & 255);
}

void KWinUiWindow::Enable()
{
    if (m_Handle)
        PlatEnableWindow(m_Handle, true);
}

void KWinUiWindow::Disable()
{
    if (m_Handle)
        PlatEnableWindow(m_Handle, false);
}

void KWinUiWindow::GetPlacement(KRect* out)
{
    if (!out)
        return;
    if (m_IsDestroyed || !m_Handle) {
        *out = m_SavedPlacement;
        return;
    }
    PlatRect r{};
    PlatGetWindowRect(m_Handle, r);
    *out = KRect(r.left, r.top, r.right, r.bottom);
}

void KWinUiWindow::PostClose()
{
    if (m_Handle)
        PlatPostMessage(m_Handle, PLAT_WM_CLOSE, 0, 0);
}

void KWinUiWindow::SetActive()
{
    if (m_Handle)
        PlatSetActiveWindow(m_Handle);
}

void KWinUiWindow::SetTitle(const KWString& title)
{
    if (m_Handle)
        PlatSetWindowText(m_Handle, title.Str());
}

bool KWinUiWindow::SetCursorFromPixmap(KIUiPixmap* pixmap, int32_t hotX, int32_t hotY)
{
    if (!pixmap) {
        m_CursorCustom = false;
        if (m_Handle)
            PlatSetCursor(m_Handle, nullptr, nullptr, 0, 0);
        return true;
    }
    KPixmap_Display* view = pixmap->GetPixmap();
    if (pixmap->Width() != 16 || pixmap->Height() != 16 || !view || !view->GetData())
        return false;
    uint8_t andMask[128], xorMask[128];
    MakeCursorMasks(view, andMask, xorMask);
    // The cursor in use is kept: a drag asks for the same one on every mouse move.
    if (m_CursorCustom && m_CursorHotX == hotX && m_CursorHotY == hotY &&
        std::memcmp(andMask, m_CursorAnd, sizeof andMask) == 0 && std::memcmp(xorMask, m_CursorXor, sizeof xorMask) == 0)
        return true;
    if (!m_Handle || !PlatSetCursor(m_Handle, andMask, xorMask, hotX, hotY))
        return false;
    m_CursorCustom = true;
    m_CursorHotX = hotX;
    m_CursorHotY = hotY;
    std::memcpy(m_CursorAnd, andMask, sizeof andMask);
    std::memcpy(m_CursorXor, xorMask, sizeof xorMask);
    return true;
}

intptr_t KWinUiWindow::WindowProcedure(PlatHWND handle, uint32_t message, uintptr_t wParam, intptr_t lParam)
{
    auto* self = static_cast<KWinUiWindow*>(PlatGetWindowUserData(handle));
    const bool outermost = g_WindowInProcedure == nullptr;
    if (outermost)
        g_WindowInProcedure = self;
    if (!self) {
        if (outermost) {
            g_WindowInProcedure = nullptr;
            g_DeletedDuringMessage = false;
        }
        return 0;
    }
    if (!self->m_Handle)
        self->m_Handle = handle;
    intptr_t result = 0;
    try {
        result = self->priHandle(message, wParam, lParam);
        if (!g_DeletedDuringMessage && !self->m_IsDestroyed)
            self->m_pWindow->RedrawIfDirty();
    } catch (...) {
        if (outermost) {
            g_WindowInProcedure = nullptr;
            g_DeletedDuringMessage = false;
        }
        throw;
    }
    if (outermost) {
        g_WindowInProcedure = nullptr;
        g_DeletedDuringMessage = false;
        // Windows closed by this message go now that nothing of theirs is in use.
        DeleteClosedUiWindows();
    }
    return result;
}

intptr_t KWinUiWindow::priHandle(uint32_t message, uintptr_t wParam, intptr_t lParam)
{
    KIGenericUiWindow* w = m_pWindow;
    switch (message) {
    case PLAT_WM_CREATE:
        m_LastTick = PlatGetTickCount();
        m_TimerId = PlatSetTimer(m_Handle, kUiTickTimerId, kUiTickPeriodMs) ? kUiTickTimerId : 0;
        return 0;
    case PLAT_WM_DESTROY: {
        w->BroadcastRelayMessage(KWString(kUiMsgShutdown), nullptr);
        if (g_DeletedDuringMessage)
            return 0;
        w->UiRelayMessage(KWString(kUiMsgShutdown), nullptr);
        if (g_DeletedDuringMessage)
            return 0;
        PlatRect r{};
        PlatGetWindowRect(m_Handle, r);
        m_SavedPlacement = KRect(r.left, r.top, r.right, r.bottom);
        m_IsDestroyed = true;
        if (m_pMenuBar)
            m_pMenuBar->Close();
        if (m_TimerId)
            PlatKillTimer(m_Handle, m_TimerId);
        m_TimerId = 0;
        PlatSetWindowUserData(m_Handle, nullptr);
        if (m_QuitOnDestroy)
            PlatPostQuitMessage(0);
        // The handle dies with the window.
        m_Handle = nullptr;
        m_MouseCaptured = false;
        return 0;
    }
    case PLAT_WM_ACTIVATE:
        if (wParam) {
            m_AltDown = PlatIsKeyDown(PLAT_VK_MENU);
            m_CtrlDown = PlatIsKeyDown(PLAT_VK_CONTROL);
            m_ShiftDown = PlatIsKeyDown(PLAT_VK_SHIFT);
            w->OnActivated();
        } else {
            m_AltDown = m_CtrlDown = m_ShiftDown = false;
            if (m_pMenuBar)
                m_pMenuBar->Close();
            w->OnDeactivated();
        }
        return 0;
    case PLAT_WM_PAINT: {
        PlatRect r{};
        if (PlatBeginPaint(m_Handle, r)) {
            KRect k(r.left, r.top, r.right, r.bottom);
            w->Invalidate(&k);
            w->RedrawIfDirty();
        }
        return 0;
    }
    case PLAT_WM_CLOSE:
        w->OnCloseRequest();
        return 0;
    case PLAT_WM_ERASEBKGND:
        return 1;
    case PLAT_WM_GETMINMAXINFO: {
        auto* info = reinterpret_cast<PlatMinMaxInfo*>(lParam);
        int32_t mw = 0, mh = 0;
        w->GetMinimumSize(&mw, &mh);
        if (info) {
            info->minWidth = mw;
            info->minHeight = mh;
        }
        return 0;
    }
    case PLAT_WM_WINDOWPOSCHANGED: {
        const auto* pos = reinterpret_cast<const PlatWindowPos*>(lParam);
        if (!pos)
            return 0;
        if (m_pMenuBar && (pos->flags & (PLAT_SWP_NOSIZE | PLAT_SWP_NOMOVE)) != (PLAT_SWP_NOSIZE | PLAT_SWP_NOMOVE)) {
            m_pMenuBar->Close();
            if (!(pos->flags & PLAT_SWP_NOSIZE))
                m_pMenuBar->DrawBar();
        }
        if (!(pos->flags & PLAT_SWP_NOSIZE)) {
            int32_t cw = pos->width, ch = pos->height;
            w->OnResized(&cw, &ch);
            if (g_DeletedDuringMessage)
                return 0;
        }
        if (!(pos->flags & PLAT_SWP_NOZORDER)) {
            w->OnZOrderChanged();
            if (g_DeletedDuringMessage)
                return 0;
        }
        if (!(pos->flags & PLAT_SWP_NOMOVE))
            w->OnMoved(pos->x, pos->y);
        return 0;
    }
    case PLAT_WM_KEYDOWN:
        // An open menu takes the keys: Escape closes it.
        if (m_pMenuBar && m_pMenuBar->GetOpenMenu() && wParam != PLAT_VK_SHIFT && wParam != PLAT_VK_CONTROL &&
            wParam != PLAT_VK_MENU) {
            if (wParam == 0x1B) {
                m_pMenuBar->Close();
                m_SwallowEscape = true;
            }
            return 0;
        }
        switch (wParam) {
        case PLAT_VK_SHIFT: m_ShiftDown = true; return 0;
        case PLAT_VK_CONTROL: m_CtrlDown = true; return 0;
        case PLAT_VK_MENU: m_AltDown = true; return 0;
        case PLAT_VK_PRIOR: w->KeyDown(17, m_CtrlDown, m_ShiftDown); return 0;
        case PLAT_VK_NEXT: w->KeyDown(18, m_CtrlDown, m_ShiftDown); return 0;
        case PLAT_VK_END: w->KeyDown(2, m_CtrlDown, m_ShiftDown); return 0;
        case PLAT_VK_HOME: w->KeyDown(20, m_CtrlDown, m_ShiftDown); return 0;
        case PLAT_VK_LEFT: w->KeyDown(146, m_CtrlDown, m_ShiftDown); return 0;
        case PLAT_VK_UP: w->KeyDown(14, m_CtrlDown, m_ShiftDown); return 0;
        case PLAT_VK_RIGHT: w->KeyDown(145, m_CtrlDown, m_ShiftDown); return 0;
        case PLAT_VK_DOWN: w->KeyDown(19, m_CtrlDown, m_ShiftDown); return 0;
        case PLAT_VK_INSERT: w->KeyDown(9, m_CtrlDown, m_ShiftDown); return 0;
        case PLAT_VK_DELETE:
            if (!priMenuShortcut(127) && !g_DeletedDuringMessage)
                w->KeyDown(127, m_CtrlDown, m_ShiftDown);
            return 0;
        default:
            // Other keys are offered to the menu shortcuts, once per press.
            if (!(lParam & (intptr_t(1) << 30)))
                priMenuShortcut(wParam == PLAT_VK_OEM_4   ? uint16_t('[')
                                : wParam == PLAT_VK_OEM_6 ? uint16_t(']')
                                                          : static_cast<uint16_t>(wParam));
            return 0;
        }
    case PLAT_WM_KEYUP:
        if (wParam == PLAT_VK_SHIFT)
            m_ShiftDown = false;
        else if (wParam == PLAT_VK_CONTROL)
            m_CtrlDown = false;
        else if (wParam == PLAT_VK_MENU)
            m_AltDown = false;
        return 0;
    case PLAT_WM_CHAR:
        if (m_SwallowEscape && wParam == 27) {
            m_SwallowEscape = false;
            return 0;
        }
        m_SwallowEscape = false;
        if (m_pMenuBar && m_pMenuBar->GetOpenMenu())
            return 0;
        priChar(static_cast<uint32_t>(wParam));
        return 0;
    case PLAT_WM_NCLBUTTONDOWN:
        if (wParam == PLAT_HTMENU && m_pMenuBar)
            m_pMenuBar->PressOnBar(LowSigned(lParam), HighSigned(lParam));
        return 0;
    case PLAT_WM_COMMAND:
        if (((wParam >> 16) & 0xFFFF) == 0)
            priMenuCommand(static_cast<uint16_t>(wParam & 0xFFFF));
        return 0;
    case PLAT_WM_TIMER:
        if (wParam == m_TimerId && m_TimerId) {
            priTick();
            if (g_DeletedDuringMessage || m_IsDestroyed)
                return 0;
            PlatMsg dropped{};
            while (PlatPeekMessage(dropped, m_Handle, PLAT_WM_TIMER, PLAT_WM_TIMER, true)) {
            }
        }
        return 0;
    case PLAT_WM_LBUTTONDOWN:
    case PLAT_WM_LBUTTONDBLCLK: {
        const int32_t x = LowSigned(lParam), y = HighSigned(lParam);
        // A press beside an open menu only closes it.
        if (m_pMenuBar && m_pMenuBar->GetOpenMenu()) {
            m_pMenuBar->Close();
            return 0;
        }
        if (!m_MouseCaptured) {
            PlatRect r{};
            PlatGetWindowRect(m_Handle, r);
            m_LastScreenX = r.left + x;
            m_LastScreenY = r.top + y;
            const bool handled = w->MouseDown(0, x, y, m_CtrlDown, m_ShiftDown);
            if (g_DeletedDuringMessage)
                return 0;
            if (w->IsDraggableByBody())
                m_DraggingWindow = !handled;
            PlatSetCapture(m_Handle);
            m_MouseCaptured = true;
        }
        if (message == PLAT_WM_LBUTTONDBLCLK)
            w->DoubleClick(0, x, y, m_CtrlDown, m_ShiftDown);
        return 0;
    }
    case PLAT_WM_LBUTTONUP:
        m_DraggingWindow = false;
        if (m_MouseCaptured) {
            PlatReleaseCapture();
            m_MouseCaptured = false;
        }
        w->MouseUp(0, LowSigned(lParam), HighSigned(lParam), m_CtrlDown, m_ShiftDown);
        return 0;
    case PLAT_WM_MOUSEMOVE: {
        const int32_t x = LowSigned(lParam), y = HighSigned(lParam);
        PlatRect r{};
        PlatGetWindowRect(m_Handle, r);
        const int32_t sx = r.left + x, sy = r.top + y;
        if (m_DraggingWindow) {
            if (sx != m_LastScreenX || sy != m_LastScreenY)
                PlatSetWindowPos(m_Handle, r.left + sx - m_LastScreenX, r.top + sy - m_LastScreenY, 0, 0,
                                 PLAT_SWP_NOSIZE | PLAT_SWP_NOZORDER);
        } else {
            w->MouseMove(x, y);
        }
        m_LastScreenX = sx;
        m_LastScreenY = sy;
        return 0;
    }
    case PLAT_WM_RBUTTONDOWN:
    case PLAT_WM_RBUTTONUP:
        return 0;
    case PLAT_WM_MOUSEWHEEL: {
        PlatRect r{};
        PlatGetWindowRect(m_Handle, r);
        const int32_t notches = static_cast<int16_t>(static_cast<uint16_t>((wParam >> 16) & 0xFFFF)) / 120;
        w->MouseWheel(LowSigned(lParam) - r.left, HighSigned(lParam) - r.top, 0, notches);
        return 0;
    }
    case KHANDOVER_START:
        HandOverBuffer() = "";
        return 0;
    case KHANDOVER_UNIT:
        if (HandOverBuffer().GetLength() < kMaxHandOverUnits)
            HandOverBuffer().AppendChar(static_cast<KWChar>(wParam));
        return 0;
    case KHANDOVER_END: {
        // The buffer keeps the closing zero unit as sent; the path ends before it.
        const KWString& buffer = HandOverBuffer();
        size_t length = 0;
        while (length < buffer.GetLength() && buffer[length] != 0)
            ++length;
        KWString path(std::u16string_view(buffer.Str()).substr(0, length));
        w->GetApp()->FireOpenPath(&path);
        return 0;
    }
    case KHANDOVER_SHOW:
        PlatShowWindow(m_Handle, true);
        return 0;
    default:
        return 0;
    }
}

void KWinUiWindow::priTick()
{
    int32_t cx = 0, cy = 0;
    PlatGetCursorPos(cx, cy);
    PlatRect r{};
    PlatGetWindowRect(m_Handle, r);
    if (cx < r.left || cy < r.top || cx >= r.right || cy >= r.bottom) {
        m_pWindow->MouseLeftWindow(cx, cy);
        if (g_DeletedDuringMessage)
            return;
    }
    if (PlatWindowFromPoint(cx, cy) != m_Handle) {
        m_pWindow->MouseLeftWindow(cx, cy);
        if (g_DeletedDuringMessage)
            return;
    }
    const uint32_t now = PlatGetTickCount();
    const uint32_t elapsed = now - m_LastTick;
    m_LastTick = now;
    m_pWindow->Tick(static_cast<double>(elapsed) * 0.001);
}

void KWinUiWindow::priChar(uint32_t c)
{
    KIGenericUiWindow* w = m_pWindow;
    if (c == 27 && m_CtrlDown)
        c = '[';
    else if (c >= 28 && c <= 31)
        c = "\\]^_"[c - 28];
    // Kept below 32: Backspace, Tab, Return, Escape, Ctrl+C, E, V, X and the hidden language chords Ctrl+Shift+F,
    // U and Y.
    if (c < 32 && c != 8 && c != 9 && c != 13 && c != 27 && c != 3 && c != 5 && c != 22 && c != 24 && c != 6 &&
        c != 21 && c != 25)
        return;
    KWString text;
    switch (c) {
    case 3:
        w->Copy(text);
        if (!text.IsEmpty())
            m_pApp->PutClipboardText(text, w);
        else
            w->KeyDown(3, m_CtrlDown, m_ShiftDown);
        return;
    case 24:
        w->Cut(text);
        if (!text.IsEmpty())
            m_pApp->PutClipboardText(text, w);
        else
            w->KeyDown(24, m_CtrlDown, m_ShiftDown);
        return;
    case 22:
        m_pApp->GetClipboardText(text, w);
        if (!text.IsEmpty())
            w->Paste(text);
        else
            w->KeyDown(22, m_CtrlDown, m_ShiftDown);
        return;
    default:
        w->KeyDown(static_cast<int>(c), m_CtrlDown, m_ShiftDown);
    }
}
