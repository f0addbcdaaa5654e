#pragma once
// Runs a test's work in a new run of the test program that runs that test alone: for what a process keeps for
// its whole life (a pool, a time base, the window backend chosen once), so that nothing an earlier test left in
// this process is seen and nothing the work leaves there reaches a later test.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <string>

namespace lumotest {

// `body` uses the usual assertions; its failures are gathered in the new run and fail the test here, with their
// messages.
template <class Body>
void InFreshProcess(Body body)
{
    // A new process, not a fork of this one; the program's own style is back for the tests after this one.
    const std::string style = GTEST_FLAG_GET(death_test_style);
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            ::testing::TestPartResultArray results;
            {
                ::testing::ScopedFakeTestPartResultReporter gather(
                    ::testing::ScopedFakeTestPartResultReporter::INTERCEPT_ALL_THREADS, &results);
                body();
            }
            int failures = 0;
            for (int i = 0; i < results.size(); ++i) {
                const ::testing::TestPartResult& r = results.GetTestPartResult(i);
                if (r.failed()) {
                    ++failures;
                    std::fprintf(stderr, "%s:%d: %s\n", r.file_name() ? r.file_name() : "?", r.line_number(),
                                 r.message());
                }
            }
            std::fflush(stderr);
            _exit(failures ? 1 : 0);
        },
        ::testing::ExitedWithCode(0), "");
    GTEST_FLAG_SET(death_test_style, style);
}

}  // namespace lumotest
