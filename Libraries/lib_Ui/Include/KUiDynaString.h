#pragma once
// "DYNA_STRING": a one-line label drawn with an application font that shows a display string of the script (in
// the current language) or a literal text set by command; its layout size follows what it shows.
#include "KRelayEvent.h"
#include "KUiControl.h"
#include "KUiFont.h"
#include "KUiObjectFactory.h"

class KIUiPixmap;

class KUiDynaString : public KUiControl {
public:
    KUiDynaString();
    // Leaves the language listeners; deletes the image.
    ~KUiDynaString() override;

    // "Set Language", "we're goin' bye-bye", "SetText" (string), "SetDisplayString" (name); false for others.
    bool UiRelayMessage(const KWString& message, void* data) override;
    // Fails without an "AppFont" that names a font, or without "MinHSize", "HStretch" or "VStretch".
    bool InitUiObject(KIGenericUiApp* application, KIGenericUiWindow* window, KIUiObject* parent,
                      KPropTree* node) override;
    bool SetRect(int32_t x, int32_t y, int32_t width, int32_t height) override;
    void Draw(KIUiPixmap* surface, int32_t dx, int32_t dy, const KRect& clip) override;
    KIUiObject* HitTest(int32_t x, int32_t y) override;
    // Fires "ON_PRESS"; takes the press.
    bool MouseDown(int32_t x, int32_t y, bool ctrl, bool shift) override;

    const KIUiPixmap* GetImage() const { return m_pImage; }
    bool IsLiteral() const { return m_Literal; }

    static bool RegisterCreator(KIUiObjectFactory* factory);

private:
    void priBuild();
    void priResize();

    int32_t m_MinWidth = 0;
    int32_t m_MinHeight = 0;
    int32_t m_HStretch = 0;
    int32_t m_VStretch = 0;
    KUiFont* m_pFont = nullptr;  // the application's
    bool m_Listening = false;
    KWString m_StringName;
    KWString m_LiteralText;
    bool m_Literal = false;
    KIUiPixmap* m_pImage = nullptr;
    bool m_Centred = false;
    RelayEvent* m_pPressEvent = nullptr;
};

class KUiDynaStringCreator : public KIUiObjectCreator {
public:
    KIUiObject* Create() override;
};
