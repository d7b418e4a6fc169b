// Appending small records to the device's files under /var: the channel list and the
// default-settings file only ever grow by whole records.
#include "wireless/append_file.h"

#include "common/fixed.h"
#include "common/owners.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnvel {

Append append_whole(const char* logical, const char* data, std::size_t len)
{
    UniqueFd fd = open_fixed(logical, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (!fd.valid()) return Append::not_opened;
    struct stat before;
    if (::fstat(fd.get(), &before) != 0) return Append::not_written;
    std::size_t done = 0;
    while (done < len) {
        ssize_t n = ::write(fd.get(), data + done, len - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            const int write_error = n == 0 ? ENOSPC : errno;
            // Take back the part that went in; should even that fail, the write's error is
            // still the one to report.
            if (done > 0) {
                [[maybe_unused]] int undone = ::ftruncate(fd.get(), before.st_size);
            }
            errno = write_error;
            return Append::not_written;
        }
        done += static_cast<std::size_t>(n);
    }
    return Append::done;
}

} // namespace tarnvel
