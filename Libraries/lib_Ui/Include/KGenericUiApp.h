#pragma once
// The application object of a UI-script program: reads the script (LoadUiScript), owns the windows, the
// objects made directly under it, the factory, the OS application, the script and state trees, and answers
// relay paths from its name down.
#include <vector>

#include "KIGenericUiApp.h"
#include "KRelayEvent.h"

class KIOsUiApp;
class KIUiObject;
class KUiWindowClass;

class KGenericUiApp : public KIGenericUiApp {
public:
    KGenericUiApp();
    KGenericUiApp(const KGenericUiApp&) = delete;
    KGenericUiApp& operator=(const KGenericUiApp&) = delete;
    // Broadcasts "we're goin' bye-bye", writes the state file, then deletes what it owns.
    ~KGenericUiApp() override;

    // KIOsObject
    void* GetAttribute(int id) override;
    bool SetAttribute(int id, const void* value) override;

    // KIUiRelay
    bool BindToScriptNode(KPropTree* root) override;
    void GetName(KWString& out) const override { out = m_Name; }
    void GetPath(KWString& out) const override { out = m_Name; }
    bool PostCreationConnect() override;
    KIUiRelay* FindObject(const KWString& path) override { return GetUiRelay(path); }
    bool UiRelayMessage(const KWString& message, void* data) override;
    bool ConnectEvent(const KWString&, const KWString&, KIUiRelay*) override { return true; }

    // KIGenericUiApp
    KIUiObjectFactory* GetFactory() override { return m_pFactory; }
    // Throws KExceptionUiScript for a script that breaks a rule (a missing or recursive style).
    bool LoadUiScript(KIFolder* folder, const KWString& scriptName, bool& alreadyRunning) override;
    bool Run(bool allowHandOver) override;
    KIUiPixmap* LoadPng(const KWString& fileName) override;
    void GetOsName(KWString& out) override;
    void PutClipboardText(const KWChar* text, KIGenericUiWindow* window) override;
    void PutClipboardText(const KWString& text, KIGenericUiWindow* window) override;
    void GetClipboardText(KWString& out, KIGenericUiWindow* window) override;
    bool FireOpenPath(KWString* path) override;
    void SetModalWindow(KIGenericUiWindow* window) override;
    bool ShowLayoutBoxes() override { return m_ShowLayoutBoxes; }
    KIGenericUiWindow* FindWindow(const KWString& name) override;
    // Null once shut-down has deleted the state tree.
    KPropTree* GetPersistentData(const KWString& name) override;
    KIFile* OpenScriptFolderFile(const KWString& name) override;
    const std::vector<KWString>& GetLanguages() override { return m_Languages; }
    void SetLanguage(const KWString& name) override;
    void NextLanguage() override;
    bool AddLanguageListener(KIUiRelay* listener, KWString& currentLanguage) override;
    bool RemoveLanguageListener(KIUiRelay* listener) override;
    KUiMultiLangString* FindDisplayString(const KWString& name) override;
    KUiFont* FindFont(const KWString& name) override;
    bool IsMacOs() override;
    bool IsWindows() override;
    KIUiPixmap* GetDragCursorNo(int32_t* hotX, int32_t* hotY) override;
    KIUiPixmap* GetDragCursorYes(int32_t* hotX, int32_t* hotY) override;
    const KWString* GetCtrlMenuText() override;
    const KWString* GetShiftMenuText() override;
    const KWString* GetAltMenuText() override;
    const KWString* GetDelMenuText() override;
    KPropTree* GetScriptRoot() override { return m_pScript; }
    bool RequiresLicenceAgreement() override { return m_RequiresLicAgree; }
    void TickObjects(int32_t elapsedMs) override;
    void SetRect(int32_t left, int32_t top, int32_t right, int32_t bottom) override;
    void SetRect(const KRect& rect) override { m_Rect = rect; }
    void GetRect(KRect& out) override { out = m_Rect; }
    void GetAppName(KWString& out) override { out = m_AppName; }
    bool FireVolumesChanged() override;
    KIUiRelay* GetUiRelay(const KWString& path) override;

    // For the programs built on the framework: their version (four words), their software name (empty unless
    // set) and the files of the folder the script came from.
    void SetVersion(const uint32_t version[4]);
    void GetVersion(uint32_t version[4]) const;
    void SetSoftwareName(const KWString& name) { m_SoftwareName = name; }
    void GetSoftwareName(KWString& out) const { out = m_SoftwareName; }
    KIFile* OpenBundleFile(const KWString& name) { return OpenScriptFolderFile(name); }

    KIGenericUiWindow* GetFirstWindow() const { return m_pFirstWindow; }
    KUiWindowClass* GetFirstWindowClass() const { return m_pFirstClass; }
    // Takes a window that is going away off the modal stack.
    void ForgetWindow(KIGenericUiWindow* window);
    KIOsUiApp* GetOsApp() const { return m_pOsApp; }
    const KWString& GetCurrentLanguage() const { return m_CurrentLanguage; }

private:
    // Every window of the script, then every instance of every class, in that order.
    std::vector<KIGenericUiWindow*> priAllWindows() const;
    void priFullBroadcast(const KWString& message);
    void priWindowBroadcast(const KWString& message);
    void priApplyLanguage(const KWString& name, bool persist);
    void priDeleteWindowsAndObjects();
    void priSaveState();
    const KWString* priMenuText(int index);

    KWString m_Name;
    bool m_SingleInstance = false;
    bool m_HasPersistentStore = false;
    KIOsUiApp* m_pOsApp = nullptr;
    KIUiObjectFactory* m_pFactory = nullptr;
    KPropTree* m_pScript = nullptr;
    KPropTree* m_pState = nullptr;
    KIGenericUiWindow* m_pFirstWindow = nullptr;
    KUiWindowClass* m_pFirstClass = nullptr;
    KIUiObject* m_pFirstObject = nullptr;
    KWString m_ScriptName;
    KWString m_StateStoreName;
    KWString m_LanguageToPersist;
    KWString m_CurrentLanguage;
    KWString m_MenuStringNames[4];
    bool m_CursorsLoaded = false;
    KIUiPixmap* m_pCursorNo = nullptr;
    int32_t m_CursorNoX = 0, m_CursorNoY = 0;
    KIUiPixmap* m_pCursorYes = nullptr;
    int32_t m_CursorYesX = 0, m_CursorYesY = 0;
    KIFolder* m_pFolder = nullptr;
    std::vector<KIGenericUiWindow*> m_ModalStack;
    bool m_ShowLayoutBoxes = false;
    int32_t m_RelayLookups = 0;
    bool m_ShuttingDown = false;
    bool m_RequiresLicAgree = false;
    KRect m_Rect;
    KWString m_AppName;
    std::vector<KWString> m_Languages;
    std::vector<KIUiRelay*> m_LanguageListeners;
    std::vector<KUiFont*> m_Fonts;
    std::vector<KUiMultiLangString*> m_DisplayStrings;
    RelayEvent m_OnOpenPath{KWString("ON_OPEN_PATH_EVENT")};
    RelayEvent m_OnVolumesChanged{KWString("ON_VOLUMES_CHANGED_EVENT")};
    uint32_t m_Version[4] = {0, 0, 0, 0};
    KWString m_SoftwareName;
};

// The program entry's pair: a new application, and its deletion through the virtual destructor.
KGenericUiApp* CreateGenericUiApp();
void DeleteGenericUiApp(KGenericUiApp*& application);

// Expands "Style" and "SwitchedStyle" pairs of node, its following siblings and all their descendants.
// Throws KExceptionUiScript for a style that cannot be found or that refers to itself.
void ApplyUiStyles(KPropTree* node);
