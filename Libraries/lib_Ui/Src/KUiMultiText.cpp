#include "KUiMultiText.h"

#include <algorithm>
#include <new>
#include <string>

#include "KGenericUiPixmap.h"
#include "KIGenericUiApp.h"
#include "KIGenericUiWindow.h"
#include "KIUiPixmap.h"
#include "KPropTree.h"
#include "KUiFont.h"
#include "KUiScrollbar.h"

namespace {

// Characters a Japanese line may not start with: the long-vowel mark, the full stop and the comma.
bool NoLineStart(char16_t c)
{
    return c == 0x30FC || c == 0x3002 || c == 0x3001;
}

// 0, or 1 for "<LF>" and 2 for "<BR>" at i.
int MarkerAt(std::u16string_view t, size_t i)
{
    if (i + 4 > t.size() || t[i] != u'<' || t[i + 3] != u'>')
        return 0;
    const std::u16string_view m = t.substr(i, 4);
    return m == u"<LF>" ? 1 : m == u"<BR>" ? 2 : 0;
}

bool FontWidths(void* context, const KWString& text, int32_t* widths)
{
    return static_cast<KUiFont*>(context)->GetTextWidths(nullptr, text, widths);
}

}  // namespace

std::vector<KWString> KUiMultiText::WrapText(const KWString& text, int32_t width, bool japanese, int32_t averageWidth,
                                             WidthFunction widths, void* context)
{
    std::vector<KWString> lines;
    const std::u16string_view t = text.View();
    const size_t n = t.size();
    const int64_t available = width;
    // Enough characters to overflow any line; the rest waits for the next one.
    const size_t limit = size_t(std::clamp<int64_t>(available, 0, 1 << 16)) + 64;
    size_t pos = 0;
    while (pos < n) {
        // The characters of the line as shown, each with where it came from.
        std::u16string line;
        std::vector<size_t> source;
        size_t i = pos;
        int marker = 0;
        for (; i < n && line.size() < limit; ++i) {
            if ((marker = MarkerAt(t, i)) != 0)
                break;
            const char16_t c = t[i];
            if (c < 32) {
                if (c != 10 || line.empty())
                    continue;
                if (japanese) {
                    const char16_t before = i > 0 ? t[i - 1] : 0;
                    if (before >= 255 || before == 10 || before == 13 || before == 9)
                        continue;
                }
                line += u' ';
                source.push_back(i);
                continue;
            }
            if (c == u' ' && line.empty())
                continue;
            line += c;
            source.push_back(i);
        }
        std::vector<int32_t> w(line.size());
        if (line.empty() || !widths || !widths(context, KWString(std::u16string_view(line)), w.data()))
            for (size_t k = 0; k < w.size(); ++k)
                w[k] = SaturatedSize(int64_t(k + 1) * std::max(0, averageWidth));
        size_t fit = 0;
        while (fit < line.size() && w[fit] <= available)
            ++fit;
        if (fit == line.size()) {
            lines.emplace_back(std::u16string_view(line));
            if (marker) {
                pos = i + 4;
                if (marker == 2)
                    lines.emplace_back();
            } else {
                pos = i;
            }
            continue;
        }
        // Too wide: back to the last break the rules allow, else cut after the last character that fits (and
        // never before the first).
        size_t cut = 0, next = 0;
        if (!japanese) {
            for (size_t s = fit + 1; s-- > 1;)
                if (line[s] == u' ') {
                    cut = s;
                    next = source[s] + 1;
                    break;
                }
        } else {
            for (size_t j = fit; j >= 1; --j) {
                if (line[j - 1] > 255) {
                    cut = j;
                    next = source[j - 1] + 1;
                    break;
                }
                if (j < line.size() && line[j] == u' ') {
                    cut = j;
                    next = source[j] + 1;
                    break;
                }
            }
        }
        if (cut == 0) {
            cut = std::max<size_t>(fit, 1);
            next = source[cut - 1] + 1;
        }
        if (japanese) {
            size_t k = next;
            while (k < n && t[k] < 32)
                ++k;
            if (k < n && NoLineStart(t[k]) && cut > 1) {
                --cut;
                next = source[cut];
            }
        }
        lines.emplace_back(std::u16string_view(line).substr(0, cut));
        pos = next;
    }
    return lines;
}

KUiMultiText::KUiMultiText()
{
    m_pTypeKeyword = "MULTITEXT";
}

KUiMultiText::~KUiMultiText()
{
    if (m_Listening && m_pApp)
        m_pApp->RemoveLanguageListener(this);
    priClearLines();
    delete m_pScrollbar;
}

void KUiMultiText::priClearLines()
{
    for (Line& line : m_Lines)
        DeleteUiPixmap(line.image);
    m_Lines.clear();
}

bool KUiMultiText::PostCreationConnect()
{
    const bool connected = m_pWindow ? m_AddItem.Connect(m_pWindow) : m_AddItem.Connect(m_pApp);
    const bool bar = m_pScrollbar && m_pScrollbar->PostCreationConnect();
    return connected && bar;
}

bool KUiMultiText::InitUiObject(KIGenericUiApp* application, KIGenericUiWindow* window, KIUiObject* parent,
                                KPropTree* node)
{
    KUiObject::InitUiObject(application, window, parent, node);
    if (!node || !application)
        return false;
    bool found = false;
    const KWString fontName = node->GetString(KWString("AppFont"), KWString(), &found);
    if (found && !fontName.IsEmpty())
        m_pFont = application->FindFont(fontName);
    m_Keys.Read(node);
    m_SaveState = node->GetBool(KWString("_SaveState"), true);
    m_StringName = node->GetString(KWString("MultiLine"), KWString(u"BlankLine"));
    m_Background = GetUiColor(node, "BGColor", m_Background, &m_HasBackground);
    m_Margin = std::clamp(node->GetInt(KWString("_Margin"), 2), -(1 << 16), 1 << 16);
    if (!m_Keys.HasAll() || !m_pFont)
        return false;
    m_Listening = application->AddLanguageListener(this, m_Language);

    for (KPropTree* element = node->GetFirstChild(); element; element = element->GetNextSibling())
        if (element->GetName() == u"ON_ADD_ITEM")
            m_AddItem.AddRelay(element);
    m_pScrollbar = CreateOwnedScrollbar(application, window, this, FindScrollbarElement(node));
    if (!m_pScrollbar)
        return false;
    m_pScrollbar->ConnectEvent(KWString("ON_SCROLL"), KWString("Scroll"), this);

    int32_t height = 0;
    m_pFont->GetMetrics(nullptr, &height, &m_AverageWidth);
    m_LineHeight = std::max(height, m_AverageWidth);
    SetLayoutRecord(m_HLayout, SaturatedSize(int64_t(m_Keys.minH) + 1), m_Keys.stretchH);
    SetLayoutRecord(m_VLayout, m_Keys.minV, m_Keys.stretchV);
    return true;
}

bool KUiMultiText::UiRelayMessage(const KWString& message, void* data)
{
    if (message == kUiMsgPostCreationInit) {
        if (m_pScrollbar)
            m_pScrollbar->UiRelayMessage(message, data);
        return true;
    }
    if (message == kUiMsgShutdown) {
        if (m_Listening && m_pApp)
            m_pApp->RemoveLanguageListener(this);
        m_Listening = false;
        return false;
    }
    if (message == kUiMsgSetLanguage) {
        if (const KWString* language = UiRelayData<KWString>(data)) {
            m_Language = *language;
            priClearLines();
            m_PageBuilt = false;
            Repaint();
        }
        return false;
    }
    if (message == u"Scroll") {
        const int32_t* line = UiRelayData<int32_t>(data);
        if (!line)
            return false;
        m_FirstLine = *line;
        Repaint();
        return true;
    }
    if (message == u"AddToList") {
        const KWString* name = UiRelayData<KWString>(data);
        if (!name)
            return false;
        m_StringName = *name;
        Repaint();
        return true;
    }
    if (message == u"EmptyList") {
        // The next drawing builds the page again from the string then named.
        priClearLines();
        m_PageBuilt = false;
        m_AddItem.Fire(nullptr);
        return true;
    }
    if (message == u"SetText") {
        if (const KWString* text = UiRelayData<KWString>(data)) {
            m_SetText = *text;
            m_TextWasSet = true;
            priClearLines();
            m_PageBuilt = false;
            Repaint();
        }
        return false;
    }
    return false;
}

bool KUiMultiText::SetRect(int32_t x, int32_t y, int32_t width, int32_t height)
{
    const KRect old = m_Rect;
    KUiObject::SetRect(x, y, width, height);
    const int32_t w = m_pScrollbar ? std::max(0, m_pScrollbar->GetLayout(true)->GetMinimumSize()) : 0;
    m_BarRect = KRect(SaturatedSize(int64_t(m_Rect.right) - w), m_Rect.top, m_Rect.right, m_Rect.bottom);
    if (m_pScrollbar)
        m_pScrollbar->SetRect(m_BarRect.left, m_BarRect.top, w, m_Rect.Height());
    // Another size wraps and counts the lines anew.
    if (old.Width() != m_Rect.Width() || old.Height() != m_Rect.Height()) {
        priClearLines();
        m_PageBuilt = false;
    }
    return true;
}

void KUiMultiText::BuildPage()
{
    if (m_PageBuilt || m_StringName.IsEmpty() || !m_pFont)
        return;
    priClearLines();
    KWString text;
    if (m_TextWasSet) {
        text = m_SetText.IsEmpty() ? KWString(u" ") : m_SetText;
    } else if (KUiMultiLangString* s = m_pApp ? m_pApp->FindDisplayString(m_StringName) : nullptr) {
        s->SetLanguage(m_Language);
        if (const KWString* current = s->GetCurrentText())
            text = *current;
    }
    if (text.IsEmpty())
        return;
    m_PageBuilt = true;
    const int64_t available = int64_t(m_BarRect.left) - m_Rect.left - m_Margin - 1;
    const std::vector<KWString> wrapped =
        WrapText(text, SaturatedSize(available), m_Language == u"Japanese", m_AverageWidth < 0 ? 7 : m_AverageWidth,
                 FontWidths, m_pFont);
    m_Lines.reserve(wrapped.size());
    for (const KWString& w : wrapped)
        m_Lines.push_back(Line{w, w.IsEmpty() ? nullptr : m_pFont->RenderText(nullptr, w, false)});

    const int32_t count = SaturatedSize(int64_t(m_Lines.size()));
    const int32_t visible = m_LineHeight > 0 ? m_Rect.Height() / m_LineHeight : 0;
    double values[3] = {10, 10, 0};
    if (count > visible) {
        m_FirstLine = std::clamp(m_FirstLine, 0, count - visible);
        values[0] = count;
        values[1] = visible;
        values[2] = m_FirstLine;
    } else {
        m_FirstLine = 0;
    }
    if (m_pScrollbar)
        UiRelaySend(m_pScrollbar, KWString("Set"), values);
}

void KUiMultiText::Draw(KIUiPixmap* surface, int32_t dx, int32_t dy, const KRect& clip)
{
    if (!surface)
        return;
    BuildPage();
    if (!m_PageBuilt)
        return;
    KRect area(m_Rect.left, m_Rect.top, m_BarRect.left, m_Rect.bottom);
    area.Offset(dx, dy);
    const KRect visible = IntersectRects(area, clip);
    const int64_t pageHeight = int64_t(m_Lines.size()) * m_LineHeight;
    const int64_t top = int64_t(area.top) - int64_t(m_FirstLine) * m_LineHeight;
    if (!IsEmptyRect(visible)) {
        if (m_HasBackground) {
            const KRect page = IntersectRects(
                KRect(area.left, SaturatedSize(top), area.right, SaturatedSize(top + pageHeight)), visible);
            if (!IsEmptyRect(page))
                surface->FillRect(page, m_Background);
        }
        for (size_t i = 0; i < m_Lines.size(); ++i) {
            const KIUiPixmap* image = m_Lines[i].image;
            const int64_t y = top + int64_t(i) * m_LineHeight;
            if (!image || y >= visible.bottom || y + image->Height() <= visible.top)
                continue;
            const int64_t x = int64_t(area.left) + m_Margin;
            KRect source;
            image->GetBounds(source);
            BlendClipped(image, surface,
                         KRect(SaturatedSize(x), SaturatedSize(y), SaturatedSize(x + image->Width()),
                               SaturatedSize(y + image->Height())),
                         source, visible);
        }
    }
    if (pageHeight > m_Rect.Height() && m_pScrollbar) {
        KRect bar = m_BarRect;
        bar.Offset(dx, dy);
        bar = IntersectRects(bar, clip);
        if (!IsEmptyRect(bar))
            surface->FillRectRGB(bar, 0, 0, 0);
        m_pScrollbar->Draw(surface, dx, dy, clip);
    }
}

void KUiMultiText::Tick(int32_t elapsedMs)
{
    if (m_pScrollbar)
        m_pScrollbar->Tick(elapsedMs);
}

KIUiObject* KUiMultiText::HitTest(int32_t x, int32_t y)
{
    if (!(x >= m_Rect.left && x < m_Rect.right && y >= m_Rect.top && y < m_Rect.bottom))
        return nullptr;
    if (m_pScrollbar && m_pScrollbar->HitTest(x, y))
        return m_pScrollbar;
    return this;
}

bool KUiMultiText::MouseDown(int32_t, int32_t, bool, bool)
{
    return true;
}

void KUiMultiText::MouseWheel(int32_t x, int32_t y, int32_t a, int32_t b)
{
    if (m_pScrollbar)
        m_pScrollbar->MouseWheel(x, y, a, b);
}

bool KUiMultiText::RegisterCreator(KIUiObjectFactory* factory)
{
    return RegisterControlCreator(factory, "MULTITEXT", new KUiMultiTextCreator);
}

KIUiObject* KUiMultiTextCreator::Create()
{
    return new (std::nothrow) KUiMultiText;
}
