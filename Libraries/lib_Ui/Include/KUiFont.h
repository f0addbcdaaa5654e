#pragma once
// Named application fonts ("APPFONT") and multi-language display strings ("DISPLAY_STRING") of a UI script.
// Both hold one entry per language and switch entries when the application's language changes.
#include <cstdint>
#include <functional>
#include <vector>

#include "KIUiPixmap.h"
#include "KUiColor.h"
#include "KWString.h"

class KIGenericUiApp;
class KPropTree;

// Text attributes of a font, a font entry, a display string or a string entry. Each value has a flag that
// says whether it was given.
struct KUiTextAttributes {
    int32_t height = 21;
    bool hasHeight = false;
    KUiColor colour{0, 0, 0, 255};
    bool hasColour = false;
    KUiColor bgColour{255, 255, 255, 0};
    bool hasBgColour = false;
    KUiColor disabledColour{128, 128, 128, 255};
    bool hasDisabledColour = false;
    bool bold = false;
    bool hasBold = false;
    bool italic = false;
    bool hasItalic = false;
    bool underline = false;
    bool hasUnderline = false;

    // Reads "Height", "Color", "BgColor", "DisabledColor", "Bold", "Italic" and "Underline" from node. Over a
    // base: each value defaults to the base's and each flag is set when the key is present or the base's flag
    // is set. Without a base: each value defaults to the current one and each flag records presence.
    void Read(const KPropTree* node, const KUiTextAttributes* base);
    // These attributes with every value that override gives (its flag set) put in its place.
    KUiTextAttributes MergedWith(const KUiTextAttributes* override) const;
};

class KIUiFont {
public:
    // Reads an "APPFONT" element; false without "Name" or without any entry for this platform.
    virtual bool InitFromNode(const KPropTree* node) = 0;
    // Makes the entry of that language current; false, current entry unchanged, when there is none.
    virtual bool SetLanguage(const KWString& language) = 0;
    // The text on a new surface (the caller owns it): the current entry's attributes, each replaced by the
    // override's where its flag is set; the disabled colour when disabled. A background colour with alpha
    // above 0 fills the surface under the text. prefixWidths (when not null) receives the width of each
    // prefix, one per UTF-16 unit. Null without a current entry or when rendering fails.
    virtual KIUiPixmap* RenderText(const KUiTextAttributes* override, const KWString& text, int32_t* prefixWidths,
                                   bool disabled) = 0;
    virtual KIUiPixmap* RenderText(const KUiTextAttributes* override, const KWString& text, bool disabled) = 0;
    // Cell height and average character width of the merged attributes; both 0 without a current entry.
    virtual void GetMetrics(const KUiTextAttributes* override, int32_t* height, int32_t* averageCharWidth) = 0;
    // widths[i] = the width of the first i + 1 units of text; false without a current entry.
    virtual bool GetTextWidths(const KUiTextAttributes* override, const KWString& text, int32_t* widths) = 0;
    // The current entry's text colour.
    virtual void GetColour(KUiColor& out) = 0;
    virtual ~KIUiFont() = default;
};

class KUiFont : public KIUiFont {
public:
    struct Entry {
        KWString language;  // the tag of its element
        KWString faceName;  // "Fontname"
        KUiTextAttributes attributes;
    };

    KUiFont(bool isMac, bool isWindows) : m_IsMac(isMac), m_IsWindows(isWindows) {}

    bool InitFromNode(const KPropTree* node) override;
    bool SetLanguage(const KWString& language) override;
    KIUiPixmap* RenderText(const KUiTextAttributes* override, const KWString& text, int32_t* prefixWidths,
                           bool disabled) override;
    KIUiPixmap* RenderText(const KUiTextAttributes* override, const KWString& text, bool disabled) override;
    void GetMetrics(const KUiTextAttributes* override, int32_t* height, int32_t* averageCharWidth) override;
    bool GetTextWidths(const KUiTextAttributes* override, const KWString& text, int32_t* widths) override;
    void GetColour(KUiColor& out) override;

    const KWString& GetName() const { return m_Name; }
    bool IsNameFound() const { return m_NameFound; }
    const KUiTextAttributes& GetAttributes() const { return m_Attributes; }
    const std::vector<Entry>& GetEntries() const { return m_Entries; }
    // The current entry, or null.
    const Entry* GetCurrentEntry() const { return m_Current < m_Entries.size() ? &m_Entries[m_Current] : nullptr; }

private:
    bool m_IsMac;
    bool m_IsWindows;
    bool m_NameFound = false;
    KWString m_Name;
    KUiTextAttributes m_Attributes;
    std::vector<Entry> m_Entries;
    size_t m_Current = SIZE_MAX;
};

class KIUiMultiLangString {
public:
    // Makes the entry of that language current; when there is none the first entry becomes current and the
    // answer is false.
    virtual bool SetLanguage(const KWString& language) = 0;
    // The font's RenderText with the current entry's attributes as override and its text; null without a
    // current entry or font.
    virtual KIUiPixmap* RenderText(int32_t* prefixWidths, bool disabled) = 0;
    // The current entry's text, or null.
    virtual const KWString* GetCurrentText() = 0;
    virtual ~KIUiMultiLangString() = default;
};

class KUiMultiLangString : public KIUiMultiLangString {
public:
    struct Entry {
        KWString language;  // the tag of its element
        KWString text;      // "Text"
        KUiTextAttributes attributes;
    };
    using FontFinder = std::function<KUiFont*(const KWString& name)>;

    KUiMultiLangString() = default;

    // Reads a "DISPLAY_STRING" element; its "AppFont" is looked up with the application's FindFont. False for
    // another element, without "Name", without a known "AppFont" or without any entry with "Text".
    bool InitFromNode(KIGenericUiApp* app, const KPropTree* node);
    // The same with the fonts looked up by findFont.
    bool InitFromNode(const FontFinder& findFont, const KPropTree* node);

    bool SetLanguage(const KWString& language) override;
    KIUiPixmap* RenderText(int32_t* prefixWidths, bool disabled) override;
    const KWString* GetCurrentText() override;

    const KWString& GetName() const { return m_Name; }
    KUiFont* GetFont() const { return m_pFont; }
    const KUiTextAttributes& GetAttributes() const { return m_Attributes; }
    const std::vector<Entry>& GetEntries() const { return m_Entries; }

private:
    KWString m_Name;
    KUiTextAttributes m_Attributes;
    KUiFont* m_pFont = nullptr;  // not owned
    std::vector<Entry> m_Entries;
    size_t m_Current = SIZE_MAX;
};
