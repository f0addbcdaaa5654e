#pragma once
// "CLOCK": the time of day as hours and minutes ("%02i:%02i") in the control's own font, from UTC plus a
// configured number of hours ("GmtDelta"), checked on every UI tick and rendered again when the second changes.
#include <cstdint>

#include "KUiControl.h"
#include "KUiObjectFactory.h"

class KIUiPixmap;

class KUiClock : public KUiControl {
public:
    // Seconds since 1970-01-01 00:00:00 UTC.
    using TimeSource = int64_t (*)();
    // Replaces where every clock reads the time; null: the system's clock.
    static void SetTimeSource(TimeSource source);

    KUiClock();
    ~KUiClock() override;

    // Throws KExceptionUiScript without "Font", "FontSize" or "FontColor".
    bool InitUiObject(KIGenericUiApp* application, KIGenericUiWindow* window, KIUiObject* parent,
                      KPropTree* node) override;
    // Places the clock at (x, y) at the size of its text.
    bool SetRect(int32_t x, int32_t y, int32_t width, int32_t height) override;
    void Draw(KIUiPixmap* surface, int32_t dx, int32_t dy, const KRect& clip) override;
    void Tick(int32_t elapsedMs) override;
    KIUiObject* HitTest(int32_t x, int32_t y) override;

    const KWString& GetText() const { return m_Text; }
    const KIUiPixmap* GetImage() const { return m_pImage; }
    // How many times the text was rendered.
    int32_t GetRenderCount() const { return m_Renders; }

    static bool RegisterCreator(KIUiObjectFactory* factory);

private:
    void priUpdate(bool layout);

    KWString m_Text;
    KUiOwnFont m_OwnFont;
    int32_t m_HourOffset = 0;
    int64_t m_LastTime = 0;
    KIUiPixmap* m_pImage = nullptr;
    int32_t m_Renders = 0;
};

class KUiClockCreator : public KIUiObjectCreator {
public:
    KIUiObject* Create() override;
};
