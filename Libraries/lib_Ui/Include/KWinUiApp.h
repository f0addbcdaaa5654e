#pragma once
// The OS application over the window seam (PlatformWindow.h).
#include "KIOsUiApp.h"

class KWinUiApp : public KIOsUiApp {
public:
    explicit KWinUiApp(KIGenericUiApp* application);
    KWinUiApp(const KWinUiApp&) = delete;
    KWinUiApp& operator=(const KWinUiApp&) = delete;
    ~KWinUiApp() override = default;

    // 1 the instance handle, 2 isUnicodeOS, 3 isWin98OrLater, 4 the input-method manager (none: null).
    void* GetAttribute(int id) override;
    bool SetAttribute(int id, const void* value) override;
    // The message loop runs inside a guard: an exception that escapes a handler is traced, shown in a message
    // box and ends the loop.
    bool Run(bool handOver) override;
    void PutClipboardText(const KWChar* text, KIGenericUiWindow* window) override;
    void PutClipboardText(const KWString& text, KIGenericUiWindow* window) override;
    void GetClipboardText(KWString& out, KIGenericUiWindow* window) override;
    void GetOsName(KWString& out) override;
    bool IsMacOs() override { return false; }
    bool IsWindows() override { return true; }
    bool CheckSingleInstance(const KWString& name, bool createOldMutex) override;

private:
    KIGenericUiApp* m_pApp;
    uintptr_t m_Instance = 0;
    bool m_IsUnicodeOS = false;
    bool m_IsWin98OrLater = false;
};

// The name of the OS version for a platform id, major and minor version and service-pack text ("Unknown" when
// the version could not be read: ok false).
void OsNameFromVersion(bool ok, uint32_t platformId, uint32_t major, uint32_t minor, const char* servicePack,
                       KWString& out);
