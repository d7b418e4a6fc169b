// Running programs without a shell (posix_spawn), and fixed texts through /bin/sh.
#include "common/run.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h> // environ, declared there for C++ (which builds with _GNU_SOURCE)

namespace tarnvel {
namespace {

// The bounded child, for the alarm handler: killing it from the handler itself leaves no gap
// between arming the alarm and waiting in which the alarm could be missed.
volatile pid_t bounded_child = 0;
volatile sig_atomic_t bound_hit = 0;

void end_bounded_child(int)
{
    if (bounded_child > 0) {
        ::kill(bounded_child, SIGKILL);
        bound_hit = 1;
    }
}

// Waits for `pid`, killing it once `limit` seconds (0: no bound) have passed.
int wait_for(pid_t pid, unsigned limit)
{
    struct sigaction saved {};
    if (limit != 0) {
        struct sigaction wake {};
        wake.sa_handler = end_bounded_child;
        sigemptyset(&wake.sa_mask);
        ::sigaction(SIGALRM, &wake, &saved);
        bound_hit = 0;
        bounded_child = pid;
        ::alarm(limit);
    }
    int status = 0;
    int result = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            result = -1;
            break;
        }
    }
    if (limit != 0) {
        bounded_child = 0;
        ::alarm(0);
        ::sigaction(SIGALRM, &saved, nullptr);
        if (bound_hit != 0) return kRunTimedOut;
    }
    return result < 0 ? result : status;
}

int spawn_and_wait(const char* file, const char* const argv[], bool quiet, bool search_path, unsigned limit)
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
    return wait_for(pid, limit);
}

} // namespace

int run_program(const char* const argv[], bool quiet, unsigned limit)
{
    return spawn_and_wait(argv[0], argv, quiet, true, limit);
}

int run_shell(const char* text)
{
    const char* const argv[] = {"sh", "-c", text, nullptr};
    return spawn_and_wait("/bin/sh", argv, false, false, 0);
}

} // namespace tarnvel
