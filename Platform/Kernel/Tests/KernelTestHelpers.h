#pragma once
// Helpers of the kernel's tests: a scratch machine for every test, drivers linked into the test program.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "LumoTestSupport.h"
#include "PlatformKernelHost.h"
#include "PlatformOS.h"

namespace kerntest {

// Points the machine at a scratch folder for the life of the object (the identity then is WindowsXP).
class ScratchMachine {
public:
    ScratchMachine()
    {
        const char* old = std::getenv("LUMO_MACHINE");
        m_Had = old != nullptr;
        if (old)
            m_Old = old;
        setenv("LUMO_MACHINE", m_Dir.Path().c_str(), 1);
    }
    ~ScratchMachine()
    {
        if (m_Had)
            setenv("LUMO_MACHINE", m_Old.c_str(), 1);
        else
            unsetenv("LUMO_MACHINE");
    }

private:
    lumotest::TempDir m_Dir;
    bool m_Had = false;
    std::string m_Old;
};

inline LARGE_INTEGER Relative(LONGLONG milliseconds)
{
    LARGE_INTEGER t;
    t.QuadPart = -milliseconds * 10000;
    return t;
}

}  // namespace kerntest
