// Bounded text helpers: fit or report, never overflow.
#include "common/text.h"

#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace tarnvel {
namespace {

// A refusal longer than this keeps its first and last halves around "...": a path from the
// disk may be thousands of bytes long.
constexpr std::size_t kShownWhole = 400;
// Room for any refusal formatted whole: two paths and the words around them.
char refusal[2 * PATH_MAX + 256];
// The line as written: each shown byte takes at most four.
char line[sizeof "tarnvel: " + 4 * kShownWhole + sizeof "...\n"];

void append(char* out, std::size_t& used, const char* text, std::size_t n)
{
    std::memcpy(out + used, text, n);
    used += n;
}

// Appends `n` bytes of `text` with each control byte written as an escape (\n, \t, \x1b), so
// that a name from the disk can neither end the line nor speak to the terminal.
void append_escaped(char* out, std::size_t& used, const char* text, std::size_t n)
{
    static constexpr char kHex[] = "0123456789abcdef";
    for (std::size_t i = 0; i < n; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c != 0x7F) {
            out[used++] = static_cast<char>(c);
        } else if (c == '\n') {
            append(out, used, "\\n", 2);
        } else if (c == '\t') {
            append(out, used, "\\t", 2);
        } else {
            const char escape[] = {'\\', 'x', kHex[c >> 4], kHex[c & 0xF]};
            append(out, used, escape, sizeof escape);
        }
    }
}

} // namespace

bool fit_format(std::span<char> out, const char* fmt, ...)
{
    if (out.empty()) return false;
    va_list ap;
    va_start(ap, fmt);
    int n = std::vsnprintf(out.data(), out.size(), fmt, ap);
    va_end(ap);
    if (n < 0 || static_cast<std::size_t>(n) >= out.size()) {
        out[0] = '\0';
        return false;
    }
    return true;
}

bool fit_copy(std::span<char> out, const char* text)
{
    return fit_format(out, "%s", text);
}

bool fit_append(std::span<char> out, const char* text)
{
    std::size_t used = strnlen(out.data(), out.size());
    if (used == out.size()) return false;
    std::size_t add = std::strlen(text);
    if (add >= out.size() - used) return false;
    std::memcpy(out.data() + used, text, add + 1);
    return true;
}

void refuse(const char* fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    const int n = std::vsnprintf(refusal, sizeof refusal, fmt, ap);
    va_end(ap);
    if (n < 0) return;
    const std::size_t length = static_cast<std::size_t>(n) < sizeof refusal ? static_cast<std::size_t>(n) : sizeof refusal - 1;
    std::size_t used = 0;
    append(line, used, "tarnvel: ", 9);
    if (length <= kShownWhole) {
        append_escaped(line, used, refusal, length);
    } else {
        append_escaped(line, used, refusal, kShownWhole / 2);
        append(line, used, "...", 3);
        append_escaped(line, used, refusal + length - kShownWhole / 2, kShownWhole / 2);
    }
    append(line, used, "\n", 1);
    std::fwrite(line, 1, used, stderr);
}

const char* errno_name(int err)
{
    struct Name {
        int err;
        const char* name;
    };
    // What making, removing, writing and appending to files can meet, a card pulled included,
    // and what starting a program meets at the device's limits.
    static constexpr Name names[] = {
        {EPERM, "EPERM"},   {ENOENT, "ENOENT"},   {EINTR, "EINTR"},     {EIO, "EIO"},
        {ENOMEM, "ENOMEM"}, {EACCES, "EACCES"},   {EBUSY, "EBUSY"},     {EEXIST, "EEXIST"},
        {ENOTDIR, "ENOTDIR"}, {EISDIR, "EISDIR"}, {EFBIG, "EFBIG"},     {ENOSPC, "ENOSPC"},
        {EROFS, "EROFS"},   {EMLINK, "EMLINK"},   {ENAMETOOLONG, "ENAMETOOLONG"},
        {ENOTEMPTY, "ENOTEMPTY"}, {ELOOP, "ELOOP"}, {EDQUOT, "EDQUOT"}, {ENODEV, "ENODEV"},
        {EMFILE, "EMFILE"}, {ENFILE, "ENFILE"}, {EAGAIN, "EAGAIN"},
    };
    // A loop, not std::find_if: <algorithm> needs threads, which the device's C library leaves out.
    for (const Name& n : names) {
        // cppcheck-suppress useStlAlgorithm
        if (n.err == err) return n.name;
    }
    static char other[24];
    fit_format(other, "errno %d", err);
    return other;
}

} // namespace tarnvel
