// Bounded text helpers: fit or report, never overflow.
#include "common/text.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace tarnvel {

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
    std::fputs("tarnvel: ", stderr);
    va_list ap;
    va_start(ap, fmt);
    std::vfprintf(stderr, fmt, ap);
    va_end(ap);
    std::fputc('\n', stderr);
}

const char* errno_name(int err)
{
    struct Name {
        int err;
        const char* name;
    };
    // What making, removing and appending to files can meet.
    static constexpr Name names[] = {
        {EPERM, "EPERM"},   {ENOENT, "ENOENT"},   {EINTR, "EINTR"},     {EIO, "EIO"},
        {ENOMEM, "ENOMEM"}, {EACCES, "EACCES"},   {EBUSY, "EBUSY"},     {EEXIST, "EEXIST"},
        {ENOTDIR, "ENOTDIR"}, {EISDIR, "EISDIR"}, {EFBIG, "EFBIG"},     {ENOSPC, "ENOSPC"},
        {EROFS, "EROFS"},   {EMLINK, "EMLINK"},   {ENAMETOOLONG, "ENAMETOOLONG"},
        {ENOTEMPTY, "ENOTEMPTY"}, {ELOOP, "ELOOP"}, {EDQUOT, "EDQUOT"},
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
