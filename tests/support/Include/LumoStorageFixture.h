#pragma once
// A scratch machine for tests of storage users: LUMO_MACHINE points into a temporary folder, the disk class is
// registered, and Root() is a folder of files the test may fill. For test programs that link lib_System.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "KSCDiskWin.h"
#include "KStorage.h"
#include "KTextFunctions.h"
#include "LumoTestSupport.h"

namespace lumotest {

class StorageFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::filesystem::create_directories(Machine());
        std::filesystem::create_directories(Root());
        setenv("LUMO_MACHINE", Machine().c_str(), 1);
        RegisterDiskStorageClass();
        ASSERT_TRUE(PosixPathToURL(Root().string(), m_RootURL));
        m_RootURL += u"/";
    }
    void TearDown() override
    {
        ShutdownStorageClasses();
        unsetenv("LUMO_MACHINE");
    }

    std::filesystem::path Root() const { return m_Temp / "files"; }
    std::filesystem::path Machine() const { return m_Temp / "machine"; }
    // Path and URL of a path below Root() ("a/b.txt").
    std::filesystem::path Path(const std::string& relative) const { return Root() / relative; }
    KWString URL(const std::string& relative) const { return m_RootURL + Utf8ToWide(relative); }
    const KWString& RootURL() const { return m_RootURL; }
    // Native path of a path below Root().
    KWString Native(const std::string& relative) const
    {
        KWString native;
        URLToNativePath(URL(relative), native);
        return native;
    }

    TempDir m_Temp;
    KWString m_RootURL;
};

}  // namespace lumotest
