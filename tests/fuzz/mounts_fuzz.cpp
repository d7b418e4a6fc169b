// /proc/mounts as the storage daemon reads it: any bytes, any length, against a disk a with
// partitions a1 and a2 and a disk b, all present.
#include "fuzz_host.h"
#include "storage_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace tarnvel::fuzz;
    const tarnvel::test::FakeHost& host = fresh_host();
    host.write("/proc/partitions", "major minor  #blocks  name\n\n"
                                   "   8        0   15558144 sda\n   8        1    7777024 sda1\n"
                                   "   8        2    7777024 sda2\n   8       16    1024000 sdb\n");
    host.write("/proc/mounts", text(data, size));
    for (const char* name : {"sda1", "sda2", "sdb"}) make_mount_point(host, name);
    for (const char* name : {"a", "a1", "a2", "b"}) make_disk(host, name);
    storage_pass(host);
    return 0;
}
