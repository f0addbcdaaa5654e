#pragma once
// The registry of the machine (PlatformMachine.h): one SQLite store, "registry.db" in the machine folder, shared
// by every process of the machine; each change is one transaction.
//
// Roots: HKEY_LOCAL_MACHINE and HKEY_USERS are stored; HKEY_CURRENT_USER is HKEY_USERS\<the user's SID> and
// HKEY_CLASSES_ROOT is HKEY_LOCAL_MACHINE\SOFTWARE\Classes. Key and value names are compared without regard to
// the case of ASCII letters and keep the case they were created with. Names and string data are bytes (UTF-8
// at this boundary); data is kept exactly as written, so a reader must check a value's type and size itself.
// Values enumerate in the order they were first set; subkeys in the order they were created.
//
// Every function answers a Win32 error code (0 on success), as the registry functions do:
// PLAT_ERROR_FILE_NOT_FOUND (no such key or value), PLAT_ERROR_INVALID_HANDLE, PLAT_ERROR_MORE_DATA (a buffer
// too small; the size needed is given back), PLAT_ERROR_NO_MORE_ITEMS (enumeration past the end),
// PLAT_ERROR_ACCESS_DENIED (deleting a key that has subkeys, or a root), PLAT_ERROR_KEY_DELETED (the key went
// while the handle was open), PLAT_ERROR_REGISTRY_IO_FAILED (the store cannot be read or written).
#include <cstdint>
#include <string>

#include "PlatformSync.h"

struct PlatRegKey;
using PlatHKEY = PlatRegKey*;

#define PLAT_HKEY_CLASSES_ROOT (reinterpret_cast<PlatHKEY>(static_cast<uintptr_t>(0x80000000u)))
#define PLAT_HKEY_CURRENT_USER (reinterpret_cast<PlatHKEY>(static_cast<uintptr_t>(0x80000001u)))
#define PLAT_HKEY_LOCAL_MACHINE (reinterpret_cast<PlatHKEY>(static_cast<uintptr_t>(0x80000002u)))
#define PLAT_HKEY_USERS (reinterpret_cast<PlatHKEY>(static_cast<uintptr_t>(0x80000003u)))

enum : uint32_t {
    PLAT_ERROR_MORE_DATA = 234,
    PLAT_ERROR_REGISTRY_IO_FAILED = 1016,
    PLAT_ERROR_KEY_DELETED = 1018,
};

// Value types.
enum : uint32_t {
    PLAT_REG_NONE = 0,
    PLAT_REG_SZ = 1,
    PLAT_REG_EXPAND_SZ = 2,
    PLAT_REG_BINARY = 3,
    PLAT_REG_DWORD = 4,
    PLAT_REG_MULTI_SZ = 7,
};

// Access rights are accepted and not checked.
enum : uint32_t {
    PLAT_KEY_QUERY_VALUE = 0x0001,
    PLAT_KEY_SET_VALUE = 0x0002,
    PLAT_KEY_NOTIFY = 0x0010,
    PLAT_KEY_READ = 0x20019,
    PLAT_KEY_WRITE = 0x20006,
    PLAT_KEY_ALL_ACCESS = 0xF003F,
};

// Dispositions of PlatRegCreateKeyEx.
enum : uint32_t {
    PLAT_REG_CREATED_NEW_KEY = 1,
    PLAT_REG_OPENED_EXISTING_KEY = 2,
};

// Filters of PlatRegNotifyChangeKeyValue.
enum : uint32_t {
    PLAT_REG_NOTIFY_CHANGE_NAME = 0x1,      // a subkey added or deleted
    PLAT_REG_NOTIFY_CHANGE_ATTRIBUTES = 0x2,
    PLAT_REG_NOTIFY_CHANGE_LAST_SET = 0x4,  // a value set or deleted
    PLAT_REG_NOTIFY_CHANGE_SECURITY = 0x8,
};

// Longest key name part and value name, in bytes.
enum : uint32_t { PLAT_REG_MAX_KEY_NAME = 255, PLAT_REG_MAX_VALUE_NAME = 16383 };
// Largest value data, in bytes.
enum : uint32_t { PLAT_REG_MAX_DATA = 1u << 20 };

// subKey is a path of names separated by '\' (null or empty: the key itself, as a new handle).
int32_t PlatRegOpenKeyEx(PlatHKEY key, const char* subKey, uint32_t options, uint32_t access, PlatHKEY* result);
// Opens the key, creating it and its missing parents; *disposition (may be null) tells which.
int32_t PlatRegCreateKeyEx(PlatHKEY key, const char* subKey, uint32_t options, uint32_t access, PlatHKEY* result,
                           uint32_t* disposition);
int32_t PlatRegCloseKey(PlatHKEY key);

// name null or empty: the key's unnamed value.
int32_t PlatRegSetValueEx(PlatHKEY key, const char* name, uint32_t type, const void* data, uint32_t size);
// *size holds the buffer's size on entry and the value's size on return. data null asks for the size only; a
// buffer too small gives PLAT_ERROR_MORE_DATA with nothing written. type may be null.
int32_t PlatRegQueryValueEx(PlatHKEY key, const char* name, uint32_t* type, void* data, uint32_t* size);
int32_t PlatRegDeleteValue(PlatHKEY key, const char* name);

// The index-th subkey's name, zero-terminated; *nameSize holds the buffer's size in bytes on entry and the
// name's length (without the zero) on return. PLAT_ERROR_MORE_DATA when the name and its zero do not fit.
int32_t PlatRegEnumKeyEx(PlatHKEY key, uint32_t index, char* name, uint32_t* nameSize);
// The index-th value: its name as for PlatRegEnumKeyEx, its type and data as for PlatRegQueryValueEx (type,
// data and dataSize may be null). A name buffer too small gives PLAT_ERROR_MORE_DATA with the sizes of the name
// and of the data.
int32_t PlatRegEnumValue(PlatHKEY key, uint32_t index, char* name, uint32_t* nameSize, uint32_t* type, void* data,
                         uint32_t* dataSize);
// Counts of subkeys and values, and the longest subkey name, value name and data (each may be null).
int32_t PlatRegQueryInfoKey(PlatHKEY key, uint32_t* subKeys, uint32_t* maxSubKeyLength, uint32_t* values,
                            uint32_t* maxValueNameLength, uint32_t* maxValueLength);

// Deletes a key that has no subkeys (PLAT_ERROR_ACCESS_DENIED otherwise), with its values.
int32_t PlatRegDeleteKey(PlatHKEY key, const char* subKey);
// Deletes a key with all its subkeys and values (subKey null or empty: the key's contents, the key stays).
int32_t PlatRegDeleteTree(PlatHKEY key, const char* subKey);

// Asks once for a change of the key (and its subkeys with watchSubtree) of the kinds in filter. Asynchronous:
// event is set when a change is made by any process of the machine (within a second), or when the key is
// closed or deleted; the request then ends. Not asynchronous: waits for the change (event is not used).
int32_t PlatRegNotifyChangeKeyValue(PlatHKEY key, bool watchSubtree, uint32_t filter, PlatHandle event,
                                    bool asynchronous);

// The full name of a key of a handle ("HKEY_LOCAL_MACHINE\SOFTWARE\Classes"), empty for a handle not open.
std::string PlatRegKeyName(PlatHKEY key);
