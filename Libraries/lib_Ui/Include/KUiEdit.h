#pragma once
// "EDIT_BOX": a one-line editable text field in a frame, with a blinking cursor, a selection shown by a
// highlight, horizontal scrolling that keeps the cursor in view, copy, cut and paste through its window, a
// maximum length, and events for every change, the Enter key and the loss of focus.
#include <cstdint>
#include <vector>

#include "KRelayEvent.h"
#include "KUiControl.h"
#include "KUiFont.h"
#include "KUiObjectFactory.h"

class KIUiPixmap;

class KUiEdit : public KUiControl {
public:
    KUiEdit();
    // Leaves the language listeners; deletes the images.
    ~KUiEdit() override;

    // "Post Creation Initialization", "Set Language", "we're goin' bye-bye", "GrabKeyboard", "GetText" (out
    // string), "SetText" (string), "SetTextString" (display string name), "EmptyText"; false for others.
    bool UiRelayMessage(const KWString& message, void* data) override;
    // Fails without "MinHSize", "HStretch", "FrameColor" or "FrameThickness".
    bool InitUiObject(KIGenericUiApp* application, KIGenericUiWindow* window, KIUiObject* parent,
                      KPropTree* node) override;
    bool SetRect(int32_t x, int32_t y, int32_t width, int32_t height) override;
    void Draw(KIUiPixmap* surface, int32_t dx, int32_t dy, const KRect& clip) override;
    void Tick(int32_t elapsedMs) override;
    KIUiObject* HitTest(int32_t x, int32_t y) override;
    bool MouseDown(int32_t x, int32_t y, bool ctrl, bool shift) override;
    void MouseUp(int32_t x, int32_t y, bool ctrl, bool shift) override;
    void MouseMove(int32_t x, int32_t y) override;
    void KeyDown(int code, bool ctrl, bool shift) override;
    void Copy(KWString& out) override;
    void Cut(KWString& out) override;
    void Paste(const KWString& text) override;
    void LoseFocus() override;

    const KWString& GetText() const { return m_Text; }
    uint32_t GetCursor() const { return m_Cursor; }
    uint32_t GetAnchor() const { return m_Anchor; }
    int32_t GetScrollOffset() const { return m_ScrollOffset; }
    bool IsFocused() const { return m_Focused; }
    bool IsCursorShown() const { return m_CursorShown; }
    const std::vector<int32_t>& GetPrefixWidths() const { return m_Widths; }
    // The character boundary nearest window x.
    uint32_t CursorFromX(int32_t x) const;

    static bool RegisterCreator(KIUiObjectFactory* factory);

private:
    // Renders the text again and tells the script; false when an event's relay destroyed the control.
    bool priRebuild();
    void priPlaceCursor(uint32_t position, bool extend);
    // False when the control was destroyed meanwhile.
    bool priDeleteSelection();
    bool priHasSelection() const { return m_Anchor != m_Cursor; }
    void priResetCursor();
    bool priInsert(const KWString& text, uint32_t& inserted);

    KWString m_Text;
    uint32_t m_MaxLength = 1000000;
    std::vector<int32_t> m_Widths;  // right edge of each character; empty without an image
    KUiOwnFont m_OwnFont;
    KUiFont* m_pAppFont = nullptr;  // the application's
    bool m_Listening = false;
    KIUiPixmap* m_pImage = nullptr;
    KIUiPixmap* m_pHighlight = nullptr;
    uint32_t m_Anchor = 0;
    uint32_t m_Cursor = 0;
    int32_t m_ScrollOffset = 0;
    bool m_Focused = false;
    bool m_CursorShown = false;
    int32_t m_CursorWidth = 1;
    int32_t m_BlinkPeriod = 325;
    int32_t m_BlinkTime = 0;
    int32_t m_Thickness = 0;
    KColor m_FrameColor{0, 0, 0, 255};
    bool m_HasFill = false;
    KColor m_FillColor{0, 0, 0, 255};
    KColor m_CursorColor{255, 0, 0, 255};
    KColor m_HighlightColor{0, 0, 255, 32};
    int32_t m_MinWidth = 0;
    int32_t m_MinHeight = 0;
    int32_t m_HStretch = 0;
    bool m_Selecting = false;
    KUiMultiLangString* m_pPending = nullptr;  // the application's
    RelayEvent* m_pSendEvent = nullptr;
    RelayEvent* m_pNewEvent = nullptr;
    RelayEvent* m_pEnterEvent = nullptr;
    RelayEvent* m_pNotEmptyEvent = nullptr;
};

class KUiEditCreator : public KIUiObjectCreator {
public:
    KIUiObject* Create() override;
};
