#pragma once
// "SCROLLED_FRAME": a bordered view of a box (its "HBOX" or "VBOX" child) taller than itself, scrolled line by
// line with a vertical scroll bar (its "SCROLLBAR" child) inside the right border. The range goes to the
// script through "SIZECHANGED" (three doubles: total lines, visible lines, first line) and to the bar.
// The content is laid out at its scrolled place, so its rectangles are where it shows; drawing and hit
// testing are cut to the view.
#include <cstdint>

#include "KRelayEvent.h"
#include "KUiControl.h"
#include "KUiObjectFactory.h"

class KUiScrollbar;

class KUiScrolledFrame : public KUiControl {
public:
    KUiScrolledFrame();
    ~KUiScrolledFrame() override;

    // The bar, the "SIZECHANGED" relays, then the content.
    bool PostCreationConnect() override;
    KIUiRelay* FindObject(const KWString& name) override;
    // "Post Creation Initialization", "Scroll" (pointer to int), "Visibility" (pointer to bool).
    bool UiRelayMessage(const KWString& message, void* data) override;
    // Fails without a required key, without a usable "SCROLLBAR" child or without a positive line size.
    bool InitUiObject(KIGenericUiApp* application, KIGenericUiWindow* window, KIUiObject* parent,
                      KPropTree* node) override;
    bool SetRect(int32_t x, int32_t y, int32_t width, int32_t height) override;
    bool Relayout() override;
    void Draw(KIUiPixmap* surface, int32_t dx, int32_t dy, const KRect& clip) override;
    void Tick(int32_t elapsedMs) override;
    KIUiObject* HitTest(int32_t x, int32_t y) override;
    void MouseWheel(int32_t x, int32_t y, int32_t a, int32_t b) override;

    KUiScrollbar* GetScrollbar() const { return m_pScrollbar; }
    KIUiObject* GetContent() const { return m_pFirstChild; }
    bool IsScrolling() const { return m_Scrolling; }
    int32_t GetFirstLine() const { return m_FirstLine; }
    int32_t GetLineSize() const { return m_LineSize; }
    int32_t GetContentHeight() const { return m_ContentHeight; }
    // Inside the border, left of the bar.
    KRect GetViewRect() const;

    static bool RegisterCreator(KIUiObjectFactory* factory);

private:
    void priComputeMinimum();
    // Lays the content out at its scrolled place.
    void priPlaceContent();
    void priPublishRange();

    KUiLayoutKeys m_Keys;
    int32_t m_MinWidth = 0;
    int32_t m_MinHeight = 0;
    int32_t m_Thickness = 0;
    KColor m_FrameColor{0, 0, 0, 255};
    KColor m_FillColor{0, 0, 0, 255};
    bool m_HasFill = false;
    KIUiObject* m_pText = nullptr;         // owned; takes no part in anything else
    KUiScrollbar* m_pScrollbar = nullptr;  // owned; not in the child list
    int32_t m_LineSize = 0;
    bool m_Scrolling = false;
    bool m_Visible = true;
    int32_t m_FirstLine = 0;
    int32_t m_ViewWidth = 0;
    int32_t m_ViewHeight = 0;
    int32_t m_ContentHeight = 0;
    int32_t m_ContentWidth = 0;
    int32_t m_LaidHeight = 0;  // the height the content was given
    // Wired from the frame's "SIZECHANGED" child elements, outside the object's event list.
    RelayEvent m_SizeChanged{KWString(u"SIZECHANGED")};
};

class KUiScrolledFrameCreator : public KIUiObjectCreator {
public:
    KIUiObject* Create() override;
};
