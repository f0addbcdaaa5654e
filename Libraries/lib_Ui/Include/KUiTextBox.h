#pragma once
// "TEXT_BOX": a one-line label of fixed layout that shortens its text with "..." to fit its width (in path
// mode keeping the first folder and the last ones); "DYNA_TEXT": a label whose layout follows its text.
// The text is rendered once, by an application font or the control's own font, and blended when drawn.
#include "KRelayEvent.h"
#include "KUiControl.h"
#include "KUiFont.h"
#include "KUiObjectFactory.h"

class KIUiPixmap;

// Draws a rendered text at the top of rect moved by (dx, dy): centred (when rect is wider), right-aligned or
// at the left; cut to clip.
enum class KUiTextAlign { Left, Centre, Right };
void DrawTextImage(const KIUiPixmap* image, KIUiPixmap* surface, const KRect& rect, int32_t dx, int32_t dy,
                   const KRect& clip, KUiTextAlign align);

// The shorter forms a text box tries in turn when its text does not fit. Plain: the text less its last
// character, then less two, ... each followed by "...", and "##" when no character is left. Path mode: the
// text's first folder (up to the first of "\\", ":" or "/" it holds) followed by "...", the separator and the
// rest less one more folder each time; once no folder is left the last of those forms is shortened plainly.
class KUiTextShortener {
public:
    KUiTextShortener(const KWString& text, bool pathMode);
    // The next form; false after "##".
    bool Next(KWString& form);
    // While shortening plainly, how many characters of the plain text the last form kept (before its "...");
    // the plain text is the text, or in path mode the shortest path form. -1 otherwise.
    int64_t KeptOfPlain() const { return m_Plain && !m_Done ? static_cast<int64_t>(m_PlainTail.GetLength()) : -1; }
    // While shortening plainly, skips the forms that keep more than kept characters of the plain text: the
    // next form keeps kept - 1 of them.
    void KeepAtMost(size_t kept);
    const KWString& PlainText() const { return m_PlainText; }

private:
    bool m_Plain;
    bool m_Done = false;
    KWString m_Sep;
    KWString m_Prefix;
    KWString m_Tail;
    KWString m_Last;
    KWString m_PlainText;
    KWString m_PlainTail;
};

class KUiTextBox : public KUiControl {
public:
    KUiTextBox();
    // Leaves the language listeners; deletes the text image.
    ~KUiTextBox() override;

    // "Set Language", "we're goin' bye-bye", "SetEnabled" (bool), "Enable", "Disable", "GetText" (out
    // string), "SetText" (string). True only for "GetText" with an argument and "SetText".
    bool UiRelayMessage(const KWString& message, void* data) override;
    // Fails without "MinHSize", "HStretch" or "VStretch".
    bool InitUiObject(KIGenericUiApp* application, KIGenericUiWindow* window, KIUiObject* parent,
                      KPropTree* node) override;
    bool SetRect(int32_t x, int32_t y, int32_t width, int32_t height) override;
    void Draw(KIUiPixmap* surface, int32_t dx, int32_t dy, const KRect& clip) override;
    KIUiObject* HitTest(int32_t x, int32_t y) override;
    // Fires "ON_PRESS"; takes the press.
    bool MouseDown(int32_t x, int32_t y, bool ctrl, bool shift) override;

    const KWString& GetText() const { return m_Text; }
    // What the text image shows (the text, or its shortened form); empty without an image.
    const KWString& GetShownText() const { return m_Shown; }
    const KIUiPixmap* GetImage() const { return m_pImage; }
    bool IsDynamic() const { return m_Dynamic; }
    bool IsEnabled() const { return m_Enabled; }

    static bool RegisterCreator(KIUiObjectFactory* factory);

private:
    KIUiPixmap* priRender(const KWString& text) const;
    void priRebuild();
    void priResize(bool layout);
    void priSetEnabled(bool enabled);
    void priTextChanged();

    bool m_Dynamic = false;
    bool m_PathMode = false;
    int32_t m_MinWidth = 0;
    int32_t m_MinHeight = 0;
    int32_t m_HStretch = 0;
    int32_t m_VStretch = 0;
    bool m_Enabled = true;
    KWString m_Text;
    KWString m_Shown;
    KUiOwnFont m_OwnFont;
    KUiFont* m_pAppFont = nullptr;  // the application's
    bool m_Listening = false;
    KUiTextAttributes m_Overrides;
    KIUiPixmap* m_pImage = nullptr;
    bool m_Centred = false;
    RelayEvent* m_pPressEvent = nullptr;
};

class KUiTextBoxCreator : public KIUiObjectCreator {
public:
    KIUiObject* Create() override;
};
