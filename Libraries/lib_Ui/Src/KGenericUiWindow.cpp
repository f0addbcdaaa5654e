#include "KGenericUiWindow.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "KDebug.h"
#include "KExceptionUiScript.h"
#include "KGenericUiApp.h"
#include "KIGenericUiApp.h"
#include "KIOsUiWindow.h"
#include "KIUiObject.h"
#include "KPropTree.h"
#include "KTextFunctions.h"
#include "KUiControl.h"
#include "KUiObject.h"
#include "KUiObjectFactory.h"
#include "KGenericUiPixmap.h"
#include "KUiFont.h"
#include "KUiMenu.h"
#include "KUiWindowClass.h"
#include "KWinUiMenu.h"

namespace {

// The largest client width or height a window takes; larger sizes asked by a script are refused, larger sizes
// asked by a resize are cut to it.
constexpr int32_t kMaxClientSide = 8192;
// A script's corner is kept this close to the origin, so that corner plus size never overflows.
constexpr int32_t kMaxPosition = 1 << 24;

void CheckScriptSize(int32_t width, int32_t height)
{
    if (width > kMaxClientSide || height > kMaxClientSide)
        throw KExceptionUiScript(("window size " + std::to_string(width) + " x " + std::to_string(height) +
                                  " is larger than " + std::to_string(kMaxClientSide) + " x " +
                                  std::to_string(kMaxClientSide))
                                     .c_str());
}

const char* const kEventNames[] = {"ON_CREATE",      "ON_SEND_WINDOW", "ON_CLOSE_PRESSED", "ON_BEING_SHOWN",
                                   "ON_BEEN_HIDDEN", "ON_ACTIVATE",    "ON_DEACTIVATE",    "ON_MOVE",
                                   "ON_RESIZE",      "ON_CTRL_I",      "ON_CTRL_E",        "ON_LEFT_ARROW",
                                   "ON_RIGHT_ARROW"};

KRect Intersect(const KRect& a, const KRect& b)
{
    return KRect(std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
                 std::min(a.bottom, b.bottom));
}

// A new surface holding source's pixels, or null.
KIUiPixmap* CopySurface(const KIUiPixmap* source, bool osDrawable)
{
    return source ? CreateUiPixmapFromPixmap(source->GetPixmap(), osDrawable) : nullptr;
}

// Deletes a temporary surface when it goes out of scope.
struct SurfaceHolder {
    KIUiPixmap* surface;
    ~SurfaceHolder() { DeleteUiPixmap(surface); }
};

bool IsEmpty(const KRect& r)
{
    return r.Width() <= 0 || r.Height() <= 0;
}

// Merges r into n when they share both vertical or both horizontal edges and touch or overlap (a one-pixel
// gap counts); true when merged.
bool MergeInto(KRect& n, const KRect& r)
{
    if (r.left == n.left && r.right == n.right && r.top <= n.bottom + 1 && r.bottom >= n.top - 1) {
        n.top = std::min(n.top, r.top);
        n.bottom = std::max(n.bottom, r.bottom);
        return true;
    }
    if (r.top == n.top && r.bottom == n.bottom && r.left <= n.right + 1 && r.right >= n.left - 1) {
        n.left = std::min(n.left, r.left);
        n.right = std::max(n.right, r.right);
        return true;
    }
    return false;
}

}  // namespace

KIGenericUiWindow* CreateGenericUiWindow(KIGenericUiApp* application, KPropTree* node, KUiWindowClass* windowClass,
                                         KIGenericUiWindow* owner)
{
    auto* window = new (std::nothrow) KGenericUiWindow(application, windowClass);
    if (!window)
        throw KExceptionUiScript("new KGenericUiWindow() returned NULL!");
    try {
        window->InitFromNode(node, owner);
    } catch (...) {
        delete window;
        throw;
    }
    return window;
}

void DeleteGenericUiWindow(KIGenericUiWindow*& window)
{
    delete window;
    window = nullptr;
}

KGenericUiWindow::KGenericUiWindow(KIGenericUiApp* application, KUiWindowClass* windowClass)
    : m_pApp(application), m_pClass(windowClass)
{
    RelayEvent* last = nullptr;
    for (const char* name : kEventNames) {
        auto* e = new RelayEvent(KWString(name));
        if (last)
            last->SetNext(e);
        else
            m_pFirstEvent = e;
        last = e;
    }
}

KGenericUiWindow::~KGenericUiWindow()
{
    if (m_pOsWindow)
        m_pOsWindow->Destroy();
    while (m_pFirstMenu) {
        KUiMenu* next = m_pFirstMenu->GetNext();
        delete m_pFirstMenu;
        m_pFirstMenu = next;
    }
    delete m_pOverlay;
    m_pOverlay = nullptr;
    KIUiObject* o = m_pFirstObject;
    m_pFirstObject = nullptr;
    while (o) {
        KIUiObject* next = o->GetNext();
        delete o;
        o = next;
    }
    m_pPopup = m_pFocus = m_pCapture = m_pHover = nullptr;
    m_pPressed[0] = m_pPressed[1] = m_pPressed[2] = nullptr;
    DeleteUiPixmap(m_pBgImage);
    DeleteUiPixmap(m_pBackground);
    DeleteUiPixmap(m_pBackBuffer);
    // The list is taken first: closing an owned instance makes it leave its owner's list.
    std::vector<KIGenericUiWindow*> owned;
    owned.swap(m_OwnedWindows);
    for (KIGenericUiWindow* w : owned) {
        w->SetOwner(nullptr);
        w->CloseIfInstance();
    }
    DeleteOsUiWindow(m_pOsWindow);
    if (m_pClass && m_pOwner)
        m_pOwner->RemoveOwnedWindow(this);
    m_pOwner = nullptr;
    // A modal instance below the top of the modal stack must not stay on it.
    if (auto* app = dynamic_cast<KGenericUiApp*>(m_pApp))
        app->ForgetWindow(this);
    if (m_pApp)
        m_pApp->RemoveLanguageListener(this);
    while (m_pFirstEvent) {
        RelayEvent* next = m_pFirstEvent->GetNext();
        delete m_pFirstEvent;
        m_pFirstEvent = next;
    }
    priClearDirty();
}

RelayEvent* KGenericUiWindow::priEvent(const KWString& name)
{
    for (RelayEvent* e = m_pFirstEvent; e; e = e->GetNext())
        if (e->GetName() == name)
            return e;
    return nullptr;
}

void* KGenericUiWindow::GetAttribute(int id)
{
    return m_pOsWindow ? m_pOsWindow->GetAttribute(id) : nullptr;
}

bool KGenericUiWindow::SetAttribute(int id, const void* value)
{
    return m_pOsWindow && m_pOsWindow->SetAttribute(id, value);
}

bool KGenericUiWindow::BindToScriptNode(KPropTree* node)
{
    KWString appPath;
    m_pApp->GetPath(appPath);
    m_Name = node->GetString(KWString("Name"), KWString(), &m_NameFound);
    m_Path = appPath;
    if (m_NameFound) {
        m_Path += ".";
        m_Path += m_Name;
    }
    return true;
}

bool KGenericUiWindow::PostCreationConnect()
{
    bool ok = true;
    for (RelayEvent* e = m_pFirstEvent; e; e = e->GetNext())
        ok = e->Connect(static_cast<KIGenericUiWindow*>(this)) && ok;
    for (KUiMenu* m = m_pFirstMenu; m; m = m->GetNext())
        m->PostCreationConnect();
    for (KIUiObject* o = m_pFirstObject; o; o = o->GetNext())
        ok = o->PostCreationConnect() && ok;
    return ok;
}

KIUiRelay* KGenericUiWindow::FindObject(const KWString& name)
{
    if (name == m_Name)
        return this;
    KWString head, tail;
    if (!name.Split(KWString("."), head, tail) || head.IsEmpty() || tail.IsEmpty() || head != m_Name)
        return nullptr;
    for (KIUiObject* o = m_pFirstObject; o; o = o->GetNext())
        if (KIUiRelay* r = o->FindObject(tail))
            return r;
    for (KUiMenu* m = m_pFirstMenu; m; m = m->GetNext())
        if (KIUiRelay* r = m->FindObject(tail))
            return r;
    return nullptr;
}

bool KGenericUiWindow::priClose(bool internal)
{
    if (m_MessageOnClose) {
        priEvent(KWString("ON_CLOSE_PRESSED"))->Fire(nullptr);
    } else if (m_HideOnClose) {
        SetVisible(false);
    } else if (!internal) {
        if (m_pOsWindow)
            m_pOsWindow->PostClose();
    } else if (m_pClass) {
        CloseIfInstance();
    } else {
        Destroy();
    }
    return true;
}

bool KGenericUiWindow::UiRelayMessage(const KWString& message, void* data)
{
    if (message == kUiMsgPostCreationInit) {
        priEvent(KWString("ON_CREATE"))->Fire(nullptr);
        priEvent(KWString("ON_SEND_WINDOW"))->Fire(static_cast<KIGenericUiWindow*>(this));
        return true;
    }
    if (message == kUiMsgShutdown) {
        m_pApp->RemoveLanguageListener(this);
        if (m_SaveState)
            priSavePlacement();
        return true;
    }
    if (message == kUiMsgDisableWindowDisplay) {
        m_DisplayDisabled = true;
        return true;
    }
    if (message == kUiMsgEnableWindowDisplay) {
        m_DisplayDisabled = false;
        Invalidate(nullptr);
        Update();
        return true;
    }
    if (message == "Close")
        return priClose(false);
    if (message == "InternalClose")
        return priClose(true);
    if (message == "Show" || message == "Hide") {
        m_Visible = message == "Show";
        SetVisible(m_Visible);
        return true;
    }
    if (message == "ToggleVisibility") {
        m_Visible = !m_Visible;
        SetVisible(m_Visible);
        return true;
    }
    if (!data)
        return false;
    if (message == "SetVisibility") {
        bool v = false;
        if (!UiRelayFlag(data, v))
            return false;
        if (v != m_Visible) {
            m_Visible = v;
            SetVisible(v);
        }
        return true;
    }
    if (message == "Move") {
        const int32_t* xy = UiRelayData<int32_t>(data, 2);
        if (!xy)
            return false;
        if (m_pOsWindow)
            m_pOsWindow->Move(xy[0], xy[1]);
        if (m_SaveState)
            priSavePlacement();
        return true;
    }
    if (message == "Resize") {
        const int32_t* wh = UiRelayData<int32_t>(data, 2);
        if (!wh)
            return false;
        if (m_pOsWindow)
            m_pOsWindow->Resize(wh[0], wh[1]);
        if (m_SaveState)
            priSavePlacement();
        return true;
    }
    if (message == kUiMsgSetLanguage) {
        const KWString* language = UiRelayData<KWString>(data);
        if (!language)
            return false;
        if (m_pTitleString) {
            m_pTitleString->SetLanguage(*language);
            const KWString* text = m_pTitleString->GetCurrentText();
            m_Title = text ? *text : KWString();
            if (m_pOsWindow)
                m_pOsWindow->SetTitle(m_Title + m_TitlePostfix);
        }
        return true;
    }
    if (message == "SetTitlePostfix") {
        const KWString* postfix = UiRelayData<KWString>(data);
        if (!postfix)
            return false;
        m_TitlePostfix = *postfix;
        if (m_pOsWindow)
            m_pOsWindow->SetTitle(m_Title + m_TitlePostfix);
        return true;
    }
    if (message == "EnableWindow") {
        bool enable = false;
        if (!UiRelayFlag(data, enable))
            return false;
        if (enable)
            Enable();
        else
            Disable();
        return true;
    }
    if (message == "EnableWindowsChildren") {
        bool enable = false;
        if (!UiRelayFlag(data, enable))
            return false;
        SetChildrenEnabled(enable);
        return true;
    }
    if (message == "DisableWindowsChildren") {
        bool disable = false;
        if (!UiRelayFlag(data, disable))
            return false;
        SetChildrenEnabled(!disable);
        return true;
    }
    return false;
}

void KGenericUiWindow::AddOwnedWindow(KIGenericUiWindow* window)
{
    if (!window)
        return;
    m_OwnedWindows.push_back(window);
    window->SetOwner(this);
}

void KGenericUiWindow::RemoveOwnedWindow(KIGenericUiWindow* window)
{
    auto it = std::find(m_OwnedWindows.begin(), m_OwnedWindows.end(), window);
    if (it != m_OwnedWindows.end())
        m_OwnedWindows.erase(it);
}

KIUiObjectFactory* KGenericUiWindow::GetFactory()
{
    return m_pApp->GetFactory();
}

bool KGenericUiWindow::InitFromNode(KPropTree* node, KIGenericUiWindow* owner)
{
    if (!node || (node->GetName() != "WINDOW" && node->GetName() != "WINDOWCLASS"))
        throw KExceptionUiScript("failed trying to initalize a window with a non-window tag!");
    if (!BindToScriptNode(node))
        return false;
    KWString language;
    m_pApp->AddLanguageListener(this, language);
    m_Modal = node->GetBool(KWString("_Modal"), false);
    m_CenterOnParent = node->GetBool(KWString("_CenterOnParent"), false);
    m_Cascade = node->GetBool(KWString("_Cascade"), false);
    m_YellowRects = node->GetBool(KWString("_YellowRects"), false);
    m_ParentName = node->GetString(KWString("_Parent"), KWString(), &m_ParentGiven);
    m_pTitleString = m_pApp->FindDisplayString(node->GetString(KWString("DisplayString"), KWString()));
    if (m_pTitleString) {
        m_pTitleString->SetLanguage(language);
        const KWString* text = m_pTitleString->GetCurrentText();
        m_Title = text ? *text : KWString();
    } else {
        m_Title = node->GetString(KWString("WindowTitle"), KWString("Window"));
    }
    const int32_t x = std::clamp(node->GetInt(KWString("X"), 0), -kMaxPosition, kMaxPosition);
    const int32_t y = std::clamp(node->GetInt(KWString("Y"), 0), -kMaxPosition, kMaxPosition);
    m_WindowRect = KRect(x, y, x, y);
    m_Visible = node->GetBool(KWString("_Visible"), true);
    m_ToolWindow = node->GetBool(KWString("_ToolWindow"), false);
    m_HasGrowIcon = node->GetBool(KWString("_HasGrowIcon"), false);
    m_HideOnClose = node->GetBool(KWString("_HideOnClose"), false);
    m_MessageOnClose = node->GetBool(KWString("_MessageOnClose"), false);
    m_TopMost = node->GetBool(KWString("_TopMost"), false);
    KColorRGBA c{};
    node->GetColor(c, KWString("_DisabledColor"), KColorRGBA{0, 0, 0, 128});
    m_DisabledColor = KUiColor(c);
    m_DrawDisabledColor = node->GetBool(KWString("_DrawDisabledColor"), false);
    m_DraggableByBody = node->GetBool(KWString("_BagTheTitleBar"), false);
    const bool quitOnDestroy = node->GetBool(KWString("_QuitOnDestroy"), true);

    bool bgImageGiven = false, bgColorGiven = false;
    const KWString bgImage = node->GetString(KWString("BgImage"), KWString(), &bgImageGiven);
    node->GetColor(c, KWString("BgColor"), KColorRGBA{198, 100, 88, 255}, &bgColorGiven);
    if (bgImageGiven && !bgImage.IsEmpty()) {
        m_pBgImage = m_pApp->LoadPng(bgImage);
        if (!m_pBgImage)
            throw KExceptionUiScript(("failed to load BgImage '" + WideToUtf8(bgImage) + "'").c_str());
        m_pBackBuffer = CopySurface(m_pBgImage, true);
        m_BgX0 = node->GetInt(KWString("BgX0"), -1);
        m_BgX1 = node->GetInt(KWString("BgX1"), -1);
        m_BgY0 = node->GetInt(KWString("BgY0"), -1);
        m_BgY1 = node->GetInt(KWString("BgY1"), -1);
        m_Resizable = node->GetBool(KWString("_Resizable"), true);
        m_HasBgImage = true;
    } else if (bgColorGiven) {
        m_BgColor = KUiColor(c);
        node->GetColor(c, KWString("FrameColor"), KColorRGBA{0, 0, 0, 255});
        m_FrameColor = KUiColor(c);
        m_FrameThickness = node->GetInt(KWString("FrameThickness"), -1);
        m_Resizable = node->GetBool(KWString("_Resizable"), true);
    } else {
        m_DefaultLook = true;
        m_Resizable = false;
        const int32_t w = std::max(1, node->GetInt(KWString("Width"), 200));
        const int32_t h = std::max(1, node->GetInt(KWString("Height"), 100));
        CheckScriptSize(w, h);
        m_WindowRect = KRect(x, y, x + w, y + h);
        m_pBackground = CreateUiPixmap(w, h, false);
        if (KIUiPixmap* bg = m_pBackground) {
            bg->FillRect(KRect(0, 0, w, h), KUiColor(0, 0, 0, 255));
            bg->FillRect(KRect(1, 1, w - 1, h - 1), KUiColor(140, 140, 140, 255));
            bg->FillRect(KRect(2, 2, w - 2, h - 2), KUiColor(210, 210, 210, 255));
            bg->FillRect(KRect(3, 3, w - 3, h - 3), KUiColor(245, 245, 245, 255));
            const KWString text = node->GetString(KWString("Text"), KWString());
            if (!text.IsEmpty()) {
                // A caption whose text surface cannot be made is left out.
                SurfaceHolder caption{CreateTextUiPixmap(text, node->GetString(KWString("Font"), KWString("Courier")),
                                                         node->GetInt(KWString("FontHeight"), 14), false, false,
                                                         false, KUiColor(0, 0, 0, 255), nullptr, false)};
                if (caption.surface) {
                    KRect cb;
                    caption.surface->GetBounds(cb);
                    caption.surface->BlendTo(bg, KRect(20, 20, 20 + cb.Width(), 20 + cb.Height()), cb);
                }
            }
        }
        m_pBackBuffer = CopySurface(m_pBackground, true);
    }

    KPropTree* menu = nullptr;
    KIUiObject* last = nullptr;
    for (KPropTree* child = node->GetFirstChild(); child; child = child->GetNextSibling()) {
        const KWString& tag = child->GetName();
        if (RelayEvent* e = priEvent(tag)) {
            e->AddRelay(child);
            continue;
        }
        if (tag == "MENU") {
            menu = child;
            continue;
        }
        const bool overlay = tag == "FILMSTRIP";
        if (overlay && m_pOverlay)
            continue;
        KIUiObject* o = m_pApp->GetFactory()->Create(&tag);
        if (!o)
            continue;
        if (!InitChildObject(o, m_pApp, this, nullptr, child))
            continue;
        if (overlay) {
            m_pOverlay = o;
            continue;
        }
        if (last) {
            last->SetNext(o);
            o->SetPrevious(last);
        } else {
            m_pFirstObject = o;
        }
        last = o;
    }

    if (!m_DefaultLook) {
        int32_t w = 200, h = 100;
        if (m_pFirstObject) {
            GetMinimumSize(&w, &h);
            CheckScriptSize(w, h);
            m_pFirstObject->SetRect(0, 0, w, h);
        }
        priSetClientSize(w, h);
        priCentreOverlay(w, h);
    }

    m_pOsWindow = CreateOsUiWindow(this);
    if (!m_pOsWindow)
        return false;
    if (!quitOnDestroy)
        m_pOsWindow->KeepRunningOnDestroy();
    if (menu)
        priAddMenus(menu);
    KIGenericUiWindow* o = owner;
    if (!o && m_ParentGiven)
        o = m_pApp->FindWindow(m_ParentName);
    m_pOsWindow->Create(o);

    m_SaveState = node->GetBool(KWString("_SaveState"), false);
    if (m_SaveState)
        priRestorePlacement();
    Invalidate(nullptr);
    SetVisible(m_Visible);
    return true;
}

void KGenericUiWindow::priAddMenus(KPropTree* menuNode)
{
    KUiMenu* last = nullptr;
    int32_t count = 0;
    for (KPropTree* child = menuNode->GetFirstChild(); child; child = child->GetNextSibling()) {
        if (count >= kMaxWindowMenus) {
            DebugTrace("window %s: more than %d menus, the rest are left out\n", WideToUtf8(m_Path).c_str(),
                       static_cast<int>(kMaxWindowMenus));
            break;
        }
        auto* m = new KUiMenu(m_pApp, this);
        if (last)
            last->SetNext(m);
        else
            m_pFirstMenu = m;
        last = m;
        ++count;
        m->InitFromNode(child);
        m_pOsWindow->AddMenu(m_pApp, m, child);
    }
}

void KGenericUiWindow::priSavePlacement()
{
    KPropTree* data = m_pApp->GetPersistentData(m_Path);
    if (!data || !m_pOsWindow)
        return;
    KRect r;
    m_pOsWindow->GetPlacement(&r);
    data->SetInt(KWString("X"), r.left);
    data->SetInt(KWString("Y"), r.top);
    data->SetInt(KWString("Dx"), r.Width());
    data->SetInt(KWString("Dy"), r.Height());
}

void KGenericUiWindow::priRestorePlacement()
{
    KPropTree* data = m_pApp->GetPersistentData(m_Path);
    if (!data || !m_pOsWindow)
        return;
    bool hasX = false, hasY = false;
    int32_t x = data->GetInt(KWString("X"), 40, &hasX);
    int32_t y = data->GetInt(KWString("Y"), 40, &hasY);
    // A cascading instance follows the class's front window.
    KIGenericUiWindow* front = (m_Cascade && m_pClass) ? m_pClass->GetFrontWindow() : nullptr;
    KRect frontRect;
    if (front)
        front->GetWindowRect(frontRect);
    if (hasX && hasY) {
        if (front) {
            x = frontRect.left + 15;
            y = frontRect.top + 15;
        }
        m_pOsWindow->Move(std::max(1, x), std::max(1, y));
    }
    bool hasW = false, hasH = false;
    int32_t w = data->GetInt(KWString("Dx"), 0, &hasW);
    int32_t h = data->GetInt(KWString("Dy"), 0, &hasH);
    if (hasW && hasH && m_Resizable) {
        if (front) {
            w = frontRect.Width();
            h = frontRect.Height();
        }
        if (w < 10)
            w = 200;
        if (h < 10)
            h = 100;
        m_pOsWindow->Resize(w, h);
    }
}

void KGenericUiWindow::KeepRunningOnDestroy()
{
    if (m_pOsWindow)
        m_pOsWindow->KeepRunningOnDestroy();
}

void KGenericUiWindow::priAddDirty(const KRect& r)
{
    if (!m_pDirtyHead) {
        m_pDirtyHead = m_pDirtyTail = new DirtyNode{r, nullptr};
        return;
    }
    bool merged = false;
    for (DirtyNode* n = m_pDirtyHead; n && !merged; n = n->next)
        merged = MergeInto(n->rect, r);
    if (!merged) {
        m_pDirtyTail->next = new DirtyNode{r, nullptr};
        m_pDirtyTail = m_pDirtyTail->next;
    }
    DirtyNode* second = m_pDirtyHead->next;
    if (second && MergeInto(m_pDirtyHead->rect, second->rect)) {
        m_pDirtyHead->next = second->next;
        if (m_pDirtyTail == second)
            m_pDirtyTail = m_pDirtyHead;
        delete second;
    }
}

void KGenericUiWindow::priClearDirty()
{
    while (m_pDirtyHead) {
        DirtyNode* next = m_pDirtyHead->next;
        delete m_pDirtyHead;
        m_pDirtyHead = next;
    }
    m_pDirtyTail = nullptr;
}

std::vector<KRect> KGenericUiWindow::GetDirtyRects() const
{
    std::vector<KRect> out;
    for (DirtyNode* n = m_pDirtyHead; n; n = n->next)
        out.push_back(n->rect);
    return out;
}

void KGenericUiWindow::Invalidate(const KRect* rect)
{
    if (!rect) {
        KRect b(0, 0, m_WindowRect.Width(), m_WindowRect.Height());
        if (m_pBackBuffer)
            m_pBackBuffer->GetBounds(b);
        priAddDirty(b);
        m_RedrawPending = true;
        return;
    }
    for (DirtyNode* n = m_pDirtyHead; n; n = n->next)
        if (n->rect == *rect)
            return;
    priAddDirty(*rect);
    m_RedrawPending = true;
}

void KGenericUiWindow::InvalidateAndUpdate(const KRect* rect)
{
    Invalidate(rect);
    RedrawIfDirty();
}

void KGenericUiWindow::RedrawIfDirty()
{
    if (m_RedrawPending) {
        Redraw();
        // The display may be held: the list stays and so does the pending redraw.
        if (!m_DisplayDisabled)
            m_RedrawPending = false;
    }
}

void KGenericUiWindow::priDrawObjects(KIUiPixmap* target, const KRect& clip)
{
    for (KIUiObject* o = m_pFirstObject; o; o = o->GetNext()) {
        KRect c = Intersect(*o->GetRect(), clip);
        if (!IsEmpty(c))
            o->Draw(target, 0, 0, c);
    }
    if (m_pPopup) {
        KRect c = Intersect(*m_pPopup->GetRect(), clip);
        if (!IsEmpty(c))
            m_pPopup->Draw(target, 0, 0, c);
    }
}

void KGenericUiWindow::Redraw()
{
    if (m_DisplayDisabled)
        return;
    if (!m_pBackBuffer) {
        if (m_pOsWindow)
            m_pOsWindow->Fill(m_BgColor);
        return;
    }
    KRect bounds;
    m_pBackBuffer->GetBounds(bounds);
    if (!m_pDirtyHead) {
        if (m_RedrawPending) {
            if (m_pBackground)
                m_pBackground->CopyTo(m_pBackBuffer, bounds, bounds);
            priDrawObjects(m_pBackBuffer, bounds);
            m_RedrawPending = false;
        }
        priPresent(bounds);
        return;
    }
    for (DirtyNode* n = m_pDirtyHead; n; n = n->next) {
        KRect c = Intersect(n->rect, bounds);
        if (IsEmpty(c) || !m_RedrawPending)
            continue;
        if (m_pBackground)
            m_pBackground->CopyTo(m_pBackBuffer, c, c);
        priDrawObjects(m_pBackBuffer, c);
    }
    for (DirtyNode* n = m_pDirtyHead; n; n = n->next) {
        KRect c = Intersect(n->rect, bounds);
        if (!IsEmpty(c))
            priPresent(c);
    }
    priClearDirty();
    m_RedrawPending = false;
}

void KGenericUiWindow::priPresent(const KRect& c)
{
    if (m_ChildrenEnabled || !m_DrawDisabledColor) {
        BlitToScreen(c, c, m_pBackBuffer);
        return;
    }
    SurfaceHolder temp{CreateUiPixmap(c.Width(), c.Height(), true)};
    if (!temp.surface)
        return;
    KRect tb;
    temp.surface->GetBounds(tb);
    m_pBackBuffer->CopyTo(temp.surface, tb, c);
    temp.surface->BlendRect(tb, m_DisabledColor);
    if (m_pOverlay)
        m_pOverlay->Draw(temp.surface, -c.left, -c.top, tb);
    BlitToScreen(c, tb, temp.surface);
}

void KGenericUiWindow::BlitToScreen(const KRect& destination, const KRect& source, KIUiPixmap* surface)
{
    if (IsEmpty(destination) || IsEmpty(source) || !m_pOsWindow)
        return;
    if (m_YellowRects) {
        SurfaceHolder yellow{CreateUiPixmap(source.Width(), source.Height(), true)};
        if (yellow.surface) {
            yellow.surface->FillRGBA(255, 255, 0, 255);
            KRect yb;
            yellow.surface->GetBounds(yb);
            m_pOsWindow->Blit(destination, yb, yellow.surface);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
    m_pOsWindow->Blit(destination, source, surface);
    if (m_YellowRects)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
}

void KGenericUiWindow::priSetClientSize(int32_t width, int32_t height)
{
    width = std::clamp(width, 1, kMaxClientSide);
    height = std::clamp(height, 1, kMaxClientSide);
    m_WindowRect.right = m_WindowRect.left + width;
    m_WindowRect.bottom = m_WindowRect.top + height;
    DeleteUiPixmap(m_pBackground);
    KIUiPixmap* bg = CreateUiPixmap(width, height, false);
    if (bg && m_HasBgImage && m_pBgImage) {
        m_pBgImage->DrawNinePatch(bg, m_BgX0, m_BgY0, m_BgX1, m_BgY1, true);
    } else if (bg && !m_DefaultLook) {
        bg->FillRect(KRect(0, 0, width, height), m_FrameColor);
        const int32_t t = m_FrameThickness;
        bg->FillRect(KRect(t, t, width - t, height - t), m_BgColor);
    }
    m_pBackground = bg;
    DeleteUiPixmap(m_pBackBuffer);
    m_pBackBuffer = CopySurface(bg, true);
    Invalidate(nullptr);
}

void KGenericUiWindow::GetMinimumSize(int32_t* width, int32_t* height)
{
    int32_t w = 20, h = 20;
    if (m_pFirstObject) {
        w = m_pFirstObject->GetLayout(true)->GetMinimumSize();
        h = m_pFirstObject->GetLayout(false)->GetMinimumSize();
    }
    if (width)
        *width = w;
    if (height)
        *height = h;
}

void KGenericUiWindow::priCentreOverlay(int32_t width, int32_t height)
{
    if (!m_pOverlay)
        return;
    const KRect r = *m_pOverlay->GetRect();
    m_pOverlay->SetRect(width / 2 - r.Width() / 2, height / 2 - r.Height() / 2, r.Width(), r.Height());
}

bool KGenericUiWindow::priApplyClientSize(int32_t* width, int32_t* height)
{
    if (*width == m_WindowRect.Width() && *height == m_WindowRect.Height()) {
        if (m_pFirstObject)
            m_pFirstObject->SetRect(0, 0, *width, *height);
        priCentreOverlay(*width, *height);
        Invalidate(nullptr);
        return true;
    }
    int32_t mw = 0, mh = 0;
    GetMinimumSize(&mw, &mh);
    // Never below one pixel, whatever the objects ask for.
    *width = std::min(std::max({*width, mw, 1}), kMaxClientSide);
    *height = std::min(std::max({*height, mh, 1}), kMaxClientSide);
    if (m_pFirstObject && !m_pFirstObject->SetRect(0, 0, *width, *height))
        return false;
    priCentreOverlay(*width, *height);
    priSetClientSize(*width, *height);
    Invalidate(nullptr);
    return true;
}

bool KGenericUiWindow::OnResized(int32_t* width, int32_t* height)
{
    if (!priApplyClientSize(width, height))
        return false;
    int32_t wh[2] = {*width, *height};
    priEvent(KWString("ON_RESIZE"))->Fire(wh);
    return true;
}

void KGenericUiWindow::LayoutRoot()
{
    if (!m_pFirstObject)
        return;
    m_pFirstObject->SetRect(0, 0, m_WindowRect.Width(), m_WindowRect.Height());
    Invalidate(nullptr);
    priCentreOverlay(m_WindowRect.Width(), m_WindowRect.Height());
}

void KGenericUiWindow::ShrinkBy(int32_t dx, int32_t dy)
{
    if (!m_pFirstObject)
        return;
    int32_t w = m_WindowRect.Width() - dx, h = m_WindowRect.Height() - dy;
    m_pFirstObject->Relayout();
    int32_t mw = 0, mh = 0;
    GetMinimumSize(&mw, &mh);
    w = std::max(w, mw);
    h = std::max(h, mh);
    priApplyClientSize(&w, &h);
    if (m_pOsWindow)
        m_pOsWindow->Resize(w, h);
    priCentreOverlay(m_WindowRect.Width(), m_WindowRect.Height());
}

void KGenericUiWindow::SetVisible(bool show)
{
    if (m_Modal)
        m_pApp->SetModalWindow(show ? this : nullptr);
    m_Visible = show;
    if (show)
        priEvent(KWString("ON_BEING_SHOWN"))->Fire(nullptr);
    if (m_pOsWindow)
        m_pOsWindow->Show(show && !m_DisplaySuppressed, m_CenterOnParent);
    if (!m_Visible)
        priEvent(KWString("ON_BEEN_HIDDEN"))->Fire(nullptr);
}

void KGenericUiWindow::Move(int32_t x, int32_t y)
{
    DebugTrace("Window moved to %i %i\n", x, y);
    if (m_pOsWindow)
        m_pOsWindow->Move(x, y);
}

void KGenericUiWindow::Destroy()
{
    if (m_Modal)
        m_pApp->SetModalWindow(nullptr);
    if (m_pOsWindow)
        m_pOsWindow->Destroy();
}

void KGenericUiWindow::CloseIfInstance()
{
    // Window classes own their instances; a window of a "WINDOW" element is not one.
    if (!m_pClass)
        return;
    if (m_Modal)
        m_pApp->SetModalWindow(nullptr);
    m_pClass->CloseWindow(this);
}




void KGenericUiWindow::ShowCursor(bool show)
{
    if (m_pOsWindow)
        m_pOsWindow->ShowCursor(show);
}

void KGenericUiWindow::Enable()
{
    if (m_pOsWindow)
        m_pOsWindow->Enable();
    if (m_DrawDisabledColor && m_pBackBuffer) {
        KRect b;
        m_pBackBuffer->GetBounds(b);
        if (m_ChildrenEnabled) {
            BlitToScreen(b, b, m_pBackBuffer);
        } else {
            SurfaceHolder temp{CopySurface(m_pBackBuffer, true)};
            if (temp.surface) {
                temp.surface->BlendRect(b, m_DisabledColor);
                BlitToScreen(b, b, temp.surface);
            }
        }
    }
}

void KGenericUiWindow::Disable()
{
    if (m_pOsWindow)
        m_pOsWindow->Disable();
    if (m_DrawDisabledColor && !m_ChildrenEnabled && m_pBackBuffer) {
        KRect b;
        m_pBackBuffer->GetBounds(b);
        SurfaceHolder temp{CopySurface(m_pBackBuffer, true)};
        if (temp.surface) {
            temp.surface->BlendRect(b, m_DisabledColor);
            BlitToScreen(b, b, temp.surface);
        }
    }
}

void KGenericUiWindow::SetChildrenEnabled(bool enabled)
{
    if (enabled == m_ChildrenEnabled)
        return;
    m_ChildrenEnabled = enabled;
    if (!enabled) {
        if (m_pOverlay)
            m_pOverlay->UiRelayMessage(KWString("Play"), nullptr);
        m_pHover = nullptr;
        for (int i = 0; i < 2; ++i)
            if (KIUiObject* pressed = m_pPressed[i]) {
                m_pPressed[i] = nullptr;
                pressed->MouseUp(0, 0, false, false);
            }
        priEndDrag();
        if (KIUiObject* popup = m_pPopup) {
            m_pPopup = nullptr;
            popup->PopupClosed();
        }
    }
    InvalidateAndUpdate(nullptr);
}

int32_t KGenericUiWindow::BroadcastRelayMessage(const KWString& message, void* data)
{
    int32_t count = 0;
    for (KIUiObject* o = m_pFirstObject; o; o = NextUiObjectPreOrder(o)) {
        o->UiRelayMessage(message, data);
        ++count;
    }
    return count;
}

void KGenericUiWindow::SuppressDisplay()
{
    m_DisplaySuppressed = true;
    SetVisible(m_Visible);
}

void KGenericUiWindow::ResumeDisplay()
{
    m_DisplaySuppressed = false;
    SetVisible(m_Visible);
}

void KGenericUiWindow::Activate()
{
    if (m_pOsWindow)
        m_pOsWindow->SetActive();
}

void KGenericUiWindow::GetWindowRect(KRect& out)
{
    if (m_pOsWindow)
        m_pOsWindow->GetPlacement(&m_WindowRect);
    out = m_WindowRect;
}

void KGenericUiWindow::SetCursor(KIUiPixmap* pixmap, int32_t hotX, int32_t hotY)
{
    if (m_pOsWindow)
        m_pOsWindow->SetCursorFromPixmap(pixmap, hotX, hotY);
}

void KGenericUiWindow::Tick(double seconds)
{
    const auto ms = static_cast<int32_t>(seconds * 1000.0);
    if (m_MainWindow)
        m_pApp->TickObjects(ms);
    for (KIUiObject* o = m_pFirstObject; o; o = o->GetNext())
        o->Tick(ms);
    if (!m_ChildrenEnabled && m_pOverlay)
        m_pOverlay->Tick(ms);
}

// Input routing: hover, capture, the pressed objects, focus, popup, drag and drop, and the window's own keys.

namespace {

// The program-wide position in the language list of the hidden language mode.
unsigned g_LanguageCycle = 0;

// The chords of the hidden language mode: Ctrl+Shift+F, U and Y.
constexpr int kChordF = 6, kChordU = 21, kChordY = 25;

}  // namespace

KIUiObject* KGenericUiWindow::priTopLevelHit(int32_t x, int32_t y)
{
    for (KIUiObject* o = m_pFirstObject; o; o = o->GetNext())
        if (KIUiObject* h = o->HitTest(x, y))
            return h;
    return nullptr;
}

void KGenericUiWindow::priSetHover(KIUiObject* h, int32_t x, int32_t y)
{
    m_pHover = h;
    h->MouseEnter(x, y);
}

bool KGenericUiWindow::priUpdateDragCursor(KIUiObject* h, int32_t x, int32_t y)
{
    int32_t hx = 0, hy = 0;
    if (!m_pApp->GetDragCursorNo(&hx, &hy) || !m_pPressed[0] || !m_Dragging || !h)
        return false;
    if (h->CanAcceptDrop(x, y)) {
        KIUiPixmap* yes = m_pApp->GetDragCursorYes(&hx, &hy);
        SetCursor(yes, hx, hy);
        return true;
    }
    KIUiPixmap* no = m_pApp->GetDragCursorNo(&hx, &hy);
    SetCursor(no, hx, hy);
    return false;
}

void KGenericUiWindow::priEndDrag()
{
    if (m_Dragging)
        SetCursor(nullptr, 0, 0);
    m_Dragging = false;
    m_DragArmed = false;
}

void KGenericUiWindow::MouseMove(int32_t x, int32_t y)
{
    if (!m_ChildrenEnabled)
        return;
    if (m_DragArmed && !m_Dragging && (std::abs(x - m_DragStartX) > 3 || std::abs(y - m_DragStartY) > 3)) {
        m_Dragging = true;
        m_DragStartX = x;
        m_DragStartY = y;
        int32_t hx = 0, hy = 0;
        KIUiPixmap* no = m_pApp->GetDragCursorNo(&hx, &hy);
        SetCursor(no, hx, hy);
    }
    if (m_CursorResetPending) {
        SetCursor(nullptr, 0, 0);
        m_CursorResetPending = false;
    }
    if (m_pCapture)
        m_pCapture->MouseMove(x, y);
    if (m_pPopup) {
        if (KIUiObject* h = m_pPopup->HitTest(x, y)) {
            if (h == m_pHover)
                return;
            if (m_pHover)
                m_pHover->MouseLeave(x, y);
            priSetHover(h, x, y);
            priUpdateDragCursor(h, x, y);
            return;
        }
    }
    if (m_pHover) {
        if (m_pHover->HitTest(x, y) == m_pHover)
            return;
        KIUiObject* old = m_pHover;
        m_pHover = nullptr;
        old->MouseLeave(x, y);
    }
    if (m_pPressed[0]) {
        if (KIUiObject* h = m_pPressed[0]->HitTest(x, y)) {
            priSetHover(h, x, y);
            priUpdateDragCursor(h, x, y);
            return;
        }
        // No hover while the button is held elsewhere; the cursor still tells whether a drop is taken.
        priUpdateDragCursor(priTopLevelHit(x, y), x, y);
        return;
    }
    if (KIUiObject* h = priTopLevelHit(x, y))
        priSetHover(h, x, y);
}

bool KGenericUiWindow::MouseDown(int button, int32_t x, int32_t y, bool ctrl, bool shift)
{
    if (button < 0 || button > 2)
        return false;
    MouseMove(x, y);
    if (m_pPopup && !m_pPopup->HitTest(x, y)) {
        KIUiObject* popup = m_pPopup;
        Invalidate(popup->GetRect());
        m_pPopup = nullptr;
        popup->PopupClosed();
    }
    if (!m_pHover)
        return false;
    m_pPressed[button] = m_pHover;
    if (button != 0)
        return false;
    int32_t hx = 0, hy = 0;
    if (m_pApp->GetDragCursorNo(&hx, &hy)) {
        m_DragPayload = "";
        m_DragArmed = m_pPressed[0]->BeginDrag(x, y, ctrl, shift, m_DragPayload);
        if (m_DragArmed) {
            m_Dragging = false;
            m_DragStartX = x;
            m_DragStartY = y;
        }
    }
    return m_pPressed[0]->MouseDown(x, y, ctrl, shift);
}

void KGenericUiWindow::MouseUp(int button, int32_t x, int32_t y, bool ctrl, bool shift)
{
    if (button < 0 || button > 2)
        return;
    if (m_Dragging) {
        KIUiObject* h = priTopLevelHit(x, y);
        if (priUpdateDragCursor(h, x, y)) {
            // The payload is the drop's to read while it runs; a copy stays valid whatever it does.
            const KWString payload = m_DragPayload;
            h->Drop(x, y, ctrl, shift, payload);
        }
        SetCursor(nullptr, 0, 0);
        m_DragArmed = false;
        m_Dragging = false;
    } else {
        m_DragArmed = false;
    }
    if (KIUiObject* pressed = m_pPressed[button]) {
        m_pPressed[button] = nullptr;
        if (button == 0)
            pressed->MouseUp(x, y, ctrl, shift);
    }
    MouseMove(x, y);
}

bool KGenericUiWindow::DoubleClick(int button, int32_t x, int32_t y, bool ctrl, bool shift)
{
    if (button < 0 || button > 2)
        return false;
    if (m_Dragging) {
        SetCursor(nullptr, 0, 0);
        m_Dragging = false;
    }
    MouseMove(x, y);
    if (!m_pHover)
        return false;
    m_pPressed[button] = m_pHover;
    if (button == 0)
        m_pHover->DoubleClick(x, y, ctrl, shift);
    return true;
}

void KGenericUiWindow::MouseWheel(int32_t x, int32_t y, int32_t a, int32_t b)
{
    MouseMove(x, y);
    if (m_pCapture)
        m_pCapture->MouseWheel(x, y, a, b);
    else if (m_pHover)
        m_pHover->MouseWheel(x, y, a, b);
}

void KGenericUiWindow::MouseLeftWindow(int32_t x, int32_t y)
{
    m_CursorResetPending = true;
    if (KIUiObject* old = m_pHover) {
        m_pHover = nullptr;
        old->MouseLeave(x, y);
    }
}

bool KGenericUiWindow::SetMouseCapture(KIUiObject* object, bool capture)
{
    if (!object)
        return false;
    if (capture) {
        if (m_pCapture && m_pCapture != object)
            return false;
        m_pCapture = object;
        return true;
    }
    if (m_pCapture != object)
        return false;
    m_pCapture = nullptr;
    return true;
}

bool KGenericUiWindow::SetKeyboardFocus(KIUiObject* object, bool grab)
{
    if (!object)
        return false;
    if (grab) {
        if (m_pFocus)
            m_pFocus->LoseFocus();
        m_pFocus = object;
        return true;
    }
    if (m_pFocus != object)
        return false;
    m_pFocus = nullptr;
    object->LoseFocus();
    return true;
}

void KGenericUiWindow::priClosePopup()
{
    KIUiObject* popup = m_pPopup;
    Invalidate(popup->GetRect());
    m_pPopup = nullptr;
    m_pCapture = nullptr;
    popup->PopupClosed();
    if (KIUiObject* old = m_pHover) {
        m_pHover = nullptr;
        old->MouseLeave(0, 0);
    }
}

void KGenericUiWindow::SetPopup(KIUiObject* object, bool open)
{
    if (!object)
        return;
    if (open) {
        if (m_pPopup)
            priClosePopup();
        m_pPopup = object;
        object->PopupOpened();
        Invalidate(object->GetRect());
    } else if (m_pPopup == object) {
        priClosePopup();
    }
}

void KGenericUiWindow::KeyDown(int code, bool ctrl, bool shift)
{
    switch (m_KeySequence) {
    case 0:
        if (code == kChordF && shift)
            m_KeySequence = 1;
        break;
    case 1:
        m_KeySequence = (code == kChordU && shift) ? 2 : 0;
        break;
    case 2:
        m_KeySequence = (code == kChordY && shift) ? 3 : 0;
        break;
    default:
        if (code == kChordY && shift)
            m_KeySequence = 0;
        break;
    }
    bool passOn = true;
    if (code == 27) {
        UiRelayMessage(KWString("Close"), nullptr);
        passOn = false;
    } else if (m_KeySequence == 3 && (code == 'E' || code == 'J' || code == 'K' || code == ' ')) {
        passOn = false;
        if (code == 'E') {
            m_pApp->SetLanguage(KWString("English"));
        } else if (code == 'J') {
            m_pApp->SetLanguage(KWString("Japanese"));
        } else if (code == 'K') {
            m_pApp->SetLanguage(KWString("Korean"));
        } else {
            const std::vector<KWString> languages = m_pApp->GetLanguages();
            if (!languages.empty()) {
                if (++g_LanguageCycle >= languages.size())
                    g_LanguageCycle = 0;
                m_pApp->SetLanguage(languages[g_LanguageCycle]);
            }
        }
    }
    if (passOn && m_pFocus)
        m_pFocus->KeyDown(code, ctrl, shift);
    int data = code;
    if (code == 9 && ctrl && !shift)
        priEvent(KWString("ON_CTRL_I"))->Fire(&data);
    else if (code == 5 && ctrl && !shift)
        priEvent(KWString("ON_CTRL_E"))->Fire(&data);
    else if (code == 146 && !ctrl && !shift)
        priEvent(KWString("ON_LEFT_ARROW"))->Fire(&data);
    else if (code == 145 && !ctrl && !shift)
        priEvent(KWString("ON_RIGHT_ARROW"))->Fire(&data);
}

void KGenericUiWindow::Copy(KWString& out)
{
    if (m_pFocus)
        m_pFocus->Copy(out);
}

void KGenericUiWindow::Cut(KWString& out)
{
    if (m_pFocus)
        m_pFocus->Cut(out);
}

void KGenericUiWindow::Paste(const KWString& text)
{
    if (m_pFocus)
        m_pFocus->Paste(text);
}

void KGenericUiWindow::OnCloseRequest()
{
    UiRelayMessage(KWString("InternalClose"), nullptr);
}

void KGenericUiWindow::OnActivated()
{
    if (m_pClass)
        m_pClass->BringToFront(this);
    priEvent(KWString("ON_ACTIVATE"))->Fire(nullptr);
}

void KGenericUiWindow::OnDeactivated()
{
    priEvent(KWString("ON_DEACTIVATE"))->Fire(nullptr);
}

KPixmap_Display* KGenericUiWindow::GetBackgroundPixels()
{
    return m_pBackground ? m_pBackground->GetPixmap() : nullptr;
}

bool KGenericUiWindow::GetParentName(KWString& out)
{
    if (m_ParentGiven)
        out = m_ParentName;
    return m_ParentGiven;
}

void KGenericUiWindow::OnMoved(int32_t x, int32_t y)
{
    const int32_t w = m_WindowRect.Width(), h = m_WindowRect.Height();
    m_WindowRect = KRect(x, y, x + w, y + h);
    int32_t xy[2] = {x, y};
    priEvent(KWString("ON_MOVE"))->Fire(xy);
}

void KGenericUiWindow::OnZOrderChanged()
{
    if (m_pClass)
        m_pClass->BringToFront(this);
}
