#include "KUiImageFrame.h"

#include <algorithm>
#include <new>

#include "KGenericUiPixmap.h"
#include "KIGenericUiApp.h"
#include "KIGenericUiWindow.h"
#include "KIUiPixmap.h"
#include "KPropTree.h"
#include "KUiImage.h"

KUiImageFrame::KUiImageFrame()
{
    m_pTypeKeyword = "IMAGE_FRAME";
}

KUiImageFrame::~KUiImageFrame()
{
    DeleteUiPixmap(m_pFramePixmap);
    DeleteUiPixmap(m_pImage);
}

bool KUiImageFrame::PostCreationConnect()
{
    if (m_pWindow)
        m_PressEvent.Connect(m_pWindow);
    else if (m_pApp)
        m_PressEvent.Connect(m_pApp);
    return m_pFirstChild ? m_pFirstChild->PostCreationConnect() : true;
}

KIUiRelay* KUiImageFrame::FindObject(const KWString& name)
{
    return FindInContent(this, m_Name, m_pFirstChild, name);
}

bool KUiImageFrame::UiRelayMessage(const KWString& message, void*)
{
    if (message == u"Redraw") {
        Repaint();
        return true;
    }
    if (message == u"Show" || message == u"Hide") {
        m_Visible = message == u"Show";
        Repaint();
        return true;
    }
    return false;
}

bool KUiImageFrame::InitUiObject(KIGenericUiApp* application, KIGenericUiWindow* window, KIUiObject* parent,
                                 KPropTree* node)
{
    KUiObject::InitUiObject(application, window, parent, node);
    if (!node)
        return false;
    m_NoScale = node->GetBool(KWString(u"_NoScale"), false);
    m_Visible = node->GetBool(KWString(u"_Visible"), true);
    m_pImage = LoadImageProperty(node, KWString(u"File_Image"), nullptr);
    if (!m_pImage)
        return false;
    const int32_t w = m_pImage->Width(), h = m_pImage->Height();
    if (!m_NoScale) {
        m_Keys.minH = w;
        m_Keys.minV = h;
        m_Keys.Read(node);
    }
    m_ScaleY = node->GetBool(KWString(u"_ResizeScalingY"), false);
    bool hasInside = false;
    node->GetRect(m_Inside, KWString(u"InsideRect"), KRect(), &hasInside);
    m_Overlay = node->GetBool(KWString(u"_OverlayFrame"), false);
    node->GetRect(m_Layout, KWString(u"_LayoutRect"), m_Inside);
    m_Clickable = node->GetBool(KWString(u"_Clickable"), false);
    if (!hasInside || !UiRectInsidePicture(m_Inside, w, h) || !UiRectInsidePicture(m_Layout, w, h)) {
        DeleteUiPixmap(m_pImage);
        return false;
    }
    for (KPropTree* element = node->GetFirstChild(); element; element = element->GetNextSibling())
        if (element->GetName() == u"ON_PRESS")
            m_PressEvent.AddRelay(element);
    if (KIUiObject* content = CreateContentBox(application, window, this, node))
        AppendChild(content);
    priComputeMinimums();
    return true;
}

void KUiImageFrame::priComputeMinimums()
{
    const int32_t w = m_pImage->Width(), h = m_pImage->Height();
    if (m_NoScale) {
        m_MinWidth = w;
        m_MinHeight = h;
        SetLayoutRecord(m_HLayout, w, 0);
        SetLayoutRecord(m_VLayout, h, 0);
        return;
    }
    int64_t cw = 1, ch = 1;
    if (KIUiObject* content = m_pFirstChild) {
        cw = content->GetLayout(true)->GetMinimumSize();
        ch = content->GetLayout(false)->GetMinimumSize();
    }
    const int64_t marginsH = int64_t(m_Layout.left) + (w - m_Layout.right);
    const int64_t marginsV = int64_t(m_Layout.top) + (h - m_Layout.bottom);
    m_MinWidth = SaturatedSize(std::max<int64_t>(m_Keys.minH, marginsH + cw));
    m_MinHeight = SaturatedSize(std::max<int64_t>(m_Keys.minV, marginsV + ch));
    SetLayoutRecord(m_HLayout, m_MinWidth, m_Keys.stretchH);
    SetLayoutRecord(m_VLayout, m_MinHeight, m_Keys.stretchV);
}

bool KUiImageFrame::Relayout()
{
    if (m_pFirstChild)
        m_pFirstChild->Relayout();
    if (m_pImage)
        priComputeMinimums();
    return true;
}

KRect KUiImageFrame::priLayoutRegion() const
{
    const int32_t w = m_pImage ? m_pImage->Width() : 0, h = m_pImage ? m_pImage->Height() : 0;
    return KRect(SaturatedSize(int64_t(m_Rect.left) + m_Layout.left), SaturatedSize(int64_t(m_Rect.top) + m_Layout.top),
                 SaturatedSize(int64_t(m_Rect.right) - (w - m_Layout.right)),
                 SaturatedSize(int64_t(m_Rect.bottom) - (h - m_Layout.bottom)));
}

bool KUiImageFrame::SetRect(int32_t x, int32_t y, int32_t width, int32_t height)
{
    if (m_NoScale) {
        width = m_MinWidth;
        height = m_MinHeight;
    } else {
        width = m_Keys.stretchH == 0 ? m_MinWidth : std::max(width, m_MinWidth);
        height = m_Keys.stretchV == 0 ? m_MinHeight : std::max(height, m_MinHeight);
    }
    KUiObject::SetRect(x, y, width, height);
    bool ok = true;
    if (KIUiObject* content = m_pFirstChild) {
        const KRect region = priLayoutRegion();
        ok = content->SetRect(region.left, region.top, region.Width(), region.Height());
    }
    DeleteUiPixmap(m_pFramePixmap);
    if (!m_pImage)
        return ok;
    if (m_NoScale) {
        m_pFramePixmap = CreateUiPixmapFromPixmap(m_pImage->GetPixmap(), false);
    } else if ((m_pFramePixmap = CreateUiPixmap(width, height, false))) {
        if (m_ScaleY)
            m_pImage->DrawThreePart(m_pFramePixmap, m_Inside);
        else
            m_pImage->DrawNinePatch(m_pFramePixmap, m_Inside, true);
    }
    return ok;
}

void KUiImageFrame::Draw(KIUiPixmap* surface, int32_t dx, int32_t dy, const KRect& clip)
{
    if (!m_Visible)
        return;
    KRect region = priLayoutRegion();
    region.Offset(dx, dy);
    const KRect contentClip = IntersectRects(region, clip);
    const bool drawContent = m_pFirstChild && !IsEmptyRect(contentClip);
    if (m_Overlay && drawContent)
        m_pFirstChild->Draw(surface, dx, dy, contentClip);
    if (m_pFramePixmap) {
        KRect to = m_Rect, from;
        to.Offset(dx, dy);
        m_pFramePixmap->GetBounds(from);
        BlendClipped(m_pFramePixmap, surface, to, from, clip);
    }
    if (!m_Overlay && drawContent)
        m_pFirstChild->Draw(surface, dx, dy, contentClip);
}

void KUiImageFrame::Tick(int32_t elapsedMs)
{
    for (KIUiObject* child = m_pFirstChild; child; child = child->GetNext())
        child->Tick(elapsedMs);
}

KIUiObject* KUiImageFrame::HitTest(int32_t x, int32_t y)
{
    if (!(x >= m_Rect.left && x < m_Rect.right && y >= m_Rect.top && y < m_Rect.bottom))
        return nullptr;
    if (m_Clickable)
        return this;
    return m_pFirstChild ? m_pFirstChild->HitTest(x, y) : nullptr;
}

bool KUiImageFrame::MouseDown(int32_t, int32_t, bool, bool)
{
    m_PressEvent.Fire(nullptr);
    return false;
}

bool KUiImageFrame::RegisterCreator(KIUiObjectFactory* factory)
{
    return RegisterControlCreator(factory, "IMAGE_FRAME", new KUiImageFrameCreator);
}

KIUiObject* KUiImageFrameCreator::Create()
{
    return new (std::nothrow) KUiImageFrame;
}
