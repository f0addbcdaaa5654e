#pragma once
// Windows found and sent messages across the processes of one machine (private to the window seam).
//
// A window with a class listens on a Unix socket in the machine folder's "windows" folder, named after a hash
// of its class and title. One thread per process accepts connections on all of them; each record of a
// connection (message, wParam) is handed to the UI thread, which runs the window's procedure, and answered by
// one byte once it has run. The sender keeps a stand-in handle that writes records and waits for the answers.
#include <cstdint>
#include <string>

#include "PlatformWindow.h"

namespace platlink {

// Listens for the window under (class, title), replacing the window's earlier name. False when the socket
// cannot be made (the window then cannot be found from other processes).
bool Listen(PlatHWND window, const std::string& className, const std::u16string& title);
// Stops listening; the socket file goes when it is still the window's.
void Stop(PlatHWND window);
// A stand-in for the window of another process listening under (class, title), or null.
PlatHWND Connect(const std::string& className, const std::u16string& title);
bool IsRemote(PlatHWND window);
// Sends a record to the stand-in's window and waits for its answer; false when the connection failed.
bool Send(PlatHWND remote, uint32_t message, uintptr_t wParam);

}  // namespace platlink

// Implemented by the seam: runs the window's procedure for the message on the UI thread (inside
// PlatGetMessage) and returns once it has run. Called by the link's thread.
void PlatDeliverFromLink(PlatHWND window, uint32_t message, uintptr_t wParam);
