#pragma once
// What the generic controls share: their base class with the window calls that do nothing when the control
// has no window, the layout records set up from the four layout keys, the colour command parser, the
// own-font record with its rendering, and the blit that cuts a picture to a clip rectangle.
#include <cstdint>

#include "KLayoutObject.h"
#include "KRect.h"
#include "KUiColor.h"
#include "KUiObject.h"
#include "KWString.h"

class KIGenericUiApp;
class KIGenericUiWindow;
class KIUiObject;
class KIUiPixmap;
class KIUiRelay;
class KPropTree;

KRect IntersectRects(const KRect& a, const KRect& b);
// No positive width or height.
bool IsEmptyRect(const KRect& r);

// The four layout keys of a script element ("MinHSize", "MinVSize", "HStretch", "VStretch", or their "_"
// forms), each with whether it was present. Script numbers are hostile: negative values count as 0.
struct KUiLayoutKeys {
    int32_t minH = 0;
    int32_t minV = 0;
    int32_t stretchH = 0;
    int32_t stretchV = 0;
    bool hasMinH = false;
    bool hasMinV = false;
    bool hasStretchH = false;
    bool hasStretchV = false;

    // underscore: the "_MinHSize" forms. Absent keys keep the values already held.
    void Read(const KPropTree* node, bool underscore = false);
    bool HasAll() const { return hasMinH && hasMinV && hasStretchH && hasStretchV; }
};

// minimum = size = minimum, stretch = working stretch = stretch, fixed = (stretch is 0), no size assigned,
// working offset 0. Negative values count as 0.
void SetLayoutRecord(KLayoutObject& record, int32_t minimum, int32_t stretch);
// Grows the minimums to the content's (none: unchanged). False when the content is larger along an axis whose
// stretch is 0.
bool FitMinimumsToContent(KIUiObject* content, const KUiLayoutKeys& keys, int32_t& minWidth, int32_t& minHeight);

// The colour a command gives: "#RRGGBB" (alpha 255) or "#RRGGBBAA" in upper-case hexadecimal, the property
// tree's own syntax. False, out unchanged, for anything else.
bool ParseUiColor(const KWString& text, KUiColor& out);
// The colour under key (defaultValue when absent or malformed; found tells which).
KUiColor GetUiColor(const KPropTree* node, const char* key, KUiColor defaultValue, bool* found = nullptr);

// A control's own font ("Font", "FontSize", "FontColor", "_FontBgColor", "_Bold", "_Italic", "_Underline").
struct KUiOwnFont {
    KWString name;
    int32_t size = 0;
    KUiColor colour{0, 0, 0, 255};
    KUiColor bgColour{0, 0, 0, 255};
    bool hasBgColour = false;
    bool bold = false;
    bool italic = false;
    bool underline = false;

    void Read(const KPropTree* node);
    // The text on a new surface (the caller owns it): rendered in the colour, then, when a background colour
    // was given, composed onto a surface of the same size filled with it. Null for an empty text, a font that
    // cannot be made or no memory. prefixWidths (when not null) receives the width of each prefix, one per
    // UTF-16 unit.
    KIUiPixmap* Render(const KWString& text, int32_t* prefixWidths = nullptr) const;
    // Cell height and average character width; false when the font cannot be made.
    bool GetMetrics(int32_t* height, int32_t* averageCharWidth) const;
};

// Blends source of image onto surface at destination, both cut together to clip (each destination edge the
// clip moves takes the source edge along in proportion, KRect::ClipScaled). Nothing when the destination or
// what is left of it has no positive width or height.
void BlendClipped(const KIUiPixmap* image, KIUiPixmap* surface, KRect destination, KRect source, const KRect& clip);

// The base of the generic controls.
class KUiControl : public KUiObject {
protected:
    // Both layout records from the keys (SetLayoutRecord per axis).
    void SetLayoutFromKeys(const KUiLayoutKeys& keys);
    // Marks the control's rectangle (or rect) for repainting; with now, repaints at once.
    void Repaint(bool now = false);
    void Repaint(const KRect& rect, bool now = false);
    // The window's mouse capture and keyboard focus for this control; false without a window.
    bool CaptureMouse(bool capture);
    bool TakeFocus(bool grab);
    // The window's ShrinkBy, LayoutRoot and SetCursor.
    void ShrinkWindow(int32_t dx, int32_t dy);
    void LayoutWindow();
    void SetWindowCursor(KIUiPixmap* pixmap, int32_t hotX, int32_t hotY);
};

// The first "HBOX" or "VBOX" element under node made through the application's factory and initialised
// with parent; null when there is none or its initialisation fails (it is then deleted).
KIUiObject* CreateContentBox(KIGenericUiApp* application, KIGenericUiWindow* window, KIUiObject* parent,
                             KPropTree* node);
// child->InitUiObject; a child that fails or throws is deleted (the exception goes on to the caller).
bool InitChildObject(KIUiObject* child, KIGenericUiApp* application, KIGenericUiWindow* window, KIUiObject* parent,
                     KPropTree* node);
// Name look-up of a control holding one content child: an unnamed control passes the whole name to the
// child; a named one answers itself for its name and passes the tail of "name.tail" to the child.
KIUiRelay* FindInContent(KIUiRelay* self, const KWString& ownName, KIUiObject* content, const KWString& name);

class KIUiObjectFactory;
class KIUiObjectCreator;
// Registers creator for keyword; a refused creator is deleted. Answers the factory's verdict.
bool RegisterControlCreator(KIUiObjectFactory* factory, const char* keyword, KIUiObjectCreator* creator);

// Sums and products of script sizes, saturated to the 32-bit range.
int32_t SaturatedSize(int64_t value);
