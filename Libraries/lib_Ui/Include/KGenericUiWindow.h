#pragma once
// The top-level window of a UI script: owns its object tree, its background and back-buffer surfaces, its
// events and its OS window; batches repaints in a list of dirty rectangles and redraws after every message.
#include <vector>

#include "KIGenericUiWindow.h"
#include "KRelayEvent.h"
#include "KUiColor.h"

class KIOsUiWindow;
class KUiMenu;
class KUiMultiLangString;
class KUiWindowClass;

class KGenericUiWindow : public KIGenericUiWindow {
public:
    KGenericUiWindow(KIGenericUiApp* application, KUiWindowClass* windowClass);
    KGenericUiWindow(const KGenericUiWindow&) = delete;
    KGenericUiWindow& operator=(const KGenericUiWindow&) = delete;
    ~KGenericUiWindow() override;

    // KIOsObject
    void* GetAttribute(int id) override;
    bool SetAttribute(int id, const void* value) override;

    // KIUiRelay
    bool BindToScriptNode(KPropTree* node) override;
    void GetName(KWString& out) const override { out = m_Name; }
    void GetPath(KWString& out) const override { out = m_Path; }
    bool PostCreationConnect() override;
    KIUiRelay* FindObject(const KWString& name) override;
    bool UiRelayMessage(const KWString& message, void* data) override;
    bool ConnectEvent(const KWString&, const KWString&, KIUiRelay*) override { return false; }

    // KIUiWindow
    KIGenericUiWindow* GetPreviousWindow() override { return m_pPrevious; }
    KIGenericUiWindow* GetNextWindow() override { return m_pNext; }
    void MarkMainWindow() override { m_MainWindow = true; }
    void SetPreviousWindow(KIGenericUiWindow* window) override { m_pPrevious = window; }
    void SetNextWindow(KIGenericUiWindow* window) override { m_pNext = window; }
    void SetOwner(KIGenericUiWindow* window) override { m_pOwner = window; }
    void AddOwnedWindow(KIGenericUiWindow* window) override;
    void RemoveOwnedWindow(KIGenericUiWindow* window) override;
    KIGenericUiApp* GetApp() override { return m_pApp; }
    KIUiObjectFactory* GetFactory() override;
    // Throws KExceptionUiScript for a node that is neither "WINDOW" nor "WINDOWCLASS", or a "BgImage" that
    // does not load.
    bool InitFromNode(KPropTree* node, KIGenericUiWindow* owner) override;
    void KeepRunningOnDestroy() override;
    void Invalidate(const KRect* rect) override;
    void Update() override { RedrawIfDirty(); }
    void InvalidateAndUpdate(const KRect* rect) override;
    void SetVisible(bool show) override;
    void Move(int32_t x, int32_t y) override;
    void Destroy() override;
    void CloseIfInstance() override;
    void BlitToScreen(const KRect& destination, const KRect& source, KIUiPixmap* surface) override;
    bool SetMouseCapture(KIUiObject* object, bool capture) override;
    bool SetKeyboardFocus(KIUiObject* object, bool grab) override;
    void GetTitle(KWString& out) override { out = m_Title + m_TitlePostfix; }
    void LayoutRoot() override;
    void ShrinkBy(int32_t dx, int32_t dy) override;
    void SetPopup(KIUiObject* object, bool open) override;
    void ShowCursor(bool show) override;
    bool IsModal() override { return m_Modal; }
    void Enable() override;
    void Disable() override;
    int32_t BroadcastRelayMessage(const KWString& message, void* data) override;
    bool IsNamed(const KWString& name) override { return name == m_Name; }
    void SuppressDisplay() override;
    void ResumeDisplay() override;
    void Activate() override;
    void GetWindowRect(KRect& out) override;
    void SetCursor(KIUiPixmap* pixmap, int32_t hotX, int32_t hotY) override;

    // KIGenericUiWindow
    void Redraw() override;
    void Tick(double seconds) override;
    void KeyDown(int code, bool ctrl, bool shift) override;
    void Copy(KWString& out) override;
    void Cut(KWString& out) override;
    void Paste(const KWString& text) override;
    bool DoubleClick(int button, int32_t x, int32_t y, bool ctrl, bool shift) override;
    bool MouseDown(int button, int32_t x, int32_t y, bool ctrl, bool shift) override;
    void MouseUp(int button, int32_t x, int32_t y, bool ctrl, bool shift) override;
    void MouseMove(int32_t x, int32_t y) override;
    void MouseWheel(int32_t x, int32_t y, int32_t a, int32_t b) override;
    void OnCloseRequest() override;
    void MouseLeftWindow(int32_t x, int32_t y) override;
    void OnActivated() override;
    void OnDeactivated() override;
    void OnZOrderChanged() override;
    KRect* GetRect() override { return &m_WindowRect; }
    void RedrawIfDirty() override;
    KPixmap_Display* GetBackgroundPixels() override;
    bool OnResized(int32_t* width, int32_t* height) override;
    void GetMinimumSize(int32_t* width, int32_t* height) override;
    bool IsResizable() override { return m_Resizable; }
    bool HasGrowIcon() override { return m_HasGrowIcon; }
    bool IsToolWindow() override { return m_ToolWindow; }
    bool IsTopMost() override { return m_TopMost; }
    bool GetParentName(KWString& out) override;
    bool IsDraggableByBody() override { return m_DraggableByBody; }
    void OnMoved(int32_t x, int32_t y) override;

    KIOsUiWindow* GetOsWindow() const { return m_pOsWindow; }
    KIUiPixmap* GetBackBuffer() const { return m_pBackBuffer; }
    // The first object of the window's tree (for tests and tools).
    KIUiObject* GetFirstObject() const { return m_pFirstObject; }
    // The first of the window's menus (for tests and tools).
    KUiMenu* GetFirstMenu() const { return m_pFirstMenu; }
    // The dirty rectangles, in list order (for tests and tools).
    std::vector<KRect> GetDirtyRects() const;
    void SetChildrenEnabled(bool enabled);

private:
    struct DirtyNode {
        KRect rect;
        DirtyNode* next = nullptr;
    };
    void priAddDirty(const KRect& r);
    void priClearDirty();
    void priSetClientSize(int32_t width, int32_t height);
    bool priApplyClientSize(int32_t* width, int32_t* height);
    void priCentreOverlay(int32_t width, int32_t height);
    void priPresent(const KRect& c);
    void priDrawObjects(KIUiPixmap* target, const KRect& clip);
    void priSavePlacement();
    void priRestorePlacement();
    bool priClose(bool internal);
    RelayEvent* priEvent(const KWString& name);
    KIUiObject* priTopLevelHit(int32_t x, int32_t y);
    void priSetHover(KIUiObject* object, int32_t x, int32_t y);
    bool priUpdateDragCursor(KIUiObject* object, int32_t x, int32_t y);
    void priEndDrag();
    void priClosePopup();
    void priAddMenus(KPropTree* menuNode);

    DirtyNode* m_pDirtyHead = nullptr;
    DirtyNode* m_pDirtyTail = nullptr;
    std::vector<KIGenericUiWindow*> m_OwnedWindows;
    KIGenericUiApp* m_pApp;
    KUiWindowClass* m_pClass;
    bool m_MainWindow = false;
    bool m_CursorResetPending = true;
    bool m_ChildrenEnabled = true;
    bool m_DrawDisabledColor = false;
    bool m_NameFound = false;
    KWString m_Name;
    KWString m_Path;
    bool m_YellowRects = false;
    bool m_DisplayDisabled = false;
    KIOsUiWindow* m_pOsWindow = nullptr;
    KIGenericUiWindow* m_pPrevious = nullptr;
    KIGenericUiWindow* m_pNext = nullptr;
    KIGenericUiWindow* m_pOwner = nullptr;
    KUiMenu* m_pFirstMenu = nullptr;
    bool m_Visible = true;
    bool m_DisplaySuppressed = false;
    bool m_HasGrowIcon = false;
    bool m_ToolWindow = false;
    bool m_Modal = false;
    bool m_TopMost = false;
    bool m_RedrawPending = false;
    KIUiObject* m_pFirstObject = nullptr;
    KIUiObject* m_pPopup = nullptr;
    KUiMultiLangString* m_pTitleString = nullptr;
    KWString m_Title;
    KWString m_TitlePostfix;
    KIUiPixmap* m_pBackground = nullptr;
    KIUiPixmap* m_pBackBuffer = nullptr;
    bool m_Resizable = false;
    bool m_HasBgImage = false;
    bool m_DefaultLook = false;
    bool m_HideOnClose = false;
    bool m_MessageOnClose = false;
    KIUiPixmap* m_pBgImage = nullptr;
    int32_t m_BgX0 = -1, m_BgX1 = -1, m_BgY0 = -1, m_BgY1 = -1;
    KUiColor m_BgColor{198, 100, 88, 255};
    KUiColor m_FrameColor{0, 0, 0, 255};
    int32_t m_FrameThickness = -1;
    KRect m_WindowRect;
    KIUiObject* m_pFocus = nullptr;
    KIUiObject* m_pCapture = nullptr;
    KIUiObject* m_pPressed[3] = {nullptr, nullptr, nullptr};
    KIUiObject* m_pHover = nullptr;
    KWString m_ParentName;
    bool m_ParentGiven = false;
    bool m_CenterOnParent = false;
    bool m_Cascade = false;
    bool m_SaveState = false;
    RelayEvent* m_pFirstEvent = nullptr;
    bool m_DraggableByBody = false;
    KUiColor m_DisabledColor{0, 0, 0, 128};
    KIUiObject* m_pOverlay = nullptr;
    bool m_Dragging = false;
    bool m_DragArmed = false;
    int32_t m_DragStartX = 0, m_DragStartY = 0;
    KWString m_DragPayload;
    int m_KeySequence = 0;
};

// A new window initialised from node (InitFromNode's verdict is not reported: the window is returned).
KIGenericUiWindow* CreateGenericUiWindow(KIGenericUiApp* application, KPropTree* node, KUiWindowClass* windowClass,
                                         KIGenericUiWindow* owner);
void DeleteGenericUiWindow(KIGenericUiWindow*& window);
