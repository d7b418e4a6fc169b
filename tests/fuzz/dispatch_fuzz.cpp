// Any argument vector, of any length, through the dispatcher, on the stand-in device. The input
// is the vector after the program name, its words separated by NULs.
#include "dispatch/dispatch.h"
#include "fuzz_host.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace {

// The daemons loop for ever; each has a fuzz target of its own that runs its cycles.
constexpr std::array<std::string_view, 4> kDaemons = {"-3", "-c", "-f", "-j"};
// Options whose argv[2] is a folder of the real file system: kept inside the stand-in's.
constexpr std::array<std::string_view, 3> kFolderOptions = {"-b", "-e", "-m"};

bool one_of(std::string_view word, const auto& names)
{
    return std::find(names.begin(), names.end(), word) != names.end();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const tarnvel::test::FakeHost& host = tarnvel::fuzz::fresh_host();
    std::vector<std::string> args = tarnvel::fuzz::words(data, size);
    if (!args.empty() && one_of(args[0], kDaemons)) return 0;
    // A little of everything the options read, so that each gets past its first open.
    host.write("/dev/sda", std::string(512, 'a'));
    host.write("/dev/sdb1", "b");
    host.write("/dev/mtdblock0", std::string(0x10000, 'm'));
    host.write("/dev/mtdblock2", std::string(0x10000, 'b'));
    host.write("/disk/DCIM/p.jpg", "jpeg");
    host.write("/disk/DCIM/.thumbnail/gone.jpg", "jpeg");
    host.write("/var/ps", "  PID USER       VSZ STAT COMMAND\n  321 root      2345 S    webs\n");
    host.write("/var/run/webs.pid", "321\n");
    host.write("/var/tmp/usb/sda1/x.exe", std::string(3000, 'x'));
    host.write("/proc/7/status", "Name:\twebs\n");
    host.write("/proc/uptime", "12345.67 23456.78\n");
    host.write("/proc/OTP", "");
    host.write("/var/wifi_channel", " 36\n");
    if (args.size() >= 2 && one_of(args[0], kFolderOptions)) args[1] = tarnvel::fuzz::confined(host, "/disk", args[1]);
    tarnvel::test::Argv argv(args);
    tarnvel::dispatch(argv.get());
    return 0;
}
