#include "KUiSlider.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <new>

#include "KExceptionUiScript.h"
#include "KGenericUiPixmap.h"
#include "KIGenericUiApp.h"
#include "KIUiPixmap.h"
#include "KPropTree.h"

namespace {

// Truncation toward zero into the 32-bit range; NaN counts as 0.
int32_t Truncate(double value)
{
    if (std::isnan(value))
        return 0;
    if (value <= double(std::numeric_limits<int32_t>::min()))
        return std::numeric_limits<int32_t>::min();
    if (value >= double(std::numeric_limits<int32_t>::max()))
        return std::numeric_limits<int32_t>::max();
    return static_cast<int32_t>(value);
}

// p limited to 0 .. 1; NaN counts as 0.
double Unit(double p)
{
    if (!(p >= 0))
        return 0;
    return std::min(p, 1.0);
}

}  // namespace

KUiSlider::KUiSlider()
{
    m_pTypeKeyword = "SLIDER";
}

KUiSlider::~KUiSlider()
{
    if (m_pKnobDown != m_pKnob)
        DeleteUiPixmap(m_pKnobDown);
    m_pKnobDown = nullptr;
    DeleteUiPixmap(m_pKnob);
    DeleteUiPixmap(m_pBackground);
}

int32_t KUiSlider::priKnobLength() const
{
    return m_pKnob ? (m_Horizontal ? m_pKnob->Width() : m_pKnob->Height()) : 0;
}

int32_t KUiSlider::priKnobThickness() const
{
    return m_pKnob ? (m_Horizontal ? m_pKnob->Height() : m_pKnob->Width()) : 0;
}

bool KUiSlider::priHasGrid() const
{
    // No grid without a positive step or with less than one step in the range.
    return m_Step > 0 && (m_Upper - m_Lower) / m_Step >= 1;
}

double KUiSlider::priPositionOfValue(double value) const
{
    const double range = m_Upper - m_Lower;
    double p = range != 0 ? (value - m_Lower) / range : 0;
    if (std::isnan(p))
        p = 0;
    p = Unit(p);
    return m_Horizontal ? p : 1 - p;
}

bool KUiSlider::InitUiObject(KIGenericUiApp* application, KIGenericUiWindow* window, KIUiObject* parent,
                             KPropTree* node)
{
    KUiObject::InitUiObject(application, window, parent, node);
    if (!node)
        return false;
    bool hasFont = false, hasSize = false, hasColour = false;
    node->GetString(KWString(u"Font"), KWString(), &hasFont);
    node->GetInt(KWString(u"FontSize"), 0, &hasSize);
    GetUiColor(node, "FontColor", KUiColor(0, 0, 0, 255), &hasColour);
    if (!hasFont || !hasSize || !hasColour)
        return false;
    m_Font.Read(node);
    m_DontScaleKnob = node->GetBool(KWString(u"DontScaleKnob"), false);
    m_Horizontal = node->GetBool(KWString(u"_Horizontal"), true);
    m_ShowValue = node->GetBool(KWString(u"_DisplayValue"), true);

    bool found = false;
    DeleteUiPixmap(m_pBackground);
    m_pBackground = LoadImageProperty(node, KWString(u"File_Image_Bg"), &found);
    if (!m_pBackground)
        return false;
    if (m_pKnobDown != m_pKnob)
        DeleteUiPixmap(m_pKnobDown);
    m_pKnobDown = nullptr;
    DeleteUiPixmap(m_pKnob);
    m_pKnob = LoadImageProperty(node, KWString(u"File_Image_Knob"), &found);
    if (!m_pKnob)
        return false;
    m_pKnobDown = LoadImageProperty(node, KWString(u"File_Image_Knob_Down"), &found);
    if (!m_pKnobDown) {
        m_pKnobDown = m_pKnob;
    } else if (m_pKnobDown->Width() != m_pKnob->Width() || m_pKnobDown->Height() != m_pKnob->Height()) {
        DeleteUiPixmap(m_pKnobDown);
        DeleteUiPixmap(m_pKnob);
        throw KExceptionUiScript("KUiCheckbox::InitUiObject() failed: on and off images are NOT the same size!");
    }

    m_Step = node->GetDouble(KWString(u"Step"), 0);
    m_Lower = node->GetDouble(KWString(u"Lower"), 0);
    m_Upper = node->GetDouble(KWString(u"Upper"), 0);
    const double init = node->GetDouble(KWString(u"Init"), 0);
    node->GetRect(m_ResizeRect, KWString(u"ResizeRect"), KRect());
    node->GetRect(m_LabelRect, KWString(u"LabelRect"), KRect());
    m_Visible = node->GetBool(KWString(u"_Visible"), true);
    m_ShowIntegers = node->GetBool(KWString(u"_DisplayIntegers"), false);

    for (KPropTree* element = node->GetFirstChild(); element; element = element->GetNextSibling()) {
        const KWString& tag = element->GetName();
        for (RelayEvent* event : {&m_OnRelease, &m_OnSlide, &m_OnUpdate, &m_OnSnap, &m_OnManual})
            if (tag == event->GetName())
                event->AddRelay(element);
    }

    m_Position = priPositionOfValue(init);
    if (m_pApp && !m_Path.IsEmpty()) {
        if (KPropTree* stored = m_pApp->GetPersistentData(m_Path)) {
            bool present = false;
            const double p = stored->GetDouble(KWString(u"SliderValue"), 0, &present);
            // The state file is input: a value outside 0 .. 1 is limited, NaN keeps the initial place.
            if (present && !std::isnan(p))
                m_Position = Unit(p);
        }
    }

    // The knob grows to hold the widest value text.
    if (m_ShowValue && !m_DontScaleKnob) {
        if (KIUiPixmap* sample = m_Font.Render(KWString(u"-8.88"))) {
            const int64_t w = int64_t(m_pKnob->Width()) + sample->Width() - (int64_t(m_LabelRect.right) - 1 - m_LabelRect.left);
            const int64_t h =
                int64_t(m_pKnob->Height()) + sample->Height() - (int64_t(m_LabelRect.bottom) - 1 - m_LabelRect.top);
            DeleteUiPixmap(sample);
            if (w >= 1 && h >= 1 && w <= 32767 && h <= 32767) {
                if (KIUiPixmap* grown = CreateUiPixmap(static_cast<int32_t>(w), static_cast<int32_t>(h), false)) {
                    m_pKnob->DrawNinePatch(grown, m_ResizeRect, true);
                    if (m_pKnobDown == m_pKnob)
                        m_pKnobDown = grown;
                    DeleteUiPixmap(m_pKnob);
                    m_pKnob = grown;
                }
            }
        }
    }

    const int32_t bgLength = m_Horizontal ? m_pBackground->Width() : m_pBackground->Height();
    const int32_t bgThick = m_Horizontal ? m_pBackground->Height() : m_pBackground->Width();
    const int32_t knobThick = priKnobThickness();
    const int32_t thick = std::max(bgThick, knobThick);
    m_BgOffset = knobThick > bgThick ? (knobThick - bgThick) / 2 : 0;
    m_MinWidth = m_Horizontal ? bgLength : thick;
    m_MinHeight = m_Horizontal ? thick : bgLength;
    SetLayoutRecord(m_HLayout, m_MinWidth, 0);
    SetLayoutRecord(m_VLayout, m_MinHeight, 0);
    return true;
}

bool KUiSlider::PostCreationConnect()
{
    KIGenericUiWindow* w = m_pWindow;
    auto connect = [&](RelayEvent& e) { return w ? e.Connect(w) : e.Connect(m_pApp); };
    bool ok = connect(m_OnRelease);
    ok = connect(m_OnSlide) && ok;
    ok = connect(m_OnUpdate) && ok;
    ok = connect(m_OnSnap) && ok;
    connect(m_OnManual);
    return ok;
}

void KUiSlider::priPlaceKnob(int64_t along)
{
    const int32_t kw = m_pKnob ? m_pKnob->Width() : 0, kh = m_pKnob ? m_pKnob->Height() : 0;
    if (m_Horizontal) {
        const int64_t top = int64_t(m_Rect.top) + m_CrossOffset;
        m_KnobRect = KRect(SaturatedSize(along), SaturatedSize(top), SaturatedSize(along + kw), SaturatedSize(top + kh));
    } else {
        const int64_t left = int64_t(m_Rect.left) + m_CrossOffset;
        m_KnobRect = KRect(SaturatedSize(left), SaturatedSize(along), SaturatedSize(left + kw), SaturatedSize(along + kh));
    }
}

bool KUiSlider::SetRect(int32_t x, int32_t y, int32_t width, int32_t height)
{
    m_Rect = KRect(x, y, SaturatedSize(int64_t(x) + std::max(width, m_MinWidth)),
                   SaturatedSize(int64_t(y) + std::max(height, m_MinHeight)));
    const int64_t across = m_Horizontal ? m_Rect.Height() : m_Rect.Width();
    m_CrossOffset = SaturatedSize((across - priKnobThickness()) >> 1);
    m_Track = SaturatedSize(priLength() - priKnobLength());
    m_KnobOffset = Truncate(m_Track * m_Position);
    priPlaceKnob(priStart() + m_KnobOffset);
    return true;
}

double KUiSlider::MapValue() const
{
    double f = 0;
    if (m_Track > 0)
        f = m_Horizontal ? double(m_KnobOffset) / m_Track : double(m_Track - m_KnobOffset) / m_Track;
    // A range of nothing, or no track: the lower end.
    double v = m_Upper != m_Lower ? (m_Upper - m_Lower) * f + m_Lower : m_Lower;
    if (v > m_Upper)
        v = m_Upper;
    if (priHasGrid()) {
        const double half = m_Step / 2;
        if (m_Lower <= v && v <= m_Lower + half) {
            v = m_Lower;
        } else if (!(-0.001 < v && v < 0.001) && m_Lower + half <= m_Upper) {
            // The cell of v found directly rather than walked (a tiny step would walk for ever); the borders
            // are checked as the walk would.
            if (v >= m_Upper - half) {
                v = m_Upper;
            } else {
                double k = std::ceil((v - m_Lower) / m_Step - 0.5);
                for (double probe : {k - 1, k, k + 1}) {
                    if (probe < 0)
                        continue;
                    const double centre = m_Lower + probe * m_Step;
                    if (centre + half > m_Upper)
                        break;
                    if (centre - half < v && v <= centre + half) {
                        v = centre;
                        break;
                    }
                }
            }
        }
    }
    if (-0.001 < v && v < 0.001)
        v = 0;
    return v;
}

KWString KUiSlider::FormatValue(double value) const
{
    char text[64];
    if (m_ShowIntegers)
        std::snprintf(text, sizeof text, "%d", Truncate(value));
    else
        std::snprintf(text, sizeof text, "%.01f", value);
    return KWString(text);
}

void KUiSlider::Draw(KIUiPixmap* surface, int32_t dx, int32_t dy, const KRect& clip)
{
    if (!m_Visible || !surface || !m_pBackground || !m_pKnob)
        return;
    KRect control = m_Rect;
    control.Offset(dx, dy);
    if (IsEmptyRect(IntersectRects(control, clip)))
        return;
    auto blit = [&](const KIUiPixmap* image, int64_t x, int64_t y) {
        KRect source;
        image->GetBounds(source);
        const KRect destination(SaturatedSize(x), SaturatedSize(y), SaturatedSize(x + source.Width()),
                                SaturatedSize(y + source.Height()));
        BlendClipped(image, surface, destination, source, clip);
    };
    if (m_Horizontal)
        blit(m_pBackground, control.left, int64_t(control.top) + m_BgOffset);
    else
        blit(m_pBackground, int64_t(control.left) + m_BgOffset, control.top);
    const int64_t kx = int64_t(m_KnobRect.left) + dx, ky = int64_t(m_KnobRect.top) + dy;
    blit(m_Pressed ? m_pKnobDown : m_pKnob, kx, ky);
    if (!m_ShowValue)
        return;
    if (KIUiPixmap* text = m_Font.Render(FormatValue(MapValue()))) {
        const int64_t x = kx + m_LabelRect.left + (int64_t(m_LabelRect.right) - m_LabelRect.left - text->Width()) / 2;
        blit(text, x, ky + m_LabelRect.top);
        DeleteUiPixmap(text);
    }
}

KIUiObject* KUiSlider::HitTest(int32_t x, int32_t y)
{
    if (m_Disabled)
        return nullptr;
    return x >= m_Rect.left && x < m_Rect.right && y >= m_Rect.top && y < m_Rect.bottom ? this : nullptr;
}

void KUiSlider::priFirePosition(RelayEvent& event)
{
    double position = m_Position;
    event.Fire(&position);
}

void KUiSlider::priFireValue(double value)
{
    m_OnUpdate.Fire(&value);
}

bool KUiSlider::MouseDown(int32_t x, int32_t y, bool, bool)
{
    if (m_Disabled)
        return false;
    const int32_t coord = m_Horizontal ? x : y;
    const bool onKnob = x >= m_KnobRect.left && x < m_KnobRect.right && y >= m_KnobRect.top && y < m_KnobRect.bottom;
    if (onKnob) {
        m_Captured = CaptureMouse(true);
        m_Pressed = true;
        m_OnManual.Fire(nullptr);
    } else {
        if (!m_OnSnap.HasRelays())
            return true;
        m_Pressed = true;
        m_Position = m_Track > 0 ? double(int64_t(coord) - priStart()) / m_Track : 0;
    }
    m_AnchorCoord = coord;
    m_AnchorOffset = m_KnobOffset;
    Repaint();
    return true;
}

void KUiSlider::MouseMove(int32_t x, int32_t y)
{
    if (m_Disabled || !m_Pressed || !m_Captured)
        return;
    const int64_t coord = m_Horizontal ? x : y;
    const int32_t offset =
        static_cast<int32_t>(std::clamp<int64_t>(int64_t(m_AnchorOffset) + (coord - m_AnchorCoord), 0, std::max(0, m_Track)));
    if (offset != m_KnobOffset) {
        m_KnobOffset = offset;
        priPlaceKnob(priStart() + offset);
        m_Position = m_Track > 0 ? double(offset) / m_Track : 0;
        priFirePosition(m_OnSlide);
        if (m_ShowValue) {
            m_Value = MapValue();
            priFireValue(m_Value);
        }
    }
    Repaint();
}

void KUiSlider::MouseUp(int32_t, int32_t, bool, bool)
{
    if (m_Disabled || !m_Pressed)
        return;
    if (m_Captured)
        CaptureMouse(false);
    m_Captured = false;
    m_Pressed = false;
    if (!m_OnSnap.HasRelays()) {
        priFirePosition(m_OnRelease);
        Repaint();
        return;
    }
    double p = Unit(m_Position);
    const double n = priHasGrid() ? std::trunc((m_Upper - m_Lower) / m_Step) : 0;
    if (n >= 1 && std::isfinite(n)) {
        // The nearest multiple of 1 / n; a position on a border goes to the lower one.
        const double h = 1 / (2 * n);
        const double k = p >= 1 - h ? n : std::clamp(std::ceil(p * n - 0.5), 0.0, n);
        p = k / n;
        const int64_t length = priLength(), knob = priKnobLength();
        int64_t along = priStart();
        if (k >= n)
            along = priStart() + length - knob;
        else if (k > 0)
            along = priStart() + int64_t(double(length / static_cast<int64_t>(std::min(n, 1e18))) * k) - knob / 2;
        m_Position = p;
        m_KnobOffset = Truncate(m_Track * p);
        priPlaceKnob(along);
    } else {
        // No grid: the knob goes where the press said, unsnapped.
        m_Position = p;
        m_KnobOffset = Truncate(m_Track * p);
        priPlaceKnob(priStart() + m_KnobOffset);
    }
    m_Value = MapValue();
    priFirePosition(m_OnSnap);
    Repaint();
}

void KUiSlider::priSetPosition(double p, bool fire)
{
    p = Unit(p);
    const int32_t offset = Truncate(m_Track * p);
    if (offset == m_KnobOffset)
        return;
    m_KnobOffset = offset;
    priPlaceKnob(priStart() + offset);
    m_Position = m_Track > 0 ? double(offset) / m_Track : 0;
    m_Value = MapValue();
    if (fire) {
        priFirePosition(m_OnRelease);
        priFireValue(m_Value);
    }
    Repaint();
}

void KUiSlider::priSetValue(double value)
{
    m_Value = value;
    const double range = m_Upper - m_Lower;
    double along = range != 0 ? (value - m_Lower) * m_Track / range : 0;
    // Inside the track; a vertical slider counts its values from the bottom.
    int32_t offset = std::clamp(Truncate(along), 0, std::max(0, m_Track));
    if (!m_Horizontal)
        offset = std::max(0, m_Track) - offset;
    m_KnobOffset = offset;
    priPlaceKnob(priStart() + offset);
    m_Position = m_Track > 0 ? double(offset) / m_Track : 0;
    priFirePosition(m_OnRelease);
    priFireValue(m_Value);
    Repaint();
}

bool KUiSlider::UiRelayMessage(const KWString& message, void* data)
{
    if (message == kUiMsgPostCreationInit || message == kUiMsgShutdown)
        return true;
    if (message == u"SetWithNoUpdate") {
        const double* position = UiRelayData<double>(data);
        if (!position)
            return false;
        priSetPosition(*position, false);
        return true;
    }
    if (message == u"Show") {
        m_Visible = true;
        Repaint();
        return true;
    }
    if (message == u"SetEnabled") {
        bool enabled = false;
        if (!UiRelayFlag(data, enabled))
            return false;
        m_Disabled = !enabled;
        // Disabled while held: the release would be ignored, so the press ends here and lets the mouse go.
        if (m_Disabled && m_Pressed) {
            if (m_Captured)
                CaptureMouse(false);
            m_Captured = false;
            m_Pressed = false;
            Repaint();
        }
        return true;
    }
    if (message == u"GetValue") {
        double* value = UiRelayResult<double>(data);
        if (!value)
            return false;
        *value = MapValue();
        return true;
    }
    if (message == u"Hide") {
        m_Visible = false;
        Repaint();
        return true;
    }
    if (message == u"TogleVisibility") {
        m_Visible = !m_Visible;
        Repaint();
        return true;
    }
    if (message == u"Decrement") {
        priSetValue(std::max(MapValue() - m_Step, m_Lower));
        return true;
    }
    if (message == u"Increment") {
        priSetValue(std::min(MapValue() + m_Step, m_Upper));
        return true;
    }
    if (message == u"Set") {
        const double* position = UiRelayData<double>(data);
        if (!position)
            return false;
        priSetPosition(*position, true);
        return true;
    }
    if (message == u"Reset") {
        priSetValue(0);
        return true;
    }
    return false;
}

bool KUiSlider::RegisterCreator(KIUiObjectFactory* factory)
{
    return RegisterControlCreator(factory, "SLIDER", new KUiSliderCreator);
}

KIUiObject* KUiSliderCreator::Create()
{
    return new (std::nothrow) KUiSlider;
}
