#pragma once
// "PULLDOWN": a one-line field showing the current choice in a frame, with a drop button at its right end.
// Pressing and releasing the field opens its drop-down (its "HBOX" or "VBOX" child, typically holding a
// scroll list whose events come back as "SetText" and "SetID") below it as the window's popup; the next
// press closes it. "ON_SELECT" reports the shown text and "ON_SELECT_ID" the id; both can be kept in the
// application's persistent data ("DisplayText", "IDText").
#include <cstdint>

#include "KRelayEvent.h"
#include "KUiControl.h"
#include "KUiObjectFactory.h"

class KUiFont;
class KUiMultiLangString;

class KUiPullDownList : public KUiControl {
public:
    KUiPullDownList();
    ~KUiPullDownList() override;

    KIUiRelay* FindObject(const KWString& name) override;
    // The listed commands answer true (those that need an argument only with one); anything else false.
    bool UiRelayMessage(const KWString& message, void* data) override;
    // Fails without a required key, with button images of unequal size, a frame rect outside the frame
    // image or without a drop-down box.
    bool InitUiObject(KIGenericUiApp* application, KIGenericUiWindow* window, KIUiObject* parent,
                      KPropTree* node) override;
    // Always the field's height; the drop-down is laid out below it.
    bool SetRect(int32_t x, int32_t y, int32_t width, int32_t height) override;
    void Draw(KIUiPixmap* surface, int32_t dx, int32_t dy, const KRect& clip) override;
    void Tick(int32_t elapsedMs) override;
    KIUiObject* HitTest(int32_t x, int32_t y) override;
    bool MouseDown(int32_t x, int32_t y, bool ctrl, bool shift) override;
    void MouseUp(int32_t x, int32_t y, bool ctrl, bool shift) override;
    void MouseEnter(int32_t x, int32_t y) override;
    void MouseLeave(int32_t x, int32_t y) override;
    // The drop-down tells that the window closed it (a press elsewhere).
    void PopupClosed() override;

    bool IsOpen() const { return m_Open; }
    bool IsRestored() const { return m_Restored; }
    int GetState() const { return m_State; }
    const KWString& GetDisplayText() const { return m_DisplayText; }
    const KWString& GetIDText() const { return m_IDText; }
    int32_t GetFieldHeight() const { return m_FieldHeight; }
    const KRect& GetTextRect() const { return m_TextRect; }
    const KRect& GetButtonRect() const { return m_ButtonRect; }
    const KRect& GetDropRect() const { return m_DropRect; }
    KIUiObject* GetDropDown() const { return m_pFirstChild; }

    static bool RegisterCreator(KIUiObjectFactory* factory);

private:
    enum { kNormal = 0, kOver = 1, kPressed = 2, kDisabled = 3 };

    // The text "GetText" gives and the state file keeps: the named string's, else the display text.
    KWString priShownText() const;
    void priFireSelect(const KWString& text);
    void priFireSelectId();
    void priPostCreation();
    void priSave();
    void priSetState(int state);
    void priShowDropDown(bool show);
    void priStopListening();
    bool priDisabled() const { return m_State == kDisabled; }

    bool m_UsePersistentData = true;
    bool m_Open = false;
    bool m_Held = false;
    bool m_Restored = false;
    bool m_IsDefault = false;
    bool m_JustClosed = false;
    bool m_Listening = false;
    int32_t m_MinWidth = 0;
    int32_t m_FieldHeight = 0;
    int32_t m_HStretch = 0;
    KIUiPixmap* m_pButton[4] = {nullptr, nullptr, nullptr, nullptr};
    KIUiPixmap* m_pFrame = nullptr;
    KRect m_FrameRect;
    KWString m_DisplayText;
    KWString m_DefaultText;
    KWString m_IDText;
    KUiOwnFont m_Font;
    KUiFont* m_pAppFont = nullptr;
    KUiFont* m_pInitialFont = nullptr;
    KRect m_TextRect;
    KRect m_ButtonRect;
    KRect m_DropRect;
    int m_State = kNormal;
    KUiMultiLangString* m_pNamedString = nullptr;
    RelayEvent* m_pOnSelect = nullptr;
    RelayEvent* m_pOnSelectId = nullptr;
};

class KUiPullDownListCreator : public KIUiObjectCreator {
public:
    KIUiObject* Create() override;
};
