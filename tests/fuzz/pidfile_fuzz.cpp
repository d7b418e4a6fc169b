// The web server's pid file /var/run/webs.pid as "-o" reads it: any bytes, any length. It
// either runs the three restart commands, in order, or nothing at all.
#include "fuzz_host.h"
#include "web/control.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    tarnvel::test::FakeHost& host = tarnvel::fuzz::fresh_host();
    host.write("/var/run/webs.pid", tarnvel::fuzz::text(data, size));
    tarnvel::reinit_webs();
    const std::vector<std::string> restart = {"sh: killall webs", "sh: rm -rf /var/run/webs.pid", "sh: webs&"};
    if (!host.commands.empty() && host.commands != restart) std::abort();
    return 0;
}
