// The machine's registry from the shell.
//
//   lumoreg query KEY [VALUE]             prints the value's data (VALUE omitted: the key's unnamed value)
//   lumoreg add KEY [VALUE TYPE DATA]     creates the key, and sets the value
//   lumoreg delete KEY [VALUE]            deletes the value, or the key with everything below it
//   lumoreg export [KEY]                  one line per value below the key (all keys without KEY):
//                                         KEY\VALUE = TYPE DATA
//
// KEY begins with a root: HKLM, HKCU, HKU, HKCR or their long names (HKEY_LOCAL_MACHINE, ...). TYPE is REG_SZ,
// REG_EXPAND_SZ, REG_MULTI_SZ (DATA's strings separated by \0), REG_DWORD (decimal or 0x hexadecimal),
// REG_BINARY or REG_NONE (hexadecimal bytes). Data is printed as it is given, a DWORD as 0x hexadecimal.
#include <cerrno>
#include <cinttypes>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "PlatformRegistry.h"

namespace {

int Usage()
{
    std::fprintf(stderr,
                 "usage: lumoreg query KEY [VALUE]\n"
                 "       lumoreg add KEY [VALUE TYPE DATA]\n"
                 "       lumoreg delete KEY [VALUE]\n"
                 "       lumoreg export [KEY]\n"
                 "KEY begins with HKLM, HKCU, HKU or HKCR; TYPE is REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ, REG_DWORD,\n"
                 "REG_BINARY or REG_NONE\n");
    return 2;
}

std::string Upper(std::string s)
{
    for (char& c : s)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return s;
}

const char* ErrorText(int32_t rc)
{
    switch (rc) {
    case PLAT_ERROR_FILE_NOT_FOUND: return "not found";
    case PLAT_ERROR_ACCESS_DENIED: return "access denied (a root, or a key with subkeys)";
    case PLAT_ERROR_INVALID_PARAMETER: return "invalid parameter";
    case PLAT_ERROR_KEY_DELETED: return "the key was deleted";
    case PLAT_ERROR_REGISTRY_IO_FAILED: return "the registry's store cannot be read or written";
    default: return "failed";
    }
}

int Fail(const std::string& what, int32_t rc)
{
    std::fprintf(stderr, "lumoreg: %s: %s (%d)\n", what.c_str(), ErrorText(rc), rc);
    return 1;
}

// The root of a key name and the rest of it; false for an unknown root.
bool SplitKey(const std::string& key, PlatHKEY* root, std::string* rest)
{
    const size_t slash = key.find('\\');
    const std::string head = Upper(key.substr(0, slash));
    *rest = slash == std::string::npos ? std::string() : key.substr(slash + 1);
    if (head == "HKLM" || head == "HKEY_LOCAL_MACHINE")
        *root = PLAT_HKEY_LOCAL_MACHINE;
    else if (head == "HKCU" || head == "HKEY_CURRENT_USER")
        *root = PLAT_HKEY_CURRENT_USER;
    else if (head == "HKU" || head == "HKEY_USERS")
        *root = PLAT_HKEY_USERS;
    else if (head == "HKCR" || head == "HKEY_CLASSES_ROOT")
        *root = PLAT_HKEY_CLASSES_ROOT;
    else
        return false;
    return true;
}

int32_t OpenKey(const std::string& key, bool create, PlatHKEY* out)
{
    PlatHKEY root = nullptr;
    std::string rest;
    if (!SplitKey(key, &root, &rest))
        return PLAT_ERROR_INVALID_PARAMETER;
    return create ? PlatRegCreateKeyEx(root, rest.c_str(), 0, PLAT_KEY_ALL_ACCESS, out, nullptr)
                  : PlatRegOpenKeyEx(root, rest.c_str(), 0, PLAT_KEY_READ, out);
}

struct TypeName {
    uint32_t type;
    const char* name;
};
const TypeName kTypes[] = {
    {PLAT_REG_NONE, "REG_NONE"},     {PLAT_REG_SZ, "REG_SZ"},       {PLAT_REG_EXPAND_SZ, "REG_EXPAND_SZ"},
    {PLAT_REG_BINARY, "REG_BINARY"}, {PLAT_REG_DWORD, "REG_DWORD"}, {PLAT_REG_MULTI_SZ, "REG_MULTI_SZ"},
};

std::string TypeText(uint32_t type)
{
    for (const TypeName& t : kTypes)
        if (t.type == type)
            return t.name;
    char text[32];
    std::snprintf(text, sizeof text, "REG_0x%X", type);
    return text;
}

std::string Hex(const std::vector<uint8_t>& data)
{
    std::string out;
    char two[3];
    for (uint8_t b : data) {
        std::snprintf(two, sizeof two, "%02x", b);
        out += two;
    }
    return out;
}

// The data as printed: what was stored, read by its type and checked against its size.
std::string DataText(uint32_t type, const std::vector<uint8_t>& data)
{
    switch (type) {
    case PLAT_REG_SZ:
    case PLAT_REG_EXPAND_SZ: {
        const auto* p = reinterpret_cast<const char*>(data.data());
        return std::string(p, strnlen(p, data.size()));
    }
    case PLAT_REG_MULTI_SZ: {
        std::vector<std::string> parts;
        std::string part;
        for (uint8_t b : data) {
            if (b == 0) {
                parts.push_back(part);
                part.clear();
            } else {
                part += static_cast<char>(b);
            }
        }
        if (!part.empty())
            parts.push_back(part);
        while (!parts.empty() && parts.back().empty())
            parts.pop_back();
        std::string out;
        for (size_t i = 0; i < parts.size(); ++i)
            out += (i ? "\\0" : "") + parts[i];
        return out;
    }
    case PLAT_REG_DWORD:
        if (data.size() == 4) {
            const uint32_t v = uint32_t(data[0]) | uint32_t(data[1]) << 8 | uint32_t(data[2]) << 16 |
                               uint32_t(data[3]) << 24;
            char text[16];
            std::snprintf(text, sizeof text, "0x%X", v);
            return text;
        }
        return "hex:" + Hex(data);
    default:
        return Hex(data);
    }
}

bool ParseHex(const std::string& text, std::vector<uint8_t>* out)
{
    if (text.size() % 2)
        return false;
    for (size_t i = 0; i < text.size(); i += 2) {
        unsigned v = 0;
        for (size_t k = i; k < i + 2; ++k) {
            const char c = text[k];
            const int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                                    : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
            if (d < 0)
                return false;
            v = v * 16 + static_cast<unsigned>(d);
        }
        out->push_back(static_cast<uint8_t>(v));
    }
    return true;
}

// The bytes to store for DATA of a type; false when DATA does not fit the type.
bool ParseData(uint32_t type, const std::string& text, std::vector<uint8_t>* out)
{
    switch (type) {
    case PLAT_REG_SZ:
    case PLAT_REG_EXPAND_SZ:
        out->assign(text.begin(), text.end());
        out->push_back(0);
        return true;
    case PLAT_REG_MULTI_SZ: {
        size_t at = 0;
        while (at <= text.size() && !text.empty()) {
            size_t next = text.find("\\0", at);
            if (next == std::string::npos)
                next = text.size();
            out->insert(out->end(), text.begin() + static_cast<std::ptrdiff_t>(at), text.begin() + static_cast<std::ptrdiff_t>(next));
            out->push_back(0);
            at = next + 2;
        }
        out->push_back(0);
        return true;
    }
    case PLAT_REG_DWORD: {
        if (text.empty() || text[0] == '-')
            return false;
        char* end = nullptr;
        errno = 0;
        const unsigned long long v = std::strtoull(text.c_str(), &end, 0);
        if (*end || errno || v > 0xFFFFFFFFull)
            return false;
        for (int i = 0; i < 4; ++i)
            out->push_back(static_cast<uint8_t>(v >> (8 * i)));
        return true;
    }
    default:
        return ParseHex(text, out);
    }
}

std::string ShortName(const std::string& full)
{
    const std::string lm = "HKEY_LOCAL_MACHINE", users = "HKEY_USERS";
    if (full.compare(0, lm.size(), lm) == 0)
        return "HKLM" + full.substr(lm.size());
    if (full.compare(0, users.size(), users) == 0)
        return "HKU" + full.substr(users.size());
    return full;
}

// One value of a key by index: false past the last (or on a failure, in *rc).
bool ValueAt(PlatHKEY key, uint32_t index, std::string* name, uint32_t* type, std::vector<uint8_t>* data,
             int32_t* rc)
{
    for (int attempt = 0; attempt < 4; ++attempt) {
        uint32_t nameSize = 0, dataSize = 0;
        *rc = PlatRegEnumValue(key, index, nullptr, &nameSize, type, nullptr, &dataSize);
        if (*rc == PLAT_ERROR_NO_MORE_ITEMS) {
            *rc = 0;
            return false;
        }
        if (*rc != PLAT_ERROR_MORE_DATA && *rc != 0)
            return false;
        std::vector<char> buffer(static_cast<size_t>(nameSize) + 1);
        data->assign(dataSize, 0);
        uint32_t bufferSize = nameSize + 1;
        *rc = PlatRegEnumValue(key, index, buffer.data(), &bufferSize, type, data->data(), &dataSize);
        if (*rc == PLAT_ERROR_MORE_DATA)
            continue;  // changed meanwhile
        if (*rc != 0)
            return false;
        name->assign(buffer.data(), bufferSize);
        data->resize(dataSize);
        return true;
    }
    return false;
}

int32_t Export(PlatHKEY key)
{
    const std::string name = ShortName(PlatRegKeyName(key));
    int32_t rc = 0;
    std::string value;
    uint32_t type = 0;
    std::vector<uint8_t> data;
    for (uint32_t i = 0; ValueAt(key, i, &value, &type, &data, &rc); ++i)
        std::printf("%s\\%s = %s %s\n", name.c_str(), value.c_str(), TypeText(type).c_str(),
                    DataText(type, data).c_str());
    if (rc != 0)
        return rc;
    for (uint32_t i = 0;; ++i) {
        char sub[PLAT_REG_MAX_KEY_NAME + 1];
        uint32_t size = sizeof sub;
        rc = PlatRegEnumKeyEx(key, i, sub, &size);
        if (rc == PLAT_ERROR_NO_MORE_ITEMS)
            return 0;
        if (rc != 0)
            return rc;
        PlatHKEY child = nullptr;
        rc = PlatRegOpenKeyEx(key, sub, 0, PLAT_KEY_READ, &child);
        if (rc == PLAT_ERROR_FILE_NOT_FOUND)
            continue;  // deleted meanwhile
        if (rc != 0)
            return rc;
        rc = Export(child);
        PlatRegCloseKey(child);
        if (rc != 0)
            return rc;
    }
}

int Query(const std::string& keyName, const char* value)
{
    PlatHKEY key = nullptr;
    int32_t rc = OpenKey(keyName, false, &key);
    if (rc != 0)
        return Fail(keyName, rc);
    std::vector<uint8_t> data;
    uint32_t type = 0;
    for (int attempt = 0; attempt < 4; ++attempt) {
        uint32_t size = 0;
        rc = PlatRegQueryValueEx(key, value, &type, nullptr, &size);
        if (rc != 0)
            break;
        data.assign(size, 0);
        rc = PlatRegQueryValueEx(key, value, &type, data.data(), &size);
        if (rc == PLAT_ERROR_MORE_DATA)
            continue;  // changed meanwhile
        data.resize(size);
        break;
    }
    PlatRegCloseKey(key);
    if (rc != 0)
        return Fail(keyName + "\\" + (value ? value : ""), rc);
    std::printf("%s\n", DataText(type, data).c_str());
    return 0;
}

int Add(const std::string& keyName, int argc, char** argv)
{
    uint32_t type = 0;
    std::vector<uint8_t> data;
    if (argc == 3) {
        bool known = false;
        for (const TypeName& t : kTypes)
            if (Upper(argv[1]) == t.name) {
                type = t.type;
                known = true;
            }
        if (!known) {
            std::fprintf(stderr, "lumoreg: unknown type '%s'\n", argv[1]);
            return 2;
        }
        if (!ParseData(type, argv[2], &data)) {
            std::fprintf(stderr, "lumoreg: '%s' is not %s data\n", argv[2], argv[1]);
            return 2;
        }
    }
    PlatHKEY key = nullptr;
    int32_t rc = OpenKey(keyName, true, &key);
    if (rc != 0)
        return Fail(keyName, rc);
    if (argc == 3)
        rc = PlatRegSetValueEx(key, argv[0], type, data.data(), static_cast<uint32_t>(data.size()));
    PlatRegCloseKey(key);
    return rc != 0 ? Fail(keyName + "\\" + (argc == 3 ? argv[0] : ""), rc) : 0;
}

int Delete(const std::string& keyName, const char* value)
{
    PlatHKEY root = nullptr;
    std::string rest;
    if (!SplitKey(keyName, &root, &rest))
        return Fail(keyName, PLAT_ERROR_INVALID_PARAMETER);
    int32_t rc = 0;
    if (value) {
        PlatHKEY key = nullptr;
        rc = PlatRegOpenKeyEx(root, rest.c_str(), 0, PLAT_KEY_ALL_ACCESS, &key);
        if (rc == 0) {
            rc = PlatRegDeleteValue(key, value);
            PlatRegCloseKey(key);
        }
        return rc != 0 ? Fail(keyName + "\\" + value, rc) : 0;
    }
    if (rest.find_first_not_of('\\') == std::string::npos)
        return Fail(keyName, PLAT_ERROR_ACCESS_DENIED);
    rc = PlatRegDeleteTree(root, rest.c_str());
    return rc != 0 ? Fail(keyName, rc) : 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
        return Usage();
    const std::string command = argv[1];
    if (command == "query" && (argc == 3 || argc == 4))
        return Query(argv[2], argc == 4 ? argv[3] : nullptr);
    if (command == "add" && (argc == 3 || argc == 6))
        return Add(argv[2], argc - 3, argv + 3);
    if (command == "delete" && (argc == 3 || argc == 4))
        return Delete(argv[2], argc == 4 ? argv[3] : nullptr);
    if (command == "export" && argc <= 3) {
        std::vector<PlatHKEY> keys;
        if (argc == 3) {
            PlatHKEY key = nullptr;
            if (int32_t rc = OpenKey(argv[2], false, &key); rc != 0)
                return Fail(argv[2], rc);
            keys.push_back(key);
        } else {
            keys = {PLAT_HKEY_LOCAL_MACHINE, PLAT_HKEY_USERS};
        }
        int status = 0;
        for (PlatHKEY key : keys) {
            if (int32_t rc = Export(key); rc != 0)
                status = Fail(PlatRegKeyName(key), rc);
            PlatRegCloseKey(key);
        }
        return status;
    }
    return Usage();
}
