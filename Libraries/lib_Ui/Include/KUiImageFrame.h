#pragma once
// "IMAGE_FRAME": a frame drawn from one picture whose border keeps its pixels while its inside stretches,
// holding at most one box placed in a layout region of the frame; it may be clickable and relays a press
// through its "ON_PRESS" elements.
#include "KRelayEvent.h"
#include "KUiControl.h"
#include "KUiObjectFactory.h"

class KUiImageFrame : public KUiControl {
public:
    KUiImageFrame();
    ~KUiImageFrame() override;

    // Connects the frame's own "ON_PRESS", then the box; answers the box's result.
    bool PostCreationConnect() override;
    KIUiRelay* FindObject(const KWString& name) override;
    // "Redraw", "Show", "Hide"; false for anything else.
    bool UiRelayMessage(const KWString& message, void* data) override;
    // Fails without a loadable "File_Image" or an "InsideRect", or when a rectangle does not lie inside the
    // picture.
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
    KIUiObject* GetContent() const { return m_pFirstChild; }

    static bool RegisterCreator(KIUiObjectFactory* factory);

private:
    void priComputeMinimums();
    // The rectangle shrunk by the layout margins.
    KRect priLayoutRegion() const;

    KIUiPixmap* m_pImage = nullptr;
    KIUiPixmap* m_pFramePixmap = nullptr;
    KRect m_Inside;
    KRect m_Layout;
    bool m_NoScale = false;
    bool m_Visible = true;
    bool m_ScaleY = false;
    bool m_Overlay = false;
    bool m_Clickable = false;
    KUiLayoutKeys m_Keys;
    int32_t m_MinWidth = 0;
    int32_t m_MinHeight = 0;
    // Wired by the frame itself from its "ON_PRESS" child elements, outside the object's event list.
    RelayEvent m_PressEvent{KWString(u"ON_PRESS")};
};

class KUiImageFrameCreator : public KIUiObjectCreator {
public:
    KIUiObject* Create() override;
};
