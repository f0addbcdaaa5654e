// The in-process server's entry points: class factories, the module's unload answer, and the registration of
// the six classes and the type library.
#include <dlfcn.h>

#include <new>
#include <string>

#include "OstraCom.h"
#include "OstraUsb.h"
#include "PlatformRegistry.h"

#define OSTRA_EXPORT extern "C" __attribute__((visibility("default")))

using namespace ostra;

namespace {

class Factory final : public PlatIClassFactory {
public:
    explicit Factory(const ComClass& cls) : m_Class(cls) { ++g_ComObjects; }
    ~Factory() { --g_ComObjects; }
    Factory(const Factory&) = delete;
    Factory& operator=(const Factory&) = delete;

    PlatHRESULT QueryInterface(const PlatGuid& iid, void** object) override
    {
        if (!object)
            return static_cast<PlatHRESULT>(PLAT_E_POINTER);
        if (!(iid == PLAT_IID_IUnknown || iid == PLAT_IID_IClassFactory)) {
            *object = nullptr;
            return static_cast<PlatHRESULT>(PLAT_E_NOINTERFACE);
        }
        *object = static_cast<PlatIClassFactory*>(this);
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
    PlatHRESULT CreateInstance(PlatIUnknown* outer, const PlatGuid& iid, void** object) override
    {
        if (!object)
            return static_cast<PlatHRESULT>(PLAT_E_POINTER);
        *object = nullptr;
        if (outer)
            return static_cast<PlatHRESULT>(PLAT_CLASS_E_NOAGGREGATION);
        PlatIUnknown* created = m_Class.create();
        if (!created)
            return static_cast<PlatHRESULT>(PLAT_E_OUTOFMEMORY);
        const PlatHRESULT hr = created->QueryInterface(iid, object);
        created->Release();
        return hr;
    }
    PlatHRESULT LockServer(int32_t lock) override
    {
        if (lock)
            ++g_ComLocks;
        else if (g_ComLocks > 0)
            --g_ComLocks;
        return PLAT_S_OK;
    }

private:
    std::atomic<uint32_t> m_Refs{1};
    const ComClass& m_Class;
};

// This library's path.
std::string ModulePath()
{
    Dl_info info{};
    if (!dladdr(reinterpret_cast<const void*>(&DllRegisterServer), &info) || !info.dli_fname)
        return std::string();
    char resolved[4096];
    return realpath(info.dli_fname, resolved) ? std::string(resolved) : std::string(info.dli_fname);
}

bool SetText(const std::string& key, const char* name, const std::string& value)
{
    PlatHKEY h = nullptr;
    if (PlatRegCreateKeyEx(PLAT_HKEY_CLASSES_ROOT, key.c_str(), 0, PLAT_KEY_ALL_ACCESS, &h, nullptr) != 0)
        return false;
    const bool ok = PlatRegSetValueEx(h, name, PLAT_REG_SZ, value.c_str(), static_cast<uint32_t>(value.size() + 1)) == 0;
    PlatRegCloseKey(h);
    return ok;
}

bool MakeKey(const std::string& key)
{
    PlatHKEY h = nullptr;
    if (PlatRegCreateKeyEx(PLAT_HKEY_CLASSES_ROOT, key.c_str(), 0, PLAT_KEY_ALL_ACCESS, &h, nullptr) != 0)
        return false;
    PlatRegCloseKey(h);
    return true;
}

std::string TypeLibraryKey()
{
    return "TypeLib\\" + PlatGuidText(kTypeLibraryId);
}

bool RegisterClass(const ComClass& c, const std::string& path)
{
    const std::string clsid = PlatGuidText(c.clsid);
    const std::string key = "CLSID\\" + clsid;
    bool ok = SetText(c.progId, nullptr, c.name) && SetText(std::string(c.progId) + "\\CLSID", nullptr, clsid) &&
              SetText(c.progIdIndependent, nullptr, c.name) &&
              SetText(std::string(c.progIdIndependent) + "\\CLSID", nullptr, clsid) &&
              SetText(std::string(c.progIdIndependent) + "\\CurVer", nullptr, c.progId) &&
              SetText(key, nullptr, c.name) && SetText(key + "\\ProgID", nullptr, c.progId) &&
              SetText(key + "\\VersionIndependentProgID", nullptr, c.progIdIndependent) &&
              SetText(key + "\\InprocServer32", nullptr, path) &&
              SetText(key + "\\InprocServer32", "ThreadingModel", "Apartment") &&
              SetText(key + "\\TypeLib", nullptr, PlatGuidText(kTypeLibraryId));
    if (ok && c.control) {
        ok = MakeKey(std::string(c.progId) + "\\Insertable") && MakeKey(key + "\\Programmable") &&
             MakeKey(key + "\\Control") && MakeKey(key + "\\Insertable") &&
             SetText(key + "\\ToolboxBitmap32", nullptr, path + ", 102") && SetText(key + "\\MiscStatus", nullptr, "0") &&
             SetText(key + "\\MiscStatus\\1", nullptr, "132497") && SetText(key + "\\Version", nullptr, "1.0");
    }
    return ok;
}

void UnregisterClass(const ComClass& c)
{
    PlatRegDeleteTree(PLAT_HKEY_CLASSES_ROOT, ("CLSID\\" + PlatGuidText(c.clsid)).c_str());
    PlatRegDeleteTree(PLAT_HKEY_CLASSES_ROOT, c.progId);
    PlatRegDeleteTree(PLAT_HKEY_CLASSES_ROOT, c.progIdIndependent);
}

}  // namespace

OSTRA_EXPORT int32_t DllCanUnloadNow(void)
{
    return g_ComObjects == 0 && g_ComLocks == 0 ? static_cast<int32_t>(PLAT_S_OK) : static_cast<int32_t>(PLAT_S_FALSE);
}

OSTRA_EXPORT int32_t DllGetClassObject(const PlatGuid* classId, const PlatGuid* interfaceId, void** object)
{
    if (!object)
        return static_cast<int32_t>(PLAT_E_POINTER);
    *object = nullptr;
    if (!classId || !interfaceId)
        return static_cast<int32_t>(PLAT_E_INVALIDARG);
    for (const ComClass& c : ComClasses()) {
        if (!(c.clsid == *classId))
            continue;
        auto* factory = new (std::nothrow) Factory(c);
        if (!factory)
            return static_cast<int32_t>(PLAT_E_OUTOFMEMORY);
        const PlatHRESULT hr = factory->QueryInterface(*interfaceId, object);
        factory->Release();
        return hr;
    }
    return static_cast<int32_t>(PLAT_CLASS_E_CLASSNOTAVAILABLE);
}

OSTRA_EXPORT int32_t DllRegisterServer(void)
{
    const std::string path = ModulePath();
    if (path.empty())
        return static_cast<int32_t>(PLAT_SELFREG_E_CLASS);
    for (const ComClass& c : ComClasses())
        if (!RegisterClass(c, path))
            return static_cast<int32_t>(PLAT_SELFREG_E_CLASS);
    // The type library: its content is the dispatch tables compiled into the library.
    const std::string lib = TypeLibraryKey() + "\\1.0";
    const std::string folder = path.substr(0, path.rfind('/'));
    if (!SetText(lib, nullptr, "OSTRAUSBLib") || !SetText(lib + "\\0\\win32", nullptr, path) ||
        !SetText(lib + "\\FLAGS", nullptr, "0") || !SetText(lib + "\\HELPDIR", nullptr, folder))
        return static_cast<int32_t>(PLAT_SELFREG_E_TYPELIB);
    return static_cast<int32_t>(PLAT_S_OK);
}

OSTRA_EXPORT int32_t DllUnregisterServer(void)
{
    for (const ComClass& c : ComClasses())
        UnregisterClass(c);
    PlatRegDeleteTree(PLAT_HKEY_CLASSES_ROOT, TypeLibraryKey().c_str());
    return static_cast<int32_t>(PLAT_S_OK);
}
