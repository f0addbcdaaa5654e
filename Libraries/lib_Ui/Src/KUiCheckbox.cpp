#include "KUiCheckbox.h"

#include <algorithm>
#include <new>

#include "KGenericUiPixmap.h"
#include "KIGenericUiApp.h"
#include "KIUiPixmap.h"
#include "KPropTree.h"
#include "KUiImage.h"

KUiCheckbox::KUiCheckbox()
{
    m_pTypeKeyword = "CHECKBOX";
    m_pOnTrue = AddEvent(KWString(u"ON_TRUE"));
    m_pOnFalse = AddEvent(KWString(u"ON_FALSE"));
    m_pOnState = AddEvent(KWString(u"ON_STATE"));
}

KUiCheckbox::~KUiCheckbox()
{
    DeleteUiPixmap(m_pOn);
    DeleteUiPixmap(m_pOff);
    DeleteUiPixmap(m_pDisabled);
}

void KUiCheckbox::priSetState(bool state)
{
    m_State = state;
    Repaint();
}

void KUiCheckbox::priPress()
{
    if (m_Disabled || (m_Radio && m_State))
        return;
    priSetState(!m_State);
    (m_State ? m_pOnTrue : m_pOnFalse)->Fire(nullptr);
    m_pOnState->Fire(&m_State);
}

bool KUiCheckbox::UiRelayMessage(const KWString& message, void* data)
{
    if (message == kUiMsgPostCreationInit || message == kUiMsgShutdown)
        return true;
    if (message == u"Select" || message == u"SetTrue") {
        if (!m_Disabled && !m_State)
            priSetState(true);
        return true;
    }
    if (message == u"Deselect" || message == u"SetFalse") {
        if (!m_Disabled && m_State)
            priSetState(false);
        return true;
    }
    if (message == u"SetState") {
        bool state = false;
        if (!UiRelayFlag(data, state))
            return false;
        if (!m_Disabled && state != m_State)
            priSetState(state);
        return true;
    }
    if (message == u"Disable" || message == u"Enable" || message == u"SetEnabled") {
        bool enable = message == u"Enable";
        if (message == u"SetEnabled") {
            if (!UiRelayFlag(data, enable))
                return false;
        }
        if (enable == m_Disabled) {
            m_Disabled = !enable;
            Repaint();
        }
        return true;
    }
    if (message == u"Press") {
        priPress();
        return true;
    }
    if (message == u"StateQuery") {
        // Answered as a byte, into a bool or an unsigned char.
        unsigned char* answer = reinterpret_cast<unsigned char*>(UiRelayResult<bool>(data));
        if (!answer)
            answer = UiRelayResult<unsigned char>(data);
        if (!answer)
            return false;
        *answer = m_State ? 1 : 0;
        return true;
    }
    return false;
}

bool KUiCheckbox::InitUiObject(KIGenericUiApp* application, KIGenericUiWindow* window, KIUiObject* parent,
                               KPropTree* node)
{
    KUiObject::InitUiObject(application, window, parent, node);
    if (!node)
        return false;
    m_Radio = node->GetName() == u"RADIO_BUTTON";
    m_Hidden = node->GetBool(KWString(u"Hidden"), false);
    m_pOn = LoadImageProperty(node, KWString(u"File_On"), nullptr);
    m_pOff = LoadImageProperty(node, KWString(u"File_Off"), nullptr);
    if (!m_pOn || !m_pOff || m_pOn->Width() != m_pOff->Width() || m_pOn->Height() != m_pOff->Height()) {
        DeleteUiPixmap(m_pOn);
        DeleteUiPixmap(m_pOff);
        return false;
    }
    m_pDisabled = LoadImageProperty(node, KWString(u"File_Disabled"), nullptr);
    m_Keys.minH = m_pOn->Width();
    m_Keys.minV = m_pOn->Height();
    m_Keys.Read(node, true);
    m_MinWidth = m_Keys.minH;
    m_MinHeight = m_Keys.minV;
    SetLayoutFromKeys(m_Keys);
    m_State = node->GetBool(KWString(u"_InitialState"), false);
    return true;
}

bool KUiCheckbox::SetRect(int32_t x, int32_t y, int32_t width, int32_t height)
{
    width = m_Keys.stretchH != 0 && width >= m_MinWidth ? width : m_MinWidth;
    height = m_Keys.stretchV != 0 && height >= m_MinHeight ? height : m_MinHeight;
    return KUiObject::SetRect(x, y, width, height);
}

void KUiCheckbox::Draw(KIUiPixmap* surface, int32_t dx, int32_t dy, const KRect& clip)
{
    if (m_Hidden)
        return;
    const KIUiPixmap* image = m_Disabled && m_pDisabled ? m_pDisabled : (m_State ? m_pOn : m_pOff);
    if (!image)
        return;
    KRect box = m_Rect;
    box.Offset(dx, dy);
    const KRect cut = IntersectRects(box, clip);
    if (IsEmptyRect(cut))
        return;
    KRect from;
    image->GetBounds(from);
    const KRect to(box.left, box.top, SaturatedSize(int64_t(box.left) + from.Width()),
                   SaturatedSize(int64_t(box.top) + from.Height()));
    // Unscaled at the top-left corner, cut to the control and to the clip.
    BlendClipped(image, surface, to, from, cut);
}

KIUiObject* KUiCheckbox::HitTest(int32_t x, int32_t y)
{
    return x >= m_Rect.left && x < m_Rect.right && y >= m_Rect.top && y < m_Rect.bottom ? this : nullptr;
}

bool KUiCheckbox::MouseDown(int32_t, int32_t, bool, bool)
{
    priPress();
    return true;
}

bool KUiCheckbox::RegisterCreator(KIUiObjectFactory* factory)
{
    const bool checkbox = RegisterControlCreator(factory, "CHECKBOX", new KUiCheckboxCreator);
    const bool radio = RegisterControlCreator(factory, "RADIO_BUTTON", new KUiCheckboxCreator);
    return checkbox && radio;
}

KIUiObject* KUiCheckboxCreator::Create()
{
    return new (std::nothrow) KUiCheckbox;
}
