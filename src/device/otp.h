#pragma once

#include <cstddef>

namespace tarnvel {

// The command record that the /proc/OTP driver reads: a command word and its argument text,
// each ended by a zero byte and zero-filled after it.
inline constexpr std::size_t kOtpWordSize = 10;
inline constexpr std::size_t kOtpTextSize = 50;

struct otp_record {
    char word[kOtpWordSize];
    char text[kOtpTextSize];
};
static_assert(sizeof(otp_record) == 60, "the /proc/OTP command record");

// Writes one record to /proc/OTP: argv[2] is the command word ("set", "chk", "time" or any
// other), argv[3] and argv[4] its arguments. Returns 1.
int OTP_cmd(char** argv);

} // namespace tarnvel
