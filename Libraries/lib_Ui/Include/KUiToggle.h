#pragma once
// "TOGGLE": a two-state button made of child controls, an "ON" and an "OFF" picture (IMAGE controls) and an
// optional "TEXT" label. As a toggle or check box a press flips it; as a radio button or tab a press only
// turns it on and then sends its "ONRELAY" message, the script turning the others off with "Off".
#include "KUiControl.h"
#include "KUiObjectFactory.h"

class KUiToggle : public KUiControl {
public:
    KUiToggle();

    // Connects every child, then resolves the "ONRELAY" target through the application.
    bool PostCreationConnect() override;
    // "On", "Off"; false for anything else.
    bool UiRelayMessage(const KWString& message, void* data) override;
    // Fails without its "ON" or "OFF" picture.
    bool InitUiObject(KIGenericUiApp* application, KIGenericUiWindow* window, KIUiObject* parent,
                      KPropTree* node) override;
    // Its fixed size at (x, y); the pictures and the label get the same rectangle.
    bool SetRect(int32_t x, int32_t y, int32_t width, int32_t height) override;
    bool Relayout() override;
    void Draw(KIUiPixmap* surface, int32_t dx, int32_t dy, const KRect& clip) override;
    void Tick(int32_t elapsedMs) override;
    KIUiObject* HitTest(int32_t x, int32_t y) override;
    bool MouseDown(int32_t x, int32_t y, bool ctrl, bool shift) override;
    void MouseUp(int32_t x, int32_t y, bool ctrl, bool shift) override;

    bool GetState() const { return m_State; }
    bool IsFlipMode() const { return m_FlipMode; }

    static bool RegisterCreator(KIUiObjectFactory* factory);

private:
    // Makes a child of that keyword from element and appends it; null when it fails.
    KIUiObject* priCreateChild(const char16_t* keyword, KPropTree* element);
    void priComputeSize();

    KIUiObject* m_pOnImage = nullptr;   // children, in the child list
    KIUiObject* m_pOffImage = nullptr;
    KIUiObject* m_pLabel = nullptr;
    bool m_State = true;
    bool m_Pressed = false;
    bool m_FlipMode = true;
    bool m_HasRelay = false;
    KWString m_RelayName;
    KWString m_RelayMessage;
    KIUiRelay* m_pRelayTarget = nullptr;
};

class KUiToggleCreator : public KIUiObjectCreator {
public:
    KIUiObject* Create() override;
};
