#pragma once
// "HBOX" and "VBOX": the layout container. Creates its children from its child elements, takes its minimum
// sizes from theirs, shares its main-axis length among them by stretch (minimums and caps first, rounding to
// the last stretching child) and gives each the whole cross extent. Collapses on command.
#include "KUiControl.h"
#include "KUiObjectFactory.h"

class KUiHVBox : public KUiControl {
public:
    KUiHVBox();

    bool PostCreationConnect() override;
    KIUiRelay* FindObject(const KWString& name) override;
    // "HideChildren", "ShowChildren", "Visibility" (bool*), "ToggleChildren"; true for every message.
    bool UiRelayMessage(const KWString& message, void* data) override;
    bool InitUiObject(KIGenericUiApp* application, KIGenericUiWindow* window, KIUiObject* parent,
                      KPropTree* node) override;
    bool IsHBox() override { return m_Horizontal; }
    bool IsVBox() override { return !m_Horizontal; }
    // False when the rectangle is below the minimum or the fixed children do not fit.
    bool SetRect(int32_t x, int32_t y, int32_t width, int32_t height) override;
    bool Relayout() override;
    void Draw(KIUiPixmap* surface, int32_t dx, int32_t dy, const KRect& clip) override;
    void Tick(int32_t elapsedMs) override;
    KIUiObject* HitTest(int32_t x, int32_t y) override;
    // A box shown as a popup (a pull-down's drop-down) tells its parent that the window closed it.
    void PopupClosed() override;

    bool IsCollapsed() const { return m_ChildrenHidden; }

    static bool RegisterCreator(KIUiObjectFactory* factory);

private:
    // The box's own records from its children's (main stretch left to the caller).
    void priComputeOwnLayout();
    void priCollapse();
    void priOpen();

    bool m_Horizontal = false;
    int32_t m_ConfiguredHStretch = 0;
    int32_t m_ConfiguredVStretch = 0;
    bool m_ChildrenHidden = false;
    KLayoutObject m_SavedHLayout;
    KLayoutObject m_SavedVLayout;
};

class KUiHVBoxCreator : public KIUiObjectCreator {
public:
    KIUiObject* Create() override;
};
