// The camera's two faces: the 1394 node and the USB device.
#include <unistd.h>

#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <thread>

#include "CameraFirmware.h"

namespace simcam {

namespace {

const char* BusResultName(BusResult r)
{
    switch (r) {
    case BusResult::Complete:
        return "ok";
    case BusResult::AddressError:
        return "address-error";
    case BusResult::TypeError:
        return "type-error";
    default:
        return "no-device";
    }
}

std::string UsbResultName(uint32_t r)
{
    if (r == kUsbOk)
        return "ok";
    if (r == kUsbStall)
        return "stall";
    if (r == kUsbNotResponding)
        return "not-responding";
    char text[16];
    std::snprintf(text, sizeof text, "0x%" PRIx32, r);
    return text;
}

class Node1394 : public Camera1394 {
public:
    explicit Node1394(std::string id) : m_Id(std::move(id)) {}
    const std::string& Id() const override { return m_Id; }
    void SetHostWriter(HostWriter writer) override { m_Writer = std::move(writer); }

    BusResult ReadBlock(uint64_t address, void* buffer, size_t length) override
    {
        std::vector<Delivery> none;
        return Access(false, address, static_cast<uint8_t*>(buffer), length, &none);
    }

    BusResult WriteBlock(uint64_t address, const void* data, size_t length) override
    {
        std::vector<Delivery> deliveries;
        BusResult r = Access(true, address, static_cast<uint8_t*>(const_cast<void*>(data)), length, &deliveries);
        // The engine writes into the host outside the camera's lock, in order.
        for (const Delivery& d : deliveries)
            if (m_Writer)
                m_Writer(d.hostAddress, d.data.data(), d.data.size());
        return r;
    }

private:
    BusResult Access(bool write, uint64_t address, uint8_t* bytes, size_t length, std::vector<Delivery>* deliveries)
    {
        Session s(m_Id);
        if (!s.Ok())
            return BusResult::NoDevice;
        BusResult r = BusResult::Complete;
        if (s.State().plug != Plug::Bus1394)
            r = BusResult::NoDevice;
        else if ((address & 3) != 0 || (length & 3) != 0)
            r = BusResult::TypeError;
        else {
            Firmware fw(s);
            bool ok = write ? fw.Write(Face::Bus1394, address, bytes, length, deliveries)
                            : fw.Read(Face::Bus1394, address, bytes, length);
            r = ok ? BusResult::Complete : BusResult::AddressError;
        }
        s.Log("1394", write ? "write" : "read", address, length, BusResultName(r));
        return r;
    }

    std::string m_Id;
    HostWriter m_Writer;
};

class UsbDevice : public CameraUsb {
public:
    explicit UsbDevice(std::string id) : m_Id(std::move(id)) {}
    const std::string& Id() const override { return m_Id; }
    const UsbIdentity& Identity() const override { return CameraUsbIdentity(); }

    uint32_t ControlTransfer(uint8_t requestType, uint8_t request, uint16_t value, uint16_t index,
                             bool hostToDevice, void* data, uint32_t length, uint32_t* transferred) override
    {
        *transferred = 0;
        uint32_t delay = 0;
        uint32_t r = kUsbNotResponding;
        uint64_t logged = 0;
        char operation[16];
        std::snprintf(operation, sizeof operation, "request%u", unsigned(request));
        {
            Session s(m_Id);
            if (!s.Ok())
                return kUsbNotResponding;
            CameraState& st = s.State();
            delay = st.knobs.usbDelay;
            if (Responding(s)) {
                r = Control(s, requestType, request, value, index, hostToDevice, static_cast<uint8_t*>(data), length,
                            transferred);
                logged = hostToDevice ? st.usbWriteAddress : st.usbReadAddress;
            }
            s.Log("usb", operation, logged, length, UsbResultName(r).c_str());
        }
        Pause(delay);
        return r;
    }

    uint32_t BulkTransfer(uint32_t pipe, void* data, uint32_t length, uint32_t* transferred) override
    {
        *transferred = 0;
        uint32_t delay = 0;
        uint32_t r = kUsbNotResponding;
        uint64_t logged = 0;
        {
            Session s(m_Id);
            if (!s.Ok())
                return kUsbNotResponding;
            CameraState& st = s.State();
            delay = st.knobs.usbDelay;
            logged = pipe == 0 ? st.usbWriteAddress : st.usbReadAddress;
            if (Responding(s))
                r = Bulk(s, pipe, static_cast<uint8_t*>(data), length, transferred);
            s.Log("usb", pipe == 0 ? "bulk-out" : "bulk-in", logged, length, UsbResultName(r).c_str());
        }
        Pause(delay);
        return r;
    }

    uint32_t ClearStall(uint32_t pipe) override
    {
        Session s(m_Id);
        if (!s.Ok())
            return kUsbNotResponding;
        uint32_t r = kUsbNotResponding;
        if (s.State().plug == Plug::Usb) {
            r = kUsbInvalidParameter;
            if (pipe < 2) {
                s.State().usbHalted[pipe] = false;
                s.Touch();
                r = kUsbOk;
            }
        }
        s.Log("usb", "clear-stall", pipe, 0, UsbResultName(r).c_str());
        return r;
    }

    uint32_t UsbDelay() override
    {
        CameraSummary summary;
        uint32_t delay = 0;
        return ReadStateSummary(m_Id, &summary, &delay) ? delay : 0;
    }

private:
    static void Pause(uint32_t milliseconds)
    {
        if (milliseconds > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(std::min<uint32_t>(milliseconds, 10000)));
    }

    static bool Responding(Session& s)
    {
        CameraState& st = s.State();
        if (st.plug != Plug::Usb)
            return false;
        if (st.knobs.notResponding > 0) {
            --st.knobs.notResponding;
            s.Touch();
            return false;
        }
        return true;
    }

    static uint32_t Control(Session& s, uint8_t requestType, uint8_t request, uint16_t value, uint16_t index,
                            bool hostToDevice, uint8_t* data, uint32_t length, uint32_t* transferred)
    {
        CameraState& st = s.State();
        if ((requestType & 0x60) != 0x40)
            return kUsbStall;
        switch (request) {
        case 0:
        case 1: {
            if (!hostToDevice || length != 6 || !data)
                return kUsbStall;
            const uint64_t high = uint64_t(data[0]) | uint64_t(data[1]) << 8;
            const uint64_t upper = uint64_t(data[2]) | uint64_t(data[3]) << 8;
            const uint64_t lower = uint64_t(data[4]) | uint64_t(data[5]) << 8;
            (request == 0 ? st.usbReadAddress : st.usbWriteAddress) = high << 32 | upper << 16 | lower;
            s.Touch();
            *transferred = 6;
            return kUsbOk;
        }
        case 4:
        case 5:
            (request == 4 ? st.usbInLength : st.usbOutLength) = uint32_t(value) << 16 | index;
            s.Touch();
            return kUsbOk;
        case 8: {
            if (hostToDevice || length < 4 || !data)
                return kUsbStall;
            Firmware fw(s);
            if (!fw.ReadInteger(st.usbReadAddress, data))
                return kUsbStall;
            *transferred = 4;
            return kUsbOk;
        }
        default:
            return kUsbStall;
        }
    }

    static uint32_t Bulk(Session& s, uint32_t pipe, uint8_t* data, uint32_t length, uint32_t* transferred)
    {
        CameraState& st = s.State();
        if (pipe > 1)
            return kUsbInvalidParameter;
        if (st.usbHalted[pipe])
            return kUsbStall;
        if (st.knobs.stall > 0) {
            --st.knobs.stall;
            st.usbHalted[pipe] = true;
            s.Touch();
            return kUsbStall;
        }
        Firmware fw(s);
        if (pipe == 0) {
            const uint32_t n = std::min(length, st.usbOutLength);
            if (n > 0 && (!data || !fw.Write(Face::Usb, st.usbWriteAddress, data, n, nullptr))) {
                st.usbHalted[0] = true;
                s.Touch();
                return kUsbStall;
            }
            st.usbWriteAddress = (st.usbWriteAddress + n) & (kAddressEnd - 1);
            st.usbOutLength -= n;
            s.Touch();
            *transferred = n;
            return kUsbOk;
        }
        if (st.knobs.preamble && !st.usbPreambleSent) {
            const uint32_t n = std::min<uint32_t>(length, 3);
            if (data)
                std::memcpy(data, "VI!", n);
            st.usbPreambleSent = true;
            s.Touch();
            *transferred = n;
            return kUsbOk;
        }
        st.usbPreambleSent = false;
        uint32_t n = std::min(length, st.usbInLength);
        if (st.knobs.reply6 > 0 && length >= 6) {
            --st.knobs.reply6;
            n = 6;
        }
        if (n > 0 && (!data || !fw.Read(Face::Usb, st.usbReadAddress, data, n))) {
            st.usbHalted[1] = true;
            s.Touch();
            return kUsbStall;
        }
        st.usbReadAddress = (st.usbReadAddress + n) & (kAddressEnd - 1);
        st.usbInLength -= std::min(n, st.usbInLength);
        s.Touch();
        *transferred = n;
        return kUsbOk;
    }

    std::string m_Id;
};

bool Exists(const std::string& id)
{
    CameraSummary summary;
    return GetCamera(id, &summary);
}

std::vector<uint8_t> ConfigurationDescriptor()
{
    return {
        // configuration: 32 bytes in all, one interface, self-powered
        9, 2, 32, 0, 1, 1, 0, 0xC0, 0,
        // interface 0: vendor class, two endpoints
        9, 4, 0, 0, 2, 0xFF, 0, 0, 0,
        // bulk OUT endpoint 1 (pipe 0)
        7, 5, 0x01, 2, 64, 0, 0,
        // bulk IN endpoint 2 (pipe 1)
        7, 5, 0x82, 2, 64, 0, 0,
    };
}

}  // namespace

const UsbIdentity& CameraUsbIdentity()
{
    static const UsbIdentity identity = {
        0x5A4B,
        0x0101,
        0x0100,
        {18, 1, 0x10, 0x01, 0xFF, 0, 0, 64, 0x4B, 0x5A, 0x01, 0x01, 0x00, 0x01, 1, 2, 0, 1},
        ConfigurationDescriptor(),
        "Quarel",
        "Caméra KZR™",
        {0x0409},
        "{3219D400-E372-4B5D-AB0F-D2594CD9084D}",
        0x01,
        0x82,
    };
    return identity;
}

std::unique_ptr<Camera1394> OpenCamera1394(const std::string& id)
{
    if (!Exists(id))
        return nullptr;
    return std::make_unique<Node1394>(id);
}

std::unique_ptr<CameraUsb> OpenCameraUsb(const std::string& id)
{
    if (!Exists(id))
        return nullptr;
    return std::make_unique<UsbDevice>(id);
}

}  // namespace simcam
