#include "KUiClock.h"

#include <atomic>
#include <cstdio>
#include <ctime>
#include <new>

#include "KExceptionUiScript.h"
#include "KGenericUiPixmap.h"
#include "KIUiPixmap.h"
#include "KPropTree.h"

namespace {

int64_t SystemTime()
{
    return static_cast<int64_t>(std::time(nullptr));
}

std::atomic<KUiClock::TimeSource> g_TimeSource{&SystemTime};

}  // namespace

void KUiClock::SetTimeSource(TimeSource source)
{
    g_TimeSource = source ? source : &SystemTime;
}

KUiClock::KUiClock()
{
    m_pTypeKeyword = "CLOCK";
}

KUiClock::~KUiClock()
{
    DeleteUiPixmap(m_pImage);
}

bool KUiClock::InitUiObject(KIGenericUiApp* application, KIGenericUiWindow* window, KIUiObject* parent,
                            KPropTree* node)
{
    KUiObject::InitUiObject(application, window, parent, node);
    if (!node)
        return false;
    bool hasFont = false, hasSize = false, hasColour = false;
    node->GetString(KWString(u"Font"), KWString(), &hasFont);
    node->GetInt(KWString(u"FontSize"), 0, &hasSize);
    GetUiColor(node, "FontColor", KUiColor(0, 0, 0, 255), &hasColour);
    if (!hasFont || !hasSize || !hasColour)
        throw KExceptionUiScript("KUiClock::InitUiObject() failed: missing required font property(s)");
    m_OwnFont.Read(node);
    m_HourOffset = node->GetInt(KWString(u"GmtDelta"), 0);
    m_LastTime = 0;
    priUpdate(false);
    return true;
}

void KUiClock::priUpdate(bool layout)
{
    const int64_t now = g_TimeSource.load()();
    if (now == m_LastTime)
        return;
    m_LastTime = now;
    // Whole days since 1970 cut off, also before it.
    int64_t ofDay = now % 86400;
    if (ofDay < 0)
        ofDay += 86400;
    const int64_t utcHour = ofDay / 3600, minute = ofDay % 3600 / 60;
    // Any offset gives an hour of the day: modulo 24, made non-negative.
    int64_t hour = (utcHour + m_HourOffset) % 24;
    if (hour < 0)
        hour += 24;
    char text[16];
    std::snprintf(text, sizeof text, "%02i:%02i", static_cast<int>(hour), static_cast<int>(minute));
    m_Text = KWString(text);
    const KRect before = m_Rect;
    DeleteUiPixmap(m_pImage);
    m_pImage = m_OwnFont.Render(m_Text);
    ++m_Renders;
    const int32_t w = m_pImage ? m_pImage->Width() : 0, h = m_pImage ? m_pImage->Height() : 0;
    m_Rect.right = SaturatedSize(int64_t{m_Rect.left} + w);
    m_Rect.bottom = SaturatedSize(int64_t{m_Rect.top} + h);
    const bool resized = w != m_HLayout.GetMinimumSize() || h != m_VLayout.GetMinimumSize();
    if (resized) {
        SetLayoutRecord(m_HLayout, w, 0);
        SetLayoutRecord(m_VLayout, h, 0);
    }
    if (!layout)
        return;
    Repaint(before);
    Repaint();
    if (resized)
        ShrinkWindow(0, 0);
}

bool KUiClock::SetRect(int32_t x, int32_t y, int32_t, int32_t)
{
    const int32_t w = m_Rect.Width(), h = m_Rect.Height();
    KUiObject::SetRect(x, y, w, h);
    return true;
}

void KUiClock::Draw(KIUiPixmap* surface, int32_t dx, int32_t dy, const KRect& clip)
{
    if (!m_pImage)
        return;
    KRect r = m_Rect;
    r.Offset(dx, dy);
    BlendClipped(m_pImage, surface, r, KRect(0, 0, m_pImage->Width(), m_pImage->Height()), clip);
}

void KUiClock::Tick(int32_t)
{
    priUpdate(true);
}

KIUiObject* KUiClock::HitTest(int32_t x, int32_t y)
{
    return (x >= m_Rect.left && x < m_Rect.right && y >= m_Rect.top && y < m_Rect.bottom) ? this : nullptr;
}

bool KUiClock::RegisterCreator(KIUiObjectFactory* factory)
{
    return RegisterControlCreator(factory, "CLOCK", new KUiClockCreator);
}

KIUiObject* KUiClockCreator::Create()
{
    return new (std::nothrow) KUiClock;
}
