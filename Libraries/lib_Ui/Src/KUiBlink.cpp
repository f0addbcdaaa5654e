#include "KUiBlink.h"

#include <new>

#include "KExceptionUiScript.h"
#include "KIGenericUiApp.h"
#include "KPropTree.h"

KUiBlink::KUiBlink()
{
    m_pTypeKeyword = "BLINK";
}

KUiBlink::~KUiBlink()
{
    priDeleteImages();
}

void KUiBlink::priDeleteImages()
{
    delete m_pOnImage;
    m_pOnImage = nullptr;
    delete m_pOffImage;
    m_pOffImage = nullptr;
}

bool KUiBlink::InitUiObject(KIGenericUiApp* application, KIGenericUiWindow* window, KIUiObject* parent,
                            KPropTree* node)
{
    KUiObject::InitUiObject(application, window, parent, node);
    bool found = false;
    if (node)
        m_Period = node->GetInt(KWString(u"Period"), 0, &found);
    if (!found)
        throw KExceptionUiScript("KUiBlink::InitUiObject() failed: missing required property 'Period'!");

    KIUiObjectFactory* factory = application ? application->GetFactory() : nullptr;
    for (KPropTree* element = node->GetFirstChild(); element && factory; element = element->GetNextSibling()) {
        if (element->GetName() != u"IMAGE")
            continue;
        const KWString name = element->GetString(KWString(u"Name"), KWString());
        KIUiObject** slot = name == u"On" ? &m_pOnImage : name == u"Off" ? &m_pOffImage : nullptr;
        if (!slot || *slot)
            continue;
        KIUiObject* image = factory->Create(&element->GetName());
        if (!image)
            continue;
        if (InitChildObject(image, application, window, this, element))
            *slot = image;
    }
    if (!m_pOnImage || !m_pOffImage) {
        priDeleteImages();
        throw KExceptionUiScript("KUiBlink::InitUiObject() failed: do not have both on and off images!");
    }
    KILayoutObject* onH = m_pOnImage->GetLayout(true);
    KILayoutObject* onV = m_pOnImage->GetLayout(false);
    KILayoutObject* offH = m_pOffImage->GetLayout(true);
    KILayoutObject* offV = m_pOffImage->GetLayout(false);
    if (onH->GetMinimumSize() != offH->GetMinimumSize() || onV->GetMinimumSize() != offV->GetMinimumSize()) {
        priDeleteImages();
        throw KExceptionUiScript("KUiBlink::InitUiObject() failed: on and off images are not the same size!");
    }
    m_Width = onH->GetMinimumSize();
    m_Height = onV->GetMinimumSize();
    SetLayoutRecord(m_HLayout, m_Width, 0);
    SetLayoutRecord(m_VLayout, m_Height, 0);
    m_On = false;
    m_Accumulated = 0;
    return true;
}

bool KUiBlink::PostCreationConnect()
{
    bool ok = KUiObject::PostCreationConnect();
    if (m_pOnImage)
        ok = m_pOnImage->PostCreationConnect() && ok;
    if (m_pOffImage)
        ok = m_pOffImage->PostCreationConnect() && ok;
    return ok;
}

bool KUiBlink::SetRect(int32_t x, int32_t y, int32_t width, int32_t height)
{
    const int32_t w = m_HLayout.GetStretch() != 0 && width >= m_Width ? width : m_Width;
    const int32_t h = m_VLayout.GetStretch() != 0 && height >= m_Height ? height : m_Height;
    m_Rect = KRect(x, y, SaturatedSize(int64_t(x) + w), SaturatedSize(int64_t(y) + h));
    if (m_pOnImage)
        m_pOnImage->SetRect(x, y, w, h);
    if (m_pOffImage)
        m_pOffImage->SetRect(x, y, w, h);
    return true;
}

void KUiBlink::Draw(KIUiPixmap* surface, int32_t dx, int32_t dy, const KRect& clip)
{
    if (KIUiObject* image = m_On ? m_pOnImage : m_pOffImage)
        image->Draw(surface, dx, dy, clip);
}

void KUiBlink::Tick(int32_t elapsedMs)
{
    m_Accumulated += static_cast<uint32_t>(elapsedMs);
    // An unsigned comparison, as the counter: a negative period never ends.
    if (m_Accumulated <= static_cast<uint32_t>(m_Period))
        return;
    // The excess is dropped: the next period starts now.
    m_On = !m_On;
    m_Accumulated = 0;
    Repaint();
}

bool KUiBlink::RegisterCreator(KIUiObjectFactory* factory)
{
    return RegisterControlCreator(factory, "BLINK", new KUiBlinkCreator);
}

KIUiObject* KUiBlinkCreator::Create()
{
    return new (std::nothrow) KUiBlink;
}
