// Orphan thumbnails: a thumbnail whose photo or document is gone from beside its
// ".thumbnail" folder (deleted, or given another name) is removed, so the thumbnail folders
// follow the disk. Only names and the presence of files are read; folders stay. The walk
// enters only real ".thumbnail" folders and removes names from the folder it holds open,
// so nothing off the disk can be removed through a link.
#include "thumbnail/cleanup.h"

#include "common/text.h"
#include "thumbnail/classify.h"
#include "thumbnail/walk.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnvel {
namespace {

using thumbnail::Folder;
using thumbnail::join;
using thumbnail::Walk;

constexpr char kThumbDir[] = "/.thumbnail";
constexpr std::size_t kThumbDirLen = sizeof kThumbDir - 1;

// Gone for certain: a stat that fails for another reason (an I/O error of the medium) is no
// proof, and a thumbnail is not removed on it. `at` is the folder `path` is relative to.
bool gone(int at, const char* path)
{
    struct stat st;
    return ::fstatat(at, path, &st, 0) != 0 && (errno == ENOENT || errno == ENOTDIR);
}

void drop_orphan(const Walk& walk, Folder& here, const char* name, int)
{
    const char* folder = here.path;
    const std::size_t len = std::strlen(folder);
    if (len < kThumbDirLen || std::strcmp(folder + len - kThumbDirLen, kThumbDir) != 0) return;

    HeapBuf stem = thumbnail::stem_of(name);
    if (!stem) return;
    // The sources stand in the folder the walk came from, or, for a thumbnail folder the run
    // was started at, in the folder its path names.
    const int at = here.parent != nullptr ? here.parent->fd : AT_FDCWD;
    HeapBuf parent = join({here.parent != nullptr ? "" : folder});
    if (!parent) return;
    if (here.parent == nullptr) {
        parent.get()[len - kThumbDirLen] = '/';
        parent.get()[len - kThumbDirLen + 1] = '\0';
    }
    HeapBuf source = join({parent.get(), name});
    HeapBuf twin = join({parent.get(), stem.get(), ".PDF"});
    if (!source || !twin) return;

    // Below the folder the run was given, documents always count as sources.
    const int with_pdf = here.parent == nullptr ? walk.with_pdf : 1;
    if (!gone(at, source.get()) || (with_pdf != 0 && !gone(at, twin.get()))) return;
    if (::unlinkat(here.fd, name, 0) != 0 && errno != ENOENT)
        refuse("%s: cannot remove %s/%s: %s", walk.option, folder, name, errno_name(errno));
}

} // namespace

int Thumbnail_del_chk(char** argv, int with_pdf)
{
    return thumbnail::walk_tree(argv, Walk{"-m", find_name, true, with_pdf, drop_orphan, -1, nullptr, nullptr});
}

} // namespace tarnvel
