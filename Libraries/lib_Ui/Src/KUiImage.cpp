#include "KUiImage.h"

#include <algorithm>
#include <new>

#include "KGenericUiPixmap.h"
#include "KIGenericUiApp.h"
#include "KIUiImageSource.h"
#include "KIUiPixmap.h"
#include "KPropTree.h"

bool UiAlphaHit(const KIUiPixmap* image, const KRect& rect, int32_t x, int32_t y)
{
    if (!image)
        return false;
    const int64_t px = int64_t(x) - rect.left, py = int64_t(y) - rect.top;
    if (px < 0 || py < 0 || px >= image->Width() || py >= image->Height())
        return false;
    return image->GetAlpha(static_cast<int32_t>(px), static_cast<int32_t>(py)) > 128;
}

bool UiRectInsidePicture(const KRect& r, int32_t width, int32_t height)
{
    return r.left >= 0 && r.top >= 0 && r.left <= r.right && r.top <= r.bottom && r.right <= width &&
           r.bottom <= height;
}

// ---- IMAGE ----

KUiImage::KUiImage()
{
    m_pTypeKeyword = "IMAGE";
    m_pPressEvent = AddEvent(KWString(u"ON_PRESS"));
}

KUiImage::~KUiImage()
{
    DeleteUiPixmap(m_pScaled);
    DeleteUiPixmap(m_pImage);
}

KIUiRelay* KUiImage::FindObject(const KWString& name)
{
    return FindInContent(this, m_Name, m_pFirstChild, name);
}

void KUiImage::priSetVisible(bool visible)
{
    m_Visible = visible;
    Repaint();
}

bool KUiImage::UiRelayMessage(const KWString& message, void* data)
{
    if (message == u"SetImage") {
        KIUiImageSource* source = UiRelayObject<KIUiImageSource>(data);
        if (!source)
            return false;
        const KPixmap_Display* pixels = source->GetDisplayPixmap();
        KIUiPixmap* image = pixels ? CreateUiPixmapFromPixmap(pixels, false) : nullptr;
        if (image) {
            DeleteUiPixmap(m_pImage);
            m_pImage = image;
            m_Visible = true;
            ShrinkWindow(0, 0);
            // A window that keeps its size is not laid out again: the new picture is scaled here.
            priRebuildScaled();
            Repaint();
        }
        return false;
    }
    if (message == u"Show") {
        if (!m_Visible)
            priSetVisible(true);
        return true;
    }
    if (message == u"Hide") {
        if (m_Visible)
            priSetVisible(false);
        return true;
    }
    if (message == u"ToggleVisibility") {
        priSetVisible(!m_Visible);
        return true;
    }
    bool visible = false;
    if (message == u"Visibility" && UiRelayFlag(data, visible)) {
        priSetVisible(visible);
        return true;
    }
    return false;
}

bool KUiImage::InitUiObject(KIGenericUiApp* application, KIGenericUiWindow* window, KIUiObject* parent,
                            KPropTree* node)
{
    KUiObject::InitUiObject(application, window, parent, node);
    if (!node)
        return false;
    m_pImage = LoadImageProperty(node, KWString(u"File_Image"), nullptr);
    m_UseAlphaForHitTest = node->GetBool(KWString(u"_UseAlphaForHitTest"), true);
    m_Keys.Read(node, true);
    m_Visible = node->GetBool(KWString(u"_Visible"), true);
    if (KIUiObject* content = CreateContentBox(application, window, this, node))
        AppendChild(content);
    if (!priComputeMinimums()) {
        delete m_pFirstChild;
        m_pFirstChild = nullptr;
        return false;
    }
    return true;
}

bool KUiImage::priComputeMinimums()
{
    // Without a picture and a size key the minimum is 0: a negative one would upset the box around it.
    m_MinWidth = m_Keys.hasMinH ? m_Keys.minH : (m_pImage ? m_pImage->Width() : 0);
    m_MinHeight = m_Keys.hasMinV ? m_Keys.minV : (m_pImage ? m_pImage->Height() : 0);
    if (!FitMinimumsToContent(m_pFirstChild, m_Keys, m_MinWidth, m_MinHeight))
        return false;
    SetLayoutRecord(m_HLayout, m_MinWidth, m_Keys.stretchH);
    SetLayoutRecord(m_VLayout, m_MinHeight, m_Keys.stretchV);
    return true;
}

bool KUiImage::Relayout()
{
    if (m_pFirstChild)
        m_pFirstChild->Relayout();
    return priComputeMinimums();
}

bool KUiImage::SetRect(int32_t x, int32_t y, int32_t width, int32_t height)
{
    width = m_Keys.stretchH == 0 ? m_MinWidth : std::max(width, m_MinWidth);
    height = m_Keys.stretchV == 0 ? m_MinHeight : std::max(height, m_MinHeight);
    bool ok = true;
    if (KIUiObject* content = m_pFirstChild) {
        ok = content->SetRect(x, y, width, height);
        if (ok)
            m_Rect = *content->GetRect();
    } else {
        KUiObject::SetRect(x, y, width, height);
    }
    priRebuildScaled();
    return ok;
}

void KUiImage::priRebuildScaled()
{
    DeleteUiPixmap(m_pScaled);
    if (!m_pImage)
        return;
    m_pScaled = CreateUiPixmap(m_Rect.Width(), m_Rect.Height(), false);
    if (!m_pScaled)
        return;
    KRect to, from;
    m_pScaled->GetBounds(to);
    m_pImage->GetBounds(from);
    m_pImage->CopyTo(m_pScaled, to, from);
}

void KUiImage::Draw(KIUiPixmap* surface, int32_t dx, int32_t dy, const KRect& clip)
{
    if (!m_Visible)
        return;
    if (m_pScaled) {
        KRect to = m_Rect, from;
        to.Offset(dx, dy);
        m_pScaled->GetBounds(from);
        BlendClipped(m_pScaled, surface, to, from, clip);
    }
    if (m_pFirstChild)
        m_pFirstChild->Draw(surface, dx, dy, clip);
}

void KUiImage::Tick(int32_t elapsedMs)
{
    if (m_pFirstChild)
        m_pFirstChild->Tick(elapsedMs);
}

KIUiObject* KUiImage::HitTest(int32_t x, int32_t y)
{
    if (!(x >= m_Rect.left && x < m_Rect.right && y >= m_Rect.top && y < m_Rect.bottom))
        return nullptr;
    if (m_pFirstChild)
        if (KIUiObject* hit = m_pFirstChild->HitTest(x, y))
            return hit;
    if (!m_pScaled || !m_UseAlphaForHitTest)
        return this;
    return UiAlphaHit(m_pScaled, m_Rect, x, y) ? this : nullptr;
}

bool KUiImage::MouseDown(int32_t, int32_t, bool, bool)
{
    m_pPressEvent->Fire(nullptr);
    return true;
}

bool KUiImage::RegisterCreator(KIUiObjectFactory* factory)
{
    return RegisterControlCreator(factory, "IMAGE", new KUiImageCreator);
}

KIUiObject* KUiImageCreator::Create()
{
    return new (std::nothrow) KUiImage;
}

// ---- RESIZED_IMAGE ----

KUiResizedImage::KUiResizedImage()
{
    m_pTypeKeyword = "RESIZED_IMAGE";
}

KUiResizedImage::~KUiResizedImage()
{
    DeleteUiPixmap(m_pSized);
    DeleteUiPixmap(m_pImage);
}

bool KUiResizedImage::InitUiObject(KIGenericUiApp* application, KIGenericUiWindow* window, KIUiObject* parent,
                                   KPropTree* node)
{
    KUiObject::InitUiObject(application, window, parent, node);
    if (!node)
        return false;
    bool loaded = false, hasRect = false;
    m_pImage = LoadImageProperty(node, KWString(u"File_Image"), &loaded);
    node->GetRect(m_Stretch, KWString(u"ResizeRect"), KRect(), &hasRect);
    m_Keys.Read(node);
    if (!m_pImage || !loaded || !hasRect || !m_Keys.HasAll()) {
        DeleteUiPixmap(m_pImage);
        return false;
    }
    const int32_t w = m_pImage->Width(), h = m_pImage->Height();
    // At least one pixel of fixed border on the left and at the top, the rest inside the picture.
    if (m_Stretch.left < 1 || m_Stretch.top < 1 || !UiRectInsidePicture(m_Stretch, w, h)) {
        DeleteUiPixmap(m_pImage);
        return false;
    }
    m_MinWidth = std::max(m_Keys.minH, w - m_Stretch.Width() + 1);
    m_MinHeight = std::max(m_Keys.minV, h - m_Stretch.Height() + 1);
    SetLayoutRecord(m_HLayout, m_MinWidth, m_Keys.stretchH);
    SetLayoutRecord(m_VLayout, m_MinHeight, m_Keys.stretchV);
    return true;
}

bool KUiResizedImage::SetRect(int32_t x, int32_t y, int32_t width, int32_t height)
{
    width = m_Keys.stretchH != 0 && width >= m_MinWidth ? width : m_MinWidth;
    height = m_Keys.stretchV != 0 && height >= m_MinHeight ? height : m_MinHeight;
    KUiObject::SetRect(x, y, width, height);
    DeleteUiPixmap(m_pSized);
    if (m_pImage && (m_pSized = CreateUiPixmap(width, height, false)))
        m_pImage->DrawNinePatch(m_pSized, m_Stretch, true);
    return true;
}

void KUiResizedImage::Draw(KIUiPixmap* surface, int32_t dx, int32_t dy, const KRect& clip)
{
    if (!m_pSized)
        return;
    KRect to = m_Rect, from;
    to.Offset(dx, dy);
    m_pSized->GetBounds(from);
    BlendClipped(m_pSized, surface, to, from, clip);
}

KIUiObject* KUiResizedImage::HitTest(int32_t x, int32_t y)
{
    if (!(x >= m_Rect.left && x < m_Rect.right && y >= m_Rect.top && y < m_Rect.bottom))
        return nullptr;
    if (!m_pSized)
        return this;
    return UiAlphaHit(m_pSized, m_Rect, x, y) ? this : nullptr;
}

bool KUiResizedImage::RegisterCreator(KIUiObjectFactory* factory)
{
    return RegisterControlCreator(factory, "RESIZED_IMAGE", new KUiResizedImageCreator);
}

KIUiObject* KUiResizedImageCreator::Create()
{
    return new (std::nothrow) KUiResizedImage;
}
