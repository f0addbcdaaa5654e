#include "KUiHVBox.h"

#include <algorithm>
#include <new>

#include "KIGenericUiApp.h"
#include "KIGenericUiWindow.h"
#include "KPropTree.h"

namespace {

// Working stretches are weights: a negative one (never written by the controls) counts as 0.
int64_t Weight(KILayoutObject* record)
{
    return std::max<int64_t>(0, record->GetWorkingStretch());
}

}  // namespace

KUiHVBox::KUiHVBox()
{
    m_pTypeKeyword = "HBOX";
}

bool KUiHVBox::PostCreationConnect()
{
    bool ok = true;
    for (KIUiObject* child = m_pFirstChild; child; child = child->GetNext())
        ok = child->PostCreationConnect() && ok;
    return ok;
}

KIUiRelay* KUiHVBox::FindObject(const KWString& name)
{
    if (m_Name.IsEmpty()) {
        for (KIUiObject* child = m_pFirstChild; child; child = child->GetNext())
            if (KIUiRelay* found = child->FindObject(name))
                return found;
        return nullptr;
    }
    if (name == m_Name)
        return this;
    const std::u16string_view text = name.View();
    const size_t dot = text.find(u'.');
    if (dot == std::u16string_view::npos || dot == 0 || dot + 1 == text.size())
        return nullptr;
    if (KWString(text.substr(0, dot)) != m_Name)
        return nullptr;
    const KWString tail(text.substr(dot + 1));
    for (KIUiObject* child = m_pFirstChild; child; child = child->GetNext())
        if (KIUiRelay* found = child->FindObject(tail))
            return found;
    return nullptr;
}

bool KUiHVBox::UiRelayMessage(const KWString& message, void* data)
{
    if (message == u"HideChildren") {
        if (!m_ChildrenHidden) {
            priCollapse();
            ShrinkWindow(0, m_SavedVLayout.GetSize());
        }
    } else if (message == u"ShowChildren") {
        if (m_ChildrenHidden) {
            priOpen();
            ShrinkWindow(0, 0);
        }
    } else if (message == u"Visibility") {
        bool visible = false;
        if (UiRelayFlag(data, visible)) {
            if (!visible && !m_ChildrenHidden) {
                priCollapse();
                ShrinkWindow(0, 0);
            } else if (visible && m_ChildrenHidden) {
                priOpen();
                ShrinkWindow(0, 0);
            }
        }
    } else if (message == u"ToggleChildren") {
        if (m_ChildrenHidden) {
            priOpen();
            ShrinkWindow(0, 0);
        } else {
            priCollapse();
            ShrinkWindow(0, m_SavedVLayout.GetSize());
        }
    }
    return true;
}

bool KUiHVBox::InitUiObject(KIGenericUiApp* application, KIGenericUiWindow* window, KIUiObject* parent,
                            KPropTree* node)
{
    if (!application || !window || !node)
        return false;
    KUiObject::InitUiObject(application, window, parent, node);
    m_Horizontal = node->GetName() == u"HBOX";
    m_pTypeKeyword = m_Horizontal ? "HBOX" : "VBOX";

    KIUiObjectFactory* factory = application->GetFactory();
    for (KPropTree* element = node->GetFirstChild(); element && factory; element = element->GetNextSibling()) {
        KIUiObject* child = factory->Create(&element->GetName());
        if (!child)
            continue;
        if (!InitChildObject(child, application, window, this, element))
            continue;
        AppendChild(child);
    }

    m_ConfiguredHStretch = std::max(0, node->GetInt(KWString("_HStretch"), m_Horizontal ? 100 : 0));
    m_ConfiguredVStretch = std::max(0, node->GetInt(KWString("_VStretch"), m_Horizontal ? 0 : 1000));

    priComputeOwnLayout();
    KLayoutObject& main = m_Horizontal ? m_HLayout : m_VLayout;
    KLayoutObject& cross = m_Horizontal ? m_VLayout : m_HLayout;
    const int32_t crossStretch = m_Horizontal ? m_ConfiguredVStretch : m_ConfiguredHStretch;
    cross.SetStretch(crossStretch);
    cross.SetWorkingStretch(crossStretch);
    bool anyChild = false, allMainFixed = true;
    for (KIUiObject* child = m_pFirstChild; child; child = child->GetNext()) {
        anyChild = true;
        int32_t ignored = 0;
        allMainFixed = child->GetLayout(m_Horizontal)->GetFixedSize(ignored) && allMainFixed;
    }
    const int32_t mainStretch = (!anyChild || allMainFixed) ? 0 : (m_Horizontal ? m_ConfiguredHStretch
                                                                                  : m_ConfiguredVStretch);
    main.SetStretch(mainStretch);
    main.SetWorkingStretch(mainStretch);

    if (node->GetBool(KWString("_HideChildren"), false))
        priCollapse();
    return true;
}

void KUiHVBox::priComputeOwnLayout()
{
    KLayoutObject& main = m_Horizontal ? m_HLayout : m_VLayout;
    KLayoutObject& cross = m_Horizontal ? m_VLayout : m_HLayout;
    main.SetFixed(false);
    main.SetMinimumSize(0);
    cross.SetFixed(true);
    cross.SetMinimumSize(0);
    bool crossFixed = true, allMainFixed = true, anyChild = false;
    int64_t mainMinimum = 0;
    int32_t crossMinimum = 0;
    for (KIUiObject* child = m_pFirstChild; child; child = child->GetNext()) {
        anyChild = true;
        KILayoutObject* childMain = child->GetLayout(m_Horizontal);
        KILayoutObject* childCross = child->GetLayout(!m_Horizontal);
        int32_t ignored = 0;
        crossFixed = childCross->GetFixedSize(ignored) && crossFixed;
        allMainFixed = childMain->GetFixedSize(ignored) && allMainFixed;
        mainMinimum += std::max(0, childMain->GetMinimumSize());
        crossMinimum = std::max(crossMinimum, childCross->GetMinimumSize());
    }
    main.SetMinimumSize(SaturatedSize(mainMinimum));
    cross.SetFixed(crossFixed);
    cross.SetMinimumSize(crossMinimum);
    if (!anyChild || allMainFixed) {
        main.SetStretch(0);
        main.SetWorkingStretch(0);
    }
    if (crossFixed)
        cross.SetSize(crossMinimum);
}

bool KUiHVBox::SetRect(int32_t x, int32_t y, int32_t width, int32_t height)
{
    if (m_ChildrenHidden)
        return true;
    if (width < m_HLayout.GetMinimumSize() || height < m_VLayout.GetMinimumSize())
        return false;
    const int64_t start = m_Horizontal ? x : y;
    const int64_t length = m_Horizontal ? width : height;

    for (KIUiObject* child = m_pFirstChild; child; child = child->GetNext())
        child->GetLayout(m_Horizontal)->Reset();

    int64_t remaining = length;
    for (KIUiObject* child = m_pFirstChild; child; child = child->GetNext()) {
        KILayoutObject* record = child->GetLayout(m_Horizontal);
        int32_t size = 0;
        if (!record->GetFixedSize(size))
            continue;
        record->AssignSize(size);
        remaining -= size;
        if (remaining < 0)
            return false;
    }

    // Minimums and caps of stretching children first, one per pass, until a pass assigns nothing.
    int64_t count = 0;
    for (;;) {
        count = 0;
        int64_t total = 0;
        for (KIUiObject* child = m_pFirstChild; child; child = child->GetNext()) {
            KILayoutObject* record = child->GetLayout(m_Horizontal);
            if (!record->IsSizeAssigned()) {
                ++count;
                total += Weight(record);
            }
        }
        if (count == 0)
            break;
        for (KIUiObject* child = m_pFirstChild; child; child = child->GetNext()) {
            KILayoutObject* record = child->GetLayout(m_Horizontal);
            if (record->IsSizeAssigned())
                continue;
            const int64_t share = total == 0 ? 1000 / count : Weight(record) * 1000 / total;
            record->SetWorkingStretch(static_cast<int32_t>(share));
        }
        bool assigned = false;
        for (KIUiObject* child = m_pFirstChild; child && !assigned; child = child->GetNext()) {
            KILayoutObject* record = child->GetLayout(m_Horizontal);
            if (record->IsSizeAssigned())
                continue;
            const int64_t portion = Weight(record) * remaining / 1000;
            int64_t value = 0;
            if (record->GetMinimumSize() > portion) {
                value = record->GetMinimumSize();
                assigned = true;
            } else if (record->HasCap() && record->GetCap() < portion) {
                value = record->GetCap();
                assigned = true;
            }
            if (assigned) {
                record->AssignSize(static_cast<int32_t>(value));
                remaining -= value;
                if (remaining < 0)
                    return false;
            }
        }
        if (!assigned)
            break;
    }

    // The rest by share; the last stretching child takes what rounding left over.
    int64_t left = remaining;
    int64_t n = count;
    for (KIUiObject* child = m_pFirstChild; child; child = child->GetNext()) {
        KILayoutObject* record = child->GetLayout(m_Horizontal);
        if (record->IsSizeAssigned())
            continue;
        if (--n == 0) {
            record->AssignSize(SaturatedSize(left));
        } else {
            const int64_t value = Weight(record) * remaining / 1000;
            record->AssignSize(SaturatedSize(value));
            left -= value;
        }
    }

    int64_t position = start;
    for (KIUiObject* child = m_pFirstChild; child; child = child->GetNext()) {
        KILayoutObject* record = child->GetLayout(m_Horizontal);
        record->SetWorkingOffset(SaturatedSize(position));
        position += record->GetSize();
    }
    for (KIUiObject* child = m_pFirstChild; child; child = child->GetNext()) {
        KILayoutObject* record = child->GetLayout(m_Horizontal);
        if (m_Horizontal)
            child->SetRect(record->GetWorkingOffset(), y, record->GetSize(), height);
        else
            child->SetRect(x, record->GetWorkingOffset(), width, record->GetSize());
    }

    KUiObject::SetRect(x, y, width, height);
    m_HLayout.SetWorkingOffset(x);
    m_HLayout.SetSize(width);
    m_VLayout.SetWorkingOffset(y);
    m_VLayout.SetSize(height);
    return true;
}

bool KUiHVBox::Relayout()
{
    if (m_ChildrenHidden)
        return true;
    for (KIUiObject* child = m_pFirstChild; child; child = child->GetNext())
        child->Relayout();
    priComputeOwnLayout();
    return true;
}

void KUiHVBox::Draw(KIUiPixmap* surface, int32_t dx, int32_t dy, const KRect& clip)
{
    if (m_ChildrenHidden)
        return;
    for (KIUiObject* child = m_pFirstChild; child; child = child->GetNext()) {
        KRect r = *child->GetRect();
        r.Offset(dx, dy);
        const KRect c = IntersectRects(r, clip);
        if (!IsEmptyRect(c))
            child->Draw(surface, dx, dy, c);
    }
}

void KUiHVBox::Tick(int32_t elapsedMs)
{
    if (m_ChildrenHidden)
        return;
    for (KIUiObject* child = m_pFirstChild; child; child = child->GetNext())
        child->Tick(elapsedMs);
}

KIUiObject* KUiHVBox::HitTest(int32_t x, int32_t y)
{
    if (m_ChildrenHidden)
        return nullptr;
    for (KIUiObject* child = m_pFirstChild; child; child = child->GetNext())
        if (KIUiObject* hit = child->HitTest(x, y))
            return hit;
    return nullptr;
}

void KUiHVBox::priCollapse()
{
    m_ChildrenHidden = true;
    m_SavedHLayout = m_HLayout;
    m_SavedVLayout = m_VLayout;
    for (KLayoutObject* record : {&m_HLayout, &m_VLayout}) {
        record->SetFixed(true);
        record->SetMinimumSize(0);
        record->SetStretch(0);
        record->SetWorkingStretch(0);
        record->SetWorkingOffset(0);
        record->AssignSize(0);
    }
}

void KUiHVBox::priOpen()
{
    m_ChildrenHidden = false;
    m_HLayout = m_SavedHLayout;
    m_VLayout = m_SavedVLayout;
}

bool KUiHVBox::RegisterCreator(KIUiObjectFactory* factory)
{
    const bool h = RegisterControlCreator(factory, "HBOX", new KUiHVBoxCreator);
    const bool v = RegisterControlCreator(factory, "VBOX", new KUiHVBoxCreator);
    return h && v;
}

KIUiObject* KUiHVBoxCreator::Create()
{
    return new (std::nothrow) KUiHVBox;
}

void KUiHVBox::PopupClosed()
{
    if (m_pParent)
        m_pParent->PopupClosed();
}
