#include "OstraErrors.h"

#include "OstraTrace.h"
#include "PlatformMessage.h"

namespace ostra {

namespace {

struct UsbError {
    uint32_t code;
    const char* text;
};

constexpr UsbError kUsbErrors[] = {
    {0xE0100001, "The last data packet from the endpoint contained a CRC error"},
    {0xE0100002, "The last data packet from the endpoint contained a bit stuffing violation"},
    {0xE0100003, "The last data packet from the endpoint had a data toggle packet identifier that did not match "
                 "the expected value"},
    {0xE0100004, "The transaction failed because the endpoint returned a STALL packet identifier"},
    {0xE0100005, "The device id not respond to the token (IN) or did not provide a handshake (OUT)"},
    {0xE0100006, "Check bits on the packet identifier from the endpoint failed"},
    {0xE0100007, "Received packet identifier was not valid when encountered or is not defined"},
    {0xE0100008, "The amount of data returned by the endpoint exceeded either the size of the maximum data "
                 "packet allowed from the endpoint or the remaining buffer size"},
    {0xE0100009, "The endpoint returned less the maximum transfer size, and that size was insufficient to fill "
                 "the specified buffer"},
    {0xE010000C, "During an IN, the specified buffer was too small to contain the data received from the device"},
    {0xE010000D, "During an OUT, the specified buffer did not contain sufficient data to transmit to the device"},
    {0xE0100030, "The transaction failed because the endpoint is stalled"},
    {0xE0100B00, "The isochronous transfer failed because all packets in the transfer completed with an error"},
};

}  // namespace

const char* UsbErrorText(uint32_t code)
{
    for (const UsbError& e : kUsbErrors)
        if (e.code == code)
            return e.text;
    return nullptr;
}

void TraceErrorText(uint32_t code)
{
    if (!TracingOn())
        return;
    if (code < 0xE0100001) {
        char text[512];
        PlatFormatMessage(code, text, sizeof text);
        Trace("Error: %d.  %s", static_cast<int>(code), text);
        return;
    }
    if (const char* text = UsbErrorText(code))
        Trace("%s\n", text);
}

}  // namespace ostra
