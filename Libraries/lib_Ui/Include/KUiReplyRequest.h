#pragma once
// "REPLY_REQUEST": an invisible relay point. A component sends it "Relay" with itself as the argument; from
// then on the replies that script events send here ("Reply", "Reply2" to "Reply8") go on to that component.
// The target is held by a reference that knows when the target is gone.
#include "KUiControl.h"
#include "KUiObjectFactory.h"

class KUiReplyRequest : public KUiControl {
public:
    KUiReplyRequest();

    // "Relay" (a live relay object other than this one) sets the target; a reply is passed on with its
    // argument and answers the target's result; false without a live target and for any other message.
    bool UiRelayMessage(const KWString& message, void* data) override;
    // Reads no keys; takes no room.
    bool InitUiObject(KIGenericUiApp* application, KIGenericUiWindow* window, KIUiObject* parent,
                      KPropTree* node) override;

    // The target, or null when there is none or it is gone.
    KIUiRelay* GetTarget() const { return m_Target.Get(); }

    static bool RegisterCreator(KIUiObjectFactory* factory);

private:
    KUiRelayRef m_Target;
    // A reply that comes back here through the target is not passed on again.
    bool m_Forwarding = false;
};

class KUiReplyRequestCreator : public KIUiObjectCreator {
public:
    KIUiObject* Create() override;
};
