#pragma once

namespace tarnvel {

// The mount-point root, where each mounted partition has a folder named after it.
inline constexpr char kMountRoot[] = "/var/tmp/usb";

// Lists the mount-point root and removes each folder in it that `keep` does not claim by its
// name (an empty-folder removal: a folder that holds files or is still a mount point stays).
// Names beginning with a dot and entries that are not folders are never touched.
void sweep_mount_points(bool (*keep)(const char* name, const void* context), const void* context);

// One cycle of the sweeper: the first 2048 bytes of /proc/mounts, then every folder whose
// full path does not occur in them is removed.
void sweep_unmounted_folders();

// "-f": the sweeper, one cycle every 3 s, forever. The argument vector is not used.
[[noreturn]] void chk_dir(char** argv);

} // namespace tarnvel
