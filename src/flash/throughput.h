#pragma once

#include <cstdint>

namespace tarnvel {

// read_mtd_part flags.
inline constexpr unsigned READ_DUMP = 1;  // hex dump of the start of each block read
inline constexpr unsigned READ_ONCE = 2;  // stop after the first read
inline constexpr unsigned READ_STATS = 4; // opening, per-read and closing statistics lines

// Reads `path` in blocks of `len` bytes (1024 when 0) and prints per block the bytes read,
// the running total, the seconds taken and the free memory. A number in argv[2] (argv may be
// null) overrides the block length; a negative one asks for nearly all free memory. Returns 0.
int read_mtd_part(const char* path, std::uint32_t len, unsigned flags, char** argv);

// Reads `path` in 1024-byte pieces through stdio, printing the running count after each.
// Returns the number of bytes read.
long long read_file(const char* path);

// Asks the flash block device `path` for its MTD information, then has its buffers flushed.
void flash(const char* path);

} // namespace tarnvel
