// Raw SD/USB block-device probe: a small read below the file system, straight from the
// medium, tells whether a medium still answers and which file system it holds; BLKRRPART
// makes the kernel re-read a disk's partition table so that newly inserted media and their
// partitions appear.
#include "storage/probe.h"

#include "common/fixed.h"
#include "common/host.h"
#include "common/owners.h"
#include "common/platform.h"
#include "flash/hexdump.h"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <unistd.h>

namespace tarnvel {
namespace {

// A read past the page cache must cover whole logical blocks, into a buffer aligned to them.
// Disks have logical blocks of 512 to 4096 bytes: whole 4 KiB from the start, into a buffer
// aligned to 4 KiB, suit every disk, and hold the boot sector and the ext2 superblock.
constexpr std::size_t kDirectUnit = 4096;
alignas(kDirectUnit) unsigned char head[kDirectUnit];

// Where a file system keeps its signature, and the marks that tell one of its kind from
// another. The boot sector's kinds come first: a mounted FAT rewrites its allocation table,
// which may lie where an ext2 superblock would, but never its boot sector; ext2 never writes
// the 1024 bytes in front of its superblock.
struct Kind {
    std::size_t at;
    std::string_view signature;
    std::size_t marks_at;
    std::size_t marks;
};
constexpr Kind kKinds[] = {
    {3, "EXFAT   ", 100, 4},         // exFAT: volume serial number
    {3, "NTFS    ", 72, 8},          // NTFS: volume serial number
    {82, "FAT32   ", 67, 15},        // FAT32: volume serial number and label
    {54, "FAT", 39, 15},             // FAT12 and FAT16: volume serial number and label
    {1080, "\x53\xEF", 1128, 16},    // ext2/3/4: the superblock's magic; the file system's UUID
};

// Reads `size` bytes of the open device `fd` straight from its medium, from its first
// kDirectUnit bytes (no caller asks for more); `id`, when given, gets their identity. The
// result is what a read of `size` bytes would have given.
int read_medium(int fd, const char* path, unsigned flags, int size, Identity* id)
{
    if (size <= 0 || static_cast<std::size_t>(size) > sizeof head) return -1;
    drop_page_cache();
    const ssize_t got = ::read(fd, head, sizeof head);
    if (id != nullptr) *id = identify(head, got > 0 ? static_cast<std::size_t>(got) : 0);
    const int result = got < size ? static_cast<int>(got) : size;
    if ((flags & SD_DUMP) && result == size)
        dump_h(path, head, nullptr, static_cast<std::uint32_t>(size), DUMP_TRAIL_NEWLINE,
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

        UniqueFd fd = open_fixed(path, mode == SD_OP_READ ? platform::kDirectOpen : platform::kRawOpen);
        if (fd.valid()) {
            if (mode == SD_OP_RESCAN)
                result = host::get().ioctl(fd.get(), platform::kBlkRrPart, nullptr);
            else if (mode == SD_OP_READ)
                result = read_medium(fd.get(), path, flags, size, nullptr);
        }
        if (flags & SD_LAST) return result;
        path = next;
    }
}

int probe_medium(const char* path, int size, Identity& id)
{
    id = Identity{};
    UniqueFd fd = open_fixed(path, platform::kDirectOpen);
    return fd.valid() ? read_medium(fd.get(), path, 0, size, &id) : -1;
}

Identity identify(const unsigned char* head, std::size_t len)
{
    Identity id{};
    for (std::size_t kind = 0; kind < std::size(kKinds); ++kind) {
        const Kind& k = kKinds[kind];
        if (len < std::max(k.at + k.signature.size(), k.marks_at + k.marks) ||
            std::memcmp(head + k.at, k.signature.data(), k.signature.size()) != 0)
            continue;
        id[0] = static_cast<unsigned char>(kind + 1);
        std::memcpy(id.data() + 1, head + k.marks_at, k.marks);
        break;
    }
    return id;
}

int read_sd_part(const char* path)
{
    UniqueFd fd = open_fixed(path, platform::kRawOpen);
    if (!fd.valid()) return -1;
    return host::get().ioctl(fd.get(), platform::kBlkRrPart, nullptr);
}

} // namespace tarnvel
