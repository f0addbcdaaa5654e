// A provider library as the device services load them: its entry registers a provider with one interface.
#include <memory>

#include "PlatformDeviceProvider.h"

namespace {

constexpr PlatGuid kClass = {0x70726F76, 0x6964, 0x6572, {0x8B, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07}};

class NullEndpoint : public PlatDeviceEndpoint {
public:
    bool Present() override { return true; }
    void Submit(std::shared_ptr<PlatDeviceRequest> request) override { request->Complete(0, 0); }
};

class OneDeviceProvider : public PlatDeviceProvider {
public:
    std::vector<PlatDeviceInterface> Interfaces() override { return {{kClass, "\\\\?\\provided#0"}}; }
    std::shared_ptr<PlatDeviceEndpoint> Open(const std::string& path) override
    {
        return path == "\\\\?\\provided#0" ? std::make_shared<NullEndpoint>() : nullptr;
    }
};

}  // namespace

extern "C" void PlatDeviceProviderEntry()
{
    PlatRegisterDeviceProvider(std::make_shared<OneDeviceProvider>());
}
