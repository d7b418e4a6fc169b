// Running programs without a shell (vfork and exec), and fixed texts through /bin/sh; and the
// process state that both rely on, whatever state the tool's caller left.
#include "common/run.h"

#include "common/text.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tarnvel {
namespace {

void set_disposition(int sig, void (*handler)(int))
{
    struct sigaction action {};
    action.sa_handler = handler;
    ::sigaction(sig, &action, nullptr);
}

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

// Starts `file` in a child made by vfork, which borrows the tool's memory until it has replaced
// itself: no copy of the page tables on the device's slow core, and far less code than
// posix_spawn. The child only opens, changes folder, duplicates, closes, execs, writes and
// ends. It reports a failed exec through a pipe that the exec closes otherwise, so a program
// that could not be started returns -1, not a child's exit status.
int spawn_and_wait(const char* file, const char* const argv[], bool quiet, bool search_path, unsigned limit,
                   int folder)
{
    std::fflush(stdout);
    int report[2];
    if (::pipe(report) != 0) return -1;
    ::fcntl(report[1], F_SETFD, FD_CLOEXEC);
    // exec takes char* const[] for historical reasons; it never writes through them.
    auto* args = const_cast<char* const*>(argv);
    // posix_spawn would cost the device tool about 8 KB; the parent waits for the child anyway.
    const pid_t pid = ::vfork(); // NOLINT(clang-analyzer-security.insecureAPI.vfork)
    if (pid == 0) {
        // The child shares the parent's memory until the exec: it makes only the calls below,
        // none of which changes that memory but errno. Its working folder and descriptors
        // are its own.
        // NOLINTBEGIN(clang-analyzer-unix.Vfork)
        ::close(report[0]);
        // The tool ignores SIGPIPE for itself; a program gets it as from any other parent.
        set_disposition(SIGPIPE, SIG_DFL);
        const int null = quiet ? ::open("/dev/null", O_WRONLY) : -1;
        const bool placed = folder == kOwnFolder || ::fchdir(folder) == 0;
        if (placed && (!quiet || (null >= 0 && ::dup2(null, STDOUT_FILENO) == STDOUT_FILENO))) {
            if (null > STDOUT_FILENO) ::close(null);
            if (search_path) {
                ::execvp(file, args);
            } else {
                ::execv(file, args);
            }
        }
        const int err = errno;
        while (::write(report[1], &err, sizeof err) < 0 && errno == EINTR) {
        }
        ::_exit(127);
        // NOLINTEND(clang-analyzer-unix.Vfork)
    }
    const int vfork_err = errno;
    ::close(report[1]);
    if (pid < 0) {
        ::close(report[0]);
        errno = vfork_err;
        return -1;
    }
    int err = 0;
    ssize_t told = 0;
    while ((told = ::read(report[0], &err, sizeof err)) < 0 && errno == EINTR) {
    }
    ::close(report[0]);
    const int status = wait_for(pid, limit);
    if (told <= 0) return status;
    errno = err;
    return -1;
}

} // namespace

int run_program(const char* const argv[], bool quiet, unsigned limit, int folder)
{
    return spawn_and_wait(argv[0], argv, quiet, true, limit, folder);
}

int run_shell(const char* text)
{
    const char* const argv[] = {"sh", "-c", text, nullptr};
    const int status = spawn_and_wait("/bin/sh", argv, false, false, 0, kOwnFolder);
    if (status == -1) refuse("cannot start /bin/sh for \"%s\": %s", text, errno_name(errno));
    return status;
}

void take_start_state()
{
    // A closed 0, 1 or 2 would go to the next file the tool opens, and a refusal or a line of
    // output would be written into a flash partition or a driver: /dev/null takes its place.
    int fd = 0;
    while ((fd = ::open("/dev/null", O_RDWR)) >= 0 && fd <= STDERR_FILENO) {
    }
    if (fd > STDERR_FILENO) ::close(fd);
    // A stdout that nobody reads any more (a web handler that timed out) makes a write fail,
    // not the run end half-way through starting the device's daemons.
    set_disposition(SIGPIPE, SIG_IGN);
    // Waiting for a program needs SIGCHLD's default (ignored, the kernel reaps the child before
    // the wait sees it), and its time bound needs SIGALRM delivered.
    set_disposition(SIGCHLD, SIG_DFL);
    set_disposition(SIGALRM, SIG_DFL);
    sigset_t relied;
    sigemptyset(&relied);
    sigaddset(&relied, SIGCHLD);
    sigaddset(&relied, SIGALRM);
    ::sigprocmask(SIG_UNBLOCK, &relied, nullptr);
}

} // namespace tarnvel
