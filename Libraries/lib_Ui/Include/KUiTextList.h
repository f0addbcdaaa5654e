#pragma once
// "TEXTLIST": shows one name of a list of ITEM elements and steps forward or back through it on two
// configurable relay messages (a spinner label, usually driven by buttons). It is as large as the name shown.
#include <vector>

#include "KUiControl.h"
#include "KUiObjectFactory.h"

class KIUiPixmap;

class KUiTextList : public KUiControl {
public:
    // The most items a list holds; later ITEM elements are ignored.
    static constexpr size_t kMaxItems = 64;

    KUiTextList();
    ~KUiTextList() override;

    // The increment message steps forward, the decrement message back; false at either end and for any other
    // message.
    bool UiRelayMessage(const KWString& message, void* data) override;
    // Fails without "Font", "FontSize" or "FontColor", or without an ITEM with a name.
    bool InitUiObject(KIGenericUiApp* application, KIGenericUiWindow* window, KIUiObject* parent,
                      KPropTree* node) override;
    // Places the control at (x, y) at the size of the name shown.
    bool SetRect(int32_t x, int32_t y, int32_t width, int32_t height) override;
    void Draw(KIUiPixmap* surface, int32_t dx, int32_t dy, const KRect& clip) override;
    KIUiObject* HitTest(int32_t x, int32_t y) override;

    size_t GetIndex() const { return m_Index; }
    const std::vector<KWString>& GetNames() const { return m_Names; }
    const std::vector<int32_t>& GetValues() const { return m_Values; }
    const KIUiPixmap* GetImage() const { return m_pImage; }

    static bool RegisterCreator(KIUiObjectFactory* factory);

private:
    void priRender();

    KUiOwnFont m_OwnFont;
    size_t m_Index = 0;
    KWString m_IncMessage;
    KWString m_DecMessage;
    KWString m_ChangeMessage;
    std::vector<KWString> m_Names;
    std::vector<int32_t> m_Values;
    KIUiPixmap* m_pImage = nullptr;
};

class KUiTextListCreator : public KIUiObjectCreator {
public:
    KIUiObject* Create() override;
};
