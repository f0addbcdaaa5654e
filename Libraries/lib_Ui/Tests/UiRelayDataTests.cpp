// Relay data is read only as the type its sender states. A script may wire any event to any command: every
// command of the generic controls that reads data is wired to events of each data type, and only the
// events of its own type change anything; the others hand it no data (a read or write through them would
// be caught here or by the sanitizers).
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "KArray.h"
#include "KGenericUiApp.h"
#include "KGenericUiWindow.h"
#include "KIUiImageSource.h"
#include "KRelayEvent.h"
#include "KStorage.h"
#include "KUiCheckbox.h"
#include "KUiEdit.h"
#include "KUiHVBox.h"
#include "KUiImage.h"
#include "KUiObject.h"
#include "KUiObjectFactory.h"
#include "KUiProgressBar.h"
#include "KUiScrollList.h"
#include "KUiScrollbar.h"
#include "KUiSlider.h"
#include "KUiTextArray.h"
#include "KUiTimer.h"
#include "KUiWindowClass.h"
#include "LumoStorageFixture.h"
#include "LumoTestSupport.h"
#include "PlatformShell.h"
#include "PlatformWindow.h"

namespace fs = std::filesystem;

namespace {

// A 2 x 2 picture for "SetImage".
class TinyPicture : public KIUiImageSource {
public:
    TinyPicture() : m_View(m_Bytes, 2, 2, 8) {}
    const KPixmap_Display* GetDisplayPixmap() override { return &m_View; }

private:
    uint8_t m_Bytes[16] = {0, 0, 255, 255, 0, 0, 255, 255, 0, 0, 255, 255, 0, 0, 255, 255};
    KPixmap_Display m_View;
};

// The events of each data type, each firing its member (so that a query command answers into it). "ON_DATA"
// fires nothing: its relays carry the script's Data and Data2 strings.
const char* const kEvents[] = {"ON_DATA", "ON_TEXT",    "ON_FLAG", "ON_INT",  "ON_INT2",
                               "ON_DOUBLE", "ON_DOUBLE3", "ON_LIST", "ON_IMAGE"};

class Source : public KUiObject {
public:
    Source()
    {
        for (const char* name : kEvents)
            AddEvent(KWString(name));
        list.Add(KWString(u"a"));
        list.Add(KWString(u"b"));
    }
    bool InitUiObject(KIGenericUiApp* application, KIGenericUiWindow* window, KIUiObject* parent,
                      KPropTree* node) override
    {
        KUiObject::InitUiObject(application, window, parent, node);
        return true;
    }
    void Fire(const std::string& name)
    {
        RelayEvent* e = FindEvent(KWString(name.c_str()));
        ASSERT_TRUE(e) << name;
        if (name == "ON_DATA")
            e->Fire(nullptr);
        else if (name == "ON_TEXT")
            e->Fire(&text);
        else if (name == "ON_FLAG")
            e->Fire(&flag);
        else if (name == "ON_INT")
            e->Fire(&number);
        else if (name == "ON_INT2")
            e->Fire(pair);
        else if (name == "ON_DOUBLE")
            e->Fire(&value);
        else if (name == "ON_DOUBLE3")
            e->Fire(triple);
        else if (name == "ON_LIST")
            e->Fire(&list);
        else if (name == "ON_IMAGE")
            e->Fire(static_cast<KIUiImageSource*>(&picture));
    }
    // Every member as text, to see that no command wrote where it should not.
    std::string Snapshot() const
    {
        char buffer[256];
        std::snprintf(buffer, sizeof buffer, "%s|%d|%d|%d,%d|%g|%g,%g,%g|%zu", text.GetAscii(), int(flag),
                      number, pair[0], pair[1], value, triple[0], triple[1], triple[2], list.GetCount());
        return buffer;
    }

    KWString text{u"1"};
    bool flag = true;
    int32_t number = 1;
    int32_t pair[2] = {310, 220};
    double value = 0.5;
    double triple[3] = {10, 4, 3};
    KArray<KWString> list;
    TinyPicture picture;
};

class SourceCreator : public KIUiObjectCreator {
public:
    KIUiObject* Create() override { return new Source; }
};

std::string Num(double v)
{
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%g", v);
    return buffer;
}

const char kScrollSkins[] = R"(_Horizontal="0" Stretch="1" BgColor="#E0E0E0" BgClickColor="#606060" )"
                            R"(File_ButtonANormal="vscroll_a_normal.png" File_ButtonAPressed="vscroll_a_pressed.png" )"
                            R"(File_ButtonBNormal="vscroll_b_normal.png" File_ButtonBPressed="vscroll_b_pressed.png" )"
                            R"(File_Slider="vscroll_thumb.png" File_SliderKnurls="vscroll_knurls.png" )"
                            R"(SliderResizeRect="4, 4, 8, 15")";

class UiRelayTyping : public lumotest::StorageFixture {
protected:
    void SetUp() override
    {
        StorageFixture::SetUp();
        setenv("LUMO_UI", "headless", 1);
        std::string error;
        ASSERT_TRUE(PlatUiStart(error)) << error;
        std::string appData;
        ASSERT_TRUE(PlatGetSpecialFolderPath(PLAT_CSIDL_APPDATA, appData, true));
        for (const char* skin : {"vscroll_a_normal", "vscroll_a_pressed", "vscroll_b_normal", "vscroll_b_pressed",
                                 "vscroll_thumb", "vscroll_knurls", "slider_bg", "slider_knob", "progress_bg",
                                 "progress_fg", "check_on", "check_off"})
            fs::copy_file(std::string(LUMO_BINARY_DIR "/skins/") + skin + ".png", Root() / (std::string(skin) + ".png"),
                          fs::copy_options::overwrite_existing);
    }
    void TearDown() override
    {
        m_App.reset();
        StorageFixture::TearDown();
    }
    // One window "T.Main" holding every target, a class "Dlg" and a timer "T.Tm"; the source "T.Main.Col.Src"
    // has each event wired to message at the absolute path target, "ON_DATA" with Data data and Data2
    // "NoParent".
    bool Load(const std::string& message, const std::string& target, const std::string& data)
    {
        std::string relays;
        for (const char* e : kEvents)
            relays += std::string("<") + e + " Message=\"" + message + "\" Relay=\"" + target + "\"" +
                      (std::string(e) == "ON_DATA" ? " Data=\"" + data + "\" Data2=\"NoParent\"" : "") + "/>";
        const std::string script =
            R"(<APP Name="T"><TIMER Name="Tm"/>)"
            R"(<WINDOWCLASS Name="Dlg" BgColor="#FFFFFF"><RECT MinHSize="5" MinVSize="5" Color="#FF0000"/></WINDOWCLASS>)"
            R"(<WINDOW Name="Main" BgColor="#FFFFFF"><VBOX Name="Col">)"
            "<SOURCE Name=\"Src\">" + relays + "</SOURCE>"
            R"(<PROGRESSBAR Name="Pb" File_BgImage="progress_bg.png" File_FgImage="progress_fg.png"/>)"
            R"(<SLIDER Name="Sl" Font="DejaVu Sans" FontSize="10" FontColor="#000000" File_Image_Bg="slider_bg.png" )"
            R"(File_Image_Knob="slider_knob.png" Lower="0" Upper="10" Step="1" Init="2"/>)"
            "<SCROLLBAR Name=\"Bar\" " + std::string(kScrollSkins) + "/>"
            R"(<TEXTARRAY Name="Arr" NumStrings="2" Font="DejaVu Sans" FontSize="12" Text1="off" Text2="on"/>)"
            R"(<CHECKBOX Name="Chk" File_On="check_on.png" File_Off="check_off.png"/>)"
            R"(<EDIT_BOX Name="Ed" MinHSize="50" HStretch="0" FrameColor="#000000" FrameThickness="1" Font="DejaVu Sans"/>)"
            R"(<HBOX Name="Box"><RECT MinHSize="5" MinVSize="5" HStretch="0" VStretch="0" Color="#00FF00"/></HBOX>)"
            R"(<IMAGE Name="Img"/>)"
            R"(<SCROLLLIST Name="List" Font="DejaVu Sans" FontSize="11" MinHSize="100" MinVSize="120" HStretch="0" VStretch="0" )"
            R"(SelectedFontColor="#FFFFFF" DisabledFontColor="#808080"><SCROLLBAR )" +
            std::string(kScrollSkins) + "/></SCROLLLIST></VBOX></WINDOW></APP>";
        lumotest::WriteText(Root() / "ui.xml", script);
        m_App.reset(CreateGenericUiApp());
        const KWString keyword(u"SOURCE");
        if (!m_App->GetFactory()->Register(&keyword, new SourceCreator))
            return false;
        KWString leaf;
        KIFolder* folder = OpenFolderByURL(RootURL(), leaf, false);
        bool running = false;
        return m_App->LoadUiScript(folder, KWString("ui.xml"), running);
    }

public:
    template <class T = KIUiObject>
    T* Find(const std::string& path)
    {
        return dynamic_cast<T*>(m_App->GetUiRelay(KWString(path.c_str())));
    }

    std::unique_ptr<KGenericUiApp> m_App;
};

}  // namespace

TEST_F(UiRelayTyping, EveryCommandActsOnlyOnDataOfItsOwnType)
{
    using Look = std::function<std::string(UiRelayTyping&)>;
    const Look source = [](UiRelayTyping& t) { return t.Find<Source>("T.Main.Col.Src")->Snapshot(); };
    const Look progress = [](UiRelayTyping& t) { return Num(t.Find<KUiProgressBar>("T.Main.Col.Pb")->GetProgress()); };
    const Look slider = [](UiRelayTyping& t) { return Num(t.Find<KUiSlider>("T.Main.Col.Sl")->GetPosition()); };
    const Look bar = [](UiRelayTyping& t) {
        auto* b = t.Find<KUiScrollbar>("T.Main.Col.Bar");
        return Num(b->GetTotal()) + "," + Num(b->GetPage()) + "," + Num(b->GetPosition());
    };
    const Look array = [](UiRelayTyping& t) { return Num(t.Find<KUiTextArray>("T.Main.Col.Arr")->GetIndex()); };
    const Look check = [](UiRelayTyping& t) { return Num(t.Find<KUiCheckbox>("T.Main.Col.Chk")->GetState()); };
    const Look edit = [](UiRelayTyping& t) { return t.Find<KUiEdit>("T.Main.Col.Ed")->GetText().GetAscii(); };
    const Look box = [](UiRelayTyping& t) { return Num(t.Find<KUiHVBox>("T.Main.Col.Box")->IsCollapsed()); };
    const Look image = [](UiRelayTyping& t) { return Num(t.Find<KUiImage>("T.Main.Col.Img")->GetImage() != nullptr); };
    const Look list = [](UiRelayTyping& t) { return Num(t.Find<KUiScrollList>("T.Main.Col.List")->GetItemCount()); };
    const Look dialog = [](UiRelayTyping& t) {
        return Num(t.m_App->GetFirstWindowClass()->GetFrontWindow() != nullptr);
    };
    const Look place = [](UiRelayTyping& t) {
        KRect r;
        t.m_App->GetFirstWindow()->GetWindowRect(r);
        return Num(r.left) + "," + Num(r.top) + "," + Num(r.Width()) + "," + Num(r.Height());
    };
    // Starts the timer: it runs only once "SetTimer" gave it a period longer than its tick.
    const Look timer = [](UiRelayTyping& t) {
        auto* tm = t.Find<KUiTimer>("T.Tm");
        tm->UiRelayMessage(KWString(u"Begin"), nullptr);
        return Num(tm->IsRunning());
    };

    const struct {
        const char* message;
        const char* target;
        std::set<std::string> own;  // the events of the command's type: each changes what look sees
        Look look;
        const char* before;  // a direct command to the target before the events, or ""
        const char* data = "1";  // the Data string of the "ON_DATA" relay
    } cases[] = {
        {"Progress", "T.Main.Col.Pb", {"ON_DOUBLE"}, progress, ""},
        {"Set", "T.Main.Col.Sl", {"ON_DOUBLE"}, slider, ""},
        {"SetWithNoUpdate", "T.Main.Col.Sl", {"ON_DOUBLE"}, slider, ""},
        {"GetValue", "T.Main.Col.Sl", {"ON_DOUBLE"}, source, ""},
        {"Set", "T.Main.Col.Bar", {"ON_DOUBLE3"}, bar, ""},
        {"StringNum", "T.Main.Col.Arr", {"ON_INT"}, array, ""},
        {"StrStringNum", "T.Main.Col.Arr", {"ON_TEXT", "ON_DATA"}, array, ""},
        {"BoolString", "T.Main.Col.Arr", {"ON_FLAG"}, array, ""},
        {"SetState", "T.Main.Col.Chk", {"ON_FLAG"}, check, ""},
        {"StateQuery", "T.Main.Col.Chk", {"ON_FLAG"}, source, ""},
        {"SetText", "T.Main.Col.Ed", {"ON_TEXT", "ON_DATA"}, edit, ""},
        {"GetText", "T.Main.Col.Ed", {"ON_TEXT"}, source, ""},
        {"Visibility", "T.Main.Col.Box", {"ON_FLAG"}, box, "HideChildren"},
        {"SetImage", "T.Main.Col.Img", {"ON_IMAGE"}, image, ""},
        {"NewList", "T.Main.Col.List", {"ON_LIST"}, list, ""},
        {"AddToListWithID", "T.Main.Col.List", {"ON_DATA"}, list, ""},
        {"Move", "T.Main", {"ON_INT2"}, place, ""},
        {"Resize", "T.Main", {"ON_INT2"}, place, ""},
        {"SetTimer", "T.Tm", {"ON_INT2"}, timer, ""},
        {"CreateWindow", "T", {"ON_DATA"}, dialog, "", "Dlg"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.message) + " to " + c.target);
        const auto load = [&] {
            if (!Load(c.message, c.target, c.data))
                return false;
            return !*c.before || Find(c.target)->UiRelayMessage(KWString(c.before), nullptr);
        };
        ASSERT_TRUE(load());
        auto* src = Find<Source>("T.Main.Col.Src");
        ASSERT_TRUE(src);
        const std::string start = c.look(*this), data = src->Snapshot();
        // Every event of another type: nothing happens, and nothing is written into the source's data.
        for (const char* e : kEvents) {
            if (c.own.count(e))
                continue;
            src->Fire(e);
            EXPECT_EQ(c.look(*this), start) << e;
            EXPECT_EQ(src->Snapshot(), data) << e;
        }
        // Each event of its own type is carried out.
        for (const std::string& e : c.own) {
            ASSERT_TRUE(load());
            Find<Source>("T.Main.Col.Src")->Fire(e);
            EXPECT_NE(c.look(*this), start) << e;
        }
    }
}

TEST(UiRelayDataAccess, TheInnermostStatementOfAPointerDecides)
{
    double one = 1, three[3] = {1, 2, 3};
    KWString texts[2] = {KWString(u"a"), KWString(u"b")};
    const double fixed = 2;

    // Unstated data is read as asked; null is never read.
    EXPECT_EQ(UiRelayData<double>(&one), &one);
    EXPECT_EQ(UiRelayData<double>(nullptr), nullptr);
    bool flag = false;
    EXPECT_FALSE(UiRelayFlag(nullptr, flag));
    {
        const KUiRelayDataScope stated(&one);
        EXPECT_EQ(UiRelayData<double>(&one), &one);
        EXPECT_EQ(UiRelayResult<double>(&one), &one);
        EXPECT_EQ(UiRelayData<double>(&one, 3), nullptr);
        EXPECT_EQ(UiRelayData<int32_t>(&one), nullptr);
        EXPECT_EQ(UiRelayData<bool>(&one), nullptr);
        EXPECT_FALSE(UiRelayFlag(&one, flag));
        EXPECT_EQ(UiRelayObject<KIUiImageSource>(&one), nullptr);
        {
            // A nested delivery of other data leaves this one as stated; one of the same pointer restates it.
            const KUiRelayDataScope inner(three, 3);
            EXPECT_EQ(UiRelayData<double>(three, 3), three);
            EXPECT_EQ(UiRelayData<double>(three), nullptr);
            EXPECT_EQ(UiRelayData<double>(&one), &one);
            const KUiRelayDataScope again(reinterpret_cast<int32_t*>(&one), 2);
            EXPECT_EQ(UiRelayData<double>(&one), nullptr);
        }
        EXPECT_EQ(UiRelayData<double>(&one), &one);
    }
    {
        // Read-only data is never answered into.
        const KUiRelayDataScope stated(&fixed);
        EXPECT_EQ(UiRelayData<double>(&fixed), &fixed);
        EXPECT_EQ(UiRelayResult<double>(const_cast<double*>(&fixed)), nullptr);
    }
    {
        // A pair of texts serves a command of one text; one text does not serve a command of two.
        const KUiRelayDataScope pair(texts, 2);
        EXPECT_EQ(UiRelayData<KWString>(texts), texts);
        EXPECT_EQ(UiRelayData<KWString>(texts, 2), texts);
        const KUiRelayDataScope single(&texts[1]);
        EXPECT_EQ(UiRelayData<KWString>(&texts[1], 2), nullptr);
    }
    {
        // A flag is a bool or a byte, read as not zero.
        unsigned char byte = 2;
        const KUiRelayDataScope stated(&byte);
        EXPECT_TRUE(UiRelayFlag(&byte, flag));
        EXPECT_TRUE(flag);
        EXPECT_EQ(UiRelayData<bool>(&byte), nullptr);
    }
}
