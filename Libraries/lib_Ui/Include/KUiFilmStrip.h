#pragma once
// "FILMSTRIP": one frame of a strip picture whose frames are stacked top to bottom. It can play a range of
// frames in a loop from the window's tick, holding the first frame of the range longer when asked
// ("Animate" "first-last,period,hold"). A click hits it only where the current frame is opaque.
#include <cstdint>

#include "KUiControl.h"
#include "KUiObjectFactory.h"

class KUiFilmStrip : public KUiControl {
public:
    KUiFilmStrip();
    ~KUiFilmStrip() override;

    // "Show", "Hide", "ToggleVisibility", "Visibility" (one byte), "FrameNum" (int32_t), "StrFrameNum"
    // (KWString), "IncrementFrame", "DecrementFrame", "Play", "Stop", "SetPlay" (one byte), "Animate" (KWString).
    bool UiRelayMessage(const KWString& message, void* data) override;
    // Fails without "File_Image" or "NumFrames", when the picture does not load or does not divide into
    // frames at least 2 pixels high.
    bool InitUiObject(KIGenericUiApp* application, KIGenericUiWindow* window, KIUiObject* parent,
                      KPropTree* node) override;
    bool SetRect(int32_t x, int32_t y, int32_t width, int32_t height) override;
    void Draw(KIUiPixmap* surface, int32_t dx, int32_t dy, const KRect& clip) override;
    void Tick(int32_t elapsedMs) override;
    // Itself where the current frame's pixel has an alpha above 128.
    KIUiObject* HitTest(int32_t x, int32_t y) override;

    int32_t GetFrame() const { return m_Frame; }
    int32_t GetFrameCount() const { return m_Count; }
    bool IsPlaying() const { return m_Playing; }
    bool IsPlayable() const { return m_Playable; }
    bool IsVisible() const { return m_Visible; }

    static bool RegisterCreator(KIUiObjectFactory* factory);

private:
    // value wrapped into 0 .. count - 1.
    int32_t priWrap(int64_t value) const;
    void priShow(int32_t frame);
    void priPlay();
    void priStop();
    bool priAnimate(const KWString& text);

    bool m_Visible = true;
    KIUiPixmap* m_pStrip = nullptr;
    int32_t m_Count = 1;
    int32_t m_Frame = 0;
    int32_t m_RangeStart = 0;
    int32_t m_RangeEnd = 0;
    int32_t m_Hold = 0;
    int32_t m_Period = 1000;
    bool m_Playable = false;
    bool m_Playing = false;
    uint32_t m_Elapsed = 0;
    int32_t m_FrameWidth = 0;
    int32_t m_FrameHeight = 0;
};

class KUiFilmStripCreator : public KIUiObjectCreator {
public:
    KIUiObject* Create() override;
};
