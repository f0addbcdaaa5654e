#pragma once
// "HLINE" and "VLINE": a line one pixel thick, horizontal or vertical. Never hit.
#include "KUiControl.h"
#include "KUiObjectFactory.h"

class KUiHVLine : public KUiControl {
public:
    KUiHVLine();

    // HLINE needs "MinHSize", "HStretch" and "Color"; VLINE "MinVSize", "VStretch" and "Color".
    bool InitUiObject(KIGenericUiApp* application, KIGenericUiWindow* window, KIUiObject* parent,
                      KPropTree* node) override;
    bool SetRect(int32_t x, int32_t y, int32_t width, int32_t height) override;
    void Draw(KIUiPixmap* surface, int32_t dx, int32_t dy, const KRect& clip) override;
    KIUiObject* HitTest(int32_t, int32_t) override { return nullptr; }

    static bool RegisterCreator(KIUiObjectFactory* factory);

private:
    bool m_Horizontal = true;
    KColor m_Color{0, 0, 0, 255};
    KUiLayoutKeys m_Keys;
};

class KUiHVLineCreator : public KIUiObjectCreator {
public:
    KIUiObject* Create() override;
};
