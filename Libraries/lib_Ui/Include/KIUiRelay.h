#pragma once
// Anything that can be named, found by a dotted path and sent relay messages: a message string and an untyped
// data pointer whose type the message fixes.
#include "KWString.h"

class KPropTree;

class KIUiRelay {
public:
    virtual ~KIUiRelay() = default;

    // Reads the name from the script node and works out the dotted path.
    virtual bool BindToScriptNode(KPropTree* node) = 0;
    virtual void GetName(KWString& out) const = 0;
    virtual void GetPath(KWString& out) const = 0;
    // Resolves the targets of the object's event relays once the whole script is built.
    virtual bool PostCreationConnect() = 0;
    // The relay of that name (relative to this one), or null.
    virtual KIUiRelay* FindObject(const KWString& name) = 0;
    // True when the message was handled.
    virtual bool UiRelayMessage(const KWString& message, void* data) = 0;
    // Lets another object attach a relay to one of this object's events.
    virtual bool ConnectEvent(const KWString& eventName, const KWString& message, KIUiRelay* target) = 0;
};
