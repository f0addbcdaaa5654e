// The machine's registry: keys and values in the SQLite store, names without case, value order, deletion,
// change notification and a damaged store.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "PlatformRegistry.h"
#include "PlatformTestHelpers.h"

namespace {

using plattest::ScratchMachine;

std::string QueryText(PlatHKEY key, const char* name)
{
    char buffer[256] = {};
    uint32_t size = sizeof buffer - 1;
    uint32_t type = 0;
    if (PlatRegQueryValueEx(key, name, &type, buffer, &size) != 0)
        return "<missing>";
    return std::string(buffer, strnlen(buffer, size));
}

int32_t SetText(PlatHKEY key, const char* name, const std::string& text)
{
    return PlatRegSetValueEx(key, name, PLAT_REG_SZ, text.c_str(), static_cast<uint32_t>(text.size() + 1));
}

std::vector<std::string> ValueNames(PlatHKEY key)
{
    std::vector<std::string> names;
    for (uint32_t i = 0;; ++i) {
        char name[64];
        uint32_t size = sizeof name;
        if (PlatRegEnumValue(key, i, name, &size, nullptr, nullptr, nullptr) != 0)
            break;
        names.emplace_back(name, size);
    }
    return names;
}

}  // namespace

TEST(Registry, NamesIgnoreCaseAndKeepTheirs)
{
    ScratchMachine machine;
    PlatHKEY key = nullptr;
    uint32_t disposition = 0;
    ASSERT_EQ(PlatRegCreateKeyEx(PLAT_HKEY_LOCAL_MACHINE, "Software\\Test", 0, PLAT_KEY_ALL_ACCESS, &key, &disposition),
              0);
    EXPECT_EQ(disposition, PLAT_REG_CREATED_NEW_KEY);
    ASSERT_EQ(SetText(key, "Name", "Hello"), 0);
    ASSERT_EQ(PlatRegCloseKey(key), 0);

    ASSERT_EQ(PlatRegOpenKeyEx(PLAT_HKEY_LOCAL_MACHINE, "SOFTWARE\\test", 0, PLAT_KEY_READ, &key), 0);
    EXPECT_EQ(QueryText(key, "NAME"), "Hello");
    EXPECT_EQ(PlatRegKeyName(key), "HKEY_LOCAL_MACHINE\\Software\\Test");
    EXPECT_EQ(ValueNames(key), std::vector<std::string>{"Name"});
    // Setting under another case keeps the first name.
    ASSERT_EQ(SetText(key, "nAmE", "Again"), 0);
    EXPECT_EQ(ValueNames(key), std::vector<std::string>{"Name"});
    EXPECT_EQ(QueryText(key, "name"), "Again");
    PlatRegCloseKey(key);

    ASSERT_EQ(PlatRegCreateKeyEx(PLAT_HKEY_LOCAL_MACHINE, "software\\TEST", 0, PLAT_KEY_ALL_ACCESS, &key, &disposition),
              0);
    EXPECT_EQ(disposition, PLAT_REG_OPENED_EXISTING_KEY);
    PlatRegCloseKey(key);
    EXPECT_EQ(PlatRegOpenKeyEx(PLAT_HKEY_LOCAL_MACHINE, "Software\\Missing", 0, PLAT_KEY_READ, &key),
              int32_t(PLAT_ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(key, nullptr);
}

TEST(Registry, RootsOfTheUserAndTheClasses)
{
    ScratchMachine machine;
    PlatHKEY key = nullptr;
    ASSERT_EQ(PlatRegCreateKeyEx(PLAT_HKEY_CLASSES_ROOT, "CLSID\\{X}", 0, PLAT_KEY_ALL_ACCESS, &key, nullptr), 0);
    PlatRegCloseKey(key);
    ASSERT_EQ(PlatRegOpenKeyEx(PLAT_HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes\\clsid\\{x}", 0, PLAT_KEY_READ, &key), 0);
    PlatRegCloseKey(key);

    ASSERT_EQ(PlatRegCreateKeyEx(PLAT_HKEY_CURRENT_USER, "Software\\Mine", 0, PLAT_KEY_ALL_ACCESS, &key, nullptr), 0);
    const std::string name = PlatRegKeyName(key);
    PlatRegCloseKey(key);
    EXPECT_EQ(name.rfind("HKEY_USERS\\S-1-5-21-", 0), 0u) << name;
    EXPECT_EQ(name.substr(name.size() - 14), "\\Software\\Mine");

    // Roots cannot go.
    EXPECT_EQ(PlatRegDeleteTree(PLAT_HKEY_LOCAL_MACHINE, "\\"), int32_t(PLAT_ERROR_ACCESS_DENIED));
    EXPECT_EQ(PlatRegDeleteKey(PLAT_HKEY_USERS, nullptr), int32_t(PLAT_ERROR_INVALID_PARAMETER));
}

TEST(Registry, ValuesOfEachTypeComeBackAsWritten)
{
    ScratchMachine machine;
    PlatHKEY key = nullptr;
    ASSERT_EQ(PlatRegCreateKeyEx(PLAT_HKEY_LOCAL_MACHINE, "T", 0, PLAT_KEY_ALL_ACCESS, &key, nullptr), 0);
    const uint8_t dword[4] = {0x78, 0x56, 0x34, 0x12};
    const char multi[] = "a\0bc\0";
    const uint8_t binary[3] = {0, 0xFF, 7};
    ASSERT_EQ(PlatRegSetValueEx(key, "d", PLAT_REG_DWORD, dword, 4), 0);
    ASSERT_EQ(PlatRegSetValueEx(key, "m", PLAT_REG_MULTI_SZ, multi, sizeof multi), 0);
    ASSERT_EQ(PlatRegSetValueEx(key, "b", PLAT_REG_BINARY, binary, 3), 0);
    ASSERT_EQ(PlatRegSetValueEx(key, "e", PLAT_REG_BINARY, nullptr, 0), 0);
    ASSERT_EQ(SetText(key, nullptr, "default"), 0);

    uint32_t type = 0, size = 0;
    ASSERT_EQ(PlatRegQueryValueEx(key, "m", &type, nullptr, &size), 0);
    EXPECT_EQ(type, PLAT_REG_MULTI_SZ);
    EXPECT_EQ(size, sizeof multi);
    // A buffer one byte short gets nothing and the size needed.
    std::vector<char> buffer(size - 1, 'x');
    uint32_t shortSize = size - 1;
    EXPECT_EQ(PlatRegQueryValueEx(key, "m", &type, buffer.data(), &shortSize), int32_t(PLAT_ERROR_MORE_DATA));
    EXPECT_EQ(shortSize, size);
    EXPECT_EQ(std::string(buffer.begin(), buffer.end()), std::string(size - 1, 'x'));
    buffer.assign(size, 0);
    ASSERT_EQ(PlatRegQueryValueEx(key, "m", &type, buffer.data(), &size), 0);
    EXPECT_EQ(std::memcmp(buffer.data(), multi, sizeof multi), 0);

    uint32_t v = 0;
    size = 4;
    ASSERT_EQ(PlatRegQueryValueEx(key, "D", &type, &v, &size), 0);
    EXPECT_EQ(type, PLAT_REG_DWORD);
    EXPECT_EQ(v, 0x12345678u);
    uint8_t bytes[8] = {};
    size = sizeof bytes;
    ASSERT_EQ(PlatRegQueryValueEx(key, "b", &type, bytes, &size), 0);
    EXPECT_EQ(size, 3u);
    EXPECT_EQ(std::memcmp(bytes, binary, 3), 0);
    size = sizeof bytes;
    ASSERT_EQ(PlatRegQueryValueEx(key, "e", &type, bytes, &size), 0);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(QueryText(key, ""), "default");
    EXPECT_EQ(PlatRegQueryValueEx(key, "nothing", &type, bytes, &size), int32_t(PLAT_ERROR_FILE_NOT_FOUND));

    uint32_t subKeys = 9, values = 0, longestName = 0, longestData = 0;
    ASSERT_EQ(PlatRegQueryInfoKey(key, &subKeys, nullptr, &values, &longestName, &longestData), 0);
    EXPECT_EQ(subKeys, 0u);
    EXPECT_EQ(values, 5u);
    EXPECT_EQ(longestName, 1u);
    EXPECT_EQ(longestData, 8u);
    PlatRegCloseKey(key);
}

TEST(Registry, ValuesEnumerateInTheOrderFirstSet)
{
    ScratchMachine machine;
    PlatHKEY key = nullptr;
    ASSERT_EQ(PlatRegCreateKeyEx(PLAT_HKEY_LOCAL_MACHINE, "Order", 0, PLAT_KEY_ALL_ACCESS, &key, nullptr), 0);
    for (const char* n : {"zeta", "alpha", "Mid"})
        ASSERT_EQ(SetText(key, n, n), 0);
    ASSERT_EQ(SetText(key, "ZETA", "changed"), 0);  // keeps its place
    ASSERT_EQ(PlatRegDeleteValue(key, "alpha"), 0);
    ASSERT_EQ(SetText(key, "alpha", "back"), 0);  // goes to the end
    EXPECT_EQ(ValueNames(key), (std::vector<std::string>{"zeta", "Mid", "alpha"}));
    EXPECT_EQ(PlatRegDeleteValue(key, "alpha"), 0);
    EXPECT_EQ(PlatRegDeleteValue(key, "alpha"), int32_t(PLAT_ERROR_FILE_NOT_FOUND));

    // A name that does not fit is refused with the length it needs.
    char small[3];
    uint32_t size = sizeof small;
    EXPECT_EQ(PlatRegEnumValue(key, 0, small, &size, nullptr, nullptr, nullptr), int32_t(PLAT_ERROR_MORE_DATA));
    EXPECT_EQ(size, 4u);
    size = sizeof small;
    EXPECT_EQ(PlatRegEnumValue(key, 2, small, &size, nullptr, nullptr, nullptr), int32_t(PLAT_ERROR_NO_MORE_ITEMS));
    PlatRegCloseKey(key);
}

TEST(Registry, DeletingKeys)
{
    ScratchMachine machine;
    PlatHKEY key = nullptr;
    ASSERT_EQ(PlatRegCreateKeyEx(PLAT_HKEY_LOCAL_MACHINE, "A\\B\\C", 0, PLAT_KEY_ALL_ACCESS, &key, nullptr), 0);
    ASSERT_EQ(SetText(key, "v", "x"), 0);
    // A key with subkeys stays; the tree goes whole.
    EXPECT_EQ(PlatRegDeleteKey(PLAT_HKEY_LOCAL_MACHINE, "A\\B"), int32_t(PLAT_ERROR_ACCESS_DENIED));
    ASSERT_EQ(PlatRegDeleteTree(PLAT_HKEY_LOCAL_MACHINE, "a\\b"), 0);
    // The open handle now names a key that went.
    EXPECT_EQ(SetText(key, "v", "y"), int32_t(PLAT_ERROR_KEY_DELETED));
    PlatRegCloseKey(key);
    EXPECT_EQ(PlatRegOpenKeyEx(PLAT_HKEY_LOCAL_MACHINE, "A\\B\\C", 0, PLAT_KEY_READ, &key),
              int32_t(PLAT_ERROR_FILE_NOT_FOUND));
    ASSERT_EQ(PlatRegOpenKeyEx(PLAT_HKEY_LOCAL_MACHINE, "A", 0, PLAT_KEY_READ, &key), 0);
    char name[16];
    uint32_t size = sizeof name;
    EXPECT_EQ(PlatRegEnumKeyEx(key, 0, name, &size), int32_t(PLAT_ERROR_NO_MORE_ITEMS));
    PlatRegCloseKey(key);
    EXPECT_EQ(PlatRegDeleteKey(PLAT_HKEY_LOCAL_MACHINE, "A"), 0);
    EXPECT_EQ(PlatRegCloseKey(key), int32_t(PLAT_ERROR_INVALID_HANDLE));
}

TEST(Registry, ChangeRequestSetsItsEventOnce)
{
    ScratchMachine machine;
    PlatHKEY key = nullptr, other = nullptr;
    ASSERT_EQ(PlatRegCreateKeyEx(PLAT_HKEY_LOCAL_MACHINE, "W\\Sub", 0, PLAT_KEY_ALL_ACCESS, &other, nullptr), 0);
    ASSERT_EQ(PlatRegOpenKeyEx(PLAT_HKEY_LOCAL_MACHINE, "W", 0, PLAT_KEY_NOTIFY, &key), 0);
    PlatHandle event = PlatCreateEvent(false, false, nullptr);

    // A value below, with the subtree watched.
    ASSERT_EQ(PlatRegNotifyChangeKeyValue(key, true, PLAT_REG_NOTIFY_CHANGE_LAST_SET, event, true), 0);
    EXPECT_EQ(PlatWaitForSingleObject(event, 0), PLAT_WAIT_TIMEOUT);
    ASSERT_EQ(SetText(other, "v", "1"), 0);
    EXPECT_EQ(PlatWaitForSingleObject(event, 10000), PLAT_WAIT_OBJECT_0);
    // The request has ended: another change leaves the event alone until asked again.
    ASSERT_EQ(SetText(other, "v", "2"), 0);
    EXPECT_EQ(PlatWaitForSingleObject(event, 600), PLAT_WAIT_TIMEOUT);

    // Without the subtree, only the key's own values count.
    ASSERT_EQ(PlatRegNotifyChangeKeyValue(key, false, PLAT_REG_NOTIFY_CHANGE_LAST_SET, event, true), 0);
    ASSERT_EQ(SetText(other, "v", "3"), 0);
    EXPECT_EQ(PlatWaitForSingleObject(event, 600), PLAT_WAIT_TIMEOUT);
    ASSERT_EQ(PlatRegDeleteValue(other, "v"), 0);
    ASSERT_EQ(SetText(key, "own", "1"), 0);
    EXPECT_EQ(PlatWaitForSingleObject(event, 10000), PLAT_WAIT_OBJECT_0);

    // Closing the key ends a request with its event set.
    ASSERT_EQ(PlatRegNotifyChangeKeyValue(key, true, PLAT_REG_NOTIFY_CHANGE_NAME, event, true), 0);
    PlatRegCloseKey(key);
    EXPECT_EQ(PlatWaitForSingleObject(event, 0), PLAT_WAIT_OBJECT_0);
    PlatRegCloseKey(other);
    PlatCloseHandle(event);
}

TEST(Registry, ChangesFromAnotherProcessAreSeen)
{
    ScratchMachine machine;
    PlatHKEY key = nullptr;
    ASSERT_EQ(PlatRegCreateKeyEx(PLAT_HKEY_LOCAL_MACHINE, "Shared", 0, PLAT_KEY_ALL_ACCESS, &key, nullptr), 0);
    PlatHandle event = PlatCreateEvent(true, false, nullptr);
    ASSERT_EQ(PlatRegNotifyChangeKeyValue(key, false, PLAT_REG_NOTIFY_CHANGE_LAST_SET, event, true), 0);
    const pid_t child = plattest::Fork([] {
        PlatHKEY k = nullptr;
        if (PlatRegOpenKeyEx(PLAT_HKEY_LOCAL_MACHINE, "shared", 0, PLAT_KEY_WRITE, &k) != 0)
            return 1;
        return PlatRegSetValueEx(k, "from", PLAT_REG_SZ, "child", 6) == 0 ? 0 : 2;
    });
    EXPECT_EQ(plattest::Reap(child), 0);
    EXPECT_EQ(PlatWaitForSingleObject(event, 10000), PLAT_WAIT_OBJECT_0);
    EXPECT_EQ(QueryText(key, "From"), "child");
    PlatRegCloseKey(key);
    PlatCloseHandle(event);
}

TEST(Registry, DamagedStoreIsAnErrorNotACrash)
{
    ScratchMachine machine;
    PlatHKEY key = nullptr;
    ASSERT_EQ(PlatRegCreateKeyEx(PLAT_HKEY_LOCAL_MACHINE, "X", 0, PLAT_KEY_ALL_ACCESS, &key, nullptr), 0);
    PlatRegCloseKey(key);
    // Another machine whose store is not a database.
    ScratchMachine other;
    std::filesystem::create_directories(other.Dir().Path() / "registry");
    std::ofstream(other.Dir().Path() / "registry" / "registry.db") << std::string(4096, 'J');
    EXPECT_EQ(PlatRegCreateKeyEx(PLAT_HKEY_LOCAL_MACHINE, "X", 0, PLAT_KEY_ALL_ACCESS, &key, nullptr),
              int32_t(PLAT_ERROR_REGISTRY_IO_FAILED));
    EXPECT_EQ(PlatRegOpenKeyEx(PLAT_HKEY_LOCAL_MACHINE, "X", 0, PLAT_KEY_READ, &key),
              int32_t(PLAT_ERROR_REGISTRY_IO_FAILED));
}
