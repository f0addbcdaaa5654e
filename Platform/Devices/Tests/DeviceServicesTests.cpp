#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <map>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "LoopbackProvider.h"
#include "LumoTestSupport.h"
#include "PlatformDevices.h"

using devtest::kEcho;
using devtest::kEchoLater;
using devtest::kFail;
using devtest::kHold;
using devtest::kLoopbackClass;
using devtest::LoopbackProvider;

namespace {

// A loop-back provider registered for the life of a test.
class Devices : public ::testing::Test {
protected:
    void SetUp() override
    {
        provider = std::make_shared<LoopbackProvider>();
        PlatRegisterDeviceProvider(provider);
    }
    void TearDown() override
    {
        PlatUnregisterDeviceProvider(provider);
        provider->Join();
    }

    // The paths of the class's interfaces, by the enumeration as the system walks it.
    std::vector<std::string> Enumerate(uint32_t* endError = nullptr)
    {
        std::vector<std::string> paths;
        PlatHandle set = PlatGetClassDevs(&kLoopbackClass, PLAT_DIGCF_PRESENT | PLAT_DIGCF_DEVICEINTERFACE);
        EXPECT_NE(set, PLAT_INVALID_HANDLE_VALUE);
        for (uint32_t i = 0;; ++i) {
            PlatDeviceInterfaceData data{};
            data.cbSize = sizeof(data);
            if (!PlatEnumDeviceInterfaces(set, &kLoopbackClass, i, &data)) {
                if (endError)
                    *endError = PlatGetLastError();
                break;
            }
            uint32_t needed = 0;
            EXPECT_FALSE(PlatGetDeviceInterfaceDetail(set, &data, nullptr, 0, &needed));
            EXPECT_EQ(PlatGetLastError(), PLAT_ERROR_INSUFFICIENT_BUFFER);
            std::vector<char> buffer(needed);
            auto* detail = reinterpret_cast<PlatDeviceInterfaceDetail*>(buffer.data());
            detail->cbSize = sizeof(PlatDeviceInterfaceDetail);
            EXPECT_TRUE(PlatGetDeviceInterfaceDetail(set, &data, detail, needed, nullptr));
            paths.emplace_back(detail->devicePath);
        }
        EXPECT_TRUE(PlatDestroyDeviceInfoList(set));
        return paths;
    }

    std::shared_ptr<LoopbackProvider> provider;
};

const std::string kPathA = "\\\\?\\loop#dev#0001#{6c6f6f70}";
const std::string kPathB = "\\\\?\\loop#dev#0002#{6c6f6f70}";

}  // namespace

TEST_F(Devices, EnumerationEndsWithNoMoreItemsAndTheDetailIsAskedTwice)
{
    uint32_t end = 0;
    EXPECT_TRUE(Enumerate(&end).empty());
    EXPECT_EQ(end, PLAT_ERROR_NO_MORE_ITEMS);

    provider->Plug(kPathA);
    provider->Plug(kPathB);
    PlatHandle set = PlatGetClassDevs(&kLoopbackClass, PLAT_DIGCF_PRESENT | PLAT_DIGCF_DEVICEINTERFACE);
    ASSERT_NE(set, PLAT_INVALID_HANDLE_VALUE);
    PlatDeviceInterfaceData data{};
    data.cbSize = sizeof(data);
    ASSERT_TRUE(PlatEnumDeviceInterfaces(set, &kLoopbackClass, 0, &data));
    EXPECT_TRUE(data.classGuid == kLoopbackClass);
    uint32_t needed = 0;
    EXPECT_FALSE(PlatGetDeviceInterfaceDetail(set, &data, nullptr, 0, &needed));
    EXPECT_EQ(PlatGetLastError(), PLAT_ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(needed, sizeof(uint32_t) + kPathA.size() + 1);
    std::vector<char> buffer(needed);
    auto* detail = reinterpret_cast<PlatDeviceInterfaceDetail*>(buffer.data());
    detail->cbSize = sizeof(PlatDeviceInterfaceDetail);
    EXPECT_FALSE(PlatGetDeviceInterfaceDetail(set, &data, detail, needed - 1, nullptr)) << "one byte short";
    EXPECT_EQ(PlatGetLastError(), PLAT_ERROR_INSUFFICIENT_BUFFER);
    ASSERT_TRUE(PlatGetDeviceInterfaceDetail(set, &data, detail, needed, nullptr));
    EXPECT_EQ(std::string(detail->devicePath), kPathA);

    // A snapshot: a device plugged later is not in it, and the end stays where it was.
    provider->Plug("\\\\?\\loop#dev#0003#{6c6f6f70}");
    EXPECT_TRUE(PlatEnumDeviceInterfaces(set, &kLoopbackClass, 1, &data));
    EXPECT_FALSE(PlatEnumDeviceInterfaces(set, &kLoopbackClass, 2, &data));
    EXPECT_EQ(PlatGetLastError(), PLAT_ERROR_NO_MORE_ITEMS);
    PlatGuid other = kLoopbackClass;
    other.data1 ^= 1;
    EXPECT_FALSE(PlatEnumDeviceInterfaces(set, &other, 0, &data)) << "another class is not in the set";
    EXPECT_EQ(PlatGetLastError(), PLAT_ERROR_NO_MORE_ITEMS);
    EXPECT_TRUE(PlatDestroyDeviceInfoList(set));
    EXPECT_FALSE(PlatEnumDeviceInterfaces(set, &kLoopbackClass, 0, &data));
    EXPECT_EQ(PlatGetLastError(), PLAT_ERROR_INVALID_HANDLE);

    EXPECT_EQ(Enumerate(&end).size(), 3u);
    EXPECT_EQ(end, PLAT_ERROR_NO_MORE_ITEMS);
}

TEST_F(Devices, OpeningAPathThatNoProviderHasFailsWithFileNotFound)
{
    provider->Plug(kPathA);
    for (const std::string& path : {kPathB, std::string("\\\\.\\NoSuchDevice"), std::string("/dev/null"),
                                    std::string("\\\\?\\"), std::string("")}) {
        EXPECT_EQ(PlatCreateDeviceFile(path.c_str(), 0, 0, 0), PLAT_INVALID_HANDLE_VALUE) << path;
        EXPECT_EQ(PlatGetLastError(), PLAT_ERROR_FILE_NOT_FOUND) << path;
    }
    PlatHandle h = PlatCreateDeviceFile(kPathA.c_str(), 0, 0, 0);
    ASSERT_NE(h, PLAT_INVALID_HANDLE_VALUE);
    EXPECT_TRUE(PlatCloseHandle(h));
    EXPECT_EQ(provider->closed, 1);
}

TEST_F(Devices, SynchronousRequestsReturnTheBytesAndTheProvidersError)
{
    provider->Plug(kPathA);
    PlatHandle h = PlatCreateDeviceFile(kPathA.c_str(), 0, 0, 0);
    ASSERT_NE(h, PLAT_INVALID_HANDLE_VALUE);
    const char in[] = "camera";
    char out[16] = {};
    uint32_t returned = 99;
    ASSERT_TRUE(PlatDeviceIoControl(h, kEcho, in, 6, out, sizeof(out), &returned, nullptr));
    EXPECT_EQ(returned, 6u);
    EXPECT_EQ(std::string(out, 6), "camera");
    // A request completed later on another thread: the caller without a record waits for it.
    char later[4] = {};
    ASSERT_TRUE(PlatDeviceIoControl(h, kEchoLater, in, 6, later, sizeof(later), &returned, nullptr));
    EXPECT_EQ(returned, 4u) << "no more than the output holds";
    EXPECT_EQ(std::string(later, 4), "came");
    EXPECT_FALSE(PlatDeviceIoControl(h, kFail, in, 6, out, sizeof(out), &returned, nullptr));
    EXPECT_EQ(PlatGetLastError(), 31u);
    EXPECT_EQ(returned, 0u);

    // The same record on a handle opened without the overlapped flag: the call still waits, and fills it.
    PlatOverlapped ov{};
    ov.event = PlatCreateEvent(true, false, nullptr);
    ASSERT_TRUE(PlatDeviceIoControl(h, kEchoLater, in, 3, out, sizeof(out), &returned, &ov));
    EXPECT_EQ(returned, 3u);
    EXPECT_TRUE(PlatHasOverlappedIoCompleted(&ov));
    EXPECT_EQ(PlatWaitForSingleObject(ov.event, 0), PLAT_WAIT_OBJECT_0);
    EXPECT_TRUE(PlatCloseHandle(ov.event));
    EXPECT_TRUE(PlatCloseHandle(h));
    EXPECT_FALSE(PlatDeviceIoControl(h, kEcho, in, 6, out, sizeof(out), &returned, nullptr));
    EXPECT_EQ(PlatGetLastError(), PLAT_ERROR_INVALID_HANDLE);
}

TEST_F(Devices, OverlappedRequestsPendAndCompleteThroughTheRecord)
{
    provider->Plug(kPathA);
    PlatHandle h = PlatCreateDeviceFile(kPathA.c_str(), 0, 0, PLAT_FILE_FLAG_OVERLAPPED);
    ASSERT_NE(h, PLAT_INVALID_HANDLE_VALUE);
    PlatOverlapped ov{};
    ov.event = PlatCreateEvent(true, true, nullptr);
    const uint8_t in[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    uint8_t out[8] = {};
    uint32_t returned = 0;

    // Completed 50 ms later by the provider's thread.
    EXPECT_FALSE(PlatDeviceIoControl(h, kEchoLater, in, 8, out, 8, &returned, &ov));
    EXPECT_EQ(PlatGetLastError(), PLAT_ERROR_IO_PENDING);
    EXPECT_FALSE(PlatHasOverlappedIoCompleted(&ov));
    EXPECT_EQ(PlatWaitForSingleObject(ov.event, 0), PLAT_WAIT_TIMEOUT) << "the event is reset when it starts";
    uint32_t transferred = 99;
    EXPECT_FALSE(PlatGetOverlappedResult(h, &ov, &transferred, false));
    EXPECT_EQ(PlatGetLastError(), PLAT_ERROR_IO_INCOMPLETE);
    EXPECT_EQ(PlatWaitForSingleObject(ov.event, 5000), PLAT_WAIT_OBJECT_0);
    EXPECT_TRUE(PlatGetOverlappedResult(h, &ov, &transferred, false));
    EXPECT_EQ(transferred, 8u);
    EXPECT_EQ(memcmp(out, in, 8), 0);

    // Waiting in the result call, with and without an event in the record.
    for (PlatHandle event : {ov.event, static_cast<PlatHandle>(nullptr)}) {
        PlatOverlapped o{};
        o.event = event;
        uint8_t got[8] = {};
        EXPECT_FALSE(PlatDeviceIoControl(h, kEchoLater, in, 5, got, 8, &returned, &o));
        EXPECT_EQ(PlatGetLastError(), PLAT_ERROR_IO_PENDING);
        EXPECT_TRUE(PlatGetOverlappedResult(h, &o, &transferred, true));
        EXPECT_EQ(transferred, 5u);
        EXPECT_EQ(memcmp(got, in, 5), 0);
    }

    // A synchronous completion still fills the record and signals its event.
    EXPECT_TRUE(PlatResetEvent(ov.event));
    memset(out, 0, sizeof(out));
    EXPECT_TRUE(PlatDeviceIoControl(h, kEcho, in, 2, out, 8, &returned, &ov));
    EXPECT_EQ(returned, 2u);
    EXPECT_EQ(ov.internal, 0u);
    EXPECT_EQ(ov.internalHigh, 2u);
    EXPECT_EQ(PlatWaitForSingleObject(ov.event, 0), PLAT_WAIT_OBJECT_0);
    EXPECT_TRUE(PlatGetOverlappedResult(h, &ov, &transferred, false));
    EXPECT_EQ(transferred, 2u);
    // A failure completed at once: false with the error, and the record tells it too.
    EXPECT_FALSE(PlatDeviceIoControl(h, kFail, in, 2, out, 8, &returned, &ov));
    EXPECT_EQ(PlatGetLastError(), 31u);
    EXPECT_EQ(ov.internal, 31u);
    EXPECT_FALSE(PlatGetOverlappedResult(h, &ov, &transferred, true));
    EXPECT_EQ(PlatGetLastError(), 31u);

    EXPECT_TRUE(PlatCloseHandle(ov.event));
    EXPECT_TRUE(PlatCloseHandle(h));
}

TEST_F(Devices, ClosingAHandleAbortsItsRunningRequests)
{
    provider->Plug(kPathA);
    PlatHandle h = PlatCreateDeviceFile(kPathA.c_str(), 0, 0, PLAT_FILE_FLAG_OVERLAPPED);
    ASSERT_NE(h, PLAT_INVALID_HANDLE_VALUE);
    PlatOverlapped ov{};
    ov.event = PlatCreateEvent(true, false, nullptr);
    uint8_t out[4] = {0xEE, 0xEE, 0xEE, 0xEE};
    const uint8_t in[4] = {1, 2, 3, 4};
    EXPECT_FALSE(PlatDeviceIoControl(h, kHold, in, 4, out, 4, nullptr, &ov));
    EXPECT_EQ(PlatGetLastError(), PLAT_ERROR_IO_PENDING);
    EXPECT_TRUE(PlatCloseHandle(h));
    EXPECT_EQ(PlatWaitForSingleObject(ov.event, 0), PLAT_WAIT_OBJECT_0);
    EXPECT_EQ(ov.internal, PLAT_ERROR_OPERATION_ABORTED);
    // The provider's late completion reaches nobody.
    provider->Release(0);
    EXPECT_EQ(out[0], 0xEE);
    EXPECT_EQ(ov.internal, PLAT_ERROR_OPERATION_ABORTED);
    EXPECT_TRUE(PlatCloseHandle(ov.event));
}

TEST_F(Devices, ARequestAfterTheDeviceHasGoneFailsAndItCannotBeOpenedAgain)
{
    provider->Plug(kPathA);
    provider->Plug(kPathB);
    PlatHandle h = PlatCreateDeviceFile(kPathA.c_str(), 0, 0, PLAT_FILE_FLAG_OVERLAPPED);
    ASSERT_NE(h, PLAT_INVALID_HANDLE_VALUE);
    char out[4];
    uint32_t returned = 0;
    EXPECT_TRUE(PlatDeviceIoControl(h, kEcho, "abcd", 4, out, 4, &returned, nullptr));

    provider->Unplug(kPathA);
    EXPECT_EQ(Enumerate(), std::vector<std::string>{kPathB});
    EXPECT_FALSE(PlatDeviceIoControl(h, kEcho, "abcd", 4, out, 4, &returned, nullptr));
    EXPECT_EQ(PlatGetLastError(), PLAT_ERROR_DEVICE_NOT_CONNECTED);
    PlatOverlapped ov{};
    EXPECT_FALSE(PlatDeviceIoControl(h, kEcho, "abcd", 4, out, 4, &returned, &ov));
    EXPECT_EQ(PlatGetLastError(), PLAT_ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(ov.internal, PLAT_ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(PlatCreateDeviceFile(kPathA.c_str(), 0, 0, 0), PLAT_INVALID_HANDLE_VALUE);
    EXPECT_EQ(PlatGetLastError(), PLAT_ERROR_FILE_NOT_FOUND);
    EXPECT_TRUE(PlatCloseHandle(h));

    // Plugged again: a new handle works.
    provider->Plug(kPathA);
    h = PlatCreateDeviceFile(kPathA.c_str(), 0, 0, 0);
    ASSERT_NE(h, PLAT_INVALID_HANDLE_VALUE);
    EXPECT_TRUE(PlatDeviceIoControl(h, kEcho, "abcd", 4, out, 4, &returned, nullptr));
    EXPECT_TRUE(PlatCloseHandle(h));
}

TEST_F(Devices, ManyThreadsShareOneHandle)
{
    provider->Plug(kPathA);
    PlatHandle h = PlatCreateDeviceFile(kPathA.c_str(), 0, 0, PLAT_FILE_FLAG_OVERLAPPED);
    ASSERT_NE(h, PLAT_INVALID_HANDLE_VALUE);
    std::vector<std::thread> threads;
    std::atomic<int> good{0};
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            PlatOverlapped ov{};
            ov.event = PlatCreateEvent(true, false, nullptr);
            for (int i = 0; i < 200; ++i) {
                uint32_t in = static_cast<uint32_t>(t * 1000 + i);
                uint32_t out = 0;
                uint32_t n = 0;
                bool done = PlatDeviceIoControl(h, kEcho, &in, 4, &out, 4, &n, &ov) ||
                            (PlatGetLastError() == PLAT_ERROR_IO_PENDING && PlatGetOverlappedResult(h, &ov, &n, true));
                if (done && n == 4 && out == in)
                    ++good;
            }
            PlatCloseHandle(ov.event);
        });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(good.load(), 800);
    EXPECT_TRUE(PlatCloseHandle(h));
}

TEST_F(Devices, ALibraryLoadedAtRunTimeSeesTheSameDevicesAndHandles)
{
    provider->Plug(kPathA);
    provider->Plug(kPathB);
    PlatModule module = PlatLoadLibrary("PlatformDevicesTestUser.DLL");
    ASSERT_NE(module, nullptr);
    auto count = reinterpret_cast<int (*)(const PlatGuid*, char*, uint32_t)>(
        PlatGetProcAddress(module, "TestUserCountInterfaces"));
    auto request = reinterpret_cast<int (*)(PlatHandle, uint32_t, const void*, uint32_t, void*, uint32_t)>(
        PlatGetProcAddress(module, "TestUserRequest"));
    ASSERT_TRUE(count && request);
    char first[256] = {};
    EXPECT_EQ(count(&kLoopbackClass, first, sizeof(first)), 2);
    EXPECT_EQ(std::string(first), Enumerate().at(0));

    PlatHandle h = PlatCreateDeviceFile(kPathB.c_str(), 0, 0, 0);
    ASSERT_NE(h, PLAT_INVALID_HANDLE_VALUE);
    char out[3] = {};
    EXPECT_EQ(request(h, kEcho, "xyz", 3, out, 3), 3);
    EXPECT_EQ(std::string(out, 3), "xyz");

    EXPECT_EQ(PlatGetProcAddress(module, "TestUserNoSuchExport"), nullptr);
    EXPECT_EQ(PlatGetLastError(), PLAT_ERROR_PROC_NOT_FOUND);
    EXPECT_TRUE(PlatFreeLibrary(module));
    EXPECT_TRUE(PlatCloseHandle(h));
}

TEST(PlatLoadLibrary, MissingLibrariesAndTheirNames)
{
    for (const char* name : {"NoSuchLibrary.dll", "C:\\Windows\\NoSuchLibrary.dll", "", ".dll"}) {
        EXPECT_EQ(PlatLoadLibrary(name), nullptr) << name;
        EXPECT_EQ(PlatGetLastError(), PLAT_ERROR_MOD_NOT_FOUND) << name;
    }
    EXPECT_EQ(PlatLoadLibrary(nullptr), nullptr);
    // A folder in front of the name is not where it is looked for; beside the executable is.
    PlatModule m = PlatLoadLibrary("C:\\Program Files\\Somewhere\\PlatformDevicesTestUser.dll");
    ASSERT_NE(m, nullptr);
    EXPECT_NE(PlatGetProcAddress(m, "TestUserRequest"), nullptr);
    EXPECT_TRUE(PlatFreeLibrary(m));
    // A library on the search path: the C library.
    m = PlatLoadLibrary("c.so.6");
    EXPECT_EQ(m, nullptr) << "only lib<Name>.so names";
}

TEST(PlatLoadDeviceProvider, AProviderLibraryBesideThePlatformRegistersItsDevices)
{
    const PlatGuid providedClass = {0x70726F76, 0x6964, 0x6572, {0x8B, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07}};
    EXPECT_FALSE(PlatLoadDeviceProvider("PlatformDevicesTestUser.dll")) << "a library without the entry";
    EXPECT_EQ(PlatGetLastError(), PLAT_ERROR_PROC_NOT_FOUND);
    EXPECT_FALSE(PlatLoadDeviceProvider("NoSuchProvider.dll"));
    EXPECT_EQ(PlatGetLastError(), PLAT_ERROR_MOD_NOT_FOUND);
    ASSERT_TRUE(PlatLoadDeviceProvider("PlatformDevicesTestProvider.dll"));

    PlatHandle set = PlatGetClassDevs(&providedClass, PLAT_DIGCF_PRESENT | PLAT_DIGCF_DEVICEINTERFACE);
    ASSERT_NE(set, PLAT_INVALID_HANDLE_VALUE);
    PlatDeviceInterfaceData data{};
    data.cbSize = sizeof(data);
    EXPECT_TRUE(PlatEnumDeviceInterfaces(set, &providedClass, 0, &data));
    EXPECT_FALSE(PlatEnumDeviceInterfaces(set, &providedClass, 1, &data));
    EXPECT_EQ(PlatGetLastError(), PLAT_ERROR_NO_MORE_ITEMS);
    EXPECT_TRUE(PlatDestroyDeviceInfoList(set));
    PlatHandle h = PlatCreateDeviceFile("\\\\?\\provided#0", 0, 0, 0);
    ASSERT_NE(h, PLAT_INVALID_HANDLE_VALUE);
    uint32_t returned = 1;
    EXPECT_TRUE(PlatDeviceIoControl(h, 0x222000, nullptr, 0, nullptr, 0, &returned, nullptr));
    EXPECT_EQ(returned, 0u);
    EXPECT_TRUE(PlatCloseHandle(h));
}

TEST_F(Devices, TwoProcessesSharingTheRequestLogLeaveOnlyWholeLines)
{
    lumotest::TempDir dir;
    const std::string log = (dir / "requests.log").string();
    setenv("LUMO_DEVICE_LOG", log.c_str(), 1);
    provider->Plug(kPathA);
    const int kPerProcess = 300;
    std::vector<pid_t> children;
    for (int c = 0; c < 2; ++c) {
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            PlatHandle h = PlatCreateDeviceFile(kPathA.c_str(), 0, 0, 0);
            if (h == PLAT_INVALID_HANDLE_VALUE)
                _exit(2);
            std::vector<char> in(64 + 37 * c, 'x');
            std::vector<char> out(in.size());
            for (int i = 0; i < kPerProcess; ++i) {
                uint32_t n = 0;
                if (!PlatDeviceIoControl(h, kEcho, in.data(), static_cast<uint32_t>(in.size()), out.data(),
                                         static_cast<uint32_t>(out.size()), &n, nullptr))
                    _exit(3);
            }
            _exit(0);
        }
        children.push_back(pid);
    }
    // The parent logs too, a failing request among them.
    PlatHandle h = PlatCreateDeviceFile(kPathA.c_str(), 0, 0, 0);
    ASSERT_NE(h, PLAT_INVALID_HANDLE_VALUE);
    char out[4];
    uint32_t n = 0;
    EXPECT_FALSE(PlatDeviceIoControl(h, kFail, "ab", 2, out, 4, &n, nullptr));
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
    unsetenv("LUMO_DEVICE_LOG");
    EXPECT_TRUE(PlatCloseHandle(h));

    std::ifstream in(log);
    std::string line;
    std::map<long, int> perProcess;
    int lines = 0;
    bool sawFailure = false;
    while (std::getline(in, line)) {
        long pid = 0;
        char path[128] = {};
        unsigned code = 0, inSize = 0, outSize = 0, result = 0, returned = 0;
        int end = 0;
        ASSERT_EQ(sscanf(line.c_str(), "%ld %127s code=0x%8X in=%u out=%u result=%u returned=%u%n", &pid, path, &code,
                         &inSize, &outSize, &result, &returned, &end),
                  7)
            << line;
        ASSERT_EQ(static_cast<size_t>(end), line.size()) << line;
        EXPECT_EQ(std::string(path), kPathA);
        ++perProcess[pid];
        ++lines;
        if (result == 31) {
            sawFailure = true;
            EXPECT_EQ(code, static_cast<unsigned>(kFail));
            EXPECT_EQ(inSize, 2u);
            EXPECT_EQ(outSize, 4u);
            EXPECT_EQ(returned, 0u);
        } else {
            EXPECT_EQ(result, 0u);
            EXPECT_EQ(code, static_cast<unsigned>(kEcho));
            EXPECT_EQ(inSize, outSize);
            EXPECT_EQ(inSize, returned);
        }
    }
    EXPECT_EQ(lines, 2 * kPerProcess + 1);
    EXPECT_EQ(perProcess.size(), 3u);
    EXPECT_TRUE(sawFailure);
}
