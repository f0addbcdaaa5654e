#pragma once
// "FRAME": a border of a given thickness and colour around one box, with an optional fill, an optional
// caption (a "TEXT" child) set into the top edge, an optional click event and a visibility flag.
#include "KRelayEvent.h"
#include "KUiControl.h"
#include "KUiObjectFactory.h"

class KUiFrame : public KUiControl {
public:
    KUiFrame();
    ~KUiFrame() override;

    // Connects the frame's own "ON_PRESS", then the content; answers the content's result.
    bool PostCreationConnect() override;
    KIUiRelay* FindObject(const KWString& name) override;
    // "SetColor" (wide string: the fill colour), "Show", "Hide"; true for every message.
    bool UiRelayMessage(const KWString& message, void* data) override;
    // Fails without one of its six required keys.
    bool InitUiObject(KIGenericUiApp* application, KIGenericUiWindow* window, KIUiObject* parent,
                      KPropTree* node) override;
    bool SetRect(int32_t x, int32_t y, int32_t width, int32_t height) override;
    bool Relayout() override;
    void Draw(KIUiPixmap* surface, int32_t dx, int32_t dy, const KRect& clip) override;
    void Tick(int32_t elapsedMs) override;
    KIUiObject* HitTest(int32_t x, int32_t y) override;
    // Fires "ON_PRESS"; never takes the press.
    bool MouseDown(int32_t x, int32_t y, bool ctrl, bool shift) override;

    bool IsVisible() const { return m_Visible; }
    KIUiObject* GetCaption() const { return m_pCaption; }
    KIUiObject* GetContent() const { return m_pFirstChild; }
    int32_t GetCaptionLeft() const { return m_CaptionLeft; }
    int32_t GetCaptionTop() const { return m_CaptionTop; }
    int32_t GetMargin() const { return m_Margin; }

    static bool RegisterCreator(KIUiObjectFactory* factory);

private:
    void priComputeGeometry();

    KColor m_FrameColor{0, 0, 0, 255};
    KColor m_FillColor{0, 0, 0, 255};
    bool m_HasFill = false;
    int32_t m_Thickness = 0;
    bool m_Clickable = false;
    bool m_Visible = true;
    KUiLayoutKeys m_Keys;
    int32_t m_MinWidth = 0;
    int32_t m_MinHeight = 0;
    KIUiObject* m_pCaption = nullptr;  // owned; not in the child list
    int32_t m_CaptionLeft = 0;
    int32_t m_Margin = 0;
    int32_t m_CaptionTop = 0;
    // Wired by the frame itself from its "ON_PRESS" child elements, outside the object's event list.
    RelayEvent m_PressEvent{KWString(u"ON_PRESS")};
};

class KUiFrameCreator : public KIUiObjectCreator {
public:
    KIUiObject* Create() override;
};
