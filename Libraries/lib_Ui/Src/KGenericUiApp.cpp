#include "KGenericUiApp.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <unordered_map>

#include "KDebug.h"
#include "KException.h"
#include "KExceptionUiScript.h"
#include "KGenericUiWindow.h"
#include "KIOsUiApp.h"
#include "KPNGLoader.h"
#include "KStorage.h"
#include "KTextFunctions.h"
#include "KUiControl.h"
#include "KUiObject.h"
#include "KUiObjectFactory.h"
#include "KGenericUiPixmap.h"
#include "KUiFont.h"
#include "KUiWindowClass.h"
#include "KXMLParser.h"
#include "PlatformShell.h"

namespace {

const KWString kQuarelLanguageSelector("QuarelLanguageSelector");
const KWString kCurrentLanguage("CurrentLanguage");

// The application-data folder, without creating it; null when it does not exist.
KIFolder* OpenAppDataFolder()
{
    std::string native;
    if (!PlatGetSpecialFolderPath(PLAT_CSIDL_APPDATA, native, false))
        return nullptr;
    KWString url, leaf;
    if (!NativePathToURL(Utf8ToWide(native), url))
        return nullptr;
    return OpenFolderByURL(url, leaf, false);
}

KIFolder* OpenSpecialFolder(int kind)
{
    KWString url = GetSpecialFolderURL(kind), leaf;
    if (url.IsEmpty())
        return nullptr;
    return OpenFolderByURL(url, leaf, false);
}

struct FolderRelease {
    void operator()(KIFolder* f) const
    {
        if (f)
            f->Release();
    }
};

// Parses name in folder; null when the file is missing or does not parse.
KPropTree* TryLoadXML(KIFolder* folder, const KWString& name)
{
    try {
        KXMLParser parser;
        return parser.Load(folder, name);
    } catch (const KException& e) {
        DebugTrace("%s: %s\n", e.GetDescription(), e.GetMessage());
        return nullptr;
    }
}

void PlatformSections(KPropTree* root, bool mac, bool windows)
{
    if (mac) {
        root->UnwrapChildrenNamed(KWString("MAC_OS"));
        root->RemoveChildrenNamed(KWString("BORG_OS"));
        root->RemoveChildrenNamed(KWString("MSW_OS"));
    } else if (windows) {
        root->UnwrapChildrenNamed(KWString("BORG_OS"));
        root->UnwrapChildrenNamed(KWString("MSW_OS"));
        root->RemoveChildrenNamed(KWString("MAC_OS"));
    }
}

// The STYLE (or SWITCHED_STYLE) named name, searched at node, its previous siblings, then its parent and its
// previous siblings, up to the root.
KPropTree* FindStyle(KPropTree* node, const KWString& element, const KWString& nameKey, const KWString& name)
{
    for (KPropTree* level = node; level; level = level->GetParent())
        for (KPropTree* n = level; n; n = n->GetPrevSibling())
            if (n->GetName() == element) {
                bool found = false;
                const KWString& v = n->GetString(nameKey, KWString(), &found);
                if (found && v == name)
                    return n;
            }
    return nullptr;
}

// Pairs one styling pass may copy in all: styles that name other styles several times grow exponentially.
constexpr size_t kMaxStyledPairs = 100000;

void ApplyStylesToNode(KPropTree* node, size_t& budget)
{
    static const KWString kStyle("Style"), kSwitchedStyle("SwitchedStyle"), kSTYLE("STYLE"),
        kSWITCHED("SWITCHED_STYLE"), kStyleName("StyleName"), kName("Name"), kSwitch("Switch"),
        kDefaultSwitch("DefaultSwitch");
    // The styles each copied pair came through, so that a style reached again through its own pairs is caught.
    using Chain = std::shared_ptr<const std::vector<KWString>>;
    std::unordered_map<KPropPair*, Chain> chains;
    auto chainOf = [&chains](KPropPair* p) -> std::vector<KWString> {
        auto it = chains.find(p);
        return it == chains.end() ? std::vector<KWString>() : *it->second;
    };
    for (KPropPair* pair = node->GetFirstPair(); pair; pair = pair->GetNext()) {
        const bool isStyle = pair->GetKey() == kStyle;
        const bool isSwitched = pair->GetKey() == kSwitchedStyle;
        if (!isStyle && !isSwitched)
            continue;
        const KWString name = pair->GetValue();
        std::vector<KWString> chain = chainOf(pair);
        const KWString tagged = KWString(isStyle ? "S:" : "W:") + name;
        if (std::find(chain.begin(), chain.end(), tagged) != chain.end())
            throw KExceptionUiScript(("recursive STYLE reference '" + WideToUtf8(name) + "'").c_str());
        KPropTree* source = nullptr;
        if (isStyle) {
            source = FindStyle(node, kSTYLE, kStyleName, name);
            if (!source)
                throw KExceptionUiScript(
                    ("failed to find the referenced STYLE tag '" + WideToUtf8(name) + "'").c_str());
        } else {
            KPropTree* sw = FindStyle(node, kSWITCHED, kName, name);
            if (!sw)
                throw KExceptionUiScript(("failed to find the referenced SWITCHED_STYLE tag '" + WideToUtf8(name) + "'").c_str());
            source = sw->FindChild(sw->GetString(kSwitch, KWString()));
            if (!source)
                source = sw->FindChild(sw->GetString(kDefaultSwitch, KWString()));
            if (!source)
                continue;
        }
        chain.push_back(tagged);
        const Chain shared = std::make_shared<const std::vector<KWString>>(chain);
        // Copies go right after the pair, in order, and are examined next.
        // The source may be this very node: take its pairs as they are before inserting.
        std::vector<KPropPair*> copies;
        for (KPropPair* s = source->GetFirstPair(); s; s = s->GetNext())
            copies.push_back(s);
        KPropPair* at = pair;
        if (copies.size() > budget)
            throw KExceptionUiScript(("STYLE '" + WideToUtf8(name) + "' expands beyond " +
                                      std::to_string(kMaxStyledPairs) + " attributes")
                                         .c_str());
        budget -= copies.size();
        for (KPropPair* s : copies) {
            if (!at->InsertCopyAfter(s))
                break;
            at = at->GetNext();
            chains[at] = shared;
        }
    }
}

}  // namespace

void ApplyUiStyles(KPropTree* node)
{
    std::vector<KPropTree*> work;
    for (KPropTree* n = node; n; n = n->GetNextSibling())
        work.push_back(n);
    std::reverse(work.begin(), work.end());
    size_t budget = kMaxStyledPairs;
    while (!work.empty()) {
        KPropTree* n = work.back();
        work.pop_back();
        ApplyStylesToNode(n, budget);
        std::vector<KPropTree*> children;
        for (KPropTree* c = n->GetFirstChild(); c; c = c->GetNextSibling())
            children.push_back(c);
        work.insert(work.end(), children.rbegin(), children.rend());
    }
}

KGenericUiApp* CreateGenericUiApp()
{
    return new KGenericUiApp;
}

void DeleteGenericUiApp(KGenericUiApp*& application)
{
    delete application;
    application = nullptr;
}

KGenericUiApp::KGenericUiApp()
{
    m_pOsApp = CreateOsUiApp(this);
    m_pFactory = CreateObjectFactory();
    RegisterGenericControls(m_pFactory);
}

KGenericUiApp::~KGenericUiApp()
{
    m_ShuttingDown = true;
    const KWString bye(kUiMsgShutdown);
    for (KIUiObject* o = m_pFirstObject; o; o = NextUiObjectPreOrder(o))
        o->UiRelayMessage(bye, nullptr);
    priFullBroadcast(bye);
    if (!m_LanguageToPersist.IsEmpty())
        if (KPropTree* selector = GetPersistentData(kQuarelLanguageSelector))
            selector->SetString(kCurrentLanguage, m_LanguageToPersist);
    priSaveState();
    // Windows and objects go while the trees they read and write still exist.
    priDeleteWindowsAndObjects();
    DeleteObjectFactory(m_pFactory);
    delete m_pScript;
    m_pScript = nullptr;
    delete m_pState;
    m_pState = nullptr;
    DeleteOsUiApp(m_pOsApp);
    m_pOsApp = nullptr;
    DeleteUiPixmap(m_pCursorNo);
    DeleteUiPixmap(m_pCursorYes);
    if (m_pFolder)
        m_pFolder->Release();
    m_pFolder = nullptr;
    m_OnOpenPath.DeleteRelays();
    m_OnVolumesChanged.DeleteRelays();
    for (KUiMultiLangString* d : m_DisplayStrings)
        delete d;
    m_DisplayStrings.clear();
    for (KUiFont* f : m_Fonts)
        delete f;
    m_Fonts.clear();
}

void KGenericUiApp::priSaveState()
{
    if (!m_HasPersistentStore || !m_pState)
        return;
    std::unique_ptr<KIFolder, FolderRelease> folder(OpenAppDataFolder());
    if (!folder)
        return;
    try {
        SaveXMLFile(m_pState, folder.get(), m_StateStoreName + KWString(".state.xml"));
    } catch (const KException& e) {
        DebugTrace("state file not written: %s (%s)\n", e.GetMessage(), e.GetDescription());
    }
}

void KGenericUiApp::priDeleteWindowsAndObjects()
{
    KIGenericUiWindow* w = m_pFirstWindow;
    m_pFirstWindow = nullptr;
    while (w) {
        KIGenericUiWindow* next = w->GetNextWindow();
        delete w;
        w = next;
    }
    KUiWindowClass* c = m_pFirstClass;
    m_pFirstClass = nullptr;
    while (c) {
        KUiWindowClass* next = c->GetNext();
        delete c;
        c = next;
    }
    KIUiObject* o = m_pFirstObject;
    m_pFirstObject = nullptr;
    while (o) {
        KIUiObject* next = o->GetNext();
        delete o;
        o = next;
    }
    m_ModalStack.clear();
}

void* KGenericUiApp::GetAttribute(int id)
{
    return m_pOsApp ? m_pOsApp->GetAttribute(id) : nullptr;
}

bool KGenericUiApp::SetAttribute(int id, const void* value)
{
    return m_pOsApp && m_pOsApp->SetAttribute(id, value);
}

bool KGenericUiApp::LoadUiScript(KIFolder* folder, const KWString& scriptName, bool& alreadyRunning)
{
    alreadyRunning = false;
    if (!folder || scriptName.IsEmpty())
        return false;
    if (m_pFolder && m_pFolder != folder)
        m_pFolder->Release();
    m_pFolder = folder;
    m_ScriptName = scriptName;
    {
        KXMLParser parser;
        m_pScript = parser.Load(folder, scriptName);
    }
    if (!m_pScript)
        return false;
    KPropTree* root = m_pScript;
    root->Preprocess(KArray<KWString>());
    PlatformSections(root, IsMacOs(), IsWindows());
    ApplyUiStyles(root);

    m_HasPersistentStore = root->GetBool(KWString("HasPersistantDataStore"), false);
    if (m_HasPersistentStore) {
        bool found = false;
        m_StateStoreName = root->GetString(KWString("Name"), KWString(), &found);
        if (!found)
            m_StateStoreName = "QuarleApp";
        std::unique_ptr<KIFolder, FolderRelease> appData(OpenAppDataFolder());
        if (appData) {
            m_pState = TryLoadXML(appData.get(), m_StateStoreName + KWString(".state.xml"));
            if (!m_pState)
                m_pState = new KPropTree(nullptr, "STATE");
        }
    }
    if (!BindToScriptNode(root))
        return false;

    m_RequiresLicAgree = root->GetBool(KWString("RequiresLicAgree"), false);
    bool noFound = false, yesFound = false;
    const KWString noFile = root->GetString(KWString("File_DragAndDropCursorNo"), KWString(), &noFound);
    const KWString yesFile = root->GetString(KWString("File_DragAndDropCursorYes"), KWString(), &yesFound);
    m_pCursorNo = noFound ? LoadPng(noFile) : nullptr;
    m_pCursorYes = yesFound ? LoadPng(yesFile) : nullptr;
    m_CursorNoX = root->GetInt(KWString("DragAndDropCursorNo_X"), 0);
    m_CursorNoY = root->GetInt(KWString("DragAndDropCursorNo_Y"), 0);
    m_CursorYesX = root->GetInt(KWString("DragAndDropCursorYes_X"), 0);
    m_CursorYesY = root->GetInt(KWString("DragAndDropCursorYes_Y"), 0);
    m_CursorsLoaded = m_pCursorNo && m_pCursorYes;
    static const char* const kMenuKeys[4] = {"CtrlMenuDisplayString", "ShiftMenuDisplayString",
                                             "AltMenuDisplayString", "DelMenuDisplayString"};
    for (int i = 0; i < 4; ++i)
        m_MenuStringNames[i] = root->GetString(KWString(kMenuKeys[i]), KWString());

    m_SingleInstance = root->GetBool(KWString("_SingleInstApp"), false);
    if (m_SingleInstance) {
        const KWString declared = root->GetString(KWString("_DeclareAppName"), KWString());
        const bool oldMutex = root->GetBool(KWString("_CreateOldMutex"), false);
        if (!declared.IsEmpty())
            alreadyRunning = m_pOsApp->CheckSingleInstance(declared, oldMutex);
        if (alreadyRunning)
            return true;
    }

    // Objects made directly under the application and the two application events.
    KIUiObject* lastObject = nullptr;
    for (KPropTree* c = root->GetFirstChild(); c; c = c->GetNextSibling()) {
        const KWString& tag = c->GetName();
        if (tag == "ON_OPEN_PATH_EVENT") {
            m_OnOpenPath.AddRelay(c);
        } else if (tag == "ON_VOLUMES_CHANGED_EVENT") {
            m_OnVolumesChanged.AddRelay(c);
        } else if (tag != "WINDOW" && tag != "WINDOWCLASS") {
            KIUiObject* o = m_pFactory->Create(&tag);
            if (!o)
                continue;
            if (!InitChildObject(o, this, nullptr, nullptr, c))
                continue;
            if (lastObject) {
                lastObject->SetNext(o);
                o->SetPrevious(lastObject);
            } else {
                m_pFirstObject = o;
            }
            lastObject = o;
        }
    }
    KIGenericUiWindow* lastWindow = nullptr;
    for (KPropTree* c = root->GetFirstChild(); c; c = c->GetNextSibling()) {
        if (c->GetName() != "WINDOW")
            continue;
        KIGenericUiWindow* w = CreateGenericUiWindow(this, c, nullptr, nullptr);
        if (!w)
            continue;
        if (lastWindow) {
            lastWindow->SetNextWindow(w);
            w->SetPreviousWindow(lastWindow);
        } else {
            m_pFirstWindow = w;
        }
        lastWindow = w;
    }
    if (m_pFirstWindow)
        m_pFirstWindow->MarkMainWindow();
    KUiWindowClass* lastClass = nullptr;
    for (KPropTree* c = root->GetFirstChild(); c; c = c->GetNextSibling()) {
        if (c->GetName() != "WINDOWCLASS")
            continue;
        auto* windowClass = new KUiWindowClass;
        windowClass->Init(this, c);
        if (lastClass)
            lastClass->SetNext(windowClass);
        else
            m_pFirstClass = windowClass;
        lastClass = windowClass;
    }
    if (!m_pFirstWindow)
        return false;
    PostCreationConnect();
    const KWString post(kUiMsgPostCreationInit);
    for (KIUiObject* o = m_pFirstObject; o; o = NextUiObjectPreOrder(o))
        o->UiRelayMessage(post, nullptr);
    priFullBroadcast(post);
    return true;
}

bool KGenericUiApp::BindToScriptNode(KPropTree* root)
{
    if (!root)
        return false;
    m_ShowLayoutBoxes = root->GetBool(KWString("_ShowTheHVBoxes"), false);
    m_Name = root->GetString(KWString("Name"), KWString());
    m_AppName = root->GetString(KWString("AppName"), KWString());
    for (KPropTree* langs = root->GetFirstChild(); langs; langs = langs->GetNextSibling()) {
        if (langs->GetName() != "LANGUAGES")
            continue;
        for (KPropTree* l = langs->GetFirstChild(); l; l = l->GetNextSibling()) {
            bool found = false;
            const KWString& name = l->GetString(KWString("Name"), KWString(), &found);
            if (l->GetName() != "LANGUAGE" || !found)
                continue;
            m_Languages.push_back(name);
            if (l->GetBool(KWString("Default"), false))
                m_CurrentLanguage = name;
        }
    }
    DebugTrace("Application has defined %d languages.\n", static_cast<int>(m_Languages.size()));
    bool chosen = false;
    if (KPropTree* selector = GetPersistentData(kQuarelLanguageSelector)) {
        bool found = false;
        const KWString lang = selector->GetString(kCurrentLanguage, KWString(), &found);
        if (found) {
            SetLanguage(lang);
            chosen = true;
        }
    }
    if (!chosen) {
        std::unique_ptr<KIFolder, FolderRelease> program(OpenSpecialFolder(KSPECIAL_PROGRAM));
        if (program) {
            std::unique_ptr<KPropTree> prefs(TryLoadXML(program.get(), KWString("Preferences.xml")));
            bool found = false;
            KWString lang;
            if (prefs)
                lang = prefs->GetString(kCurrentLanguage, KWString(), &found);
            if (found)
                SetLanguage(lang);
        }
    }
    for (KPropTree* fonts = root->GetFirstChild(); fonts; fonts = fonts->GetNextSibling()) {
        if (fonts->GetName() != "FONTS")
            continue;
        for (KPropTree* f = fonts->GetFirstChild(); f; f = f->GetNextSibling()) {
            if (f->GetName() != "APPFONT")
                continue;
            auto* font = new KUiFont(IsMacOs(), IsWindows());
            if (font->InitFromNode(f))
                m_Fonts.push_back(font);
            else
                delete font;
        }
    }
    for (KUiFont* f : m_Fonts)
        f->SetLanguage(m_CurrentLanguage);
    for (KPropTree* d = root->GetFirstChild(); d; d = d->GetNextSibling()) {
        if (d->GetName() != "DISPLAY_STRING")
            continue;
        auto* text = new KUiMultiLangString;
        if (text->InitFromNode(this, d))
            m_DisplayStrings.push_back(text);
        else
            delete text;
    }
    for (KUiMultiLangString* d : m_DisplayStrings)
        d->SetLanguage(m_CurrentLanguage);
    return true;
}

bool KGenericUiApp::PostCreationConnect()
{
    bool ok = true;
    for (KIGenericUiWindow* w = m_pFirstWindow; w; w = w->GetNextWindow())
        ok = w->PostCreationConnect() && ok;
    for (KIUiObject* o = m_pFirstObject; o; o = o->GetNext())
        ok = o->PostCreationConnect() && ok;
    ok = m_OnOpenPath.Connect(static_cast<KIGenericUiApp*>(this)) && ok;
    ok = m_OnVolumesChanged.Connect(static_cast<KIGenericUiApp*>(this)) && ok;
    return ok;
}

bool KGenericUiApp::UiRelayMessage(const KWString& message, void* data)
{
    if (!data)
        return false;
    if (message == "CreateWindow") {
        // The class and the owner's name.
        const KWString* names = UiRelayData<KWString>(data, 2);
        if (!names)
            return false;
        const KWString& className = names[0];
        const KWString& ownerName = names[1];
        KIGenericUiWindow* owner = nullptr;
        if (ownerName != "NoParent") {
            owner = FindWindow(ownerName);
            for (KUiWindowClass* c = m_pFirstClass; c && !owner; c = c->GetNext())
                if (c->IsNamed(ownerName)) {
                    owner = c->GetFrontWindow();
                    break;
                }
        }
        for (KUiWindowClass* c = m_pFirstClass; c; c = c->GetNext())
            if (c->CreateWindow(className, owner))
                break;
        return true;
    }
    if (message == "ShowTopOrCreateWindow") {
        const KWString* name = UiRelayData<KWString>(data);
        if (!name)
            return false;
        const KWString& className = *name;
        for (KUiWindowClass* c = m_pFirstClass; c; c = c->GetNext()) {
            if (!c->IsNamed(className))
                continue;
            if (KIGenericUiWindow* front = c->GetFrontWindow())
                front->SetVisible(true);
            else if (KIGenericUiWindow* w = c->CreateWindow(className, nullptr))
                w->SetVisible(true);
            break;
        }
        return true;
    }
    return false;
}

std::vector<KIGenericUiWindow*> KGenericUiApp::priAllWindows() const
{
    std::vector<KIGenericUiWindow*> all;
    for (KIGenericUiWindow* w = m_pFirstWindow; w; w = w->GetNextWindow())
        all.push_back(w);
    for (KUiWindowClass* c = m_pFirstClass; c; c = c->GetNext())
        for (KIGenericUiWindow* w = c->GetFrontWindow(); w; w = w->GetNextWindow())
            all.push_back(w);
    return all;
}

void KGenericUiApp::priFullBroadcast(const KWString& message)
{
    // A copy: a receiver may close an instance. Closed instances stay alive until the message is over.
    for (KIGenericUiWindow* w : priAllWindows()) {
        w->BroadcastRelayMessage(message, nullptr);
        w->UiRelayMessage(message, nullptr);
    }
}

void KGenericUiApp::priWindowBroadcast(const KWString& message)
{
    for (KIGenericUiWindow* w : priAllWindows())
        w->UiRelayMessage(message, nullptr);
}

bool KGenericUiApp::Run(bool allowHandOver)
{
    return m_pOsApp->Run(m_SingleInstance && allowHandOver);
}

KIUiPixmap* KGenericUiApp::LoadPng(const KWString& fileName)
{
    if (!m_pFolder)
        return nullptr;
    KIFile* file = m_pFolder->OpenFile(fileName, KFILE_MODE_READ);
    if (!file)
        return nullptr;
    std::unique_ptr<KPNGPixmap> png(LoadPNGPixmap(file));
    if (!png) {
        DebugTrace("***FAILED TO LOAD PNG file '%s'.\n", WideToUtf8(fileName).c_str());
        return nullptr;
    }
    file->Release();
    KPixmap_Display view(png->GetData(), png->GetWidth(), png->GetHeight(), png->GetRowBytes());
    return CreateUiPixmapFromPixmap(&view, false);
}

void KGenericUiApp::GetOsName(KWString& out)
{
    m_pOsApp->GetOsName(out);
}

void KGenericUiApp::PutClipboardText(const KWChar* text, KIGenericUiWindow* window)
{
    m_pOsApp->PutClipboardText(text, window);
}

void KGenericUiApp::PutClipboardText(const KWString& text, KIGenericUiWindow* window)
{
    m_pOsApp->PutClipboardText(text, window);
}

void KGenericUiApp::GetClipboardText(KWString& out, KIGenericUiWindow* window)
{
    m_pOsApp->GetClipboardText(out, window);
}

bool KGenericUiApp::FireOpenPath(KWString* path)
{
    return m_OnOpenPath.Fire(path);
}

bool KGenericUiApp::FireVolumesChanged()
{
    return m_OnVolumesChanged.Fire(nullptr);
}

void KGenericUiApp::SetModalWindow(KIGenericUiWindow* window)
{
    if (m_ShuttingDown)
        return;
    if (window) {
        if (m_ModalStack.empty() || m_ModalStack.back() != window)
            m_ModalStack.push_back(window);
    } else if (!m_ModalStack.empty()) {
        m_ModalStack.pop_back();
    }
    if (!m_ModalStack.empty()) {
        KIGenericUiWindow* top = m_ModalStack.back();
        top->Enable();
        top->Activate();
        for (KIGenericUiWindow* w : priAllWindows())
            if (w != top)
                w->Disable();
    } else {
        for (KIGenericUiWindow* w : priAllWindows())
            w->Enable();
    }
}

void KGenericUiApp::ForgetWindow(KIGenericUiWindow* window)
{
    m_ModalStack.erase(std::remove(m_ModalStack.begin(), m_ModalStack.end(), window), m_ModalStack.end());
}

KIGenericUiWindow* KGenericUiApp::FindWindow(const KWString& name)
{
    for (KIGenericUiWindow* w = m_pFirstWindow; w; w = w->GetNextWindow())
        if (w->IsNamed(name))
            return w;
    return nullptr;
}

KPropTree* KGenericUiApp::GetPersistentData(const KWString& name)
{
    if (!m_pState)
        return nullptr;
    static const KWString kName("Name");
    for (KPropTree* c = m_pState->GetFirstChild(); c; c = c->GetNextSibling()) {
        bool found = false;
        const KWString& v = c->GetString(kName, KWString(), &found);
        if (found && v == name)
            return c;
    }
    auto* node = new KPropTree(m_pState, "PERDATA");
    node->AddPair(kName, name);
    return node;
}

KIFile* KGenericUiApp::OpenScriptFolderFile(const KWString& name)
{
    return m_pFolder ? m_pFolder->OpenFile(name, KFILE_MODE_READ) : nullptr;
}

void KGenericUiApp::priApplyLanguage(const KWString& name, bool persist)
{
    priWindowBroadcast(KWString(kUiMsgDisableWindowDisplay));
    for (KUiFont* f : m_Fonts)
        f->SetLanguage(name);
    for (KUiMultiLangString* d : m_DisplayStrings)
        d->SetLanguage(name);
    m_CurrentLanguage = name;
    const KWString setLanguage(kUiMsgSetLanguage);
    // A listener may withdraw while it is told.
    const std::vector<KIUiRelay*> listeners = m_LanguageListeners;
    for (KIUiRelay* l : listeners)
        if (std::find(m_LanguageListeners.begin(), m_LanguageListeners.end(), l) != m_LanguageListeners.end())
            UiRelaySend(l, setLanguage, static_cast<const KWString*>(&m_CurrentLanguage));
    if (persist && m_pState) {
        m_LanguageToPersist = name;
        static const KWString kName("Name");
        for (KPropTree* c = m_pState->GetFirstChild(); c; c = c->GetNextSibling())
            if (c->GetString(kName, KWString()) == kQuarelLanguageSelector) {
                c->SetString(kCurrentLanguage, name);
                break;
            }
    }
    priWindowBroadcast(KWString(kUiMsgEnableWindowDisplay));
}

void KGenericUiApp::SetLanguage(const KWString& name)
{
    priApplyLanguage(name, true);
}

void KGenericUiApp::NextLanguage()
{
    KWString next;
    auto it = std::find(m_Languages.begin(), m_Languages.end(), m_CurrentLanguage);
    if (it != m_Languages.end())
        next = (it + 1 == m_Languages.end()) ? m_Languages.front() : *(it + 1);
    priApplyLanguage(next, false);
}

bool KGenericUiApp::AddLanguageListener(KIUiRelay* listener, KWString& currentLanguage)
{
    currentLanguage = m_CurrentLanguage;
    if (!listener)
        return false;
    m_LanguageListeners.push_back(listener);
    return true;
}

bool KGenericUiApp::RemoveLanguageListener(KIUiRelay* listener)
{
    if (!listener)
        return true;
    auto it = std::find(m_LanguageListeners.begin(), m_LanguageListeners.end(), listener);
    if (it == m_LanguageListeners.end())
        return false;
    m_LanguageListeners.erase(it);
    return true;
}

KUiMultiLangString* KGenericUiApp::FindDisplayString(const KWString& name)
{
    for (KUiMultiLangString* d : m_DisplayStrings)
        if (d->GetName() == name)
            return d;
    return nullptr;
}

KUiFont* KGenericUiApp::FindFont(const KWString& name)
{
    for (KUiFont* f : m_Fonts)
        if (f->GetName() == name)
            return f;
    return nullptr;
}

bool KGenericUiApp::IsMacOs()
{
    return m_pOsApp && m_pOsApp->IsMacOs();
}

bool KGenericUiApp::IsWindows()
{
    return m_pOsApp && m_pOsApp->IsWindows();
}

KIUiPixmap* KGenericUiApp::GetDragCursorNo(int32_t* hotX, int32_t* hotY)
{
    if (hotX)
        *hotX = m_CursorNoX;
    if (hotY)
        *hotY = m_CursorNoY;
    return m_pCursorNo;
}

KIUiPixmap* KGenericUiApp::GetDragCursorYes(int32_t* hotX, int32_t* hotY)
{
    if (hotX)
        *hotX = m_CursorYesX;
    if (hotY)
        *hotY = m_CursorYesY;
    return m_pCursorYes;
}

const KWString* KGenericUiApp::priMenuText(int index)
{
    KUiMultiLangString* d = FindDisplayString(m_MenuStringNames[index]);
    return d ? d->GetCurrentText() : nullptr;
}

const KWString* KGenericUiApp::GetCtrlMenuText()
{
    return priMenuText(0);
}

const KWString* KGenericUiApp::GetShiftMenuText()
{
    return priMenuText(1);
}

const KWString* KGenericUiApp::GetAltMenuText()
{
    return priMenuText(2);
}

const KWString* KGenericUiApp::GetDelMenuText()
{
    return priMenuText(3);
}

void KGenericUiApp::TickObjects(int32_t elapsedMs)
{
    for (KIUiObject* o = m_pFirstObject; o; o = o->GetNext())
        o->Tick(elapsedMs);
}

void KGenericUiApp::SetRect(int32_t left, int32_t top, int32_t right, int32_t bottom)
{
    m_Rect = KRect(left, top, right, bottom);
}

KIUiRelay* KGenericUiApp::GetUiRelay(const KWString& path)
{
    if (path == m_Name)
        return this;
    KWString head, tail;
    KIUiRelay* found = nullptr;
    if (path.Split(KWString("."), head, tail) && !head.IsEmpty() && !tail.IsEmpty() && head == m_Name) {
        for (KIGenericUiWindow* w = m_pFirstWindow; w && !found; w = w->GetNextWindow())
            found = w->FindObject(tail);
        for (KUiWindowClass* c = m_pFirstClass; c && !found; c = c->GetNext())
            found = c->FindRelay(tail);
        for (KIUiObject* o = m_pFirstObject; o && !found; o = o->GetNext())
            found = o->FindObject(tail);
    }
    if (!found) {
        DebugTrace("UiApp::GetUiRelay(%s) FAILED!\n", WideToUtf8(path).c_str());
        return nullptr;
    }
    ++m_RelayLookups;
    return found;
}

void KGenericUiApp::SetVersion(const uint32_t version[4])
{
    std::copy(version, version + 4, m_Version);
}

void KGenericUiApp::GetVersion(uint32_t version[4]) const
{
    std::copy(m_Version, m_Version + 4, version);
}
