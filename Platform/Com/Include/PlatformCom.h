#pragma once
// A minimal COM runtime of the stand-in (libPlatformCom.so): interfaces as C++ classes of pure virtual
// functions (the vtable layout COM expects), in-process servers found through the registry
// (HKEY_CLASSES_ROOT\CLSID\{...}\InprocServer32 holds the server's path; a ProgID's key names its CLSID) and
// loaded at run time, BSTR strings, VARIANT values with the conversions the dispatch interfaces need, one-
// dimensional SAFEARRAYs, and per-thread error information.
//
// Servers export DllGetClassObject, DllCanUnloadNow, DllRegisterServer and DllUnregisterServer. A loaded server
// stays loaded until PlatCoFreeUnusedLibraries finds its DllCanUnloadNow answering S_OK.
#include <cstdint>
#include <string>

#include "PlatformDevices.h"

using PlatHRESULT = int32_t;

// HRESULTs.
constexpr int32_t PLAT_S_OK = static_cast<int32_t>(0);
constexpr int32_t PLAT_S_FALSE = static_cast<int32_t>(1);
constexpr int32_t PLAT_E_NOTIMPL = static_cast<int32_t>(0x80004001u);
constexpr int32_t PLAT_E_NOINTERFACE = static_cast<int32_t>(0x80004002u);
constexpr int32_t PLAT_E_POINTER = static_cast<int32_t>(0x80004003u);
constexpr int32_t PLAT_E_FAIL = static_cast<int32_t>(0x80004005u);
constexpr int32_t PLAT_E_UNEXPECTED = static_cast<int32_t>(0x8000FFFFu);
constexpr int32_t PLAT_E_ACCESSDENIED = static_cast<int32_t>(0x80070005u);
constexpr int32_t PLAT_E_OUTOFMEMORY = static_cast<int32_t>(0x8007000Eu);
constexpr int32_t PLAT_E_INVALIDARG = static_cast<int32_t>(0x80070057u);
constexpr int32_t PLAT_CLASS_E_NOAGGREGATION = static_cast<int32_t>(0x80040110u);
constexpr int32_t PLAT_CLASS_E_CLASSNOTAVAILABLE = static_cast<int32_t>(0x80040111u);
constexpr int32_t PLAT_REGDB_E_CLASSNOTREG = static_cast<int32_t>(0x80040154u);
constexpr int32_t PLAT_CO_E_CLASSSTRING = static_cast<int32_t>(0x800401F3u);
constexpr int32_t PLAT_CO_E_DLLNOTFOUND = static_cast<int32_t>(0x8004015Fu);
constexpr int32_t PLAT_CO_E_ERRORINDLL = static_cast<int32_t>(0x800401F9u);
constexpr int32_t PLAT_SELFREG_E_CLASS = static_cast<int32_t>(0x80040201u);
constexpr int32_t PLAT_SELFREG_E_TYPELIB = static_cast<int32_t>(0x80040200u);
constexpr int32_t PLAT_DISP_E_UNKNOWNINTERFACE = static_cast<int32_t>(0x80020001u);
constexpr int32_t PLAT_DISP_E_MEMBERNOTFOUND = static_cast<int32_t>(0x80020003u);
constexpr int32_t PLAT_DISP_E_PARAMNOTFOUND = static_cast<int32_t>(0x80020004u);
constexpr int32_t PLAT_DISP_E_TYPEMISMATCH = static_cast<int32_t>(0x80020005u);
constexpr int32_t PLAT_DISP_E_UNKNOWNNAME = static_cast<int32_t>(0x80020006u);
constexpr int32_t PLAT_DISP_E_BADVARTYPE = static_cast<int32_t>(0x80020008u);
constexpr int32_t PLAT_DISP_E_EXCEPTION = static_cast<int32_t>(0x80020009u);
constexpr int32_t PLAT_DISP_E_OVERFLOW = static_cast<int32_t>(0x8002000Au);
constexpr int32_t PLAT_DISP_E_BADPARAMCOUNT = static_cast<int32_t>(0x8002000Eu);
constexpr int32_t PLAT_DISP_E_PARAMNOTOPTIONAL = static_cast<int32_t>(0x8002000Fu);

// An HRESULT from a Win32 error code.
constexpr PlatHRESULT PlatHresultFromWin32(uint32_t error)
{
    return error == 0 ? 0 : static_cast<PlatHRESULT>((error & 0xFFFF) | 0x80070000u);
}
constexpr bool PlatFailed(PlatHRESULT hr)
{
    return hr < 0;
}

// Class contexts and invoke flags.
enum : uint32_t {
    PLAT_CLSCTX_INPROC_SERVER = 0x1,
    PLAT_DISPATCH_METHOD = 0x1,
    PLAT_DISPATCH_PROPERTYGET = 0x2,
    PLAT_DISPATCH_PROPERTYPUT = 0x4,
};
enum : int32_t { PLAT_DISPID_PROPERTYPUT = -3, PLAT_DISPID_UNKNOWN = -1 };

// ---- Strings -------------------------------------------------------------------------------------------------

// A BSTR: UTF-16, zero-terminated, its length in bytes in the 4 bytes before it. Null is the empty string.
using PlatBSTR = char16_t*;
PlatBSTR PlatSysAllocString(const char16_t* text);
PlatBSTR PlatSysAllocStringLen(const char16_t* text, uint32_t length);  // text may be null (zero-filled)
void PlatSysFreeString(PlatBSTR text);
uint32_t PlatSysStringLen(PlatBSTR text);
// Between BSTRs and UTF-8 (unpaired surrogates become U+FFFD).
PlatBSTR PlatSysAllocUtf8(const std::string& text);
std::string PlatBstrUtf8(PlatBSTR text);
std::u16string PlatUtf16(const std::string& text);

// "{B5463437-6971-11D4-816D-0050DACEAA4B}" to a GUID; false for any other form.
bool PlatGuidFromText(const std::string& text, PlatGuid* guid);

// ---- Interfaces ----------------------------------------------------------------------------------------------

struct PlatIUnknown {
    virtual PlatHRESULT QueryInterface(const PlatGuid& iid, void** object) = 0;
    virtual uint32_t AddRef() = 0;
    virtual uint32_t Release() = 0;
};

struct PlatIClassFactory : PlatIUnknown {
    virtual PlatHRESULT CreateInstance(PlatIUnknown* outer, const PlatGuid& iid, void** object) = 0;
    virtual PlatHRESULT LockServer(int32_t lock) = 0;
};

struct PlatSafeArray;
struct PlatIDispatch;

// VARIANT types.
enum : uint16_t {
    PLAT_VT_EMPTY = 0,
    PLAT_VT_NULL = 1,
    PLAT_VT_I2 = 2,
    PLAT_VT_I4 = 3,
    PLAT_VT_R8 = 5,
    PLAT_VT_BSTR = 8,
    PLAT_VT_DISPATCH = 9,
    PLAT_VT_ERROR = 10,
    PLAT_VT_BOOL = 11,
    PLAT_VT_VARIANT = 12,
    PLAT_VT_UNKNOWN = 13,
    PLAT_VT_I1 = 16,
    PLAT_VT_UI1 = 17,
    PLAT_VT_UI2 = 18,
    PLAT_VT_UI4 = 19,
    PLAT_VT_I8 = 20,
    PLAT_VT_UI8 = 21,
    PLAT_VT_INT = 22,
    PLAT_VT_UINT = 23,
    PLAT_VT_ARRAY = 0x2000,
    PLAT_VT_BYREF = 0x4000,
};

struct PlatVariant {
    uint16_t vt;
    uint16_t reserved1, reserved2, reserved3;
    union {
        int64_t llVal;
        uint64_t ullVal;
        int32_t lVal;
        uint32_t ulVal;
        int16_t iVal;
        uint16_t uiVal;
        int8_t cVal;
        uint8_t bVal;
        int16_t boolVal;  // -1 true, 0 false
        double dblVal;
        int32_t scode;
        PlatBSTR bstrVal;
        PlatIUnknown* punkVal;
        PlatIDispatch* pdispVal;
        PlatSafeArray* parray;
        void* byref;  // with PLAT_VT_BYREF: the address of a value of the type (a PlatVariant for VT_VARIANT)
    };
};

void PlatVariantInit(PlatVariant* v);
// Frees what the value owns (string, array, reference) and empties it; references (BYREF) own nothing.
PlatHRESULT PlatVariantClear(PlatVariant* v);
PlatHRESULT PlatVariantCopy(PlatVariant* to, const PlatVariant* from);
// Converts to type vt (numbers, strings and booleans among each other, BYREF values by what they refer to,
// VT_UNKNOWN and VT_DISPATCH by QueryInterface). DISP_E_TYPEMISMATCH, DISP_E_OVERFLOW on failure; to is
// cleared first and may be from.
PlatHRESULT PlatVariantChangeType(PlatVariant* to, const PlatVariant* from, uint16_t flags, uint16_t vt);

// A one-dimensional array of elements of one VARIANT type.
struct PlatSafeArray {
    uint16_t dims;       // 1
    uint16_t vt;         // the element type
    uint32_t elementSize;
    uint32_t locks;
    void* data;
    uint32_t count;
    int32_t lowerBound;
};
// An array of count zero-filled elements of type vt (PLAT_VT_UI1, I2, UI2, I4, UI4); null when memory runs out.
PlatSafeArray* PlatSafeArrayCreateVector(uint16_t vt, int32_t lowerBound, uint32_t count);
PlatHRESULT PlatSafeArrayDestroy(PlatSafeArray* array);

struct PlatDispParams {
    PlatVariant* args;  // last argument first
    int32_t* namedArgs;
    uint32_t count;
    uint32_t namedCount;
};

struct PlatExcepInfo {
    uint16_t code;
    uint16_t reserved;
    PlatBSTR source;
    PlatBSTR description;
    PlatBSTR helpFile;
    uint32_t helpContext;
    void* reserved2;
    void* deferredFillIn;
    PlatHRESULT scode;
};

struct PlatIDispatch : PlatIUnknown {
    virtual PlatHRESULT GetTypeInfoCount(uint32_t* count) = 0;
    virtual PlatHRESULT GetTypeInfo(uint32_t index, uint32_t locale, void** typeInfo) = 0;
    virtual PlatHRESULT GetIDsOfNames(const PlatGuid& iid, char16_t** names, uint32_t count, uint32_t locale,
                                      int32_t* dispIds) = 0;
    virtual PlatHRESULT Invoke(int32_t dispId, const PlatGuid& iid, uint32_t locale, uint16_t flags,
                               PlatDispParams* params, PlatVariant* result, PlatExcepInfo* exception,
                               uint32_t* argumentError) = 0;
};

struct PlatIErrorInfo : PlatIUnknown {
    virtual PlatHRESULT GetGUID(PlatGuid* guid) = 0;
    virtual PlatHRESULT GetSource(PlatBSTR* source) = 0;
    virtual PlatHRESULT GetDescription(PlatBSTR* description) = 0;
    virtual PlatHRESULT GetHelpFile(PlatBSTR* helpFile) = 0;
    virtual PlatHRESULT GetHelpContext(uint32_t* context) = 0;
};

struct PlatICreateErrorInfo : PlatIUnknown {
    virtual PlatHRESULT SetGUID(const PlatGuid& guid) = 0;
    virtual PlatHRESULT SetSource(const char16_t* source) = 0;
    virtual PlatHRESULT SetDescription(const char16_t* description) = 0;
    virtual PlatHRESULT SetHelpFile(const char16_t* helpFile) = 0;
    virtual PlatHRESULT SetHelpContext(uint32_t context) = 0;
};

struct PlatISupportErrorInfo : PlatIUnknown {
    virtual PlatHRESULT InterfaceSupportsErrorInfo(const PlatGuid& iid) = 0;
};

extern const PlatGuid PLAT_IID_IUnknown;
extern const PlatGuid PLAT_IID_IClassFactory;
extern const PlatGuid PLAT_IID_IDispatch;
extern const PlatGuid PLAT_IID_IErrorInfo;
extern const PlatGuid PLAT_IID_ICreateErrorInfo;
extern const PlatGuid PLAT_IID_ISupportErrorInfo;
extern const PlatGuid PLAT_IID_NULL;

// ---- Error information (per thread) --------------------------------------------------------------------------

PlatHRESULT PlatCreateErrorInfo(PlatICreateErrorInfo** info);
// Replaces the thread's error information (null clears it).
PlatHRESULT PlatSetErrorInfo(uint32_t reserved, PlatIErrorInfo* info);
// Takes the thread's error information (S_FALSE and null when there is none); it is cleared.
PlatHRESULT PlatGetErrorInfo(uint32_t reserved, PlatIErrorInfo** info);

// ---- Activation ----------------------------------------------------------------------------------------------

PlatHRESULT PlatCoInitialize(void* reserved);
void PlatCoUninitialize();
// The CLSID of a ProgID ("UserDll.OstraUsb.1"), or of a text "{...}". CO_E_CLASSSTRING when unknown.
PlatHRESULT PlatCLSIDFromProgID(const char16_t* progId, PlatGuid* clsid);
PlatHRESULT PlatCoGetClassObject(const PlatGuid& clsid, uint32_t context, void* serverInfo, const PlatGuid& iid,
                                 void** object);
PlatHRESULT PlatCoCreateInstance(const PlatGuid& clsid, PlatIUnknown* outer, uint32_t context, const PlatGuid& iid,
                                 void** object);
// Unloads the servers whose DllCanUnloadNow answers S_OK; answers how many were unloaded.
int PlatCoFreeUnusedLibraries();
// Whether a server of that path is loaded by the runtime now.
bool PlatCoServerLoaded(const std::string& path);
