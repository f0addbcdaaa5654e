// The shared trace buffer through the library's exports.
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "OstraFixture.h"
#include "PlatformSync.h"

namespace {

using ostratest::OstraTest;

class OstraTrace : public OstraTest {
protected:
    // Takes key 7 and enables tracing.
    void Own()
    {
        ASSERT_TRUE(o.OstraSetReadTraceOwnerKey(7, 0));
        ASSERT_TRUE(o.OstraUsbEnableTracing(7, 1));
    }

    struct Slot {
        uint32_t result = 0;
        int32_t next = -2;
        uint32_t length = 0xFFFFFFFF;
        uint32_t used = 0;
        std::string text;  // the used part
    };
    Slot Read(int32_t slot, uint32_t milliseconds = 0, uint32_t key = 7)
    {
        Slot s;
        std::vector<uint8_t> bytes(OSTRA_TRACE_SLOT_BYTES, 0xEE);
        s.result = o.WaitForTrace(slot, 0, milliseconds, bytes.data(), &s.next, &s.length, key);
        std::memcpy(&s.used, bytes.data(), 4);
        if (s.result == 0)
            s.text.assign(reinterpret_cast<const char*>(bytes.data()) + 4, std::min<uint32_t>(s.used, 4096));
        return s;
    }
};

TEST_F(OstraTrace, FullTextsOpenFreshSlotsAndLongerOnesAreRefused)
{
    Own();
    ASSERT_EQ(o.OstraUsbTrace("abc", 100), OSTRA_S_OK);
    const std::string full(4096, 'x');
    ASSERT_EQ(o.OstraUsbTrace(full.c_str(), 4096), OSTRA_S_OK);
    Slot first = Read(0);
    EXPECT_EQ(first.result, 0u);
    EXPECT_EQ(first.text, "abc");
    EXPECT_EQ(first.length, 0u) << "slot 0 is no longer the current one";
    EXPECT_EQ(first.next, 1);
    Slot second = Read(1);
    EXPECT_EQ(second.text, full);
    EXPECT_EQ(second.length, 4096u);
    EXPECT_EQ(second.next, 1);

    // 4097 characters are refused, and the refusal is traced in a fresh slot.
    const std::string over(4097, 'y');
    EXPECT_EQ(o.OstraUsbTrace(over.c_str(), 5000), OSTRA_E_INVALIDARG);
    Slot third = Read(2);
    EXPECT_EQ(third.text, "Ostra for USB: OstraUsbTrace count of 4097 exceeds maximum count of 4096\r\n");
    // The count bounds the text: the same text cut by the count is written.
    EXPECT_EQ(o.OstraUsbTrace(over.c_str(), 4), OSTRA_S_OK);
    EXPECT_EQ(Read(2).text.substr(third.text.size()), "yyyy");
}

TEST_F(OstraTrace, TextIsReadNoFurtherThanTheCount)
{
    Own();
    // No terminating zero within the count: nothing past it is read (the sanitizer would tell).
    std::vector<char> five = {'h', 'e', 'l', 'l', 'o'};
    ASSERT_EQ(o.OstraUsbTrace(five.data(), 5), OSTRA_S_OK);
    EXPECT_EQ(Read(0).text, "hello");
    // A zero within the count ends the text.
    ASSERT_EQ(o.OstraUsbTrace("ab\0cd", 5), OSTRA_S_OK);
    EXPECT_EQ(Read(0).text, "helloab");
}

TEST_F(OstraTrace, AfterFiveFullSlotsTheOldestIsTheOldestStillHeld)
{
    Own();
    for (char c = 'A'; c <= 'F'; ++c) {
        const std::string text(4096, c);
        ASSERT_EQ(o.OstraUsbTrace(text.c_str(), 4096), OSTRA_S_OK);
    }
    // A to slots 1-4, E to slot 0, F to slot 1 over A: B in slot 2 is the oldest still held.
    Slot oldest = Read(-1);
    ASSERT_EQ(oldest.result, 0u);
    EXPECT_EQ(oldest.text, std::string(4096, 'B'));
    EXPECT_EQ(oldest.next, 3);
    EXPECT_EQ(Read(1).text, std::string(4096, 'F'));
    EXPECT_EQ(Read(5).result, OSTRA_E_INVALIDARG);
    EXPECT_EQ(Read(-2).result, OSTRA_E_INVALIDARG);
}

TEST_F(OstraTrace, PrintfFormatsIntoTheBufferAndRefusesWhatDoesNotFit)
{
    Own();
    ASSERT_EQ(o.OstraUsbPrintf("%s %d 0x%08X\r\n", "value", 42, 0xBEEFu), OSTRA_S_OK);
    EXPECT_EQ(Read(0).text, "value 42 0x0000BEEF\r\n");
    const std::string big(4096, 'z');
    EXPECT_EQ(o.OstraUsbPrintf("%s", big.c_str()), OSTRA_E_INVALIDARG);
    EXPECT_EQ(o.OstraUsbPrintf(nullptr), OSTRA_E_INVALIDARG);
    EXPECT_EQ(o.OstraUsbTrace(nullptr, 10), OSTRA_E_INVALIDARG);
    EXPECT_EQ(Read(0).text,
              "value 42 0x0000BEEF\r\nTrace string too longOstraUsbPrintf: pFormat is NULL\r\n"
              "OstraUsbTrace: pTraceString is NULL\r\n");
}

TEST_F(OstraTrace, KeysGuardEnablingAndReading)
{
    // Nothing is written while tracing is off.
    EXPECT_EQ(o.OstraUsbTrace("early", 5), OSTRA_E_ACCESSDENIED);
    ASSERT_TRUE(o.OstraSetReadTraceOwnerKey(7, 0));
    EXPECT_FALSE(o.OstraUsbEnableTracing(8, 1));
    EXPECT_TRUE(o.OstraSetReadTraceOwnerKey(7, 0)) << "the owner takes it again";
    EXPECT_FALSE(o.OstraSetReadTraceOwnerKey(8, 0));
    ASSERT_TRUE(o.OstraUsbEnableTracing(7, 1));
    ASSERT_EQ(o.OstraUsbTrace("kept", 4), OSTRA_S_OK);
    EXPECT_EQ(Read(0, 0, 8).result, OSTRA_ERROR_BADKEY);

    // A forced key replaces the reader's: its next wait answers 1010.
    ASSERT_TRUE(o.OstraSetReadTraceOwnerKey(8, 1));
    EXPECT_EQ(Read(0, 0, 7).result, OSTRA_ERROR_BADKEY);
    EXPECT_EQ(Read(0, 0, 8).text, "kept");
    EXPECT_FALSE(o.OstraReleaseReadTraceOwnerKey(7));
    EXPECT_TRUE(o.OstraReleaseReadTraceOwnerKey(8));
    EXPECT_TRUE(o.OstraSetReadTraceOwnerKey(9, 0)) << "a released key is free to take";

    // Disabling clears the buffer; the next wait tells so.
    EXPECT_TRUE(o.OstraUsbEnableTracing(9, 0));
    EXPECT_EQ(o.OstraUsbTrace("late", 4), OSTRA_E_ACCESSDENIED);
    Slot s = Read(0, 0, 9);
    EXPECT_EQ(s.result, OSTRA_WAIT_TIMEOUT);
    EXPECT_EQ(s.length, 0u);
    EXPECT_EQ(s.next, 0);
    // The clearing woke the slot, which is empty now; then there is nothing to wake on.
    Slot woken = Read(0, 0, 9);
    EXPECT_EQ(woken.result, 0u);
    EXPECT_EQ(woken.used, 0u);
    EXPECT_EQ(Read(0, 0, 9).result, OSTRA_WAIT_TIMEOUT);
}

TEST_F(OstraTrace, ClearingWhileAReaderWaitsEndsTheWait)
{
    Own();
    ASSERT_EQ(o.OstraUsbTrace("before", 6), OSTRA_S_OK);
    ASSERT_EQ(Read(0).text, "before");  // takes the slot's wake-up
    Slot waited;
    std::thread reader([&] { waited = Read(0, 60000); });
    o.OstraClearTraceBuffer();
    reader.join();
    EXPECT_EQ(waited.result, OSTRA_WAIT_TIMEOUT);
    EXPECT_EQ(waited.length, 0u);
    EXPECT_EQ(waited.next, 0);
    // Then the buffer is empty and reads on.
    ASSERT_EQ(o.OstraUsbTrace("after", 5), OSTRA_S_OK);
    EXPECT_EQ(Read(0).text, "after");
}

TEST_F(OstraTrace, AReaderWakesForTextWrittenMeanwhile)
{
    Own();
    ASSERT_EQ(Read(0).result, 0u);  // the wake-up of taking the key
    Slot waited;
    std::thread reader([&] { waited = Read(0, 60000); });
    ASSERT_EQ(o.OstraUsbPrintf("line %d\n", 1), OSTRA_S_OK);
    reader.join();
    ASSERT_EQ(waited.result, 0u);
    EXPECT_EQ(waited.text, "line 1\n");
    EXPECT_EQ(waited.length, 7u);
    EXPECT_EQ(waited.next, 0);
}

TEST_F(OstraTrace, AWriterKilledHoldingTheMutexDoesNotStopTheNext)
{
    Own();
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Holds the buffer's mutex and ends without giving it back.
        PlatHandle mutex = PlatCreateMutex(false, "OstraUSB_Trace_Buffer_Mutex");
        _exit(mutex && PlatWaitForSingleObject(mutex, 5000) == PLAT_WAIT_OBJECT_0 ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(o.OstraUsbTrace("next", 4), OSTRA_S_OK);
    EXPECT_EQ(Read(0).text, "next");
}

TEST_F(OstraTrace, TheSectionGoesWithItsLastUserCrashedOnesIncluded)
{
    Own();
    ASSERT_EQ(o.OstraUsbTrace("held", 4), OSTRA_S_OK);
    o.Unload();
    // A process that loads the library, writes and dies without unloading it.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ostratest::Ostra c;
        if (!c.Load() || !c.OstraSetReadTraceOwnerKey(3, 0) || !c.OstraUsbEnableTracing(3, 1))
            _exit(1);
        _exit(c.OstraUsbTrace("crashed", 7) == OSTRA_S_OK ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    ASSERT_TRUE(o.Load());
    // Fresh: no key held, tracing off, nothing in the slots.
    EXPECT_EQ(o.OstraUsbTrace("x", 1), OSTRA_E_ACCESSDENIED);
    ASSERT_TRUE(o.OstraSetReadTraceOwnerKey(4, 0));
    Slot s = Read(0, 0, 4);
    EXPECT_EQ(s.result, 0u);
    EXPECT_EQ(s.used, 0u);
    EXPECT_EQ(s.text, "");
}

}  // namespace
