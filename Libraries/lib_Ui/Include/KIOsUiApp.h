#pragma once
// The operating-system side of the application: message loop, clipboard, OS identity and the single-instance
// check. The generic application owns exactly one (CreateOsUiApp).
#include "KIOsObject.h"
#include "KWString.h"

class KIGenericUiApp;
class KIGenericUiWindow;

// Attributes of the OS application.
enum : int {
    KOSAPP_ATTR_INSTANCE = 1,  // module instance handle (settable)
    KOSAPP_ATTR_UNICODE = 2,   // bool: the wide interfaces are there
    KOSAPP_ATTR_WIN98 = 3,     // bool: a 98-or-later system of the 9x family
    KOSAPP_ATTR_IME = 4,       // input-method manager (none here: null)
};

class KIOsUiApp : public KIOsObject {
public:
    // handOver false: the message loop until the quit message; true: hand the start-up argument to the
    // running instance. True.
    virtual bool Run(bool handOver) = 0;
    virtual void PutClipboardText(const KWChar* text, KIGenericUiWindow* window) = 0;
    virtual void PutClipboardText(const KWString& text, KIGenericUiWindow* window) = 0;
    // out is left as it is when the clipboard holds no text.
    virtual void GetClipboardText(KWString& out, KIGenericUiWindow* window) = 0;
    virtual void GetOsName(KWString& out) = 0;
    virtual bool IsMacOs() = 0;
    virtual bool IsWindows() = 0;
    // True when another instance runs under that name (this one must not go on).
    virtual bool CheckSingleInstance(const KWString& name, bool createOldMutex) = 0;
    ~KIOsUiApp() override = default;
};

// Null when memory runs out.
KIOsUiApp* CreateOsUiApp(KIGenericUiApp* application);
// Null ignored.
void DeleteOsUiApp(KIOsUiApp* osApp);

// The program's start-up argument, filled by the program's entry from its command line before the
// application runs; a second instance hands it to the first.
KWString& StartupArgument();
