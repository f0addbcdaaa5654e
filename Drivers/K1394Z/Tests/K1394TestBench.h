#pragma once
// The bench of the driver's tests: a scratch machine with simulated cameras on the simulated 1394 bus, and
// devices of the driver made over their nodes with the toolkit, as the driver makes them.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "HostSide.h"
#include "K1394Device.h"
#include "LumoTestSupport.h"
#include "PlatformKernelHost.h"
#include "SimBus1394.h"
#include "SimCamera.h"

namespace k1394test {

inline NTSTATUS NoEntry(PDRIVER_OBJECT, PUNICODE_STRING) { return STATUS_SUCCESS; }

// A request header with its payload, as user mode sends it.
class Request {
public:
    explicit Request(ULONG payload = 16) : m_Memory(84 + payload + 16)
    {
        Header()->Magic = K1394_HEADER_MAGIC;
        Header()->PayloadCapacity = payload;
        Header()->Status = ULONG(STATUS_INVALID_PARAMETER);
    }
    K1394_REQUEST_HEADER* Header() { return reinterpret_cast<K1394_REQUEST_HEADER*>(m_Memory.data()); }
    K1394_REQUEST_HEADER* operator->() { return Header(); }
    PUCHAR Payload() { return K1394Payload(Header()); }
    ULONG Word() { ULONG v; std::memcpy(&v, Payload(), 4); return v; }

private:
    std::vector<uint8_t> m_Memory;
};

class Bench : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* old = std::getenv("LUMO_MACHINE");
        m_Had = old != nullptr;
        if (old)
            m_Old = old;
        setenv("LUMO_MACHINE", (m_Dir.Path() / "machine").c_str(), 1);
        m_Driver = KernCreateDriver("K1394Test", NoEntry, nullptr);
        ASSERT_NE(m_Driver, nullptr);
    }
    void TearDown() override
    {
        for (PK1394_DEVICE_EXTENSION device : m_Devices)
            Delete(device);
        m_Devices.clear();
        simbus::StopBus1394();
        if (m_Driver) {
            EXPECT_TRUE(KernUnloadDriver(m_Driver, nullptr));
        }
        if (m_Had)
            setenv("LUMO_MACHINE", m_Old.c_str(), 1);
        else
            unsetenv("LUMO_MACHINE");
    }

    static void Camera(const std::string& id, simcam::ByteOrder order = simcam::ByteOrder::KVCK)
    {
        std::string error;
        ASSERT_TRUE(simcam::NewCamera(id, order, &error)) << error;
        ASSERT_TRUE(simcam::PlugCamera(id, simcam::Plug::Bus1394, &error)) << error;
    }
    static void Knob(const std::string& id, const std::string& key, const std::string& value)
    {
        std::string error;
        ASSERT_TRUE(simcam::SetCameraKnob(id, key, value, &error)) << error;
    }
    static void BusKnob(const std::string& key, uint32_t value)
    {
        std::string error;
        ASSERT_TRUE(simbus::SetBusKnob(key, value, &error)) << error;
    }

    // A device of the driver over the camera's node, initialised by the toolkit; the bus starts with the first.
    // With `configure` it learns the generation, the host and the configuration information as a start does.
    PK1394_DEVICE_EXTENSION Device(const std::string& id, bool configure = true)
    {
        std::string error;
        EXPECT_TRUE(simbus::StartBus1394(&error)) << error;
        simbus::PollBus1394();
        PDEVICE_OBJECT node = simbus::Bus1394NodeDevice(id);
        EXPECT_NE(node, nullptr) << id;
        if (!node)
            return nullptr;
        std::u16string name = u"\\Device\\K1394" + std::u16string(1, char16_t(u'0' + m_Devices.size()));
        UNICODE_STRING counted{USHORT(name.size() * 2), USHORT(name.size() * 2), name.data()};
        PDEVICE_OBJECT object = nullptr;
        EXPECT_EQ(IoCreateDevice(m_Driver, sizeof(K1394_DEVICE_EXTENSION), &counted, 0x8125, 0, FALSE, &object),
                  STATUS_SUCCESS);
        auto* device = static_cast<PK1394_DEVICE_EXTENSION>(object->DeviceExtension);
        K1394InitializeDeviceExtension(device);
        EXPECT_EQ(Rk1394Initialize(nullptr, object, &counted, node), STATUS_SUCCESS);
        object->Flags &= ~ULONG(DO_DEVICE_INITIALIZING);
        m_Devices.push_back(device);
        if (configure) {
            EXPECT_EQ(Rk1394GetConfiguration(device), STATUS_SUCCESS);
        }
        return device;
    }

    static void Delete(PK1394_DEVICE_EXTENSION device)
    {
        FreeLocalNodeFifo(device);
        Rk1394ReleaseConfiguration(device);
        PDEVICE_OBJECT object = device->Information.DeviceObject;
        Rk1394Uninitialize(device);
        IoDeleteDevice(object);
    }

    static std::string BusLog()
    {
        std::string text, error;
        EXPECT_TRUE(simbus::ReadBusLog(&text, &error)) << error;
        return text;
    }
    static void ClearBusLog() { ASSERT_TRUE(simbus::ClearBusLog(nullptr)); }

    // The lengths of the bus's requests of a function in the log, with " block N" after each.
    static std::vector<std::string> Requests(const std::string& log, const std::string& function,
                                             const std::string& node = "")
    {
        std::vector<std::string> out;
        size_t at = 0;
        while ((at = log.find("\t" + function + "\t", at)) != std::string::npos) {
            size_t lineStart = log.rfind('\n', at);
            lineStart = lineStart == std::string::npos ? 0 : lineStart + 1;
            size_t lineEnd = log.find('\n', at);
            std::string line = log.substr(lineStart, lineEnd - lineStart);
            at = lineEnd;
            if (!node.empty() && line.find("node " + node + "\t") == std::string::npos)
                continue;
            size_t length = line.find("\tlength ");
            size_t status = line.find("\tstatus ");
            out.push_back(line.substr(length + 8, status - length - 8));
        }
        return out;
    }

    // Fills the camera's data window with `data` through its mailbox; answers the window as the 1394 face
    // shows it (what a read of the window gives).
    static std::vector<uint8_t> FillWindow(const std::string& id, const std::vector<uint8_t>& data)
    {
        lumotest::TempDir dir;
        std::string path = (dir.Path() / "pic").string();
        FILE* f = std::fopen(path.c_str(), "wb");
        std::fwrite(data.data(), 1, data.size(), f);
        std::fclose(f);
        std::string cameraPath, error;
        EXPECT_TRUE(simcam::ShootPicture(id, path, "", &cameraPath, &error)) << error;
        hosttest::Link1394 link(simcam::OpenCamera1394(id));
        hosttest::Mailbox box(link);
        hosttest::FileInfo info;
        EXPECT_TRUE(box.Lookup(cameraPath, &info));
        EXPECT_TRUE(box.Command(0xF11E0EAD, 0, uint32_t(data.size()), nullptr));
        std::vector<uint8_t> window(data.size());
        EXPECT_TRUE(link.ReadBlock(0x10000000, 0x1009, window.data(), window.size()));
        return window;
    }

    static std::vector<uint8_t> Pattern(size_t n, uint32_t seed)
    {
        std::vector<uint8_t> out(n);
        uint32_t x = seed * 2654435761u + 1;
        for (auto& b : out) {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            b = uint8_t(x);
        }
        return out;
    }

    lumotest::TempDir m_Dir;
    bool m_Had = false;
    std::string m_Old;
    PDRIVER_OBJECT m_Driver = nullptr;
    std::vector<PK1394_DEVICE_EXTENSION> m_Devices;
};

}  // namespace k1394test
