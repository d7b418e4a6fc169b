// Whole passes of the storage daemon over any state: the input holds, separated by NULs,
// /proc/partitions, /proc/mounts, the mount-point folders under /var/tmp/usb (one a line) and
// the disks that answer a raw read (names after "sd", one a line). Two passes run, so the
// second starts from what the first left.
#include "fuzz_host.h"
#include "storage_checks.h"

#include <sstream>

namespace {

std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace tarnvel::fuzz;
    tarnvel::test::FakeHost& host = fresh_host();
    std::vector<std::string> parts = words(data, size);
    parts.resize(4);
    host.write("/proc/partitions", parts[0]);
    host.write("/proc/mounts", parts[1]);
    host.make_dir("/var/tmp/usb");
    for (const std::string& name : lines(parts[2])) make_mount_point(host, name);
    for (std::string name : lines(parts[3])) {
        std::replace(name.begin(), name.end(), '/', '_');
        if (name.size() < 200) make_disk(host, name);
    }
    storage_pass(host);
    host.commands.clear();
    storage_pass(host);
    return 0;
}
