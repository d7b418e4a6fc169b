#include "storage_checks.h"

#include "storage/mounts.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>

namespace tarnvel::fuzz {
namespace {

[[noreturn]] void breach(const char* what, const std::string& detail)
{
    std::fprintf(stderr, "storage pass: %s: %s\n", what, detail.c_str());
    std::abort();
}

} // namespace

std::string mount_line(const std::string& device, const std::string& path)
{
    return device + " " + path + " vfat rw,relatime 0 0\n";
}

void make_mount_point(const test::FakeHost& host, std::string name)
{
    std::replace(name.begin(), name.end(), '/', '_');
    if (name.empty() || name == "." || name == "..") return;
    if (name.size() > NAME_MAX) name.resize(NAME_MAX);
    host.make_dir("/var/tmp/usb/" + name);
}

void make_disk(const test::FakeHost& host, const std::string& name)
{
    host.write("/dev/sd" + name, std::string(512, 'd'));
}

void storage_pass(const test::FakeHost& host)
{
    check_mnt(128);
    if (table[kSlots - 1].dev_name[0] != '\0') breach("last slot named", table[kSlots - 1].dev_name);
    bool ended = false;
    for (const disk_slot& slot : table) {
        if (slot.dev_name[0] == '\0')
            ended = true;
        else if (ended)
            breach("named slot after the end", slot.dev_name);
    }
    for (const std::string& command : host.commands) {
        if (command.rfind("run: usbmount tarnvel_umount ", 0) != 0)
            breach("unexpected command", command);
    }
}

} // namespace tarnvel::fuzz
