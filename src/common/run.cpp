// Running programs without a shell (posix_spawn), and fixed texts through /bin/sh.
#include "common/run.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h> // environ, declared there for C++ (which builds with _GNU_SOURCE)

namespace tarnvel {
namespace {

int spawn_and_wait(const char* file, const char* const argv[], bool quiet, bool search_path)
{
    std::fflush(stdout);
    posix_spawn_file_actions_t actions;
    if (posix_spawn_file_actions_init(&actions) != 0) return -1;
    if (quiet && posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0) != 0) {
        posix_spawn_file_actions_destroy(&actions);
        return -1;
    }
    pid_t pid = -1;
    // posix_spawn takes char* const[] for historical reasons; it never writes through them.
    auto* args = const_cast<char* const*>(argv);
    int err = search_path ? posix_spawnp(&pid, file, &actions, nullptr, args, environ)
                          : posix_spawn(&pid, file, &actions, nullptr, args, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (err != 0) return -1;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    return status;
}

} // namespace

int run_program(const char* const argv[], bool quiet)
{
    return spawn_and_wait(argv[0], argv, quiet, true);
}

int run_shell(const char* text)
{
    const char* const argv[] = {"sh", "-c", text, nullptr};
    return spawn_and_wait("/bin/sh", argv, false, false);
}

} // namespace tarnvel
