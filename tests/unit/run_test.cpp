#include "common/run.h"
#include "fake_host.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sys/resource.h>
#include <unistd.h>

using namespace tarnvel;

// A program that outruns its bound is killed when the bound is up; the others are waited for,
// in the folder they were given.
TEST(Run, ProgramsAreEndedAtTheirBound)
{
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / ("tarnvel-run-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    std::ofstream(dir / "marker") << "x";
    const int folder = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY);
    const int file = ::open((dir / "marker").c_str(), O_RDONLY);
    struct Case {
        const char* const argv[4];
        unsigned limit;
        int want;
        int folder = kOwnFolder;
        int err = 0; // errno of a failed start
    };
    const Case cases[] = {
        {{"sleep", "30", nullptr}, 1, kRunTimedOut},
        {{"sh", "-c", "exit 3", nullptr}, 5, 3 << 8},
        {{"sh", "-c", "exit 4", nullptr}, 0, 4 << 8},
        {{"tarnvel-no-such-program", nullptr}, 1, -1, kOwnFolder, ENOENT},
        {{"test", "-e", "./marker", nullptr}, 5, 0, folder},
        {{"test", "-e", "./marker", nullptr}, 5, 1 << 8},
        {{"true", nullptr}, 5, -1, file, ENOTDIR},
    };
    for (const Case& c : cases) {
        const auto start = std::chrono::steady_clock::now();
        errno = 0;
        const int status = run_program(c.argv, true, c.limit, c.folder);
        const auto took = std::chrono::steady_clock::now() - start;
        // A missing program shows as a failed start, not as the child's exit status 127.
        EXPECT_EQ(status, c.want) << c.argv[0];
        EXPECT_EQ(status == -1 ? errno : 0, c.err) << c.argv[0];
        EXPECT_LT(took, std::chrono::seconds(c.limit + 2)) << c.argv[0];
    }
    ::close(folder);
    ::close(file);
    std::filesystem::remove_all(dir);
}

// Without a descriptor to spare for the start's report, nothing starts: the program's caller
// learns why, and a shell text that could not start is said with its text.
TEST(Run, StartsWithoutDescriptorsFailAndSaySo)
{
    rlimit saved{};
    ::getrlimit(RLIMIT_NOFILE, &saved);
    const char* const argv[] = {"true", nullptr};
    int status = 0;
    int err = 0;
    int shell = 0;
    const std::string said = tarnvel::test::capture_stderr([&] {
        // Every descriptor below the lowest free one is taken: none is left.
        const int lowest = ::dup(0);
        ::close(lowest);
        const rlimit none{static_cast<rlim_t>(lowest), saved.rlim_max};
        ::setrlimit(RLIMIT_NOFILE, &none);
        status = run_program(argv, false, 0, kOwnFolder);
        err = errno;
        shell = run_shell("true");
        ::setrlimit(RLIMIT_NOFILE, &saved);
    });
    EXPECT_EQ(status, -1);
    EXPECT_EQ(err, EMFILE);
    EXPECT_EQ(shell, -1);
    EXPECT_EQ(said, "tarnvel: cannot start /bin/sh for \"true\": EMFILE\n");
}
