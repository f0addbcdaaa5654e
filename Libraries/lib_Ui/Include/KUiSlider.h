#pragma once
// "SLIDER": a knob dragged along a background picture, horizontally or vertically, choosing a value between
// "Lower" and "Upper" that may snap to multiples of "Step" and may be shown on the knob. It reports through
// "ON_MANUAL" (press on the knob), "ON_SLIDE" (position 0..1 while dragging), "ON_UPDATE" (value),
// "ON_RELEASE" (position) and "ON_SNAP" (snapped position, on release when it has relays). Positions count
// from the left, or from the top; a vertical slider's value grows upwards.
#include <cstdint>

#include "KRelayEvent.h"
#include "KUiControl.h"
#include "KUiObjectFactory.h"

class KUiSlider : public KUiControl {
public:
    KUiSlider();
    ~KUiSlider() override;

    // The relays of the five events; fails when one of the first four fails (not "ON_MANUAL").
    bool PostCreationConnect() override;
    // "SetWithNoUpdate" (double), "Show", "SetEnabled" (bool), "GetValue" (double out), "Hide",
    // "TogleVisibility", "Decrement", "Increment", "Set" (double), "Reset" and the two broadcasts.
    bool UiRelayMessage(const KWString& message, void* data) override;
    // Fails without "Font", "FontSize" or "FontColor", or when a picture does not load; throws
    // KExceptionUiScript when the pressed knob's size differs from the knob's.
    bool InitUiObject(KIGenericUiApp* application, KIGenericUiWindow* window, KIUiObject* parent,
                      KPropTree* node) override;
    bool SetRect(int32_t x, int32_t y, int32_t width, int32_t height) override;
    void Draw(KIUiPixmap* surface, int32_t dx, int32_t dy, const KRect& clip) override;
    KIUiObject* HitTest(int32_t x, int32_t y) override;
    bool MouseDown(int32_t x, int32_t y, bool ctrl, bool shift) override;
    void MouseUp(int32_t x, int32_t y, bool ctrl, bool shift) override;
    void MouseMove(int32_t x, int32_t y) override;

    double GetPosition() const { return m_Position; }
    // The knob's place mapped to a value (snapped to the grid).
    double MapValue() const;
    int32_t GetKnobOffset() const { return m_KnobOffset; }
    int32_t GetTrackLength() const { return m_Track; }
    const KRect& GetKnobRect() const { return m_KnobRect; }
    const KIUiPixmap* GetKnobImage() const { return m_pKnob; }
    bool IsPressed() const { return m_Pressed; }
    // The value as the knob shows it ("%d" or "%.01f").
    KWString FormatValue(double value) const;

    static bool RegisterCreator(KIUiObjectFactory* factory);

private:
    // Start and length of the slider along its axis, and of the knob.
    int64_t priStart() const { return m_Horizontal ? m_Rect.left : m_Rect.top; }
    int64_t priLength() const { return m_Horizontal ? m_Rect.Width() : m_Rect.Height(); }
    int32_t priKnobLength() const;
    int32_t priKnobThickness() const;
    // Places the knob rect with its start at along (window coordinates) on the slider's axis.
    void priPlaceKnob(int64_t along);
    // The "Set" forms; fire tells "Set" from "SetWithNoUpdate".
    void priSetPosition(double p, bool fire);
    // The "Increment", "Decrement" and "Reset" forms.
    void priSetValue(double value);
    // The position of an "Init" value: from the left, or from the bottom for a vertical slider.
    double priPositionOfValue(double value) const;
    bool priHasGrid() const;
    void priFirePosition(RelayEvent& event);
    void priFireValue(double value);

    bool m_Visible = true;
    bool m_ShowIntegers = false;
    KIUiPixmap* m_pBackground = nullptr;
    int32_t m_BgOffset = 0;
    KIUiPixmap* m_pKnob = nullptr;
    KIUiPixmap* m_pKnobDown = nullptr;  // the knob itself when no separate picture was given
    KRect m_KnobRect;
    KRect m_LabelRect;
    KRect m_ResizeRect;
    bool m_Horizontal = true;
    double m_Position = 0;
    double m_Value = 0;
    double m_Step = 0;
    double m_Lower = 0;
    double m_Upper = 0;
    int32_t m_KnobOffset = 0;
    int32_t m_Track = 0;
    int32_t m_CrossOffset = 0;
    int32_t m_AnchorCoord = 0;
    int32_t m_AnchorOffset = 0;
    bool m_Pressed = false;
    bool m_Captured = false;
    bool m_ShowValue = true;
    bool m_DontScaleKnob = false;
    bool m_Disabled = false;
    KUiOwnFont m_Font;
    int32_t m_MinWidth = 0;
    int32_t m_MinHeight = 0;
    RelayEvent m_OnRelease{KWString(u"ON_RELEASE")};
    RelayEvent m_OnSlide{KWString(u"ON_SLIDE")};
    RelayEvent m_OnUpdate{KWString(u"ON_UPDATE")};
    RelayEvent m_OnSnap{KWString(u"ON_SNAP")};
    RelayEvent m_OnManual{KWString(u"ON_MANUAL")};
};

class KUiSliderCreator : public KIUiObjectCreator {
public:
    KIUiObject* Create() override;
};
