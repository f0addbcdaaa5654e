// The library as an in-process server: registration, the control over the camera on USB, the descriptor and
// isochronous transfer objects, error information, device messages to the control, and unloading.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "OstraFixture.h"
#include "PlatformCom.h"
#include "PlatformOS.h"
#include "PlatformRegistry.h"
#include "PlatformWindow.h"

using ostratest::OstraTest;

namespace {

// An object driven through IDispatch, as a script drives it.
class Object {
public:
    Object() = default;
    explicit Object(const char* progId)
    {
        PlatGuid clsid{};
        const std::u16string name = PlatUtf16(progId);
        hr = PlatCLSIDFromProgID(name.c_str(), &clsid);
        void* p = nullptr;
        if (hr == PLAT_S_OK)
            hr = PlatCoCreateInstance(clsid, nullptr, PLAT_CLSCTX_INPROC_SERVER, PLAT_IID_IDispatch, &p);
        d = static_cast<PlatIDispatch*>(p);
    }
    ~Object()
    {
        if (d)
            d->Release();
    }
    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;

    // Invokes a member with the arguments (first first); out arguments come back in outs.
    PlatHRESULT Invoke(const char* member, uint16_t flags, std::vector<PlatVariant> args, PlatVariant* result = nullptr)
    {
        std::u16string name = PlatUtf16(member);
        char16_t* names[1] = {name.data()};
        int32_t id = 0;
        PlatHRESULT r = d->GetIDsOfNames(PLAT_IID_NULL, names, 1, 0, &id);
        if (r != PLAT_S_OK)
            return r;
        std::vector<PlatVariant> reversed(args.rbegin(), args.rend());
        int32_t put = PLAT_DISPID_PROPERTYPUT;
        PlatDispParams params{reversed.data(), flags == PLAT_DISPATCH_PROPERTYPUT ? &put : nullptr,
                              static_cast<uint32_t>(reversed.size()), flags == PLAT_DISPATCH_PROPERTYPUT ? 1u : 0u};
        PlatExcepInfo e{};
        PlatVariant local;
        PlatVariantInit(&local);
        r = d->Invoke(id, PLAT_IID_NULL, 0, flags, &params, result ? result : &local, &e, nullptr);
        description = e.description ? PlatBstrUtf8(e.description) : std::string();
        source = e.source ? PlatBstrUtf8(e.source) : std::string();
        PlatSysFreeString(e.description);
        PlatSysFreeString(e.source);
        PlatSysFreeString(e.helpFile);
        PlatVariantClear(&local);
        for (PlatVariant& v : reversed)
            PlatVariantClear(&v);
        return r;
    }
    PlatHRESULT Put(const char* property, PlatVariant value) { return Invoke(property, PLAT_DISPATCH_PROPERTYPUT, {value}); }
    int64_t Get(const char* property)
    {
        PlatVariant v, n;
        PlatVariantInit(&v);
        PlatVariantInit(&n);
        if (Invoke(property, PLAT_DISPATCH_PROPERTYGET, {}, &v) != PLAT_S_OK ||
            PlatVariantChangeType(&n, &v, 0, PLAT_VT_I4) != PLAT_S_OK)
            return -1;
        PlatVariantClear(&v);
        return n.lVal;
    }

    PlatIDispatch* d = nullptr;
    PlatHRESULT hr = PLAT_E_FAIL;
    std::string description, source;
};

PlatVariant I4(int32_t v)
{
    PlatVariant out;
    PlatVariantInit(&out);
    out.vt = PLAT_VT_I4;
    out.lVal = v;
    return out;
}

PlatVariant Text(const std::string& t)
{
    PlatVariant out;
    PlatVariantInit(&out);
    out.vt = PLAT_VT_BSTR;
    out.bstrVal = PlatSysAllocUtf8(t);
    return out;
}

PlatVariant Dispatch(PlatIDispatch* d)
{
    PlatVariant out;
    PlatVariantInit(&out);
    out.vt = PLAT_VT_DISPATCH;
    out.pdispVal = d;
    d->AddRef();
    return out;
}

PlatVariant Ref(PlatVariant* slot)
{
    PlatVariantInit(slot);
    PlatVariant out;
    PlatVariantInit(&out);
    out.vt = PLAT_VT_BYREF | PLAT_VT_VARIANT;
    out.byref = slot;
    return out;
}

const char kControlKey[] = "CLSID\\{B5463437-6971-11D4-816D-0050DACEAA4B}";

std::string DefaultText(const std::string& key)
{
    PlatHKEY h = nullptr;
    if (PlatRegOpenKeyEx(PLAT_HKEY_CLASSES_ROOT, key.c_str(), 0, PLAT_KEY_READ, &h) != 0)
        return "<missing>";
    char text[512] = {};
    uint32_t size = sizeof text - 1;
    PlatRegQueryValueEx(h, nullptr, nullptr, text, &size);
    PlatRegCloseKey(h);
    return text;
}

class OstraCom : public OstraTest {
protected:
    void SetUp() override
    {
        OstraTest::SetUp();
        auto reg = reinterpret_cast<int32_t (*)()>(PlatGetProcAddress(o.module, "DllRegisterServer"));
        canUnload = reinterpret_cast<int32_t (*)()>(PlatGetProcAddress(o.module, "DllCanUnloadNow"));
        ASSERT_TRUE(reg && canUnload);
        ASSERT_EQ(reg(), PLAT_S_OK);
    }
    void TearDown() override
    {
        PlatCoFreeUnusedLibraries();
        OstraTest::TearDown();
    }
    // Runs what is sent to this thread's windows until done() holds (or 30 s went).
    template <class F>
    bool PumpUntil(F done)
    {
        for (int i = 0; i < 3000 && !done(); ++i)
            PlatMsgWaitForSingleObject(nullptr, 10);
        return done();
    }
    // Whether the control has a handle: its driver version can be read.
    static bool HasHandle(Object& c)
    {
        PlatVariant major, minor;
        const PlatHRESULT hr = c.Invoke("GetDriverVersion", PLAT_DISPATCH_METHOD, {Ref(&major), Ref(&minor)});
        return hr == PLAT_S_OK && major.lVal == 1;
    }

    int32_t (*canUnload)() = nullptr;
};

}  // namespace

TEST_F(OstraCom, RegistrationWritesTheClassesAndTheTypeLibrary)
{
    const std::string path = DefaultText(std::string(kControlKey) + "\\InprocServer32");
    EXPECT_NE(path.find("/libOstraUsb.so"), std::string::npos) << path;
    EXPECT_EQ(path[0], '/');
    EXPECT_EQ(DefaultText("UserDll.OstraUsb.1\\CLSID"), "{B5463437-6971-11D4-816D-0050DACEAA4B}");
    EXPECT_EQ(DefaultText("UserDll.IsochronousTransfer\\CurVer"), "UserDll.IsochronousTransfer.1");
    EXPECT_EQ(DefaultText(std::string(kControlKey) + "\\MiscStatus\\1"), "132497");
    EXPECT_EQ(DefaultText(std::string(kControlKey) + "\\ToolboxBitmap32"), path + ", 102");
    for (const char* k : {"\\Programmable", "\\Control", "\\Insertable"})
        EXPECT_NE(DefaultText(std::string(kControlKey) + k), "<missing>") << k;
    EXPECT_EQ(DefaultText("TypeLib\\{A5914451-1A00-11D4-A1C3-00600837FC57}\\1.0\\0\\win32"), path);

    auto unreg = reinterpret_cast<int32_t (*)()>(PlatGetProcAddress(o.module, "DllUnregisterServer"));
    ASSERT_EQ(unreg(), PLAT_S_OK);
    for (const char* k : {"CLSID\\{B5463437-6971-11D4-816D-0050DACEAA4B}", "CLSID\\{91D9A224-69A4-11D4-816D-0050DACEAA4B}",
                          "CLSID\\{91D9A226-69A4-11D4-816D-0050DACEAA4B}", "CLSID\\{91D9A228-69A4-11D4-816D-0050DACEAA4B}",
                          "CLSID\\{91D9A22A-69A4-11D4-816D-0050DACEAA4B}", "CLSID\\{ADA523D6-802A-11D4-8174-0050DACEAA4B}",
                          "UserDll.OstraUsb.1", "UserDll.OstraUsb", "TypeLib\\{A5914451-1A00-11D4-A1C3-00600837FC57}"})
        EXPECT_EQ(DefaultText(k), "<missing>") << k;
}

TEST_F(OstraCom, ControlReadsTheCameraIntoDescriptorObjects)
{
    Object c("UserDll.OstraUsb.1"), d("UserDll.DeviceDescriptor.1"), e("UserDll.EndpointDescriptor.1");
    ASSERT_EQ(c.hr, PLAT_S_OK);
    ASSERT_EQ(d.hr, PLAT_S_OK);
    EXPECT_EQ(c.Put("LinkName", Text("KUSB")), PLAT_S_OK);
    ASSERT_EQ(c.Invoke("GetDeviceDescriptor", PLAT_DISPATCH_METHOD, {Dispatch(d.d)}), PLAT_S_OK);
    const simcam::UsbIdentity& id = simcam::CameraUsbIdentity();
    EXPECT_EQ(d.Get("idVendor"), id.vendorId);
    EXPECT_EQ(d.Get("IDPRODUCT"), id.productId);
    EXPECT_EQ(d.Get("bLength"), 18);
    ASSERT_EQ(c.Invoke("GetEndpointDescriptor", PLAT_DISPATCH_METHOD, {I4(0), Dispatch(e.d)}), PLAT_S_OK);
    EXPECT_EQ(e.Get("bDescriptorType"), 5);
    // A descriptor object of another kind is refused.
    EXPECT_EQ(c.Invoke("GetDeviceDescriptor", PLAT_DISPATCH_METHOD, {Dispatch(e.d)}), PLAT_E_INVALIDARG);

    // The product name comes back whole, within the 259 characters asked at most.
    PlatVariant text;
    ASSERT_EQ(c.Invoke("GetStringDescriptor", PLAT_DISPATCH_METHOD, {I4(id.languageIds[0]), I4(2), Ref(&text)}),
              PLAT_S_OK);
    ASSERT_EQ(text.vt, PLAT_VT_BSTR);
    EXPECT_EQ(PlatBstrUtf8(text.bstrVal), id.product);
    PlatVariantClear(&text);

    // A driver failure carries its string resource's text, with the class's ProgID as source.
    EXPECT_EQ(c.Invoke("ClearStall", PLAT_DISPATCH_METHOD, {I4(1)}), PLAT_S_OK) << c.description;
    PlatVariant buffer, got;
    EXPECT_EQ(c.Invoke("InterruptTransfer", PLAT_DISPATCH_METHOD, {I4(0x82), I4(4), Ref(&buffer), Ref(&got)}),
              PLAT_DISP_E_EXCEPTION);
    EXPECT_EQ(c.description, "The device id not respond to the token (IN) or did not provide a handshake (OUT)");
    EXPECT_EQ(c.source, "UserDll.OstraUsb.1");
    EXPECT_EQ(c.Get("DeviceInstance"), 0);
}

TEST_F(OstraCom, AnEmptyLinkNameLeavesNoHandleAndSaysWhy)
{
    Object c("UserDll.OstraUsb.1");
    ASSERT_EQ(c.Put("LinkName", Text("KUSB")), PLAT_S_OK);
    EXPECT_TRUE(HasHandle(c));
    EXPECT_EQ(c.Put("LinkName", Text("")), PLAT_DISP_E_EXCEPTION);
    EXPECT_FALSE(c.description.empty());
    EXPECT_FALSE(HasHandle(c));
    EXPECT_EQ(c.Put("DeviceInstance", I4(3)), PLAT_DISP_E_EXCEPTION);
}

TEST_F(OstraCom, IsochronousTransferChecksItsBuffer)
{
    Object c("UserDll.OstraUsb.1"), t("UserDll.IsochronousTransfer.1");
    PlatVariant data, length;
    EXPECT_EQ(t.Invoke("GetData", PLAT_DISPATCH_METHOD, {I4(64), Ref(&data), Ref(&length)}), PLAT_DISP_E_EXCEPTION);
    EXPECT_EQ(t.description, "Buffer not initialized.  You must call the Initialize method.");
    ASSERT_EQ(t.Invoke("Initialize", PLAT_DISPATCH_METHOD, {I4(8), I4(4)}), PLAT_S_OK);
    EXPECT_EQ(t.Invoke("GetData", PLAT_DISPATCH_METHOD, {I4(31), Ref(&data), Ref(&length)}), PLAT_DISP_E_EXCEPTION);
    EXPECT_EQ(t.description, "Invalid buffer length.  The buffer must be at least 32 bytes.");
    EXPECT_EQ(t.source, "UserDll.IsochronousTransfer.1");
    EXPECT_EQ(t.Invoke("Status", PLAT_DISPATCH_METHOD, {I4(4), Ref(&data)}), PLAT_E_INVALIDARG);

    // Through the control: the driver fills each packet.
    ASSERT_EQ(c.Put("LinkName", Text("KUSB")), PLAT_S_OK);
    ASSERT_EQ(c.Invoke("IsochronousTransfer", PLAT_DISPATCH_METHOD, {I4(0x83), Dispatch(t.d)}), PLAT_S_OK);
    PlatVariant status;
    ASSERT_EQ(t.Invoke("Length", PLAT_DISPATCH_METHOD, {I4(3), Ref(&status)}), PLAT_S_OK);
    EXPECT_EQ(status.lVal, 8);
    ASSERT_EQ(t.Invoke("GetData", PLAT_DISPATCH_METHOD, {I4(32), Ref(&data), Ref(&length)}), PLAT_S_OK);
    ASSERT_EQ(data.vt, PLAT_VT_ARRAY | PLAT_VT_UI1);
    ASSERT_EQ(data.parray->count, 32u);
    EXPECT_EQ(static_cast<uint8_t*>(data.parray->data)[31], 31);
    EXPECT_EQ(length.lVal, 32);
    PlatVariantClear(&data);
}

TEST_F(OstraCom, TheModuleStaysWhileAnObjectLives)
{
    {
        Object d("UserDll.DeviceDescriptor.1");
        ASSERT_EQ(d.hr, PLAT_S_OK);
        EXPECT_EQ(canUnload(), PLAT_S_FALSE);
        EXPECT_EQ(PlatCoFreeUnusedLibraries(), 0);
    }
    EXPECT_EQ(canUnload(), PLAT_S_OK);
    EXPECT_EQ(PlatCoFreeUnusedLibraries(), 1);
}

TEST_F(OstraCom, RemovalClosesTheHandleAndArrivalReopensInstanceZero)
{
    ASSERT_TRUE(PlatSetOsName("Windows2K"));
    std::string error;
    ASSERT_TRUE(simcam::NewCamera("c2", simcam::ByteOrder::KVCK, &error)) << error;
    ASSERT_TRUE(simcam::PlugCamera("c2", simcam::Plug::Usb, &error)) << error;
    Object c("UserDll.OstraUsb.1");
    ASSERT_EQ(c.Put("LinkName", Text("KUSB")), PLAT_S_OK);
    ASSERT_EQ(c.Put("DeviceInstance", I4(1)), PLAT_S_OK);  // camera c2
    ASSERT_TRUE(HasHandle(c));
    // Another camera of the class leaves: the control lets go of its handle, though its own camera stays.
    ASSERT_TRUE(simcam::PlugCamera("c1", simcam::Plug::None, &error)) << error;
    EXPECT_TRUE(PumpUntil([&] { return !HasHandle(c); }));
    // With no camera left, one arrives: the control opens instance 0 of its link name (there is no instance 1).
    ASSERT_TRUE(simcam::PlugCamera("c2", simcam::Plug::None, &error)) << error;
    ASSERT_TRUE(simcam::PlugCamera("c1", simcam::Plug::Usb, &error)) << error;
    EXPECT_TRUE(PumpUntil([&] { return HasHandle(c); }));
    EXPECT_EQ(c.Get("DeviceInstance"), 1);
}
