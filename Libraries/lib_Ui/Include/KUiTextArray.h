#pragma once
// "TEXTARRAY": a fixed list of texts from the script, one of them shown, chosen by index, by a numeric string
// or by a bool. Each entry names a display string of the script or, when there is none of that name, is shown
// as it stands. The control is as large as its largest entry, so switching never changes the layout.
#include <vector>

#include "KRelayEvent.h"
#include "KUiControl.h"
#include "KUiFont.h"
#include "KUiObjectFactory.h"

class KIUiPixmap;

class KUiTextArray : public KUiControl {
public:
    // The most entries a script may give.
    static constexpr int32_t kMaxStrings = 4096;

    KUiTextArray();
    // Leaves the language listeners; deletes the image.
    ~KUiTextArray() override;

    // "Set Language", "we're goin' bye-bye", "Show", "Hide", "ToggleVisibility", "Visibility" (bool),
    // "StringNum" (int), "StrStringNum" (string), "BoolString" (bool, two entries only).
    bool UiRelayMessage(const KWString& message, void* data) override;
    // Fails without "NumStrings" between 1 and kMaxStrings.
    bool InitUiObject(KIGenericUiApp* application, KIGenericUiWindow* window, KIUiObject* parent,
                      KPropTree* node) override;
    // Moves the control; its size stays that of the largest entry.
    bool SetRect(int32_t x, int32_t y, int32_t width, int32_t height) override;
    bool Relayout() override;
    void Draw(KIUiPixmap* surface, int32_t dx, int32_t dy, const KRect& clip) override;
    KIUiObject* HitTest(int32_t x, int32_t y) override;
    // Fires "ON_PRESS"; takes the press.
    bool MouseDown(int32_t x, int32_t y, bool ctrl, bool shift) override;

    int32_t GetIndex() const { return m_Index; }
    bool IsVisible() const { return m_Visible; }
    const std::vector<KWString>& GetEntries() const { return m_Entries; }
    // The image of the shown entry, made when there is none.
    const KIUiPixmap* GetImage();

    static bool RegisterCreator(KIUiObjectFactory* factory);

private:
    KIUiPixmap* priRender(int32_t index) const;
    void priMeasure();
    void priShow(int32_t index);

    KUiOwnFont m_OwnFont;
    KUiFont* m_pAppFont = nullptr;  // the application's
    bool m_Listening = false;
    KWString m_Language;
    bool m_Centred = true;
    bool m_RightAligned = true;
    bool m_Visible = true;
    int32_t m_Index = 0;
    int32_t m_Widest = 0;
    int32_t m_Tallest = 0;
    std::vector<KWString> m_Entries;
    KIUiPixmap* m_pImage = nullptr;
    RelayEvent* m_pPressEvent = nullptr;
};

class KUiTextArrayCreator : public KIUiObjectCreator {
public:
    KIUiObject* Create() override;
};
