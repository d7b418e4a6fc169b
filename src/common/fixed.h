// Opening the device's fixed paths ("/dev/mtdblock0", "/proc/OTP"...) under the seam's root.
#pragma once

#include "common/owners.h"

#include <sys/types.h>

namespace tarnvel {

// open(2) of the fixed path `logical` (`mode` for a file it creates); invalid when it does not
// open or its rooted form does not fit a path (errno ENAMETOOLONG).
UniqueFd open_fixed(const char* logical, int flags, mode_t mode = 0);

// fopen(3) of the fixed path `logical`; empty when it does not open (or does not fit).
UniqueFile fopen_fixed(const char* logical, const char* mode);

// opendir(3) of the fixed folder `logical`; empty when it does not open (or does not fit).
UniqueDir opendir_fixed(const char* logical);

// The device's page-cache drop, a fixed shell text run before raw probes and after "-m".
inline constexpr const char* kDropCaches = "echo 1 > /proc/sys/vm/drop_caches";

} // namespace tarnvel
