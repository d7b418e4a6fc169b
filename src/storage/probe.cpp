// Raw SD/USB block-device probe: a small read below the file system tells whether a medium
// still answers; BLKRRPART makes the kernel re-read a disk's partition table so that newly
// inserted media and their partitions appear.
#include "storage/probe.h"

#include "common/fixed.h"
#include "common/host.h"
#include "common/owners.h"
#include "common/platform.h"
#include "flash/hexdump.h"

#include <unistd.h>

namespace tarnvel {
namespace {

int read_probe(int fd, const char* path, unsigned flags, int size)
{
    if (size <= 0) return -1;
    HeapBuf buf(static_cast<std::size_t>(size));
    if (!buf) return -1;
    drop_page_cache();
    int result = static_cast<int>(::read(fd, buf.get(), buf.size()));
    if ((flags & SD_DUMP) && result == size)
        dump_h(path, buf.get(), nullptr, static_cast<std::uint32_t>(size), DUMP_TRAIL_NEWLINE,
               static_cast<int>(flags >> 8));
    return result;
}

} // namespace

int op_sd(char* list, std::uint8_t mode, unsigned flags, int size)
{
    int result = -1;
    if (list == nullptr) return result;
    char* path = list;
    for (;;) {
        char* end = path;
        while (*end != '\0' && *end != ' ') ++end;
        char* next = end + 1;
        if (*end == ' ' && *next != '\0') {
            *end = '\0';
        } else {
            // The last path; a trailing space is not part of it.
            *end = '\0';
            flags |= SD_LAST;
        }

        UniqueFd fd = open_fixed(path, platform::kRawOpen);
        if (fd.valid()) {
            if (mode == SD_OP_RESCAN)
                result = host::get().ioctl(fd.get(), platform::kBlkRrPart, nullptr);
            else if (mode == SD_OP_READ)
                result = read_probe(fd.get(), path, flags, size);
        }
        if (flags & SD_LAST) return result;
        path = next;
    }
}

int read_sd_part(const char* path)
{
    UniqueFd fd = open_fixed(path, platform::kRawOpen);
    if (!fd.valid()) return -1;
    return host::get().ioctl(fd.get(), platform::kBlkRrPart, nullptr);
}

} // namespace tarnvel
