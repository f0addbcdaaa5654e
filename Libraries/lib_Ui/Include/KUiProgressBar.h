#pragma once
// "PROGRESSBAR": a background picture covered from the left by a foreground picture as wide as the progress
// fraction says. With "SlideRate" the foreground's content slides right by that many pixels a second, moved
// by the window's tick and wrapping at the foreground's width.
#include <cstdint>

#include "KUiControl.h"
#include "KUiObjectFactory.h"

class KUiProgressBar : public KUiControl {
public:
    KUiProgressBar();
    ~KUiProgressBar() override;

    // "Progress" (double), "Reset", "Show", "Hide".
    bool UiRelayMessage(const KWString& message, void* data) override;
    // Fails unless both pictures load.
    bool InitUiObject(KIGenericUiApp* application, KIGenericUiWindow* window, KIUiObject* parent,
                      KPropTree* node) override;
    bool SetRect(int32_t x, int32_t y, int32_t width, int32_t height) override;
    void Draw(KIUiPixmap* surface, int32_t dx, int32_t dy, const KRect& clip) override;
    void Tick(int32_t elapsedMs) override;

    double GetProgress() const { return m_Progress; }
    int32_t GetFilledWidth() const { return m_Filled; }
    int32_t GetSlideOffset() const { return m_Offset; }

    static bool RegisterCreator(KIUiObjectFactory* factory);

private:
    void priUpdate();

    bool m_Visible = true;
    KIUiPixmap* m_pBackground = nullptr;
    KIUiPixmap* m_pForeground = nullptr;
    double m_Progress = 0;
    int32_t m_SlideRate = 0;
    uint64_t m_Accumulated = 0;
    int32_t m_Filled = 0;
    int32_t m_Offset = 0;
};

class KUiProgressBarCreator : public KIUiObjectCreator {
public:
    KIUiObject* Create() override;
};
