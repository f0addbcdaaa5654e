#pragma once
// What UI objects, the application and the OS window call on a top-level window of a UI script. A window is
// a relay target: FindObject resolves paths that start with the window's name.
#include <cstdint>

#include "KIOsObject.h"
#include "KIUiRelay.h"
#include "KPixmapDisplay.h"
#include "KRect.h"
#include "KWString.h"

class KIGenericUiApp;
class KIGenericUiWindow;
class KIUiObject;
class KIUiObjectFactory;
class KIUiPixmap;
class KPropTree;

class KIUiWindow : public KIOsObject, public KIUiRelay {
public:
    virtual KIGenericUiWindow* GetPreviousWindow() = 0;
    virtual KIGenericUiWindow* GetNextWindow() = 0;
    virtual void MarkMainWindow() = 0;
    virtual void SetPreviousWindow(KIGenericUiWindow* window) = 0;
    virtual void SetNextWindow(KIGenericUiWindow* window) = 0;
    virtual void SetOwner(KIGenericUiWindow* window) = 0;
    virtual void AddOwnedWindow(KIGenericUiWindow* window) = 0;
    virtual void RemoveOwnedWindow(KIGenericUiWindow* window) = 0;
    virtual KIGenericUiApp* GetApp() = 0;
    virtual KIUiObjectFactory* GetFactory() = 0;
    virtual bool InitFromNode(KPropTree* node, KIGenericUiWindow* owner) = 0;
    virtual void KeepRunningOnDestroy() = 0;
    // Marks rect (null: the whole window) for repainting.
    virtual void Invalidate(const KRect* rect) = 0;
    // Repaints what is marked.
    virtual void Update() = 0;
    virtual void InvalidateAndUpdate(const KRect* rect) = 0;
    virtual void SetVisible(bool show) = 0;
    virtual void Move(int32_t x, int32_t y) = 0;
    virtual void Destroy() = 0;
    virtual void CloseIfInstance() = 0;
    virtual void BlitToScreen(const KRect& destination, const KRect& source, KIUiPixmap* surface) = 0;
    // capture true takes the mouse for object (refused while another holds it); false releases it.
    virtual bool SetMouseCapture(KIUiObject* object, bool capture) = 0;
    // grab true gives object the keyboard focus; false takes it back when object has it.
    virtual bool SetKeyboardFocus(KIUiObject* object, bool grab) = 0;
    virtual void GetTitle(KWString& out) = 0;
    // Lays the top-level object out over the whole client area.
    virtual void LayoutRoot() = 0;
    // Makes the window smaller by (dx, dy) after its objects' sizes changed.
    virtual void ShrinkBy(int32_t dx, int32_t dy) = 0;
    // open true shows object above all others; false closes it when it is the popup.
    virtual void SetPopup(KIUiObject* object, bool open) = 0;
    virtual void ShowCursor(bool show) = 0;
    virtual bool IsModal() = 0;
    virtual void Enable() = 0;
    virtual void Disable() = 0;
    // UiRelayMessage on every object of the tree, depth-first pre-order; answers how many were called.
    virtual int32_t BroadcastRelayMessage(const KWString& message, void* data) = 0;
    virtual bool IsNamed(const KWString& name) = 0;
    virtual void SuppressDisplay() = 0;
    virtual void ResumeDisplay() = 0;
    virtual void Activate() = 0;
    virtual void GetWindowRect(KRect& out) = 0;
    // pixmap null: the default cursor.
    virtual void SetCursor(KIUiPixmap* pixmap, int32_t hotX, int32_t hotY) = 0;
    ~KIUiWindow() override = default;
};

class KIGenericUiWindow : public KIUiWindow {
public:
    virtual void Redraw() = 0;
    virtual void Tick(double seconds) = 0;
    virtual void KeyDown(int code, bool ctrl, bool shift) = 0;
    virtual void Copy(KWString& out) = 0;
    virtual void Cut(KWString& out) = 0;
    virtual void Paste(const KWString& text) = 0;
    virtual bool DoubleClick(int button, int32_t x, int32_t y, bool ctrl, bool shift) = 0;
    virtual bool MouseDown(int button, int32_t x, int32_t y, bool ctrl, bool shift) = 0;
    virtual void MouseUp(int button, int32_t x, int32_t y, bool ctrl, bool shift) = 0;
    virtual void MouseMove(int32_t x, int32_t y) = 0;
    virtual void MouseWheel(int32_t x, int32_t y, int32_t a, int32_t b) = 0;
    virtual void OnCloseRequest() = 0;
    virtual void MouseLeftWindow(int32_t x, int32_t y) = 0;
    virtual void OnActivated() = 0;
    virtual void OnDeactivated() = 0;
    virtual void OnZOrderChanged() = 0;
    virtual KRect* GetRect() = 0;
    virtual void RedrawIfDirty() = 0;
    virtual KPixmap_Display* GetBackgroundPixels() = 0;
    virtual bool OnResized(int32_t* width, int32_t* height) = 0;
    virtual void GetMinimumSize(int32_t* width, int32_t* height) = 0;
    virtual bool IsResizable() = 0;
    virtual bool HasGrowIcon() = 0;
    virtual bool IsToolWindow() = 0;
    virtual bool IsTopMost() = 0;
    virtual bool GetParentName(KWString& out) = 0;
    virtual bool IsDraggableByBody() = 0;
    virtual void OnMoved(int32_t x, int32_t y) = 0;
    ~KIGenericUiWindow() override = default;
};
