#pragma once
// A scratch machine with one script window on the headless backend, and pictures written as PNG files beside
// the script, for the tests of the picture, text and button controls.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "KGenericUiApp.h"
#include "KGenericUiWindow.h"
#include "KPNGWriter.h"
#include "KPixmapDisplay.h"
#include "KPropTree.h"
#include "KStorage.h"
#include "KTextFunctions.h"
#include "KUiObject.h"
#include "KUiObjectFactory.h"
#include "LumoStorageFixture.h"
#include "LumoTestSupport.h"
#include "PlatformShell.h"
#include "PlatformWindow.h"

namespace uitest {

using Rgb = std::array<int, 3>;
// r, g, b, a.
using Rgba = std::array<int, 4>;

inline const Rgb kWhite{255, 255, 255};
inline const Rgb kRed{255, 0, 0};
inline const Rgb kGreen{0, 255, 0};
inline const Rgb kBlue{0, 0, 255};

// "LOG": a test-only object of no size that records the messages sent to it; for the messages listed in its
// "Bytes" ("A,B"), the byte its data points to is recorded too ("ON_STATE 1").
class MessageLog : public KUiObject {
public:
    explicit MessageLog(std::vector<std::string>* log) : m_pLog(log) {}
    bool InitUiObject(KIGenericUiApp* a, KIGenericUiWindow* w, KIUiObject* p, KPropTree* n) override
    {
        KUiObject::InitUiObject(a, w, p, n);
        m_Bytes = "," + WideToUtf8(n->GetString(KWString("Bytes"), KWString())) + ",";
        return true;
    }
    bool UiRelayMessage(const KWString& message, void* data) override
    {
        const std::string m = WideToUtf8(message);
        if (m == "Post Creation Initialization" || m == "we're goin' bye-bye")
            return true;
        if (data && m_Bytes.find("," + m + ",") != std::string::npos)
            m_pLog->push_back(m + " " + std::to_string(*static_cast<const uint8_t*>(data)));
        else
            m_pLog->push_back(m);
        return true;
    }

private:
    std::vector<std::string>* m_pLog;
    std::string m_Bytes;
};

class MessageLogCreator : public KIUiObjectCreator {
public:
    explicit MessageLogCreator(std::vector<std::string>* log) : m_pLog(log) {}
    KIUiObject* Create() override { return new MessageLog(m_pLog); }

private:
    std::vector<std::string>* m_pLog;
};

// Equal within 2 on every channel (the stretching copy rounds).
inline bool Near(const Rgb& a, const Rgb& b)
{
    for (int i = 0; i < 3; ++i)
        if (a[i] - b[i] > 2 || b[i] - a[i] > 2)
            return false;
    return true;
}

class PictureFixture : public lumotest::StorageFixture {
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
    // A width x height picture whose pixel (x, y) is colour(x, y), as name beside the script.
    void Picture(const std::string& name, int32_t width, int32_t height,
                 const std::function<Rgba(int32_t, int32_t)>& colour)
    {
        std::vector<uint8_t> bytes(size_t(width) * height * 4);
        for (int32_t y = 0; y < height; ++y)
            for (int32_t x = 0; x < width; ++x) {
                const Rgba c = colour(x, y);
                uint8_t* p = &bytes[(size_t(y) * width + x) * 4];
                p[0] = uint8_t(c[2]);
                p[1] = uint8_t(c[1]);
                p[2] = uint8_t(c[0]);
                p[3] = uint8_t(c[3]);
            }
        KPixmap_Display view(bytes.data(), width, height, width * 4);
        SavePNGPixmap(view, URL(name));
    }
    // One colour with the n x n corners transparent.
    void CornerPicture(const std::string& name, int32_t width, int32_t height, Rgb c, int32_t n)
    {
        Picture(name, width, height, [=](int32_t x, int32_t y) {
            const bool corner = (x < n || x >= width - n) && (y < n || y >= height - n);
            return corner ? Rgba{0, 0, 0, 0} : Rgba{c[0], c[1], c[2], 255};
        });
    }
    // Loads a script of one window "T.Main" with a white background around body.
    bool Load(const std::string& body, const std::string& head = "", const std::string& tail = "")
    {
        lumotest::WriteText(Root() / "ui.xml", "<APP Name=\"T\">" + head +
                                                   R"(<WINDOW Name="Main" BgColor="#FFFFFF">)" + body +
                                                   "</WINDOW>" + tail + "</APP>");
        m_App.reset(CreateGenericUiApp());
        m_Log.clear();
        static const KWString log("LOG");
        auto* creator = new MessageLogCreator(&m_Log);
        if (!m_App->GetFactory()->Register(&log, creator))
            delete creator;
        KWString leaf;
        KIFolder* folder = OpenFolderByURL(RootURL(), leaf, false);
        bool running = false;
        return m_App->LoadUiScript(folder, KWString("ui.xml"), running);
    }
    KGenericUiWindow* Window() { return static_cast<KGenericUiWindow*>(m_App->GetFirstWindow()); }
    PlatHWND Handle() { return *static_cast<PlatHWND*>(Window()->GetAttribute(1)); }
    template <class T = KIUiObject>
    T* Find(const std::string& path)
    {
        return dynamic_cast<T*>(m_App->GetUiRelay(KWString(("T.Main." + path).c_str())));
    }
    void Resize(int32_t width, int32_t height)
    {
        ASSERT_TRUE(PlatSetWindowPos(Handle(), 0, 0, width, height, PLAT_SWP_NOMOVE | PLAT_SWP_NOZORDER));
        Window()->RedrawIfDirty();
    }
    KRect WindowRect()
    {
        KRect r;
        Window()->GetWindowRect(r);
        return r;
    }
    Rgb Pixel(int32_t x, int32_t y)
    {
        Window()->RedrawIfDirty();
        int32_t w = 0, h = 0;
        const uint8_t* p = PlatGetWindowPixels(Handle(), w, h);
        if (!p || x < 0 || y < 0 || x >= w || y >= h)
            return {-1, -1, -1};
        const uint8_t* q = p + (static_cast<size_t>(y) * w + x) * 4;
        return {q[2], q[1], q[0]};
    }
    // Sends message with data to the object at path; its answer.
    bool Send(const std::string& path, const char* message, void* data = nullptr)
    {
        KIUiRelay* target = m_App->GetUiRelay(KWString(("T.Main." + path).c_str()));
        EXPECT_TRUE(target) << path;
        return target && target->UiRelayMessage(KWString(message), data);
    }
    static KRect RectOf(KIUiObject* o) { return o ? *o->GetRect() : KRect(-1, -1, -1, -1); }

    // What the "LOG" objects recorded, and then forgets it.
    std::vector<std::string> TakeLog()
    {
        std::vector<std::string> out;
        out.swap(m_Log);
        return out;
    }

    std::vector<std::string> m_Log;
    std::unique_ptr<KGenericUiApp> m_App;
};

// English (the default) and German, and a display font for the texts of the scripts.
inline std::string Fonts()
{
    return R"(<LANGUAGES><LANGUAGE Name="English" Default="1"/><LANGUAGE Name="German"/></LANGUAGES><FONTS><APPFONT Name="Plain"><MSWFONT><English Fontname="DejaVu Sans" Height="12"/>
              <German Fontname="DejaVu Sans" Height="12"/></MSWFONT></APPFONT></FONTS>)";
}

}  // namespace uitest
