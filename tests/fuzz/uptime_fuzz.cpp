// /proc/uptime as "-9 time" reads it into the /proc/OTP record: any bytes, any length. The
// driver gets one whole record, whose text field ends with a zero byte.
#include "device/otp.h"
#include "fake_host.h"
#include "fuzz_host.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const tarnvel::test::FakeHost& host = tarnvel::fuzz::fresh_host();
    host.write("/proc/uptime", tarnvel::fuzz::text(data, size));
    host.write("/proc/OTP", "");
    tarnvel::test::Argv argv({"-9", "time"});
    tarnvel::OTP_cmd(argv.get());
    const std::string record = host.read("/proc/OTP");
    if (record.size() != sizeof(tarnvel::otp_record) || record.back() != '\0' || record.compare(0, 5, "time\0", 5) != 0)
        std::abort();
    return 0;
}
