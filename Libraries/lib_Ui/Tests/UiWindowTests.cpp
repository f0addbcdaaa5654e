// The application over the headless window backend: script reading, styles, the state tree, the window's
// dirty list, sizing and tick.
#include <gtest/gtest.h>

#include <memory>

#include "KExceptionUiScript.h"
#include "KGenericUiApp.h"
#include "KGenericUiWindow.h"
#include "KStorage.h"
#include "KUiObject.h"
#include "KUiObjectFactory.h"
#include "KWinUiApp.h"
#include "KXMLParser.h"
#include "LumoStorageFixture.h"
#include "LumoTestSupport.h"
#include "PlatformShell.h"
#include "PlatformWindow.h"

namespace {

// Records the ticks it receives.
class TickRecorder : public KUiObject {
public:
    bool InitUiObject(KIGenericUiApp* a, KIGenericUiWindow* w, KIUiObject* p, KPropTree* n) override
    {
        KUiObject::InitUiObject(a, w, p, n);
        m_HLayout.SetMinimumSize(n->GetInt(KWString("MinHSize"), 5));
        m_VLayout.SetMinimumSize(n->GetInt(KWString("MinVSize"), 5));
        return true;
    }
    void Tick(int32_t ms) override { ticks.push_back(ms); }
    std::vector<int32_t> ticks;
};

class TickRecorderCreator : public KIUiObjectCreator {
public:
    KIUiObject* Create() override { return new TickRecorder; }
};

class UiApp : public lumotest::StorageFixture {
protected:
    void SetUp() override
    {
        StorageFixture::SetUp();
        setenv("LUMO_UI", "headless", 1);
        std::string error;
        ASSERT_TRUE(PlatUiStart(error)) << error;
        std::string appData;
        ASSERT_TRUE(PlatGetSpecialFolderPath(PLAT_CSIDL_APPDATA, appData, true));
    }
    void TearDown() override
    {
        m_App.reset();
        StorageFixture::TearDown();
    }
    // Loads text as the script; false when LoadUiScript says so.
    bool Load(const std::string& text)
    {
        lumotest::WriteText(Root() / "ui.xml", text);
        m_App.reset(CreateGenericUiApp());
        static const KWString keyword("TICKREC");
        auto* creator = new TickRecorderCreator;
        if (!m_App->GetFactory()->Register(&keyword, creator))
            delete creator;
        KWString leaf;
        KIFolder* folder = OpenFolderByURL(RootURL(), leaf, false);
        bool running = false;
        return m_App->LoadUiScript(folder, KWString("ui.xml"), running);
    }
    KGenericUiWindow* Window() { return static_cast<KGenericUiWindow*>(m_App->GetFirstWindow()); }

    std::unique_ptr<KGenericUiApp> m_App;
};

std::unique_ptr<KPropTree> Parse(const std::filesystem::path& folderPath, const std::string& text)
{
    lumotest::WriteText(folderPath / "s.xml", text);
    KWString url, leaf;
    PosixPathToURL(folderPath.string(), url);
    KFolderHolder folder(OpenFolderByURL(url, leaf, false));
    KXMLParser parser;
    return std::unique_ptr<KPropTree>(parser.Load(folder.get(), KWString("s.xml")));
}

}  // namespace

TEST_F(UiApp, BareWindowIsTheGreyFramedDefault)
{
    ASSERT_TRUE(Load(R"(<APP Name="T"><WINDOW Name="Main"/></APP>)"));
    KGenericUiWindow* w = Window();
    ASSERT_TRUE(w);
    EXPECT_FALSE(w->IsResizable());
    KWString title;
    w->GetTitle(title);
    EXPECT_EQ(title, "Window");
    PlatHWND h = *static_cast<PlatHWND*>(w->GetAttribute(1));
    int32_t width = 0, height = 0;
    const uint8_t* p = PlatGetWindowPixels(h, width, height);
    ASSERT_TRUE(p);
    EXPECT_EQ(width, 200);
    EXPECT_EQ(height, 100);
    const uint8_t grey[4] = {0, 140, 210, 245};
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(p[(static_cast<size_t>(i) * width + i) * 4 + 1], grey[i]) << i;
    EXPECT_EQ(m_App->GetUiRelay(KWString("T.Main")), static_cast<KIUiRelay*>(w));
    EXPECT_EQ(m_App->GetUiRelay(KWString("T.Other")), nullptr);
}

TEST_F(UiApp, ScriptWithoutWindowDoesNotLoad)
{
    EXPECT_FALSE(Load(R"(<APP Name="T"/>)"));
}

TEST_F(UiApp, DirtyRectanglesMergeAcrossAOnePixelGap)
{
    ASSERT_TRUE(Load(R"(<APP Name="T"><WINDOW Name="Main"/></APP>)"));
    KGenericUiWindow* w = Window();
    w->RedrawIfDirty();
    ASSERT_TRUE(w->GetDirtyRects().empty());
    KRect a(0, 0, 10, 10), b(0, 11, 10, 20), c(50, 50, 60, 60);
    w->Invalidate(&a);
    w->Invalidate(&a);
    ASSERT_EQ(w->GetDirtyRects().size(), 1u);
    w->Invalidate(&b);
    ASSERT_EQ(w->GetDirtyRects().size(), 1u);
    EXPECT_EQ(w->GetDirtyRects()[0], KRect(0, 0, 10, 20));
    w->Invalidate(&c);
    EXPECT_EQ(w->GetDirtyRects().size(), 2u);
    w->RedrawIfDirty();
    EXPECT_TRUE(w->GetDirtyRects().empty());
}

TEST_F(UiApp, TickTruncatesToWholeMilliseconds)
{
    ASSERT_TRUE(Load(R"(<APP Name="T"><WINDOW Name="Main" BgColor="#102030"><TICKREC Name="R"/></WINDOW></APP>)"));
    auto* r = dynamic_cast<TickRecorder*>(m_App->GetUiRelay(KWString("T.Main.R")));
    ASSERT_TRUE(r);
    Window()->Tick(0.0109);
    EXPECT_EQ(r->ticks, std::vector<int32_t>{10});
}

TEST_F(UiApp, ResizeBelowTheMinimumIsRaisedAndBelowOnePixelToOne)
{
    ASSERT_TRUE(Load(R"(<APP Name="T"><WINDOW Name="Main" BgColor="#102030"><TICKREC MinHSize="30" MinVSize="0"/>
                        </WINDOW></APP>)"));
    int32_t w = 5, h = -4;
    ASSERT_TRUE(Window()->OnResized(&w, &h));
    EXPECT_EQ(w, 30);
    EXPECT_EQ(h, 1);
}

TEST_F(UiApp, PersistentDataIsOneNodePerNameAndNullWithoutAStore)
{
    ASSERT_TRUE(Load(R"(<APP Name="T" HasPersistantDataStore="1"><WINDOW Name="Main"/></APP>)"));
    KPropTree* a = m_App->GetPersistentData(KWString("X"));
    ASSERT_TRUE(a);
    EXPECT_EQ(m_App->GetPersistentData(KWString("X")), a);
    ASSERT_TRUE(Load(R"(<APP Name="T"><WINDOW Name="Main"/></APP>)"));
    EXPECT_EQ(m_App->GetPersistentData(KWString("X")), nullptr);
}

TEST_F(UiApp, StylesExpandInOrderAndBrokenOnesAreScriptErrors)
{
    auto root = Parse(Root(), R"(<R><STYLE StyleName="B" Y="2"/><STYLE StyleName="A" X="1" Style="B"/>
                                 <N Style="A" Z="3"/></R>)");
    ASSERT_TRUE(root);
    ApplyUiStyles(root.get());
    KPropTree* n = root->FindChild(KWString("N"));
    EXPECT_EQ(n->GetInt(KWString("X"), 0), 1);
    EXPECT_EQ(n->GetInt(KWString("Y"), 0), 2);
    EXPECT_EQ(n->GetInt(KWString("Z"), 0), 3);
    struct Case {
        const char* script;
        const char* message;
    } cases[] = {
        {R"(<R><N Style="Nope"/></R>)", "failed to find the referenced STYLE tag 'Nope'"},
        // Defined after the element that names it: not found.
        {R"(<R><N Style="Late"/><STYLE StyleName="Late"/></R>)", "failed to find the referenced STYLE tag 'Late'"},
        {R"(<R><N SwitchedStyle="W"/></R>)", "failed to find the referenced SWITCHED_STYLE tag 'W'"},
        {R"(<R><STYLE StyleName="A" Style="A"/><N Style="A"/></R>)", "recursive STYLE reference 'A'"},
        {R"(<R><SWITCHED_STYLE Name="W" Switch="v"><v SwitchedStyle="W"/></SWITCHED_STYLE><N SwitchedStyle="W"/></R>)",
         "recursive STYLE reference 'W'"},
    };
    for (const Case& c : cases) {
        auto tree = Parse(Root(), c.script);
        ASSERT_TRUE(tree);
        try {
            ApplyUiStyles(tree.get());
            ADD_FAILURE() << c.script;
        } catch (const KExceptionUiScript& e) {
            EXPECT_STREQ(e.GetMessage(), c.message);
        }
    }
}

TEST(UiOsName, VersionTable)
{
    struct Case {
        bool ok;
        uint32_t platform, major, minor;
        const char* csd;
        const char* name;
    } cases[] = {
        {true, 2, 4, 0, "", "WindowsNT"},     {true, 2, 5, 0, "", "Windows2K"},
        {true, 2, 5, 1, "", "WindowsXP"},     {true, 2, 6, 0, "", ""},
        {true, 1, 4, 0, " C", "Windows95_OSR2"}, {true, 1, 4, 0, "", "Windows95"},
        {true, 1, 4, 10, " A", "Windows98_SE"}, {true, 1, 4, 90, "", "WindowsME"},
        {false, 0, 0, 0, "", "Unknown"},
    };
    for (const Case& c : cases) {
        KWString out;
        OsNameFromVersion(c.ok, c.platform, c.major, c.minor, c.csd, out);
        EXPECT_EQ(out, c.name) << c.name;
    }
}
