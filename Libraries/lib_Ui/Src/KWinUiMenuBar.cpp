#include "KWinUiMenuBar.h"

#include <algorithm>

#include "KGenericUiPixmap.h"
#include "KWinUiMenu.h"
#include "KWinUiWindow.h"

namespace {

// Bar: titles from this x, each its text's width plus a margin on both sides.
constexpr int32_t kBarStart = 4;
constexpr int32_t kTitleMargin = 8;
// Popup: a frame, entries of the bar's height, separators, the label after the check column, the shortcut
// right-aligned after a gap.
constexpr int32_t kPopupInset = 3;
constexpr int32_t kEntryHeight = kMenuBarHeight;
constexpr int32_t kSeparatorHeight = 9;
constexpr int32_t kLabelX = 24;
constexpr int32_t kShortcutGap = 28;
constexpr int32_t kRightMargin = 16;
constexpr int32_t kMinPopupWidth = 80;

const KUiColor kBarColour(240, 240, 240, 255);
const KUiColor kBarLine(205, 205, 205, 255);
const KUiColor kOpenTitle(51, 102, 204, 255);
const KUiColor kText(0, 0, 0, 255);
const KUiColor kOpenText(255, 255, 255, 255);
const KUiColor kDisabledText(150, 150, 150, 255);
const KUiColor kPopupFrame(128, 128, 128, 255);
const KUiColor kPopupColour(250, 250, 250, 255);
const KUiColor kSeparatorLine(190, 190, 190, 255);

KWString Family()
{
    return KWString(kMenuFontFamily);
}

int32_t TextWidth(const KWString& text)
{
    if (text.IsEmpty())
        return 0;
    std::vector<int32_t> widths(text.GetLength());
    if (!GetUiTextWidths(text, Family(), kMenuTextHeight, false, false, false, widths.data()))
        return 0;
    return widths.back();
}

// Top of the text in a row of the bar's height.
int32_t TextTop()
{
    int32_t cell = kMenuTextHeight;
    GetUiFontMetrics(Family(), kMenuTextHeight, false, false, false, &cell, nullptr);
    return (kEntryHeight - cell) / 2;
}

// Blends text with its left edge at x (the text surface keeps a pixel on each side).
void DrawText(KIUiPixmap* target, const KWString& text, int32_t x, int32_t y, KUiColor colour)
{
    if (text.IsEmpty())
        return;
    KIUiPixmap* t = CreateTextUiPixmap(text, Family(), kMenuTextHeight, false, false, false, colour, nullptr, false);
    if (!t)
        return;
    KRect b;
    t->GetBounds(b);
    t->BlendTo(target, KRect(x - 1, y, x - 1 + b.Width(), y + b.Height()), b);
    DeleteUiPixmap(t);
}

// The label and the shortcut of an entry's text (split at its first tab).
void SplitEntry(const KWString& text, KWString& label, KWString& shortcut)
{
    const std::u16string& s = text.Str();
    const size_t tab = s.find(u'\t');
    label = KWString(std::u16string_view(s).substr(0, tab));
    shortcut = tab == std::u16string::npos ? KWString() : KWString(std::u16string_view(s).substr(tab + 1));
}

void DrawCheckMark(KIUiPixmap* target, const KRect& entry, KUiColor colour)
{
    const int32_t y = entry.top + kEntryHeight / 2;
    for (int32_t i = 0; i < 4; ++i)
        target->FillRect(KRect(8 + i, y - 1 + i, 9 + i, y + 1 + i), colour);
    for (int32_t i = 0; i < 7; ++i)
        target->FillRect(KRect(11 + i, y + 1 - i, 12 + i, y + 3 - i), colour);
}

int32_t LowSigned(intptr_t l)
{
    return static_cast<int16_t>(static_cast<uint16_t>(l & 0xFFFF));
}

int32_t HighSigned(intptr_t l)
{
    return static_cast<int16_t>(static_cast<uint16_t>((l >> 16) & 0xFFFF));
}

}  // namespace

std::vector<KMenuTitle> LayOutMenuBar(KWinUiMenu* firstMenu)
{
    std::vector<KMenuTitle> titles;
    int32_t x = kBarStart;
    for (KWinUiMenu* m = firstMenu; m; m = m->GetNext()) {
        if (!m->InBar())
            continue;
        const int32_t w = TextWidth(m->GetTitle()) + 2 * kTitleMargin;
        titles.push_back(KMenuTitle{m, KRect(x, 0, x + w, kMenuBarHeight - 1)});
        x += w;
    }
    return titles;
}

KIGenericUiPixmap* RenderMenuBar(const std::vector<KMenuTitle>& titles, int32_t width, const KWinUiMenu* open)
{
    KIGenericUiPixmap* bar = CreateUiPixmap(std::max(1, width), kMenuBarHeight, true);
    if (!bar)
        return nullptr;
    bar->FillRect(KRect(0, 0, bar->Width(), kMenuBarHeight), kBarColour);
    bar->FillRect(KRect(0, kMenuBarHeight - 1, bar->Width(), kMenuBarHeight), kBarLine);
    const int32_t top = TextTop();
    for (const KMenuTitle& t : titles) {
        const bool isOpen = t.menu == open;
        if (isOpen)
            bar->FillRect(t.rect, kOpenTitle);
        DrawText(bar, t.menu->GetTitle(), t.rect.left + kTitleMargin, top, isOpen ? kOpenText : kText);
    }
    return bar;
}

std::vector<KRect> LayOutMenuPopup(const KWinUiMenu& menu, int32_t& width, int32_t& height)
{
    int32_t labels = 0, shortcuts = 0;
    for (const KWinUiMenu::Entry& e : menu.GetEntries()) {
        if (e.separator)
            continue;
        KWString label, shortcut;
        SplitEntry(e.text, label, shortcut);
        labels = std::max(labels, TextWidth(label));
        shortcuts = std::max(shortcuts, TextWidth(shortcut));
    }
    width = std::max(kMinPopupWidth, kLabelX + labels + (shortcuts ? kShortcutGap + shortcuts : 0) + kRightMargin);
    std::vector<KRect> rects;
    int32_t y = kPopupInset;
    for (const KWinUiMenu::Entry& e : menu.GetEntries()) {
        const int32_t h = e.separator ? kSeparatorHeight : kEntryHeight;
        rects.emplace_back(kPopupInset, y, width - kPopupInset, y + h);
        y += h;
    }
    height = y + kPopupInset;
    return rects;
}

KIGenericUiPixmap* RenderMenuPopup(const KWinUiMenu& menu)
{
    int32_t width = 0, height = 0;
    const std::vector<KRect> rects = LayOutMenuPopup(menu, width, height);
    KIGenericUiPixmap* popup = CreateUiPixmap(width, height, true);
    if (!popup)
        return nullptr;
    popup->FillRect(KRect(0, 0, width, height), kPopupFrame);
    popup->FillRect(KRect(1, 1, width - 1, height - 1), kPopupColour);
    const int32_t top = TextTop();
    const std::vector<KWinUiMenu::Entry>& entries = menu.GetEntries();
    for (size_t i = 0; i < entries.size(); ++i) {
        const KWinUiMenu::Entry& e = entries[i];
        const KRect& r = rects[i];
        if (e.separator) {
            const int32_t y = r.top + kSeparatorHeight / 2;
            popup->FillRect(KRect(r.left + 4, y, r.right - 4, y + 1), kSeparatorLine);
            continue;
        }
        const KUiColor colour = (e.state & KWinUiMenu::kDisabled) ? kDisabledText : kText;
        if (e.state & KWinUiMenu::kChecked)
            DrawCheckMark(popup, r, colour);
        KWString label, shortcut;
        SplitEntry(e.text, label, shortcut);
        DrawText(popup, label, kLabelX, r.top + top, colour);
        if (!shortcut.IsEmpty())
            DrawText(popup, shortcut, width - kRightMargin - TextWidth(shortcut), r.top + top, colour);
    }
    return popup;
}

KWinUiMenuBar::KWinUiMenuBar(KWinUiWindow* window) : m_pWindow(window)
{
}

KWinUiMenuBar::~KWinUiMenuBar()
{
    if (m_Popup) {
        PlatSetWindowUserData(m_Popup, nullptr);
        PlatDestroyWindow(m_Popup);
    }
    DeleteUiPixmap(m_pPopupPixels);
}

std::vector<KMenuTitle> KWinUiMenuBar::GetTitles() const
{
    return LayOutMenuBar(m_pWindow->GetFirstMenu());
}

void KWinUiMenuBar::DrawBar()
{
    PlatHWND h = m_pWindow->GetHandle();
    PlatRect r{};
    if (!h || !PlatGetWindowRect(h, r))
        return;
    KIGenericUiPixmap* bar = RenderMenuBar(GetTitles(), r.right - r.left, m_pOpen);
    if (!bar)
        return;
    if (KPixmap_Display* view = bar->GetPixmap())
        PlatSetMenuBarPixels(h, static_cast<const uint8_t*>(view->GetData()), view->GetWidth(), view->GetRowBytes());
    DeleteUiPixmap(bar);
}

void KWinUiMenuBar::MenuChanged(KWinUiMenu* menu)
{
    DrawBar();
    if (menu && menu == m_pOpen) {
        m_pOpen = nullptr;
        Open(menu);
    }
}

KWinUiMenu* KWinUiMenuBar::priTitleAt(int32_t screenX, int32_t screenY) const
{
    PlatRect r{};
    if (!PlatGetWindowRect(m_pWindow->GetHandle(), r))
        return nullptr;
    const int32_t x = screenX - r.left, y = screenY - (r.top - kMenuBarHeight);
    for (const KMenuTitle& t : GetTitles())
        if (x >= t.rect.left && x < t.rect.right && y >= 0 && y < kMenuBarHeight)
            return t.menu;
    return nullptr;
}

bool KWinUiMenuBar::PressOnBar(int32_t screenX, int32_t screenY)
{
    KWinUiMenu* menu = priTitleAt(screenX, screenY);
    if (!menu || menu == m_pOpen) {
        Close();
        return menu != nullptr;
    }
    Open(menu);
    return true;
}

bool KWinUiMenuBar::Open(KWinUiMenu* menu)
{
    PlatHWND h = m_pWindow->GetHandle();
    if (!h || !menu || !menu->InBar() || menu == m_pOpen)
        return menu && menu == m_pOpen;
    KIGenericUiPixmap* pixels = RenderMenuPopup(*menu);
    if (!pixels)
        return false;
    DeleteUiPixmap(m_pPopupPixels);
    m_pPopupPixels = pixels;
    int32_t width = 0, height = 0;
    m_EntryRects = LayOutMenuPopup(*menu, width, height);
    // Below its title, kept on the screen.
    PlatRect r{};
    PlatGetWindowRect(h, r);
    int32_t x = r.left, y = r.top;
    for (const KMenuTitle& t : GetTitles())
        if (t.menu == menu)
            x += t.rect.left;
    int32_t sw = 0, sh = 0;
    PlatGetScreenSize(sw, sh);
    x = std::max(0, std::min(x, sw - width));
    y = std::max(0, std::min(y, sh - height));
    if (!m_Popup) {
        PlatWindowDesc desc;
        desc.title = menu->GetTitle().Str();
        desc.x = x;
        desc.y = y;
        desc.width = width;
        desc.height = height;
        desc.style = PLAT_WS_MENUPOPUP;
        desc.owner = h;
        desc.procedure = &KWinUiMenuBar::PopupProcedure;
        desc.userData = this;
        m_Popup = PlatCreateWindow(desc);
        if (!m_Popup)
            return false;
    } else {
        PlatSetWindowText(m_Popup, menu->GetTitle().Str());
        PlatSetWindowPos(m_Popup, x, y, width, height, PLAT_SWP_NOACTIVATE);
    }
    m_pOpen = menu;
    PlatShowWindow(m_Popup, true);
    priPaintPopup();
    if (PlatGetCapture() != m_Popup)
        PlatSetCapture(m_Popup);
    DrawBar();
    return true;
}

void KWinUiMenuBar::Close()
{
    if (!m_pOpen)
        return;
    m_pOpen = nullptr;
    m_EntryRects.clear();
    DeleteUiPixmap(m_pPopupPixels);
    if (m_Popup) {
        if (PlatGetCapture() == m_Popup)
            PlatReleaseCapture();
        PlatShowWindow(m_Popup, false);
    }
    DrawBar();
}

void KWinUiMenuBar::priPaintPopup()
{
    if (!m_Popup || !m_pPopupPixels)
        return;
    KPixmap_Display* view = m_pPopupPixels->GetPixmap();
    if (!view)
        return;
    PlatBlit(m_Popup, 0, 0, view->GetWidth(), view->GetHeight(), static_cast<const uint8_t*>(view->GetData()),
             view->GetRowBytes(), 0, 0);
}

intptr_t KWinUiMenuBar::PopupProcedure(PlatHWND handle, uint32_t message, uintptr_t wParam, intptr_t lParam)
{
    auto* self = static_cast<KWinUiMenuBar*>(PlatGetWindowUserData(handle));
    if (!self || handle != self->m_Popup)
        return 0;
    return self->priPopupMessage(message, wParam, lParam);
}

intptr_t KWinUiMenuBar::priPopupMessage(uint32_t message, uintptr_t, intptr_t lParam)
{
    switch (message) {
    case PLAT_WM_PAINT: {
        PlatRect r{};
        PlatBeginPaint(m_Popup, r);
        priPaintPopup();
        return 0;
    }
    case PLAT_WM_LBUTTONDOWN:
    case PLAT_WM_LBUTTONDBLCLK: {
        if (!m_pOpen)
            return 0;
        const int32_t x = LowSigned(lParam), y = HighSigned(lParam);
        PlatRect p{};
        PlatGetWindowRect(m_Popup, p);
        if (x >= 0 && y >= 0 && x < p.right - p.left && y < p.bottom - p.top)
            return 0;
        // Outside the popup (the pointer is held): a title switches menus, anything else closes.
        PressOnBar(p.left + x, p.top + y);
        return 0;
    }
    case PLAT_WM_LBUTTONUP: {
        if (!m_pOpen)
            return 0;
        const int32_t x = LowSigned(lParam), y = HighSigned(lParam);
        const std::vector<KWinUiMenu::Entry>& entries = m_pOpen->GetEntries();
        for (size_t i = 0; i < m_EntryRects.size() && i < entries.size(); ++i) {
            const KRect& r = m_EntryRects[i];
            if (x < r.left || x >= r.right || y < r.top || y >= r.bottom)
                continue;
            const KWinUiMenu::Entry& e = entries[i];
            if (e.separator || (e.state & KWinUiMenu::kDisabled))
                return 0;
            const uint16_t id = e.id;
            Close();
            PlatPostMessage(m_pWindow->GetHandle(), PLAT_WM_COMMAND, id, 0);
            return 0;
        }
        return 0;
    }
    case PLAT_WM_DESTROY:
        m_Popup = nullptr;
        m_pOpen = nullptr;
        m_EntryRects.clear();
        return 0;
    default:
        return 0;
    }
}
