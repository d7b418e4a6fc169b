#pragma once

#include <cstddef>

namespace tarnvel {

// The slot table holds 50 slots; the last one never holds a partition, so every walk over the
// named slots ends inside the table. Surplus partitions are dropped.
inline constexpr std::size_t kSlots = 50;
// Widest partition name the kernel lists (its disk names have at most 31 characters), so every
// name in /proc/partitions is kept whole; wider names cannot be a kernel's and are passed over.
inline constexpr std::size_t kDevNameSize = 32;
// The kernel lists are read a line of at most 511 characters at a time; a mount path is part of
// such a line, so it always fits whole.
inline constexpr std::size_t kLineSize = 512;
inline constexpr std::size_t kMountPathSize = kLineSize;

// One removable partition (or whole disk) and where it is mounted.
struct disk_slot {
    // The name in /proc/partitions after its "sd": a1 for sda1, a for the whole disk sda.
    // Empty: the slot holds no partition.
    char dev_name[kDevNameSize];
    // Its mount point from /proc/mounts, such as /var/tmp/usb/sda1. Empty: not mounted.
    char mount_path[kMountPathSize];
};

// Rebuilt by every pass; after a pass it holds that pass's final state.
extern disk_slot table[kSlots];

// One pass of the storage daemon: the partitions, their mounts and the folders under
// /var/tmp/usb brought into step. Each mounted partition must answer a raw read of
// `probe_size` bytes, straight from its medium, with the file system it held at the last
// pass; what is stale, does not answer or holds another file system goes to usbmount, and the
// disks that are unmounted or absent (letters a to f) have their partition tables re-read.
// Returns the result of that re-read.
int check_mnt(int probe_size);

// Records the mount path of each "/dev/sd" line of /proc/mounts in the slot of its partition;
// a mount whose partition has no slot goes to the first slot without a name.
void Read_Mount_info();

} // namespace tarnvel
