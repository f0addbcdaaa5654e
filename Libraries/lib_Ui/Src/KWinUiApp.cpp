#include "KWinUiApp.h"

#include <exception>

#include "KDebug.h"
#include "KException.h"
#include "KIGenericUiApp.h"
#include "KUiFont.h"
#include "KUiWindowClass.h"
#include "KWinUiWindow.h"
#include "PlatformError.h"
#include "PlatformOS.h"
#include "PlatformSync.h"
#include "PlatformWindow.h"

namespace {

// The title of the window a second instance looks for.
constexpr const KWChar* kRunningWindowTitle = u"PELTA Lumo Desk";

// The running instance's window, in this process or another one of the machine.
PlatHWND FindRunningWindow()
{
    return PlatFindWindow("KOsUiWindow", kRunningWindowTitle);
}

}  // namespace

KWString& StartupArgument()
{
    static KWString argument;
    return argument;
}

KIOsUiApp* CreateOsUiApp(KIGenericUiApp* application)
{
    return new (std::nothrow) KWinUiApp(application);
}

void DeleteOsUiApp(KIOsUiApp* osApp)
{
    delete osApp;
}

KWinUiApp::KWinUiApp(KIGenericUiApp* application) : m_pApp(application)
{
    PlatOsVersion version{};
    if (PlatGetVersion(&version)) {
        m_IsUnicodeOS = version.platformId == PLAT_OS_PLATFORM_NT;
        m_IsWin98OrLater = version.platformId == PLAT_OS_PLATFORM_WINDOWS &&
                           (version.major > 4 || (version.major == 4 && version.minor > 0));
    }
}

void* KWinUiApp::GetAttribute(int id)
{
    switch (id) {
    case KOSAPP_ATTR_INSTANCE: return &m_Instance;
    case KOSAPP_ATTR_UNICODE: return &m_IsUnicodeOS;
    case KOSAPP_ATTR_WIN98: return &m_IsWin98OrLater;
    default: return nullptr;  // no input-method manager here
    }
}

bool KWinUiApp::SetAttribute(int id, const void* value)
{
    if (id != KOSAPP_ATTR_INSTANCE || !value)
        return false;
    m_Instance = *static_cast<const uintptr_t*>(value);
    return true;
}

bool KWinUiApp::Run(bool handOver)
{
    if (handOver) {
        PlatHWND running = FindRunningWindow();
        if (!running)
            return true;
        PlatSendMessage(running, KHANDOVER_SHOW, 0, 0);
        const KWString& argument = StartupArgument();
        if (!argument.IsEmpty()) {
            PlatSendMessage(running, KHANDOVER_START, 0, 0);
            for (size_t i = 0; i < argument.GetLength(); ++i)
                PlatSendMessage(running, KHANDOVER_UNIT, argument[i], 0);
            PlatSendMessage(running, KHANDOVER_UNIT, 0, 0);
            PlatSendMessage(running, KHANDOVER_END, 0, 0);
        }
        return true;
    }
    try {
        PlatMsg msg{};
        while (PlatGetMessage(msg)) {
            PlatDispatchMessage(msg);
            DeleteClosedUiWindows();
        }
    } catch (const KException& e) {
        DebugTrace("Caught unhandled KException: %s (%s)\n", e.GetDescription(), e.GetMessage());
        KWString text("E: ");
        text += e.GetDescription();
        text += " (";
        text += e.GetMessage();
        text += ")";
        PlatMessageBox(nullptr, text.Str(), u"EXCEPTION");
    } catch (...) {
        DebugTrace("Caught unknown unhandled\n");
        PlatMessageBox(nullptr, u"Caught unknown unhandled exception.", u"EXCEPTION");
    }
    return true;
}

void KWinUiApp::PutClipboardText(const KWChar* text, KIGenericUiWindow* window)
{
    PutClipboardText(KWString(text ? text : u""), window);
}

void KWinUiApp::PutClipboardText(const KWString& text, KIGenericUiWindow*)
{
    PlatSetClipboardText(text.Str());
}

void KWinUiApp::GetClipboardText(KWString& out, KIGenericUiWindow*)
{
    std::u16string text;
    if (PlatGetClipboardText(text))
        out = KWString(std::u16string_view(text));
}

void OsNameFromVersion(bool ok, uint32_t platformId, uint32_t major, uint32_t minor, const char* servicePack,
                       KWString& out)
{
    if (!ok) {
        out = "Unknown";
        return;
    }
    const char csd = (servicePack && servicePack[0]) ? servicePack[1] : 0;
    out = "";
    if (platformId == PLAT_OS_PLATFORM_NT) {
        if (major <= 4)
            out = "WindowsNT";
        else if (major == 5 && minor == 0)
            out = "Windows2K";
        else if (major == 5 && minor == 1)
            out = "WindowsXP";
    } else if (platformId == PLAT_OS_PLATFORM_WINDOWS && major == 4) {
        if (minor == 0)
            out = csd == 'C' ? "Windows95_OSR2" : "Windows95";
        else if (minor == 10)
            out = csd == 'A' ? "Windows98_SE" : "Windows98";
        else if (minor == 90)
            out = "WindowsME";
    }
}

void KWinUiApp::GetOsName(KWString& out)
{
    PlatOsVersion version{};
    const bool ok = PlatGetVersion(&version);
    OsNameFromVersion(ok, version.platformId, version.major, version.minor, version.servicePack, out);
}

bool KWinUiApp::CheckSingleInstance(const KWString& name, bool createOldMutex)
{
    // The handles stay open: they mark this instance for the life of the process.
    PlatHandle mine = PlatCreateMutex(true, name.GetAscii());
    if (mine && PlatGetLastError() == PLAT_ERROR_ALREADY_EXISTS) {
        if (PlatHWND running = FindRunningWindow())
            PlatSetActiveWindow(running);
        return true;
    }
    if (!createOldMutex)
        return false;
    PlatHandle old = PlatCreateMutex(true, "LumoDesk");
    if (!old || PlatGetLastError() != PLAT_ERROR_ALREADY_EXISTS)
        return false;
    // An older program of the family runs: say so when the script has the words for it.
    KUiMultiLangString* caption = m_pApp->FindDisplayString(KWString("QuarelOtherAppWinTitle"));
    KUiMultiLangString* text = m_pApp->FindDisplayString(KWString("QuarelOtherAppWinText"));
    const KWString* captionText = caption ? caption->GetCurrentText() : nullptr;
    const KWString* textText = text ? text->GetCurrentText() : nullptr;
    if (captionText && textText)
        PlatMessageBox(nullptr, textText->Str(), captionText->Str());
    return true;
}
