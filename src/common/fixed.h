// Opening the device's fixed paths ("/dev/mtdblock0", "/proc/OTP"...) under the seam's root.
#pragma once

#include "common/owners.h"

#include <cstddef>
#include <sys/types.h>

namespace tarnvel {

// open(2) of the fixed path `logical` (`mode` for a file it creates); invalid when it does not
// open or its rooted form does not fit a path (errno ENAMETOOLONG).
UniqueFd open_fixed(const char* logical, int flags, mode_t mode = 0);

// fopen(3) of the fixed path `logical`; empty when it does not open (or does not fit).
UniqueFile fopen_fixed(const char* logical, const char* mode);

// Reads from `fd` until `size` bytes are in `buf` or the file ends (as fread does, where a
// read of /proc gives less than asked); the count read. An error ends it like the end.
std::size_t read_full(int fd, void* buf, std::size_t size);

// Drops the kernel's clean page cache ("1" written to /proc/sys/vm/drop_caches), before raw
// probes and after "-m". A failure changes nothing and is not reported.
void drop_page_cache();

} // namespace tarnvel
