#include "PlatformCom.h"

#include <dlfcn.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <map>
#include <mutex>
#include <new>
#include <vector>

#include "PlatformRegistry.h"

const PlatGuid PLAT_IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const PlatGuid PLAT_IID_IClassFactory = {0x00000001, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const PlatGuid PLAT_IID_IDispatch = {0x00020400, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const PlatGuid PLAT_IID_IErrorInfo = {0x1CF2B120, 0x547D, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};
const PlatGuid PLAT_IID_ICreateErrorInfo = {0x22F03340, 0x547D, 0x101B,
                                            {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};
const PlatGuid PLAT_IID_ISupportErrorInfo = {0xDF0B3D60, 0x548F, 0x101B,
                                             {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};
const PlatGuid PLAT_IID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};

// ---- Strings -----------------------------------------------------------------------------------------------

PlatBSTR PlatSysAllocStringLen(const char16_t* text, uint32_t length)
{
    if (length > (1u << 28))
        return nullptr;
    auto* block = static_cast<uint8_t*>(std::calloc(1, 4 + (size_t(length) + 1) * 2));
    if (!block)
        return nullptr;
    const uint32_t bytes = length * 2;
    std::memcpy(block, &bytes, 4);
    auto* s = reinterpret_cast<char16_t*>(block + 4);
    if (text)
        std::memcpy(s, text, size_t(length) * 2);
    return s;
}

PlatBSTR PlatSysAllocString(const char16_t* text)
{
    if (!text)
        return nullptr;
    uint32_t n = 0;
    while (text[n])
        ++n;
    return PlatSysAllocStringLen(text, n);
}

void PlatSysFreeString(PlatBSTR text)
{
    if (text)
        std::free(reinterpret_cast<uint8_t*>(text) - 4);
}

uint32_t PlatSysStringLen(PlatBSTR text)
{
    if (!text)
        return 0;
    uint32_t bytes = 0;
    std::memcpy(&bytes, reinterpret_cast<uint8_t*>(text) - 4, 4);
    return bytes / 2;
}

std::u16string PlatUtf16(const std::string& text)
{
    std::u16string out;
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* end = p + text.size();
    while (p < end) {
        uint32_t c = *p++;
        int more = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
        if ((c >= 0x80 && more == 0) || c >= 0xF8)
            c = 0xFFFD, more = 0;
        else if (more)
            c &= 0x3Fu >> more;
        for (; more > 0; --more) {
            if (p >= end || (*p & 0xC0) != 0x80) {
                c = 0xFFFD;
                break;
            }
            c = c << 6 | (*p++ & 0x3F);
        }
        if (c > 0x10FFFF || (c >= 0xD800 && c < 0xE000))
            c = 0xFFFD;
        if (c >= 0x10000) {
            c -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (c >> 10));
            out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
        } else {
            out += static_cast<char16_t>(c);
        }
    }
    return out;
}

PlatBSTR PlatSysAllocUtf8(const std::string& text)
{
    const std::u16string units = PlatUtf16(text);
    return PlatSysAllocStringLen(units.data(), static_cast<uint32_t>(units.size()));
}

std::string PlatBstrUtf8(PlatBSTR text)
{
    std::string out;
    const uint32_t n = PlatSysStringLen(text);
    for (uint32_t i = 0; i < n; ++i) {
        uint32_t c = text[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < n && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000)
            c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
        else if (c >= 0xD800 && c < 0xE000)
            c = 0xFFFD;
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

bool PlatGuidFromText(const std::string& text, PlatGuid* guid)
{
    if (text.size() != 38 || text[0] != '{' || text[37] != '}')
        return false;
    std::vector<uint8_t> bytes;
    for (size_t i = 1; i < 37;) {
        if (i == 9 || i == 14 || i == 19 || i == 24) {
            if (text[i] != '-')
                return false;
            ++i;
            continue;
        }
        unsigned v = 0;
        for (size_t k = i; k < i + 2; ++k) {
            const char c = text[k];
            const int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                                    : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
            if (d < 0)
                return false;
            v = v * 16 + static_cast<unsigned>(d);
        }
        bytes.push_back(static_cast<uint8_t>(v));
        i += 2;
    }
    if (bytes.size() != 16)
        return false;
    guid->data1 = uint32_t(bytes[0]) << 24 | uint32_t(bytes[1]) << 16 | uint32_t(bytes[2]) << 8 | bytes[3];
    guid->data2 = static_cast<uint16_t>(bytes[4] << 8 | bytes[5]);
    guid->data3 = static_cast<uint16_t>(bytes[6] << 8 | bytes[7]);
    std::memcpy(guid->data4, &bytes[8], 8);
    return true;
}

// ---- Arrays ------------------------------------------------------------------------------------------------

namespace {

uint32_t ElementSize(uint16_t vt)
{
    switch (vt) {
    case PLAT_VT_UI1:
    case PLAT_VT_I1: return 1;
    case PLAT_VT_I2:
    case PLAT_VT_UI2:
    case PLAT_VT_BOOL: return 2;
    case PLAT_VT_I4:
    case PLAT_VT_UI4:
    case PLAT_VT_INT:
    case PLAT_VT_UINT: return 4;
    default: return 0;
    }
}

}  // namespace

PlatSafeArray* PlatSafeArrayCreateVector(uint16_t vt, int32_t lowerBound, uint32_t count)
{
    const uint32_t size = ElementSize(vt);
    if (size == 0 || count > (1u << 28))
        return nullptr;
    auto* a = new (std::nothrow) PlatSafeArray{1, vt, size, 0, nullptr, count, lowerBound};
    if (!a)
        return nullptr;
    a->data = std::calloc(count ? count : 1, size);
    if (!a->data) {
        delete a;
        return nullptr;
    }
    return a;
}

PlatHRESULT PlatSafeArrayDestroy(PlatSafeArray* array)
{
    if (!array)
        return PLAT_S_OK;
    std::free(array->data);
    delete array;
    return PLAT_S_OK;
}

// ---- Variants ----------------------------------------------------------------------------------------------

void PlatVariantInit(PlatVariant* v)
{
    std::memset(v, 0, sizeof *v);
}

PlatHRESULT PlatVariantClear(PlatVariant* v)
{
    if (!v)
        return static_cast<PlatHRESULT>(PLAT_E_INVALIDARG);
    if (!(v->vt & PLAT_VT_BYREF)) {
        if (v->vt & PLAT_VT_ARRAY)
            PlatSafeArrayDestroy(v->parray);
        else if (v->vt == PLAT_VT_BSTR)
            PlatSysFreeString(v->bstrVal);
        else if ((v->vt == PLAT_VT_DISPATCH || v->vt == PLAT_VT_UNKNOWN) && v->punkVal)
            v->punkVal->Release();
    }
    PlatVariantInit(v);
    return PLAT_S_OK;
}

PlatHRESULT PlatVariantCopy(PlatVariant* to, const PlatVariant* from)
{
    if (!to || !from)
        return static_cast<PlatHRESULT>(PLAT_E_INVALIDARG);
    if (to == from)
        return PLAT_S_OK;
    PlatVariantClear(to);
    PlatVariant copy = *from;
    if (!(from->vt & PLAT_VT_BYREF)) {
        if (from->vt & PLAT_VT_ARRAY) {
            if (from->parray) {
                const PlatSafeArray* a = from->parray;
                copy.parray = PlatSafeArrayCreateVector(a->vt, a->lowerBound, a->count);
                if (!copy.parray)
                    return static_cast<PlatHRESULT>(PLAT_E_OUTOFMEMORY);
                std::memcpy(copy.parray->data, a->data, size_t(a->count) * a->elementSize);
            }
        } else if (from->vt == PLAT_VT_BSTR) {
            copy.bstrVal = from->bstrVal ? PlatSysAllocStringLen(from->bstrVal, PlatSysStringLen(from->bstrVal)) : nullptr;
            if (from->bstrVal && !copy.bstrVal)
                return static_cast<PlatHRESULT>(PLAT_E_OUTOFMEMORY);
        } else if ((from->vt == PLAT_VT_DISPATCH || from->vt == PLAT_VT_UNKNOWN) && from->punkVal) {
            from->punkVal->AddRef();
        }
    }
    *to = copy;
    return PLAT_S_OK;
}

namespace {

// A value read through a reference.
bool Dereference(const PlatVariant& from, PlatVariant* out)
{
    if (!(from.vt & PLAT_VT_BYREF)) {
        *out = from;
        return true;
    }
    if (!from.byref)
        return false;
    const uint16_t vt = from.vt & ~PLAT_VT_BYREF;
    if (vt == PLAT_VT_VARIANT) {
        const auto* inner = static_cast<const PlatVariant*>(from.byref);
        if (inner->vt == (PLAT_VT_BYREF | PLAT_VT_VARIANT))
            return false;  // one level only
        return Dereference(*inner, out);
    }
    PlatVariantInit(out);
    out->vt = vt;
    if (vt & PLAT_VT_ARRAY) {
        out->parray = *static_cast<PlatSafeArray* const*>(from.byref);
        return true;
    }
    switch (vt) {
    case PLAT_VT_I1:
    case PLAT_VT_UI1: std::memcpy(&out->bVal, from.byref, 1); return true;
    case PLAT_VT_I2:
    case PLAT_VT_UI2:
    case PLAT_VT_BOOL: std::memcpy(&out->iVal, from.byref, 2); return true;
    case PLAT_VT_I4:
    case PLAT_VT_UI4:
    case PLAT_VT_INT:
    case PLAT_VT_UINT:
    case PLAT_VT_ERROR: std::memcpy(&out->lVal, from.byref, 4); return true;
    case PLAT_VT_I8:
    case PLAT_VT_UI8:
    case PLAT_VT_R8: std::memcpy(&out->llVal, from.byref, 8); return true;
    case PLAT_VT_BSTR:
    case PLAT_VT_DISPATCH:
    case PLAT_VT_UNKNOWN: std::memcpy(&out->byref, from.byref, sizeof(void*)); return true;
    default: return false;
    }
}

// The number a value holds: integral (in i) or not (in d).
enum class Num { None, Int, Real, Bad };

Num NumberOf(const PlatVariant& v, int64_t* i, double* d)
{
    switch (v.vt) {
    case PLAT_VT_EMPTY: *i = 0; return Num::Int;
    case PLAT_VT_I1: *i = v.cVal; return Num::Int;
    case PLAT_VT_UI1: *i = v.bVal; return Num::Int;
    case PLAT_VT_I2: *i = v.iVal; return Num::Int;
    case PLAT_VT_UI2: *i = v.uiVal; return Num::Int;
    case PLAT_VT_BOOL: *i = v.boolVal ? -1 : 0; return Num::Int;
    case PLAT_VT_I4:
    case PLAT_VT_INT: *i = v.lVal; return Num::Int;
    case PLAT_VT_UI4:
    case PLAT_VT_UINT: *i = v.ulVal; return Num::Int;
    case PLAT_VT_I8: *i = v.llVal; return Num::Int;
    case PLAT_VT_UI8:
        if (v.ullVal > uint64_t(std::numeric_limits<int64_t>::max()))
            return Num::Bad;
        *i = static_cast<int64_t>(v.ullVal);
        return Num::Int;
    case PLAT_VT_R8: *d = v.dblVal; return Num::Real;
    case PLAT_VT_BSTR: {
        const std::string text = PlatBstrUtf8(v.bstrVal);
        if (text.empty() || text.size() > 64)
            return Num::Bad;
        if (text == "True" || text == "true" || text == "False" || text == "false") {
            *i = (text[0] == 'T' || text[0] == 't') ? -1 : 0;
            return Num::Int;
        }
        char* end = nullptr;
        errno = 0;
        const long long n = std::strtoll(text.c_str(), &end, 0);
        if (*end == 0 && errno == 0 && !std::isspace(static_cast<unsigned char>(text[0]))) {
            *i = n;
            return Num::Int;
        }
        errno = 0;
        const double r = std::strtod(text.c_str(), &end);
        if (*end == 0 && errno == 0 && std::isfinite(r) && !std::isspace(static_cast<unsigned char>(text[0]))) {
            *d = r;
            return Num::Real;
        }
        return Num::Bad;
    }
    default: return Num::None;
    }
}

bool InRange(int64_t i, uint16_t vt)
{
    switch (vt) {
    case PLAT_VT_I1: return i >= -128 && i <= 127;
    case PLAT_VT_UI1: return i >= 0 && i <= 255;
    case PLAT_VT_I2: return i >= -32768 && i <= 32767;
    case PLAT_VT_UI2: return i >= 0 && i <= 65535;
    case PLAT_VT_I4:
    case PLAT_VT_INT: return i >= INT32_MIN && i <= INT32_MAX;
    case PLAT_VT_UI4:
    case PLAT_VT_UINT: return i >= 0 && i <= int64_t(UINT32_MAX);
    case PLAT_VT_UI8: return i >= 0;
    default: return true;
    }
}

}  // namespace

PlatHRESULT PlatVariantChangeType(PlatVariant* to, const PlatVariant* from, uint16_t, uint16_t vt)
{
    if (!to || !from)
        return static_cast<PlatHRESULT>(PLAT_E_INVALIDARG);
    PlatVariant source;
    if (!Dereference(*from, &source))
        return static_cast<PlatHRESULT>(PLAT_DISP_E_TYPEMISMATCH);
    PlatVariant result;
    PlatVariantInit(&result);
    result.vt = vt;
    if (source.vt == vt) {
        PlatVariant temp;
        PlatVariantInit(&temp);
        const PlatHRESULT hr = PlatVariantCopy(&temp, &source);
        if (PlatFailed(hr))
            return hr;
        PlatVariantClear(to);
        *to = temp;
        return PLAT_S_OK;
    }
    if (vt == PLAT_VT_DISPATCH || vt == PLAT_VT_UNKNOWN) {
        if (source.vt != PLAT_VT_DISPATCH && source.vt != PLAT_VT_UNKNOWN)
            return static_cast<PlatHRESULT>(PLAT_DISP_E_TYPEMISMATCH);
        void* object = nullptr;
        if (source.punkVal) {
            const PlatHRESULT hr = source.punkVal->QueryInterface(
                vt == PLAT_VT_DISPATCH ? PLAT_IID_IDispatch : PLAT_IID_IUnknown, &object);
            if (PlatFailed(hr))
                return static_cast<PlatHRESULT>(PLAT_DISP_E_TYPEMISMATCH);
        }
        result.punkVal = static_cast<PlatIUnknown*>(object);
    } else if (vt == PLAT_VT_BSTR) {
        int64_t i = 0;
        double d = 0;
        char text[64];
        switch (NumberOf(source, &i, &d)) {
        case Num::Int:
            if (source.vt == PLAT_VT_BOOL)
                std::snprintf(text, sizeof text, "%s", i ? "True" : "False");
            else if (source.vt == PLAT_VT_EMPTY)
                text[0] = 0;
            else
                std::snprintf(text, sizeof text, "%lld", static_cast<long long>(i));
            break;
        case Num::Real: std::snprintf(text, sizeof text, "%.15g", d); break;
        default: return static_cast<PlatHRESULT>(PLAT_DISP_E_TYPEMISMATCH);
        }
        result.bstrVal = PlatSysAllocUtf8(text);
        if (!result.bstrVal)
            return static_cast<PlatHRESULT>(PLAT_E_OUTOFMEMORY);
    } else {
        int64_t i = 0;
        double d = 0;
        const Num kind = NumberOf(source, &i, &d);
        if (kind == Num::None || kind == Num::Bad)
            return static_cast<PlatHRESULT>(PLAT_DISP_E_TYPEMISMATCH);
        if (vt == PLAT_VT_R8) {
            result.dblVal = kind == Num::Int ? static_cast<double>(i) : d;
        } else if (vt == PLAT_VT_BOOL) {
            result.boolVal = (kind == Num::Int ? i != 0 : d != 0) ? -1 : 0;
        } else {
            if (ElementSize(vt) == 0 && vt != PLAT_VT_I8 && vt != PLAT_VT_UI8)
                return static_cast<PlatHRESULT>(PLAT_DISP_E_BADVARTYPE);
            if (kind == Num::Real) {
                // Halves go to the even neighbour.
                const double r = std::nearbyint(d);
                if (!(r >= -9.2e18 && r <= 9.2e18))
                    return static_cast<PlatHRESULT>(PLAT_DISP_E_OVERFLOW);
                i = static_cast<int64_t>(r);
            }
            if (!InRange(i, vt))
                return static_cast<PlatHRESULT>(PLAT_DISP_E_OVERFLOW);
            result.llVal = 0;
            switch (ElementSize(vt) ? ElementSize(vt) : 8) {
            case 1: result.bVal = static_cast<uint8_t>(i); break;
            case 2: result.iVal = static_cast<int16_t>(i); break;
            case 4: result.lVal = static_cast<int32_t>(i); break;
            default: result.llVal = i; break;
            }
        }
    }
    PlatVariantClear(to);
    *to = result;
    return PLAT_S_OK;
}

// ---- Error information -------------------------------------------------------------------------------------

namespace {

class ErrorInfo final : public PlatIErrorInfo, public PlatICreateErrorInfo {
public:
    // IErrorInfo's IUnknown; ICreateErrorInfo's forwards here.
    PlatHRESULT QueryInterface(const PlatGuid& iid, void** object) override
    {
        if (!object)
            return static_cast<PlatHRESULT>(PLAT_E_POINTER);
        if (iid == PLAT_IID_IUnknown || iid == PLAT_IID_IErrorInfo)
            *object = static_cast<PlatIErrorInfo*>(this);
        else if (iid == PLAT_IID_ICreateErrorInfo)
            *object = static_cast<PlatICreateErrorInfo*>(this);
        else {
            *object = nullptr;
            return static_cast<PlatHRESULT>(PLAT_E_NOINTERFACE);
        }
        AddRef();
        return PLAT_S_OK;
    }
    uint32_t AddRef() override { return ++m_Refs; }
    uint32_t Release() override
    {
        const uint32_t n = --m_Refs;
        if (n == 0)
            delete this;
        return n;
    }
    PlatHRESULT GetGUID(PlatGuid* guid) override
    {
        if (!guid)
            return static_cast<PlatHRESULT>(PLAT_E_POINTER);
        *guid = m_Guid;
        return PLAT_S_OK;
    }
    PlatHRESULT GetSource(PlatBSTR* s) override { return Give(m_Source, s); }
    PlatHRESULT GetDescription(PlatBSTR* s) override { return Give(m_Description, s); }
    PlatHRESULT GetHelpFile(PlatBSTR* s) override { return Give(m_HelpFile, s); }
    PlatHRESULT GetHelpContext(uint32_t* c) override
    {
        if (!c)
            return static_cast<PlatHRESULT>(PLAT_E_POINTER);
        *c = m_Context;
        return PLAT_S_OK;
    }
    PlatHRESULT SetGUID(const PlatGuid& guid) override
    {
        m_Guid = guid;
        return PLAT_S_OK;
    }
    PlatHRESULT SetSource(const char16_t* s) override { return Take(s, &m_Source); }
    PlatHRESULT SetDescription(const char16_t* s) override { return Take(s, &m_Description); }
    PlatHRESULT SetHelpFile(const char16_t* s) override { return Take(s, &m_HelpFile); }
    PlatHRESULT SetHelpContext(uint32_t c) override
    {
        m_Context = c;
        return PLAT_S_OK;
    }

private:
    static PlatHRESULT Give(const std::u16string& text, PlatBSTR* out)
    {
        if (!out)
            return static_cast<PlatHRESULT>(PLAT_E_POINTER);
        *out = PlatSysAllocStringLen(text.data(), static_cast<uint32_t>(text.size()));
        return *out ? PLAT_S_OK : static_cast<PlatHRESULT>(PLAT_E_OUTOFMEMORY);
    }
    static PlatHRESULT Take(const char16_t* text, std::u16string* out)
    {
        *out = text ? std::u16string(text) : std::u16string();
        return PLAT_S_OK;
    }

    std::atomic<uint32_t> m_Refs{1};
    PlatGuid m_Guid{};
    std::u16string m_Source, m_Description, m_HelpFile;
    uint32_t m_Context = 0;
};

// The thread's error information, given back when the thread ends.
struct ThreadError {
    PlatIErrorInfo* info = nullptr;
    ~ThreadError()
    {
        if (info)
            info->Release();
    }
};
thread_local ThreadError t_Error;

}  // namespace

PlatHRESULT PlatCreateErrorInfo(PlatICreateErrorInfo** info)
{
    if (!info)
        return static_cast<PlatHRESULT>(PLAT_E_INVALIDARG);
    auto* e = new (std::nothrow) ErrorInfo;
    *info = e ? static_cast<PlatICreateErrorInfo*>(e) : nullptr;
    return e ? PLAT_S_OK : static_cast<PlatHRESULT>(PLAT_E_OUTOFMEMORY);
}

PlatHRESULT PlatSetErrorInfo(uint32_t, PlatIErrorInfo* info)
{
    if (info)
        info->AddRef();
    if (t_Error.info)
        t_Error.info->Release();
    t_Error.info = info;
    return PLAT_S_OK;
}

PlatHRESULT PlatGetErrorInfo(uint32_t, PlatIErrorInfo** info)
{
    if (!info)
        return static_cast<PlatHRESULT>(PLAT_E_INVALIDARG);
    *info = t_Error.info;
    t_Error.info = nullptr;
    return *info ? PLAT_S_OK : static_cast<PlatHRESULT>(PLAT_S_FALSE);
}

// ---- Activation --------------------------------------------------------------------------------------------

namespace {

using GetClassObjectFn = int32_t (*)(const PlatGuid*, const PlatGuid*, void**);
using CanUnloadNowFn = int32_t (*)();

struct Server {
    void* module;
    GetClassObjectFn getClassObject;
    CanUnloadNowFn canUnloadNow;
};

std::mutex g_ServersLock;
std::map<std::string, Server>& Servers()
{
    static auto* servers = new std::map<std::string, Server>;
    return *servers;
}

// A text value of a key (the unnamed value when name is null): checked for its type and size, as any process
// may have written it.
bool ReadText(PlatHKEY root, const std::string& path, const char* name, std::string* out)
{
    PlatHKEY key = nullptr;
    if (PlatRegOpenKeyEx(root, path.c_str(), 0, PLAT_KEY_READ, &key) != 0)
        return false;
    uint32_t type = 0;
    char buffer[4097] = {};
    uint32_t size = sizeof buffer - 1;
    const int32_t rc = PlatRegQueryValueEx(key, name, &type, buffer, &size);
    PlatRegCloseKey(key);
    if (rc != 0 || (type != PLAT_REG_SZ && type != PLAT_REG_EXPAND_SZ) || size > sizeof buffer - 1)
        return false;
    out->assign(buffer, strnlen(buffer, size));
    return !out->empty();
}

}  // namespace

PlatHRESULT PlatCoInitialize(void*)
{
    return PLAT_S_OK;
}

void PlatCoUninitialize() {}

PlatHRESULT PlatCLSIDFromProgID(const char16_t* progId, PlatGuid* clsid)
{
    if (!progId || !clsid)
        return static_cast<PlatHRESULT>(PLAT_E_INVALIDARG);
    std::u16string units(progId);
    std::string text;
    for (char16_t c : units) {
        if (c >= 0x80 || c == '\\')
            return static_cast<PlatHRESULT>(PLAT_CO_E_CLASSSTRING);
        text += static_cast<char>(c);
    }
    if (!text.empty() && text[0] == '{')
        return PlatGuidFromText(text, clsid) ? PLAT_S_OK : static_cast<PlatHRESULT>(PLAT_CO_E_CLASSSTRING);
    std::string value;
    if (text.empty() || text.size() > PLAT_REG_MAX_KEY_NAME || !ReadText(PLAT_HKEY_CLASSES_ROOT, text + "\\CLSID", nullptr, &value) ||
        !PlatGuidFromText(value, clsid))
        return static_cast<PlatHRESULT>(PLAT_CO_E_CLASSSTRING);
    return PLAT_S_OK;
}

PlatHRESULT PlatCoGetClassObject(const PlatGuid& clsid, uint32_t context, void*, const PlatGuid& iid, void** object)
{
    if (!object)
        return static_cast<PlatHRESULT>(PLAT_E_POINTER);
    *object = nullptr;
    if (!(context & PLAT_CLSCTX_INPROC_SERVER))
        return static_cast<PlatHRESULT>(PLAT_REGDB_E_CLASSNOTREG);
    std::string path;
    if (!ReadText(PLAT_HKEY_CLASSES_ROOT, "CLSID\\" + PlatGuidText(clsid) + "\\InprocServer32", nullptr, &path))
        return static_cast<PlatHRESULT>(PLAT_REGDB_E_CLASSNOTREG);
    Server server{};
    {
        std::lock_guard<std::mutex> guard(g_ServersLock);
        auto it = Servers().find(path);
        if (it == Servers().end()) {
            void* module = path[0] == '/' ? dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL) : nullptr;
            if (!module)
                return static_cast<PlatHRESULT>(PLAT_CO_E_DLLNOTFOUND);
            auto get = reinterpret_cast<GetClassObjectFn>(dlsym(module, "DllGetClassObject"));
            auto can = reinterpret_cast<CanUnloadNowFn>(dlsym(module, "DllCanUnloadNow"));
            if (!get) {
                dlclose(module);
                return static_cast<PlatHRESULT>(PLAT_CO_E_ERRORINDLL);
            }
            it = Servers().emplace(path, Server{module, get, can}).first;
        }
        server = it->second;
    }
    return server.getClassObject(&clsid, &iid, object);
}

PlatHRESULT PlatCoCreateInstance(const PlatGuid& clsid, PlatIUnknown* outer, uint32_t context, const PlatGuid& iid,
                                 void** object)
{
    if (!object)
        return static_cast<PlatHRESULT>(PLAT_E_POINTER);
    *object = nullptr;
    void* factory = nullptr;
    PlatHRESULT hr = PlatCoGetClassObject(clsid, context, nullptr, PLAT_IID_IClassFactory, &factory);
    if (PlatFailed(hr))
        return hr;
    auto* f = static_cast<PlatIClassFactory*>(factory);
    hr = f->CreateInstance(outer, iid, object);
    f->Release();
    return hr;
}

int PlatCoFreeUnusedLibraries()
{
    std::lock_guard<std::mutex> guard(g_ServersLock);
    int freed = 0;
    for (auto it = Servers().begin(); it != Servers().end();) {
        if (it->second.canUnloadNow && it->second.canUnloadNow() == static_cast<int32_t>(PLAT_S_OK)) {
            dlclose(it->second.module);
            it = Servers().erase(it);
            ++freed;
        } else {
            ++it;
        }
    }
    return freed;
}

bool PlatCoServerLoaded(const std::string& path)
{
    std::lock_guard<std::mutex> guard(g_ServersLock);
    return Servers().count(path) != 0;
}
