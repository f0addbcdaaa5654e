#pragma once
// Window classes: a "WINDOWCLASS" element of the script is a window that can exist any number of times. The
// class keeps the element as a template, makes instances on request, keeps them front to back and closes
// them. Script relays reach the front instance ("Top") or every instance ("All") through dynamic relays,
// which exist before any instance does.
#include <vector>

#include "KIUiRelay.h"
#include "KWString.h"

class CDynamicRelay;
class KIGenericUiApp;
class KIGenericUiWindow;
class KPropTree;

class KIUiWindowClass {
public:
    virtual void BringToFront(KIGenericUiWindow* window) = 0;
    // Unlinks the instance and hides it; it is deleted once the message being handled is over
    // (DeleteClosedUiWindows).
    virtual void CloseWindow(KIGenericUiWindow* window) = 0;
    virtual bool IsNamed(const KWString& name) = 0;
    virtual KIGenericUiWindow* GetFrontWindow() = 0;
    virtual ~KIUiWindowClass() = default;
};

class KUiWindowClass : public KIUiWindowClass {
public:
    KUiWindowClass() = default;
    KUiWindowClass(const KUiWindowClass&) = delete;
    KUiWindowClass& operator=(const KUiWindowClass&) = delete;
    // Deletes the template, the dynamic relays and every instance.
    ~KUiWindowClass() override;

    void BringToFront(KIGenericUiWindow* window) override;
    void CloseWindow(KIGenericUiWindow* window) override;
    bool IsNamed(const KWString& name) override { return name == m_Name; }
    KIGenericUiWindow* GetFrontWindow() override { return m_pFront; }

    // Reads "Name" and copies the element; false without a name.
    bool Init(KIGenericUiApp* application, KPropTree* node);
    // A new front instance when className is the class's name (owner may be null), else null.
    KIGenericUiWindow* CreateWindow(const KWString& className, KIGenericUiWindow* owner);
    // The dynamic relay for "Class.Rest" (the path below the application), or null.
    KIUiRelay* FindRelay(const KWString& path);
    // Routes a message sent to the dynamic relay relayName ("Top", "All", "Top.Path", "All.Path").
    bool RouteRelayMessage(const KWString& relayName, const KWString& message, void* data);
    // The dynamic relay of that name, made on first use.
    CDynamicRelay* GetDynamicRelay(const KWString& name);

    KUiWindowClass* GetNext() const { return m_pNext; }
    void SetNext(KUiWindowClass* next) { m_pNext = next; }
    const KWString& GetName() const { return m_Name; }
    // Deletes the instances closed so far.
    void DeleteClosedWindows();

private:
    KUiWindowClass* m_pNext = nullptr;
    KIGenericUiApp* m_pApp = nullptr;
    bool m_NameFound = false;
    KWString m_Name;
    KWString m_Path;
    KPropTree* m_pTemplate = nullptr;
    KIGenericUiWindow* m_pFront = nullptr;
    CDynamicRelay* m_pFirstRelay = nullptr;
    std::vector<KIGenericUiWindow*> m_Closed;
};

// Forwards every relay message to its class, which routes it to the class's instances.
class CDynamicRelay : public KIUiRelay {
public:
    CDynamicRelay(const KWString& name, KUiWindowClass* owner) : m_Name(name), m_pOwner(owner) {}

    bool BindToScriptNode(KPropTree*) override { return false; }
    void GetName(KWString&) const override {}
    void GetPath(KWString&) const override {}
    bool PostCreationConnect() override { return false; }
    KIUiRelay* FindObject(const KWString&) override { return nullptr; }
    bool UiRelayMessage(const KWString& message, void* data) override;
    bool ConnectEvent(const KWString&, const KWString&, KIUiRelay*) override { return false; }

    const KWString& GetRelayName() const { return m_Name; }
    CDynamicRelay* GetNext() const { return m_pNext; }
    void SetNext(CDynamicRelay* next) { m_pNext = next; }

private:
    KWString m_Name;
    KUiWindowClass* m_pOwner;
    CDynamicRelay* m_pNext = nullptr;
};

// Deletes every class instance closed so far; the window procedure calls it once a message is over.
void DeleteClosedUiWindows();
