// Folder entries from the kernel, a buffer at a time.
#include "common/entries.h"

#include <sys/types.h>

#if defined(__UCLIBC__)
// uClibc-ng has the call under its own name only, undeclared.
extern "C" ssize_t __getdents64(int fd, char* buf, std::size_t size); // NOLINT(bugprone-reserved-identifier)
#define getdents64 __getdents64
#endif

namespace tarnvel {

const dirent64* FolderEntries::next()
{
    if (at_ >= end_) {
        const ssize_t got = ::getdents64(fd_, records_, sizeof records_);
        if (got <= 0) return nullptr;
        at_ = 0;
        end_ = static_cast<std::size_t>(got);
    }
    const auto* entry = reinterpret_cast<const dirent64*>(records_ + at_);
    at_ += entry->d_reclen;
    return entry;
}

} // namespace tarnvel
