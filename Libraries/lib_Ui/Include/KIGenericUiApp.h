#pragma once
// What UI objects, windows and relays call on the application of a UI script. The application is itself a
// relay target: its FindObject resolves dotted paths from the application's name down (GetUiRelay).
#include <cstdint>
#include <vector>

#include "KIOsObject.h"
#include "KIUiRelay.h"
#include "KRect.h"
#include "KWString.h"

class KIFile;
class KIFolder;
class KIGenericUiWindow;
class KIUiObjectFactory;
class KIUiPixmap;
class KPropTree;
class KUiFont;
class KUiMultiLangString;

class KIUiApp : public KIOsObject, public KIUiRelay {
public:
    ~KIUiApp() override = default;
};

class KIGenericUiApp : public KIUiApp {
public:
    ~KIGenericUiApp() override = default;

    virtual KIUiObjectFactory* GetFactory() = 0;
    // Reads the UI script name from folder and builds it; alreadyRunning tells that another instance took over.
    virtual bool LoadUiScript(KIFolder* folder, const KWString& scriptName, bool& alreadyRunning) = 0;
    virtual bool Run(bool allowHandOver) = 0;
    // The PNG picture of that name in the script folder as a new surface (owned by the caller), or null.
    virtual KIUiPixmap* LoadPng(const KWString& fileName) = 0;
    virtual void GetOsName(KWString& out) = 0;
    // Clipboard text; window names the requester. GetClipboardText leaves out as it is without text.
    virtual void PutClipboardText(const KWChar* text, KIGenericUiWindow* window) = 0;
    virtual void PutClipboardText(const KWString& text, KIGenericUiWindow* window) = 0;
    virtual void GetClipboardText(KWString& out, KIGenericUiWindow* window) = 0;
    // Fires "ON_OPEN_PATH_EVENT" with the path.
    virtual bool FireOpenPath(KWString* path) = 0;
    // Pushes window onto the modal stack (null pops the top).
    virtual void SetModalWindow(KIGenericUiWindow* window) = 0;
    virtual bool ShowLayoutBoxes() = 0;
    // The first window whose IsNamed(name) is true, or null.
    virtual KIGenericUiWindow* FindWindow(const KWString& name) = 0;
    // The persistent-state node of that name, or null without a persistent store.
    virtual KPropTree* GetPersistentData(const KWString& name) = 0;
    // name in the script folder opened for reading, or null.
    virtual KIFile* OpenScriptFolderFile(const KWString& name) = 0;
    virtual const std::vector<KWString>& GetLanguages() = 0;
    virtual void SetLanguage(const KWString& name) = 0;
    virtual void NextLanguage() = 0;
    // Adds a receiver of "Set Language" and copies the current language out; false for a null listener.
    virtual bool AddLanguageListener(KIUiRelay* listener, KWString& currentLanguage) = 0;
    // True for null or when removed; false when the listener was not registered.
    virtual bool RemoveLanguageListener(KIUiRelay* listener) = 0;
    // The first display string or font of that exact name, or null.
    virtual KUiMultiLangString* FindDisplayString(const KWString& name) = 0;
    virtual KUiFont* FindFont(const KWString& name) = 0;
    virtual bool IsMacOs() = 0;
    virtual bool IsWindows() = 0;
    // The drop-refused and drop-accepted cursors with their hot spots (null when there is none).
    virtual KIUiPixmap* GetDragCursorNo(int32_t* hotX, int32_t* hotY) = 0;
    virtual KIUiPixmap* GetDragCursorYes(int32_t* hotX, int32_t* hotY) = 0;
    // The current-language text of the display strings the script names for the menu accelerators, or null.
    virtual const KWString* GetCtrlMenuText() = 0;
    virtual const KWString* GetShiftMenuText() = 0;
    virtual const KWString* GetAltMenuText() = 0;
    virtual const KWString* GetDelMenuText() = 0;
    virtual KPropTree* GetScriptRoot() = 0;
    virtual bool RequiresLicenceAgreement() = 0;
    // Tick of every object made directly under the application.
    virtual void TickObjects(int32_t elapsedMs) = 0;
    virtual void SetRect(int32_t left, int32_t top, int32_t right, int32_t bottom) = 0;
    virtual void SetRect(const KRect& rect) = 0;
    virtual void GetRect(KRect& out) = 0;
    virtual void GetAppName(KWString& out) = 0;
    // Fires "ON_VOLUMES_CHANGED_EVENT" with null data.
    virtual bool FireVolumesChanged() = 0;

    // The relay at the dotted path (the application's name first), or null.
    virtual KIUiRelay* GetUiRelay(const KWString& path) = 0;
};
