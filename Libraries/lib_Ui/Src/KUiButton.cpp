#include "KUiButton.h"

#include <algorithm>
#include <cstdint>
#include <new>

#include "KGenericUiPixmap.h"
#include "KIGenericUiApp.h"
#include "KIGenericUiWindow.h"
#include "KIUiPixmap.h"
#include "KPropTree.h"
#include "KUiImage.h"

KUiButton::KUiButton()
{
    m_pTypeKeyword = "BUTTON";
    m_pOnPress = AddEvent(KWString(u"ON_PRESS"));
    m_pOnDown = AddEvent(KWString(u"ON_DOWN"));
    m_pOnUp = AddEvent(KWString(u"ON_UP"));
    m_pOnEnabledState = AddEvent(KWString(u"ON_ENABLED_STATE"));
    for (KUiColor& c : m_Colors)
        c = KUiColor(0, 0, 0, 255);
}

KUiButton::~KUiButton()
{
    for (KIUiPixmap*& image : m_pImages)
        DeleteUiPixmap(image);
    DeleteUiPixmap(m_pStateImage);
}

KIUiRelay* KUiButton::FindObject(const KWString& name)
{
    return FindInContent(this, m_Name, m_pFirstChild, name);
}

void KUiButton::priSetState(State state)
{
    m_State = state;
    DeleteUiPixmap(m_pStateImage);
}

void KUiButton::priChangeEnabled(State state)
{
    priSetState(state);
    // A button disabled while held must not stay held: its next press would be ignored.
    if (state == Disabled) {
        m_Held = false;
        m_Repeating = false;
        m_RepeatTime = 0;
    }
    Repaint(true);
    bool enabled = m_State != Disabled;
    m_pOnEnabledState->Fire(&enabled);
}

bool KUiButton::UiRelayMessage(const KWString& message, void* data)
{
    if (message == kUiMsgPostCreationInit) {
        bool enabled = m_State != Disabled;
        m_pOnEnabledState->Fire(&enabled);
        return true;
    }
    if (message == u"Enable") {
        if (m_State == Disabled)
            priChangeEnabled(Normal);
        return true;
    }
    if (message == u"Disable") {
        if (m_State != Disabled)
            priChangeEnabled(Disabled);
        return true;
    }
    if (message == u"ToggleEnabled") {
        priChangeEnabled(m_State == Disabled ? Normal : Disabled);
        return true;
    }
    if (message == u"SetEnabled") {
        bool enable = false;
        if (!UiRelayFlag(data, enable))
            return false;
        if (enable) {
            if (m_State == Disabled)
                priChangeEnabled(Normal);
        } else if (m_State != Disabled) {
            priChangeEnabled(Disabled);
        }
        return true;
    }
    if (message == u"Show") {
        m_Hidden = false;
        Repaint();
        return true;
    }
    if (message == u"Hide") {
        m_Hidden = true;
        Repaint();
        return true;
    }
    if (message == u"GrabKeyboard") {
        TakeFocus(true);
        return true;
    }
    return false;
}

bool KUiButton::InitUiObject(KIGenericUiApp* application, KIGenericUiWindow* window, KIUiObject* parent,
                             KPropTree* node)
{
    KUiObject::InitUiObject(application, window, parent, node);
    if (!node)
        return false;
    m_Hidden = node->GetBool(KWString(u"Hidden"), false);
    m_Repeat = node->GetBool(KWString(u"Repeat"), false);
    m_RepeatDelay = node->GetInt(KWString(u"AutoRepeatSensitivity"), 200);
    // Missing layout keys: minimum 0, stretch 0.
    m_Keys.Read(node);
    static const char* const kColourKeys[4] = {"ColorN", "ColorO", "ColorP", "ColorD"};
    for (int i = 0; i < 4; ++i)
        m_Colors[i] = GetUiColor(node, kColourKeys[i], KUiColor(0, 0, 0, 255));
    m_PressedLabelX = node->GetInt(KWString(u"PressedLabelX"), 0);
    m_PressedLabelY = node->GetInt(KWString(u"PressedLabelY"), 0);
    if (node->GetBool(KWString(u"_Disabled"), false))
        m_State = Disabled;
    if (KIUiObject* label = CreateContentBox(application, window, this, node))
        AppendChild(label);
    for (KPropTree* element = node->GetFirstChild(); element; element = element->GetNextSibling())
        if (element->GetName() == u"BGIMAGES") {
            priLoadImages(element);
            break;
        }
    priComputeMinimums();
    return true;
}

void KUiButton::priLoadImages(KPropTree* node)
{
    m_NoLabel = node->GetBool(KWString(u"_NoLabel"), false);
    bool ok = true;
    if (!m_NoLabel) {
        bool hasScaling = false, hasLabel = false;
        node->GetRect(m_ScalingRect, KWString(u"ScalingRect"), KRect(), &hasScaling);
        node->GetRect(m_LabelRect, KWString(u"LabelRect"), KRect(), &hasLabel);
        m_ScaleWhole = node->GetBool(KWString(u"ResizeScaling"), false);
        m_ScaleY = node->GetBool(KWString(u"ResizeScalingY"), false);
        ok = hasScaling && hasLabel;
    }
    bool hasNormal = false, hasPressed = false;
    node->GetString(KWString(u"File_Normal"), KWString(), &hasNormal);
    node->GetString(KWString(u"File_Pressed"), KWString(), &hasPressed);
    ok = ok && hasNormal && hasPressed;
    if (ok) {
        m_pImages[Normal] = LoadImageProperty(node, KWString(u"File_Normal"), nullptr);
        m_pImages[Pressed] = LoadImageProperty(node, KWString(u"File_Pressed"), nullptr);
        // The optional ones: a state without its picture shows the normal one.
        m_pImages[MouseOver] = LoadImageProperty(node, KWString(u"File_MouseOver"), nullptr);
        m_pImages[Disabled] = LoadImageProperty(node, KWString(u"File_Disabled"), nullptr);
        ok = ok && m_pImages[Normal] && m_pImages[Pressed];
    }
    if (ok) {
        const int32_t w = m_pImages[Normal]->Width(), h = m_pImages[Normal]->Height();
        for (KIUiPixmap* image : m_pImages)
            if (image && (image->Width() != w || image->Height() != h))
                ok = false;
        // The rectangles lie inside the picture, so that no drawing reaches outside a pixmap.
        if (!m_NoLabel && (!UiRectInsidePicture(m_ScalingRect, w, h) || !UiRectInsidePicture(m_LabelRect, w, h)))
            ok = false;
    }
    if (!ok) {
        for (KIUiPixmap*& image : m_pImages)
            DeleteUiPixmap(image);
        m_NoLabel = false;
        m_ScalingRect = m_LabelRect = KRect();
        m_ScaleWhole = m_ScaleY = false;
        return;
    }
    m_HasImages = true;
}

void KUiButton::priComputeMinimums()
{
    int64_t minW = m_Keys.minH, minH = m_Keys.minV;
    int32_t stretchH = m_Keys.stretchH, stretchV = m_Keys.stretchV;
    KIUiObject* label = m_pFirstChild;
    if (!label) {
        if (m_HasImages) {
            minW = m_pImages[Normal]->Width();
            minH = m_pImages[Normal]->Height();
            stretchH = stretchV = 0;
        }
    } else if (!m_HasImages) {
        minW = std::max<int64_t>(minW, label->GetLayout(true)->GetMinimumSize());
        minH = std::max<int64_t>(minH, label->GetLayout(false)->GetMinimumSize());
    } else {
        minW = std::max<int64_t>(minW, int64_t(m_pImages[Normal]->Width()) - m_LabelRect.Width() +
                                           label->GetLayout(true)->GetMinimumSize());
        minH = std::max<int64_t>(minH, int64_t(m_pImages[Normal]->Height()) - m_LabelRect.Height() +
                                           label->GetLayout(false)->GetMinimumSize());
    }
    m_MinWidth = SaturatedSize(minW);
    m_MinHeight = SaturatedSize(minH);
    SetLayoutRecord(m_HLayout, m_MinWidth, stretchH);
    SetLayoutRecord(m_VLayout, m_MinHeight, stretchV);
}

bool KUiButton::Relayout()
{
    if (m_pFirstChild)
        m_pFirstChild->Relayout();
    priComputeMinimums();
    return true;
}

bool KUiButton::SetRect(int32_t x, int32_t y, int32_t width, int32_t height)
{
    DeleteUiPixmap(m_pStateImage);
    KIUiObject* label = m_pFirstChild;
    if (!label) {
        KUiObject::SetRect(x, y, m_MinWidth, m_MinHeight);
    } else if (!m_HasImages) {
        if (label->SetRect(x, y, width, height))
            m_Rect = *label->GetRect();
    } else {
        const int64_t extraW = int64_t(m_pImages[Normal]->Width()) - m_LabelRect.Width();
        const int64_t extraH = int64_t(m_pImages[Normal]->Height()) - m_LabelRect.Height();
        if (label->SetRect(SaturatedSize(int64_t(x) + m_LabelRect.left), SaturatedSize(int64_t(y) + m_LabelRect.top),
                           SaturatedSize(width - extraW), SaturatedSize(height - extraH))) {
            const KRect l = *label->GetRect();
            const int64_t left = int64_t(l.left) - m_LabelRect.left, top = int64_t(l.top) - m_LabelRect.top;
            m_Rect = KRect(SaturatedSize(left), SaturatedSize(top), SaturatedSize(left + l.Width() + extraW),
                           SaturatedSize(top + l.Height() + extraH));
        }
    }
    return true;
}

KIUiPixmap* KUiButton::priStateImage()
{
    if (m_pStateImage || !m_HasImages)
        return m_pStateImage;
    const KIUiPixmap* image = m_pImages[m_State] ? m_pImages[m_State] : m_pImages[Normal];
    m_pStateImage = CreateUiPixmap(m_Rect.Width(), m_Rect.Height(), false);
    if (!m_pStateImage)
        return nullptr;
    if (m_ScaleWhole) {
        KRect to, from;
        m_pStateImage->GetBounds(to);
        image->GetBounds(from);
        image->CopyTo(m_pStateImage, to, from);
    } else if (m_ScaleY) {
        image->DrawThreePart(m_pStateImage, m_ScalingRect);
    } else {
        image->DrawNinePatch(m_pStateImage, m_ScalingRect, true);
    }
    return m_pStateImage;
}

void KUiButton::Draw(KIUiPixmap* surface, int32_t dx, int32_t dy, const KRect& clip)
{
    if (m_Hidden)
        return;
    KRect to = m_Rect;
    to.Offset(dx, dy);
    if (!m_HasImages) {
        const KRect c = IntersectRects(to, clip);
        if (!IsEmptyRect(c))
            surface->FillRect(c, m_Colors[m_State]);
    } else if (KIUiPixmap* image = priStateImage()) {
        KRect from;
        image->GetBounds(from);
        BlendClipped(image, surface, to, from, clip);
    }
    if (m_pFirstChild) {
        const bool pressed = m_State == Pressed;
        const int64_t lx = int64_t(dx) + (pressed ? m_PressedLabelX : 0);
        const int64_t ly = int64_t(dy) + (pressed ? m_PressedLabelY : 0);
        // A label pushed off the 32-bit plane by the pressed offset is not drawn: its rectangles could not
        // be moved there.
        const KRect* r = m_pFirstChild->GetRect();
        const auto fits = [](int64_t v) { return v >= INT32_MIN && v <= INT32_MAX; };
        if (fits(lx) && fits(ly) && fits(r->left + lx) && fits(r->right + lx) && fits(r->top + ly) &&
            fits(r->bottom + ly))
            m_pFirstChild->Draw(surface, int32_t(lx), int32_t(ly), clip);
    }
}

void KUiButton::Tick(int32_t elapsedMs)
{
    if (!m_Repeat || !m_Held)
        return;
    m_RepeatTime = SaturatedSize(int64_t(m_RepeatTime) + elapsedMs);
    if (m_Repeating) {
        m_RepeatTime = 0;
        if (m_State == Pressed)
            m_pOnPress->Fire(nullptr);
    } else if (m_RepeatTime > m_RepeatDelay) {
        m_Repeating = true;
    }
}

KIUiObject* KUiButton::HitTest(int32_t x, int32_t y)
{
    if (!(x >= m_Rect.left && x < m_Rect.right && y >= m_Rect.top && y < m_Rect.bottom))
        return nullptr;
    if (m_pStateImage)
        return UiAlphaHit(m_pStateImage, m_Rect, x, y) ? this : nullptr;
    return this;
}

bool KUiButton::MouseDown(int32_t, int32_t, bool, bool)
{
    if (m_State == Disabled || m_Held)
        return true;
    m_Held = true;
    m_Repeating = false;
    m_RepeatTime = 0;
    priSetState(Pressed);
    Repaint();
    m_pOnDown->Fire(nullptr);
    return true;
}

void KUiButton::MouseUp(int32_t x, int32_t y, bool, bool)
{
    if (m_State == Disabled)
        return;
    m_Held = false;
    m_Repeating = false;
    m_RepeatTime = 0;
    if (HitTest(x, y)) {
        priSetState(MouseOver);
        m_pOnPress->Fire(nullptr);
    } else {
        priSetState(Normal);
    }
    Repaint();
    m_pOnUp->Fire(nullptr);
}

void KUiButton::MouseEnter(int32_t, int32_t)
{
    if (m_State != Normal && m_State != MouseOver)
        return;
    if (m_Held) {
        priSetState(Pressed);
        m_pOnDown->Fire(nullptr);
    } else {
        priSetState(MouseOver);
    }
    Repaint();
}

void KUiButton::MouseLeave(int32_t, int32_t)
{
    if (m_State != MouseOver && m_State != Pressed)
        return;
    if (m_Held) {
        priSetState(MouseOver);
        m_pOnUp->Fire(nullptr);
    } else {
        priSetState(Normal);
    }
    Repaint();
}

void KUiButton::KeyDown(int code, bool, bool)
{
    const int key = code & 0xFFFF;
    if (key != 3 && key != 13 && key != 32)
        return;
    TakeFocus(false);
    m_pOnPress->Fire(nullptr);
}

bool KUiButton::RegisterCreator(KIUiObjectFactory* factory)
{
    return RegisterControlCreator(factory, "BUTTON", new KUiButtonCreator);
}

KIUiObject* KUiButtonCreator::Create()
{
    return new (std::nothrow) KUiButton;
}
