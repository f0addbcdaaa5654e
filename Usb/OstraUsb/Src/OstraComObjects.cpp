// The server's classes: the control that wraps one device handle, the four descriptor classes and the
// isochronous transfer class, with their dispatch tables.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <memory>
#include <new>
#include <utility>

#include "OstraCom.h"
#include "OstraUsb.h"
#include "PlatformUser32.h"
#include "PlatformWindow.h"

namespace ostra {

namespace {

constexpr uint32_t kMaxTransfer = 16u << 20;  // largest buffer a script may ask for
constexpr uint32_t kStringBuffer = 260;
constexpr uint32_t kRecord = 16;

const ComClass& ClassOf(const char* progId)
{
    for (const ComClass& c : ComClasses())
        if (std::strcmp(c.progId, progId) == 0)
            return c;
    return ComClasses().front();
}

PlatVariant Int(uint16_t vt, int64_t v)
{
    PlatVariant out;
    PlatVariantInit(&out);
    out.vt = vt;
    switch (vt) {
    case PLAT_VT_UI1: out.bVal = static_cast<uint8_t>(v); break;
    case PLAT_VT_I2: out.iVal = static_cast<int16_t>(v); break;
    case PLAT_VT_I8: out.llVal = v; break;
    default: out.lVal = static_cast<int32_t>(v); break;
    }
    return out;
}

PlatVariant Text(const std::u16string& text)
{
    PlatVariant out;
    PlatVariantInit(&out);
    out.vt = PLAT_VT_BSTR;
    out.bstrVal = PlatSysAllocStringLen(text.data(), static_cast<uint32_t>(text.size()));
    return out;
}

// ---- Descriptors ------------------------------------------------------------------------------------------

struct Field {
    const char16_t* name;
    uint8_t offset;
    uint8_t size;
};

class Descriptor final : public DispatchObject {
public:
    Descriptor(const ComClass& cls, const std::vector<Member>& members, size_t size)
        : DispatchObject(cls, members), m_Bytes(size, 0)
    {
    }
    std::vector<uint8_t>& Bytes() { return m_Bytes; }

private:
    std::vector<uint8_t> m_Bytes;
};

Descriptor* AsDescriptor(PlatIUnknown* self)
{
    return dynamic_cast<Descriptor*>(OwnObject(self));
}

// Tables of one descriptor kind: a property per field, and SetDescriptor(Buffer) that replaces the bytes.
template <const Field* Fields, size_t Count>
struct DescriptorTable {
    static PlatHRESULT Get(PlatIUnknown* self, size_t index, PlatVariant* result)
    {
        Descriptor* d = AsDescriptor(self);
        const Field& f = Fields[index];
        const std::vector<uint8_t>& b = d->Bytes();
        *result = f.size == 1 ? Int(PLAT_VT_UI1, b[f.offset]) : Int(PLAT_VT_I4, b[f.offset] | b[f.offset + 1] << 8);
        return PLAT_S_OK;
    }
    template <size_t I>
    static PlatHRESULT GetAt(PlatIUnknown* self, Call&, PlatVariant* result)
    {
        return Get(self, I, result);
    }
    static PlatHRESULT Set(PlatIUnknown* self, Call& call, PlatVariant*)
    {
        Descriptor* d = AsDescriptor(self);
        const std::vector<uint8_t> bytes = call.Bytes(0);
        if (bytes.size() != d->Bytes().size())
            return d->Raise("The descriptor must be " + std::to_string(d->Bytes().size()) + " bytes.",
                            static_cast<PlatHRESULT>(PLAT_E_INVALIDARG));
        d->Bytes() = bytes;
        return PLAT_S_OK;
    }
    template <size_t... I>
    static std::vector<Member> Make(std::index_sequence<I...>)
    {
        std::vector<Member> m = {Member{Fields[I].name, PLAT_DISPATCH_PROPERTYGET, {}, &GetAt<I>}...};
        m.push_back(Member{u"SetDescriptor", PLAT_DISPATCH_METHOD, {P::Bytes}, &Set});
        return m;
    }
    static const std::vector<Member>& Members()
    {
        static const std::vector<Member> members = Make(std::make_index_sequence<Count>());
        return members;
    }
};

constexpr Field kDeviceFields[] = {
    {u"bLength", 0, 1},         {u"bDescriptorType", 1, 1}, {u"bcdUSB", 2, 2},          {u"bDeviceClass", 4, 1},
    {u"bDeviceSubClass", 5, 1}, {u"bDeviceProtocol", 6, 1}, {u"bMaxPacketSize0", 7, 1}, {u"idVendor", 8, 2},
    {u"idProduct", 10, 2},      {u"bcdDevice", 12, 2},      {u"iManufacturer", 14, 1},  {u"iProduct", 15, 1},
    {u"iSerialNumber", 16, 1},  {u"bNumConfigurations", 17, 1},
};
constexpr Field kConfigurationFields[] = {
    {u"bLength", 0, 1},      {u"bDescriptorType", 1, 1}, {u"wTotalLength", 2, 2}, {u"bNumInterfaces", 4, 1},
    {u"bConfigurationValue", 5, 1}, {u"iConfiguration", 6, 1}, {u"bmAttributes", 7, 1}, {u"MaxPower", 8, 1},
};
constexpr Field kInterfaceFields[] = {
    {u"bLength", 0, 1},          {u"bDescriptorType", 1, 1},    {u"bInterfaceNumber", 2, 1},
    {u"bAlternateSetting", 3, 1}, {u"bNumEndpoints", 4, 1},     {u"bInterfaceClass", 5, 1},
    {u"bInterfaceSubClass", 6, 1}, {u"bInterfaceProtocol", 7, 1}, {u"iInterface", 8, 1},
};
constexpr Field kEndpointFields[] = {
    {u"bLength", 0, 1},      {u"bDescriptorType", 1, 1}, {u"bEndpointAddress", 2, 1},
    {u"bmAttributes", 3, 1}, {u"wMaxPacketSize", 4, 2},  {u"bInterval", 6, 1},
};

using DeviceTable = DescriptorTable<kDeviceFields, std::size(kDeviceFields)>;
using ConfigurationTable = DescriptorTable<kConfigurationFields, std::size(kConfigurationFields)>;
using InterfaceTable = DescriptorTable<kInterfaceFields, std::size(kInterfaceFields)>;
using EndpointTable = DescriptorTable<kEndpointFields, std::size(kEndpointFields)>;

// ---- Isochronous transfer ---------------------------------------------------------------------------------

class IsoTransfer final : public DispatchObject {
public:
    IsoTransfer();
    uint32_t packetSize = 0;
    uint32_t packets = 0;
    std::vector<uint8_t> block;  // empty until Initialize
    uint64_t DataSize() const { return uint64_t(packets) * packetSize; }
};

IsoTransfer* AsIso(PlatIUnknown* self)
{
    return dynamic_cast<IsoTransfer*>(OwnObject(self));
}

PlatHRESULT IsoInitialize(PlatIUnknown* self, Call& call, PlatVariant*)
{
    IsoTransfer* t = AsIso(self);
    if (call.Long(0) < 0 || call.Long(1) < 0)
        return t->Raise("The packet size and the number of packets cannot be negative.",
                        static_cast<PlatHRESULT>(PLAT_E_INVALIDARG));
    t->block.clear();
    t->block.shrink_to_fit();
    t->packets = 0;
    t->packetSize = 0;
    const uint64_t size = uint64_t(call.Long(1)) * (uint64_t(call.Long(0)) + kRecord);
    if (size > kMaxTransfer) {
        t->FromResult(8);  // the system's text for the lack of memory
        return static_cast<PlatHRESULT>(PLAT_E_OUTOFMEMORY);
    }
    try {
        t->block.assign(size ? size : 0, 0);
    } catch (const std::bad_alloc&) {
        t->FromResult(8);
        return static_cast<PlatHRESULT>(PLAT_E_OUTOFMEMORY);
    }
    t->packetSize = static_cast<uint32_t>(call.Long(0));
    t->packets = static_cast<uint32_t>(call.Long(1));
    for (uint32_t i = 0; i < t->packets; ++i)
        std::memcpy(&t->block[size_t(i) * kRecord], &kRecord, 4);
    return PLAT_S_OK;
}

PlatHRESULT IsoRecordWord(PlatIUnknown* self, Call& call, size_t at)
{
    IsoTransfer* t = AsIso(self);
    if (t->block.empty())
        return static_cast<PlatHRESULT>(PLAT_E_OUTOFMEMORY);
    if (call.Long(0) < 0 || static_cast<uint32_t>(call.Long(0)) >= t->packets)
        return static_cast<PlatHRESULT>(PLAT_E_INVALIDARG);
    int32_t v = 0;
    std::memcpy(&v, &t->block[size_t(call.Long(0)) * kRecord + at], 4);
    return call.Out(1, Int(PLAT_VT_I4, v));
}

PlatHRESULT IsoStatus(PlatIUnknown* self, Call& call, PlatVariant*)
{
    return IsoRecordWord(self, call, 4);
}

PlatHRESULT IsoLength(PlatIUnknown* self, Call& call, PlatVariant*)
{
    return IsoRecordWord(self, call, 8);
}

PlatHRESULT IsoGetData(PlatIUnknown* self, Call& call, PlatVariant*)
{
    IsoTransfer* t = AsIso(self);
    if (t->block.empty())
        return t->Raise("Buffer not initialized.  You must call the Initialize method.");
    const uint64_t need = t->DataSize();
    if (call.Long(0) < 0 || uint64_t(call.Long(0)) < need) {
        char text[128];
        std::snprintf(text, sizeof text, "Invalid buffer length.  The buffer must be at least %llu bytes.",
                      static_cast<unsigned long long>(need));
        return t->Raise(text);
    }
    const uint8_t* data = t->block.data() + size_t(t->packets) * kRecord;
    PlatHRESULT hr = call.OutBytes(1, data, need);
    if (!PlatFailed(hr))
        hr = call.Out(2, Int(PLAT_VT_I4, static_cast<int64_t>(need)));
    return hr;
}

PlatHRESULT IsoSetData(PlatIUnknown* self, Call& call, PlatVariant*)
{
    IsoTransfer* t = AsIso(self);
    if (t->block.empty())
        return static_cast<PlatHRESULT>(PLAT_E_OUTOFMEMORY);
    const std::vector<uint8_t> bytes = call.Bytes(1);
    if (call.Long(0) < 0 || uint64_t(call.Long(0)) != t->DataSize() || bytes.size() < t->DataSize())
        return static_cast<PlatHRESULT>(PLAT_E_INVALIDARG);
    std::memcpy(t->block.data() + size_t(t->packets) * kRecord, bytes.data(), t->DataSize());
    return PLAT_S_OK;
}

PlatHRESULT IsoParameters(PlatIUnknown* self, Call& call, PlatVariant*)
{
    IsoTransfer* t = AsIso(self);
    PlatHRESULT hr = call.Out(0, Int(PLAT_VT_I4, t->packets));
    if (!PlatFailed(hr))
        hr = call.Out(1, Int(PLAT_VT_I4, t->packetSize));
    if (!PlatFailed(hr))
        hr = call.Out(2, Int(PLAT_VT_I4, static_cast<int64_t>(t->block.size())));
    if (!PlatFailed(hr))
        hr = call.Out(3, Int(PLAT_VT_I8, static_cast<int64_t>(reinterpret_cast<uintptr_t>(t->block.data()))));
    return hr;
}

const std::vector<Member>& IsoMembers()
{
    static const std::vector<Member> members = {
        {u"Initialize", PLAT_DISPATCH_METHOD, {P::Long, P::Long}, &IsoInitialize},
        {u"Status", PLAT_DISPATCH_METHOD, {P::Long, P::OutLong}, &IsoStatus},
        {u"Length", PLAT_DISPATCH_METHOD, {P::Long, P::OutLong}, &IsoLength},
        {u"GetData", PLAT_DISPATCH_METHOD, {P::Long, P::OutBytes, P::OutLong}, &IsoGetData},
        {u"SetData", PLAT_DISPATCH_METHOD, {P::Long, P::Bytes}, &IsoSetData},
        {u"GetTransferParameters", PLAT_DISPATCH_METHOD, {P::OutLong, P::OutLong, P::OutLong, P::OutLong64},
         &IsoParameters},
    };
    return members;
}

IsoTransfer::IsoTransfer() : DispatchObject(ClassOf("UserDll.IsochronousTransfer.1"), IsoMembers()) {}

// ---- The control ------------------------------------------------------------------------------------------

// Our own declaration of the embedding interface the control answers (the platform has no container).
struct IOleObjectStandIn : PlatIUnknown {
    virtual PlatHRESULT SetClientSite(void*) = 0;
    virtual PlatHRESULT GetClientSite(void**) = 0;
    virtual PlatHRESULT SetHostNames(const char16_t*, const char16_t*) = 0;
    virtual PlatHRESULT Close(uint32_t) = 0;
    virtual PlatHRESULT SetMoniker(uint32_t, void*) = 0;
    virtual PlatHRESULT GetMoniker(uint32_t, uint32_t, void**) = 0;
    virtual PlatHRESULT InitFromData(void*, int32_t, uint32_t) = 0;
    virtual PlatHRESULT GetClipboardData(uint32_t, void**) = 0;
    virtual PlatHRESULT DoVerb(int32_t, void*, void*, int32_t, void*, const void*) = 0;
    virtual PlatHRESULT EnumVerbs(void**) = 0;
    virtual PlatHRESULT Update() = 0;
    virtual PlatHRESULT IsUpToDate() = 0;
    virtual PlatHRESULT GetUserClassID(PlatGuid*) = 0;
    virtual PlatHRESULT GetUserType(uint32_t, char16_t**) = 0;
    virtual PlatHRESULT SetExtent(uint32_t, const int32_t*) = 0;
    virtual PlatHRESULT GetExtent(uint32_t aspect, int32_t* size) = 0;
    virtual PlatHRESULT Advise(void*, uint32_t*) = 0;
    virtual PlatHRESULT Unadvise(uint32_t) = 0;
    virtual PlatHRESULT EnumAdvise(void**) = 0;
    virtual PlatHRESULT GetMiscStatus(uint32_t aspect, uint32_t* status) = 0;
    virtual PlatHRESULT SetColorScheme(const void*) = 0;
};
constexpr PlatGuid kIidOleObject = {0x00000112, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr int32_t kExtent = 5080;          // 0.01 mm
constexpr uint32_t kMiscStatus = 132497;   // for aspect 1 (content)

class Control;

class OleObject final : public IOleObjectStandIn {
public:
    explicit OleObject(Control& owner) : m_Owner(owner) {}
    PlatHRESULT QueryInterface(const PlatGuid& iid, void** object) override;
    uint32_t AddRef() override;
    uint32_t Release() override;
    PlatHRESULT SetClientSite(void*) override { return NotImpl(); }
    PlatHRESULT GetClientSite(void** p) override { return Null(p); }
    PlatHRESULT SetHostNames(const char16_t*, const char16_t*) override { return NotImpl(); }
    PlatHRESULT Close(uint32_t) override { return NotImpl(); }
    PlatHRESULT SetMoniker(uint32_t, void*) override { return NotImpl(); }
    PlatHRESULT GetMoniker(uint32_t, uint32_t, void** p) override { return Null(p); }
    PlatHRESULT InitFromData(void*, int32_t, uint32_t) override { return NotImpl(); }
    PlatHRESULT GetClipboardData(uint32_t, void** p) override { return Null(p); }
    PlatHRESULT DoVerb(int32_t, void*, void*, int32_t, void*, const void*) override { return NotImpl(); }
    PlatHRESULT EnumVerbs(void** p) override { return Null(p); }
    PlatHRESULT Update() override { return NotImpl(); }
    PlatHRESULT IsUpToDate() override { return NotImpl(); }
    PlatHRESULT GetUserClassID(PlatGuid*) override { return NotImpl(); }
    PlatHRESULT GetUserType(uint32_t, char16_t** p) override { return Null(reinterpret_cast<void**>(p)); }
    PlatHRESULT SetExtent(uint32_t, const int32_t*) override { return NotImpl(); }
    PlatHRESULT GetExtent(uint32_t, int32_t* size) override
    {
        if (!size)
            return static_cast<PlatHRESULT>(PLAT_E_POINTER);
        size[0] = kExtent;
        size[1] = kExtent;
        return PLAT_S_OK;
    }
    PlatHRESULT Advise(void*, uint32_t*) override { return NotImpl(); }
    PlatHRESULT Unadvise(uint32_t) override { return NotImpl(); }
    PlatHRESULT EnumAdvise(void** p) override { return Null(p); }
    PlatHRESULT GetMiscStatus(uint32_t aspect, uint32_t* status) override
    {
        if (!status)
            return static_cast<PlatHRESULT>(PLAT_E_POINTER);
        *status = aspect == 1 ? kMiscStatus : 0;
        return aspect == 1 ? PLAT_S_OK : static_cast<PlatHRESULT>(PLAT_S_FALSE);
    }
    PlatHRESULT SetColorScheme(const void*) override { return NotImpl(); }

private:
    static PlatHRESULT NotImpl() { return static_cast<PlatHRESULT>(PLAT_E_NOTIMPL); }
    static PlatHRESULT Null(void** p)
    {
        if (p)
            *p = nullptr;
        return NotImpl();
    }
    Control& m_Owner;
};

class Control final : public DispatchObject {
public:
    Control();
    ~Control() override;

    // Closes the handle and opens it again on the link name and instance; registers for the device's class
    // unless a registration exists.
    PlatHRESULT Reopen(uint32_t instance);
    void Close()
    {
        if (handle != PLAT_INVALID_HANDLE_VALUE)
            OstraCloseHandle(handle);
        handle = PLAT_INVALID_HANDLE_VALUE;
    }
    void Unregister()
    {
        if (notification)
            OstraUnregisterDeviceNotification(notification);
        notification = nullptr;
    }

    std::string linkName;  // in the ANSI code page
    int32_t instance = 0;
    PlatHandle handle = PLAT_INVALID_HANDLE_VALUE;
    void* notification = nullptr;
    PlatHWND window = nullptr;
    OleObject ole{*this};

protected:
    PlatHRESULT QueryOther(const PlatGuid& iid, void** object) override
    {
        if (!(iid == kIidOleObject))
            return static_cast<PlatHRESULT>(PLAT_E_NOINTERFACE);
        *object = static_cast<IOleObjectStandIn*>(&ole);
        AddRef();
        return PLAT_S_OK;
    }
};

PlatHRESULT OleObject::QueryInterface(const PlatGuid& iid, void** object)
{
    return m_Owner.QueryInterface(iid, object);
}
uint32_t OleObject::AddRef()
{
    return m_Owner.AddRef();
}
uint32_t OleObject::Release()
{
    return m_Owner.Release();
}

intptr_t ControlWindow(PlatHWND window, uint32_t message, uintptr_t wParam, intptr_t)
{
    if (message == PLAT_WM_CREATE)
        return 1;
    auto* c = static_cast<Control*>(PlatGetWindowUserData(window));
    if (message != PLAT_WM_DEVICECHANGE || !c)
        return 0;
    switch (wParam) {
    case PLAT_DBT_DEVICEARRIVAL:
        OstraUsbPrintf("Ostra for USB: DBT_DEVICEARRIVAL\n");
        c->Close();
        if (!c->linkName.empty())
            c->Reopen(0);
        break;
    case PLAT_DBT_DEVICEREMOVECOMPLETE:
        OstraUsbPrintf("Ostra for USB: DBT_DEVICEREMOVECOMPLETE\n");
        c->Close();
        break;
    case PLAT_DBT_CONFIGCHANGED: OstraUsbPrintf("Ostra for USB: DBT_CONFIGCHANGED\n"); break;
    case PLAT_DBT_DEVICEQUERYREMOVE: OstraUsbPrintf("Ostra for USB: DBT_DEVICEQUERYREMOVE\n"); break;
    case PLAT_DBT_DEVICEQUERYREMOVEFAILED: OstraUsbPrintf("Ostra for USB: DBT_DEVICEQUERYREMOVEFAILED\n"); break;
    case PLAT_DBT_DEVICEREMOVEPENDING: OstraUsbPrintf("Ostra for USB: DBT_DEVICEREMOVEPENDING\n"); break;
    case PLAT_DBT_DEVICETYPESPECIFIC: OstraUsbPrintf("Ostra for USB: DBT_DEVICETYPESPECIFIC\n"); break;
    default: break;
    }
    return 0;
}

PlatHRESULT Control::Reopen(uint32_t at)
{
    Close();
    handle = OstraOpenHandle(linkName.c_str(), at, 0);
    if (handle == PLAT_INVALID_HANDLE_VALUE) {
        const PlatHRESULT hr = FromResult(0);
        return hr == PLAT_S_OK ? static_cast<PlatHRESULT>(PLAT_E_FAIL) : hr;
    }
    PlatGuid guid{};
    if (const uint32_t r = OstraGetGuid(handle, &guid))
        return FromResult(r);
    // A registration made once serves every reopening: a window must not register or unregister while a
    // device message is sent to it, and a second registration would double every message.
    if (notification)
        return PLAT_S_OK;
    PlatDevBroadcastDeviceInterface filter{};
    filter.size = sizeof filter;
    filter.deviceType = PLAT_DBT_DEVTYP_DEVICEINTERFACE;
    filter.classGuid = guid;
    PlatSetLastError(0);
    notification = OstraRegisterDeviceNotification(window, &filter, 0);
    return notification ? PLAT_S_OK : FromResult(0);
}

Control* AsControl(PlatIUnknown* self)
{
    return dynamic_cast<Control*>(OwnObject(self));
}

PlatHRESULT GetLinkName(PlatIUnknown* self, Call&, PlatVariant* result)
{
    Control* c = AsControl(self);
    *result = Text(FromAnsi(c->linkName.data(), c->linkName.size()));
    return result->bstrVal || c->linkName.empty() ? PLAT_S_OK : static_cast<PlatHRESULT>(PLAT_E_OUTOFMEMORY);
}

PlatHRESULT PutLinkName(PlatIUnknown* self, Call& call, PlatVariant*)
{
    Control* c = AsControl(self);
    c->linkName = ToAnsi(call.Bstr(0));
    c->Unregister();
    return c->Reopen(static_cast<uint32_t>(c->instance));
}

PlatHRESULT GetInstance(PlatIUnknown* self, Call&, PlatVariant* result)
{
    *result = Int(PLAT_VT_I4, AsControl(self)->instance);
    return PLAT_S_OK;
}

PlatHRESULT PutInstance(PlatIUnknown* self, Call& call, PlatVariant*)
{
    Control* c = AsControl(self);
    c->instance = call.Long(0);
    return c->Reopen(static_cast<uint32_t>(c->instance));
}

// A transfer's data buffer: length bytes, the given ones first.
bool TransferBuffer(Control* c, Call& call, int32_t length, size_t bytesArg, std::vector<uint8_t>* buffer,
                    PlatHRESULT* hr)
{
    if (length < 0 || static_cast<uint32_t>(length) > kMaxTransfer) {
        *hr = c->Raise("Invalid transfer length.", static_cast<PlatHRESULT>(PLAT_E_INVALIDARG));
        return false;
    }
    *buffer = call.Bytes(bytesArg);
    buffer->resize(static_cast<size_t>(length), 0);
    return true;
}

PlatHRESULT Transferred(Control* c, Call& call, uint32_t r, const std::vector<uint8_t>& buffer, uint32_t returned,
                        size_t bytesArg)
{
    if (r != 0)
        return c->FromResult(r);
    PlatHRESULT hr = call.OutBytes(bytesArg, buffer.data(), buffer.size());
    if (!PlatFailed(hr))
        hr = call.Out(bytesArg + 1, Int(PLAT_VT_I4, returned));
    return hr;
}

PlatHRESULT Bulk(PlatIUnknown* self, Call& call, PlatVariant*)
{
    Control* c = AsControl(self);
    std::vector<uint8_t> buffer;
    PlatHRESULT hr = PLAT_S_OK;
    if (!TransferBuffer(c, call, call.Long(1), 2, &buffer, &hr))
        return hr;
    uint32_t returned = 0;
    const uint32_t r = OstraBulkTransfer(c->handle, call.Byte(0), static_cast<uint32_t>(buffer.size()),
                                         buffer.data(), &returned);
    return Transferred(c, call, r, buffer, returned, 2);
}

PlatHRESULT Interrupt(PlatIUnknown* self, Call& call, PlatVariant*)
{
    Control* c = AsControl(self);
    std::vector<uint8_t> buffer;
    PlatHRESULT hr = PLAT_S_OK;
    if (!TransferBuffer(c, call, call.Long(1), 2, &buffer, &hr))
        return hr;
    uint32_t returned = 0;
    const uint32_t r = OstraInterruptTransfer(c->handle, call.Byte(0), static_cast<uint32_t>(buffer.size()),
                                              buffer.data(), &returned);
    return Transferred(c, call, r, buffer, returned, 2);
}

PlatHRESULT ControlTransfer(PlatIUnknown* self, Call& call, PlatVariant*)
{
    Control* c = AsControl(self);
    std::vector<uint8_t> buffer;
    PlatHRESULT hr = PLAT_S_OK;
    if (!TransferBuffer(c, call, call.Long(6), 7, &buffer, &hr))
        return hr;
    uint32_t returned = 0;
    const auto type = static_cast<uint8_t>(call.Byte(0) | call.Byte(1));
    const uint32_t r = OstraControlTransfer(c->handle, type, call.Byte(2), call.UShort(3), call.UShort(4),
                                            call.Bool(5) ? 1 : 0, static_cast<uint32_t>(buffer.size()),
                                            buffer.data(), &returned);
    return Transferred(c, call, r, buffer, returned, 7);
}

PlatHRESULT Isochronous(PlatIUnknown* self, Call& call, PlatVariant*)
{
    Control* c = AsControl(self);
    IsoTransfer* t = AsIso(call.Object(1));
    if (!t)
        return c->Raise("The transfer must be an IsochronousTransfer object.",
                        static_cast<PlatHRESULT>(PLAT_E_INVALIDARG));
    if (t->block.empty())
        return t->Raise("Buffer not initialized.  You must call the Initialize method.");
    uint32_t returned = 0;
    const uint32_t r = OstraIsochronousTransfer(c->handle, call.Byte(0), t->packets, t->packetSize,
                                                static_cast<uint32_t>(t->block.size()), t->block.data(), &returned);
    return c->FromResult(r);
}

PlatHRESULT ClearStall(PlatIUnknown* self, Call& call, PlatVariant*)
{
    Control* c = AsControl(self);
    return c->FromResult(OstraClearStall(c->handle, call.Byte(0)));
}

PlatHRESULT NumberOfLanguageIds(PlatIUnknown* self, Call& call, PlatVariant*)
{
    Control* c = AsControl(self);
    uint16_t count = 0;
    if (const uint32_t r = OstraGetNumberOfLanguageIds(c->handle, &count))
        return c->FromResult(r);
    return call.Out(0, Int(PLAT_VT_I2, count));
}

PlatHRESULT LanguageIds(PlatIUnknown* self, Call& call, PlatVariant*)
{
    Control* c = AsControl(self);
    if (call.Short(0) < 0)
        return static_cast<PlatHRESULT>(PLAT_E_INVALIDARG);
    const auto count = static_cast<uint16_t>(call.Short(0));
    std::vector<uint16_t> ids(count ? count : 1, 0);
    if (const uint32_t r = OstraGetLanguageIds(c->handle, count, ids.data()))
        return c->FromResult(r);
    PlatVariant v;
    PlatVariantInit(&v);
    v.vt = PLAT_VT_ARRAY | PLAT_VT_I2;
    v.parray = PlatSafeArrayCreateVector(PLAT_VT_I2, 0, count);
    if (!v.parray)
        return static_cast<PlatHRESULT>(PLAT_E_OUTOFMEMORY);
    std::memcpy(v.parray->data, ids.data(), size_t(count) * 2);
    return call.Out(1, v);
}

PlatHRESULT StringDescriptor(PlatIUnknown* self, Call& call, PlatVariant*)
{
    Control* c = AsControl(self);
    uint32_t length = 0;
    if (const uint32_t r = OstraGetStringDescriptorLength(c->handle, call.UShort(0), call.Byte(1), &length))
        return c->FromResult(r);
    // At most 259 characters, so that the 260-byte buffer keeps its terminator whatever the device reports.
    char text[kStringBuffer] = {};
    const uint32_t ask = std::min<uint32_t>(length, kStringBuffer - 1);
    if (ask > 0) {
        if (const uint32_t r = OstraGetStringDescriptor(c->handle, call.UShort(0), call.Byte(1), ask, text))
            return c->FromResult(r);
    }
    return call.Out(2, Text(FromAnsi(text, strnlen(text, sizeof text))));
}

PlatHRESULT SelectInterface(PlatIUnknown* self, Call& call, PlatVariant*)
{
    Control* c = AsControl(self);
    return c->FromResult(OstraSelectInterface(c->handle, static_cast<uint32_t>(call.Long(0)),
                                              static_cast<uint32_t>(call.Long(1))));
}

PlatHRESULT TraceString(PlatIUnknown*, Call& call, PlatVariant*)
{
    const std::string text = ToAnsi(call.Bstr(0));
    OstraUsbPrintf("%s", text.c_str());
    return PLAT_S_OK;
}

template <size_t Size, uint32_t (*Read)(PlatHandle, void*)>
PlatHRESULT ReadDescriptor(PlatIUnknown* self, Call& call, PlatVariant*)
{
    Control* c = AsControl(self);
    Descriptor* d = AsDescriptor(call.Object(0));
    if (!d || d->Bytes().size() != Size)
        return c->Raise("The descriptor object is not of the kind asked for.",
                        static_cast<PlatHRESULT>(PLAT_E_INVALIDARG));
    uint8_t bytes[Size] = {};
    if (const uint32_t r = Read(c->handle, bytes))
        return c->FromResult(r);
    d->Bytes().assign(bytes, bytes + Size);
    return PLAT_S_OK;
}

PlatHRESULT EndpointDescriptor(PlatIUnknown* self, Call& call, PlatVariant*)
{
    Control* c = AsControl(self);
    Descriptor* d = AsDescriptor(call.Object(1));
    if (!d || d->Bytes().size() != 7)
        return c->Raise("The descriptor object is not of the kind asked for.",
                        static_cast<PlatHRESULT>(PLAT_E_INVALIDARG));
    uint8_t bytes[7] = {};
    if (const uint32_t r = OstraGetEndpointDescriptor(c->handle, call.Byte(0), bytes))
        return c->FromResult(r);
    d->Bytes().assign(bytes, bytes + 7);
    return PLAT_S_OK;
}

PlatHRESULT DriverVersion(PlatIUnknown* self, Call& call, PlatVariant*)
{
    Control* c = AsControl(self);
    uint32_t major = 0, minor = 0;
    if (const uint32_t r = OstraGetDriverVersion(c->handle, &major, &minor))
        return c->FromResult(r);
    PlatHRESULT hr = call.Out(0, Int(PLAT_VT_I4, major));
    return PlatFailed(hr) ? hr : call.Out(1, Int(PLAT_VT_I4, minor));
}

const std::vector<Member>& ControlMembers()
{
    static const std::vector<Member> members = {
        {u"LinkName", PLAT_DISPATCH_PROPERTYGET, {}, &GetLinkName},
        {u"LinkName", PLAT_DISPATCH_PROPERTYPUT, {P::Bstr}, &PutLinkName},
        {u"DeviceInstance", PLAT_DISPATCH_PROPERTYGET, {}, &GetInstance},
        {u"DeviceInstance", PLAT_DISPATCH_PROPERTYPUT, {P::Long}, &PutInstance},
        {u"BulkTransfer", PLAT_DISPATCH_METHOD, {P::Byte, P::Long, P::Bytes, P::OutLong}, &Bulk},
        {u"ControlTransfer", PLAT_DISPATCH_METHOD,
         {P::Byte, P::Byte, P::Byte, P::UShort, P::UShort, P::Bool, P::Long, P::Bytes, P::OutLong}, &ControlTransfer},
        {u"InterruptTransfer", PLAT_DISPATCH_METHOD, {P::Byte, P::Long, P::Bytes, P::OutLong}, &Interrupt},
        {u"IsochronousTransfer", PLAT_DISPATCH_METHOD, {P::Byte, P::Object}, &Isochronous},
        {u"ClearStall", PLAT_DISPATCH_METHOD, {P::Byte}, &ClearStall},
        {u"GetNumberOfLanguageIds", PLAT_DISPATCH_METHOD, {P::OutShort}, &NumberOfLanguageIds},
        {u"GetLanguageIds", PLAT_DISPATCH_METHOD, {P::Short, P::OutBytes}, &LanguageIds},
        {u"GetStringDescriptor", PLAT_DISPATCH_METHOD, {P::UShort, P::Byte, P::OutBstr}, &StringDescriptor},
        {u"SelectInterface", PLAT_DISPATCH_METHOD, {P::Long, P::Long}, &SelectInterface},
        {u"Trace", PLAT_DISPATCH_METHOD, {P::Bstr}, &TraceString},
        {u"GetDeviceDescriptor", PLAT_DISPATCH_METHOD, {P::Object}, &ReadDescriptor<18, &OstraGetDeviceDescriptor>},
        {u"GetInterfaceDescriptor", PLAT_DISPATCH_METHOD, {P::Object},
         &ReadDescriptor<9, &OstraGetInterfaceDescriptor>},
        {u"GetConfigurationDescriptor", PLAT_DISPATCH_METHOD, {P::Object},
         &ReadDescriptor<9, &OstraGetConfigDescriptor>},
        {u"GetEndpointDescriptor", PLAT_DISPATCH_METHOD, {P::Byte, P::Object}, &EndpointDescriptor},
        {u"GetDriverVersion", PLAT_DISPATCH_METHOD, {P::OutLong, P::OutLong}, &DriverVersion},
    };
    return members;
}

Control::Control() : DispatchObject(ClassOf("UserDll.OstraUsb.1"), ControlMembers())
{
    PlatWindowDesc desc;
    desc.messageOnly = true;
    desc.procedure = ControlWindow;
    desc.userData = this;
    window = PlatCreateWindow(desc);
}

Control::~Control()
{
    Unregister();
    Close();
    if (window)
        PlatDestroyWindow(window);
}

template <class T>
PlatIUnknown* New()
{
    return static_cast<PlatIDispatch*>(new (std::nothrow) T());
}

template <const ComClass& (*Cls)(), const std::vector<Member>& (*Members)(), size_t Size>
PlatIUnknown* NewDescriptor()
{
    return static_cast<PlatIDispatch*>(new (std::nothrow) Descriptor(Cls(), Members(), Size));
}

const ComClass& DeviceClass() { return ClassOf("UserDll.DeviceDescriptor.1"); }
const ComClass& ConfigurationClass() { return ClassOf("UserDll.ConfigurationDescriptor.1"); }
const ComClass& EndpointClass() { return ClassOf("UserDll.EndpointDescriptor.1"); }
const ComClass& InterfaceClass() { return ClassOf("UserDll.InterfaceDescriptor.1"); }

}  // namespace

const PlatGuid kTypeLibraryId = {0xA5914451, 0x1A00, 0x11D4, {0xA1, 0xC3, 0x00, 0x60, 0x08, 0x37, 0xFC, 0x57}};

const std::vector<ComClass>& ComClasses()
{
    static const std::vector<ComClass> classes = {
        {"OstraUsb Class", "UserDll.OstraUsb.1", "UserDll.OstraUsb",
         {0xB5463437, 0x6971, 0x11D4, {0x81, 0x6D, 0x00, 0x50, 0xDA, 0xCE, 0xAA, 0x4B}},
         {0xB5463436, 0x6971, 0x11D4, {0x81, 0x6D, 0x00, 0x50, 0xDA, 0xCE, 0xAA, 0x4B}}, true, &New<Control>},
        {"DeviceDescriptor Class", "UserDll.DeviceDescriptor.1", "UserDll.DeviceDescriptor",
         {0x91D9A224, 0x69A4, 0x11D4, {0x81, 0x6D, 0x00, 0x50, 0xDA, 0xCE, 0xAA, 0x4B}},
         {0x91D9A223, 0x69A4, 0x11D4, {0x81, 0x6D, 0x00, 0x50, 0xDA, 0xCE, 0xAA, 0x4B}}, false,
         &NewDescriptor<&DeviceClass, &DeviceTable::Members, 18>},
        {"ConfigurationDescriptor Class", "UserDll.ConfigurationDescriptor.1", "UserDll.ConfigurationDescriptor",
         {0x91D9A226, 0x69A4, 0x11D4, {0x81, 0x6D, 0x00, 0x50, 0xDA, 0xCE, 0xAA, 0x4B}},
         {0x91D9A225, 0x69A4, 0x11D4, {0x81, 0x6D, 0x00, 0x50, 0xDA, 0xCE, 0xAA, 0x4B}}, false,
         &NewDescriptor<&ConfigurationClass, &ConfigurationTable::Members, 9>},
        {"EndpointDescriptor Class", "UserDll.EndpointDescriptor.1", "UserDll.EndpointDescriptor",
         {0x91D9A228, 0x69A4, 0x11D4, {0x81, 0x6D, 0x00, 0x50, 0xDA, 0xCE, 0xAA, 0x4B}},
         {0x91D9A227, 0x69A4, 0x11D4, {0x81, 0x6D, 0x00, 0x50, 0xDA, 0xCE, 0xAA, 0x4B}}, false,
         &NewDescriptor<&EndpointClass, &EndpointTable::Members, 7>},
        {"InterfaceDescriptor Class", "UserDll.InterfaceDescriptor.1", "UserDll.InterfaceDescriptor",
         {0x91D9A22A, 0x69A4, 0x11D4, {0x81, 0x6D, 0x00, 0x50, 0xDA, 0xCE, 0xAA, 0x4B}},
         {0x91D9A229, 0x69A4, 0x11D4, {0x81, 0x6D, 0x00, 0x50, 0xDA, 0xCE, 0xAA, 0x4B}}, false,
         &NewDescriptor<&InterfaceClass, &InterfaceTable::Members, 9>},
        {"IsochronousTransfer Class", "UserDll.IsochronousTransfer.1", "UserDll.IsochronousTransfer",
         {0xADA523D6, 0x802A, 0x11D4, {0x81, 0x74, 0x00, 0x50, 0xDA, 0xCE, 0xAA, 0x4B}},
         {0xADA523D5, 0x802A, 0x11D4, {0x81, 0x74, 0x00, 0x50, 0xDA, 0xCE, 0xAA, 0x4B}}, false, &New<IsoTransfer>},
    };
    return classes;
}

}  // namespace ostra
