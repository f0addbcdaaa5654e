#pragma once
// "SPACER": an invisible filler along its box's main axis. With "_SlidingDivider" the user drags it to move
// room between its two neighbours; their stretches then count in pixels.
#include "KUiControl.h"
#include "KUiObjectFactory.h"

class KUiSpacer : public KUiControl {
public:
    KUiSpacer();
    ~KUiSpacer() override;

    // Fails outside a box or without "Stretch".
    bool InitUiObject(KIGenericUiApp* application, KIGenericUiWindow* window, KIUiObject* parent,
                      KPropTree* node) override;
    KIUiObject* HitTest(int32_t x, int32_t y) override;
    bool MouseDown(int32_t x, int32_t y, bool ctrl, bool shift) override;
    void MouseMove(int32_t x, int32_t y) override;
    void MouseUp(int32_t x, int32_t y, bool ctrl, bool shift) override;
    void MouseEnter(int32_t x, int32_t y) override;
    void MouseLeave(int32_t x, int32_t y) override;

    bool IsSlidingDivider() const { return m_SlidingDivider; }
    bool IsDragging() const { return m_Dragging; }

    static bool RegisterCreator(KIUiObjectFactory* factory);

private:
    // A divider with a neighbour on each side.
    bool priCanSlide() const;

    bool m_Horizontal = true;  // the drag axis: the box's main axis
    bool m_SlidingDivider = false;
    bool m_Dragging = false;
    int32_t m_LastX = 0;
    int32_t m_LastY = 0;
    KIUiPixmap* m_pCursor = nullptr;
    bool m_HasCursor = false;
    int32_t m_CursorX = 0;
    int32_t m_CursorY = 0;
};

class KUiSpacerCreator : public KIUiObjectCreator {
public:
    KIUiObject* Create() override;
};
