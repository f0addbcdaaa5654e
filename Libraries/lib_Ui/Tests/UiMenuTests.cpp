// Menus: the shortcut syntax and the shown shortcut texts, and a window's menus on the headless backend:
// command ids, shortcut keys, the item and menu limits and paths.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "KGenericUiApp.h"
#include "KGenericUiWindow.h"
#include "KStorage.h"
#include "KTextFunctions.h"
#include "KUiMenu.h"
#include "KUiObject.h"
#include "KUiObjectFactory.h"
#include "KWinUiMenu.h"
#include "KWinUiWindow.h"
#include "KXMLParser.h"
#include "LumoStorageFixture.h"
#include "LumoTestSupport.h"
#include "PlatformShell.h"
#include "PlatformWindow.h"

namespace {

// Records the relay messages it receives.
std::vector<std::string> g_Received;

class Recorder : public KUiObject {
public:
    bool InitUiObject(KIGenericUiApp* a, KIGenericUiWindow* w, KIUiObject* p, KPropTree* n) override
    {
        KUiObject::InitUiObject(a, w, p, n);
        return true;
    }
    bool UiRelayMessage(const KWString& message, void* data) override
    {
        if (message.GetLength() > 0 && message != kUiMsgPostCreationInit && message != kUiMsgShutdown &&
            message != kUiMsgSetLanguage)
            g_Received.push_back(WideToUtf8(message));
        return KUiObject::UiRelayMessage(message, data);
    }
};

class RecorderCreator : public KIUiObjectCreator {
public:
    KIUiObject* Create() override { return new Recorder; }
};

class UiMenus : public lumotest::StorageFixture {
protected:
    void SetUp() override
    {
        StorageFixture::SetUp();
        setenv("LUMO_UI", "headless", 1);
        std::string error;
        ASSERT_TRUE(PlatUiStart(error)) << error;
        std::string appData;
        ASSERT_TRUE(PlatGetSpecialFolderPath(PLAT_CSIDL_APPDATA, appData, true));
        g_Received.clear();
    }
    void TearDown() override
    {
        m_App.reset();
        StorageFixture::TearDown();
    }
    bool Load(const std::string& text)
    {
        lumotest::WriteText(Root() / "ui.xml", text);
        m_App.reset(CreateGenericUiApp());
        static const KWString keyword("RECORDER");
        auto* creator = new RecorderCreator;
        if (!m_App->GetFactory()->Register(&keyword, creator))
            delete creator;
        KWString leaf;
        KIFolder* folder = OpenFolderByURL(RootURL(), leaf, false);
        bool running = false;
        return m_App->LoadUiScript(folder, KWString("ui.xml"), running);
    }
    KGenericUiWindow* Window() { return static_cast<KGenericUiWindow*>(m_App->GetFirstWindow()); }
    KWinUiWindow* Os() { return dynamic_cast<KWinUiWindow*>(Window()->GetOsWindow()); }
    PlatHWND Handle() { return Os()->GetHandle(); }
    // Items of a menu of nothing but ON_SELECT relays to the recorder, named I<index>.
    static std::string Items(int count, const std::string& menu)
    {
        std::string s;
        for (int i = 0; i < count; ++i)
            s += "<MENUITEM Name=\"I" + std::to_string(i) + "\" Label=\"i\"><ON_SELECT Relay=\"T.Main.R\" Message=\"" +
                 menu + std::to_string(i) + "\"/></MENUITEM>";
        return s;
    }

    std::unique_ptr<KGenericUiApp> m_App;
};

}  // namespace

TEST(MenuShortcut, KeyTextsGiveKeyAndExactModifiers)
{
    const struct {
        const char* text;
        uint16_t key;
        int ctrl, shift, alt;
    } cases[] = {
        {"CS-x", 'X', 1, 1, 0}, {"C-g", 'G', 1, 0, 0},   {"A-F9", 0x78, 0, 0, 1}, {"F1", 0x70, 0, 0, 0},
        {"Del", 127, 0, 0, 0},  {"S-Del", 127, 0, 1, 0}, {"C-[", '[', 1, 0, 0},   {"C-]", ']', 1, 0, 0},
        {"7", '7', 0, 0, 0},    {"CQ-a", 'A', 1, 0, 0},  {"C-?", '*', 1, 0, 0},   {"F0", '*', 0, 0, 0},
        {"F10", '*', 0, 0, 0},  {"", '*', 0, 0, 0},      {"C-", '*', 1, 0, 0},    {"SAC-Z", 'Z', 1, 1, 1},
    };
    for (const auto& c : cases) {
        const KMenuShortcut s = ParseMenuShortcut(KWString(c.text));
        EXPECT_EQ(s.active, 1) << c.text;
        EXPECT_EQ(s.key, c.key) << c.text;
        EXPECT_EQ(s.ctrl * 100 + s.shift * 10 + s.alt, c.ctrl * 100 + c.shift * 10 + c.alt) << c.text;
    }
    static_assert(sizeof(KMenuShortcut) == 6);
}

TEST(MenuShortcut, EntryTextShowsTheKeyAsWritten)
{
    const struct {
        const char* key;
        const char16_t* text;
    } cases[] = {
        {"CS-x", u"Open\tCtrl+Shift+x"}, {"SAC-F5", u"Open\tShift+Alt+Ctrl+F5"}, {"Del", u"Open\tDel"},
        {"CQ-y", u"Open\tCtrl+y"},       {"x", u"Open"},                          {"", u"Open"},
        {"-z", u"Open\tz"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(MenuEntryText(nullptr, KWString("Open"), KWString(c.key)).Str(), std::u16string(c.text)) << c.key;
}

TEST_F(UiMenus, CommandIdsSelectByMenuAndEntry)
{
    ASSERT_TRUE(Load(R"(<APP Name="T"><WINDOW Name="Main" BgColor="#808080"><RECORDER Name="R"/><MENU>
        <MENUITEM Name="A" Label="A">)" + Items(3, "a") + R"(</MENUITEM>
        <MENUITEM Name="B" Label="B">)" + Items(3, "b") + R"(</MENUITEM></MENU></WINDOW></APP>)"));
    ASSERT_EQ(Os()->GetMenuCount(), 2);
    for (uintptr_t id : {0x0000u, 0x0002u, 0x0101u, 0x0102u, 0x0103u, 0x0201u, 0x10001u, 0x00FFu})
        PlatSendMessage(Handle(), PLAT_WM_COMMAND, id, 0);
    // Ids below 256 go to the first menu; an entry or menu that does not exist and a notification (high word
    // not 0) select nothing.
    EXPECT_EQ(g_Received, (std::vector<std::string>{"a0", "a2", "b1", "b2"}));
    // A disabled item is not selected by a command, yet still by its relay.
    g_Received.clear();
    KIUiRelay* item = m_App->GetUiRelay(KWString("T.Main.B.I1"));
    ASSERT_TRUE(item);
    EXPECT_TRUE(item->UiRelayMessage(KWString("Disable"), nullptr));
    PlatSendMessage(Handle(), PLAT_WM_COMMAND, 0x0101, 0);
    EXPECT_TRUE(item->UiRelayMessage(KWString("Select"), nullptr));
    EXPECT_EQ(g_Received, (std::vector<std::string>{"b1"}));
    EXPECT_EQ(Os()->GetFirstMenu()->GetNext()->GetEntries()[1].state, uint32_t(KWinUiMenu::kDisabled));
}

TEST_F(UiMenus, ShortcutsNeedTheirModifiersAndTheLastEntryWins)
{
    ASSERT_TRUE(Load(R"(<APP Name="T"><WINDOW Name="Main" BgColor="#808080"><RECORDER Name="R"/><MENU>
        <MENUITEM Name="A" Label="A">
          <MENUITEM Label="1" Key="C-k"><ON_SELECT Relay="T.Main.R" Message="first"/></MENUITEM>
          <MENUITEM Label="2" Key="C-k"><ON_SELECT Relay="T.Main.R" Message="second"/></MENUITEM>
          <MENUITEM Label="3" Key="CA-k"><ON_SELECT Relay="T.Main.R" Message="third"/></MENUITEM>
          <MENUITEM Label="4" Key="C-["><ON_SELECT Relay="T.Main.R" Message="bracket"/></MENUITEM>
        </MENUITEM>
        <MENUITEM Name="B" Label="B"><MENUITEM Label="5" Key="C-k"><ON_SELECT Relay="T.Main.R" Message="other"/>
        </MENUITEM></MENUITEM></MENU></WINDOW></APP>)"));
    PlatHWND h = Handle();
    auto press = [h](uintptr_t vk, intptr_t flags = 1) {
        PlatSendMessage(h, PLAT_WM_KEYDOWN, vk, flags);
        PlatSendMessage(h, PLAT_WM_KEYUP, vk, static_cast<intptr_t>(0xC0000001u));
    };
    press('K');  // no modifiers: nothing
    PlatSendMessage(h, PLAT_WM_KEYDOWN, PLAT_VK_CONTROL, 1);
    press('K');
    press('K', 1 | (intptr_t(1) << 30));  // auto-repeat: nothing
    press(PLAT_VK_OEM_4);
    PlatSendMessage(h, PLAT_WM_KEYDOWN, PLAT_VK_MENU, 1);
    press('K');
    EXPECT_EQ(g_Received, (std::vector<std::string>{"second", "bracket", "third"}));
}

TEST_F(UiMenus, ItemsAndMenusBeyondTheLimitsAreLeftOut)
{
    std::string menus;
    for (int m = 0; m < kMaxWindowMenus + 1; ++m)
        menus += "<MENUITEM Name=\"M" + std::to_string(m) + "\" Label=\"m\">" +
                 (m == 0 ? Items(kMaxMenuItems + 2, "a") : Items(1, "m" + std::to_string(m) + "_")) +
                 "</MENUITEM>";
    ASSERT_TRUE(Load(R"(<APP Name="T"><WINDOW Name="Main" BgColor="#808080"><RECORDER Name="R"/><MENU>)" + menus +
                     "</MENU></WINDOW></APP>"));
    EXPECT_EQ(Os()->GetMenuCount(), kMaxWindowMenus);
    EXPECT_EQ(Os()->GetFirstMenu()->GetEntries().size(), size_t(kMaxMenuItems));
    EXPECT_EQ(Os()->GetFirstMenu()->GetShortcuts().size(), size_t(kMaxMenuItems));
    EXPECT_TRUE(m_App->GetUiRelay(KWString("T.Main.M0.I255")));
    EXPECT_FALSE(m_App->GetUiRelay(KWString("T.Main.M0.I256")));
    EXPECT_TRUE(m_App->GetUiRelay(KWString("T.Main.M254.I0")));
    EXPECT_FALSE(m_App->GetUiRelay(KWString("T.Main.M255")));
    PlatSendMessage(Handle(), PLAT_WM_COMMAND, 0xFE00, 0);
    PlatSendMessage(Handle(), PLAT_WM_COMMAND, 0x00FF, 0);
    EXPECT_EQ(g_Received, (std::vector<std::string>{"m254_0", "a255"}));
}

TEST_F(UiMenus, PathsOfNamedAndUnnamedMenus)
{
    ASSERT_TRUE(Load(R"(<APP Name="T"><WINDOW Name="Main" BgColor="#808080"><RECORDER Name="R"/><MENU>
        <MENUITEM Name="File" Label="File"><MENUITEM Name="Open" Label="Open"/><MENUSEPARATOR/></MENUITEM>
        <MENUITEM Label="Edit"><MENUITEM Name="Copy" Label="Copy"/></MENUITEM>
        <FOO><MENUITEM Name="Hidden" Label="Hidden"/></FOO></MENU></WINDOW></APP>)"));
    KUiMenu* file = Window()->GetFirstMenu();
    ASSERT_TRUE(file);
    EXPECT_EQ(m_App->GetUiRelay(KWString("T.Main.File")), static_cast<KIUiRelay*>(file));
    KIUiRelay* open = m_App->GetUiRelay(KWString("T.Main.File.Open"));
    ASSERT_TRUE(open);
    KWString path;
    open->GetPath(path);
    EXPECT_EQ(path, "T.Main.File.Open");
    KIUiRelay* copy = m_App->GetUiRelay(KWString("T.Main.Copy"));
    ASSERT_TRUE(copy);
    copy->GetPath(path);
    EXPECT_EQ(path, "T.Main.Copy");
    EXPECT_FALSE(m_App->GetUiRelay(KWString("T.Main.File.")));
    EXPECT_FALSE(m_App->GetUiRelay(KWString("T.Main.Edit")));
    // The third child is a menu of the window, but not a "MENUITEM": it has no place in the bar.
    ASSERT_EQ(Os()->GetMenuCount(), 3);
    EXPECT_TRUE(Os()->GetFirstMenu()->InBar());
    EXPECT_FALSE(Os()->GetFirstMenu()->GetNext()->GetNext()->InBar());
    // "Select" of a menu's item by index: only existing, enabled items.
    EXPECT_FALSE(file->Select(2));
    EXPECT_FALSE(file->Select(-1));
    EXPECT_TRUE(file->Select(1));
}

TEST_F(UiMenus, MenuAndItemsStopListeningForTheLanguageWhenDeleted)
{
    ASSERT_TRUE(Load(R"(<APP Name="T"><WINDOW Name="Main"/></APP>)"));
    lumotest::WriteText(Root() / "m.xml", R"(<MENUITEM Name="M" Label="M"><MENUITEM Label="a"/><MENUSEPARATOR/>
        </MENUITEM>)");
    KWString leaf;
    KFolderHolder folder(OpenFolderByURL(RootURL(), leaf, false));
    KXMLParser parser;
    std::unique_ptr<KPropTree> node(parser.Load(folder.get(), KWString("m.xml")));
    ASSERT_TRUE(node);
    auto* menu = new KUiMenu(m_App.get(), Window());
    menu->InitFromNode(node.get());
    KUiMenuItem* first = menu->GetFirstItem();
    ASSERT_TRUE(first && first->GetNext());
    KUiMenuItem* second = first->GetNext();
    // Nothing holds the menu to an OS menu: commands still answer.
    EXPECT_TRUE(first->UiRelayMessage(KWString("Disable"), nullptr));
    m_App->SetLanguage(KWString("Other"));
    KIUiRelay* const listeners[3] = {static_cast<KIUiRelay*>(menu), first, second};
    delete menu;
    for (KIUiRelay* r : listeners)
        EXPECT_FALSE(m_App->RemoveLanguageListener(r));
}
