// comprobe as a user runs it: registering the USB library, running scripts against the camera on USB, and
// unregistering; lumoreg reads what registration wrote.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "LumoTestSupport.h"
#include "SimCamera.h"

namespace {

const std::string kTools = LUMO_BINARY_DIR "/Tools/";

class Comprobe : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* old = std::getenv("LUMO_MACHINE");
        m_Had = old != nullptr;
        if (old)
            m_Old = old;
        setenv("LUMO_MACHINE", (m_Dir.Path() / "machine").c_str(), 1);
        std::string error;
        ASSERT_TRUE(simcam::NewCamera("c1", simcam::ByteOrder::KVCK, &error)) << error;
        ASSERT_TRUE(simcam::PlugCamera("c1", simcam::Plug::Usb, &error)) << error;
    }
    void TearDown() override
    {
        if (m_Had)
            setenv("LUMO_MACHINE", m_Old.c_str(), 1);
        else
            unsetenv("LUMO_MACHINE");
    }
    std::string Run(const std::string& tool, const std::string& args) const
    {
        return lumotest::CommandOutput(kTools + tool + "/" + tool + " " + args + " 2>&1");
    }
    int Status(const std::string& tool, const std::string& args) const
    {
        return lumotest::RunCommand(kTools + tool + "/" + tool + " " + args + " >/dev/null 2>&1");
    }
    std::string Script(const std::string& text) const
    {
        const std::string path = (m_Dir.Path() / "script.txt").string();
        std::ofstream(path) << text;
        return path;
    }

    lumotest::TempDir m_Dir;
    std::string m_Old;
    bool m_Had = false;
};

}  // namespace

TEST_F(Comprobe, RegistersRunsAndUnregistersTheUsbLibrary)
{
    ASSERT_EQ(Run("comprobe", "register libOstraUsb.so"), "DllRegisterServer -> 0x00000000\n");
    const std::string path =
        Run("lumoreg", R"(query 'HKCR\CLSID\{B5463437-6971-11D4-816D-0050DACEAA4B}\InprocServer32')");
    EXPECT_EQ(path, std::string(LUMO_BINARY_DIR) + "/lib/libOstraUsb.so\n");

    char vendor[64];
    std::snprintf(vendor, sizeof vendor, "d.idVendor = %u\n", simcam::CameraUsbIdentity().vendorId);
    EXPECT_EQ(Run("comprobe", "run " + Script("new c UserDll.OstraUsb.1\n"
                                              "put c LinkName \"KUSB\"\n"
                                              "new d UserDll.DeviceDescriptor.1\n"
                                              "call c GetDeviceDescriptor @d\n"
                                              "get d idVendor\n"
                                              "new t UserDll.IsochronousTransfer.1\n"
                                              "call t Initialize 8 4\n"
                                              "call t GetData 31 out out\n"
                                              "call c GetDriverVersion out out\n")),
              "c.GetDeviceDescriptor -> 0x00000000\n" + std::string(vendor) +
                  "t.Initialize -> 0x00000000\n"
                  "t.GetData -> 0x80020009 Invalid buffer length.  The buffer must be at least 32 bytes.\n"
                  "c.GetDriverVersion -> 0x00000000\n"
                  "c.GetDriverVersion(1) = 1\n"
                  "c.GetDriverVersion(2) = 0\n");

    ASSERT_EQ(Run("comprobe", "unregister libOstraUsb.so"), "DllUnregisterServer -> 0x00000000\n");
    EXPECT_EQ(Run("lumoreg", R"(export 'HKCR')"), "");
    EXPECT_NE(Status("comprobe", "run " + Script("new c UserDll.OstraUsb.1\n")), 0);
}

TEST_F(Comprobe, ABadLineIsNamedAndNothingRuns)
{
    ASSERT_EQ(Status("comprobe", "register libOstraUsb.so"), 0);
    const std::string out = Run("comprobe", "run " + Script("new c UserDll.OstraUsb.1\n"
                                                           "# a comment\n"
                                                           "put c LinkName out\n"));
    EXPECT_NE(out.find("line 3: out is not a value: put c LinkName out"), std::string::npos) << out;
    EXPECT_EQ(out.find("c."), std::string::npos) << out;
    EXPECT_EQ(Status("comprobe", "run " + Script("call c X \"open\n")), 2);
    EXPECT_EQ(Status("comprobe", "run /nonexistent/script"), 2);
    EXPECT_EQ(Status("comprobe", "frobnicate x"), 2);
}
