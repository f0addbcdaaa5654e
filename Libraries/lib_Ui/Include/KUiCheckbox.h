#pragma once
// "CHECKBOX" and "RADIO_BUTTON": a two-state picture control (on, off, and an optional disabled picture) that
// reports a press through its events; a radio button that is on cannot be switched off by the user.
#include "KUiControl.h"
#include "KUiObjectFactory.h"

class KUiCheckbox : public KUiControl {
public:
    KUiCheckbox();
    ~KUiCheckbox() override;

    // "Select"/"SetTrue", "Deselect"/"SetFalse", "SetState" (one byte), "Disable", "Enable", "SetEnabled"
    // (one byte), "Press", "StateQuery" (one byte out), and the system's broadcasts; false for anything else.
    bool UiRelayMessage(const KWString& message, void* data) override;
    // Fails without loadable on and off pictures of one size.
    bool InitUiObject(KIGenericUiApp* application, KIGenericUiWindow* window, KIUiObject* parent,
                      KPropTree* node) override;
    bool SetRect(int32_t x, int32_t y, int32_t width, int32_t height) override;
    void Draw(KIUiPixmap* surface, int32_t dx, int32_t dy, const KRect& clip) override;
    KIUiObject* HitTest(int32_t x, int32_t y) override;
    // A press; always taken.
    bool MouseDown(int32_t x, int32_t y, bool ctrl, bool shift) override;

    bool GetState() const { return m_State; }
    bool IsDisabled() const { return m_Disabled; }
    bool IsRadio() const { return m_Radio; }

    static bool RegisterCreator(KIUiObjectFactory* factory);

private:
    void priPress();
    void priSetState(bool state);

    bool m_Hidden = false;
    bool m_Disabled = false;
    bool m_State = false;
    bool m_Radio = false;
    KIUiPixmap* m_pOn = nullptr;
    KIUiPixmap* m_pOff = nullptr;
    KIUiPixmap* m_pDisabled = nullptr;
    KUiLayoutKeys m_Keys;
    int32_t m_MinWidth = 0;
    int32_t m_MinHeight = 0;
    RelayEvent* m_pOnTrue = nullptr;
    RelayEvent* m_pOnFalse = nullptr;
    RelayEvent* m_pOnState = nullptr;
};

class KUiCheckboxCreator : public KIUiObjectCreator {
public:
    KIUiObject* Create() override;
};
