#pragma once
// Runs part of a test in a new run of the test program that runs that test alone: for tests of what the
// process keeps for its whole life (the connection pool, the time base), so that nothing an earlier test left
// there is seen and nothing the part leaves there reaches a later test.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>

namespace camtest {

// `body` uses the usual assertions; its failures are printed by the new run and fail the test here.
template <class Body>
void InFreshProcess(Body body)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");  // a new process, not a fork of this one
    EXPECT_EXIT(
        {
            body();
            std::fflush(stdout);
            _exit(::testing::Test::HasFailure() ? 1 : 0);
        },
        ::testing::ExitedWithCode(0), "")
        << "the new run's failures are printed above";
}

}  // namespace camtest
