// A stand-in for the device, installed through the seam: fixed paths rooted in a fresh
// temporary folder, programs and shell texts recorded instead of run, sleeps and the clock
// recorded, ioctls answered by the test.
#pragma once

#include "common/host.h"

#include <ctime>
#include <functional>
#include <string>
#include <vector>

struct sysinfo;

namespace tarnvel::test {

class FakeHost {
public:
    FakeHost();
    ~FakeHost();
    FakeHost(const FakeHost&) = delete;
    FakeHost& operator=(const FakeHost&) = delete;

    // Where a fixed path of the device lies in this test.
    std::string path(const std::string& logical) const { return root_ + logical; }
    // Writes `content` at the fixed path `logical`, creating its folders.
    void write(const std::string& logical, const std::string& content) const;
    std::string read(const std::string& logical) const;
    void make_dir(const std::string& logical) const;
    bool exists(const std::string& logical) const;

    // What ran, in order: "sh: TEXT" for shell texts, "run: A B C" for programs, with
    // " >/dev/null" appended when their stdout was discarded and " (in FOLDER)" when they
    // were started in a folder of their own (on_run is then called in that folder).
    std::vector<std::string> commands;
    std::vector<unsigned> sleeps;
    // ioctls as "REQUEST PATH" with the request in hex and the path under the test's root.
    std::vector<std::string> ioctls;

    // From now on, counts the page-cache drops the tool makes: each open of the fixed
    // /proc/sys/vm/drop_caches for writing, closed again (the file is made empty here).
    void count_drops();
    // The drops since count_drops() or since the last call.
    int drops();

    time_t clock = 1'700'000'000;
    std::function<int(int fd, unsigned long request, void* arg)> on_ioctl;
    std::function<int(struct sysinfo*)> on_sysinfo;
    // Called for each program or shell text after it is recorded (to act out its effect).
    std::function<int(const std::vector<std::string>& argv)> on_run;
    std::function<int(const std::string& text)> on_shell;
    // Called for each sleep after it is recorded.
    std::function<void(unsigned seconds)> on_sleep;

private:
    std::string root_;
    host::Binding previous_;
    int drop_watch_ = -1;
};

// A writable argument vector {"tarnvel", words..., null}, as an operation that takes the
// run's vector receives it.
class Argv {
public:
    explicit Argv(const std::vector<std::string>& words);
    Argv(const Argv&) = delete;
    Argv& operator=(const Argv&) = delete;
    char** get() { return pointers_.data(); }

private:
    std::vector<std::string> words_;
    std::vector<char*> pointers_;
};

// Runs `body` and returns what it printed on stdout.
std::string capture_stdout(const std::function<void()>& body);
// Runs `body` and returns what it printed on stderr.
std::string capture_stderr(const std::function<void()>& body);

// The process's open descriptors and heap in use, for leak checks of the daemons.
int open_descriptors();
std::size_t heap_in_use();
// Runs `body` once to settle, then `times` more times, and expects the open descriptors and the
// heap in use to be where they were: a daemon's cycle must not pile anything up over weeks.
// `heap_slack` bytes of growth are let pass: over long runs with changing inputs the C
// library's allocator may end up caching a chunk more than at the start.
void expect_steady(int times, const std::function<void()>& body, std::size_t heap_slack = 0);

// An entry of FakeHost::ioctls: the request in hex and the path of the descriptor.
std::string ioctl_line(unsigned long request, const std::string& path);

// The first 4 KiB of a card formatted `kind` ("fat16", "fat32", "exfat", "ntfs" or "ext2";
// anything else: no file system), with every byte of its serial, label or UUID `mark`.
std::string card_head(const std::string& kind, char mark);

// Formats a pointer as the tool's %p does.
std::string pointer_text(const void* p);

} // namespace tarnvel::test
