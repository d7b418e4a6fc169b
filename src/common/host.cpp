// The real binding of the seam: what the tool does on the device.
#include "common/host.h"

#include "common/run.h"
#include "common/text.h"

#include <sys/ioctl.h>
#include <sys/sysinfo.h>
#include <unistd.h>

namespace tarnvel::host {
namespace {

void real_sleep(unsigned seconds)
{
    // sleep() returns early on a signal; the daemons' delays are meant whole.
    while (seconds != 0) seconds = ::sleep(seconds);
}

time_t real_now() { return ::time(nullptr); }

int real_sysinfo(struct sysinfo* info) { return ::sysinfo(info); }

int real_ioctl(int fd, unsigned long request, void* arg) { return ::ioctl(fd, request, arg); }

Binding current = real();

} // namespace

Binding real()
{
    return Binding{"", run_program, run_shell, real_sleep, real_now, real_sysinfo, real_ioctl, 80};
}

const Binding& get() { return current; }

Binding install(const Binding& binding)
{
    Binding previous = current;
    current = binding;
    return previous;
}

bool fixed_path(std::span<char> out, const char* logical)
{
    if (logical[0] == '\0') return fit_copy(out, "");
    return fit_format(out, "%s%s", current.root, logical);
}

} // namespace tarnvel::host
