#pragma once
// "SCROLLBAR", "HSCROLLBAR", "VSCROLLBAR": a range of whole units of which a page is visible, shown as two
// arrow buttons around a track with a thumb. The owner of the scrolled content sets the range with "Set"
// (three doubles: total, page, position); every change of position is reported through "ON_SCROLL" with a
// pointer to the new position (int32_t). The bar draws itself from script images and colours.
#include <cstdint>

#include "KRelayEvent.h"
#include "KUiControl.h"
#include "KUiObjectFactory.h"

class KUiScrollbar : public KUiControl {
public:
    KUiScrollbar();
    ~KUiScrollbar() override;

    // Resolves the relays of "ON_SCROLL".
    bool PostCreationConnect() override;
    // "Set"; false for anything else and for a null argument.
    bool UiRelayMessage(const KWString& message, void* data) override;
    // "ON_SCROLL" only: a relay to target with message; false for any other event.
    bool ConnectEvent(const KWString& eventName, const KWString& message, KIUiRelay* target) override;
    // Fails without one of its required keys or images, or with images of unequal size.
    bool InitUiObject(KIGenericUiApp* application, KIGenericUiWindow* window, KIUiObject* parent,
                      KPropTree* node) override;
    // Never smaller than the minimum.
    bool SetRect(int32_t x, int32_t y, int32_t width, int32_t height) override;
    void Draw(KIUiPixmap* surface, int32_t dx, int32_t dy, const KRect& clip) override;
    void Tick(int32_t elapsedMs) override;
    KIUiObject* HitTest(int32_t x, int32_t y) override;
    bool MouseDown(int32_t x, int32_t y, bool ctrl, bool shift) override;
    void MouseUp(int32_t x, int32_t y, bool ctrl, bool shift) override;
    void MouseEnter(int32_t x, int32_t y) override;
    void MouseLeave(int32_t x, int32_t y) override;
    void MouseMove(int32_t x, int32_t y) override;
    // b: the signed wheel amount; the position moves by minus that.
    void MouseWheel(int32_t x, int32_t y, int32_t a, int32_t b) override;
    void KeyDown(int code, bool ctrl, bool shift) override;

    bool IsHorizontal() const { return m_Horizontal; }
    bool IsValid() const { return m_Valid; }
    int32_t GetTotal() const { return m_Total; }
    int32_t GetPage() const { return m_Page; }
    int32_t GetPosition() const { return m_Position; }
    const KRect& GetThumbRect() const { return m_Thumb; }
    const KRect& GetButtonARect() const { return m_ButtonA; }
    const KRect& GetButtonBRect() const { return m_ButtonB; }
    const KRect& GetPageBeforeRect() const { return m_PageBefore; }
    const KRect& GetPageAfterRect() const { return m_PageAfter; }
    const KIUiPixmap* GetThumbImage() const { return m_pThumbImage; }
    int32_t GetMinWidth() const { return m_MinWidth; }
    int32_t GetMinHeight() const { return m_MinHeight; }

    static bool RegisterCreator(KIUiObjectFactory* factory);

private:
    enum Part { kButtonA, kPageBefore, kPageAfter, kButtonB, kParts };

    // The rect of a part, and whether it holds the point (half-open).
    KRect& priPartRect(int part);
    static bool priInside(const KRect& r, int32_t x, int32_t y);
    // A rect from a span along the bar's axis and a span across it.
    KRect priSpan(int64_t along0, int64_t along1, int64_t across0, int64_t across1) const;
    int32_t priAlong(const KRect& r, bool start) const;
    // Lays out the buttons, page areas and thumb from the range (only while valid).
    void priGeometry();
    // The position limited to 0 .. total - page.
    int32_t priClamp(int64_t position) const;
    // Sets the position, lays out, repaints and fires "ON_SCROLL".
    void priMoveTo(int64_t position);
    void priFire();
    void priStopRepeat();
    bool priAnyPressed() const;

    bool m_Horizontal = true;
    int32_t m_Stretch = 0;
    KColor m_BgColor{0, 0, 0, 255};
    KColor m_ClickColor{0, 0, 0, 255};
    const KColor m_EdgeColor{0, 0, 0, 255};
    const int32_t m_EdgeInset = 1;
    KIUiPixmap* m_pButtonANormal = nullptr;
    KIUiPixmap* m_pButtonAPressed = nullptr;
    KIUiPixmap* m_pButtonBNormal = nullptr;
    KIUiPixmap* m_pButtonBPressed = nullptr;
    KIUiPixmap* m_pSlider = nullptr;
    KIUiPixmap* m_pThumbImage = nullptr;
    KIUiPixmap* m_pKnurls = nullptr;
    KRect m_SliderResize;
    int32_t m_Total = 0;
    int32_t m_Page = 0;
    int32_t m_Position = 0;
    bool m_Valid = false;
    KRect m_ButtonA;
    KRect m_PageBefore;
    KRect m_Thumb;
    KRect m_PageAfter;
    KRect m_ButtonB;
    bool m_Pressed[kParts] = {false, false, false, false};
    bool m_Held[kParts] = {false, false, false, false};
    bool m_Dragging = false;
    int32_t m_AnchorCoord = 0;
    int32_t m_AnchorStart = 0;
    bool m_RepeatRunning = false;
    bool m_RepeatFast = false;
    int32_t m_RepeatTime = 0;
    int32_t m_MinWidth = 0;
    int32_t m_MinHeight = 0;
    // Wired from the bar's "ON_SCROLL" child elements and by owners through ConnectEvent, outside the
    // object's event list.
    RelayEvent m_ScrollEvent{KWString(u"ON_SCROLL")};
};

class KUiScrollbarCreator : public KIUiObjectCreator {
public:
    KIUiObject* Create() override;
};

// The first "SCROLLBAR" child element of node, or null.
KPropTree* FindScrollbarElement(KPropTree* node);
// The scroll bar of an owner (scroll list, scrolled frame, multi-line text): made from element through the
// application's factory and initialised with parent; null when there is no element or the bar cannot be made.
KUiScrollbar* CreateOwnedScrollbar(KIGenericUiApp* application, KIGenericUiWindow* window, KIUiObject* parent,
                                   KPropTree* element);
