#pragma once
// "BUTTON": the push button. Four states (normal, mouse over, pressed, disabled) shown as flat colours or as
// state images stretched to its size, an optional label box inside, press, down, up and enabled-state events,
// a press repeated while held when asked, and the keys 3, 13 and 32 as a press.
#include "KUiControl.h"
#include "KUiObjectFactory.h"

class KUiButton : public KUiControl {
public:
    enum State { Normal = 0, MouseOver = 1, Pressed = 2, Disabled = 3 };

    KUiButton();
    ~KUiButton() override;

    KIUiRelay* FindObject(const KWString& name) override;
    // "Post Creation Initialization", "Enable", "Disable", "ToggleEnabled", "SetEnabled" (bool*), "Show",
    // "Hide", "GrabKeyboard"; false for anything else.
    bool UiRelayMessage(const KWString& message, void* data) override;
    bool InitUiObject(KIGenericUiApp* application, KIGenericUiWindow* window, KIUiObject* parent,
                      KPropTree* node) override;
    bool SetRect(int32_t x, int32_t y, int32_t width, int32_t height) override;
    bool Relayout() override;
    void Draw(KIUiPixmap* surface, int32_t dx, int32_t dy, const KRect& clip) override;
    void Tick(int32_t elapsedMs) override;
    KIUiObject* HitTest(int32_t x, int32_t y) override;
    bool MouseDown(int32_t x, int32_t y, bool ctrl, bool shift) override;
    void MouseUp(int32_t x, int32_t y, bool ctrl, bool shift) override;
    void MouseEnter(int32_t x, int32_t y) override;
    void MouseLeave(int32_t x, int32_t y) override;
    void KeyDown(int code, bool ctrl, bool shift) override;

    State GetState() const { return m_State; }
    bool HasImages() const { return m_HasImages; }
    bool IsHidden() const { return m_Hidden; }

    static bool RegisterCreator(KIUiObjectFactory* factory);

private:
    void priLoadImages(KPropTree* node);
    void priComputeMinimums();
    // Sets the state and drops the state image.
    void priSetState(State state);
    void priChangeEnabled(State state);
    KIUiPixmap* priStateImage();

    State m_State = Normal;
    bool m_Held = false;
    bool m_Repeating = false;
    int32_t m_RepeatTime = 0;
    bool m_Hidden = false;
    bool m_Repeat = false;
    int32_t m_RepeatDelay = 200;
    KUiColor m_Colors[4];
    int32_t m_PressedLabelX = 0;
    int32_t m_PressedLabelY = 0;
    bool m_HasImages = false;
    KIUiPixmap* m_pImages[4] = {};  // by state; mouse over and disabled are optional
    bool m_NoLabel = false;
    KRect m_ScalingRect;
    KRect m_LabelRect;
    bool m_ScaleWhole = false;
    bool m_ScaleY = false;
    KIUiPixmap* m_pStateImage = nullptr;
    KUiLayoutKeys m_Keys;
    int32_t m_MinWidth = 0;
    int32_t m_MinHeight = 0;
    RelayEvent* m_pOnPress = nullptr;
    RelayEvent* m_pOnDown = nullptr;
    RelayEvent* m_pOnUp = nullptr;
    RelayEvent* m_pOnEnabledState = nullptr;
};

class KUiButtonCreator : public KIUiObjectCreator {
public:
    KIUiObject* Create() override;
};
