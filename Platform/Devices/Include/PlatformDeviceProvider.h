#pragma once
// The seam below the device services: what stands where the original platform had device drivers. A
// provider (the kernel stand-in hosting a driver, the simulated USB kernel driver, a test's own loop-back)
// lists the interfaces it has now, opens a path into an endpoint, and completes the requests sent to it.
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "PlatformDevices.h"

// One present interface: its class and the path that opens it.
struct PlatDeviceInterface {
    PlatGuid classGuid;
    std::string path;
};

// A device-control request on its way to an endpoint. The input is a copy taken when the request was made;
// the provider fills Output() (at most OutputSize() bytes) and calls Complete exactly once, from any thread,
// at once or later. A request the caller has given up (its handle closed) ignores its completion.
//
// Direct requests (codes whose two low bits are 1 or 2) see the caller's output buffer as a driver sees it:
// Output() starts as a copy of the caller's bytes, and OutputAddress() is the caller's address of the buffer.
class PlatDeviceRequest {
public:
    PlatDeviceRequest(uint32_t code, const void* input, uint32_t inputSize, uint32_t outputSize,
                      const void* callerOutput = nullptr);
    virtual ~PlatDeviceRequest();
    PlatDeviceRequest(const PlatDeviceRequest&) = delete;
    PlatDeviceRequest& operator=(const PlatDeviceRequest&) = delete;

    uint32_t Code() const { return m_Code; }
    const std::vector<uint8_t>& Input() const { return m_Input; }
    uint8_t* Output() { return m_Output.data(); }
    uint32_t OutputSize() const { return static_cast<uint32_t>(m_Output.size()); }
    uintptr_t OutputAddress() const { return m_OutputAddress; }
    static bool IsDirect(uint32_t code) { return (code & 3) == 1 || (code & 3) == 2; }

    // Ends the request: error 0 for success, `returned` bytes of Output() (capped at OutputSize()) go back.
    // Later calls do nothing. Answers whether this call ended it.
    bool Complete(uint32_t error, uint32_t returned);

protected:
    // Called once, by the Complete call that ended the request, without the request's lock held: what it
    // releases may close the handle, whose close completes its running requests again.
    virtual void OnComplete(uint32_t error, uint32_t returned) {}

    std::mutex m_Lock;
    bool m_Claimed = false;  // a Complete call has ended the request
    bool m_Done = false;     // its result is published

private:
    uint32_t m_Code;
    std::vector<uint8_t> m_Input;
    std::vector<uint8_t> m_Output;
    uintptr_t m_OutputAddress = 0;
};

// An open device of a provider.
class PlatDeviceEndpoint {
public:
    virtual ~PlatDeviceEndpoint() = default;
    // False once the device has gone: requests then fail with PLAT_ERROR_DEVICE_NOT_CONNECTED without
    // reaching Submit.
    virtual bool Present() = 0;
    // Starts a request; the endpoint completes it now or later. A provider that keeps the request holds it.
    virtual void Submit(std::shared_ptr<PlatDeviceRequest> request) = 0;
    // The last handle to the endpoint was closed.
    virtual void Closed() {}
};

class PlatDeviceProvider {
public:
    virtual ~PlatDeviceProvider() = default;
    // The interfaces present now.
    virtual std::vector<PlatDeviceInterface> Interfaces() = 0;
    // An endpoint for a path of one of its present interfaces (any form the provider accepts), else null.
    virtual std::shared_ptr<PlatDeviceEndpoint> Open(const std::string& path) = 0;
    // Like Open; a provider whose device refuses the open answers null with the error in *error (0 when the
    // path is not the provider's, and the next provider is asked).
    virtual std::shared_ptr<PlatDeviceEndpoint> OpenOrRefuse(const std::string& path, uint32_t* error)
    {
        *error = 0;
        return Open(path);
    }
};

// Adds a provider; enumeration and opens ask the providers in the order they were added.
void PlatRegisterDeviceProvider(std::shared_ptr<PlatDeviceProvider> provider);
// Withdraws a provider: its interfaces are no longer listed nor opened (handles already open keep their endpoint).
void PlatUnregisterDeviceProvider(const std::shared_ptr<PlatDeviceProvider>& provider);
