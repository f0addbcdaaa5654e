#include "LumoXvfb.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>

namespace lumotest {

namespace {

bool Finished(pid_t pid, int waitMs)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    for (;;) {
        int status = 0;
        const pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid || r < 0)
            return true;
        if (std::chrono::steady_clock::now() >= end)
            return false;
        usleep(10000);
    }
}

}  // namespace

Xvfb::Xvfb()
{
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        m_Error = "no pipe for Xvfb";
        return;
    }
    const pid_t pid = fork();
    if (pid < 0) {
        close(fds[0]);
        close(fds[1]);
        m_Error = "cannot fork for Xvfb";
        return;
    }
    if (pid == 0) {
        // The display number comes back on descriptor 3.
        dup2(fds[1], 3);
        const int null = open("/dev/null", O_RDWR);
        if (null >= 0) {
            dup2(null, 0);
            dup2(null, 1);
            dup2(null, 2);
        }
        execlp("Xvfb", "Xvfb", "-displayfd", "3", "-screen", "0", "1280x1024x24", "-nolisten", "tcp", "-noreset",
               static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    std::string number;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count();
        pollfd p{fds[0], POLLIN, 0};
        if (left <= 0 || poll(&p, 1, static_cast<int>(left)) <= 0)
            break;
        char c = 0;
        if (read(fds[0], &c, 1) != 1 || c == '\n')
            break;
        number += c;
    }
    close(fds[0]);
    if (number.empty() || number.find_first_not_of("0123456789") != std::string::npos) {
        kill(pid, SIGKILL);
        Finished(pid, 5000);
        m_Error = "Xvfb did not start (is it installed?)";
        return;
    }
    m_Pid = pid;
    m_Display = ":" + number;
}

Xvfb::~Xvfb()
{
    if (m_Pid <= 0)
        return;
    kill(m_Pid, SIGTERM);
    if (!Finished(m_Pid, 5000)) {
        kill(m_Pid, SIGKILL);
        Finished(m_Pid, 5000);
    }
}

}  // namespace lumotest
