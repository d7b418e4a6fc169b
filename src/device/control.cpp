// Device control: the reboot, and the one-time start of the two daemons that keep the storage
// mounted and the web server answering. Both daemons are further runs of this tool.
#include "device/control.h"

#include "common/host.h"

#include <cstdio>

namespace tarnvel {
namespace {

constexpr unsigned kRebootDelay = 3;

} // namespace

int sysrbt()
{
    host::get().sleep(kRebootDelay);
    return host::get().shell("reboot");
}

int onetime_init()
{
    std::printf("===onetime_init===\n");
    // Not waited for and not checked: a second call starts a second pair.
    host::get().shell("tarnvel -3&");
    return host::get().shell("tarnvel -c&");
}

} // namespace tarnvel
