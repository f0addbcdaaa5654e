#pragma once
// "BLINK": two IMAGE children named "On" and "Off" shown in turn, flipping every "Period" milliseconds of
// the window's tick; it starts with the off image. "FILMSTRIP" (KUiFilmStrip.h) is its sibling.
#include <cstdint>

#include "KUiControl.h"
#include "KUiObjectFactory.h"

class KUiBlink : public KUiControl {
public:
    KUiBlink();
    ~KUiBlink() override;

    bool PostCreationConnect() override;
    // Throws KExceptionUiScript without "Period", without both images or with images of unequal size.
    bool InitUiObject(KIGenericUiApp* application, KIGenericUiWindow* window, KIUiObject* parent,
                      KPropTree* node) override;
    bool SetRect(int32_t x, int32_t y, int32_t width, int32_t height) override;
    void Draw(KIUiPixmap* surface, int32_t dx, int32_t dy, const KRect& clip) override;
    void Tick(int32_t elapsedMs) override;

    bool IsOn() const { return m_On; }

    static bool RegisterCreator(KIUiObjectFactory* factory);

private:
    void priDeleteImages();

    KIUiObject* m_pOnImage = nullptr;
    KIUiObject* m_pOffImage = nullptr;
    bool m_On = false;
    int32_t m_Period = 0;
    uint32_t m_Accumulated = 0;
    int32_t m_Width = 0;
    int32_t m_Height = 0;
};

class KUiBlinkCreator : public KIUiObjectCreator {
public:
    KIUiObject* Create() override;
};
