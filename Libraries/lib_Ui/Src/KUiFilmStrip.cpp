#include "KUiFilmStrip.h"

#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>

#include "KGenericUiPixmap.h"
#include "KIUiPixmap.h"
#include "KPropTree.h"
#include "KTextFunctions.h"

KUiFilmStrip::KUiFilmStrip()
{
    m_pTypeKeyword = "FILMSTRIP";
}

KUiFilmStrip::~KUiFilmStrip()
{
    DeleteUiPixmap(m_pStrip);
}

int32_t KUiFilmStrip::priWrap(int64_t value) const
{
    const int64_t count = m_Count > 0 ? m_Count : 1;
    return static_cast<int32_t>(((value % count) + count) % count);
}

bool KUiFilmStrip::InitUiObject(KIGenericUiApp* application, KIGenericUiWindow* window, KIUiObject* parent,
                                KPropTree* node)
{
    KUiObject::InitUiObject(application, window, parent, node);
    if (!node)
        return false;
    bool found = false;
    DeleteUiPixmap(m_pStrip);
    m_pStrip = LoadImageProperty(node, KWString(u"File_Image"), &found);
    if (!m_pStrip || !found)
        return false;
    const int32_t count = node->GetInt(KWString(u"NumFrames"), 0, &found);
    if (!found || count < 1)
        return false;
    const int32_t height = m_pStrip->Height();
    if (height / count < 2 || height % count != 0)
        return false;
    m_Count = count;
    m_FrameWidth = m_pStrip->Width();
    m_FrameHeight = height / count;
    m_Frame = priWrap(node->GetInt(KWString(u"_FrameNo"), 0));
    m_Period = node->GetInt(KWString(u"_Period"), 1000, &m_Playable);
    m_Visible = node->GetBool(KWString(u"_Visible"), true);
    m_RangeStart = 0;
    m_RangeEnd = m_Count - 1;
    SetLayoutRecord(m_HLayout, m_FrameWidth, 0);
    SetLayoutRecord(m_VLayout, m_FrameHeight, 0);
    return true;
}

bool KUiFilmStrip::SetRect(int32_t x, int32_t y, int32_t width, int32_t height)
{
    const int32_t w = m_HLayout.GetStretch() != 0 && width >= m_FrameWidth ? width : m_FrameWidth;
    const int32_t h = m_VLayout.GetStretch() != 0 && height >= m_FrameHeight ? height : m_FrameHeight;
    m_Rect = KRect(x, y, SaturatedSize(int64_t(x) + w), SaturatedSize(int64_t(y) + h));
    return true;
}

void KUiFilmStrip::Draw(KIUiPixmap* surface, int32_t dx, int32_t dy, const KRect& clip)
{
    if (!m_Visible || !m_pStrip)
        return;
    KRect control = m_Rect;
    control.Offset(dx, dy);
    const KRect cut = IntersectRects(control, clip);
    const int32_t top = SaturatedSize(int64_t(m_Frame) * m_FrameHeight);
    const KRect source(0, top, m_FrameWidth, SaturatedSize(int64_t(top) + m_FrameHeight));
    const KRect destination(control.left, control.top, SaturatedSize(int64_t(control.left) + m_FrameWidth),
                            SaturatedSize(int64_t(control.top) + m_FrameHeight));
    BlendClipped(m_pStrip, surface, destination, source, cut);
}

KIUiObject* KUiFilmStrip::HitTest(int32_t x, int32_t y)
{
    if (!m_pStrip || x < m_Rect.left || x >= m_Rect.right || y < m_Rect.top || y >= m_Rect.bottom)
        return nullptr;
    const int64_t px = int64_t(x) - m_Rect.left, py = int64_t(y) - m_Rect.top;
    if (px >= m_FrameWidth || py >= m_FrameHeight)
        return nullptr;
    const int64_t row = int64_t(m_Frame) * m_FrameHeight + py;
    return m_pStrip->GetAlpha(static_cast<int32_t>(px), static_cast<int32_t>(row)) > 128 ? this : nullptr;
}

void KUiFilmStrip::priShow(int32_t frame)
{
    if (frame == m_Frame)
        return;
    m_Frame = frame;
    Repaint();
}

void KUiFilmStrip::priPlay()
{
    if (!m_Playable || m_Playing)
        return;
    m_Elapsed = 0;
    priShow(0);
    m_Playing = true;
}

void KUiFilmStrip::priStop()
{
    if (!m_Playable || !m_Playing)
        return;
    m_Playing = false;
    m_Elapsed = 0;
    m_Frame = 0;
    Repaint();
}

bool KUiFilmStrip::priAnimate(const KWString& text)
{
    const std::string narrow = WideToUtf8(text);
    int first = 0, last = 0, period = 0, hold = 0;
    if (std::sscanf(narrow.c_str(), "%d-%d,%d,%d", &first, &last, &period, &hold) != 4)
        return false;
    const int32_t start = priWrap(first), end = priWrap(last);
    if (m_Playing && start == m_RangeStart && end == m_RangeEnd && period == m_Period && hold == m_Hold)
        return true;
    m_Playable = true;
    m_Playing = true;
    m_Elapsed = 0;
    m_RangeStart = start;
    m_RangeEnd = end;
    m_Frame = start;
    m_Period = period;
    m_Hold = hold;
    Repaint();
    return true;
}

bool KUiFilmStrip::UiRelayMessage(const KWString& message, void* data)
{
    if (message == u"Show") {
        if (!m_Visible) {
            m_Visible = true;
            Repaint();
        }
        return true;
    }
    if (message == u"Hide") {
        if (m_Visible) {
            m_Visible = false;
            Repaint();
        }
        return true;
    }
    if (message == u"ToggleVisibility") {
        m_Visible = !m_Visible;
        Repaint();
        return true;
    }
    if (message == u"Visibility") {
        bool visible = false;
        if (!UiRelayFlag(data, visible))
            return false;
        m_Visible = visible;
        Repaint();
        return true;
    }
    if (message == u"FrameNum" || message == u"StrFrameNum") {
        int64_t value = 0;
        if (message == u"FrameNum") {
            const int32_t* number = UiRelayData<int32_t>(data);
            if (!number)
                return false;
            value = *number;
        } else {
            const KWString* text = UiRelayData<KWString>(data);
            if (!text)
                return false;
            value = std::atoi(WideToUtf8(*text).c_str());
        }
        m_Playing = false;
        priShow(priWrap(value));
        return true;
    }
    if (message == u"IncrementFrame") {
        priShow(priWrap(int64_t(m_Frame) + 1));
        return true;
    }
    if (message == u"DecrementFrame") {
        priShow(priWrap(int64_t(m_Frame) - 1));
        return true;
    }
    if (message == u"Play") {
        priPlay();
        return true;
    }
    if (message == u"Stop") {
        priStop();
        return true;
    }
    if (message == u"SetPlay") {
        bool play = false;
        if (!UiRelayFlag(data, play))
            return false;
        if (play)
            priPlay();
        else
            priStop();
        return true;
    }
    if (message == u"Animate") {
        const KWString* name = UiRelayData<KWString>(data);
        if (!name)
            return false;
        return priAnimate(*name);
    }
    return false;
}

void KUiFilmStrip::Tick(int32_t elapsedMs)
{
    if (!m_Playing)
        return;
    m_Elapsed += static_cast<uint32_t>(elapsedMs);
    const bool holding = m_Hold != 0 && m_Frame == m_RangeStart;
    const uint32_t wait = static_cast<uint32_t>(holding ? m_Hold : m_Period);
    if (m_Elapsed <= wait)
        return;
    int32_t next = m_Frame + 1;
    if (next > m_RangeEnd)
        next = m_RangeStart;
    m_Frame = next;
    m_Elapsed = 0;
    Repaint();
}

bool KUiFilmStrip::RegisterCreator(KIUiObjectFactory* factory)
{
    return RegisterControlCreator(factory, "FILMSTRIP", new KUiFilmStripCreator);
}

KIUiObject* KUiFilmStripCreator::Create()
{
    return new (std::nothrow) KUiFilmStrip;
}
