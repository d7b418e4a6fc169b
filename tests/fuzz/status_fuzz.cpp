// The first lines of /proc/<pid>/status as find_pid_by_name reads them: any bytes, any length.
// The input holds the status files of the process folders 1, 2, 3 ... separated by NULs; the
// last one sits in a folder whose name only begins with digits.
#include "fuzz_host.h"
#include "web/process.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const tarnvel::test::FakeHost& host = tarnvel::fuzz::fresh_host();
    const std::vector<std::string> files = tarnvel::fuzz::words(data, size);
    host.make_dir("/proc/self");
    for (std::size_t i = 0; i < files.size(); ++i) {
        const std::string folder = i + 1 == files.size() ? "/proc/42x" : "/proc/" + std::to_string(i + 1);
        host.write(folder + "/status", files[i]);
    }
    if (tarnvel::find_pid_by_name("webs") < 0) std::abort();
    if (tarnvel::find_pid_by_name("init") < 0) std::abort();
    return 0;
}
