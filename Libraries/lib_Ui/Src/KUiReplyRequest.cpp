#include "KUiReplyRequest.h"

#include <new>

#include "KPropTree.h"

KUiReplyRequest::KUiReplyRequest()
{
    m_pTypeKeyword = "REPLY_REQUEST";
}

bool KUiReplyRequest::InitUiObject(KIGenericUiApp* application, KIGenericUiWindow* window, KIUiObject* parent,
                                   KPropTree* node)
{
    KUiObject::InitUiObject(application, window, parent, node);
    SetLayoutRecord(m_HLayout, 0, 0);
    SetLayoutRecord(m_VLayout, 0, 0);
    return true;
}

bool KUiReplyRequest::UiRelayMessage(const KWString& message, void* data)
{
    if (message == u"Relay") {
        // Only a live relay object is taken: an argument of another type, or one already destroyed, is not.
        const KUiRelayRef target = KUiRelayRef::FromData(data);
        if (!target.Get() || target.Get() == static_cast<KIUiRelay*>(this))
            return false;
        m_Target = target;
        return true;
    }
    static const KWString kReplies[] = {KWString(u"Reply"),  KWString(u"Reply2"), KWString(u"Reply3"),
                                        KWString(u"Reply4"), KWString(u"Reply5"), KWString(u"Reply6"),
                                        KWString(u"Reply7"), KWString(u"Reply8")};
    bool reply = false;
    for (const KWString& r : kReplies)
        reply = reply || message == r;
    KIUiRelay* target = reply && !m_Forwarding ? m_Target.Get() : nullptr;
    if (!target)
        return false;
    const KUiRelayRef self(this);
    m_Forwarding = true;
    const bool handled = target->UiRelayMessage(message, data);
    // The target may have closed the window that held this forwarder.
    if (self.Get())
        m_Forwarding = false;
    return handled;
}

bool KUiReplyRequest::RegisterCreator(KIUiObjectFactory* factory)
{
    return RegisterControlCreator(factory, "REPLY_REQUEST", new KUiReplyRequestCreator);
}

KIUiObject* KUiReplyRequestCreator::Create()
{
    return new (std::nothrow) KUiReplyRequest;
}
