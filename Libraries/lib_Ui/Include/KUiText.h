#pragma once
// "TEXT": one of the application's display strings, rendered in the current language (greyed when
// disabled), at least as large as its text; follows the language switches and fires "ON_PRESS" on a click.
#include "KUiControl.h"
#include "KUiObjectFactory.h"

class KUiMultiLangString;

class KUiText : public KUiControl {
public:
    KUiText();
    // Leaves the application's language listeners (also when the shut-down broadcast never reached it).
    ~KUiText() override;

    // "Show", "Hide", "ToggleVisibility", "Visibility" (bool*), "SetEnabled" (bool*), "Set Language"
    // (KWString*), "GetDisplayString" (KWString* out), "we're goin' bye-bye"; false for anything else.
    bool UiRelayMessage(const KWString& message, void* data) override;
    // Fails without a "DisplayString" that names one of the application's.
    bool InitUiObject(KIGenericUiApp* application, KIGenericUiWindow* window, KIUiObject* parent,
                      KPropTree* node) override;
    // At (x, y) with the text's own size, whatever it is offered.
    bool SetRect(int32_t x, int32_t y, int32_t width, int32_t height) override;
    // Renders the text again and takes its size.
    bool Relayout() override;
    void Draw(KIUiPixmap* surface, int32_t dx, int32_t dy, const KRect& clip) override;
    KIUiObject* HitTest(int32_t x, int32_t y) override;
    // Fires "ON_PRESS" and takes the press.
    bool MouseDown(int32_t x, int32_t y, bool ctrl, bool shift) override;

    bool IsVisible() const { return m_Visible; }
    bool IsEnabled() const { return m_Enabled; }
    const KIUiPixmap* GetRenderedText() const { return m_pRendered; }

    static bool RegisterCreator(KIUiObjectFactory* factory);

private:
    void priRender();
    void priSetVisible(bool visible);

    KUiMultiLangString* m_pString = nullptr;  // the application's
    KIUiPixmap* m_pRendered = nullptr;
    bool m_Listening = false;
    bool m_Visible = true;
    bool m_Enabled = true;
    bool m_CenterJust = true;
    bool m_RightJust = true;
    KUiLayoutKeys m_Keys;
    int32_t m_Width = 0;
    int32_t m_Height = 0;
    RelayEvent* m_pPressEvent = nullptr;
};

class KUiTextCreator : public KIUiObjectCreator {
public:
    KIUiObject* Create() override;
};
