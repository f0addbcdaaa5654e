#include "KRelayEvent.h"

#include "KDebug.h"
#include "KIGenericUiApp.h"
#include "KIGenericUiWindow.h"
#include "KPropTree.h"

namespace {

// The value under the long key, else under the short one; found tells whether either was there.
KWString priReadKey(KPropTree* node, const KWChar* longKey, const KWChar* shortKey, bool& found)
{
    found = false;
    KWString value = node->GetString(KWString(longKey), KWString(), &found);
    if (found)
        return value;
    return node->GetString(KWString(shortKey), KWString(), &found);
}

// Deliveries under way on this thread, one inside another. A script may wire an event to a command that
// fires it again; past the limit nothing more is delivered, so such a loop ends instead of exhausting the
// stack.
thread_local int t_Nesting = 0;
constexpr int kMaxNesting = 64;

}  // namespace

RelayEvent::~RelayEvent()
{
    DeleteRelays();
}

void RelayEvent::DeleteRelays()
{
    while (m_pFirstRelay) {
        Relay* next = m_pFirstRelay->m_pNext;
        delete m_pFirstRelay;
        m_pFirstRelay = next;
    }
    m_pLastRelay = nullptr;
    m_HasRelays = false;
}

void RelayEvent::priAppend(Relay* relay)
{
    if (m_pLastRelay)
        m_pLastRelay->m_pNext = relay;
    else
        m_pFirstRelay = relay;
    m_pLastRelay = relay;
    m_HasRelays = true;
}

void RelayEvent::AddRelay(KPropTree* node)
{
    if (!node)
        return;
    Relay* relay = new Relay;
    bool found = false;
    relay->m_Message = priReadKey(node, u"Message", u"MSG", found);
    relay->m_RelayName = priReadKey(node, u"Relay", u"GRT", relay->m_HasRelayName);
    relay->m_LocalRelay = priReadKey(node, u"LocalRelay", u"LRT", relay->m_HasLocalRelay);
    relay->m_Data[0] = priReadKey(node, u"Data", u"DI1", relay->m_HasData);
    relay->m_Data[1] = priReadKey(node, u"Data2", u"DI2", relay->m_HasData2);
    priAppend(relay);
}

void RelayEvent::AddSendRelays(KPropTree* node)
{
    if (!node)
        return;
    for (KPropTree* child = node->GetFirstChild(); child; child = child->GetNextSibling())
        if (child->GetName() == u"SEND")
            AddRelay(child);
}

void RelayEvent::AddDirectRelay(const KWString& message, KIUiRelay* target)
{
    Relay* relay = new Relay;
    relay->m_Message = message;
    relay->m_pTarget = target;
    priAppend(relay);
}

bool RelayEvent::Connect(KIGenericUiWindow* window)
{
    if (!m_HasRelays)
        return true;
    KIGenericUiApp* application = window ? window->GetApp() : nullptr;
    bool ok = true;
    for (Relay* relay = m_pFirstRelay; relay; relay = relay->m_pNext) {
        if (relay->m_pTarget)
            continue;
        if (relay->m_HasRelayName) {
            if (application)
                relay->m_pTarget = application->GetUiRelay(relay->m_RelayName);
            if (!relay->m_pTarget)
                ok = false;
        } else if (relay->m_HasLocalRelay && window) {
            KWString path;
            window->GetName(path);
            if (!relay->m_LocalRelay.IsEmpty()) {
                path += u".";
                path += relay->m_LocalRelay;
            }
            relay->m_pTarget = window->FindObject(path);
            if (!relay->m_pTarget) {
                DebugTrace("RelayEvent::Connect() window target (%s) FAILED!\n", path.GetAscii());
                ok = false;
            }
        } else {
            ok = false;
        }
    }
    return ok;
}

bool RelayEvent::Connect(KIGenericUiApp* application)
{
    if (!m_HasRelays)
        return true;
    bool ok = true;
    for (Relay* relay = m_pFirstRelay; relay; relay = relay->m_pNext) {
        if (relay->m_pTarget)
            continue;
        if (relay->m_HasRelayName && application)
            relay->m_pTarget = application->GetUiRelay(relay->m_RelayName);
        if (!relay->m_pTarget)
            ok = false;
    }
    return ok;
}

bool RelayEvent::priFire(const KUiRelayDataStatement& data)
{
    if (t_Nesting >= kMaxNesting) {
        DebugTrace("RelayEvent::Fire(%s) nested too deep: not delivered\n", m_Name.GetAscii());
        return false;
    }
    ++t_Nesting;
    struct Leave {
        ~Leave() { --t_Nesting; }
    } leave;
    bool ok = true;
    for (Relay* relay = m_pFirstRelay; relay; relay = relay->m_pNext) {
        if (!relay->m_pTarget)
            continue;
        bool delivered = false;
        if (data.data) {
            const KUiRelayDataScope stated(data);
            delivered = relay->m_pTarget->UiRelayMessage(relay->m_Message, data.data);
        } else if (relay->m_HasData) {
            const KUiRelayDataScope stated(relay->m_Data, 2);
            delivered = relay->m_pTarget->UiRelayMessage(relay->m_Message, &relay->m_Data[0]);
        } else {
            delivered = relay->m_pTarget->UiRelayMessage(relay->m_Message, nullptr);
        }
        ok = delivered && ok;
    }
    return ok;
}
