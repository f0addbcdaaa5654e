#include "KUiHVLine.h"

#include <algorithm>
#include <new>

#include "KIUiPixmap.h"
#include "KPropTree.h"

KUiHVLine::KUiHVLine()
{
    m_pTypeKeyword = "HLINE";
}

bool KUiHVLine::InitUiObject(KIGenericUiApp* application, KIGenericUiWindow* window, KIUiObject* parent,
                             KPropTree* node)
{
    KUiObject::InitUiObject(application, window, parent, node);
    if (!node)
        return false;
    m_Horizontal = node->GetName() == u"HLINE";
    m_Keys.Read(node);
    bool hasColour = false;
    m_Color = GetUiColor(node, "Color", m_Color, &hasColour);
    if (!hasColour)
        return false;
    if (m_Horizontal) {
        if (!m_Keys.hasMinH || !m_Keys.hasStretchH)
            return false;
        SetLayoutRecord(m_HLayout, m_Keys.minH, m_Keys.stretchH);
        SetLayoutRecord(m_VLayout, 1, 0);
    } else {
        if (!m_Keys.hasMinV || !m_Keys.hasStretchV)
            return false;
        SetLayoutRecord(m_HLayout, 1, 0);
        SetLayoutRecord(m_VLayout, m_Keys.minV, m_Keys.stretchV);
    }
    return true;
}

bool KUiHVLine::SetRect(int32_t x, int32_t y, int32_t width, int32_t height)
{
    if (m_Horizontal)
        return KUiObject::SetRect(x, y, std::max(width, m_Keys.minH), 1);
    return KUiObject::SetRect(x, y, 1, std::max(height, m_Keys.minV));
}

void KUiHVLine::Draw(KIUiPixmap* surface, int32_t dx, int32_t dy, const KRect& clip)
{
    KRect r = m_Rect;
    r.Offset(dx, dy);
    const KRect c = IntersectRects(r, clip);
    if (!IsEmptyRect(c))
        surface->FillRect(c, m_Color);
}

bool KUiHVLine::RegisterCreator(KIUiObjectFactory* factory)
{
    const bool h = RegisterControlCreator(factory, "HLINE", new KUiHVLineCreator);
    const bool v = RegisterControlCreator(factory, "VLINE", new KUiHVLineCreator);
    return h && v;
}

KIUiObject* KUiHVLineCreator::Create()
{
    return new (std::nothrow) KUiHVLine;
}
