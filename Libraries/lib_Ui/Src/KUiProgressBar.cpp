#include "KUiProgressBar.h"

#include <algorithm>
#include <new>

#include "KGenericUiPixmap.h"
#include "KIUiPixmap.h"
#include "KPropTree.h"

KUiProgressBar::KUiProgressBar()
{
    m_pTypeKeyword = "PROGRESSBAR";
}

KUiProgressBar::~KUiProgressBar()
{
    DeleteUiPixmap(m_pBackground);
    DeleteUiPixmap(m_pForeground);
}

bool KUiProgressBar::InitUiObject(KIGenericUiApp* application, KIGenericUiWindow* window, KIUiObject* parent,
                                  KPropTree* node)
{
    KUiObject::InitUiObject(application, window, parent, node);
    if (!node)
        return false;
    bool found = false;
    DeleteUiPixmap(m_pBackground);
    DeleteUiPixmap(m_pForeground);
    m_pBackground = LoadImageProperty(node, KWString(u"File_BgImage"), &found);
    if (!m_pBackground)
        return false;
    m_pForeground = LoadImageProperty(node, KWString(u"File_FgImage"), &found);
    if (!m_pForeground)
        return false;
    m_SlideRate = node->GetInt(KWString(u"SlideRate"), 0);
    m_Visible = node->GetBool(KWString(u"_Visible"), true);
    SetLayoutRecord(m_HLayout, m_pBackground->Width(), 0);
    SetLayoutRecord(m_VLayout, m_pBackground->Height(), 0);
    return true;
}

bool KUiProgressBar::SetRect(int32_t x, int32_t y, int32_t, int32_t)
{
    const int32_t w = m_pBackground ? m_pBackground->Width() : 0, h = m_pBackground ? m_pBackground->Height() : 0;
    m_Rect = KRect(x, y, SaturatedSize(int64_t(x) + w), SaturatedSize(int64_t(y) + h));
    return true;
}

void KUiProgressBar::priUpdate()
{
    const int32_t width = m_pForeground ? m_pForeground->Width() : 0;
    const int32_t filled = std::clamp(static_cast<int32_t>(double(width) * m_Progress + 0.5), 0, width);
    int32_t offset = 0;
    if (width > 0) {
        // In 64 bits (the product outgrew 32 bits after hours), over the time modulo 1000 x width: a whole
        // number of those milliseconds moves the pattern by whole widths, so the offset is the same.
        const uint64_t cycle = 1000ULL * static_cast<uint64_t>(width);
        const int64_t travelled = int64_t(m_SlideRate) * static_cast<int64_t>(m_Accumulated % cycle) / 1000;
        offset = static_cast<int32_t>(((travelled % width) + width) % width);
    }
    if (filled == m_Filled && offset == m_Offset)
        return;
    m_Filled = filled;
    m_Offset = offset;
    Repaint();
}

bool KUiProgressBar::UiRelayMessage(const KWString& message, void* data)
{
    if (message == u"Progress") {
        const double* progress = UiRelayData<double>(data);
        if (!progress)
            return false;
        const double p = *progress;
        // Anything not >= 0, NaN included, empties the bar.
        m_Progress = p >= 0 ? std::min(p, 1.0) : 0.0;
        priUpdate();
        return true;
    }
    if (message == u"Reset") {
        m_Progress = 0;
        priUpdate();
        return true;
    }
    if (message == u"Show") {
        m_Visible = true;
        Repaint();
        return true;
    }
    if (message == u"Hide") {
        m_Visible = false;
        Repaint();
        return true;
    }
    return false;
}

void KUiProgressBar::Tick(int32_t elapsedMs)
{
    m_Accumulated += static_cast<uint32_t>(std::max(0, elapsedMs));
    priUpdate();
}

void KUiProgressBar::Draw(KIUiPixmap* surface, int32_t dx, int32_t dy, const KRect& clip)
{
    if (!m_Visible || !m_pBackground || !m_pForeground)
        return;
    KRect control = m_Rect;
    control.Offset(dx, dy);
    const KRect cut = IntersectRects(control, clip);
    KRect all;
    m_pBackground->GetBounds(all);
    BlendClipped(m_pBackground, surface,
                 KRect(control.left, control.top, control.left + all.Width(), control.top + all.Height()), all, cut);
    if (m_Filled <= 0)
        return;
    // The pattern moves right: the foreground's column (w - offset) lands at the left edge, the rest wraps.
    const int32_t w = m_pForeground->Width(), h = m_pForeground->Height();
    const KRect filled = IntersectRects(cut, KRect(control.left, control.top, control.left + m_Filled, control.top + h));
    const int32_t split = std::min(m_Offset, m_Filled);
    // Piece one: the foreground's last offset columns at the left.
    if (split > 0)
        BlendClipped(m_pForeground, surface, KRect(control.left, control.top, control.left + split, control.top + h),
                     KRect(w - m_Offset, 0, w - m_Offset + split, h), filled);
    // Piece two: the foreground from its first column, after them.
    if (m_Filled > split)
        BlendClipped(m_pForeground, surface,
                     KRect(control.left + split, control.top, control.left + m_Filled, control.top + h),
                     KRect(0, 0, m_Filled - split, h), filled);
}

bool KUiProgressBar::RegisterCreator(KIUiObjectFactory* factory)
{
    return RegisterControlCreator(factory, "PROGRESSBAR", new KUiProgressBarCreator);
}

KIUiObject* KUiProgressBarCreator::Create()
{
    return new (std::nothrow) KUiProgressBar;
}
