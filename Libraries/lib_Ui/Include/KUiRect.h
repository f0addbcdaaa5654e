#pragma once
// "RECT": a rectangle filled with one colour, optionally holding one box drawn over it.
#include "KUiControl.h"
#include "KUiObjectFactory.h"

class KUiRect : public KUiControl {
public:
    KUiRect();

    bool PostCreationConnect() override;
    KIUiRelay* FindObject(const KWString& name) override;
    // "SetColor" (wide string); true for every message.
    bool UiRelayMessage(const KWString& message, void* data) override;
    // Fails without one of its five keys, or when a fixed axis is smaller than the content's minimum.
    bool InitUiObject(KIGenericUiApp* application, KIGenericUiWindow* window, KIUiObject* parent,
                      KPropTree* node) override;
    bool SetRect(int32_t x, int32_t y, int32_t width, int32_t height) override;
    bool Relayout() override;
    void Draw(KIUiPixmap* surface, int32_t dx, int32_t dy, const KRect& clip) override;
    void Tick(int32_t elapsedMs) override;
    KIUiObject* HitTest(int32_t x, int32_t y) override;

    KUiColor GetColor() const { return m_Color; }

    static bool RegisterCreator(KIUiObjectFactory* factory);

private:
    // The minimums from the configured ones and the content's; false when a fixed axis is too small.
    bool priComputeMinimums();

    KColor m_Color{128, 128, 128, 255};
    KUiLayoutKeys m_Keys;
    int32_t m_MinWidth = 0;
    int32_t m_MinHeight = 0;
};

class KUiRectCreator : public KIUiObjectCreator {
public:
    KIUiObject* Create() override;
};
