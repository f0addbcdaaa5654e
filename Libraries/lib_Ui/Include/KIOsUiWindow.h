#pragma once
// The operating-system side of a top-level window: the window itself, its screen, timer and messages. Every
// generic window owns one (CreateOsUiWindow). Sizes are client sizes.
#include <cstdint>

#include "KIOsObject.h"
#include "KRect.h"
#include "KUiColor.h"
#include "KWString.h"

class KIGenericUiApp;
class KIGenericUiMenu;
class KIGenericUiWindow;
class KIUiPixmap;
class KPropTree;

// Attribute 1 of an OS window: the address of its window handle.
enum : int { KOSWIN_ATTR_HANDLE = 1 };

class KIOsUiWindow : public KIOsObject {
public:
    virtual void Move(int32_t x, int32_t y) = 0;
    virtual void Resize(int32_t clientWidth, int32_t clientHeight) = 0;
    // Destroys the window once; later calls do nothing.
    virtual void Destroy() = 0;
    // center: centred on the owner, else on the screen.
    virtual void Show(bool show, bool center) = 0;
    // Copies source of surface to destination on the screen; nothing unless the sizes match.
    virtual void Blit(const KRect& destination, const KRect& source, KIUiPixmap* surface) = 0;
    virtual void Fill(KUiColor color) = 0;
    virtual bool Create(KIGenericUiWindow* owner) = 0;
    virtual void ShowCursor(bool show) = 0;
    // Makes the OS menu of one menu of the script's "MENU" child (node: the menu's element) and gives it to
    // menu; only before Create. False when nothing was made.
    virtual bool AddMenu(KIGenericUiApp* application, KIGenericUiMenu* menu, KPropTree* node) = 0;
    virtual void Enable() = 0;
    virtual void Disable() = 0;
    // Destroying the window then no longer ends the message loop.
    virtual void KeepRunningOnDestroy() = 0;
    // Left and top of the window, right and bottom = left + client width, top + client height.
    virtual void GetPlacement(KRect* out) = 0;
    // Queues a close request (the window stays).
    virtual void PostClose() = 0;
    virtual void SetActive() = 0;
    virtual void SetTitle(const KWString& title) = 0;
    // pixmap null: the standard arrow. Otherwise the pixmap must be 16 x 16.
    virtual bool SetCursorFromPixmap(KIUiPixmap* pixmap, int32_t hotX, int32_t hotY) = 0;
    ~KIOsUiWindow() override = default;
};

// The OS window of a generic window (not yet created on screen: see Create); null when memory runs out.
KIOsUiWindow* CreateOsUiWindow(KIGenericUiWindow* window);
// Null ignored; clears the pointer.
void DeleteOsUiWindow(KIOsUiWindow*& osWindow);
