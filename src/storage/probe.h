#pragma once

#include <cstdint>

namespace tarnvel {

// op_sd modes (only the low byte counts).
inline constexpr std::uint8_t SD_OP_READ = 0;
inline constexpr std::uint8_t SD_OP_RESCAN = 1;

// op_sd flags. Bits 8 to 31 carry the dump's row distance (skip).
inline constexpr unsigned SD_LAST = 1;
inline constexpr unsigned SD_DUMP = 2;

// Walks the space-separated device list (split in place) and, per path that opens, reads
// `size` raw bytes after dropping the page cache (SD_OP_READ) or has the kernel re-read the
// partition table (SD_OP_RESCAN). Returns the result of the last path that opened, or -1.
// A null list opens nothing.
int op_sd(char* list, std::uint8_t mode, unsigned flags, int size);

// BLKRRPART on one device: -1 when it does not open, else the ioctl's result.
int read_sd_part(const char* path);

} // namespace tarnvel
