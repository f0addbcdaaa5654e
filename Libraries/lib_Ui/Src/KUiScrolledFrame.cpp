#include "KUiScrolledFrame.h"

#include <algorithm>
#include <new>

#include "KIGenericUiApp.h"
#include "KIGenericUiWindow.h"
#include "KIUiPixmap.h"
#include "KPropTree.h"
#include "KUiScrollbar.h"

namespace {

// Thicknesses and line sizes beyond any window; keeps the sums of the geometry far inside 32 bits.
constexpr int32_t kMaxScriptSize = 1 << 20;

}  // namespace

KUiScrolledFrame::KUiScrolledFrame()
{
    m_pTypeKeyword = "SCROLLED_FRAME";
}

KUiScrolledFrame::~KUiScrolledFrame()
{
    delete m_pText;
    delete m_pScrollbar;
}

bool KUiScrolledFrame::PostCreationConnect()
{
    if (m_pScrollbar)
        m_pScrollbar->PostCreationConnect();
    const bool connected = m_pWindow ? m_SizeChanged.Connect(m_pWindow) : m_SizeChanged.Connect(m_pApp);
    if (!connected)
        return false;
    return m_pFirstChild ? m_pFirstChild->PostCreationConnect() : true;
}

KIUiRelay* KUiScrolledFrame::FindObject(const KWString& name)
{
    return FindInContent(this, m_Name, m_pFirstChild, name);
}

bool KUiScrolledFrame::InitUiObject(KIGenericUiApp* application, KIGenericUiWindow* window, KIUiObject* parent,
                                    KPropTree* node)
{
    KUiObject::InitUiObject(application, window, parent, node);
    if (!node || !application)
        return false;
    m_Keys.Read(node);
    bool hasColour = false, hasThickness = false, hasLine = false;
    m_FrameColor = GetUiColor(node, "FrameColor", m_FrameColor, &hasColour);
    m_Thickness = std::clamp(node->GetInt(KWString("FrameThickness"), 0, &hasThickness), 0, kMaxScriptSize);
    const int32_t line = std::clamp(node->GetInt(KWString("LineSize"), 0, &hasLine), -kMaxScriptSize, kMaxScriptSize);
    const int32_t spacer = std::clamp(node->GetInt(KWString("SpacerSize"), 0), -kMaxScriptSize, kMaxScriptSize);
    m_FillColor = GetUiColor(node, "_FillColor", m_FillColor, &m_HasFill);
    if (!m_Keys.HasAll() || !hasColour || !hasThickness || !hasLine)
        return false;
    // Lines are the unit of every count: a size of 0 or less counts nothing.
    m_LineSize = line + spacer;
    if (m_LineSize <= 0)
        return false;

    KIUiObjectFactory* factory = application->GetFactory();
    for (KPropTree* element = node->GetFirstChild(); element; element = element->GetNextSibling()) {
        const KWString& tag = element->GetName();
        if (tag == u"SIZECHANGED") {
            m_SizeChanged.AddRelay(element);
        } else if (tag == u"SCROLLBAR") {
            if (!m_pScrollbar)
                m_pScrollbar = CreateOwnedScrollbar(application, window, this, element);
        } else if (tag == u"TEXT" || ((tag == u"HBOX" || tag == u"VBOX") && !m_pFirstChild)) {
            if (tag == u"TEXT" && m_pText)
                continue;
            KIUiObject* child = factory ? factory->Create(&tag) : nullptr;
            if (!child)
                continue;
            if (!child->InitUiObject(application, window, this, element)) {
                delete child;
                continue;
            }
            if (tag == u"TEXT")
                m_pText = child;
            else
                AppendChild(child);
        }
    }
    if (!m_pScrollbar)
        return false;
    m_pScrollbar->ConnectEvent(KWString("ON_SCROLL"), KWString("Scroll"), this);
    priComputeMinimum();
    return true;
}

void KUiScrolledFrame::priComputeMinimum()
{
    const int64_t t2 = 2 * int64_t(m_Thickness);
    const int64_t bw = std::max(0, m_pScrollbar->GetLayout(true)->GetMinimumSize());
    const int64_t bh = std::max(0, m_pScrollbar->GetLayout(false)->GetMinimumSize());
    int64_t width = std::max<int64_t>(m_Keys.minH, t2 + bw + 1);
    const int64_t height = std::max<int64_t>(m_Keys.minV, t2 + bh + 1);
    if (KIUiObject* content = m_pFirstChild)
        width = std::max<int64_t>(width, bw + std::max(0, content->GetLayout(true)->GetMinimumSize()) + t2);
    m_MinWidth = SaturatedSize(width);
    m_MinHeight = SaturatedSize(height);
    SetLayoutRecord(m_HLayout, m_MinWidth, m_Keys.stretchH);
    SetLayoutRecord(m_VLayout, m_MinHeight, m_Keys.stretchV);
}

bool KUiScrolledFrame::Relayout()
{
    if (m_pFirstChild)
        m_pFirstChild->Relayout();
    if (m_pScrollbar)
        priComputeMinimum();
    return true;
}

KRect KUiScrolledFrame::GetViewRect() const
{
    const int64_t t = m_Thickness;
    return KRect(SaturatedSize(m_Rect.left + t), SaturatedSize(m_Rect.top + t),
                 SaturatedSize(int64_t(m_Rect.left) + t + std::max(0, m_ViewWidth)),
                 SaturatedSize(int64_t(m_Rect.bottom) - t));
}

bool KUiScrolledFrame::SetRect(int32_t x, int32_t y, int32_t width, int32_t height)
{
    if (!m_pScrollbar)
        return KUiObject::SetRect(x, y, width, height);
    width = m_Keys.stretchH == 0 ? m_MinWidth : std::max(width, m_MinWidth);
    height = m_Keys.stretchV == 0 ? m_MinHeight : std::max(height, m_MinHeight);
    const int64_t t = m_Thickness;
    const int32_t bw = std::max(0, m_pScrollbar->GetLayout(true)->GetMinimumSize());
    m_ViewWidth = SaturatedSize(int64_t(width) - 2 * t - bw);
    m_ViewHeight = SaturatedSize(int64_t(height) - 2 * t);
    m_Rect = KRect(x, y, SaturatedSize(int64_t(x) + width), SaturatedSize(int64_t(y) + height));
    if (KIUiObject* content = m_pFirstChild) {
        const int32_t needed = content->GetLayout(false)->GetMinimumSize();
        m_Scrolling = needed > m_ViewHeight;
        m_LaidHeight = m_Scrolling ? needed : m_ViewHeight;
        if (!m_Scrolling)
            m_FirstLine = 0;
        priPlaceContent();
        m_ContentHeight = content->GetLayout(false)->GetSize();
        m_ContentWidth = content->GetLayout(true)->GetSize();
        // Whole lines, with a full extra line when it is already a multiple.
        if (m_Scrolling)
            m_ContentHeight = SaturatedSize(int64_t(m_ContentHeight) + (m_LineSize - m_ContentHeight % m_LineSize));
    } else {
        m_Scrolling = false;
        m_FirstLine = 0;
    }
    m_pScrollbar->SetRect(SaturatedSize(int64_t(x) + width - t - bw), SaturatedSize(y + t), bw,
                          SaturatedSize(int64_t(height) - 2 * t));
    priPublishRange();
    return true;
}

void KUiScrolledFrame::priPlaceContent()
{
    KIUiObject* content = m_pFirstChild;
    if (!content)
        return;
    const int64_t shift = m_Scrolling ? int64_t(m_FirstLine) * m_LineSize : 0;
    content->SetRect(SaturatedSize(int64_t(m_Rect.left) + m_Thickness),
                     SaturatedSize(int64_t(m_Rect.top) + m_Thickness - shift), m_ViewWidth, m_LaidHeight);
}

void KUiScrolledFrame::priPublishRange()
{
    double range[3] = {0, 0, 0};
    const int32_t visible = m_ViewHeight / m_LineSize;
    if (m_Scrolling) {
        range[0] = m_ContentHeight / m_LineSize;
        range[1] = visible;
        range[2] = m_FirstLine;
    } else {
        range[0] = range[1] = visible;
    }
    m_SizeChanged.Fire(range);
    double copy[3] = {range[0], range[1], range[2]};
    if (m_pScrollbar)
        UiRelaySend(m_pScrollbar, KWString("Set"), copy);
}

bool KUiScrolledFrame::UiRelayMessage(const KWString& message, void* data)
{
    if (message == kUiMsgPostCreationInit) {
        if (m_pScrollbar)
            m_pScrollbar->UiRelayMessage(message, data);
        priPublishRange();
        return true;
    }
    if (message == u"Scroll") {
        const int32_t* line = UiRelayData<int32_t>(data);
        if (!line)
            return false;
        m_FirstLine = *line;
        priPlaceContent();
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
    return false;
}

void KUiScrolledFrame::Draw(KIUiPixmap* surface, int32_t dx, int32_t dy, const KRect& clip)
{
    if (!surface || !m_pScrollbar)
        return;
    const int64_t t = m_Thickness;
    const int32_t bw = std::max(0, m_pScrollbar->GetLayout(true)->GetMinimumSize());
    KRect r = m_Rect;
    r.Offset(dx, dy);
    auto fill = [&](int64_t left, int64_t top, int64_t right, int64_t bottom, const KUiColor& colour) {
        const KRect band = IntersectRects(
            KRect(SaturatedSize(left), SaturatedSize(top), SaturatedSize(right), SaturatedSize(bottom)), clip);
        if (!IsEmptyRect(band))
            surface->FillRect(band, colour);
    };
    fill(r.left, r.top, int64_t(r.right) - bw, r.top + t, m_FrameColor);
    fill(r.left, r.bottom - t, r.right, r.bottom, m_FrameColor);
    fill(r.left, r.top, r.left + t, r.bottom, m_FrameColor);
    fill(r.right - t, r.top, r.right, r.bottom, m_FrameColor);
    if (m_HasFill)
        fill(r.left + t, r.top + t, r.right - t, r.bottom - t, m_FillColor);
    m_pScrollbar->Draw(surface, dx, dy, clip);
    if (m_pFirstChild && m_Visible) {
        KRect view = GetViewRect();
        view.Offset(dx, dy);
        const KRect c = IntersectRects(view, clip);
        if (!IsEmptyRect(c))
            m_pFirstChild->Draw(surface, dx, dy, c);
    }
}

void KUiScrolledFrame::Tick(int32_t elapsedMs)
{
    if (m_pFirstChild)
        m_pFirstChild->Tick(elapsedMs);
}

KIUiObject* KUiScrolledFrame::HitTest(int32_t x, int32_t y)
{
    if (!(x >= m_Rect.left && x < m_Rect.right && y >= m_Rect.top && y < m_Rect.bottom))
        return nullptr;
    if (m_pScrollbar && m_pScrollbar->HitTest(x, y))
        return m_pScrollbar;
    const KRect view = GetViewRect();
    if (m_pFirstChild && m_Visible && x >= view.left && x < view.right && y >= view.top && y < view.bottom)
        if (KIUiObject* hit = m_pFirstChild->HitTest(x, y))
            return hit;
    return this;
}

void KUiScrolledFrame::MouseWheel(int32_t x, int32_t y, int32_t a, int32_t b)
{
    if (m_pScrollbar)
        m_pScrollbar->MouseWheel(x, y, a, b);
}

bool KUiScrolledFrame::RegisterCreator(KIUiObjectFactory* factory)
{
    return RegisterControlCreator(factory, "SCROLLED_FRAME", new KUiScrolledFrameCreator);
}

KIUiObject* KUiScrolledFrameCreator::Create()
{
    return new (std::nothrow) KUiScrolledFrame;
}
