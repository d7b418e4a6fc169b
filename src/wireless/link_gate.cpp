// Wireless link gate: a command of the device's scripts runs only while none of the named
// wireless interfaces has an established link, as the driver's BSS information tells it.
#include "wireless/link_gate.h"

#include "common/host.h"
#include "common/owners.h"
#include "common/platform.h"
#include "common/text.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <sys/socket.h>

namespace tarnvel {
namespace {

// The driver's BSS information; its first byte is the link state.
constexpr unsigned short kBssInfoSize = 44;
constexpr unsigned char kLinkEstablished = 4;
// The command line built from the words.
constexpr std::size_t kCommandSize = 500;

// The delay as the C library's decimal conversion reads it (leading blanks, a sign, digits),
// held to the range of an int as on the 32-bit device.
long delay_seconds(const char* text)
{
    // strtoll, as everywhere in the tool: one number parser in the device's binary.
    const long long value = std::strtoll(text, nullptr, 10);
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<long>(value);
}

// True when the driver of `ifname` reports an established link.
bool has_link(int skfd, const char* ifname)
{
    struct iwreq wrq = {};
    if (iw_get_ext(skfd, ifname, platform::kSiocGIwName, &wrq) < 0) return false;
    unsigned char bss[kBssInfoSize] = {};
    wrq = {};
    wrq.u.data.pointer = bss;
    wrq.u.data.length = kBssInfoSize;
    if (iw_get_ext(skfd, ifname, platform::kSiocGIwBssInfo, &wrq) < 0) return false;
    return bss[0] == kLinkEstablished;
}

// True when one of the interfaces of `list` has a link. The list is split in place at its
// first "_"; everything after it, further "_" included, is the second name.
bool any_link(char* list)
{
    UniqueFd skfd(::socket(AF_INET, SOCK_DGRAM, 0));
    if (!skfd.valid()) return false;
    char* second = std::strchr(list, '_');
    if (second != nullptr) *second++ = '\0';
    if (has_link(skfd.get(), list)) return true;
    return second != nullptr && has_link(skfd.get(), second);
}

} // namespace

int iw_get_ext(int skfd, const char* ifname, unsigned long request, struct iwreq* pwrq)
{
    // A name of 16 bytes or more cannot be terminated inside the field; the kernel would cut
    // it and could answer for another interface.
    if (ifname[0] == '\0' || !fit_copy(pwrq->ifr_name, ifname)) {
        errno = ENODEV;
        return -1;
    }
    return host::get().ioctl(skfd, request, pwrq);
}

void getWlBssInfo(char** argv)
{
    if (argv[2] == nullptr || argv[3] == nullptr) return;
    long delay = delay_seconds(argv[3]);
    // A negative delay would be a pause of many years as an unsigned count: none at all.
    if (delay > 0) host::get().sleep(static_cast<unsigned>(delay));
    if (any_link(argv[2])) return;

    HeapBuf command(kCommandSize);
    if (!command) return;
    command.get()[0] = '\0';
    const std::span<char> text(command.get(), command.size());
    for (char** word = argv + 4; *word != nullptr; ++word) {
        if (!fit_append(text, *word) || !fit_append(text, " ")) {
            refuse("-1: the command does not fit %zu bytes; not run", kCommandSize);
            return;
        }
    }
    host::get().shell(command.get());
}

} // namespace tarnvel
