#include "KUiObject.h"

#include "KDebug.h"
#include "KIGenericUiApp.h"
#include "KIGenericUiWindow.h"
#include "KIUiPixmap.h"
#include "KPropTree.h"

KUiObject::~KUiObject()
{
    while (m_pFirstEvent) {
        RelayEvent* next = m_pFirstEvent->GetNext();
        delete m_pFirstEvent;
        m_pFirstEvent = next;
    }
    while (m_pFirstChild) {
        KIUiObject* next = m_pFirstChild->GetNext();
        delete m_pFirstChild;
        m_pFirstChild = next;
    }
}

bool KUiObject::BindToScriptNode(KPropTree* node)
{
    if (node)
        m_Name = node->GetString(KWString(u"Name"), KWString(), &m_NameFound);
    else {
        m_Name.Clear();
        m_NameFound = false;
    }

    m_Path.Clear();
    if (m_pParent)
        m_pParent->GetPath(m_Path);
    else if (m_pWindow)
        m_pWindow->GetPath(m_Path);
    else if (m_pApp)
        m_pApp->GetPath(m_Path);
    if (m_NameFound) {
        if (!m_Path.IsEmpty())
            m_Path += u".";
        m_Path += m_Name;
    }
    return true;
}

void KUiObject::GetName(KWString& out) const
{
    out = m_Name;
}

void KUiObject::GetPath(KWString& out) const
{
    out = m_Path;
}

bool KUiObject::PostCreationConnect()
{
    bool ok = true;
    for (RelayEvent* event = m_pFirstEvent; event; event = event->GetNext()) {
        bool connected = m_pWindow ? event->Connect(m_pWindow) : event->Connect(m_pApp);
        ok = connected && ok;
    }
    // Containers visit their other children themselves.
    if (m_pFirstChild)
        ok = m_pFirstChild->PostCreationConnect() && ok;
    return ok;
}

KIUiRelay* KUiObject::FindObject(const KWString& name)
{
    if (m_NameFound && name == m_Name)
        return this;
    return nullptr;
}

bool KUiObject::UiRelayMessage(const KWString& message, void* data)
{
    return false;
}

bool KUiObject::ConnectEvent(const KWString& eventName, const KWString& message, KIUiRelay* target)
{
    return true;
}

bool KUiObject::InitUiObject(KIGenericUiApp* application, KIGenericUiWindow* window, KIUiObject* parent,
                             KPropTree* node)
{
    m_pApp = application;
    m_pWindow = window;
    m_pParent = parent;

    if (m_pFirstEvent && node) {
        for (KPropTree* child = node->GetFirstChild(); child; child = child->GetNextSibling()) {
            if (child->GetName() == u"EVENT") {
                bool found = false;
                KWString eventName = child->GetString(KWString(u"Name"), KWString(), &found);
                if (!found)
                    continue;
                if (RelayEvent* event = FindEvent(eventName))
                    event->AddSendRelays(child);
            } else if (RelayEvent* event = FindEvent(child->GetName())) {
                event->AddRelay(child);
            }
        }
    }
    return !BindToScriptNode(node);
}

KILayoutObject* KUiObject::GetLayout(bool horizontal)
{
    return horizontal ? &m_HLayout : &m_VLayout;
}

bool KUiObject::SetRect(int32_t x, int32_t y, int32_t width, int32_t height)
{
    // Wrapping sums keep the arithmetic defined for any script values.
    m_Rect = KRect(x, y, static_cast<int32_t>(int64_t(x) + width), static_cast<int32_t>(int64_t(y) + height));
    return true;
}

bool KUiObject::Relayout()
{
    for (KIUiObject* child = m_pFirstChild; child; child = child->GetNext())
        child->Relayout();
    return true;
}

void KUiObject::MouseWheel(int32_t x, int32_t y, int32_t a, int32_t b)
{
    if (m_pParent)
        m_pParent->MouseWheel(x, y, a, b);
}

void KUiObject::Copy(KWString& out)
{
    DebugTrace("This is completely broken. Fix.\n");
}

void KUiObject::Cut(KWString& out)
{
    DebugTrace("This is completely broken. Fix.\n");
}

void KUiObject::Paste(const KWString& text)
{
    DebugTrace("This is completely broken. Fix.\n");
}

RelayEvent* KUiObject::AddEvent(const KWString& name)
{
    RelayEvent* event = new RelayEvent(name);
    if (!m_pFirstEvent) {
        m_pFirstEvent = event;
    } else {
        RelayEvent* last = m_pFirstEvent;
        while (last->GetNext())
            last = last->GetNext();
        last->SetNext(event);
    }
    return event;
}

RelayEvent* KUiObject::FindEvent(const KWString& name) const
{
    for (RelayEvent* event = m_pFirstEvent; event; event = event->GetNext())
        if (event->GetName() == name)
            return event;
    return nullptr;
}

void KUiObject::AppendChild(KIUiObject* child)
{
    if (!child)
        return;
    child->SetNext(nullptr);
    if (!m_pFirstChild) {
        child->SetPrevious(nullptr);
        m_pFirstChild = child;
        return;
    }
    KIUiObject* last = m_pFirstChild;
    while (last->GetNext())
        last = last->GetNext();
    last->SetNext(child);
    child->SetPrevious(last);
}

KIUiPixmap* KUiObject::LoadImageProperty(KPropTree* node, const KWString& key, bool* found)
{
    bool present = false;
    KWString fileName;
    if (node)
        fileName = node->GetString(key, KWString(), &present);
    if (found)
        *found = present;
    if (!present)
        return nullptr;
    KIUiPixmap* pixmap = m_pApp ? m_pApp->LoadPng(fileName) : nullptr;
    if (!pixmap && found)
        *found = false;
    return pixmap;
}

KIUiObject* NextUiObjectPreOrder(KIUiObject* object, KIUiObject* root)
{
    if (!object)
        return nullptr;
    if (KIUiObject* child = object->GetFirstChild())
        return child;
    for (KIUiObject* at = object; at && at != root; at = at->GetParent()) {
        if (KIUiObject* next = at->GetNext())
            return next;
    }
    return nullptr;
}
