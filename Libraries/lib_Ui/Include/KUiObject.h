#pragma once
// The base of every UI object, with the default behaviour of every operation a control does not override.
// An object owns its events (with their relays) and its children.
#include <cstdint>

#include "KIUiObject.h"
#include "KLayoutObject.h"
#include "KRect.h"
#include "KRelayEvent.h"
#include "KWString.h"

class KIGenericUiApp;
class KIGenericUiWindow;
class KIUiPixmap;
class KPropTree;

class KUiObject : public KIUiObject {
public:
    KUiObject() = default;
    KUiObject(const KUiObject&) = delete;
    KUiObject& operator=(const KUiObject&) = delete;
    // Deletes the events with their relays, then every child.
    ~KUiObject() override;

    // KIUiRelay
    bool BindToScriptNode(KPropTree* node) override;
    void GetName(KWString& out) const override;
    void GetPath(KWString& out) const override;
    bool PostCreationConnect() override;
    KIUiRelay* FindObject(const KWString& name) override;
    bool UiRelayMessage(const KWString& message, void* data) override;
    bool ConnectEvent(const KWString& eventName, const KWString& message, KIUiRelay* target) override;

    // KIUiObject
    KIUiObject* GetNext() override { return m_pNext; }
    KIUiObject* GetPrevious() override { return m_pPrevious; }
    KIUiObject* GetFirstChild() override { return m_pFirstChild; }
    KIUiObject* GetParent() override { return m_pParent; }
    void SetNext(KIUiObject* object) override { m_pNext = object; }
    void SetPrevious(KIUiObject* object) override { m_pPrevious = object; }
    // Stores the links, adds the relays the node attaches to the object's events, binds the node; answers
    // the negation of the bind (derived classes call it first and ignore the answer).
    bool InitUiObject(KIGenericUiApp* application, KIGenericUiWindow* window, KIUiObject* parent,
                      KPropTree* node) override;
    bool IsHBox() override { return false; }
    bool IsVBox() override { return false; }
    KILayoutObject* GetLayout(bool horizontal) override;
    bool SetRect(int32_t x, int32_t y, int32_t width, int32_t height) override;
    bool Relayout() override;
    KRect* GetRect() override { return &m_Rect; }
    void Draw(KIUiPixmap* surface, int32_t dx, int32_t dy, const KRect& clip) override {}
    void Tick(int32_t elapsedMs) override {}
    KIUiObject* HitTest(int32_t x, int32_t y) override { return nullptr; }
    void DoubleClick(int32_t x, int32_t y, bool ctrl, bool shift) override {}
    bool BeginDrag(int32_t x, int32_t y, bool ctrl, bool shift, KWString& payload) override { return false; }
    bool CanAcceptDrop(int32_t x, int32_t y) override { return false; }
    bool Drop(int32_t x, int32_t y, bool ctrl, bool shift, const KWString& payload) override { return false; }
    bool MouseDown(int32_t x, int32_t y, bool ctrl, bool shift) override { return false; }
    void MouseUp(int32_t x, int32_t y, bool ctrl, bool shift) override {}
    void MouseEnter(int32_t x, int32_t y) override {}
    void MouseLeave(int32_t x, int32_t y) override {}
    void MouseMove(int32_t x, int32_t y) override {}
    // Passed to the parent; dropped at the top.
    void MouseWheel(int32_t x, int32_t y, int32_t a, int32_t b) override;
    void KeyDown(int code, bool ctrl, bool shift) override {}
    void Copy(KWString& out) override;
    void Cut(KWString& out) override;
    void Paste(const KWString& text) override;
    void LoseFocus() override {}
    void PopupClosed() override {}
    void PopupOpened() override {}

    // Creates an event of that name at the end of the object's list; controls call it in their constructors.
    RelayEvent* AddEvent(const KWString& name);
    RelayEvent* GetFirstEvent() const { return m_pFirstEvent; }
    // The first event of that name (exact), or null.
    RelayEvent* FindEvent(const KWString& name) const;
    // Links child at the end of the child list (the child's parent is set by its InitUiObject).
    void AppendChild(KIUiObject* child);
    // The class keyword ("BUTTON", "HBOX", ...), set by the control's constructor.
    const char* GetTypeKeyword() const { return m_pTypeKeyword; }
    KIGenericUiApp* GetApp() const { return m_pApp; }
    KIGenericUiWindow* GetWindow() const { return m_pWindow; }

    // The picture named under key through the application's LoadPng; null when the key is absent (found
    // false) or the picture does not load (found cleared). found may be null.
    KIUiPixmap* LoadImageProperty(KPropTree* node, const KWString& key, bool* found);

protected:
    const char* m_pTypeKeyword = nullptr;
    bool m_NameFound = false;
    KWString m_Name;
    KWString m_Path;
    KIGenericUiApp* m_pApp = nullptr;
    KIGenericUiWindow* m_pWindow = nullptr;
    KRect m_Rect;
    KIUiObject* m_pParent = nullptr;
    KIUiObject* m_pFirstChild = nullptr;
    KIUiObject* m_pNext = nullptr;
    KIUiObject* m_pPrevious = nullptr;
    KLayoutObject m_HLayout;
    KLayoutObject m_VLayout;
    RelayEvent* m_pFirstEvent = nullptr;
};

// The object after object in a depth-first pre-order walk of a tree of sibling lists: its first child, else
// its next sibling, else the next sibling of the nearest ancestor that has one; null at the end. With a root,
// the walk stays inside root's subtree (root itself is where it started).
KIUiObject* NextUiObjectPreOrder(KIUiObject* object, KIUiObject* root = nullptr);
