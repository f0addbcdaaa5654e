#pragma once
// The library loaded at run time, as the programs load it, on a scratch machine with camera c1 on USB.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "LumoTestSupport.h"
#include "OstraUsb.h"
#include "PlatformDevices.h"
#include "SimCamera.h"

namespace ostratest {

#define OSTRA_EXPORTS(X)                                                                                              \
    X(OstraOpenHandle) X(OstraOpenGuidHandle) X(OstraCloseHandle) X(OstraBulkTransfer) X(OstraInterruptTransfer)      \
    X(OstraControlTransfer) X(OstraIsochronousTransfer) X(OstraAsynchBulkTransfer) X(OstraAsynchControlTransfer)      \
    X(OstraAsynchIsochronousTransfer) X(OstraCheckAsynchCompletion) X(OstraGetDeviceDescriptor)                       \
    X(OstraGetConfigDescriptor) X(OstraGetInterfaceDescriptor) X(OstraGetEndpointDescriptor) X(OstraGetDriverVersion) \
    X(OstraClearStall) X(OstraGetNumberOfLanguageIds) X(OstraGetLanguageIds) X(OstraGetStringDescriptorLength)        \
    X(OstraGetStringDescriptor) X(OstraSelectInterface) X(OstraGetGuid) X(OstraGetLinkname)                           \
    X(OstraUsbEnableTracing) X(OstraClearTraceBuffer) X(OstraSetReadTraceOwnerKey) X(OstraReleaseReadTraceOwnerKey)  \
    X(OstraUsbTrace) X(OstraUsbPrintf) X(WaitForTrace)

// The exports of one load of the library.
struct Ostra {
#define OSTRA_MEMBER(name) decltype(&::name) name = nullptr;
    OSTRA_EXPORTS(OSTRA_MEMBER)
#undef OSTRA_MEMBER
    PlatModule module = nullptr;

    bool Load()
    {
        module = PlatLoadLibrary("OstraUsb.dll");
        if (!module)
            return false;
#define OSTRA_BIND(name) name = reinterpret_cast<decltype(&::name)>(PlatGetProcAddress(module, #name));
        OSTRA_EXPORTS(OSTRA_BIND)
#undef OSTRA_BIND
        return true;
    }
    void Unload()
    {
        if (module)
            PlatFreeLibrary(module);
        module = nullptr;
    }
};

// A scratch machine (camera c1 plugged into USB unless told otherwise) and the library loaded on it.
class OstraTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Remember("LUMO_MACHINE", &m_OldMachine, &m_HadMachine);
        Remember("LUMO_DEVICE_LOG", &m_OldLog, &m_HadLog);
        setenv("LUMO_MACHINE", (m_Dir.Path() / "machine").c_str(), 1);
        setenv("LUMO_DEVICE_LOG", DeviceLog().c_str(), 1);
        std::string error;
        ASSERT_TRUE(simcam::NewCamera("c1", simcam::ByteOrder::KVCK, &error)) << error;
        ASSERT_TRUE(simcam::PlugCamera("c1", simcam::Plug::Usb, &error)) << error;
        ASSERT_TRUE(o.Load());
    }
    void TearDown() override
    {
        o.Unload();
        Restore("LUMO_MACHINE", m_OldMachine, m_HadMachine);
        Restore("LUMO_DEVICE_LOG", m_OldLog, m_HadLog);
    }

    std::string DeviceLog() const { return (m_Dir.Path() / "device.log").string(); }
    size_t DeviceLogLines() const
    {
        std::string text = std::filesystem::exists(DeviceLog()) ? lumotest::ReadText(DeviceLog()) : std::string();
        size_t n = 0;
        for (char c : text)
            n += c == '\n';
        return n;
    }
    void Knob(const std::string& key, const std::string& value)
    {
        std::string error;
        ASSERT_TRUE(simcam::SetCameraKnob("c1", key, value, &error)) << error;
    }
    static PlatGuid CameraClass()
    {
        return {0x3219D400, 0xE372, 0x4B5D, {0xAB, 0x0F, 0xD2, 0x59, 0x4C, 0xD9, 0x08, 0x4D}};
    }

    lumotest::TempDir m_Dir;
    Ostra o;

private:
    static void Remember(const char* name, std::string* old, bool* had)
    {
        const char* value = std::getenv(name);
        *had = value != nullptr;
        if (value)
            *old = value;
    }
    static void Restore(const char* name, const std::string& old, bool had)
    {
        if (had)
            setenv(name, old.c_str(), 1);
        else
            unsetenv(name);
    }
    std::string m_OldMachine, m_OldLog;
    bool m_HadMachine = false, m_HadLog = false;
};

}  // namespace ostratest
