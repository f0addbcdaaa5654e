// Input routing of a window and window classes, called directly on the application's windows over the headless
// backend, with objects that record what reaches them.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "KGenericUiApp.h"
#include "KGenericUiWindow.h"
#include "KPropTree.h"
#include "KStorage.h"
#include "KTextFunctions.h"
#include "KUiObject.h"
#include "KUiObjectFactory.h"
#include "KPixmapDisplay.h"
#include "KUiWindowClass.h"
#include "KWinUiWindow.h"
#include "LumoStorageFixture.h"
#include "LumoTestSupport.h"
#include "PlatformWindow.h"

namespace {

std::vector<std::string> g_Log;

// Takes its rectangle from "Rect" and logs the input and messages it gets as "Name Call".
class Recorder : public KUiObject {
public:
    bool InitUiObject(KIGenericUiApp* a, KIGenericUiWindow* w, KIUiObject* p, KPropTree* n) override
    {
        KUiObject::InitUiObject(a, w, p, n);
        n->GetRect(m_Fixed, KWString("Rect"), KRect(0, 0, 10, 10));
        m_Rect = m_Fixed;
        m_HLayout.SetMinimumSize(n->GetInt(KWString("MinHSize"), 5));
        m_VLayout.SetMinimumSize(n->GetInt(KWString("MinVSize"), 5));
        return true;
    }
    bool SetRect(int32_t, int32_t, int32_t, int32_t) override
    {
        m_Rect = m_Fixed;
        return true;
    }
    KIUiObject* HitTest(int32_t x, int32_t y) override
    {
        return x >= m_Rect.left && x < m_Rect.right && y >= m_Rect.top && y < m_Rect.bottom ? this : nullptr;
    }
    bool UiRelayMessage(const KWString& message, void* data) override
    {
        if (message == "Open" && data) {
            const auto* path = static_cast<const KWString*>(data);
            Log("Open " + std::to_string(path->GetLength()) + " " + WideToUtf8(KWString(std::u16string_view(path->Str()).substr(0, 3))));
            return true;
        }
        // The window the message reached, for telling instances apart.
        Log(WideToUtf8(message) + "@" + std::to_string(reinterpret_cast<uintptr_t>(m_pWindow)));
        return true;
    }
    bool MouseDown(int32_t x, int32_t y, bool, bool) override
    {
        Log("MouseDown");
        return true;
    }
    void MouseUp(int32_t, int32_t, bool, bool) override { Log("MouseUp"); }
    void MouseEnter(int32_t, int32_t) override { Log("MouseEnter"); }
    void MouseLeave(int32_t, int32_t) override { Log("MouseLeave"); }
    void MouseWheel(int32_t, int32_t, int32_t, int32_t b) override { Log("MouseWheel " + std::to_string(b)); }
    void LoseFocus() override { Log("LoseFocus"); }
    void PopupClosed() override { Log("PopupClosed"); }
    void PopupOpened() override { Log("PopupOpened"); }
    void KeyDown(int code, bool, bool) override { Log("KeyDown " + std::to_string(code)); }

private:
    void Log(const std::string& what) { g_Log.push_back(WideToUtf8(m_Name) + " " + what); }
    KRect m_Fixed;
};

class RecorderCreator : public KIUiObjectCreator {
public:
    KIUiObject* Create() override { return new Recorder; }
};

class UiInput : public lumotest::StorageFixture {
protected:
    void SetUp() override
    {
        StorageFixture::SetUp();
        setenv("LUMO_UI", "headless", 1);
        std::string error;
        ASSERT_TRUE(PlatUiStart(error)) << error;
        g_Log.clear();
    }
    void TearDown() override
    {
        m_App.reset();
        DeleteClosedUiWindows();
        StorageFixture::TearDown();
    }
    void Load(const std::string& text)
    {
        lumotest::WriteText(Root() / "ui.xml", text);
        m_App.reset(CreateGenericUiApp());
        static const KWString keyword("REC");
        auto* creator = new RecorderCreator;
        if (!m_App->GetFactory()->Register(&keyword, creator))
            delete creator;
        KWString leaf;
        bool running = false;
        ASSERT_TRUE(m_App->LoadUiScript(OpenFolderByURL(RootURL(), leaf, false), KWString("ui.xml"), running));
        g_Log.clear();
    }
    KGenericUiWindow* Window() { return static_cast<KGenericUiWindow*>(m_App->GetFirstWindow()); }
    KIUiObject* Object(const char* path)
    {
        return dynamic_cast<KIUiObject*>(m_App->GetUiRelay(KWString(path)));
    }

    std::unique_ptr<KGenericUiApp> m_App;
};

const char kTwoObjects[] = R"(<APP Name="T"><WINDOW Name="Main" BgColor="#000000">
    <REC Name="A" Rect="0, 0, 49, 49" MinHSize="200" MinVSize="100"/><REC Name="B" Rect="50, 0, 99, 49"/>
    <REC Name="P" Rect="0, 60, 49, 99"/></WINDOW></APP>)";

}  // namespace

TEST_F(UiInput, PressOutsideThePopupClosesItAndStillReachesTheObject)
{
    Load(kTwoObjects);
    KGenericUiWindow* w = Window();
    w->SetPopup(Object("T.Main.P"), true);
    EXPECT_TRUE(w->MouseDown(0, 10, 10, false, false));
    EXPECT_EQ(g_Log, (std::vector<std::string>{"P PopupOpened", "A MouseEnter", "P PopupClosed", "A MouseDown"}));
    // Closing a popup that is not open does nothing.
    g_Log.clear();
    w->SetPopup(Object("T.Main.P"), false);
    EXPECT_TRUE(g_Log.empty());
}

TEST_F(UiInput, OtherButtonsRecordThePressWithoutTellingTheObject)
{
    Load(kTwoObjects);
    KGenericUiWindow* w = Window();
    EXPECT_FALSE(w->MouseDown(1, 10, 10, false, false));
    EXPECT_FALSE(w->MouseDown(2, 10, 10, false, false));
    w->MouseUp(1, 10, 10, false, false);
    EXPECT_EQ(g_Log, std::vector<std::string>{"A MouseEnter"});
    // Nothing under the mouse: no object takes the press.
    EXPECT_FALSE(w->MouseDown(0, 150, 80, false, false));
}

TEST_F(UiInput, CaptureAndFocusBelongToOneObject)
{
    Load(kTwoObjects);
    KGenericUiWindow* w = Window();
    KIUiObject *a = Object("T.Main.A"), *b = Object("T.Main.B");
    EXPECT_TRUE(w->SetMouseCapture(a, true));
    EXPECT_FALSE(w->SetMouseCapture(b, true));
    EXPECT_FALSE(w->SetMouseCapture(b, false));
    EXPECT_FALSE(w->SetMouseCapture(nullptr, true));
    // The wheel goes to the capture, wherever the mouse is.
    w->MouseWheel(60, 10, 0, -1);
    EXPECT_TRUE(w->SetMouseCapture(a, false));
    w->MouseWheel(60, 10, 0, 2);
    EXPECT_EQ(g_Log, (std::vector<std::string>{"B MouseEnter", "A MouseWheel -1", "B MouseWheel 2"}));

    g_Log.clear();
    EXPECT_TRUE(w->SetKeyboardFocus(a, true));
    EXPECT_TRUE(w->SetKeyboardFocus(b, true));
    EXPECT_TRUE(w->SetKeyboardFocus(b, true));
    EXPECT_FALSE(w->SetKeyboardFocus(a, false));
    w->KeyDown('x', false, false);
    EXPECT_TRUE(w->SetKeyboardFocus(b, false));
    w->KeyDown('y', false, false);
    EXPECT_EQ(g_Log, (std::vector<std::string>{"A LoseFocus", "B LoseFocus", "B KeyDown 120", "B LoseFocus"}));
}

TEST_F(UiInput, DisabledChildrenIgnoreTheMouse)
{
    Load(kTwoObjects);
    KGenericUiWindow* w = Window();
    w->MouseDown(0, 10, 10, false, false);
    g_Log.clear();
    w->SetChildrenEnabled(false);
    EXPECT_EQ(g_Log, std::vector<std::string>{"A MouseUp"});
    g_Log.clear();
    w->MouseMove(60, 10);
    EXPECT_FALSE(w->MouseDown(0, 60, 10, false, false));
    EXPECT_TRUE(g_Log.empty());
}

const char kClass[] = R"(<APP Name="T"><WINDOW Name="Main"/>
    <WINDOWCLASS Name="Dlg"><REC Name="R"/>
    <ON_BEEN_HIDDEN LocalRelay="R" Message="Hidden"/></WINDOWCLASS><WINDOWCLASS/></APP>)";

TEST_F(UiInput, ClassesKeepTheirInstancesFrontToBack)
{
    Load(kClass);
    KUiWindowClass* c = m_App->GetFirstWindowClass();
    ASSERT_TRUE(c && c->GetNext());
    EXPECT_EQ(c->GetNext()->CreateWindow(KWString(""), nullptr), nullptr);  // a class without a name makes none
    EXPECT_EQ(c->CreateWindow(KWString("Other"), nullptr), nullptr);
    KIGenericUiWindow* b = c->CreateWindow(KWString("Dlg"), nullptr);
    KIGenericUiWindow* a = c->CreateWindow(KWString("Dlg"), nullptr);
    ASSERT_TRUE(a && b);
    EXPECT_EQ(c->GetFrontWindow(), a);
    c->BringToFront(b);
    EXPECT_EQ(c->GetFrontWindow(), b);
    EXPECT_EQ(b->GetNextWindow(), a);
    EXPECT_EQ(a->GetPreviousWindow(), b);
    c->CloseWindow(b);
    EXPECT_EQ(c->GetFrontWindow(), a);
    EXPECT_EQ(a->GetPreviousWindow(), nullptr);
    c->CloseWindow(b);  // no longer listed: nothing
    DeleteClosedUiWindows();
    EXPECT_EQ(c->GetFrontWindow(), a);
    EXPECT_EQ(a->GetNextWindow(), nullptr);
}

TEST_F(UiInput, DynamicRelaysReachTheInstances)
{
    Load(kClass);
    KIUiRelay* top = m_App->GetUiRelay(KWString("T.Dlg.Top"));
    ASSERT_TRUE(top);
    EXPECT_EQ(m_App->GetUiRelay(KWString("T.Dlg.Top")), top);
    EXPECT_EQ(m_App->GetUiRelay(KWString("T.Dlg")), nullptr);
    EXPECT_FALSE(top->UiRelayMessage(KWString("Hide"), nullptr));  // no instance yet

    KUiWindowClass* c = m_App->GetFirstWindowClass();
    KIGenericUiWindow* back = c->CreateWindow(KWString("Dlg"), nullptr);
    KIGenericUiWindow* front = c->CreateWindow(KWString("Dlg"), nullptr);
    ASSERT_TRUE(back && front);
    g_Log.clear();
    // "Hide" to all: the back instance first, the front one last; other messages front first.
    const std::string at = "@" + std::to_string(reinterpret_cast<uintptr_t>(back));
    const std::string af = "@" + std::to_string(reinterpret_cast<uintptr_t>(front));
    EXPECT_TRUE(m_App->GetUiRelay(KWString("T.Dlg.All.R"))->UiRelayMessage(KWString("Ping"), nullptr));
    EXPECT_EQ(g_Log, (std::vector<std::string>{"R Ping" + af, "R Ping" + at}));
    g_Log.clear();
    EXPECT_TRUE(m_App->GetUiRelay(KWString("T.Dlg.All"))->UiRelayMessage(KWString("Hide"), nullptr));
    EXPECT_EQ(g_Log, (std::vector<std::string>{"R Hidden" + at, "R Hidden" + af}));
    EXPECT_FALSE(PlatIsWindowVisible(*static_cast<PlatHWND*>(back->GetAttribute(1))));
    EXPECT_FALSE(PlatIsWindowVisible(*static_cast<PlatHWND*>(front->GetAttribute(1))));
    EXPECT_EQ(c->GetFrontWindow(), front);
    // A path below Top with no such object is handled and sends nothing.
    g_Log.clear();
    EXPECT_TRUE(m_App->GetUiRelay(KWString("T.Dlg.Top.OK"))->UiRelayMessage(KWString("X"), nullptr));
    EXPECT_TRUE(g_Log.empty());
    EXPECT_FALSE(m_App->GetUiRelay(KWString("T.Dlg.Some.R"))->UiRelayMessage(KWString("X"), nullptr));
}

TEST_F(UiInput, AClosedModalInstanceLeavesTheModalStack)
{
    Load(R"(<APP Name="T"><WINDOW Name="Main"/><WINDOWCLASS Name="Dlg" _Modal="1"/></APP>)");
    KUiWindowClass* c = m_App->GetFirstWindowClass();
    KIGenericUiWindow* a = c->CreateWindow(KWString("Dlg"), nullptr);
    KIGenericUiWindow* b = c->CreateWindow(KWString("Dlg"), nullptr);
    ASSERT_TRUE(a && b);
    // The lower one closes itself; once it is gone, the stack never reaches it again.
    EXPECT_TRUE(a->UiRelayMessage(KWString("InternalClose"), nullptr));
    DeleteClosedUiWindows();
    m_App->SetModalWindow(b);
    m_App->SetModalWindow(nullptr);
    EXPECT_EQ(c->GetFrontWindow(), b);
    EXPECT_TRUE(PlatIsWindowEnabled(*static_cast<PlatHWND*>(Window()->GetAttribute(1))));
}

TEST(UiCursor, MasksOfA16By16Picture)
{
    // Row 0: an opaque white, an opaque black, a half-transparent white and a clear pixel; pixel 15 of row 15
    // opaque white.
    std::vector<uint8_t> pixels(16 * 16 * 4, 0);
    auto set = [&pixels](int x, int y, uint8_t grey, uint8_t alpha) {
        uint8_t* p = &pixels[(static_cast<size_t>(y) * 16 + x) * 4];
        p[0] = p[1] = p[2] = grey;
        p[3] = alpha;
    };
    set(0, 0, 255, 255);
    set(1, 0, 0, 255);
    set(2, 0, 255, 128);
    set(15, 15, 200, 129);
    KPixmap_Display view(pixels.data(), 16, 16, 16 * 4);
    uint8_t andMask[128], xorMask[128];
    MakeCursorMasks(&view, andMask, xorMask);
    EXPECT_EQ(andMask[0], 0x3F);
    EXPECT_EQ(xorMask[0], 0x80);
    EXPECT_EQ(andMask[15 * 4 + 1], 0xFE);
    EXPECT_EQ(xorMask[15 * 4 + 1], 0x01);
    // Everything outside the picture's corner lets the screen through.
    for (int i = 0; i < 128; ++i)
        if (i != 0 && i != 15 * 4 + 1) {
            EXPECT_EQ(andMask[i], 0xFF) << i;
            EXPECT_EQ(xorMask[i], 0) << i;
        }
}

TEST_F(UiInput, HandedOverTextEndsAtItsZeroUnitAndIsBounded)
{
    Load(R"(<APP Name="T"><ON_OPEN_PATH_EVENT Relay="T.Main.R" Message="Open"/>
        <WINDOW Name="Main"><REC Name="R"/></WINDOW></APP>)");
    PlatHWND h = *static_cast<PlatHWND*>(Window()->GetAttribute(1));
    auto send = [h](const std::u16string& units) {
        PlatSendMessage(h, KHANDOVER_START, 0, 0);
        for (char16_t u : units)
            PlatSendMessage(h, KHANDOVER_UNIT, u, 0);
        PlatSendMessage(h, KHANDOVER_END, 0, 0);
    };
    send(std::u16string(u"abc") + char16_t(0));
    send(std::u16string(40000, u'x') + char16_t(0));
    // A second start clears what an unfinished hand-over left.
    PlatSendMessage(h, KHANDOVER_START, 0, 0);
    PlatSendMessage(h, KHANDOVER_UNIT, u'q', 0);
    send(u"de");
    EXPECT_EQ(g_Log, (std::vector<std::string>{"R Open 3 abc", "R Open 32768 xxx", "R Open 2 de"}));
}
