// Running programs without a shell (vfork and exec), and fixed texts through /bin/sh; and the
// process state that both rely on, whatever state the tool's caller left.
#include "common/run.h"

#include "common/text.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
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

// The program being waited for, for the signal handlers: killing it from the handler itself
// leaves no gap between arming the alarm and waiting in which the alarm could be missed.
volatile pid_t running = 0;
volatile sig_atomic_t bound_hit = 0;

void end_bounded_child(int)
{
    if (running > 0) {
        ::kill(running, SIGKILL);
        bound_hit = 1;
    }
}

// The signals that end the run cleanly (end_on_termination), and what they tidy.
constexpr int kTermination[] = {SIGTERM, SIGINT, SIGHUP};
sigset_t caught;
void (*tidy_at_end)() = nullptr;

void end_run(int sig)
{
    if (running > 0) {
        ::kill(running, SIGKILL);
        ::waitpid(running, nullptr, 0);
    }
    tidy_at_end();
    // Ended by the signal, as its sender expects: the default action, once the handler returns.
    set_disposition(sig, SIG_DFL);
    ::kill(::getpid(), sig);
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
    running = 0;
    if (limit != 0) {
        ::alarm(0);
        ::sigaction(SIGALRM, &saved, nullptr);
        if (bound_hit != 0) return kRunTimedOut;
    }
    return result < 0 ? result : status;
}

// The program `name` as a path to start it by: a path as it is, a bare name looked up in the
// absolute folders of PATH ("/bin:/usr/bin" when it is unset). An empty or relative entry
// would name the current folder, and a program started in a folder of the disk would run
// whatever a stranger put there as `jhead`. False, with errno ENOENT, when none holds it.
bool find_program(const char* name, char (&out)[PATH_MAX])
{
    if (name[0] == '/') return fit_copy(out, name);
    const char* path = std::getenv("PATH");
    for (const char* entry = path != nullptr ? path : "/bin:/usr/bin"; *entry != '\0';) {
        const char* end = std::strchr(entry, ':');
        const std::size_t length = end != nullptr ? static_cast<std::size_t>(end - entry) : std::strlen(entry);
        struct stat st;
        if (entry[0] == '/' && fit_format(out, "%.*s/%s", static_cast<int>(length), entry, name) &&
            ::stat(out, &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & 0111) != 0)
            return true;
        entry += length + (end != nullptr ? 1 : 0);
    }
    errno = ENOENT;
    return false;
}

// Starts the program at the path `file` in a child made by vfork, which borrows the tool's
// memory until it has replaced itself: no copy of the page tables on the device's slow core,
// and far less code than posix_spawn. Signals wait until the child has replaced itself (a
// handler of the tool's must not run in it); the child gives back the dispositions the tool
// changed and only opens, changes folder, duplicates, closes, execs, writes and ends. It
// reports a failed exec through a pipe that the exec closes otherwise, so a program that could
// not be started returns -1, not a child's exit status.
int spawn_and_wait(const char* file, const char* const argv[], bool quiet, unsigned limit, int folder)
{
    std::fflush(stdout);
    int report[2];
    if (::pipe(report) != 0) return -1;
    ::fcntl(report[1], F_SETFD, FD_CLOEXEC);
    // exec takes char* const[] for historical reasons; it never writes through them.
    auto* args = const_cast<char* const*>(argv);
    sigset_t all;
    sigset_t mask;
    sigfillset(&all);
    ::sigprocmask(SIG_BLOCK, &all, &mask);
    // posix_spawn would cost the device tool about 8 KB; the parent waits for the child anyway.
    const pid_t pid = ::vfork(); // NOLINT(clang-analyzer-security.insecureAPI.vfork)
    if (pid == 0) {
        // The child shares the parent's memory until the exec: it makes only the calls below,
        // none of which changes that memory but errno. Its working folder, descriptors and
        // signal dispositions are its own.
        // NOLINTBEGIN(clang-analyzer-unix.Vfork)
        ::close(report[0]);
        // The tool ignores SIGPIPE for itself; a program gets it as from any other parent.
        set_disposition(SIGPIPE, SIG_DFL);
        for (const int sig : kTermination) {
            if (sigismember(&caught, sig) == 1) set_disposition(sig, SIG_DFL);
        }
        ::sigprocmask(SIG_SETMASK, &mask, nullptr);
        const int null = quiet ? ::open("/dev/null", O_WRONLY) : -1;
        const bool placed = folder == kOwnFolder || ::fchdir(folder) == 0;
        if (placed && (!quiet || (null >= 0 && ::dup2(null, STDOUT_FILENO) == STDOUT_FILENO))) {
            if (null > STDOUT_FILENO) ::close(null);
            ::execv(file, args);
        }
        const int err = errno;
        while (::write(report[1], &err, sizeof err) < 0 && errno == EINTR) {
        }
        ::_exit(127);
        // NOLINTEND(clang-analyzer-unix.Vfork)
    }
    const int vfork_err = errno;
    running = pid;
    ::sigprocmask(SIG_SETMASK, &mask, nullptr);
    ::close(report[1]);
    if (pid < 0) {
        running = 0;
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
    char file[PATH_MAX];
    return find_program(argv[0], file) ? spawn_and_wait(file, argv, quiet, limit, folder) : -1;
}

int run_shell(const char* text)
{
    const char* const argv[] = {"sh", "-c", text, nullptr};
    const int status = spawn_and_wait("/bin/sh", argv, false, 0, kOwnFolder);
    if (status == -1) refuse("cannot start /bin/sh for \"%s\": %s", text, errno_name(errno));
    return status;
}

void end_on_termination(void (*tidy)())
{
    tidy_at_end = tidy;
    for (const int sig : kTermination) {
        struct sigaction action {};
        action.sa_handler = end_run;
        sigfillset(&action.sa_mask);
        struct sigaction before {};
        ::sigaction(sig, nullptr, &before);
        // One its caller ignores (nohup) stays ignored.
        if (before.sa_handler == SIG_IGN) continue;
        ::sigaction(sig, &action, nullptr);
        sigaddset(&caught, sig);
    }
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
