#pragma once
// A live object of a UI script: a node of its window's object tree with layout, drawing and input.
// Coordinates are window coordinates; ctrl and shift are the modifier states.
#include <cstdint>

#include "KIUiRelay.h"
#include "KLayoutObject.h"
#include "KRect.h"

class KIGenericUiApp;
class KIGenericUiWindow;
class KIUiPixmap;
class KPropTree;

class KIUiObject : public KIUiRelay {
public:
    ~KIUiObject() override = default;

    virtual KIUiObject* GetNext() = 0;
    virtual KIUiObject* GetPrevious() = 0;
    virtual KIUiObject* GetFirstChild() = 0;
    virtual KIUiObject* GetParent() = 0;
    virtual void SetNext(KIUiObject* object) = 0;
    virtual void SetPrevious(KIUiObject* object) = 0;

    // Configures the object from its script element. window is null for an object made directly under the
    // application, parent null for a top-level object.
    virtual bool InitUiObject(KIGenericUiApp* application, KIGenericUiWindow* window, KIUiObject* parent,
                              KPropTree* node) = 0;
    virtual bool IsHBox() = 0;
    virtual bool IsVBox() = 0;
    // The horizontal record for true, the vertical for false.
    virtual KILayoutObject* GetLayout(bool horizontal) = 0;
    // rect = (x, y, x + width, y + height).
    virtual bool SetRect(int32_t x, int32_t y, int32_t width, int32_t height) = 0;
    virtual bool Relayout() = 0;
    virtual KRect* GetRect() = 0;
    // Draws the object moved by (dx, dy) onto surface, inside clip.
    virtual void Draw(KIUiPixmap* surface, int32_t dx, int32_t dy, const KRect& clip) = 0;
    virtual void Tick(int32_t elapsedMs) = 0;
    // The object under the point, or null.
    virtual KIUiObject* HitTest(int32_t x, int32_t y) = 0;
    virtual void DoubleClick(int32_t x, int32_t y, bool ctrl, bool shift) = 0;
    // True arms a drag; the object has then filled payload.
    virtual bool BeginDrag(int32_t x, int32_t y, bool ctrl, bool shift, KWString& payload) = 0;
    virtual bool CanAcceptDrop(int32_t x, int32_t y) = 0;
    virtual bool Drop(int32_t x, int32_t y, bool ctrl, bool shift, const KWString& payload) = 0;
    // True when the object took the press.
    virtual bool MouseDown(int32_t x, int32_t y, bool ctrl, bool shift) = 0;
    virtual void MouseUp(int32_t x, int32_t y, bool ctrl, bool shift) = 0;
    virtual void MouseEnter(int32_t x, int32_t y) = 0;
    virtual void MouseLeave(int32_t x, int32_t y) = 0;
    virtual void MouseMove(int32_t x, int32_t y) = 0;
    virtual void MouseWheel(int32_t x, int32_t y, int32_t a, int32_t b) = 0;
    // code: the program's key code (characters, control characters for Ctrl+letter, special key codes).
    virtual void KeyDown(int code, bool ctrl, bool shift) = 0;
    virtual void Copy(KWString& out) = 0;
    virtual void Cut(KWString& out) = 0;
    virtual void Paste(const KWString& text) = 0;
    virtual void LoseFocus() = 0;
    // The window calls these when the object stops or starts being its popup.
    virtual void PopupClosed() = 0;
    virtual void PopupOpened() = 0;
};
