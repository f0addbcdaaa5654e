#pragma once
// "SCROLLLIST": a vertical list of one-line text items, each with an optional id, with a vertical scroll bar
// (its "SCROLLBAR" child) along its right edge. Scripts fill it by command; a click selects an item and
// reports its text ("ON_SELECT") and id ("ON_SELECT_ID"). Its items can be kept in the state file.
#include <cstdint>
#include <memory>
#include <vector>

#include "KUiControl.h"
#include "KUiObjectFactory.h"

class KUiFont;
class KUiScrollbar;

class KUiScrollList : public KUiControl {
public:
    struct Item {
        bool named = false;  // text names a display string of the application
        KWString text;
        KWString id;
        bool selected = false;
        KRect hitRect;
        KIUiPixmap* image = nullptr;  // the rendered text (owned), uncoloured
        ~Item();
    };

    KUiScrollList();
    ~KUiScrollList() override;

    // The list's events, then the scroll bar.
    bool PostCreationConnect() override;
    bool UiRelayMessage(const KWString& message, void* data) override;
    // Fails without a required key, without a usable "SCROLLBAR" child or without a font of positive height.
    bool InitUiObject(KIGenericUiApp* application, KIGenericUiWindow* window, KIUiObject* parent,
                      KPropTree* node) override;
    bool SetRect(int32_t x, int32_t y, int32_t width, int32_t height) override;
    void Draw(KIUiPixmap* surface, int32_t dx, int32_t dy, const KRect& clip) override;
    void Tick(int32_t elapsedMs) override;
    KIUiObject* HitTest(int32_t x, int32_t y) override;
    bool MouseDown(int32_t x, int32_t y, bool ctrl, bool shift) override;
    void MouseEnter(int32_t x, int32_t y) override;
    void MouseLeave(int32_t x, int32_t y) override;
    void MouseMove(int32_t x, int32_t y) override;
    void MouseWheel(int32_t x, int32_t y, int32_t a, int32_t b) override;

    int32_t GetItemCount() const { return m_ItemCount; }
    int32_t GetFirstVisibleRow() const { return m_FirstRow; }
    int32_t GetRowHeight() const { return m_RowHeight; }
    const std::vector<std::unique_ptr<Item>>& GetItems() const { return m_Items; }
    KUiScrollbar* GetScrollbar() const { return m_pScrollbar; }

    static bool RegisterCreator(KIUiObjectFactory* factory);

private:
    void priClear();
    void priAppend(bool named, const KWString& text, const KWString& id);
    void priUpdateScrollbar();
    // The first item whose hit rect holds the point, or null.
    Item* priItemAt(int32_t x, int32_t y);
    void priSaveItems();

    KUiFont* m_pAppFont = nullptr;  // the application's
    bool m_Listening = false;
    KUiOwnFont m_Font;
    KColor m_SelectedColor{0, 0, 0, 255};
    KColor m_SelectedBg{0, 0, 0, 255};
    bool m_HasSelectedBg = false;
    KColor m_DisabledColor{0, 0, 0, 255};
    KUiLayoutKeys m_Keys;
    bool m_HoverSelect = false;
    bool m_SaveState = true;
    int32_t m_RowHeight = 0;
    const int32_t m_TextInset = 2;
    int32_t m_ItemCount = 0;
    int32_t m_FirstRow = 0;
    KRect m_BarRect;
    std::vector<std::unique_ptr<Item>> m_Items;
    Item* m_pSelected = nullptr;
    KUiScrollbar* m_pScrollbar = nullptr;  // owned; not in the child list
    RelayEvent* m_pOnSelect = nullptr;
    RelayEvent* m_pOnSelectId = nullptr;
    RelayEvent* m_pOnAddItem = nullptr;
    RelayEvent* m_pOnSetPulldown = nullptr;
};

class KUiScrollListCreator : public KIUiObjectCreator {
public:
    KIUiObject* Create() override;
};

