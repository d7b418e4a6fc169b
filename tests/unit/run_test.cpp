#include "common/run.h"

#include <gtest/gtest.h>

#include <chrono>

using namespace tarnvel;

// A program that outruns its bound is killed when the bound is up; the others are waited for.
TEST(Run, ProgramsAreEndedAtTheirBound)
{
    struct Case {
        const char* const argv[4];
        unsigned limit;
        int want;
    };
    const Case cases[] = {
        {{"sleep", "30", nullptr}, 1, kRunTimedOut},
        {{"sh", "-c", "exit 3", nullptr}, 5, 3 << 8},
        {{"sh", "-c", "exit 4", nullptr}, 0, 4 << 8},
        {{"tarnvel-no-such-program", nullptr}, 1, -1},
    };
    for (const Case& c : cases) {
        const auto start = std::chrono::steady_clock::now();
        const int status = run_program(c.argv, true, c.limit);
        const auto took = std::chrono::steady_clock::now() - start;
        // A missing program shows as a failed start, not as the child's exit status 127.
        EXPECT_EQ(status, c.want) << c.argv[0];
        EXPECT_LT(took, std::chrono::seconds(c.limit + 2)) << c.argv[0];
    }
}
