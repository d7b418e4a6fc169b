// The /proc/OTP command channel: one 60-byte record per run, a command word and an argument
// text taken from the command line ("set", "chk") or from /proc/uptime ("time"). The driver
// reads the record whole, so neither text may spill into the other or past the record.
#include "device/otp.h"

#include "common/fixed.h"
#include "common/platform.h"
#include "common/text.h"

#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace tarnvel {
namespace {

// The value of a KEY=VALUE argument: the text after its first "=", or "None" without one.
const char* value_of(const char* arg)
{
    const char* eq = std::strchr(arg, '=');
    return eq != nullptr ? eq + 1 : "None";
}

// The first line of /proc/uptime, cut to the field as a line read cuts it; empty when
// /proc/uptime does not open.
void uptime_text(otp_record& record)
{
    UniqueFile uptime = fopen_fixed("/proc/uptime", "r");
    if (uptime && std::fgets(record.text, sizeof record.text, uptime.get()) == nullptr) record.text[0] = '\0';
}

// The argument text for the record's word. False when the form lacks an argument (nothing is
// written, nothing said) or the text does not fit (refused).
bool fill_text(otp_record& record, char** argv)
{
    if (std::strcmp(record.word, "set") == 0) {
        if (argv[3] == nullptr || argv[4] == nullptr) return false;
        if (fit_format(record.text, "%s %s", value_of(argv[3]), argv[4])) return true;
    } else if (std::strcmp(record.word, "chk") == 0) {
        if (argv[3] == nullptr) return false;
        if (fit_copy(record.text, value_of(argv[3]))) return true;
    } else {
        if (std::strcmp(record.word, "time") == 0) uptime_text(record);
        return true;
    }
    refuse("-9: the argument text is longer than %zu characters", sizeof record.text - 1);
    return false;
}

} // namespace

int OTP_cmd(char** argv)
{
    if (argv[2] == nullptr) return 1;
    // Opened before the arguments are looked at, as the driver has always seen it.
    UniqueFd otp = open_fixed("/proc/OTP", platform::kReadWriteNonBlock);
    if (!otp.valid()) {
        std::printf("/proc open error\n");
        return 1;
    }
    otp_record record{};
    if (!fit_copy(record.word, argv[2])) {
        refuse("-9: a command word of %zu characters, at most %zu fit", std::strlen(argv[2]), sizeof record.word - 1);
        return 1;
    }
    if (!fill_text(record, argv)) return 1;
    if (::write(otp.get(), &record, sizeof record) <= 0) std::printf("write error\n");
    return 1;
}

} // namespace tarnvel
