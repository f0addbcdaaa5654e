#pragma once
// The in-process server: its classes, their dispatch tables (the content of the type library) and the module's
// count of live objects and locks.
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "PlatformCom.h"

namespace ostra {

// The module's objects (class factories included) and server locks: DllCanUnloadNow answers S_OK at 0.
extern std::atomic<long> g_ComObjects;
extern std::atomic<long> g_ComLocks;

extern const PlatGuid kTypeLibraryId;  // {A5914451-1A00-11D4-A1C3-00600837FC57}, version 1.0

// One class of the server.
struct ComClass {
    const char* name;       // "OstraUsb Class"
    const char* progId;     // "UserDll.OstraUsb.1"
    const char* progIdIndependent;
    PlatGuid clsid;
    PlatGuid iid;
    bool control;           // registered as programmable, control and insertable
    PlatIUnknown* (*create)();  // a new object with one reference, null when memory runs out
};
const std::vector<ComClass>& ComClasses();

// Parameter and property types of the dispatch tables.
enum class P : uint8_t {
    Byte,      // VT_UI1
    UShort,    // VT_UI2
    Short,     // VT_I2
    Long,      // VT_I4
    Bool,      // VT_BOOL
    Bstr,      // VT_BSTR
    Object,    // VT_DISPATCH
    Bytes,     // an array of bytes (VT_ARRAY | VT_UI1), given or empty; written back when passed by reference
    OutLong,   // by reference: receives a VT_I4
    OutShort,  // receives a VT_I2
    OutBstr,   // receives a VT_BSTR
    OutBytes,  // receives an array of bytes (or of VT_I2 for language ids)
    OutLong64, // receives a VT_I8
};

// The arguments of one call, coerced to the parameters' types.
class Call {
public:
    ~Call();
    int32_t Long(size_t i) const { return in[i].lVal; }
    uint8_t Byte(size_t i) const { return in[i].bVal; }
    uint16_t UShort(size_t i) const { return in[i].uiVal; }
    int16_t Short(size_t i) const { return in[i].iVal; }
    bool Bool(size_t i) const { return in[i].boolVal != 0; }
    PlatBSTR Bstr(size_t i) const { return in[i].bstrVal; }
    PlatIDispatch* Object(size_t i) const { return in[i].pdispVal; }
    // The bytes of a Bytes parameter (none when it came empty).
    std::vector<uint8_t> Bytes(size_t i) const;
    // Hands a value (owned by the call from now on) to an out or by-reference parameter; a parameter passed by
    // value keeps its value.
    PlatHRESULT Out(size_t i, PlatVariant value);
    PlatHRESULT OutBytes(size_t i, const uint8_t* data, size_t size);

    std::vector<PlatVariant> in;
    std::vector<PlatVariant*> args;
};

// An entry of a dispatch table: a method, or one side of a property (the put side takes one parameter).
struct Member {
    const char16_t* name;
    uint16_t kind;  // PLAT_DISPATCH_METHOD, _PROPERTYGET or _PROPERTYPUT
    std::vector<P> params;
    PlatHRESULT (*run)(PlatIUnknown* self, Call& call, PlatVariant* result);
};

// The base of the server's objects: IUnknown, IDispatch over a table, ISupportErrorInfo.
class DispatchObject : public PlatIDispatch, public PlatISupportErrorInfo {
public:
    DispatchObject(const ComClass& cls, const std::vector<Member>& members);
    virtual ~DispatchObject();
    DispatchObject(const DispatchObject&) = delete;
    DispatchObject& operator=(const DispatchObject&) = delete;

    PlatHRESULT QueryInterface(const PlatGuid& iid, void** object) override;
    uint32_t AddRef() override;
    uint32_t Release() override;
    PlatHRESULT GetTypeInfoCount(uint32_t* count) override;
    PlatHRESULT GetTypeInfo(uint32_t index, uint32_t locale, void** typeInfo) override;
    PlatHRESULT GetIDsOfNames(const PlatGuid& iid, char16_t** names, uint32_t count, uint32_t locale,
                              int32_t* dispIds) override;
    PlatHRESULT Invoke(int32_t dispId, const PlatGuid& iid, uint32_t locale, uint16_t flags, PlatDispParams* params,
                       PlatVariant* result, PlatExcepInfo* exception, uint32_t* argumentError) override;
    PlatHRESULT InterfaceSupportsErrorInfo(const PlatGuid& iid) override;

    // Sets the thread's error information (the class's interface and ProgID, the text) and answers
    // DISP_E_EXCEPTION, or hr when given.
    PlatHRESULT Raise(const std::string& text, PlatHRESULT hr = static_cast<PlatHRESULT>(PLAT_DISP_E_EXCEPTION));
    // The HRESULT of a flat export's result: 0 S_OK; a driver code the text of its string resource; another
    // code the system's text for it (for 0 with failure, the thread's last error; 0 then too gives S_OK).
    PlatHRESULT FromResult(uint32_t code);

    const ComClass& Class() const { return m_Class; }

protected:
    virtual PlatHRESULT QueryOther(const PlatGuid& iid, void** object);

private:
    std::atomic<uint32_t> m_Refs{1};
    const ComClass& m_Class;
    const std::vector<Member>& m_Members;
};

// The server's own object behind an interface pointer of one of its classes, else null (no reference taken).
DispatchObject* OwnObject(PlatIUnknown* object);

// The UTF-16 text of ANSI (Windows-1252) bytes, and back.
std::u16string FromAnsi(const char* text, size_t length);
std::string ToAnsi(PlatBSTR text);

}  // namespace ostra
