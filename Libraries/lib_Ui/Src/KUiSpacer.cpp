#include "KUiSpacer.h"

#include <algorithm>
#include <new>

#include "KGenericUiPixmap.h"
#include "KPropTree.h"

KUiSpacer::KUiSpacer()
{
    m_pTypeKeyword = "SPACER";
}

KUiSpacer::~KUiSpacer()
{
    DeleteUiPixmap(m_pCursor);
}

bool KUiSpacer::InitUiObject(KIGenericUiApp* application, KIGenericUiWindow* window, KIUiObject* parent,
                             KPropTree* node)
{
    KUiObject::InitUiObject(application, window, parent, node);
    if (!parent || !node || (!parent->IsHBox() && !parent->IsVBox()))
        return false;
    m_Horizontal = parent->IsHBox();
    bool hasStretch = false;
    const int32_t stretch = node->GetInt(KWString("Stretch"), 0, &hasStretch);
    if (!hasStretch)
        return false;
    m_SlidingDivider = node->GetBool(KWString("_SlidingDivider"), false);
    const int32_t minimum = node->GetInt(KWString("MinSize"), 0);
    SetLayoutRecord(m_Horizontal ? m_HLayout : m_VLayout, minimum, stretch);
    SetLayoutRecord(m_Horizontal ? m_VLayout : m_HLayout, 0, 0);
    m_pCursor = LoadImageProperty(node, KWString("File_Cursor"), &m_HasCursor);
    m_CursorX = node->GetInt(KWString("CursorX"), 0);
    m_CursorY = node->GetInt(KWString("CursorY"), 0);
    return true;
}

KIUiObject* KUiSpacer::HitTest(int32_t x, int32_t y)
{
    if (x >= m_Rect.left && x < m_Rect.right && y >= m_Rect.top && y < m_Rect.bottom)
        return this;
    return nullptr;
}

bool KUiSpacer::priCanSlide() const
{
    return m_SlidingDivider && m_pPrevious && m_pNext;
}

bool KUiSpacer::MouseDown(int32_t x, int32_t y, bool, bool)
{
    if (!priCanSlide())
        return false;
    CaptureMouse(true);
    m_LastX = x;
    m_LastY = y;
    m_Dragging = true;
    // From here on the neighbours' stretches count in pixels.
    for (KIUiObject* neighbour : {m_pPrevious, m_pNext}) {
        KILayoutObject* record = neighbour->GetLayout(m_Horizontal);
        record->SetStretch(record->GetSize());
    }
    return true;
}

void KUiSpacer::MouseMove(int32_t x, int32_t y)
{
    if (!m_Dragging || !priCanSlide())
        return;
    const int64_t delta = m_Horizontal ? int64_t(x) - m_LastX : int64_t(y) - m_LastY;
    KILayoutObject* before = m_pPrevious->GetLayout(m_Horizontal);
    KILayoutObject* after = m_pNext->GetLayout(m_Horizontal);
    before->SetStretch(SaturatedSize(std::max<int64_t>(0, before->GetStretch() + delta)));
    after->SetStretch(SaturatedSize(std::max<int64_t>(0, after->GetStretch() - delta)));
    LayoutWindow();
    m_LastX = x;
    m_LastY = y;
}

void KUiSpacer::MouseUp(int32_t, int32_t, bool, bool)
{
    if (!m_Dragging)
        return;
    CaptureMouse(false);
    m_Dragging = false;
}

void KUiSpacer::MouseEnter(int32_t, int32_t)
{
    if (!priCanSlide() || !m_pCursor)
        return;
    KILayoutObject* before = m_pPrevious->GetLayout(m_Horizontal);
    KILayoutObject* after = m_pNext->GetLayout(m_Horizontal);
    if (before->GetSize() == before->GetMinimumSize() && after->GetSize() == after->GetMinimumSize())
        return;
    SetWindowCursor(m_pCursor, m_CursorX, m_CursorY);
}

void KUiSpacer::MouseLeave(int32_t, int32_t)
{
    if (m_SlidingDivider)
        SetWindowCursor(nullptr, 0, 0);
}

bool KUiSpacer::RegisterCreator(KIUiObjectFactory* factory)
{
    return RegisterControlCreator(factory, "SPACER", new KUiSpacerCreator);
}

KIUiObject* KUiSpacerCreator::Create()
{
    return new (std::nothrow) KUiSpacer;
}
