#include "KUiScrollList.h"

#include <algorithm>
#include <new>

#include "KArray.h"
#include "KGenericUiPixmap.h"
#include "KIGenericUiApp.h"
#include "KIGenericUiWindow.h"
#include "KIUiPixmap.h"
#include "KPropTree.h"
#include "KUiFont.h"
#include "KUiScrollbar.h"

namespace {

// A key the state file keeps and xmllint reads: a letter, "_" or ":", then letters, digits, "-", "_", ":", ".".
bool IsXmlName(const KWString& text)
{
    const std::u16string_view v = text.View();
    if (v.empty())
        return false;
    auto letter = [](char16_t c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || c == u'_' || c == u':'; };
    if (!letter(v[0]))
        return false;
    for (char16_t c : v.substr(1))
        if (!letter(c) && !(c >= u'0' && c <= u'9') && c != u'-' && c != u'.')
            return false;
    return true;
}

}  // namespace

KUiScrollList::Item::~Item()
{
    DeleteUiPixmap(image);
}

KUiScrollList::KUiScrollList()
{
    m_pTypeKeyword = "SCROLLLIST";
    m_pOnSelect = AddEvent(KWString("ON_SELECT"));
    m_pOnSelectId = AddEvent(KWString("ON_SELECT_ID"));
    m_pOnAddItem = AddEvent(KWString("ON_ADD_ITEM"));
    m_pOnSetPulldown = AddEvent(KWString("ON_SET_PULLDOWN"));
}

KUiScrollList::~KUiScrollList()
{
    if (m_Listening && m_pApp)
        m_pApp->RemoveLanguageListener(this);
    priClear();
    delete m_pScrollbar;
}

bool KUiScrollList::PostCreationConnect()
{
    bool ok = KUiObject::PostCreationConnect();
    if (m_pScrollbar)
        ok = m_pScrollbar->PostCreationConnect() && ok;
    return ok;
}

bool KUiScrollList::InitUiObject(KIGenericUiApp* application, KIGenericUiWindow* window, KIUiObject* parent,
                                 KPropTree* node)
{
    KUiObject::InitUiObject(application, window, parent, node);
    if (!node || !application)
        return false;
    bool found = false;
    const KWString fontName = node->GetString(KWString("AppFont"), KWString(), &found);
    if (found && !fontName.IsEmpty())
        m_pAppFont = application->FindFont(fontName);
    m_Font.Read(node);
    m_Keys.Read(node);
    bool hasSelected = false, hasDisabled = false;
    m_SelectedColor = GetUiColor(node, "SelectedFontColor", m_SelectedColor, &hasSelected);
    m_DisabledColor = GetUiColor(node, "DisabledFontColor", m_DisabledColor, &hasDisabled);
    m_SelectedBg = GetUiColor(node, "_SelectedFontBgColor", m_SelectedBg, &m_HasSelectedBg);
    m_HoverSelect = node->GetBool(KWString("_MouseOver"), false);
    m_SaveState = node->GetBool(KWString("_SaveState"), true);
    if (!m_Keys.HasAll() || !hasSelected || !hasDisabled)
        return false;
    m_pScrollbar = CreateOwnedScrollbar(application, window, this, FindScrollbarElement(node));
    if (!m_pScrollbar)
        return false;
    m_pScrollbar->ConnectEvent(KWString("ON_SCROLL"), KWString("Scroll"), this);

    // Named items follow the language whatever font draws them.
    KWString language;
    m_Listening = application->AddLanguageListener(this, language);
    int32_t height = 0, average = 0;
    if (m_pAppFont)
        m_pAppFont->GetMetrics(nullptr, &height, &average);
    else
        m_Font.GetMetrics(&height, &average);
    m_RowHeight = std::max({m_RowHeight, height, average});
    if (m_RowHeight <= 0)
        return false;
    SetLayoutRecord(m_HLayout, SaturatedSize(int64_t(m_Keys.minH) + 1), m_Keys.stretchH);
    SetLayoutRecord(m_VLayout, m_Keys.minV, m_Keys.stretchV);
    return true;
}

void KUiScrollList::priClear()
{
    m_Items.clear();
    m_pSelected = nullptr;
}

void KUiScrollList::priAppend(bool named, const KWString& text, const KWString& id)
{
    auto item = std::make_unique<Item>();
    item->named = named;
    item->text = text;
    item->id = id;
    m_Items.push_back(std::move(item));
}

void KUiScrollList::priUpdateScrollbar()
{
    if (!m_pScrollbar)
        return;
    const int32_t visible = m_RowHeight > 0 ? m_Rect.Height() / m_RowHeight : 0;
    double values[3] = {10, 10, 0};
    if (m_ItemCount > visible) {
        m_FirstRow = std::clamp(m_FirstRow, 0, m_ItemCount - visible);
        values[0] = m_ItemCount;
        values[1] = visible;
        values[2] = m_FirstRow;
    } else {
        m_FirstRow = 0;
    }
    UiRelaySend(m_pScrollbar, KWString("Set"), values);
}

bool KUiScrollList::UiRelayMessage(const KWString& message, void* data)
{
    if (message == kUiMsgPostCreationInit) {
        if (m_pScrollbar)
            m_pScrollbar->UiRelayMessage(message, data);
        priUpdateScrollbar();
        m_pOnAddItem->Fire(nullptr);
        m_pOnSetPulldown->Fire(nullptr);
        return true;
    }
    if (message == kUiMsgShutdown) {
        if (m_Listening && m_pApp)
            m_pApp->RemoveLanguageListener(this);
        m_Listening = false;
        priSaveItems();
        return false;
    }
    if (message == kUiMsgSetLanguage) {
        if (!UiRelayData<KWString>(data))
            return false;
        for (auto& item : m_Items)
            DeleteUiPixmap(item->image);
        Repaint();
        return false;
    }
    if (message == u"Scroll") {
        const int32_t* row = UiRelayData<int32_t>(data);
        if (!row)
            return false;
        m_FirstRow = *row;
        Repaint();
        return true;
    }
    if (message == u"NewList") {
        const auto* list = UiRelayData<KArray<KWString>>(data);
        if (!list)
            return false;
        const auto& texts = *list;
        priClear();
        for (const KWString& text : texts)
            priAppend(false, text, KWString());
        m_ItemCount = SaturatedSize(int64_t(m_Items.size()));
        priUpdateScrollbar();
        Repaint();
        return true;
    }
    if (message == u"NewListWithIDs") {
        const auto* list = UiRelayData<KArray<KWString>>(data);
        if (!list)
            return false;
        // n texts followed by their n ids; with an odd count the last text has no id and is left out.
        const auto& strings = *list;
        const size_t n = (strings.GetCount() + 1) / 2;
        priClear();
        for (size_t i = 0; i < n && n + i < strings.GetCount(); ++i)
            priAppend(false, strings[i], strings[n + i]);
        m_ItemCount = SaturatedSize(int64_t(m_Items.size()));
        priUpdateScrollbar();
        Repaint();
        return true;
    }
    const bool plain = message == u"AddToList";
    const bool withId = message == u"AddToListWithID", namedWithId = message == u"AddStringToListWithID";
    if (plain || withId || namedWithId) {
        // The text, and for the forms with an id the id after it.
        const KWString* strings = UiRelayData<KWString>(data, plain ? 1 : 2);
        if (!strings)
            return false;
        priAppend(namedWithId, strings[0], plain ? KWString() : strings[1]);
        m_ItemCount = SaturatedSize(int64_t(m_Items.size()));
        priUpdateScrollbar();
        Repaint();
        return true;
    }
    if (message == u"EmptyList") {
        m_ItemCount = 0;
        priClear();
        m_pOnAddItem->Fire(nullptr);
        return true;
    }
    return false;
}

void KUiScrollList::priSaveItems()
{
    if (!m_SaveState || !m_pApp)
        return;
    KPropTree* node = m_pApp->GetPersistentData(m_Path);
    if (!node)
        return;
    // The state file refuses, whole, a key that is no name or a value with a double quote: such items are
    // not kept, so that every other setting is. "Name" is the node's own key.
    for (const auto& item : m_Items) {
        const KWString value = item->named ? KWString() : item->text;
        if (!IsXmlName(item->id) || item->id == u"Name" || value.View().find(u'"') != std::u16string_view::npos)
            continue;
        node->SetString(item->id, value);
    }
}

bool KUiScrollList::SetRect(int32_t x, int32_t y, int32_t width, int32_t height)
{
    KUiObject::SetRect(x, y, width, height);
    const int32_t w = m_pScrollbar ? std::max(0, m_pScrollbar->GetLayout(true)->GetMinimumSize()) : 0;
    m_BarRect = KRect(SaturatedSize(int64_t(m_Rect.right) - w), m_Rect.top, m_Rect.right, m_Rect.bottom);
    if (m_pScrollbar)
        m_pScrollbar->SetRect(m_BarRect.left, m_BarRect.top, w, m_Rect.Height());
    priUpdateScrollbar();
    return true;
}

void KUiScrollList::Draw(KIUiPixmap* surface, int32_t dx, int32_t dy, const KRect& clip)
{
    KRect moved = m_Rect;
    moved.Offset(dx, dy);
    if (!surface || IsEmptyRect(IntersectRects(moved, clip)))
        return;
    KRect textArea(m_Rect.left, m_Rect.top, SaturatedSize(int64_t(m_BarRect.left) - 1), m_Rect.bottom);
    if (m_pScrollbar)
        m_pScrollbar->Draw(surface, dx, dy, clip);
    KRect column(SaturatedSize(int64_t(m_BarRect.left) - 1), m_BarRect.top, m_BarRect.left, m_BarRect.bottom);
    column.Offset(dx, dy);
    column = IntersectRects(column, clip);
    if (!IsEmptyRect(column))
        surface->FillRectRGB(column, 0, 0, 0);
    textArea.Offset(dx, dy);
    const KRect itemClip = IntersectRects(textArea, clip);

    int64_t rowTop = int64_t(textArea.top) - int64_t(m_FirstRow) * m_RowHeight;
    for (auto& entry : m_Items) {
        Item& item = *entry;
        const bool selected = &item == m_pSelected;
        if (item.image && item.selected != selected)
            DeleteUiPixmap(item.image);
        item.selected = selected;
        if (!item.image) {
            KWString text = item.text;
            if (item.named) {
                text.Clear();
                if (KUiMultiLangString* s = m_pApp ? m_pApp->FindDisplayString(item.text) : nullptr)
                    if (const KWString* current = s->GetCurrentText())
                        text = *current;
            }
            // The text is rendered in the colour of its state, over the font's background when it has one.
            if (m_pAppFont) {
                KUiTextAttributes colour;
                colour.colour = m_SelectedColor;
                colour.hasColour = true;
                item.image = m_pAppFont->RenderText(selected ? &colour : nullptr, text, false);
            } else {
                KUiOwnFont font = m_Font;
                if (selected)
                    font.colour = m_SelectedColor;
                item.image = font.Render(text);
            }
        }
        const int32_t imageHeight = item.image ? item.image->Height() : 0;
        const int32_t imageWidth = item.image ? item.image->Width() : 0;
        const int64_t top = rowTop + ((int64_t(m_RowHeight) - imageHeight) >> 1);
        const int64_t left = int64_t(textArea.left) + m_TextInset;
        item.hitRect = KRect(SaturatedSize(left), SaturatedSize(top), SaturatedSize(int64_t(m_BarRect.left) + dx - 1),
                             SaturatedSize(top + imageHeight));
        if (selected && m_HasSelectedBg) {
            const KRect bg = IntersectRects(item.hitRect, itemClip);
            if (!IsEmptyRect(bg))
                surface->FillRect(bg, m_SelectedBg);
        }
        if (item.image) {
            KRect source;
            item.image->GetBounds(source);
            BlendClipped(item.image, surface,
                         KRect(SaturatedSize(left), SaturatedSize(top), SaturatedSize(left + imageWidth),
                               SaturatedSize(top + imageHeight)),
                         source, itemClip);
        }
        rowTop += m_RowHeight;
    }
}

void KUiScrollList::Tick(int32_t elapsedMs)
{
    if (m_pScrollbar)
        m_pScrollbar->Tick(elapsedMs);
}

KIUiObject* KUiScrollList::HitTest(int32_t x, int32_t y)
{
    if (!(x >= m_Rect.left && x < m_Rect.right && y >= m_Rect.top && y < m_Rect.bottom))
        return nullptr;
    if (m_pScrollbar && m_pScrollbar->HitTest(x, y))
        return m_pScrollbar;
    return this;
}

KUiScrollList::Item* KUiScrollList::priItemAt(int32_t x, int32_t y)
{
    for (auto& item : m_Items) {
        const KRect& r = item->hitRect;
        if (x >= r.left && x < r.right && y >= r.top && y < r.bottom)
            return item.get();
    }
    return nullptr;
}

bool KUiScrollList::MouseDown(int32_t x, int32_t y, bool, bool)
{
    Item* item = priItemAt(x, y);
    if (!item)
        return true;
    m_pSelected = item;
    // The relays may refill the list: they get copies, and the item is looked for again after them.
    KWString text = item->text, id = item->id;
    m_pOnSelect->Fire(&text);
    m_pOnSelectId->Fire(&id);
    Repaint();
    return true;
}

void KUiScrollList::MouseEnter(int32_t, int32_t)
{
    if (m_HoverSelect)
        CaptureMouse(true);
}

void KUiScrollList::MouseLeave(int32_t, int32_t)
{
    if (m_HoverSelect)
        CaptureMouse(false);
}

void KUiScrollList::MouseMove(int32_t x, int32_t y)
{
    if (!m_HoverSelect)
        return;
    Item* item = priItemAt(x, y);
    if (!item || item == m_pSelected)
        return;
    m_pSelected = item;
    Repaint();
}

void KUiScrollList::MouseWheel(int32_t x, int32_t y, int32_t a, int32_t b)
{
    if (m_pScrollbar)
        m_pScrollbar->MouseWheel(x, y, a, b);
}

bool KUiScrollList::RegisterCreator(KIUiObjectFactory* factory)
{
    return RegisterControlCreator(factory, "SCROLLLIST", new KUiScrollListCreator);
}

KIUiObject* KUiScrollListCreator::Create()
{
    return new (std::nothrow) KUiScrollList;
}
