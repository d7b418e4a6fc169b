// Fixed paths opened under the seam's root.
#include "common/fixed.h"

#include "common/host.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace tarnvel {

UniqueFd open_fixed(const char* logical, int flags, mode_t mode)
{
    char rooted[PATH_MAX];
    if (!host::fixed_path(rooted, logical)) {
        errno = ENAMETOOLONG;
        return UniqueFd();
    }
    return UniqueFd(::open(rooted, flags, mode));
}

UniqueFile fopen_fixed(const char* logical, const char* mode)
{
    char rooted[PATH_MAX];
    if (!host::fixed_path(rooted, logical)) {
        errno = ENAMETOOLONG;
        return UniqueFile();
    }
    return UniqueFile(std::fopen(rooted, mode));
}

std::size_t read_full(int fd, void* buf, std::size_t size)
{
    std::size_t done = 0;
    while (done < size) {
        const ssize_t got = ::read(fd, static_cast<char*>(buf) + done, size - done);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        done += static_cast<std::size_t>(got);
    }
    return done;
}

void drop_page_cache()
{
    // What "echo 1 >" did, without a shell: one write into the truncated file.
    UniqueFd fd = open_fixed("/proc/sys/vm/drop_caches", O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd.valid()) (void)::write(fd.get(), "1", 1);
}

} // namespace tarnvel
