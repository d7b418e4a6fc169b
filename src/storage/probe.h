#pragma once

#include <array>
#include <cstdint>

namespace tarnvel {

// op_sd modes (only the low byte counts).
inline constexpr std::uint8_t SD_OP_READ = 0;
inline constexpr std::uint8_t SD_OP_RESCAN = 1;

// op_sd flags. Bits 8 to 31 carry the dump's row distance (skip).
inline constexpr unsigned SD_LAST = 1;
inline constexpr unsigned SD_DUMP = 2;

// Walks the space-separated device list (split in place) and, per path that opens, reads
// `size` raw bytes straight from the medium after dropping the page cache (SD_OP_READ) or has
// the kernel re-read the partition table (SD_OP_RESCAN). Returns the result of the last path
// that opened, or -1. A null list opens nothing.
int op_sd(char* list, std::uint8_t mode, unsigned flags, int size);

// What tells the file system on a medium from another one: its kind, and the marks that its
// format wrote once and that it never rewrites while mounted (the ext2/3/4 UUID, the FAT
// volume serial and label, the exFAT and NTFS serials). All zero when no file system known
// to the device is there.
using Identity = std::array<unsigned char, 17>;

// The presence probe of one device, op_sd's read of `size` bytes with SD_LAST; `id` gets the
// identity of what it read (all zero when the read failed).
int probe_medium(const char* path, int size, Identity& id);

// The identity of a medium whose first `len` bytes are `head`.
Identity identify(const unsigned char* head, std::size_t len);

// BLKRRPART on one device: -1 when it does not open, else the ioctl's result.
int read_sd_part(const char* path);

} // namespace tarnvel
