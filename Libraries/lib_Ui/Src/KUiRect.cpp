#include "KUiRect.h"

#include <algorithm>
#include <new>

#include "KIGenericUiApp.h"
#include "KIUiPixmap.h"
#include "KPropTree.h"

KUiRect::KUiRect()
{
    m_pTypeKeyword = "RECT";
}

bool KUiRect::PostCreationConnect()
{
    return m_pFirstChild ? m_pFirstChild->PostCreationConnect() : true;
}

KIUiRelay* KUiRect::FindObject(const KWString& name)
{
    return FindInContent(this, m_Name, m_pFirstChild, name);
}

bool KUiRect::UiRelayMessage(const KWString& message, void* data)
{
    const KWString* text = message == u"SetColor" ? UiRelayData<KWString>(data) : nullptr;
    if (text) {
        KUiColor colour;
        if (ParseUiColor(*text, colour)) {
            m_Color = colour;
            Repaint();
        }
    }
    return true;
}

bool KUiRect::InitUiObject(KIGenericUiApp* application, KIGenericUiWindow* window, KIUiObject* parent,
                           KPropTree* node)
{
    KUiObject::InitUiObject(application, window, parent, node);
    if (!node)
        return false;
    m_Keys.Read(node);
    bool hasColour = false;
    m_Color = GetUiColor(node, "Color", m_Color, &hasColour);
    if (!m_Keys.HasAll() || !hasColour)
        return false;
    if (KIUiObject* content = CreateContentBox(application, window, this, node))
        AppendChild(content);
    if (!priComputeMinimums()) {
        delete m_pFirstChild;
        m_pFirstChild = nullptr;
        return false;
    }
    return true;
}

bool KUiRect::priComputeMinimums()
{
    m_MinWidth = m_Keys.minH;
    m_MinHeight = m_Keys.minV;
    if (!FitMinimumsToContent(m_pFirstChild, m_Keys, m_MinWidth, m_MinHeight))
        return false;
    SetLayoutRecord(m_HLayout, m_MinWidth, m_Keys.stretchH);
    SetLayoutRecord(m_VLayout, m_MinHeight, m_Keys.stretchV);
    return true;
}

bool KUiRect::Relayout()
{
    if (m_pFirstChild)
        m_pFirstChild->Relayout();
    return priComputeMinimums();
}

bool KUiRect::SetRect(int32_t x, int32_t y, int32_t width, int32_t height)
{
    width = m_Keys.stretchH == 0 ? m_MinWidth : std::max(width, m_MinWidth);
    height = m_Keys.stretchV == 0 ? m_MinHeight : std::max(height, m_MinHeight);
    if (KIUiObject* content = m_pFirstChild) {
        const bool ok = content->SetRect(x, y, width, height);
        if (ok)
            m_Rect = *content->GetRect();
        return ok;
    }
    return KUiObject::SetRect(x, y, width, height);
}

void KUiRect::Draw(KIUiPixmap* surface, int32_t dx, int32_t dy, const KRect& clip)
{
    KRect r = m_Rect;
    r.Offset(dx, dy);
    const KRect c = IntersectRects(r, clip);
    if (IsEmptyRect(c))
        return;
    surface->FillRect(c, m_Color);
    if (m_pFirstChild)
        m_pFirstChild->Draw(surface, dx, dy, clip);
}

void KUiRect::Tick(int32_t elapsedMs)
{
    if (m_pFirstChild)
        m_pFirstChild->Tick(elapsedMs);
}

KIUiObject* KUiRect::HitTest(int32_t x, int32_t y)
{
    if (!(x >= m_Rect.left && x < m_Rect.right && y >= m_Rect.top && y < m_Rect.bottom))
        return nullptr;
    if (m_pFirstChild)
        if (KIUiObject* hit = m_pFirstChild->HitTest(x, y))
            return hit;
    return this;
}

bool KUiRect::RegisterCreator(KIUiObjectFactory* factory)
{
    return RegisterControlCreator(factory, "RECT", new KUiRectCreator);
}

KIUiObject* KUiRectCreator::Create()
{
    return new (std::nothrow) KUiRect;
}
