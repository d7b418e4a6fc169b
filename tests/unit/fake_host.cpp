#include "fake_host.h"

#include "common/run.h"

#include <gtest/gtest.h>


#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <malloc.h>
#include <sstream>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

// Under AddressSanitizer the heap is the sanitizer's, which mallinfo2 does not see.
#if defined(__SANITIZE_ADDRESS__)
#define TARNVEL_ASAN_HEAP 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TARNVEL_ASAN_HEAP 1
#endif
#endif
#ifdef TARNVEL_ASAN_HEAP
#include <sanitizer/allocator_interface.h>
#endif

namespace tarnvel::test {
namespace {

FakeHost* active = nullptr;

std::string fd_path(int fd)
{
    char link[64];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    char target[4096];
    ssize_t n = ::readlink(link, target, sizeof target - 1);
    return n < 0 ? std::string("?") : std::string(target, static_cast<std::size_t>(n));
}

int fake_run(const char* const argv[], bool quiet, unsigned, int folder)
{
    std::vector<std::string> words;
    std::string line = "run:";
    for (const char* const* a = argv; *a != nullptr; ++a) {
        words.emplace_back(*a);
        line += " ";
        line += *a;
    }
    if (quiet) line += " >/dev/null";
    if (folder != kOwnFolder) line += " (in " + fd_path(folder) + ")";
    active->commands.push_back(line);
    if (!active->on_run) return 0;
    if (folder == kOwnFolder) return active->on_run(words);
    // The program acts in its folder, as the real one would.
    const int own = ::open(".", O_RDONLY | O_DIRECTORY);
    const int status = ::fchdir(folder) == 0 ? active->on_run(words) : -1;
    if (::fchdir(own) != 0) ADD_FAILURE() << "cannot return to the test's folder";
    ::close(own);
    return status;
}

int fake_shell(const char* text)
{
    active->commands.push_back(std::string("sh: ") + text);
    return active->on_shell ? active->on_shell(text) : 0;
}

void fake_sleep(unsigned seconds)
{
    active->sleeps.push_back(seconds);
    if (active->on_sleep) active->on_sleep(seconds);
}

time_t fake_now() { return active->clock; }

int fake_sysinfo(struct sysinfo* info) { return active->on_sysinfo ? active->on_sysinfo(info) : -1; }

int fake_ioctl(int fd, unsigned long request, void* arg)
{
    active->ioctls.push_back(ioctl_line(request, fd_path(fd)));
    return active->on_ioctl ? active->on_ioctl(fd, request, arg) : 0;
}

std::string capture(int fd, FILE* stream, const std::function<void()>& body)
{
    std::fflush(stream);
    char name[] = "/tmp/tarnvel-capture-XXXXXX";
    int tmp = ::mkstemp(name);
    ::unlink(name);
    int saved = ::dup(fd);
    ::dup2(tmp, fd);
    body();
    std::fflush(stream);
    ::dup2(saved, fd);
    ::close(saved);
    std::string out;
    ::lseek(tmp, 0, SEEK_SET);
    char buf[4096];
    ssize_t n = 0;
    while ((n = ::read(tmp, buf, sizeof buf)) > 0) out.append(buf, static_cast<std::size_t>(n));
    ::close(tmp);
    return out;
}

} // namespace

FakeHost::FakeHost()
{
    // In $TMPDIR when set (the fuzz runs put it in memory), else in /tmp.
    const char* tmpdir = std::getenv("TMPDIR");
    std::string tmpl = std::string(tmpdir != nullptr && tmpdir[0] != '\0' ? tmpdir : "/tmp") + "/tarnvel-test-XXXXXX";
    root_ = ::mkdtemp(tmpl.data());
    active = this;
    previous_ = host::install(host::Binding{root_.c_str(), fake_run, fake_shell, fake_sleep, fake_now,
                                            fake_sysinfo, fake_ioctl, 0});
}

FakeHost::~FakeHost()
{
    host::install(previous_);
    active = nullptr;
    if (drop_watch_ >= 0) ::close(drop_watch_);
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
}

void FakeHost::write(const std::string& logical, const std::string& content) const
{
    std::filesystem::path p = path(logical);
    std::filesystem::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << content;
}

std::string FakeHost::read(const std::string& logical) const
{
    std::ifstream in(path(logical), std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void FakeHost::count_drops()
{
    const std::string file = "/proc/sys/vm/drop_caches";
    write(file, "");
    drop_watch_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    // Opens are watched too: the kernel merges identical events in a row, and an open between
    // two closes keeps them apart.
    ASSERT_GE(::inotify_add_watch(drop_watch_, path(file).c_str(), IN_OPEN | IN_CLOSE_WRITE), 0);
}

int FakeHost::drops()
{
    int count = 0;
    alignas(inotify_event) char events[4096];
    ssize_t n = 0;
    while ((n = ::read(drop_watch_, events, sizeof events)) > 0) {
        for (ssize_t at = 0; at < n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(events + at);
            if (event->mask & IN_CLOSE_WRITE) ++count;
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
    return count;
}

void FakeHost::make_dir(const std::string& logical) const { std::filesystem::create_directories(path(logical)); }

bool FakeHost::exists(const std::string& logical) const
{
    struct stat st;
    return ::lstat(path(logical).c_str(), &st) == 0;
}

Argv::Argv(const std::vector<std::string>& words) : words_{"tarnvel"}
{
    words_.insert(words_.end(), words.begin(), words.end());
    pointers_.resize(words_.size() + 1, nullptr);
    std::transform(words_.begin(), words_.end(), pointers_.begin(), [](std::string& w) { return w.data(); });
}

std::string capture_stdout(const std::function<void()>& body) { return capture(STDOUT_FILENO, stdout, body); }

std::string capture_stderr(const std::function<void()>& body) { return capture(STDERR_FILENO, stderr, body); }

int open_descriptors()
{
    int count = 0;
    DIR* d = ::opendir("/proc/self/fd");
    while (::readdir(d) != nullptr) ++count;
    ::closedir(d);
    return count;
}

std::size_t heap_in_use()
{
#ifdef TARNVEL_ASAN_HEAP
    return __sanitizer_get_current_allocated_bytes();
#else
    return mallinfo2().uordblks;
#endif
}

void expect_steady(int times, const std::function<void()>& body, std::size_t heap_slack)
{
    body();
    const int fds = open_descriptors();
    const std::size_t heap = heap_in_use();
    for (int i = 0; i < times; ++i) body();
    EXPECT_EQ(open_descriptors(), fds);
    if (heap_slack == 0)
        EXPECT_EQ(heap_in_use(), heap);
    else
        EXPECT_LE(heap_in_use(), heap + heap_slack);
}

std::string ioctl_line(unsigned long request, const std::string& path)
{
    char hex[32];
    std::snprintf(hex, sizeof hex, "%#lx ", request);
    return hex + path;
}

std::string pointer_text(const void* p)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%p", p);
    return buf;
}

std::string card_head(const std::string& kind, char mark)
{
    std::string head(4096, '\0');
    // Where each format keeps its signature, and its marks (offset and length).
    struct Format {
        const char* kind;
        std::size_t at;
        std::string signature;
        std::size_t marks_at, marks;
    };
    const Format formats[] = {
        {"fat16", 54, "FAT16   ", 39, 15}, {"fat32", 82, "FAT32   ", 67, 15}, {"exfat", 3, "EXFAT   ", 100, 4},
        {"ntfs", 3, "NTFS    ", 72, 8},    {"ext2", 1080, "\x53\xEF", 1128, 16},
    };
    for (const Format& f : formats) {
        if (kind != f.kind) continue;
        head.replace(f.at, f.signature.size(), f.signature);
        head.replace(f.marks_at, f.marks, f.marks, mark);
        if (kind != "ext2") head.replace(510, 2, "\x55\xAA");
    }
    return head;
}

} // namespace tarnvel::test
