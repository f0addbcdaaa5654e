#pragma once
// "TIMER": an invisible one-shot countdown driven by the window's tick. "Begin" starts it; "ON_TICK" reports
// elapsed / period (a double) every tick interval and 1.0 at the end, then "ON_END" fires. It can be paused,
// resumed and cancelled.
#include <cstdint>

#include "KUiControl.h"
#include "KUiObjectFactory.h"

class KUiTimer : public KUiControl {
public:
    KUiTimer();

    // "Begin", "SetTimer" (two int32_t: period, tick), "Pause", "Unpause", "Cancel".
    bool UiRelayMessage(const KWString& message, void* data) override;
    // "_Period" and "_Tick"; no size; always succeeds.
    bool InitUiObject(KIGenericUiApp* application, KIGenericUiWindow* window, KIUiObject* parent,
                      KPropTree* node) override;
    bool SetRect(int32_t x, int32_t y, int32_t width, int32_t height) override;
    void Tick(int32_t elapsedMs) override;

    bool IsRunning() const { return m_Running; }
    bool IsPaused() const { return m_Paused; }

    static bool RegisterCreator(KIUiObjectFactory* factory);

private:
    void priFireTick(double fraction);

    bool m_Running = false;
    bool m_Paused = false;
    uint32_t m_Period = 0;
    uint32_t m_TickInterval = 0;
    uint32_t m_Elapsed = 0;
    uint32_t m_SinceTick = 0;
    RelayEvent* m_pOnBegin = nullptr;
    RelayEvent* m_pOnTick = nullptr;
    RelayEvent* m_pOnPaused = nullptr;
    RelayEvent* m_pOnUnpaused = nullptr;
    RelayEvent* m_pOnCanceled = nullptr;
    RelayEvent* m_pOnEnd = nullptr;
};

class KUiTimerCreator : public KIUiObjectCreator {
public:
    KIUiObject* Create() override;
};
