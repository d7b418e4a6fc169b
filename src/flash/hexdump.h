#pragma once

#include <cstdint>

namespace tarnvel {

// dump_h flags (only the low 8 bits count).
inline constexpr std::uint8_t DUMP_LEAD_NEWLINE = 1;
inline constexpr std::uint8_t DUMP_TRAIL_NEWLINE = 2;

// Prints the bytes from `start` to `end` (or `len` bytes, 32 when `len` is 0, when `end` is
// null) as a hex dump on stdout: a header line, then 16 bytes a row. `skip`, when 16 or more,
// is the distance from one row's first byte to the next row's.
void dump_h(const char* name, const void* start, const void* end, std::uint32_t len, std::uint8_t flags,
            int skip);

} // namespace tarnvel
