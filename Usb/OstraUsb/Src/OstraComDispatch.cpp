// The server's dispatch machinery: IUnknown, IDispatch over a member table, error information.
#include <cstdio>
#include <cstring>

#include "OstraCom.h"
#include "OstraResources.h"
#include "PlatformCodePage.h"
#include "PlatformError.h"
#include "PlatformMessage.h"

namespace ostra {

std::atomic<long> g_ComObjects{0};
std::atomic<long> g_ComLocks{0};

namespace {

// The IID that hands out the server's own object (never leaves the module).
constexpr PlatGuid kIidOwnObject = {0x6F737472, 0x6155, 0x5362, {0x4F, 0x77, 0x6E, 0x4F, 0x62, 0x6A, 0x65, 0x63}};

// Windows-1252's bytes 0x80-0x9F (0: not used).
constexpr char16_t kHigh[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

uint16_t VarType(P p)
{
    switch (p) {
    case P::Byte: return PLAT_VT_UI1;
    case P::UShort: return PLAT_VT_UI2;
    case P::Short: return PLAT_VT_I2;
    case P::Long: return PLAT_VT_I4;
    case P::Bool: return PLAT_VT_BOOL;
    case P::Bstr: return PLAT_VT_BSTR;
    case P::Object: return PLAT_VT_DISPATCH;
    default: return PLAT_VT_EMPTY;
    }
}

bool IsOut(P p)
{
    return p == P::OutLong || p == P::OutShort || p == P::OutBstr || p == P::OutBytes || p == P::OutLong64;
}

bool SameName(const char16_t* a, const char16_t* b)
{
    for (;; ++a, ++b) {
        char16_t x = *a, y = *b;
        if (x >= 'A' && x <= 'Z')
            x = static_cast<char16_t>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z')
            y = static_cast<char16_t>(y - 'A' + 'a');
        if (x != y)
            return false;
        if (!x)
            return true;
    }
}

}  // namespace

std::u16string FromAnsi(const char* text, size_t length)
{
    std::u16string out;
    for (size_t i = 0; i < length && text[i]; ++i) {
        const auto b = static_cast<uint8_t>(text[i]);
        const char16_t u = b >= 0x80 && b < 0xA0 ? kHigh[b - 0x80] : b;
        out += u ? u : u'?';
    }
    return out;
}

std::string ToAnsi(PlatBSTR text)
{
    std::string out;
    const uint32_t n = PlatSysStringLen(text);
    for (uint32_t i = 0; i < n; ++i) {
        const char16_t u = text[i];
        if (u >= 0xD800 && u < 0xDC00 && i + 1 < n && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000)
            ++i;  // a pair is one character
        out += PlatAnsiFromWide(u >= 0xD800 && u < 0xE000 ? u'?' : u);
    }
    return out;
}

Call::~Call()
{
    for (PlatVariant& v : in)
        PlatVariantClear(&v);
}

std::vector<uint8_t> Call::Bytes(size_t i) const
{
    const PlatVariant& v = in[i];
    if (v.vt != (PLAT_VT_ARRAY | PLAT_VT_UI1) || !v.parray)
        return {};
    const auto* p = static_cast<const uint8_t*>(v.parray->data);
    return std::vector<uint8_t>(p, p + v.parray->count);
}

PlatHRESULT Call::Out(size_t i, PlatVariant value)
{
    PlatVariant* arg = args[i];
    if (!(arg->vt & PLAT_VT_BYREF) || !arg->byref) {
        PlatVariantClear(&value);
        return PLAT_S_OK;
    }
    if (arg->vt == (PLAT_VT_BYREF | PLAT_VT_VARIANT)) {
        auto* inner = static_cast<PlatVariant*>(arg->byref);
        PlatVariantClear(inner);
        *inner = value;
        return PLAT_S_OK;
    }
    const auto vt = static_cast<uint16_t>(arg->vt & ~PLAT_VT_BYREF);
    PlatVariant converted;
    PlatVariantInit(&converted);
    PlatHRESULT hr = PlatVariantChangeType(&converted, &value, 0, vt);
    PlatVariantClear(&value);
    if (PlatFailed(hr))
        return hr;
    switch (vt) {
    case PLAT_VT_UI1:
    case PLAT_VT_I1: std::memcpy(arg->byref, &converted.bVal, 1); break;
    case PLAT_VT_I2:
    case PLAT_VT_UI2:
    case PLAT_VT_BOOL: std::memcpy(arg->byref, &converted.iVal, 2); break;
    case PLAT_VT_I4:
    case PLAT_VT_UI4:
    case PLAT_VT_INT:
    case PLAT_VT_UINT: std::memcpy(arg->byref, &converted.lVal, 4); break;
    case PLAT_VT_I8:
    case PLAT_VT_UI8:
    case PLAT_VT_R8: std::memcpy(arg->byref, &converted.llVal, 8); break;
    case PLAT_VT_BSTR: {
        auto* slot = static_cast<PlatBSTR*>(arg->byref);
        PlatSysFreeString(*slot);
        *slot = converted.bstrVal;
        return PLAT_S_OK;
    }
    default:
        PlatVariantClear(&converted);
        return static_cast<PlatHRESULT>(PLAT_DISP_E_TYPEMISMATCH);
    }
    return PLAT_S_OK;
}

PlatHRESULT Call::OutBytes(size_t i, const uint8_t* data, size_t size)
{
    PlatVariant v;
    PlatVariantInit(&v);
    v.vt = PLAT_VT_ARRAY | PLAT_VT_UI1;
    v.parray = PlatSafeArrayCreateVector(PLAT_VT_UI1, 0, static_cast<uint32_t>(size));
    if (!v.parray)
        return static_cast<PlatHRESULT>(PLAT_E_OUTOFMEMORY);
    if (size)
        std::memcpy(v.parray->data, data, size);
    return Out(i, v);
}

DispatchObject::DispatchObject(const ComClass& cls, const std::vector<Member>& members)
    : m_Class(cls), m_Members(members)
{
    ++g_ComObjects;
}

DispatchObject::~DispatchObject()
{
    --g_ComObjects;
}

PlatHRESULT DispatchObject::QueryInterface(const PlatGuid& iid, void** object)
{
    if (!object)
        return static_cast<PlatHRESULT>(PLAT_E_POINTER);
    *object = nullptr;
    if (iid == PLAT_IID_IUnknown || iid == PLAT_IID_IDispatch || iid == m_Class.iid)
        *object = static_cast<PlatIDispatch*>(this);
    else if (iid == PLAT_IID_ISupportErrorInfo)
        *object = static_cast<PlatISupportErrorInfo*>(this);
    else if (iid == kIidOwnObject)
        *object = this;
    else
        return QueryOther(iid, object);
    AddRef();
    return PLAT_S_OK;
}

PlatHRESULT DispatchObject::QueryOther(const PlatGuid&, void**)
{
    return static_cast<PlatHRESULT>(PLAT_E_NOINTERFACE);
}

uint32_t DispatchObject::AddRef()
{
    return ++m_Refs;
}

uint32_t DispatchObject::Release()
{
    const uint32_t n = --m_Refs;
    if (n == 0)
        delete this;
    return n;
}

PlatHRESULT DispatchObject::GetTypeInfoCount(uint32_t* count)
{
    if (!count)
        return static_cast<PlatHRESULT>(PLAT_E_POINTER);
    *count = 0;  // the tables are the type library; no type information objects are handed out
    return PLAT_S_OK;
}

PlatHRESULT DispatchObject::GetTypeInfo(uint32_t, uint32_t, void** typeInfo)
{
    if (typeInfo)
        *typeInfo = nullptr;
    return static_cast<PlatHRESULT>(PLAT_E_NOTIMPL);
}

PlatHRESULT DispatchObject::GetIDsOfNames(const PlatGuid&, char16_t** names, uint32_t count, uint32_t, int32_t* dispIds)
{
    if (!names || !dispIds || count == 0)
        return static_cast<PlatHRESULT>(PLAT_E_INVALIDARG);
    bool all = true;
    for (uint32_t i = 0; i < count; ++i) {
        dispIds[i] = PLAT_DISPID_UNKNOWN;
        if (i > 0 || !names[i]) {
            all = false;  // named parameters are not offered
            continue;
        }
        // A member's id is the place of its name's first entry, from 1.
        for (size_t k = 0; k < m_Members.size(); ++k)
            if (SameName(m_Members[k].name, names[i])) {
                dispIds[i] = static_cast<int32_t>(k + 1);
                break;
            }
        all = all && dispIds[i] != PLAT_DISPID_UNKNOWN;
    }
    return all ? PLAT_S_OK : static_cast<PlatHRESULT>(PLAT_DISP_E_UNKNOWNNAME);
}

PlatHRESULT DispatchObject::Invoke(int32_t dispId, const PlatGuid&, uint32_t, uint16_t flags, PlatDispParams* params,
                                   PlatVariant* result, PlatExcepInfo* exception, uint32_t* argumentError)
{
    if (dispId < 1 || static_cast<size_t>(dispId) > m_Members.size() || !params)
        return static_cast<PlatHRESULT>(dispId < 1 || static_cast<size_t>(dispId) > m_Members.size()
                                            ? PLAT_DISP_E_MEMBERNOTFOUND
                                            : PLAT_E_INVALIDARG);
    const char16_t* name = m_Members[static_cast<size_t>(dispId) - 1].name;
    const Member* member = nullptr;
    for (const Member& m : m_Members) {
        if (!SameName(m.name, name))
            continue;
        if ((flags & PLAT_DISPATCH_PROPERTYPUT) && m.kind == PLAT_DISPATCH_PROPERTYPUT)
            member = &m;
        else if (!(flags & PLAT_DISPATCH_PROPERTYPUT) && (flags & m.kind) && m.kind != PLAT_DISPATCH_PROPERTYPUT)
            member = member ? member : &m;
    }
    if (!member)
        return static_cast<PlatHRESULT>(PLAT_DISP_E_MEMBERNOTFOUND);
    const uint32_t named = member->kind == PLAT_DISPATCH_PROPERTYPUT ? 1 : 0;
    if (params->namedCount != named ||
        (named && (!params->namedArgs || params->namedArgs[0] != PLAT_DISPID_PROPERTYPUT)))
        return static_cast<PlatHRESULT>(PLAT_DISP_E_PARAMNOTFOUND);
    if (params->count != member->params.size() || (params->count && !params->args))
        return static_cast<PlatHRESULT>(PLAT_DISP_E_BADPARAMCOUNT);

    Call call;
    const size_t n = member->params.size();
    call.in.resize(n);
    call.args.resize(n);
    for (PlatVariant& v : call.in)
        PlatVariantInit(&v);
    for (size_t i = 0; i < n; ++i) {
        PlatVariant* arg = &params->args[n - 1 - i];
        call.args[i] = arg;
        const P p = member->params[i];
        PlatHRESULT hr = PLAT_S_OK;
        if (IsOut(p)) {
            if (!(arg->vt & PLAT_VT_BYREF) || !arg->byref)
                hr = static_cast<PlatHRESULT>(PLAT_DISP_E_TYPEMISMATCH);
        } else if (p == P::Bytes) {
            PlatVariant value;
            PlatVariantInit(&value);
            hr = PlatVariantCopy(&value, arg);
            if (!PlatFailed(hr) && (value.vt & PLAT_VT_BYREF)) {
                PlatVariant plain;
                PlatVariantInit(&plain);
                // An array through a reference is taken as the array itself.
                if (value.vt == (PLAT_VT_BYREF | PLAT_VT_VARIANT))
                    hr = PlatVariantCopy(&plain, static_cast<PlatVariant*>(value.byref));
                else if (value.vt == (PLAT_VT_BYREF | PLAT_VT_ARRAY | PLAT_VT_UI1)) {
                    PlatVariant ref;
                    PlatVariantInit(&ref);
                    ref.vt = PLAT_VT_ARRAY | PLAT_VT_UI1;
                    ref.parray = *static_cast<PlatSafeArray**>(value.byref);
                    hr = PlatVariantCopy(&plain, &ref);
                }
                value = plain;
            }
            if (!PlatFailed(hr) && value.vt != PLAT_VT_EMPTY && value.vt != PLAT_VT_NULL &&
                value.vt != (PLAT_VT_ARRAY | PLAT_VT_UI1)) {
                PlatVariantClear(&value);
                hr = static_cast<PlatHRESULT>(PLAT_DISP_E_TYPEMISMATCH);
            }
            call.in[i] = value;
        } else {
            hr = PlatVariantChangeType(&call.in[i], arg, 0, VarType(p));
        }
        if (PlatFailed(hr)) {
            if (argumentError)
                *argumentError = static_cast<uint32_t>(n - 1 - i);
            return hr;
        }
    }
    PlatVariant local;
    PlatVariantInit(&local);
    PlatSetErrorInfo(0, nullptr);
    const PlatHRESULT hr = member->run(static_cast<PlatIDispatch*>(this), call, result ? result : &local);
    PlatVariantClear(&local);
    if (hr == static_cast<PlatHRESULT>(PLAT_DISP_E_EXCEPTION) && exception) {
        std::memset(exception, 0, sizeof *exception);
        PlatIErrorInfo* info = nullptr;
        if (PlatGetErrorInfo(0, &info) == PLAT_S_OK && info) {
            info->GetSource(&exception->source);
            info->GetDescription(&exception->description);
            PlatSetErrorInfo(0, info);  // still there for the caller's thread
            info->Release();
        }
        exception->scode = hr;
    }
    return hr;
}

PlatHRESULT DispatchObject::InterfaceSupportsErrorInfo(const PlatGuid& iid)
{
    return iid == m_Class.iid ? PLAT_S_OK : static_cast<PlatHRESULT>(PLAT_S_FALSE);
}

PlatHRESULT DispatchObject::Raise(const std::string& text, PlatHRESULT hr)
{
    PlatICreateErrorInfo* create = nullptr;
    if (PlatCreateErrorInfo(&create) == PLAT_S_OK) {
        create->SetGUID(m_Class.iid);
        create->SetSource(PlatUtf16(m_Class.progId).c_str());
        create->SetDescription(PlatUtf16(text).c_str());
        void* info = nullptr;
        if (create->QueryInterface(PLAT_IID_IErrorInfo, &info) == PLAT_S_OK) {
            PlatSetErrorInfo(0, static_cast<PlatIErrorInfo*>(info));
            static_cast<PlatIErrorInfo*>(info)->Release();
        }
        create->Release();
    }
    return hr;
}

PlatHRESULT DispatchObject::FromResult(uint32_t code)
{
    if (const uint32_t id = StringResourceOfCode(code))
        return Raise(StringResource(id));
    // A failure without a code of its own takes the thread's last error. (A code is used as it is, so that a
    // failed call never comes back as success.)
    const uint32_t error = code ? code : PlatGetLastError();
    if (error == 0)
        return PLAT_S_OK;
    char text[201] = {};
    if (PlatFormatMessage(error, text, sizeof text) == 0)
        std::snprintf(text, sizeof text, "Error %u.", error);
    std::string description = text;
    while (!description.empty() && (description.back() == '\n' || description.back() == '\r'))
        description.pop_back();
    return Raise(description);
}

DispatchObject* OwnObject(PlatIUnknown* object)
{
    if (!object)
        return nullptr;
    void* own = nullptr;
    if (object->QueryInterface(kIidOwnObject, &own) != PLAT_S_OK || !own)
        return nullptr;
    auto* d = static_cast<DispatchObject*>(own);
    d->Release();  // the caller keeps its own reference to the object
    return d;
}

}  // namespace ostra
