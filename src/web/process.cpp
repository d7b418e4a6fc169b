// Process lookup by name, two ways: the system's own listing (ps into /var/ps, then the first
// line holding a text), and the kernel's per-process folders under /proc (the command name
// compared whole). The watchdogs use them to learn which webs to kill and whether one runs.
#include "web/process.h"

#include "common/entries.h"
#include "common/fixed.h"
#include "common/host.h"
#include "common/owners.h"
#include "common/text.h"

#include <cstdio>
#include <cstring>
#include <climits>
#include <fcntl.h>
#include <unistd.h>

namespace tarnvel {
namespace {

// The listing is read in pieces of at most 149 characters (a newline ends a piece early).
constexpr std::size_t kListingPiece = 150;
// A status file's first line is read with this limit, so at most 48 characters count.
constexpr std::size_t kStatusLine = 49;
// Room for "PID/status" relative to /proc.
constexpr std::size_t kStatusPath = 56;

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// The decimal number at the start of `text`: 0 when it does not begin with a digit, and 0
// when it is too large to be a process id (such a word names no process).
int leading_number(const char* text)
{
    long long value = 0;
    for (; is_digit(*text); ++text) {
        value = value * 10 + (*text - '0');
        if (value > INT_MAX) return 0;
    }
    return static_cast<int>(value);
}

// The process id a listing piece begins with: its first space-separated word as a number.
int piece_pid(const char* piece)
{
    while (*piece == ' ') ++piece;
    return leading_number(piece);
}

// Whether the first line of a status file names the command `name`. The kernel writes "Name:",
// a tab and the command name up to the line end, spaces and tabs included: "webs x" and
// "webs\t" are not webs, nor is a name that runs on past the part read (no line end there).
bool names_command(char* line, const char* name)
{
    constexpr char kLabel[] = "Name:\t";
    char* end = std::strchr(line, '\n');
    if (end == nullptr || std::strncmp(line, kLabel, sizeof kLabel - 1) != 0) return false;
    *end = '\0';
    return *name != '\0' && std::strcmp(line + sizeof kLabel - 1, name) == 0;
}

// Whether the process folder `entry` of /proc (open as `proc`) runs a command named `name`.
bool runs_command(int proc, const char* entry, const char* name)
{
    char status[kStatusPath];
    if (!fit_format(status, "%s/status", entry)) return false;
    UniqueFd fd(::openat(proc, status, O_RDONLY | O_CLOEXEC));
    if (!fd.valid()) return false; // the process ended meanwhile
    char line[kStatusLine];
    ssize_t got = ::read(fd.get(), line, sizeof line - 1);
    if (got <= 0) return false;
    line[got] = '\0';
    return names_command(line, name);
}

} // namespace

int find_pid(const char* pattern)
{
    host::get().shell("ps>/var/ps");
    UniqueFile listing = fopen_fixed("/var/ps", "re");
    if (!listing) return 0;
    HeapBuf piece(kListingPiece);
    if (!piece) return 0;
    while (std::fgets(piece.get(), static_cast<int>(piece.size()), listing.get()) != nullptr) {
        if (std::strstr(piece.get(), pattern) == nullptr) continue;
        // A header line or the continuation of a long line begins with no number: passed over.
        int pid = piece_pid(piece.get());
        if (pid != 0) return pid;
    }
    return 0;
}

int find_pid_by_name(const char* name)
{
    UniqueFd proc = open_fixed("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (!proc.valid()) {
        std::printf("Cannot open /proc");
        return 0;
    }
    FolderEntries entries(proc.get());
    while (const dirent64* entry = entries.next()) {
        // Only process folders: self, net and the like are never opened.
        if (!is_digit(entry->d_name[0])) continue;
        if (runs_command(proc.get(), entry->d_name, name)) return leading_number(entry->d_name);
    }
    return std::strcmp(name, "init") == 0 ? 1 : 0;
}

} // namespace tarnvel
