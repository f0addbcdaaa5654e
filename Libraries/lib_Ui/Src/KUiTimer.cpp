#include "KUiTimer.h"

#include <new>

#include "KPropTree.h"

KUiTimer::KUiTimer()
{
    m_pTypeKeyword = "TIMER";
    m_pOnBegin = AddEvent(KWString(u"ON_BEGIN"));
    m_pOnTick = AddEvent(KWString(u"ON_TICK"));
    m_pOnPaused = AddEvent(KWString(u"ON_PAUSED"));
    m_pOnUnpaused = AddEvent(KWString(u"ON_UNPAUSED"));
    m_pOnCanceled = AddEvent(KWString(u"ON_CANCELED"));
    m_pOnEnd = AddEvent(KWString(u"ON_END"));
}

bool KUiTimer::InitUiObject(KIGenericUiApp* application, KIGenericUiWindow* window, KIUiObject* parent,
                            KPropTree* node)
{
    KUiObject::InitUiObject(application, window, parent, node);
    if (node) {
        m_Period = static_cast<uint32_t>(node->GetInt(KWString(u"_Period"), 0));
        m_TickInterval = static_cast<uint32_t>(node->GetInt(KWString(u"_Tick"), 0));
    }
    SetLayoutRecord(m_HLayout, 0, 0);
    SetLayoutRecord(m_VLayout, 0, 0);
    m_Rect = KRect();
    return true;
}

bool KUiTimer::SetRect(int32_t, int32_t, int32_t, int32_t)
{
    // Invisible: it never takes room.
    m_Rect = KRect();
    return true;
}

void KUiTimer::priFireTick(double fraction)
{
    m_pOnTick->Fire(&fraction);
}

bool KUiTimer::UiRelayMessage(const KWString& message, void* data)
{
    if (message == u"Begin") {
        if (!m_Running && !m_Paused && m_TickInterval > 0 && m_Period > m_TickInterval) {
            m_Elapsed = 0;
            m_SinceTick = 0;
            m_Running = true;
            m_pOnBegin->Fire(nullptr);
        }
        return true;
    }
    if (message == u"SetTimer") {
        // The period and the tick interval.
        const int32_t* values = UiRelayData<int32_t>(data, 2);
        if (!values)
            return false;
        if (!m_Running && !m_Paused) {
            m_Period = static_cast<uint32_t>(values[0]);
            m_TickInterval = static_cast<uint32_t>(values[1]);
        }
        return true;
    }
    if (message == u"Pause") {
        if (m_Running) {
            m_Running = false;
            m_Paused = true;
            m_pOnPaused->Fire(nullptr);
        }
        return true;
    }
    if (message == u"Unpause") {
        if (m_Paused) {
            m_Paused = false;
            m_Running = true;
            m_pOnUnpaused->Fire(nullptr);
        }
        return true;
    }
    if (message == u"Cancel") {
        if (m_Paused) {
            m_Paused = false;
            m_pOnUnpaused->Fire(nullptr);
            m_Running = false;
            m_pOnCanceled->Fire(nullptr);
        } else if (m_Running) {
            m_Running = false;
            m_pOnCanceled->Fire(nullptr);
        }
        return true;
    }
    return false;
}

void KUiTimer::Tick(int32_t elapsedMs)
{
    if (!m_Running || m_Paused)
        return;
    const uint32_t t = static_cast<uint32_t>(elapsedMs);
    m_Elapsed += t;
    m_SinceTick += t;
    // A relay may pause or cancel the timer from inside these events; the countdown stops with it.
    while (m_Running && m_SinceTick > m_TickInterval) {
        m_SinceTick -= m_TickInterval;
        priFireTick(double(m_Elapsed) / double(m_Period));
    }
    if (m_Running && m_Elapsed > m_Period) {
        m_Running = false;
        priFireTick(1.0);
        m_pOnEnd->Fire(nullptr);
    }
}

bool KUiTimer::RegisterCreator(KIUiObjectFactory* factory)
{
    return RegisterControlCreator(factory, "TIMER", new KUiTimerCreator);
}

KIUiObject* KUiTimerCreator::Create()
{
    return new (std::nothrow) KUiTimer;
}
