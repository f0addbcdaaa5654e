// The ANSI code page, message texts and named shared sections.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "PlatformCodePage.h"
#include "PlatformMessage.h"
#include "PlatformSection.h"
#include "PlatformTestHelpers.h"

namespace {

std::string Ansi(const std::u16string& text)
{
    char out[64];
    const int32_t n = PlatWideCharToMultiByte(text.data(), static_cast<int32_t>(text.size()), out, sizeof out);
    return std::string(out, n > 0 ? static_cast<size_t>(n) : 0);
}

TEST(PlatCodePage, Windows1252WithQuestionMarksForTheRest)
{
    struct Case {
        std::u16string in;
        std::string out;
    };
    const Case cases[] = {
        {u"plain", "plain"},
        {u"caf\u00E9 \u00A0\u00FF", "caf\xE9 \xA0\xFF"},
        {u"\u20AC\u2122\u0160\u0178\u2014", "\x80\x99\x8A\x9F\x97"},  // the 0x80-0x9F row
        {u"\u0081\u008D\u008F\u0090\u009D", "\x81\x8D\x8F\x90\x9D"},  // its five undefined bytes
        {u"\u0080\u0100\u03A9\u3042\uFFFD", "?????"},
        {u"a\U0001F600b", "a?b"},           // a pair is one character
        {u"\xD800x\xDC00", "?x?"},          // lone surrogates
        {std::u16string(u"a\0b", 3), std::string("a\0b", 3)},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Ansi(c.in), c.out);
}

TEST(PlatCodePage, SizesAndFailures)
{
    const char16_t* text = u"abc";
    EXPECT_EQ(PlatWideCharToMultiByte(text, -1, nullptr, 0), 4) << "the zero converts too";
    char out[4];
    std::memset(out, '#', sizeof out);
    EXPECT_EQ(PlatWideCharToMultiByte(text, 3, out, 2), 0);
    EXPECT_EQ(PlatGetLastError(), PLAT_ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(std::string(out, 3), "ab#");
    for (int32_t length : {0, -2}) {
        EXPECT_EQ(PlatWideCharToMultiByte(text, length, out, 4), 0);
        EXPECT_EQ(PlatGetLastError(), PLAT_ERROR_INVALID_PARAMETER);
    }
    EXPECT_EQ(PlatWideCharToMultiByte(nullptr, 3, out, 4), 0);
    EXPECT_EQ(PlatWideCharToMultiByte(text, 3, nullptr, 4), 0);
}

TEST(PlatMessage, TextsForTheSystemsCodes)
{
    char text[512];
    EXPECT_EQ(PlatFormatMessage(87, text, sizeof text), std::strlen("The parameter is incorrect.\r\n"));
    EXPECT_STREQ(text, "The parameter is incorrect.\r\n");
    char small[8];
    EXPECT_EQ(PlatFormatMessage(87, small, sizeof small), 7u);
    EXPECT_STREQ(small, "The par");
    EXPECT_EQ(PlatFormatMessage(0xE0100004, text, sizeof text), 0u);
    EXPECT_EQ(PlatGetLastError(), PLAT_ERROR_MR_MID_NOT_FOUND);
    EXPECT_STREQ(text, "");
}

class PlatSection : public ::testing::Test {
protected:
    plattest::ScratchMachine m_Machine;
};

TEST_F(PlatSection, SharedByNameAndZeroedWithItsLastUser)
{
    void* a = nullptr;
    PlatHandle first = PlatCreateSharedSection("Lumo.Section", 20528, &a);
    ASSERT_NE(first, nullptr) << PlatGetLastError();
    EXPECT_EQ(PlatGetLastError(), PLAT_ERROR_SUCCESS);
    std::memset(a, 0x5A, 20528);

    // Another process sees the same bytes while this one has it open.
    plattest::Channel channel;
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        void* v = nullptr;
        PlatHandle h = PlatCreateSharedSection("Lumo.Section", 20528, &v);
        const bool same = h && PlatGetLastError() == PLAT_ERROR_ALREADY_EXISTS &&
                          static_cast<uint8_t*>(v)[20527] == 0x5A;
        if (same)
            static_cast<uint8_t*>(v)[0] = 0x11;
        _exit(same ? 0 : 1);  // ends without closing it
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(static_cast<uint8_t*>(a)[0], 0x11);

    void* b = nullptr;
    PlatHandle second = PlatCreateSharedSection("Lumo.Section", 100, &b);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(PlatGetLastError(), PLAT_ERROR_ALREADY_EXISTS);
    EXPECT_EQ(b, a);
    EXPECT_EQ(PlatCreateSharedSection("Lumo.Section", 20529, &b), nullptr) << "larger than the open one";
    EXPECT_EQ(PlatGetLastError(), PLAT_ERROR_INVALID_PARAMETER);
    PlatCloseHandle(first);
    PlatCloseHandle(second);

    PlatHandle again = PlatCreateSharedSection("Lumo.Section", 20528, &a);
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(PlatGetLastError(), PLAT_ERROR_SUCCESS);
    const auto* bytes = static_cast<const uint8_t*>(a);
    EXPECT_EQ(bytes[0], 0);
    EXPECT_EQ(bytes[20527], 0);
    PlatCloseHandle(again);
}

TEST_F(PlatSection, RefusesBadArgumentsAndOtherKinds)
{
    void* v = nullptr;
    EXPECT_EQ(PlatCreateSharedSection(nullptr, 16, &v), nullptr);
    EXPECT_EQ(PlatCreateSharedSection("s", 0, &v), nullptr);
    EXPECT_EQ(PlatCreateSharedSection("s", (16u << 20) + 1, &v), nullptr);
    EXPECT_EQ(PlatCreateSharedSection("s", 16, nullptr), nullptr);
    EXPECT_EQ(PlatGetLastError(), PLAT_ERROR_INVALID_PARAMETER);
    PlatHandle event = PlatCreateEvent(true, false, "Lumo.Taken");
    EXPECT_EQ(PlatCreateSharedSection("Lumo.Taken", 16, &v), nullptr);
    EXPECT_EQ(PlatGetLastError(), PLAT_ERROR_INVALID_HANDLE);
    EXPECT_EQ(v, nullptr);
    PlatCloseHandle(event);
}

}  // namespace
