#pragma once
// Helpers for the stand-in's tests: environment overrides, a scratch machine, child processes.
#include <signal.h>
#include <sys/wait.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>

#include "LumoTestSupport.h"

namespace plattest {

using Clock = std::chrono::steady_clock;

inline long MillisecondsSince(Clock::time_point start)
{
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

// Runs fn on another thread, waits for it and answers its result.
template <class F>
auto OnOtherThread(F fn)
{
    decltype(fn()) result{};
    std::thread t([&] { result = fn(); });
    t.join();
    return result;
}

// Sets or clears an environment variable for the life of the object.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : m_Name(name)
    {
        const char* old = std::getenv(name);
        m_Had = old != nullptr;
        if (old)
            m_Old = old;
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~ScopedEnv()
    {
        if (m_Had)
            setenv(m_Name, m_Old.c_str(), 1);
        else
            unsetenv(m_Name);
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* m_Name;
    bool m_Had = false;
    std::string m_Old;
};

// Points the stand-in at a scratch machine folder for the life of the object.
class ScratchMachine {
public:
    ScratchMachine() : m_Env("LUMO_MACHINE", m_Dir.Path().c_str()) {}
    const lumotest::TempDir& Dir() const { return m_Dir; }

private:
    lumotest::TempDir m_Dir;
    ScopedEnv m_Env;
};

// A one-way byte channel between a parent and a forked child.
class Channel {
public:
    Channel()
    {
        if (pipe(m_Fd) != 0)
            m_Fd[0] = m_Fd[1] = -1;
    }
    ~Channel()
    {
        for (int fd : m_Fd)
            if (fd >= 0)
                close(fd);
    }
    Channel(const Channel&) = delete;
    Channel& operator=(const Channel&) = delete;

    bool Send(char c) { return write(m_Fd[1], &c, 1) == 1; }
    // The next byte, or 0 when none came within the time.
    char Receive(int milliseconds = 10000)
    {
        pollfd p{m_Fd[0], POLLIN, 0};
        char c = 0;
        if (poll(&p, 1, milliseconds) == 1 && read(m_Fd[0], &c, 1) == 1)
            return c;
        return 0;
    }

private:
    int m_Fd[2];
};

// Runs body in a forked child, which ends with _exit(body()). The child must not use the test framework.
inline pid_t Fork(const std::function<int()>& body)
{
    pid_t pid = fork();
    if (pid == 0)
        _exit(body());
    return pid;
}

// The child's exit status, or -1 when it did not exit normally.
inline int Reap(pid_t pid)
{
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

}  // namespace plattest
