#pragma once
// The simulated IEEE-1394 bus: one node per camera that the machine folder shows plugged into 1394.
//
// The bus is shared by every process through hardware/bus1394/ in the machine folder:
//   state   the generation count, the nodes (camera ids in the order they joined; node N is the N-th), the
//           failures to inject and the knobs (a text file)
//   log     one line per bus request (process, node, function, generation, address, length, block size,
//           status) and per packet delivered into or dropped at a host's address range
//   lock    every change holds an exclusive flock on it
// A plug, an unplug or a reset is a bus reset: the generation goes up by one.
//
// In each process that hosts the kernel stand-in the bus is a bus driver (StartBus1394) with one device object
// per node. It answers the IRB requests of Platform1394.h sent to those devices, follows the nodes live (a change
// is seen within 250 ms, or at once with PollBus1394), and after a reset calls the registered notification
// routines on its bus thread at DISPATCH_LEVEL and sends IRP_MN_BUS_RESET (the new generation in Argument4) to
// the top of each node's stack.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "PlatformKernel.h"

namespace simbus {

struct BusNode {
    uint32_t node = 0;
    std::string id;
};

struct BusFailure {
    uint32_t function = 0;
    uint32_t count = 0;
    uint32_t status = 0;
};

struct BusKnobs {
    uint32_t pendMs = 0;        // "pend": requests complete from the bus thread this long after they came
    uint32_t deliveryMs = 0;    // "delivery": packets for the host wait this long on the bus thread
    uint32_t hostRead = 2048;   // "hostread": the host's largest asynchronous read
    uint32_t hostWrite = 2048;  // "hostwrite": the host's largest asynchronous write
};

struct BusView {
    uint32_t generation = 0;
    std::vector<BusNode> nodes;
    std::vector<BusFailure> failures;
    BusKnobs knobs;
};

// Brings the shared state up to date with the cameras plugged into 1394 (a change of nodes is a reset) and
// answers it. Each returns false with a message in *error (may be null).
bool SyncBus(BusView* view, std::string* error);
// A bus reset on command: the generation goes up.
bool ResetBus(BusView* view, std::string* error);
// The next `count` requests of `function` fail with `status` (count 0 clears the function's failure).
bool SetBusFailure(uint32_t function, uint32_t count, uint32_t status, std::string* error);
// key: "pend", "delivery", "hostread" or "hostwrite".
bool SetBusKnob(const std::string& key, uint32_t value, std::string* error);
bool ReadBusLog(std::string* text, std::string* error);
bool ClearBusLog(std::string* error);

// The log's name of a function number ("read", "write", ... or the number).
const char* BusFunctionName(uint32_t function);

// ---- The bus driver of this process ----------------------------------------------------------------------
// Starts the bus in this process's kernel (once; later calls do nothing) and takes the nodes as they are.
// False when the machine has no driver model.
bool StartBus1394(std::string* error);
// Stops it: threads ended, every node leaves as if unplugged (see below) and its device is deleted.
void StopBus1394();
// Runs one pass of following the nodes now (the bus thread's queued work included) and waits for it.
void PollBus1394();
// Waits until the bus thread has nothing due (pending completions and deliveries with their delays included).
void DrainBus1394();
// The device object of the camera's node, or null when it is not on the bus.
PDEVICE_OBJECT Bus1394NodeDevice(const std::string& id);
// The camera whose node this device object is, or empty.
std::string Bus1394NodeId(PDEVICE_OBJECT device);

// The function driver of the nodes: each node on the bus, and each that joins, is offered to the plug-and-play
// manager for it (AddDevice, START; ids: bus "1394", device the camera id, instance its node number); a node that
// leaves, or every node when the bus stops, leaves through the manager (surprise removal and removal). Null
// stops the offers.
void SetBus1394FunctionDriver(PDRIVER_OBJECT driver);

// Called on the bus's watcher thread (PASSIVE_LEVEL) when a node's device appears (after it was made) or
// leaves (before it is deleted: the handler detaches what it put there). A node that leaves takes the stack
// above it along: a stack offered to the function driver is removed through the manager before the handler is
// called, a device still attached after it gets the same removal requests, and the node is deleted (its memory
// stays while a driver that did not detach is attached). One handler per process; null clears it.
using NodeHandler = std::function<void(PDEVICE_OBJECT nodeDevice, const std::string& id, bool arrived)>;
void SetBus1394NodeHandler(NodeHandler handler);

}  // namespace simbus
