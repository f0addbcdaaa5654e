#pragma once
// "MULTITEXT": a block of text wrapped into lines inside the control, with a vertical scroll bar of its own
// (its "SCROLLBAR" child). The text is a display string of the script ("MultiLine", in the current language)
// or a text set by "SetText". "<LF>" ends a line, "<BR>" ends it and adds a blank one; in Japanese no line
// starts with U+3001, U+3002 or U+30FC. The lines are rendered once and drawn scrolled by whole lines.
#include <cstdint>
#include <vector>

#include "KRelayEvent.h"
#include "KUiControl.h"
#include "KUiObjectFactory.h"

class KUiFont;
class KUiScrollbar;

class KUiMultiText : public KUiControl {
public:
    struct Line {
        KWString text;
        KIUiPixmap* image = nullptr;  // owned; null for a blank line
    };

    KUiMultiText();
    ~KUiMultiText() override;

    // The "ON_ADD_ITEM" relays and the scroll bar; true only when both connect.
    bool PostCreationConnect() override;
    bool UiRelayMessage(const KWString& message, void* data) override;
    // Fails without a layout key, without the application font it names or without a usable "SCROLLBAR" child.
    bool InitUiObject(KIGenericUiApp* application, KIGenericUiWindow* window, KIUiObject* parent,
                      KPropTree* node) override;
    bool SetRect(int32_t x, int32_t y, int32_t width, int32_t height) override;
    void Draw(KIUiPixmap* surface, int32_t dx, int32_t dy, const KRect& clip) override;
    void Tick(int32_t elapsedMs) override;
    KIUiObject* HitTest(int32_t x, int32_t y) override;
    bool MouseDown(int32_t x, int32_t y, bool ctrl, bool shift) override;
    void MouseWheel(int32_t x, int32_t y, int32_t a, int32_t b) override;

    // Builds the lines now when they are missing (drawing does it otherwise).
    void BuildPage();
    const std::vector<Line>& GetLines() const { return m_Lines; }
    int32_t GetLineHeight() const { return m_LineHeight; }
    int32_t GetFirstLine() const { return m_FirstLine; }
    KUiScrollbar* GetScrollbar() const { return m_pScrollbar; }

    static bool RegisterCreator(KIUiObjectFactory* factory);

    // The wrapping of text into lines no wider than width: widths(s, out) fills out[i] with the width of the
    // first i + 1 units of s and answers false when it cannot. Japanese rules with japanese. Every line takes
    // at least one character, so any width ends.
    using WidthFunction = bool (*)(void* context, const KWString& text, int32_t* widths);
    static std::vector<KWString> WrapText(const KWString& text, int32_t width, bool japanese, int32_t averageWidth,
                                          WidthFunction widths, void* context);

private:
    void priClearLines();

    bool m_SaveState = true;
    bool m_HasBackground = false;
    KColor m_Background{0, 0, 0, 255};
    KWString m_StringName{u"BlankLine"};
    KWString m_SetText;
    bool m_TextWasSet = false;
    KUiLayoutKeys m_Keys;
    KUiFont* m_pFont = nullptr;  // the application's
    bool m_Listening = false;
    KWString m_Language;
    int32_t m_LineHeight = 0;
    int32_t m_AverageWidth = 0;
    int32_t m_FirstLine = 0;
    int32_t m_Margin = 2;
    KRect m_BarRect;
    bool m_PageBuilt = false;
    std::vector<Line> m_Lines;
    KUiScrollbar* m_pScrollbar = nullptr;  // owned; not in the child list
    // Wired from the text's "ON_ADD_ITEM" child elements, outside the object's event list.
    RelayEvent m_AddItem{KWString(u"ON_ADD_ITEM")};
};

class KUiMultiTextCreator : public KIUiObjectCreator {
public:
    KIUiObject* Create() override;
};
