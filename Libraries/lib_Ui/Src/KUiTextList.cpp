#include "KUiTextList.h"

#include <algorithm>
#include <new>

#include "KGenericUiPixmap.h"
#include "KIUiPixmap.h"
#include "KPropTree.h"

KUiTextList::KUiTextList()
{
    m_pTypeKeyword = "TEXTLIST";
}

KUiTextList::~KUiTextList()
{
    DeleteUiPixmap(m_pImage);
}

bool KUiTextList::InitUiObject(KIGenericUiApp* application, KIGenericUiWindow* window, KIUiObject* parent,
                               KPropTree* node)
{
    KUiObject::InitUiObject(application, window, parent, node);
    if (!node)
        return false;
    bool hasFont = false, hasSize = false, hasColour = false;
    node->GetString(KWString(u"Font"), KWString(), &hasFont);
    node->GetInt(KWString(u"FontSize"), 0, &hasSize);
    GetUiColor(node, "FontColor", KUiColor(0, 0, 0, 255), &hasColour);
    m_OwnFont.Read(node);
    const int start = node->GetInt(KWString(u"StartIndex"), 0);
    m_IncMessage = node->GetString(KWString(u"IncMsg"), KWString());
    m_DecMessage = node->GetString(KWString(u"DecMsg"), KWString());
    m_ChangeMessage = node->GetString(KWString(u"ChangeMsg"), KWString());
    for (KPropTree* item = node->GetFirstChild(); item && m_Names.size() < kMaxItems; item = item->GetNextSibling()) {
        if (item->GetName() != u"ITEM")
            continue;
        const KWString name = item->GetString(KWString(u"Name"), KWString());
        if (name.IsEmpty())
            continue;
        m_Names.push_back(name);
        m_Values.push_back(item->GetInt(KWString(u"Value"), 1000));
    }
    if (!hasFont || !hasSize || !hasColour || m_Names.empty())
        return false;
    m_Index = std::min(static_cast<size_t>(std::max(0, start)), m_Names.size() - 1);
    priRender();
    // Laid out at the size of the name shown first.
    SetLayoutRecord(m_HLayout, m_Rect.Width(), 0);
    SetLayoutRecord(m_VLayout, m_Rect.Height(), 0);
    return true;
}

void KUiTextList::priRender()
{
    DeleteUiPixmap(m_pImage);
    m_pImage = m_OwnFont.Render(m_Names[m_Index]);
    const int32_t w = m_pImage ? m_pImage->Width() : 0, h = m_pImage ? m_pImage->Height() : 0;
    m_Rect.right = SaturatedSize(int64_t{m_Rect.left} + w);
    m_Rect.bottom = SaturatedSize(int64_t{m_Rect.top} + h);
}

bool KUiTextList::UiRelayMessage(const KWString& message, void*)
{
    if (message == m_IncMessage && m_Index + 1 < m_Names.size()) {
        ++m_Index;
    } else if (message == m_DecMessage && m_Index > 0) {
        --m_Index;
    } else {
        return false;
    }
    const KRect before = m_Rect;
    priRender();
    // The layout is not run again; the next one gives the name shown its size.
    SetLayoutRecord(m_HLayout, m_Rect.Width(), 0);
    SetLayoutRecord(m_VLayout, m_Rect.Height(), 0);
    Repaint(before);
    Repaint();
    return true;
}

bool KUiTextList::SetRect(int32_t x, int32_t y, int32_t, int32_t)
{
    const int32_t w = m_Rect.Width(), h = m_Rect.Height();
    KUiObject::SetRect(x, y, w, h);
    return true;
}

void KUiTextList::Draw(KIUiPixmap* surface, int32_t dx, int32_t dy, const KRect& clip)
{
    if (!m_pImage)
        return;
    KRect r = m_Rect;
    r.Offset(dx, dy);
    BlendClipped(m_pImage, surface, r, KRect(0, 0, m_pImage->Width(), m_pImage->Height()), clip);
}

KIUiObject* KUiTextList::HitTest(int32_t x, int32_t y)
{
    return (x >= m_Rect.left && x < m_Rect.right && y >= m_Rect.top && y < m_Rect.bottom) ? this : nullptr;
}

bool KUiTextList::RegisterCreator(KIUiObjectFactory* factory)
{
    return RegisterControlCreator(factory, "TEXTLIST", new KUiTextListCreator);
}

KIUiObject* KUiTextListCreator::Create()
{
    return new (std::nothrow) KUiTextList;
}
