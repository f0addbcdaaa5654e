#include "KUiFrame.h"

#include <algorithm>
#include <new>

#include "KIGenericUiApp.h"
#include "KIGenericUiWindow.h"
#include "KIUiPixmap.h"
#include "KPropTree.h"

namespace {

// Thicknesses beyond any window; keeps every sum of the geometry far inside 32 bits.
constexpr int32_t kMaxThickness = 1 << 20;

}  // namespace

KUiFrame::KUiFrame()
{
    m_pTypeKeyword = "FRAME";
}

KUiFrame::~KUiFrame()
{
    delete m_pCaption;
}

bool KUiFrame::PostCreationConnect()
{
    if (m_pWindow)
        m_PressEvent.Connect(m_pWindow);
    else if (m_pApp)
        m_PressEvent.Connect(m_pApp);
    return m_pFirstChild ? m_pFirstChild->PostCreationConnect() : true;
}

KIUiRelay* KUiFrame::FindObject(const KWString& name)
{
    return FindInContent(this, m_Name, m_pFirstChild, name);
}

bool KUiFrame::UiRelayMessage(const KWString& message, void* data)
{
    if (message == u"SetColor") {
        KUiColor colour;
        const KWString* text = UiRelayData<KWString>(data);
        if (text && ParseUiColor(*text, colour)) {
            m_FillColor = colour;
            m_HasFill = true;
            Repaint();
        }
    } else if (message == u"Show") {
        if (!m_Visible) {
            m_Visible = true;
            Repaint();
        }
    } else if (message == u"Hide") {
        if (m_Visible) {
            m_Visible = false;
            Repaint();
        }
    }
    return true;
}

bool KUiFrame::InitUiObject(KIGenericUiApp* application, KIGenericUiWindow* window, KIUiObject* parent,
                            KPropTree* node)
{
    KUiObject::InitUiObject(application, window, parent, node);
    if (!node)
        return false;
    m_Keys.Read(node);
    bool hasColour = false, hasThickness = false;
    m_FrameColor = GetUiColor(node, "FrameColor", m_FrameColor, &hasColour);
    m_Thickness = std::clamp(node->GetInt(KWString("FrameThickness"), 0, &hasThickness), 0, kMaxThickness);
    if (!m_Keys.HasAll() || !hasColour || !hasThickness)
        return false;
    m_FillColor = GetUiColor(node, "_FillColor", m_FillColor, &m_HasFill);
    m_Clickable = node->GetBool(KWString("_Clickable"), false);
    m_Visible = node->GetBool(KWString("_Visible"), true);

    KIUiObjectFactory* factory = application ? application->GetFactory() : nullptr;
    for (KPropTree* element = node->GetFirstChild(); element; element = element->GetNextSibling()) {
        const KWString& tag = element->GetName();
        if (tag == u"ON_PRESS") {
            m_PressEvent.AddRelay(element);
        } else if (tag == u"TEXT" && !m_pCaption && factory) {
            if (KIUiObject* caption = factory->Create(&tag)) {
                if (caption->InitUiObject(application, window, this, element))
                    m_pCaption = caption;
                else
                    delete caption;
            }
        }
    }
    if (KIUiObject* content = CreateContentBox(application, window, this, node))
        AppendChild(content);
    priComputeGeometry();
    return true;
}

void KUiFrame::priComputeGeometry()
{
    const int64_t t = m_Thickness;
    int64_t cw = 1, ch = 1;
    if (KIUiObject* content = m_pFirstChild) {
        cw = std::max(0, content->GetLayout(true)->GetMinimumSize());
        ch = std::max(0, content->GetLayout(false)->GetMinimumSize());
    }
    int64_t width = 0, height = 0;
    if (!m_pCaption) {
        m_CaptionLeft = m_Margin = m_CaptionTop = 0;
        width = 2 * t + cw;
        height = 2 * t + ch;
    } else {
        const int64_t capW = std::max(0, m_pCaption->GetLayout(true)->GetMinimumSize());
        const int64_t capH = std::max(0, m_pCaption->GetLayout(false)->GetMinimumSize());
        const int64_t half = capH / 2;
        int64_t top = 0, margin = 0;
        if (capH - half > t) {
            top = capH;
            margin = capH - half - t;
        } else {
            top = half + t;
        }
        m_CaptionTop = SaturatedSize(top);
        m_Margin = SaturatedSize(margin);
        m_CaptionLeft = SaturatedSize(half + t);
        width = std::max(capW + 2 * (margin + t + half), cw + 2 * (margin + t));
        height = top + margin + t + ch;
    }
    m_MinWidth = SaturatedSize(std::max<int64_t>(width, m_Keys.minH));
    m_MinHeight = SaturatedSize(std::max<int64_t>(height, m_Keys.minV));
    SetLayoutRecord(m_HLayout, m_MinWidth, m_Keys.stretchH);
    SetLayoutRecord(m_VLayout, m_MinHeight, m_Keys.stretchV);
}

bool KUiFrame::Relayout()
{
    if (m_pFirstChild)
        m_pFirstChild->Relayout();
    if (m_pCaption)
        m_pCaption->Relayout();
    priComputeGeometry();
    return true;
}

bool KUiFrame::SetRect(int32_t x, int32_t y, int32_t width, int32_t height)
{
    width = m_Keys.stretchH == 0 ? m_MinWidth : std::max(width, m_MinWidth);
    height = m_Keys.stretchV == 0 ? m_MinHeight : std::max(height, m_MinHeight);
    KIUiObject* content = m_pFirstChild;
    if (!content)
        return KUiObject::SetRect(x, y, width, height);
    const int64_t t = m_Thickness;
    bool ok = false;
    if (!m_pCaption) {
        ok = content->SetRect(SaturatedSize(x + t), SaturatedSize(y + t), SaturatedSize(width - 2 * t),
                              SaturatedSize(height - 2 * t));
        if (ok) {
            const KRect c = *content->GetRect();
            m_Rect = KRect(SaturatedSize(c.left - t), SaturatedSize(c.top - t), SaturatedSize(c.right + t),
                           SaturatedSize(c.bottom + t));
        }
        return ok;
    }
    const int32_t capW = m_pCaption->GetLayout(true)->GetMinimumSize();
    const int32_t capH = m_pCaption->GetLayout(false)->GetMinimumSize();
    m_pCaption->SetRect(SaturatedSize(int64_t(x) + m_CaptionLeft), y, capW, capH);
    const int64_t side = int64_t(m_Margin) + t;
    ok = content->SetRect(SaturatedSize(x + side), SaturatedSize(int64_t(y) + m_CaptionTop),
                          SaturatedSize(width - 2 * side), SaturatedSize(int64_t(height) - m_CaptionTop - side));
    if (ok) {
        const KRect c = *content->GetRect();
        const int64_t left = c.left - side, top = int64_t(c.top) - m_CaptionTop;
        m_Rect = KRect(SaturatedSize(left), SaturatedSize(top), SaturatedSize(left + c.Width() + 2 * side),
                       SaturatedSize(top + m_CaptionTop + side + c.Height()));
    }
    return ok;
}

void KUiFrame::Draw(KIUiPixmap* surface, int32_t dx, int32_t dy, const KRect& clip)
{
    if (!m_Visible)
        return;
    KRect r = m_Rect;
    r.Offset(dx, dy);
    if (m_pCaption)
        r.top = SaturatedSize(int64_t(r.top) + m_pCaption->GetLayout(false)->GetMinimumSize() / 2);
    if (IsEmptyRect(IntersectRects(r, clip)))
        return;
    const int32_t t = m_Thickness;
    auto band = [&](int64_t left, int64_t top, int64_t right, int64_t bottom) {
        const KRect b = IntersectRects(
            KRect(SaturatedSize(left), SaturatedSize(top), SaturatedSize(right), SaturatedSize(bottom)), clip);
        if (!IsEmptyRect(b))
            surface->FillRect(b, m_FrameColor);
    };
    if (!m_pCaption) {
        band(r.left, r.top, r.right, int64_t(r.top) + t);
    } else {
        const int64_t captionWidth = m_pCaption->GetRect()->Width();
        band(r.left, r.top, int64_t(r.left) + m_CaptionLeft - 2, int64_t(r.top) + t);
        band(int64_t(r.left) + m_CaptionLeft + captionWidth + 2, r.top, r.right, int64_t(r.top) + t);
    }
    band(r.left, int64_t(r.bottom) - t, r.right, r.bottom);
    band(r.left, r.top, int64_t(r.left) + t, r.bottom);
    band(int64_t(r.right) - t, r.top, r.right, r.bottom);
    const KRect inside(SaturatedSize(int64_t(r.left) + t), SaturatedSize(int64_t(r.top) + t),
                       SaturatedSize(int64_t(r.right) - t), SaturatedSize(int64_t(r.bottom) - t));
    if (m_HasFill) {
        const KRect f = IntersectRects(inside, clip);
        if (!IsEmptyRect(f))
            surface->FillRect(f, m_FillColor);
    }
    if (m_pCaption)
        m_pCaption->Draw(surface, dx, dy, clip);
    if (m_pFirstChild) {
        const KRect c = IntersectRects(inside, clip);
        if (!IsEmptyRect(c))
            m_pFirstChild->Draw(surface, dx, dy, c);
    }
}

void KUiFrame::Tick(int32_t elapsedMs)
{
    if (m_pCaption)
        m_pCaption->Tick(elapsedMs);
    if (m_pFirstChild)
        m_pFirstChild->Tick(elapsedMs);
}

KIUiObject* KUiFrame::HitTest(int32_t x, int32_t y)
{
    if (!(x >= m_Rect.left && x < m_Rect.right && y >= m_Rect.top && y < m_Rect.bottom))
        return nullptr;
    if (m_Clickable)
        return this;
    return m_pFirstChild ? m_pFirstChild->HitTest(x, y) : nullptr;
}

bool KUiFrame::MouseDown(int32_t, int32_t, bool, bool)
{
    m_PressEvent.Fire(nullptr);
    return false;
}

bool KUiFrame::RegisterCreator(KIUiObjectFactory* factory)
{
    return RegisterControlCreator(factory, "FRAME", new KUiFrameCreator);
}

KIUiObject* KUiFrameCreator::Create()
{
    return new (std::nothrow) KUiFrame;
}
