#pragma once
// Named events of UI objects and the relays that the script attaches to them. When an object fires an event,
// every resolved relay sends its message to its target.
#include <utility>

#include "KIUiRelay.h"
#include "KTypes.h"
#include "KWString.h"

class KIGenericUiApp;
class KIGenericUiWindow;
class KPropTree;

// The system broadcasts; receivers compare the message with these.
inline constexpr const KWChar* kUiMsgPostCreationInit = u"Post Creation Initialization";
inline constexpr const KWChar* kUiMsgShutdown = u"we're goin' bye-bye";
// Data: pointer to the new language name (KWString).
inline constexpr const KWChar* kUiMsgSetLanguage = u"Set Language";
inline constexpr const KWChar* kUiMsgDisableWindowDisplay = u"Disable Window Display.";
inline constexpr const KWChar* kUiMsgEnableWindowDisplay = u"Enable Window Display & Redraw All.";

class RelayEvent {
public:
    class Relay {
    public:
        Relay() = default;
        Relay(const Relay&) = delete;
        Relay& operator=(const Relay&) = delete;
        virtual ~Relay() = default;

        const KWString& GetMessage() const { return m_Message; }
        const KWString& GetRelayName() const { return m_RelayName; }
        bool HasRelayName() const { return m_HasRelayName; }
        const KWString& GetLocalRelay() const { return m_LocalRelay; }
        bool HasLocalRelay() const { return m_HasLocalRelay; }
        const KWString& GetData() const { return m_Data[0]; }
        const KWString& GetData2() const { return m_Data[1]; }
        bool HasData() const { return m_HasData; }
        bool HasData2() const { return m_HasData2; }
        KIUiRelay* GetTarget() const { return m_pTarget; }
        // Resolves the relay by hand, for a caller that found the target itself.
        void SetTarget(KIUiRelay* target) { m_pTarget = target; }
        Relay* GetNext() const { return m_pNext; }

    private:
        friend class RelayEvent;
        KWString m_Message;
        KWString m_RelayName;  // absolute dotted path
        bool m_HasRelayName = false;
        KWString m_LocalRelay;  // path below the window
        bool m_HasLocalRelay = false;
        // Data and Data2 side by side: a command fired without data receives &m_Data[0] and may read the
        // second string after it.
        KWString m_Data[2];
        bool m_HasData = false;
        bool m_HasData2 = false;
        KIUiRelay* m_pTarget = nullptr;
        Relay* m_pNext = nullptr;
    };

    explicit RelayEvent(const KWString& name) : m_Name(name) {}
    RelayEvent(const RelayEvent&) = delete;
    RelayEvent& operator=(const RelayEvent&) = delete;
    // Deletes the relays.
    ~RelayEvent();

    const KWString& GetName() const { return m_Name; }
    RelayEvent* GetNext() const { return m_pNext; }
    void SetNext(RelayEvent* next) { m_pNext = next; }
    bool HasRelays() const { return m_HasRelays; }
    Relay* GetFirstRelay() const { return m_pFirstRelay; }

    // Appends one relay read from the node's attributes ("Message"/"MSG", "Relay"/"GRT",
    // "LocalRelay"/"LRT", "Data"/"DI1", "Data2"/"DI2"; each optional, the long key first).
    void AddRelay(KPropTree* node);
    // For an "EVENT" element: one relay per child element "SEND", in order.
    void AddSendRelays(KPropTree* node);
    // Appends a relay whose target is already known.
    void AddDirectRelay(const KWString& message, KIUiRelay* target);
    // Resolves the targets still unresolved: absolute paths through the window's application, local paths
    // through the window. True when every relay has a target.
    bool Connect(KIGenericUiWindow* window);
    // The same without a window: only absolute paths resolve.
    bool Connect(KIGenericUiApp* application);
    // Sends every resolved relay's message; the data is data, or, when data is null and the relay has Data, a
    // pointer to the relay's Data string (Data2 after it). Answers the AND of the delivered results.
    // data is a typed pointer, or an array whose elements are the data; receivers see it stated as that
    // type (KUiRelayData.h), the Data string as two KWStrings. A fire nested 64 deep in others on the same
    // thread (an event wired back to itself) delivers nothing and answers false.
    template <class P>
    bool Fire(P&& data)
    {
        return priFire(UiRelayStatement(std::forward<P>(data)));
    }
    // Deletes every relay.
    void DeleteRelays();

private:
    void priAppend(Relay* relay);
    bool priFire(const KUiRelayDataStatement& data);

    KWString m_Name;
    RelayEvent* m_pNext = nullptr;
    bool m_HasRelays = false;
    Relay* m_pFirstRelay = nullptr;
    Relay* m_pLastRelay = nullptr;
};
