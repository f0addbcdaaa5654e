#include "KUiToggle.h"

#include <new>

#include "KIGenericUiApp.h"
#include "KPropTree.h"
#include "KUiObjectFactory.h"

KUiToggle::KUiToggle()
{
    m_pTypeKeyword = "TOGGLE";
}

bool KUiToggle::PostCreationConnect()
{
    // The base would visit only the first child.
    bool ok = true;
    for (KIUiObject* child = m_pFirstChild; child; child = child->GetNext())
        ok = child->PostCreationConnect() && ok;
    if (m_HasRelay) {
        m_pRelayTarget = m_pApp ? m_pApp->GetUiRelay(m_RelayName) : nullptr;
        ok = m_pRelayTarget && ok;
    }
    return ok;
}

bool KUiToggle::UiRelayMessage(const KWString& message, void*)
{
    if (message == u"On") {
        if (!m_State) {
            m_State = true;
            Repaint();
        }
        return true;
    }
    if (message == u"Off") {
        if (m_State) {
            m_State = false;
            Repaint();
        }
        return true;
    }
    return false;
}

KIUiObject* KUiToggle::priCreateChild(const char16_t* keyword, KPropTree* element)
{
    KIUiObjectFactory* factory = m_pApp ? m_pApp->GetFactory() : nullptr;
    const KWString k(keyword);
    KIUiObject* child = factory ? factory->Create(&k) : nullptr;
    if (!child)
        return nullptr;
    if (!child->InitUiObject(m_pApp, m_pWindow, this, element)) {
        delete child;
        return nullptr;
    }
    AppendChild(child);
    return child;
}

bool KUiToggle::InitUiObject(KIGenericUiApp* application, KIGenericUiWindow* window, KIUiObject* parent,
                             KPropTree* node)
{
    KUiObject::InitUiObject(application, window, parent, node);
    if (!node)
        return false;
    m_State = node->GetBool(KWString(u"InitialState"), true);
    const KWString type = node->GetString(KWString(u"Type"), KWString());
    m_FlipMode = !(type == u"Tab" || type == u"RadioButton");
    for (KPropTree* element = node->GetFirstChild(); element; element = element->GetNextSibling()) {
        const KWString& tag = element->GetName();
        if (tag == u"TEXT" && !m_pLabel) {
            m_pLabel = priCreateChild(u"TEXT", element);
        } else if (tag == u"ON" && !m_pOnImage) {
            m_pOnImage = priCreateChild(u"IMAGE", element);
        } else if (tag == u"OFF" && !m_pOffImage) {
            m_pOffImage = priCreateChild(u"IMAGE", element);
        } else if (tag == u"ONRELAY") {
            m_HasRelay = true;
            m_RelayName = element->GetString(KWString(u"Relay"), KWString());
            m_RelayMessage = element->GetString(KWString(u"Message"), KWString());
        }
    }
    if (!m_pOnImage || !m_pOffImage)
        return false;
    priComputeSize();
    return true;
}

void KUiToggle::priComputeSize()
{
    // Fixed at the on picture's width and the off picture's height.
    SetLayoutRecord(m_HLayout, m_pOnImage->GetLayout(true)->GetMinimumSize(), 0);
    SetLayoutRecord(m_VLayout, m_pOffImage->GetLayout(false)->GetMinimumSize(), 0);
}

bool KUiToggle::Relayout()
{
    KUiObject::Relayout();
    if (m_pOnImage && m_pOffImage)
        priComputeSize();
    return true;
}

bool KUiToggle::SetRect(int32_t x, int32_t y, int32_t, int32_t)
{
    const int32_t width = m_HLayout.GetMinimumSize(), height = m_VLayout.GetMinimumSize();
    KUiObject::SetRect(x, y, width, height);
    for (KIUiObject* child = m_pFirstChild; child; child = child->GetNext())
        child->SetRect(x, y, width, height);
    return true;
}

void KUiToggle::Draw(KIUiPixmap* surface, int32_t dx, int32_t dy, const KRect& clip)
{
    if (KIUiObject* image = m_State ? m_pOnImage : m_pOffImage)
        image->Draw(surface, dx, dy, clip);
    if (m_pLabel)
        m_pLabel->Draw(surface, dx, dy, clip);
}

void KUiToggle::Tick(int32_t elapsedMs)
{
    for (KIUiObject* child = m_pFirstChild; child; child = child->GetNext())
        child->Tick(elapsedMs);
}

KIUiObject* KUiToggle::HitTest(int32_t x, int32_t y)
{
    KIUiObject* image = m_State ? m_pOnImage : m_pOffImage;
    return image && image->HitTest(x, y) ? this : nullptr;
}

bool KUiToggle::MouseDown(int32_t, int32_t, bool, bool)
{
    if (m_Pressed)
        return true;
    m_Pressed = true;
    if (m_FlipMode) {
        m_State = !m_State;
        Repaint();
    } else if (!m_State) {
        m_State = true;
        Repaint();
        if (m_pRelayTarget)
            m_pRelayTarget->UiRelayMessage(m_RelayMessage, nullptr);
    }
    return true;
}

void KUiToggle::MouseUp(int32_t, int32_t, bool, bool)
{
    m_Pressed = false;
}

bool KUiToggle::RegisterCreator(KIUiObjectFactory* factory)
{
    return RegisterControlCreator(factory, "TOGGLE", new KUiToggleCreator);
}

KIUiObject* KUiToggleCreator::Create()
{
    return new (std::nothrow) KUiToggle;
}
