// One walk over a folder tree of the shared disk for the thumbnail operations: depth-first in
// the order the file system delivers the entries, each folder held open while its
// sub-folders are walked. Which entries are entered is decided by name (chk_name) and type;
// a folder reached again through a link to one of its ancestors is not entered, so a link
// loop on the disk cannot keep a walk going for ever.
#include "thumbnail/walk.h"

#include "common/text.h"
#include "thumbnail/classify.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <dirent.h>
#include <sys/stat.h>

namespace tarnvel::thumbnail {
namespace {

// The folders on the current walk path, innermost first; each one lives in its own call.
struct Visit {
    dev_t dev;
    ino_t ino;
    const Visit* up;
};

int walk_folder(const char* folder, const Visit* up, const Walk& walk)
{
    UniqueDir dir(::opendir(folder));
    if (!dir) {
        if (errno == ENAMETOOLONG) refuse("%s: path too long for the kernel: %s", walk.option, folder);
        return 0;
    }
    struct stat st;
    if (::fstat(::dirfd(dir.get()), &st) != 0) return 0;
    for (const Visit* v = up; v != nullptr; v = v->up) {
        if (v->dev == st.st_dev && v->ino == st.st_ino) return 0;
    }
    const Visit here{st.st_dev, st.st_ino, up};
    Folder current{folder, up == nullptr, false};

    while (const dirent* entry = ::readdir(dir.get())) {
        const char* name = entry->d_name;
        const int code = chk_name(name, skip_name, walk.extensions);
        if (entry->d_type == DT_REG) {
            if (code >= NAME_PHOTO) walk.source(walk, current, name, code);
            continue;
        }
        // Anything else may be a folder (a link, or a type the file system does not tell).
        if (code == NAME_SKIP || (code == NAME_THUMB_DIR && !walk.enter_thumbnail_folders)) continue;
        HeapBuf sub = join({folder, "/", name});
        if (sub) walk_folder(sub.get(), &here, walk);
    }
    return ::closedir(dir.release());
}

} // namespace

int walk_tree(char** argv, const Walk& walk)
{
    const char* folder = argv[2];
    if (folder == nullptr) return 0;
    // A relative folder is named to the programs as "./FOLDER": no path built on it can then
    // be read as an option (a leading '-') or, by convert, as a format prefix or a pipe.
    if (folder[0] != '\0' && folder[0] != '/' && folder[0] != '.') {
        HeapBuf anchored = join({"./", folder});
        return anchored ? walk_folder(anchored.get(), nullptr, walk) : 0;
    }
    return walk_folder(folder, nullptr, walk);
}

HeapBuf join(std::initializer_list<const char*> parts)
{
    std::size_t size = 1;
    for (const char* part : parts) size += std::strlen(part);
    HeapBuf out(size);
    if (!out) return out;
    char* end = out.get();
    for (const char* part : parts) {
        const std::size_t n = std::strlen(part);
        std::memcpy(end, part, n);
        end += n;
    }
    *end = '\0';
    return out;
}

HeapBuf stem_of(const char* name)
{
    HeapBuf stem = join({name});
    if (!stem) return stem;
    char* dot = std::strrchr(stem.get(), '.');
    if (dot != nullptr) *dot = '\0';
    return stem;
}

bool kernel_takes(const Walk& walk, const char* path)
{
    // PATH_MAX counts the terminating NUL.
    if (std::strlen(path) < PATH_MAX) return true;
    refuse("%s: path too long for the kernel: %s", walk.option, path);
    return false;
}

bool exists(const char* path)
{
    struct stat st;
    return ::stat(path, &st) == 0;
}

} // namespace tarnvel::thumbnail
