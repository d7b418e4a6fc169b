// Stale mount-point sweeper: keeps /var/tmp/usb free of leftover folders. Every 3 s it reads
// the kernel's mount list afresh and removes each empty folder under the root whose path the
// list does not name. It works from the raw mount text alone and shares nothing with the
// storage daemon, which sweeps the same root by its own rule and may run at the same time.
#include "storage/sweeper.h"

#include "common/entries.h"
#include "common/fixed.h"
#include "common/host.h"
#include "common/owners.h"
#include "common/text.h"

#include <cstring>
#include <climits>
#include <fcntl.h>
#include <unistd.h>

namespace tarnvel {
namespace {

// Only this much of /proc/mounts is looked at per cycle; mounts listed after it are not seen,
// and their folders survive only because a mount point cannot be removed.
constexpr std::size_t kMountTextSize = 2048;
constexpr unsigned kSweepPause = 3;

// A folder stays while its whole path, "/var/tmp/usb/NAME", occurs in the mount text. The path
// buffer holds the longest name a folder can have, so every name is tested whole.
bool named_in_mount_text(const char* name, const void* context)
{
    char path[sizeof kMountRoot + 1 + NAME_MAX];
    // Cannot fail with the buffer above; a path that did not fit would never be tested cut.
    if (!fit_format(path, "%s/%s", kMountRoot, name)) return true;
    return std::strstr(static_cast<const char*>(context), path) != nullptr;
}

} // namespace

void sweep_mount_points(bool (*keep)(const char* name, const void* context), const void* context)
{
    UniqueFd dir = open_fixed(kMountRoot, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (!dir.valid()) return;
    FolderEntries entries(dir.get());
    while (const dirent64* entry = entries.next()) {
        if (entry->d_name[0] == '.' || entry->d_type != DT_DIR) continue;
        // Removed by its name inside the listed folder: exactly the entry that was judged.
        if (!keep(entry->d_name, context)) ::unlinkat(dir.get(), entry->d_name, AT_REMOVEDIR);
    }
}

void sweep_unmounted_folders()
{
    UniqueFd mounts = open_fixed("/proc/mounts", O_RDONLY | O_CLOEXEC);
    if (!mounts.valid()) return;
    char text[kMountTextSize + 1];
    const std::size_t got = read_full(mounts.get(), text, kMountTextSize);
    text[got] = '\0';
    if (got == 0) return;
    sweep_mount_points(named_in_mount_text, text);
}

void chk_dir(char**)
{
    for (;;) {
        sweep_unmounted_folders();
        host::get().sleep(kSweepPause);
    }
}

} // namespace tarnvel
