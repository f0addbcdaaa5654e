#pragma once
// A scratch machine for storage tests: LUMO_MACHINE points into a temporary folder, the disk class is
// registered, and Root() is a folder of files the test may fill.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "KStorage.h"
#include "KSCDiskWin.h"
#include "KTextFunctions.h"
#include "LumoTestSupport.h"

class StorageTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::filesystem::create_directories(m_Temp / "machine");
        std::filesystem::create_directories(m_Temp / "files");
        setenv("LUMO_MACHINE", (m_Temp / "machine").c_str(), 1);
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
    // URL of a path below Root() ("a/b.txt").
    KWString URL(const std::string& relative) const { return m_RootURL + Utf8ToWide(relative); }
    const KWString& RootURL() const { return m_RootURL; }
    // Native path of a path below Root().
    KWString Native(const std::string& relative) const
    {
        KWString native;
        URLToNativePath(URL(relative), native);
        return native;
    }

    lumotest::TempDir m_Temp;
    KWString m_RootURL;
};

inline std::string Ascii(const KWString& s)
{
    return WideToUtf8(s);
}
