#pragma once
// A scratch machine and working folder for the camera's file operations: cameras of the simulated hardware,
// the virtual camera in the working folder, and the storage classes registered as the programs register them.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "KSCCamera.h"
#include "KSCDiskWin.h"
#include "KStorage.h"
#include "LumoTestSupport.h"
#include "SimCamera.h"

namespace camtest {

namespace fs = std::filesystem;

class CameraTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* old = std::getenv("LUMO_MACHINE");
        m_HadMachine = old != nullptr;
        m_OldMachine = old ? old : "";
        setenv("LUMO_MACHINE", (m_Dir / "machine").c_str(), 1);
        fs::create_directories(m_Dir / "work");
        m_OldCwd = fs::current_path();
        fs::current_path(m_Dir / "work");
    }
    void TearDown() override
    {
        if (m_Registered)
            ShutdownStorageClasses();
        fs::current_path(m_OldCwd);
        if (m_HadMachine)
            setenv("LUMO_MACHINE", m_OldMachine.c_str(), 1);
        else
            unsetenv("LUMO_MACHINE");
    }

    // The working folder's VirtualCamera, connected.
    fs::path MakeVirtualCamera()
    {
        fs::create_directories(Work() / "VirtualCamera");
        lumotest::WriteText(Work() / "VirtualCamera/Connected", "");
        return Work() / "VirtualCamera";
    }
    void RegisterClasses()
    {
        RegisterDiskStorageClass();
        RegisterCameraStorageClass();
        m_Registered = true;
    }
    fs::path Work() const { return m_Dir / "work"; }
    const lumotest::TempDir& Dir() const { return m_Dir; }

private:
    lumotest::TempDir m_Dir;
    fs::path m_OldCwd;
    std::string m_OldMachine;
    bool m_HadMachine = false;
    bool m_Registered = false;
};

}  // namespace camtest
