#pragma once
// Anything that can be named, found by a dotted path and sent relay messages: a message string and a data
// pointer whose type the message fixes, read through the accessors of KUiRelayData.h.
#include <cstdint>
#include <utility>

#include "KUiRelayData.h"
#include "KWString.h"

class KPropTree;

// Every relay object is entered in a process-wide list while it lives, so a reference kept past its life
// (KUiRelayRef) can tell that it is gone.
class KIUiRelay {
public:
    KIUiRelay();
    KIUiRelay(const KIUiRelay&);
    KIUiRelay& operator=(const KIUiRelay&) { return *this; }
    virtual ~KIUiRelay();

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

// Sends message to target with data stated as what it points to (a typed pointer, an array whose elements
// are the data, or null), as an event states what it fires.
template <class P>
bool UiRelaySend(KIUiRelay* target, const KWString& message, P&& data)
{
    const KUiRelayDataStatement s = UiRelayStatement(std::forward<P>(data));
    const KUiRelayDataScope stated(s);
    return target->UiRelayMessage(message, s.data);
}

// A reference to a relay object that answers null once the object is destroyed (or another took its place).
class KUiRelayRef {
public:
    KUiRelayRef() = default;
    // relay null or not live: an empty reference.
    explicit KUiRelayRef(const KIUiRelay* relay) { *this = FromData(relay); }
    // The live relay object at the address a relay message carries (a KIUiRelay pointer); empty when the
    // address holds none.
    static KUiRelayRef FromData(const void* data);
    // The object, or null once it is gone.
    KIUiRelay* Get() const;
    void Clear() { *this = KUiRelayRef(); }

private:
    KIUiRelay* m_pRelay = nullptr;
    uint64_t m_Serial = 0;
};
