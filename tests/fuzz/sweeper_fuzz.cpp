// /proc/mounts as the mount-point sweeper reads it (its first 2048 bytes): any bytes, any
// length, against folders of every kind under /var/tmp/usb. Only folders are ever removed,
// never anything else, and nothing is run.
#include "fuzz_host.h"
#include "storage/sweeper.h"
#include "storage_checks.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace tarnvel::fuzz;
    const tarnvel::test::FakeHost& host = fresh_host();
    host.write("/proc/mounts", text(data, size));
    for (const char* name : {"sda1", "sda", "sdb1", ".hidden", "a_folder_name_longer_than_eighteen"})
        make_mount_point(host, name);
    host.write("/var/tmp/usb/sdc1", "a file, not a folder");
    host.write("/var/tmp/usb/sdd1/kept", "a folder that is not empty");
    tarnvel::sweep_unmounted_folders();
    for (const char* kept : {"/var/tmp/usb/.hidden", "/var/tmp/usb/sdc1", "/var/tmp/usb/sdd1/kept"}) {
        if (!host.exists(kept)) std::abort();
    }
    if (!host.commands.empty()) std::abort();
    return 0;
}
