// /proc/partitions as the storage daemon reads it: any bytes, any length, with the first disk
// mounted and answering.
#include "fuzz_host.h"
#include "storage_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace tarnvel::fuzz;
    const tarnvel::test::FakeHost& host = fresh_host();
    host.write("/proc/partitions", text(data, size));
    host.write("/proc/mounts", mount_line("/dev/sda1", "/var/tmp/usb/sda1"));
    make_mount_point(host, "sda1");
    make_disk(host, "a1");
    storage_pass(host);
    return 0;
}
