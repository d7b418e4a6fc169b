// Orphan thumbnails: a thumbnail whose photo or document is gone from beside its
// ".thumbnail" folder (deleted, or given another name) is removed, so the thumbnail folders
// follow the disk. Only names and the presence of files are read; folders stay.
#include "thumbnail/cleanup.h"

#include "thumbnail/classify.h"
#include "thumbnail/walk.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

namespace tarnvel {
namespace {

using thumbnail::Folder;
using thumbnail::join;
using thumbnail::Walk;

constexpr char kThumbDir[] = "/.thumbnail";
constexpr std::size_t kThumbDirLen = sizeof kThumbDir - 1;

// Gone for certain: a stat that fails for another reason (an I/O error of the medium) is no
// proof, and a thumbnail is not removed on it.
bool gone(const char* path)
{
    struct stat st;
    return ::stat(path, &st) != 0 && (errno == ENOENT || errno == ENOTDIR);
}

void drop_orphan(const Walk& walk, Folder& here, const char* name, int)
{
    const char* folder = here.path;
    const std::size_t len = std::strlen(folder);
    if (len < kThumbDirLen || std::strcmp(folder + len - kThumbDirLen, kThumbDir) != 0) return;

    HeapBuf parent = join({folder});
    HeapBuf stem = thumbnail::stem_of(name);
    HeapBuf thumb = join({folder, "/", name});
    if (!parent || !stem || !thumb) return;
    parent.get()[len - kThumbDirLen] = '\0';
    HeapBuf source = join({parent.get(), "/", name});
    HeapBuf twin = join({parent.get(), "/", stem.get(), ".PDF"});
    if (!source || !twin || !thumbnail::kernel_takes(walk, thumb.get())) return;

    // Below the folder the run was given, documents always count as sources.
    const int with_pdf = here.top ? walk.with_pdf : 1;
    if (gone(source.get()) && (with_pdf == 0 || gone(twin.get()))) thumbnail::start(true, "rm", thumb.get());
}

} // namespace

int Thumbnail_del_chk(char** argv, int with_pdf)
{
    return thumbnail::walk_tree(argv, Walk{"-m", find_name, true, with_pdf, drop_orphan});
}

} // namespace tarnvel
