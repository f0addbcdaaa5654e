#include "KUiControl.h"

#include <algorithm>
#include <limits>
#include <string>

#include "KGenericUiPixmap.h"
#include "KIGenericUiApp.h"
#include "KIGenericUiWindow.h"
#include "KIUiPixmap.h"
#include "KPropTree.h"
#include "KUiObjectFactory.h"

int32_t SaturatedSize(int64_t value)
{
    return static_cast<int32_t>(std::clamp<int64_t>(value, std::numeric_limits<int32_t>::min(),
                                                    std::numeric_limits<int32_t>::max()));
}

void KUiLayoutKeys::Read(const KPropTree* node, bool underscore)
{
    if (!node)
        return;
    auto read = [&](const char* key, int32_t& value, bool& found) {
        bool present = false;
        const int v = node->GetInt(KWString(underscore ? (std::string("_") + key).c_str() : key), value, &present);
        if (present) {
            value = std::max(0, v);
            found = true;
        }
    };
    read("MinHSize", minH, hasMinH);
    read("MinVSize", minV, hasMinV);
    read("HStretch", stretchH, hasStretchH);
    read("VStretch", stretchV, hasStretchV);
}

void SetLayoutRecord(KLayoutObject& record, int32_t minimum, int32_t stretch)
{
    minimum = std::max(0, minimum);
    stretch = std::max(0, stretch);
    record.SetMinimumSize(minimum);
    record.SetSize(minimum);
    record.SetStretch(stretch);
    record.SetWorkingStretch(stretch);
    record.SetFixed(stretch == 0);
    record.SetWorkingOffset(0);
    // A new pass starts unassigned; Reset also restores the working stretch we just set.
    record.Reset();
}

bool FitMinimumsToContent(KIUiObject* content, const KUiLayoutKeys& keys, int32_t& minWidth, int32_t& minHeight)
{
    if (!content)
        return true;
    const int32_t cw = content->GetLayout(true)->GetMinimumSize();
    const int32_t ch = content->GetLayout(false)->GetMinimumSize();
    if (cw > minWidth) {
        if (keys.stretchH == 0)
            return false;
        minWidth = cw;
    }
    if (ch > minHeight) {
        if (keys.stretchV == 0)
            return false;
        minHeight = ch;
    }
    return true;
}

bool ParseUiColor(const KWString& text, KUiColor& out)
{
    KColorRGBA c{};
    if (!ParseColorText(text, c))
        return false;
    out = KUiColor(c);
    return true;
}

KUiColor GetUiColor(const KPropTree* node, const char* key, KUiColor defaultValue, bool* found)
{
    if (found)
        *found = false;
    if (!node)
        return defaultValue;
    KColorRGBA c{};
    node->GetColor(c, KWString(key), defaultValue.ToRGBA(), found);
    return KUiColor(c);
}

void KUiOwnFont::Read(const KPropTree* node)
{
    if (!node)
        return;
    name = node->GetString(KWString("Font"), KWString());
    size = node->GetInt(KWString("FontSize"), 0);
    colour = GetUiColor(node, "FontColor", KUiColor(0, 0, 0, 255));
    bgColour = GetUiColor(node, "_FontBgColor", KUiColor(0, 0, 0, 255), &hasBgColour);
    bold = node->GetBool(KWString("_Bold"), false);
    italic = node->GetBool(KWString("_Italic"), false);
    underline = node->GetBool(KWString("_Underline"), false);
}

KIUiPixmap* KUiOwnFont::Render(const KWString& text, int32_t* prefixWidths) const
{
    if (text.IsEmpty())
        return nullptr;
    KIUiPixmap* image = CreateTextUiPixmap(text, name, size, bold, italic, underline, colour, prefixWidths, false);
    if (!image || !hasBgColour)
        return image;
    KIUiPixmap* filled = CreateUiPixmap(image->Width(), image->Height(), false);
    if (filled) {
        filled->FillRGBA(bgColour.r, bgColour.g, bgColour.b, bgColour.a);
        KRect all;
        image->GetBounds(all);
        image->BlendTo(filled, all, all);
    }
    DeleteUiPixmap(image);
    return filled;
}

bool KUiOwnFont::GetMetrics(int32_t* height, int32_t* averageCharWidth) const
{
    return GetUiFontMetrics(name, size, bold, italic, underline, height, averageCharWidth);
}

void BlendClipped(const KIUiPixmap* image, KIUiPixmap* surface, KRect destination, KRect source, const KRect& clip)
{
    if (!image || !surface || destination.Width() <= 0 || destination.Height() <= 0)
        return;
    clip.ClipScaled(destination, source);
    if (destination.Width() < 1 || destination.Height() < 1 || source.Width() < 1 || source.Height() < 1)
        return;
    image->BlendTo(surface, destination, source);
}

void KUiControl::SetLayoutFromKeys(const KUiLayoutKeys& keys)
{
    SetLayoutRecord(m_HLayout, keys.minH, keys.stretchH);
    SetLayoutRecord(m_VLayout, keys.minV, keys.stretchV);
}

void KUiControl::Repaint(bool now)
{
    Repaint(m_Rect, now);
}

void KUiControl::Repaint(const KRect& rect, bool now)
{
    if (!m_pWindow)
        return;
    if (now)
        m_pWindow->InvalidateAndUpdate(&rect);
    else
        m_pWindow->Invalidate(&rect);
}

bool KUiControl::CaptureMouse(bool capture)
{
    return m_pWindow ? m_pWindow->SetMouseCapture(this, capture) : false;
}

bool KUiControl::TakeFocus(bool grab)
{
    return m_pWindow ? m_pWindow->SetKeyboardFocus(this, grab) : false;
}

void KUiControl::ShrinkWindow(int32_t dx, int32_t dy)
{
    if (m_pWindow)
        m_pWindow->ShrinkBy(dx, dy);
}

void KUiControl::LayoutWindow()
{
    if (m_pWindow)
        m_pWindow->LayoutRoot();
}

void KUiControl::SetWindowCursor(KIUiPixmap* pixmap, int32_t hotX, int32_t hotY)
{
    if (m_pWindow)
        m_pWindow->SetCursor(pixmap, hotX, hotY);
}

bool RegisterControlCreator(KIUiObjectFactory* factory, const char* keyword, KIUiObjectCreator* creator)
{
    const KWString k(keyword);
    if (factory && creator && factory->Register(&k, creator))
        return true;
    delete creator;
    return false;
}

KRect IntersectRects(const KRect& a, const KRect& b)
{
    return KRect(std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
                 std::min(a.bottom, b.bottom));
}

bool IsEmptyRect(const KRect& r)
{
    return r.right <= r.left || r.bottom <= r.top;
}

KIUiObject* CreateContentBox(KIGenericUiApp* application, KIGenericUiWindow* window, KIUiObject* parent,
                             KPropTree* node)
{
    if (!application || !node)
        return nullptr;
    KIUiObjectFactory* factory = application->GetFactory();
    for (KPropTree* element = node->GetFirstChild(); element && factory; element = element->GetNextSibling()) {
        if (element->GetName() != u"HBOX" && element->GetName() != u"VBOX")
            continue;
        KIUiObject* content = factory->Create(&element->GetName());
        if (!content || !InitChildObject(content, application, window, parent, element))
            return nullptr;
        return content;
    }
    return nullptr;
}

KIUiRelay* FindInContent(KIUiRelay* self, const KWString& ownName, KIUiObject* content, const KWString& name)
{
    if (ownName.IsEmpty())
        return content ? content->FindObject(name) : nullptr;
    if (name == ownName)
        return self;
    const std::u16string_view text = name.View();
    const size_t dot = text.find(u'.');
    if (dot == std::u16string_view::npos || dot == 0 || dot + 1 == text.size() || !content)
        return nullptr;
    if (KWString(text.substr(0, dot)) != ownName)
        return nullptr;
    return content->FindObject(KWString(text.substr(dot + 1)));
}

bool InitChildObject(KIUiObject* child, KIGenericUiApp* application, KIGenericUiWindow* window, KIUiObject* parent,
                     KPropTree* node)
{
    bool ok = false;
    try {
        ok = child->InitUiObject(application, window, parent, node);
    } catch (...) {
        delete child;
        throw;
    }
    if (!ok)
        delete child;
    return ok;
}
