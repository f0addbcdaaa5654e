#pragma once
// The bus's shared state in the machine folder, opened under its lock.
#include <cstdint>
#include <string>

#include "SimBus1394.h"

namespace simbus {

class BusSession {
public:
    BusSession();  // makes hardware/bus1394 when missing and takes its lock
    ~BusSession();
    BusSession(const BusSession&) = delete;
    BusSession& operator=(const BusSession&) = delete;

    bool Ok() const { return m_Dir >= 0 && m_Lock >= 0; }
    const std::string& Error() const { return m_Error; }
    BusView& View() { return m_View; }
    void Touch() { m_Dirty = true; }
    // Takes the nodes from the cameras plugged into 1394; a change is a reset.
    void FollowCameras();
    // Counts down a failure of the function: true with its status when one is due.
    bool TakeFailure(uint32_t function, uint32_t* status);
    void Log(const std::string& line);
    bool ReadLog(std::string* text);
    bool ClearLog();

private:
    std::string m_Error;
    int m_Dir = -1;
    int m_Lock = -1;
    bool m_Dirty = false;
    BusView m_View;
};

std::string SerializeBus(const BusView& view);
void ParseBus(const std::string& text, BusView* view);

}  // namespace simbus
