// What the storage fuzz targets share: the stand-in device's disks and mount points, and the
// checks every pass of the storage daemon must pass whatever the kernel lists said.
#pragma once

#include "fake_host.h"

#include <string>

namespace tarnvel::fuzz {

// Lines of /proc/mounts as the kernel writes them.
std::string mount_line(const std::string& device, const std::string& path);

// Makes the mount-point folder NAME under /var/tmp/usb (any bytes but '/'; ".", ".." and the
// empty name are passed over, as no folder can have them).
void make_mount_point(const test::FakeHost& host, std::string name);

// Makes /dev/sdNAME a stand-in disk that answers the daemon's 128-byte probe.
void make_disk(const test::FakeHost& host, const std::string& name);

// One pass of the storage daemon, then its checks: the slot table keeps its last slot free
// and its named slots together from slot 0, and the pass ran no program but usbmount (its
// probes drop the page cache without one). Any breach aborts, so the fuzzer reports it.
void storage_pass(const test::FakeHost& host);

} // namespace tarnvel::fuzz
