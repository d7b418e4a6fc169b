// Mount-table reconciliation, the heart of the storage daemon. Each pass brings three views of
// the removable disks into step: the partitions the kernel lists in /proc/partitions, their
// mounts in /proc/mounts and the mount-point folders under /var/tmp/usb. It removes folders no
// mount uses, has usbmount unmount what is stale, no longer answers a small raw read or
// answers it with another card's file system, and asks the kernel to re-read the partition
// tables of the disks that are unmounted or absent, so that newly inserted media appear.
// Mounting itself is done outside this program.
#include "storage/mounts.h"

#include "common/fixed.h"
#include "common/host.h"
#include "common/run.h"
#include "common/text.h"
#include "storage/probe.h"
#include "storage/sweeper.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace tarnvel {

disk_slot table[kSlots];

namespace {

// The one wait of a pass for the outside mounter, when a partition is still unmounted.
constexpr unsigned kMountWait = 45;
constexpr char kDiskPrefix[] = "/dev/sd";
// The last slot never holds a name: walks over the named slots stop there at the latest.
constexpr std::size_t kLastSlot = kSlots - 1;
// A whole disk whose partitions stand for it: only the marker's being there is read.
constexpr char kCovered[] = "covered";

bool named(const disk_slot& slot) { return slot.dev_name[0] != '\0'; }
bool mounted(const disk_slot& slot) { return slot.mount_path[0] != '\0'; }
bool in_use(const disk_slot& slot) { return named(slot) || mounted(slot); }

// The next line of `file`, without its line end, in `line`; false at the end of the file. A
// line longer than the buffer gives its first piece with `whole` false, and the rest of it is
// passed over, so no piece of it is ever taken for a line of its own.
bool next_line(std::FILE* file, std::span<char> line, bool& whole)
{
    std::size_t used = 0;
    whole = true;
    int c = 0;
    while ((c = getc_unlocked(file)) != '\n') {
        if (c == EOF) {
            if (used == 0 && whole) return false;
            break;
        }
        if (used + 1 < line.size())
            line[used++] = static_cast<char>(c);
        else
            whole = false;
    }
    line[used] = '\0';
    return true;
}

// Whether this pass's slots hold every "sd" line of /proc/partitions. When one was dropped,
// a mount that matches no slot may be of that partition, so it is not judged stale.
bool partitions_whole = true;

// The "sd" names of /proc/partitions, in its order, from slot 0. The surplus after 49 names is
// dropped, and so is a name that cannot be the kernel's (empty, holding a space, or wider than
// any disk name) or that comes from a line longer than the buffer: no name is ever cut and
// then probed or rescanned.
void read_partitions()
{
    partitions_whole = true;
    UniqueFile file = fopen_fixed("/proc/partitions", "r");
    if (!file) return;
    char line[kLineSize];
    bool whole = true;
    std::size_t next = 0;
    while (next_line(file.get(), line, whole)) {
        const char* name = std::strstr(line, "sd");
        if (name == nullptr) continue;
        name += 2;
        if (next < kLastSlot && whole && *name != '\0' && std::strchr(name, ' ') == nullptr &&
            fit_copy(table[next].dev_name, name))
            ++next;
        else
            partitions_whole = false;
    }
}

// `mount_path` goes to the slot named `suffix`, or else, as a stale mount, to the first slot
// without a name, where a later stale mount replaces it.
void record_mount(const char* suffix, const char* mount_path)
{
    std::size_t i = 0;
    while (i < kLastSlot && named(table[i]) && std::strcmp(table[i].dev_name, suffix) != 0) ++i;
    if (!named(table[i]) && !partitions_whole) return;
    // Fits: a mount path is part of a line no longer than the field.
    fit_copy(table[i].mount_path, mount_path);
}

// usbmount unmounts the folder after the first "sb/" of `mount_path`; a path without it is
// not one of the device's mount points and is left alone. No shell: the name comes from
// /proc/mounts and is handed over as one argument, whatever it holds.
void unmount(const char* mount_path)
{
    const char* folder = std::strstr(mount_path, "sb/");
    if (folder == nullptr) return;
    const char* const argv[] = {"usbmount", "tarnvel_umount", folder + 3, nullptr};
    if (host::get().run(argv, false, 0, kOwnFolder) == -1)
        refuse("-3: cannot start usbmount for %s: %s", folder + 3, errno_name(errno));
}

// A partition that answered a pass's probe, and the file system it held.
struct Seen {
    char dev_name[kDevNameSize];
    Identity id;
};
using SeenList = std::array<Seen, kSlots>;
// Those of the last pass, each in the slot it had. A card swapped for another between two
// passes answers the next probe with another file system: stale, like a pulled one.
SeenList seen{};

// Whether the partition in slot `i` answers a raw read of `probe_size` bytes with the file
// system that it held when it answered the pass before (`before`), if it did.
bool answers(std::size_t i, int probe_size, const SeenList& before)
{
    const disk_slot& slot = table[i];
    // Holds "/dev/sd" and the widest name, so the path is always whole.
    char device[sizeof kDiskPrefix - 1 + kDevNameSize];
    fit_format(device, "%s%s", kDiskPrefix, slot.dev_name);
    Identity id;
    if (probe_medium(device, probe_size, id) != probe_size) return false;
    for (const Seen& last : before) {
        if (std::strcmp(last.dev_name, slot.dev_name) == 0 && last.id != id) return false;
    }
    seen[i].id = id;
    // Fits: the field is as wide as the slot's.
    fit_copy(seen[i].dev_name, slot.dev_name);
    return true;
}

// A folder stays when the walk over the named slots stops at a mount path: one that holds the
// folder's name, or the stale mount in the first slot without a name.
bool kept_by_slots(const char* name, const void*)
{
    std::size_t i = 0;
    while (i < kLastSlot && named(table[i]) && std::strstr(table[i].mount_path, name) == nullptr) ++i;
    return mounted(table[i]);
}

// Appends "/dev/sdX " to the rescan list unless the list already holds the disk.
void add_rescan(std::span<char> list, char letter)
{
    char disk[] = "/dev/sdX ";
    disk[sizeof kDiskPrefix - 1] = letter;
    disk[sizeof kDiskPrefix] = '\0';
    if (std::strstr(list.data(), disk) != nullptr) return;
    disk[sizeof kDiskPrefix] = ' ';
    // Fits: 49 slots and six letters give at most 55 paths of 9 characters.
    fit_append(list, disk);
}

} // namespace

void Read_Mount_info()
{
    UniqueFile file = fopen_fixed("/proc/mounts", "r");
    if (!file) return;
    char line[kLineSize];
    bool whole = true;
    while (next_line(file.get(), line, whole)) {
        char* suffix = std::strstr(line, kDiskPrefix);
        if (suffix == nullptr) continue;
        suffix += sizeof kDiskPrefix - 1;
        char* space = std::strchr(suffix, ' ');
        // Nothing after the device: no mount path (a kernel always gives one).
        if (space == nullptr) continue;
        *space = '\0';
        char* mount_path = space + 1;
        char* end = std::strchr(mount_path, ' ');
        if (end != nullptr)
            *end = '\0';
        else if (!whole)
            continue; // the path runs on past what was read: never match a cut path
        if (*mount_path == '\0') continue;
        record_mount(suffix, mount_path);
    }
}

int check_mnt(int probe_size)
{
    for (disk_slot& slot : table) {
        slot.dev_name[0] = '\0';
        slot.mount_path[0] = '\0';
    }
    read_partitions();
    Read_Mount_info();

    // One wait per pass, for a partition (a name of two or more characters) still unmounted.
    for (std::size_t i = 0; i < kLastSlot && named(table[i]); ++i) {
        if (table[i].dev_name[1] != '\0' && !mounted(table[i])) {
            host::get().sleep(kMountWait);
            Read_Mount_info();
            break;
        }
    }

    sweep_mount_points(kept_by_slots, nullptr);

    // Only what answers this pass is remembered for the next one: a card mounted again later
    // is taken as it is then.
    const SeenList before = seen;
    seen = SeenList{};
    for (std::size_t i = 0; i < kSlots && in_use(table[i]); ++i) {
        disk_slot& slot = table[i];
        if (!named(slot)) {
            // A mount whose partition the kernel no longer lists.
            unmount(slot.mount_path);
            continue;
        }
        if (mounted(slot) && !answers(i, probe_size, before)) {
            unmount(slot.mount_path);
            slot.mount_path[0] = '\0';
        }
        // A whole disk followed by its partitions is not rescanned for itself. (A named slot
        // is never the last, so the next one is in the table.)
        if (!mounted(slot) && slot.dev_name[1] == '\0' && std::strstr(table[i + 1].dev_name, slot.dev_name) != nullptr)
            fit_copy(slot.mount_path, kCovered);
    }

    char list[kLineSize] = "";
    for (std::size_t i = 0; i < kSlots && in_use(table[i]); ++i) {
        disk_slot& slot = table[i];
        if (!named(slot) || mounted(slot)) continue;
        // Unmounted: its whole disk is rescanned, and the slot keeps only the disk's letter.
        slot.dev_name[1] = '\0';
        add_rescan(list, slot.dev_name[0]);
    }
    for (char letter = 'a'; letter <= 'f'; ++letter) {
        std::size_t i = 0;
        while (i < kLastSlot && named(table[i]) && table[i].dev_name[0] != letter) ++i;
        if (!named(table[i])) add_rescan(list, letter);
    }
    return op_sd(list, SD_OP_RESCAN, 0, 0);
}

} // namespace tarnvel
