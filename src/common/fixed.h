// Opening the device's fixed paths ("/dev/mtdblock0", "/proc/OTP"...) under the seam's root.
#pragma once

#include "common/owners.h"

namespace tarnvel {

// open(2) of the fixed path `logical`; invalid when it does not open or its rooted form does
// not fit a path.
UniqueFd open_fixed(const char* logical, int flags);

// fopen(3) of the fixed path `logical`; empty when it does not open.
UniqueFile fopen_fixed(const char* logical, const char* mode);

} // namespace tarnvel
