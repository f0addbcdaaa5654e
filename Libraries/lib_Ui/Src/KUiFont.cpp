#include "KUiFont.h"

#include "KGenericUiPixmap.h"
#include "KIGenericUiApp.h"
#include "KPropTree.h"

// Attributes.

void KUiTextAttributes::Read(const KPropTree* node, const KUiTextAttributes* base)
{
    const KUiTextAttributes& defaults = base ? *base : *this;
    const KUiTextAttributes start = defaults;
    bool found = false;

    height = node->GetInt(KWString("Height"), start.height, &found);
    hasHeight = found || (base && base->hasHeight);

    KColorRGBA c{};
    node->GetColor(c, KWString("Color"), start.colour.ToRGBA(), &found);
    colour = c;
    hasColour = found || (base && base->hasColour);
    node->GetColor(c, KWString("BgColor"), start.bgColour.ToRGBA(), &found);
    bgColour = c;
    hasBgColour = found || (base && base->hasBgColour);
    node->GetColor(c, KWString("DisabledColor"), start.disabledColour.ToRGBA(), &found);
    disabledColour = c;
    hasDisabledColour = found || (base && base->hasDisabledColour);

    bold = node->GetBool(KWString("Bold"), start.bold, &found);
    hasBold = found || (base && base->hasBold);
    italic = node->GetBool(KWString("Italic"), start.italic, &found);
    hasItalic = found || (base && base->hasItalic);
    underline = node->GetBool(KWString("Underline"), start.underline, &found);
    hasUnderline = found || (base && base->hasUnderline);
}

KUiTextAttributes KUiTextAttributes::MergedWith(const KUiTextAttributes* override) const
{
    KUiTextAttributes merged = *this;
    if (!override)
        return merged;
    const KUiTextAttributes& o = *override;
    if (o.hasHeight)
        merged.height = o.height;
    if (o.hasColour)
        merged.colour = o.colour;
    if (o.hasBgColour)
        merged.bgColour = o.bgColour;
    if (o.hasDisabledColour)
        merged.disabledColour = o.disabledColour;
    if (o.hasBold)
        merged.bold = o.bold;
    if (o.hasItalic)
        merged.italic = o.italic;
    if (o.hasUnderline)
        merged.underline = o.underline;
    return merged;
}

// Fonts.

bool KUiFont::InitFromNode(const KPropTree* node)
{
    if (!node)
        return false;
    m_Name = node->GetString(KWString("Name"), KWString(), &m_NameFound);
    if (!m_NameFound)
        return false;
    m_Attributes.Read(node, nullptr);

    const char* platform = m_IsMac ? "MACFONT" : m_IsWindows ? "MSWFONT" : "UNKNOWN-FONT";
    const KPropTree* fonts = node->FindChild(KWString(platform));
    for (const KPropTree* child = fonts ? fonts->GetFirstChild() : nullptr; child; child = child->GetNextSibling()) {
        bool hasFace = false;
        const KWString& face = child->GetString(KWString("Fontname"), KWString(), &hasFace);
        if (!hasFace)
            continue;
        Entry entry{child->GetName(), face, {}};
        entry.attributes.Read(child, &m_Attributes);
        m_Entries.push_back(std::move(entry));
    }
    return !m_Entries.empty();
}

bool KUiFont::SetLanguage(const KWString& language)
{
    for (size_t i = 0; i < m_Entries.size(); ++i)
        if (m_Entries[i].language == language) {
            m_Current = i;
            return true;
        }
    return false;
}

KIUiPixmap* KUiFont::RenderText(const KUiTextAttributes* override, const KWString& text, int32_t* prefixWidths,
                                bool disabled)
{
    const Entry* entry = GetCurrentEntry();
    if (!entry)
        return nullptr;
    const KUiTextAttributes a = entry->attributes.MergedWith(override);
    KIGenericUiPixmap* textPixmap = CreateTextUiPixmap(text, entry->faceName, a.height, a.bold, a.italic,
                                                       a.underline, disabled ? a.disabledColour : a.colour,
                                                       prefixWidths, false);
    if (!textPixmap || a.bgColour.a == 0)
        return textPixmap;
    KIGenericUiPixmap* composed = CreateUiPixmap(textPixmap->Width(), textPixmap->Height(), false);
    if (composed) {
        KRect bounds;
        composed->GetBounds(bounds);
        composed->FillRect(bounds, a.bgColour);
        textPixmap->BlendTo(composed, bounds, bounds);
    }
    DeleteUiPixmap(textPixmap);
    return composed;
}

KIUiPixmap* KUiFont::RenderText(const KUiTextAttributes* override, const KWString& text, bool disabled)
{
    return RenderText(override, text, nullptr, disabled);
}

void KUiFont::GetMetrics(const KUiTextAttributes* override, int32_t* height, int32_t* averageCharWidth)
{
    const Entry* entry = GetCurrentEntry();
    if (!entry) {
        if (height)
            *height = 0;
        if (averageCharWidth)
            *averageCharWidth = 0;
        return;
    }
    const KUiTextAttributes a = entry->attributes.MergedWith(override);
    GetUiFontMetrics(entry->faceName, a.height, a.bold, a.italic, a.underline, height, averageCharWidth);
}

bool KUiFont::GetTextWidths(const KUiTextAttributes* override, const KWString& text, int32_t* widths)
{
    const Entry* entry = GetCurrentEntry();
    if (!entry)
        return false;
    const KUiTextAttributes a = entry->attributes.MergedWith(override);
    return GetUiTextWidths(text, entry->faceName, a.height, a.bold, a.italic, a.underline, widths);
}

void KUiFont::GetColour(KUiColor& out)
{
    const Entry* entry = GetCurrentEntry();
    out = entry ? entry->attributes.colour : m_Attributes.colour;
}

// Display strings.

bool KUiMultiLangString::InitFromNode(KIGenericUiApp* app, const KPropTree* node)
{
    if (!app)
        return false;
    return InitFromNode([app](const KWString& name) { return app->FindFont(name); }, node);
}

bool KUiMultiLangString::InitFromNode(const FontFinder& findFont, const KPropTree* node)
{
    if (!node || node->GetName() != "DISPLAY_STRING")
        return false;
    bool found = false;
    m_Name = node->GetString(KWString("Name"), KWString(), &found);
    if (!found)
        return false;
    m_Attributes.Read(node, nullptr);
    const KWString& fontName = node->GetString(KWString("AppFont"), KWString(), &found);
    m_pFont = found && findFont ? findFont(fontName) : nullptr;
    if (!m_pFont)
        return false;
    for (const KPropTree* child = node->GetFirstChild(); child; child = child->GetNextSibling()) {
        bool hasText = false;
        const KWString& text = child->GetString(KWString("Text"), KWString(), &hasText);
        if (!hasText)
            continue;
        Entry entry{child->GetName(), text, {}};
        entry.attributes.Read(child, &m_Attributes);
        m_Entries.push_back(std::move(entry));
    }
    return !m_Entries.empty();
}

bool KUiMultiLangString::SetLanguage(const KWString& language)
{
    for (size_t i = 0; i < m_Entries.size(); ++i)
        if (m_Entries[i].language == language) {
            m_Current = i;
            return true;
        }
    m_Current = m_Entries.empty() ? SIZE_MAX : 0;
    return false;
}

KIUiPixmap* KUiMultiLangString::RenderText(int32_t* prefixWidths, bool disabled)
{
    if (m_Current >= m_Entries.size() || !m_pFont)
        return nullptr;
    const Entry& entry = m_Entries[m_Current];
    return m_pFont->RenderText(&entry.attributes, entry.text, prefixWidths, disabled);
}

const KWString* KUiMultiLangString::GetCurrentText()
{
    return m_Current < m_Entries.size() ? &m_Entries[m_Current].text : nullptr;
}
