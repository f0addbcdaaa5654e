#pragma once
// An X server of the test's own: Xvfb on a free display (it picks one and says which through -displayfd),
// screen 1280 x 1024 x 24, no window manager, ended by its process id when the object goes.
#include <string>
#include <sys/types.h>

namespace lumotest {

class Xvfb {
public:
    Xvfb();
    ~Xvfb();
    Xvfb(const Xvfb&) = delete;
    Xvfb& operator=(const Xvfb&) = delete;

    // False (with the reason in Error()) when Xvfb could not be started.
    bool Running() const { return m_Pid > 0; }
    // ":N"
    const std::string& Display() const { return m_Display; }
    const std::string& Error() const { return m_Error; }
    // "DISPLAY=:N " for the front of a shell command.
    std::string Env() const { return "DISPLAY=" + m_Display + " "; }

private:
    pid_t m_Pid = -1;
    std::string m_Display;
    std::string m_Error;
};

}  // namespace lumotest
