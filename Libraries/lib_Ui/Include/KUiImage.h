#pragma once
// "IMAGE": a picture scaled to the control's rectangle, optionally holding one box drawn over it; shown,
// hidden and given a new picture by command; "ON_PRESS" on a click; transparent pixels may let clicks through.
// "RESIZED_IMAGE": a picture stretched around a stretch rectangle, its borders keeping their pixels.
#include "KUiControl.h"
#include "KUiObjectFactory.h"

class KUiImage : public KUiControl {
public:
    KUiImage();
    ~KUiImage() override;

    KIUiRelay* FindObject(const KWString& name) override;
    // "SetImage" (KIUiImageSource*; answers false), "Show", "Hide", "ToggleVisibility", "Visibility" (bool*).
    bool UiRelayMessage(const KWString& message, void* data) override;
    // Fails only when a fixed axis is smaller than the content's minimum.
    bool InitUiObject(KIGenericUiApp* application, KIGenericUiWindow* window, KIUiObject* parent,
                      KPropTree* node) override;
    bool SetRect(int32_t x, int32_t y, int32_t width, int32_t height) override;
    bool Relayout() override;
    void Draw(KIUiPixmap* surface, int32_t dx, int32_t dy, const KRect& clip) override;
    void Tick(int32_t elapsedMs) override;
    KIUiObject* HitTest(int32_t x, int32_t y) override;
    // Fires "ON_PRESS" and takes the press.
    bool MouseDown(int32_t x, int32_t y, bool ctrl, bool shift) override;

    bool IsVisible() const { return m_Visible; }
    const KIUiPixmap* GetImage() const { return m_pImage; }
    const KIUiPixmap* GetScaledImage() const { return m_pScaled; }

    static bool RegisterCreator(KIUiObjectFactory* factory);

private:
    // The minimums from the keys, the picture and the content; false when a fixed axis is too small.
    bool priComputeMinimums();
    void priRebuildScaled();
    void priSetVisible(bool visible);

    KIUiPixmap* m_pImage = nullptr;
    KIUiPixmap* m_pScaled = nullptr;
    bool m_Visible = true;
    bool m_UseAlphaForHitTest = true;
    KUiLayoutKeys m_Keys;
    int32_t m_MinWidth = 0;
    int32_t m_MinHeight = 0;
    RelayEvent* m_pPressEvent = nullptr;
};

class KUiImageCreator : public KIUiObjectCreator {
public:
    KIUiObject* Create() override;
};

class KUiResizedImage : public KUiControl {
public:
    KUiResizedImage();
    ~KUiResizedImage() override;

    // Fails without one of its six keys, when the picture does not load or the stretch rectangle does not
    // lie inside the picture with at least one pixel of border on the left and at the top.
    bool InitUiObject(KIGenericUiApp* application, KIGenericUiWindow* window, KIUiObject* parent,
                      KPropTree* node) override;
    bool SetRect(int32_t x, int32_t y, int32_t width, int32_t height) override;
    void Draw(KIUiPixmap* surface, int32_t dx, int32_t dy, const KRect& clip) override;
    KIUiObject* HitTest(int32_t x, int32_t y) override;

    const KIUiPixmap* GetSizedImage() const { return m_pSized; }

    static bool RegisterCreator(KIUiObjectFactory* factory);

private:
    KIUiPixmap* m_pImage = nullptr;
    KIUiPixmap* m_pSized = nullptr;
    KRect m_Stretch;
    KUiLayoutKeys m_Keys;
    int32_t m_MinWidth = 0;
    int32_t m_MinHeight = 0;
};

class KUiResizedImageCreator : public KIUiObjectCreator {
public:
    KIUiObject* Create() override;
};

// True when (x, y) falls on a pixel of image, laid at rect's top-left, whose alpha is above 128.
bool UiAlphaHit(const KIUiPixmap* image, const KRect& rect, int32_t x, int32_t y);
// True when r lies inside a width x height picture with left <= right and top <= bottom.
bool UiRectInsidePicture(const KRect& r, int32_t width, int32_t height);
