#include "KUiWindowClass.h"

#include <algorithm>
#include <new>

#include "KGenericUiWindow.h"
#include "KIGenericUiApp.h"
#include "KIOsUiWindow.h"
#include "KPropTree.h"
#include "KRelayEvent.h"
#include "PlatformWindow.h"

namespace {

// Classes holding closed instances not yet deleted (UI thread only).
std::vector<KUiWindowClass*>& ClassesWithClosed()
{
    static std::vector<KUiWindowClass*> classes;
    return classes;
}

bool g_DeletingClosed = false;

void HideOsWindow(KIGenericUiWindow* window)
{
    auto* handle = static_cast<PlatHWND*>(window->GetAttribute(KOSWIN_ATTR_HANDLE));
    if (handle && *handle)
        PlatShowWindow(*handle, false);
}

}  // namespace

void DeleteClosedUiWindows()
{
    if (g_DeletingClosed)
        return;
    g_DeletingClosed = true;
    // Deleting a window may close others (its owned instances): go on until none is left.
    while (!ClassesWithClosed().empty()) {
        KUiWindowClass* c = ClassesWithClosed().back();
        ClassesWithClosed().pop_back();
        c->DeleteClosedWindows();
    }
    g_DeletingClosed = false;
}

bool CDynamicRelay::UiRelayMessage(const KWString& message, void* data)
{
    return m_pOwner->RouteRelayMessage(m_Name, message, data);
}

KUiWindowClass::~KUiWindowClass()
{
    auto& classes = ClassesWithClosed();
    classes.erase(std::remove(classes.begin(), classes.end(), this), classes.end());
    delete m_pTemplate;
    m_pTemplate = nullptr;
    while (m_pFirstRelay) {
        CDynamicRelay* next = m_pFirstRelay->GetNext();
        delete m_pFirstRelay;
        m_pFirstRelay = next;
    }
    // Deleting an instance may close others of this class (owned ones): take the front each time.
    while (m_pFront) {
        KIGenericUiWindow* w = m_pFront;
        m_pFront = w->GetNextWindow();
        if (m_pFront)
            m_pFront->SetPreviousWindow(nullptr);
        w->SetNextWindow(nullptr);
        delete w;
    }
    DeleteClosedWindows();
    classes.erase(std::remove(classes.begin(), classes.end(), this), classes.end());
}

bool KUiWindowClass::Init(KIGenericUiApp* application, KPropTree* node)
{
    m_pApp = application;
    if (!node)
        return false;
    m_Name = node->GetString(KWString("Name"), KWString(), &m_NameFound);
    if (!m_NameFound)
        return false;
    m_pApp->GetPath(m_Path);
    m_Path += ".";
    m_Path += m_Name;
    delete m_pTemplate;
    m_pTemplate = node->Clone();
    return true;
}

KIGenericUiWindow* KUiWindowClass::CreateWindow(const KWString& className, KIGenericUiWindow* owner)
{
    if (!m_NameFound || className != m_Name || !m_pTemplate)
        return nullptr;
    KIGenericUiWindow* w = CreateGenericUiWindow(m_pApp, m_pTemplate, this, owner);
    if (!w)
        return nullptr;
    w->SetNextWindow(m_pFront);
    w->SetPreviousWindow(nullptr);
    if (m_pFront)
        m_pFront->SetPreviousWindow(w);
    m_pFront = w;
    w->KeepRunningOnDestroy();
    w->PostCreationConnect();
    w->UiRelayMessage(KWString(kUiMsgPostCreationInit), nullptr);
    w->BroadcastRelayMessage(KWString(kUiMsgPostCreationInit), nullptr);
    return w;
}

void KUiWindowClass::BringToFront(KIGenericUiWindow* w)
{
    if (!m_pFront || !w || w == m_pFront)
        return;
    KIGenericUiWindow* p = m_pFront;
    while (p && p->GetNextWindow() != w)
        p = p->GetNextWindow();
    if (!p)
        return;
    KIGenericUiWindow* after = w->GetNextWindow();
    p->SetNextWindow(after);
    if (after)
        after->SetPreviousWindow(p);
    w->SetNextWindow(m_pFront);
    m_pFront->SetPreviousWindow(w);
    w->SetPreviousWindow(nullptr);
    m_pFront = w;
}

void KUiWindowClass::CloseWindow(KIGenericUiWindow* w)
{
    if (!w || !m_pFront)
        return;
    if (w == m_pFront) {
        m_pFront = w->GetNextWindow();
        if (m_pFront)
            m_pFront->SetPreviousWindow(nullptr);
    } else {
        KIGenericUiWindow* p = m_pFront;
        while (p && p->GetNextWindow() != w)
            p = p->GetNextWindow();
        if (!p)
            return;
        KIGenericUiWindow* after = w->GetNextWindow();
        p->SetNextWindow(after);
        if (after)
            after->SetPreviousWindow(p);
    }
    w->SetNextWindow(nullptr);
    w->SetPreviousWindow(nullptr);
    // The window may be in the middle of handling the message that closed it: it goes after the message.
    HideOsWindow(w);
    m_Closed.push_back(w);
    auto& classes = ClassesWithClosed();
    if (std::find(classes.begin(), classes.end(), this) == classes.end())
        classes.push_back(this);
}

void KUiWindowClass::DeleteClosedWindows()
{
    while (!m_Closed.empty()) {
        KIGenericUiWindow* w = m_Closed.back();
        m_Closed.pop_back();
        delete w;
    }
}

KIUiRelay* KUiWindowClass::FindRelay(const KWString& path)
{
    if (path == m_Name)
        return nullptr;
    KWString head, tail;
    if (!path.Split(KWString("."), head, tail) || head.IsEmpty() || tail.IsEmpty() || head != m_Name)
        return nullptr;
    return GetDynamicRelay(tail);
}

CDynamicRelay* KUiWindowClass::GetDynamicRelay(const KWString& name)
{
    CDynamicRelay* last = nullptr;
    for (CDynamicRelay* r = m_pFirstRelay; r; r = r->GetNext()) {
        if (r->GetRelayName() == name)
            return r;
        last = r;
    }
    auto* r = new (std::nothrow) CDynamicRelay(name, this);
    if (!r)
        return nullptr;
    if (last)
        last->SetNext(r);
    else
        m_pFirstRelay = r;
    return r;
}

bool KUiWindowClass::RouteRelayMessage(const KWString& relayName, const KWString& message, void* data)
{
    if (!m_pFront)
        return false;
    if (relayName == "Top")
        return m_pFront->UiRelayMessage(message, data);
    if (relayName == "All") {
        // A copy: an instance may close itself (or others) on the message.
        std::vector<KIGenericUiWindow*> order;
        for (KIGenericUiWindow* w = m_pFront->GetNextWindow(); w; w = w->GetNextWindow())
            order.push_back(w);
        if (message == "Show" || message == "Hide")
            order.push_back(m_pFront);  // the front one last, so that it stays in front
        else
            order.insert(order.begin(), m_pFront);
        bool all = true;
        for (KIGenericUiWindow* w : order) {
            if (std::find(m_Closed.begin(), m_Closed.end(), w) != m_Closed.end())
                continue;  // closed by an earlier one's answer
            all = w->UiRelayMessage(message, data) && all;
        }
        return all;
    }
    KWString head, tail;
    if (!relayName.Split(KWString("."), head, tail) || head.IsEmpty() || tail.IsEmpty())
        return false;
    const KWString target = m_Name + KWString(".") + tail;
    if (head == "All") {
        std::vector<KIGenericUiWindow*> order;
        for (KIGenericUiWindow* w = m_pFront; w; w = w->GetNextWindow())
            order.push_back(w);
        bool all = true;
        for (KIGenericUiWindow* w : order) {
            if (std::find(m_Closed.begin(), m_Closed.end(), w) != m_Closed.end())
                continue;
            if (KIUiRelay* r = w->FindObject(target))
                all = r->UiRelayMessage(message, data) && all;
        }
        return all;
    }
    if (head == "Top") {
        if (KIUiRelay* r = m_pFront->FindObject(target))
            return r->UiRelayMessage(message, data);
        return true;
    }
    return false;
}
