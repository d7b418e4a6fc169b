#pragma once

struct iwreq;

namespace tarnvel {

// Issues the wireless request `request` for the interface `ifname` on the socket `skfd`, with
// the name copied into the record's 16-byte name field. A name that is empty or does not fit
// that field names no interface: -1 (ENODEV) without asking the driver. Otherwise the ioctl's
// result: negative on failure.
int iw_get_ext(int skfd, const char* ifname, unsigned long request, struct iwreq* pwrq);

// "-1 IFACES DELAY WORD...": after DELAY seconds, asks the driver of each interface of IFACES
// (one name, or two joined at the first "_") for its link state; unless one of them has an
// established link, the words from argv[4] on, each followed by one space, run as a shell
// command line. Without argv[2] or argv[3] nothing happens.
void getWlBssInfo(char** argv);

} // namespace tarnvel
