// Device notification through the library: the system's (user32) on Windows 2000, the library's own watcher of
// the notification key on Windows NT 4, and the NT 4 device list.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "OstraFixture.h"
#include "OstraNames.h"
#include "PlatformOS.h"
#include "PlatformRegistry.h"
#include "PlatformUser32.h"
#include "PlatformWindow.h"

using ostratest::OstraTest;

namespace {

struct Seen {
    uint32_t event;
    uint32_t size;
    uint32_t type;
    PlatGuid guid;
    std::string name;
};

std::vector<Seen> g_Seen;
// Run by the window on the first message, while the sender waits for it.
std::function<void()> g_OnFirst;

intptr_t Recorder(PlatHWND, uint32_t message, uintptr_t wParam, intptr_t lParam)
{
    if (message == PLAT_WM_DEVICECHANGE && lParam) {
        const auto* r = reinterpret_cast<const PlatDevBroadcastDeviceInterface*>(lParam);
        g_Seen.push_back({static_cast<uint32_t>(wParam), r->size, r->deviceType, r->classGuid, r->name});
        if (g_Seen.size() == 1 && g_OnFirst)
            g_OnFirst();
    }
    return 0;
}

const std::string kNt4Name = "{3219D400-E372-4B5D-AB0F-D2594CD9084D}#KUSB";

class OstraNotify : public OstraTest {
protected:
    void SetUp() override
    {
        OstraTest::SetUp();
        reg = reinterpret_cast<decltype(reg)>(PlatGetProcAddress(o.module, "OstraRegisterDeviceNotification"));
        unreg = reinterpret_cast<decltype(unreg)>(PlatGetProcAddress(o.module, "OstraUnregisterDeviceNotification"));
        ASSERT_TRUE(reg && unreg);
        PlatWindowDesc desc;
        desc.messageOnly = true;
        desc.procedure = Recorder;
        window = PlatCreateWindow(desc);
        ASSERT_NE(window, nullptr);
        g_Seen.clear();
        g_OnFirst = nullptr;
    }
    void TearDown() override
    {
        g_OnFirst = nullptr;
        PlatDestroyWindow(window);
        OstraTest::TearDown();
    }

    void* Register(uint32_t type = PLAT_DBT_DEVTYP_DEVICEINTERFACE)
    {
        PlatDevBroadcastDeviceInterface filter{};
        filter.size = sizeof filter;
        filter.deviceType = type;
        filter.classGuid = CameraClass();
        return reg(window, &filter, 0);
    }
    // Runs what is sent to the window until count messages came (or 30 s went).
    bool WaitFor(size_t count)
    {
        for (int i = 0; i < 3000 && g_Seen.size() < count; ++i)
            PlatMsgWaitForSingleObject(nullptr, 10);
        return g_Seen.size() >= count;
    }
    void Plug(simcam::Plug plug)
    {
        std::string error;
        ASSERT_TRUE(simcam::PlugCamera("c1", plug, &error)) << error;
    }
    static void SetValue(const std::string& name)
    {
        PlatHKEY key = nullptr;
        ASSERT_EQ(PlatRegCreateKeyEx(PLAT_HKEY_LOCAL_MACHINE, ostra::kNotificationKey, 0, PLAT_KEY_ALL_ACCESS, &key,
                                     nullptr),
                  0);
        ASSERT_EQ(PlatRegSetValueEx(key, name.c_str(), PLAT_REG_SZ, "x", 2), 0);
        PlatRegCloseKey(key);
    }
    static void DeleteValue(const std::string& name)
    {
        PlatHKEY key = nullptr;
        ASSERT_EQ(PlatRegOpenKeyEx(PLAT_HKEY_LOCAL_MACHINE, ostra::kNotificationKey, 0, PLAT_KEY_ALL_ACCESS, &key), 0);
        ASSERT_EQ(PlatRegDeleteValue(key, name.c_str()), 0);
        PlatRegCloseKey(key);
    }

    void* (*reg)(PlatWindow*, const void*, uint32_t) = nullptr;
    int32_t (*unreg)(void*) = nullptr;
    PlatHWND window = nullptr;
};

}  // namespace

TEST(OstraNames, GuidAtTheStartOfAValueName)
{
    struct Case {
        const char* name;
        bool ok;
    };
    const Case cases[] = {
        {"{3219D400-E372-4B5D-AB0F-D2594CD9084D}#KUSB0", true},
        {"{3219d400-e372-4b5d-ab0f-d2594cd9084d}", true},
        {"{3219D400-E372-4B5D-AB0F-D2594CD9084}#KUSB0", false},   // node one digit short
        {"{3219D400-E372-4B5D-AB0F-D2594CD9084DA}", false},       // one too many
        {"{3219D400-E372-4B5D-AB0G-D2594CD9084D}", false},        // not hexadecimal
        {"{3219D400-E372-4B5D-AB-F-D2594CD9084D}", false},
        {"3219D400-E372-4B5D-AB0F-D2594CD9084D", false},
        {"{3219D400-E372-4B5D-AB0F-D2594CD9084D", false},
        {"", false},
    };
    for (const Case& c : cases) {
        PlatGuid g{};
        EXPECT_EQ(ostra::ParseNotificationName(c.name, &g), c.ok) << c.name;
        if (c.ok) {
            EXPECT_TRUE(g == (PlatGuid{0x3219D400, 0xE372, 0x4B5D, {0xAB, 0x0F, 0xD2, 0x59, 0x4C, 0xD9, 0x08, 0x4D}}))
                << c.name;
        }
    }
}

TEST_F(OstraNotify, Windows2000PassesTheRequestToTheSystem)
{
    ASSERT_TRUE(PlatSetOsName("Windows2K"));
    void* handle = Register();
    ASSERT_NE(handle, nullptr);
    Plug(simcam::Plug::None);
    ASSERT_TRUE(WaitFor(1));
    Plug(simcam::Plug::Usb);
    ASSERT_TRUE(WaitFor(2));
    ASSERT_EQ(g_Seen.size(), 2u);
    EXPECT_EQ(g_Seen[0].event, PLAT_DBT_DEVICEREMOVECOMPLETE);
    EXPECT_EQ(g_Seen[1].event, PLAT_DBT_DEVICEARRIVAL);
    for (const Seen& s : g_Seen) {
        EXPECT_EQ(s.type, PLAT_DBT_DEVTYP_DEVICEINTERFACE);
        EXPECT_TRUE(s.guid == CameraClass());
        EXPECT_NE(s.name.find("#{3219d400-e372-4b5d-ab0f-d2594cd9084d}"), std::string::npos) << s.name;
        EXPECT_EQ(s.size, 28 + s.name.size() + 1);
    }
    EXPECT_EQ(unreg(handle), 1);
    EXPECT_EQ(unreg(handle), 0);
    EXPECT_EQ(unreg(nullptr), 0);
    EXPECT_EQ(Register(3), nullptr);
}

TEST_F(OstraNotify, Nt4WatchesTheNotificationKey)
{
    ASSERT_TRUE(PlatSetOsName("WindowsNT"));
    // The driver keeps a value for the camera once it is plugged on this system.
    Plug(simcam::Plug::None);
    Plug(simcam::Plug::Usb);
    EXPECT_EQ(ostra::NotificationNames(), std::vector<std::string>{kNt4Name + "0"});

    EXPECT_EQ(Register(3), nullptr);
    void* handle = Register();
    ASSERT_NE(handle, nullptr);
    // The camera already in the key gives no message; a new value an arrival, its removal a removal.
    SetValue(kNt4Name + "7");
    ASSERT_TRUE(WaitFor(1));
    DeleteValue(kNt4Name + "7");
    ASSERT_TRUE(WaitFor(2));
    Plug(simcam::Plug::None);
    ASSERT_TRUE(WaitFor(3));
    ASSERT_EQ(g_Seen.size(), 3u);
    EXPECT_EQ(g_Seen[0].event, PLAT_DBT_DEVICEARRIVAL);
    EXPECT_EQ(g_Seen[0].name, "\\\\.\\" + kNt4Name + "7");
    EXPECT_EQ(g_Seen[0].size, g_Seen[0].name.size() + 36);
    EXPECT_EQ(g_Seen[0].type, PLAT_DBT_DEVTYP_DEVICEINTERFACE);
    EXPECT_TRUE(g_Seen[0].guid == CameraClass());
    EXPECT_EQ(g_Seen[1].event, PLAT_DBT_DEVICEREMOVECOMPLETE);
    EXPECT_EQ(g_Seen[1].name, g_Seen[0].name);
    EXPECT_EQ(g_Seen[2].event, PLAT_DBT_DEVICEREMOVECOMPLETE);
    EXPECT_EQ(g_Seen[2].name, "\\\\.\\" + kNt4Name + "0");
    EXPECT_EQ(unreg(handle), 1);
    EXPECT_EQ(unreg(handle), 0);
}

TEST_F(OstraNotify, Nt4ValueRemovedAndAddedBetweenTwoPassesGivesNoMessage)
{
    ASSERT_TRUE(PlatSetOsName("WindowsNT"));
    Plug(simcam::Plug::None);
    Plug(simcam::Plug::Usb);
    void* handle = Register();
    ASSERT_NE(handle, nullptr);
    // The watcher waits in its pass until the window has run the arrival it sends: the camera's value goes and
    // comes back meanwhile, before the next pass.
    g_OnFirst = [] {
        DeleteValue(kNt4Name + "0");
        SetValue(kNt4Name + "0");
        DeleteValue(kNt4Name + "5");
    };
    SetValue(kNt4Name + "5");
    ASSERT_TRUE(WaitFor(2));
    PlatMsgWaitForSingleObject(nullptr, 500);
    ASSERT_EQ(g_Seen.size(), 2u);
    EXPECT_EQ(g_Seen[1].event, PLAT_DBT_DEVICEREMOVECOMPLETE);
    EXPECT_EQ(g_Seen[1].name, "\\\\.\\" + kNt4Name + "5");
    EXPECT_EQ(unreg(handle), 1);
}

TEST_F(OstraNotify, Nt4DeviceListOpensTheCameraByItsValue)
{
    ASSERT_TRUE(PlatSetOsName("WindowsNT"));
    Plug(simcam::Plug::None);
    Plug(simcam::Plug::Usb);
    SetValue("{00000000-0000-0000-0000-000000000000}#Other0");
    const PlatGuid guid = CameraClass();
    PlatHandle h = o.OstraOpenGuidHandle(&guid, 0, 0);
    ASSERT_NE(h, PLAT_INVALID_HANDLE_VALUE);
    uint8_t descriptor[18] = {};
    EXPECT_EQ(o.OstraGetDeviceDescriptor(h, descriptor), 0u);
    o.OstraCloseHandle(h);
    EXPECT_NE(lumotest::ReadText(DeviceLog()).find("\\\\.\\" + kNt4Name + "0 code="), std::string::npos);
    EXPECT_EQ(o.OstraOpenGuidHandle(&guid, 1, 0), PLAT_INVALID_HANDLE_VALUE);
}
