// comprobe: in-process servers through the platform's COM runtime.
//
//   comprobe register FILE      calls the library's DllRegisterServer (FILE: libName.so, or a path)
//   comprobe unregister FILE    calls its DllUnregisterServer
//   comprobe run SCRIPT         runs a script (ComprobeScript.h; "-" reads standard input)
//
// run prints NAME.PROPERTY = VALUE for get, NAME.METHOD -> 0x%08X (and the error's description) for call, then
// NAME.METHOD(N) = VALUE for each out argument N (from 1); a failed new or put prints its HRESULT the same way.
// The exit status is 0 when every command succeeded, 1 when one failed, 2 for a script that cannot be read.
#include <dlfcn.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "ComprobeScript.h"
#include "PlatformCom.h"
#include "PlatformDevices.h"
#include "PlatformWindow.h"

namespace {

int Usage()
{
    std::fprintf(stderr,
                 "usage: comprobe register FILE | unregister FILE | run SCRIPT\n"
                 "script lines: new NAME PROGID | put NAME PROPERTY VALUE | get NAME PROPERTY |\n"
                 "              call NAME METHOD ARG...   (ARG: number, \"text\", @NAME, hex:BYTES, out)\n");
    return 2;
}

// Loads a server library: libName.so as the platform loads Name.dll, or a path.
PlatModule LoadServer(const std::string& file)
{
    if (file.find('/') != std::string::npos)
        return dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (file.size() > 6 && file.compare(0, 3, "lib") == 0 && file.compare(file.size() - 3, 3, ".so") == 0)
        return PlatLoadLibrary((file.substr(3, file.size() - 6) + ".dll").c_str());
    return PlatLoadLibrary(file.c_str());
}

int Register(const std::string& file, const char* entry)
{
    PlatModule module = LoadServer(file);
    if (!module) {
        std::fprintf(stderr, "comprobe: cannot load %s\n", file.c_str());
        return 1;
    }
    auto fn = reinterpret_cast<int32_t (*)()>(PlatGetProcAddress(module, entry));
    if (!fn) {
        std::fprintf(stderr, "comprobe: %s has no %s\n", file.c_str(), entry);
        PlatFreeLibrary(module);
        return 1;
    }
    const int32_t hr = fn();
    std::printf("%s -> 0x%08X\n", entry, static_cast<uint32_t>(hr));
    PlatFreeLibrary(module);
    return hr == 0 ? 0 : 1;
}

class Runner {
public:
    ~Runner()
    {
        for (auto& [name, object] : m_Objects)
            object->Release();
        m_Objects.clear();
        PlatCoFreeUnusedLibraries();
    }

    bool Run(const comprobe::Line& line)
    {
        // Device messages sent to the objects' windows meanwhile are run between commands.
        PlatMsgWaitForSingleObject(nullptr, 0);
        switch (line.op) {
        case comprobe::Line::New: return New(line);
        case comprobe::Line::Put: return Put(line);
        case comprobe::Line::Get: return Get(line);
        case comprobe::Line::Call: return Call(line);
        }
        return false;
    }

private:
    bool New(const comprobe::Line& line)
    {
        PlatGuid clsid{};
        const std::u16string progId = PlatUtf16(line.member);
        PlatHRESULT hr = PlatCLSIDFromProgID(progId.c_str(), &clsid);
        void* object = nullptr;
        if (!PlatFailed(hr))
            hr = PlatCoCreateInstance(clsid, nullptr, PLAT_CLSCTX_INPROC_SERVER, PLAT_IID_IDispatch, &object);
        if (PlatFailed(hr)) {
            std::printf("%s -> 0x%08X%s\n", line.name.c_str(), static_cast<uint32_t>(hr), ErrorText(nullptr).c_str());
            return false;
        }
        auto it = m_Objects.find(line.name);
        if (it != m_Objects.end())
            it->second->Release();
        m_Objects[line.name] = static_cast<PlatIDispatch*>(object);
        return true;
    }

    PlatIDispatch* Object(const std::string& name)
    {
        auto it = m_Objects.find(name);
        if (it == m_Objects.end()) {
            std::printf("%s: no such object\n", name.c_str());
            return nullptr;
        }
        return it->second;
    }

    bool Id(PlatIDispatch* object, const comprobe::Line& line, int32_t* id)
    {
        std::u16string name = PlatUtf16(line.member);
        char16_t* names[1] = {name.data()};
        const PlatHRESULT hr = object->GetIDsOfNames(PLAT_IID_NULL, names, 1, 0, id);
        if (PlatFailed(hr))
            std::printf("%s.%s -> 0x%08X\n", line.name.c_str(), line.member.c_str(), static_cast<uint32_t>(hr));
        return !PlatFailed(hr);
    }

    // A script argument as a VARIANT (out: a reference to one of the slots).
    bool Value(const comprobe::Arg& a, PlatVariant* v, PlatVariant* slot)
    {
        PlatVariantInit(v);
        switch (a.kind) {
        case comprobe::Arg::Number:
            v->vt = PLAT_VT_I4;
            v->lVal = static_cast<int32_t>(a.number);
            return true;
        case comprobe::Arg::Text:
            v->vt = PLAT_VT_BSTR;
            v->bstrVal = PlatSysAllocUtf8(a.text);
            return true;
        case comprobe::Arg::Object: {
            PlatIDispatch* o = Object(a.text);
            if (!o)
                return false;
            o->AddRef();
            v->vt = PLAT_VT_DISPATCH;
            v->pdispVal = o;
            return true;
        }
        case comprobe::Arg::Bytes:
            v->vt = PLAT_VT_ARRAY | PLAT_VT_UI1;
            v->parray = PlatSafeArrayCreateVector(PLAT_VT_UI1, 0, static_cast<uint32_t>(a.bytes.size()));
            if (!v->parray)
                return false;
            if (!a.bytes.empty())
                std::memcpy(v->parray->data, a.bytes.data(), a.bytes.size());
            return true;
        case comprobe::Arg::Out:
            PlatVariantInit(slot);
            v->vt = PLAT_VT_BYREF | PLAT_VT_VARIANT;
            v->byref = slot;
            return true;
        }
        return false;
    }

    std::string Show(const PlatVariant& v)
    {
        char text[64];
        switch (v.vt) {
        case PLAT_VT_EMPTY: return "(empty)";
        case PLAT_VT_BOOL: return v.boolVal ? "True" : "False";
        case PLAT_VT_BSTR: {
            std::string out = "\"";
            for (char c : PlatBstrUtf8(v.bstrVal))
                out += c == '"' || c == '\\' ? std::string("\\") + c : std::string(1, c);
            return out + "\"";
        }
        case PLAT_VT_DISPATCH:
            for (auto& [name, object] : m_Objects)
                if (static_cast<PlatIUnknown*>(object) == v.punkVal)
                    return "@" + name;
            return v.pdispVal ? "(object)" : "(nothing)";
        case PLAT_VT_R8: std::snprintf(text, sizeof text, "%g", v.dblVal); return text;
        case PLAT_VT_ARRAY | PLAT_VT_UI1: {
            std::string out = "hex:";
            if (v.parray)
                for (uint32_t i = 0; i < v.parray->count; ++i) {
                    std::snprintf(text, sizeof text, "%02x", static_cast<const uint8_t*>(v.parray->data)[i]);
                    out += text;
                }
            return out;
        }
        case PLAT_VT_ARRAY | PLAT_VT_I2: {
            std::string out = "[";
            if (v.parray)
                for (uint32_t i = 0; i < v.parray->count; ++i) {
                    std::snprintf(text, sizeof text, "%s0x%04X", i ? " " : "",
                                  static_cast<uint16_t>(static_cast<const int16_t*>(v.parray->data)[i]));
                    out += text;
                }
            return out + "]";
        }
        default: {
            PlatVariant s;
            PlatVariantInit(&s);
            if (PlatFailed(PlatVariantChangeType(&s, &v, 0, PLAT_VT_BSTR))) {
                std::snprintf(text, sizeof text, "(type %u)", v.vt);
                return text;
            }
            std::string out = PlatBstrUtf8(s.bstrVal);
            PlatVariantClear(&s);
            return out;
        }
        }
    }

    // The description of a failure: from the exception record, else from the thread's error information.
    static std::string ErrorText(const PlatExcepInfo* e)
    {
        std::string text;
        if (e && e->description)
            text = PlatBstrUtf8(e->description);
        PlatIErrorInfo* info = nullptr;
        if (PlatGetErrorInfo(0, &info) == PLAT_S_OK && info) {
            PlatBSTR d = nullptr;
            if (text.empty() && info->GetDescription(&d) == PLAT_S_OK)
                text = PlatBstrUtf8(d);
            PlatSysFreeString(d);
            info->Release();
        }
        return text.empty() ? std::string() : " " + text;
    }

    static void FreeException(PlatExcepInfo* e)
    {
        PlatSysFreeString(e->source);
        PlatSysFreeString(e->description);
        PlatSysFreeString(e->helpFile);
    }

    bool Invoke(const comprobe::Line& line, uint16_t flags, bool show)
    {
        PlatIDispatch* object = Object(line.name);
        int32_t id = 0;
        if (!object || !Id(object, line, &id))
            return false;
        const size_t n = line.args.size();
        std::vector<PlatVariant> args(n), slots(n);
        bool ok = true;
        size_t made = 0;
        // Arguments go last first.
        for (; made < n && ok; ++made)
            ok = Value(line.args[made], &args[n - 1 - made], &slots[made]);
        int32_t put = PLAT_DISPID_PROPERTYPUT;
        PlatDispParams params{n ? args.data() : nullptr, flags == PLAT_DISPATCH_PROPERTYPUT ? &put : nullptr,
                              static_cast<uint32_t>(n), flags == PLAT_DISPATCH_PROPERTYPUT ? 1u : 0u};
        PlatVariant result;
        PlatVariantInit(&result);
        PlatExcepInfo exception{};
        uint32_t argError = 0;
        PlatHRESULT hr = static_cast<PlatHRESULT>(PLAT_E_INVALIDARG);
        if (ok)
            hr = object->Invoke(id, PLAT_IID_NULL, 0, flags, &params, &result, &exception, &argError);
        const std::string what = line.name + "." + line.member;
        if (flags == PLAT_DISPATCH_PROPERTYGET && !PlatFailed(hr)) {
            std::printf("%s = %s\n", what.c_str(), Show(result).c_str());
        } else if (show || PlatFailed(hr)) {
            std::printf("%s -> 0x%08X%s\n", what.c_str(), static_cast<uint32_t>(hr), ErrorText(&exception).c_str());
        }
        if (!PlatFailed(hr))
            for (size_t i = 0; i < n; ++i)
                if (line.args[i].kind == comprobe::Arg::Out)
                    std::printf("%s(%zu) = %s\n", what.c_str(), i + 1, Show(slots[i]).c_str());
        for (size_t i = 0; i < made; ++i) {
            PlatVariantClear(&args[n - 1 - i]);
            PlatVariantClear(&slots[i]);
        }
        PlatVariantClear(&result);
        FreeException(&exception);
        std::fflush(stdout);
        return !PlatFailed(hr);
    }

    bool Put(const comprobe::Line& line) { return Invoke(line, PLAT_DISPATCH_PROPERTYPUT, false); }
    bool Get(const comprobe::Line& line) { return Invoke(line, PLAT_DISPATCH_PROPERTYGET, false); }
    bool Call(const comprobe::Line& line) { return Invoke(line, PLAT_DISPATCH_METHOD, true); }

    std::map<std::string, PlatIDispatch*> m_Objects;
};

int RunScript(const std::string& file)
{
    std::string text;
    if (file == "-") {
        std::ostringstream s;
        s << std::cin.rdbuf();
        text = s.str();
    } else {
        std::ifstream in(file, std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "comprobe: cannot read %s\n", file.c_str());
            return 2;
        }
        std::ostringstream s;
        s << in.rdbuf();
        text = s.str();
    }
    std::vector<comprobe::Line> lines;
    std::string error;
    if (!comprobe::ParseScript(text, &lines, &error)) {
        std::fprintf(stderr, "comprobe: %s: %s\n", file.c_str(), error.c_str());
        return 2;
    }
    PlatCoInitialize(nullptr);
    bool all = true;
    {
        Runner runner;
        for (const comprobe::Line& line : lines)
            all = runner.Run(line) && all;
    }
    PlatCoUninitialize();
    return all ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 3)
        return Usage();
    const std::string command = argv[1];
    if (command == "register")
        return Register(argv[2], "DllRegisterServer");
    if (command == "unregister")
        return Register(argv[2], "DllUnregisterServer");
    if (command == "run")
        return RunScript(argv[2]);
    return Usage();
}
