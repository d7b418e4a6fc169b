// One walk over a folder tree of the shared disk for the thumbnail operations: depth-first in
// the order the file system delivers the entries, each folder held open while its
// sub-folders are walked. The disk is filled by strangers and the tool runs as root, so the
// walk goes from open folder to open folder (openat with O_NOFOLLOW): a symbolic link is never
// entered, wherever it points, and a folder swapped for a link while the walk runs cannot
// take it off the disk. Which entries are entered is decided by name (chk_name) and type; a
// folder reached again (a bind mount of one of its ancestors) is not entered again.
#include "thumbnail/walk.h"

#include "common/text.h"
#include "thumbnail/classify.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

namespace tarnvel::thumbnail {
namespace {

constexpr char kThumbs[] = ".thumbnail";
constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;

// The folders on the current walk path, innermost first; each one lives in its own call.
struct Visit {
    dev_t dev;
    ino_t ino;
    const Visit* up;
};

// Walks the folder that `fd` holds open (and takes over), reached by `path`.
int walk_folder(int fd, const char* path, const Folder* parent, const Visit* up, const Walk& walk)
{
    UniqueDir dir(::fdopendir(fd));
    if (!dir) {
        ::close(fd);
        return 0;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0) return 0;
    for (const Visit* v = up; v != nullptr; v = v->up) {
        if (v->dev == st.st_dev && v->ino == st.st_ino) return 0;
    }
    const Visit here{st.st_dev, st.st_ino, up};
    Folder current{path, fd, parent, Folder::Thumbs::unknown, UniqueFd(), 0, 0};

    while (const dirent* entry = ::readdir(dir.get())) {
        const char* name = entry->d_name;
        const int code = chk_name(name, skip_name, walk.extensions);
        if (entry->d_type == DT_REG) {
            if (code >= NAME_PHOTO) walk.source(walk, current, name, code);
            continue;
        }
        // Only a folder, or an entry whose type the file system does not tell, may be entered.
        if (entry->d_type != DT_DIR && entry->d_type != DT_UNKNOWN) continue;
        if (code == NAME_SKIP || (code == NAME_THUMB_DIR && !walk.enter_thumbnail_folders)) continue;
        const int sub_fd = ::openat(fd, name, kFolderFlags | O_NOFOLLOW);
        if (sub_fd < 0) continue;
        HeapBuf sub = join({path, "/", name});
        if (!sub) {
            ::close(sub_fd);
            continue;
        }
        walk_folder(sub_fd, sub.get(), &current, &here, walk);
    }
    return ::closedir(dir.release());
}

int walk_top(const char* folder, const Walk& walk)
{
    // The folder named by the caller is taken as it is, links included; below it, none.
    const int fd = ::open(folder, kFolderFlags);
    if (fd < 0) {
        if (errno == ENAMETOOLONG) refuse("%s: path too long for the kernel: %s", walk.option, folder);
        return 0;
    }
    return walk_folder(fd, folder, nullptr, nullptr, walk);
}

bool same_folder(const struct stat& st, const Folder& folder)
{
    return S_ISDIR(st.st_mode) && st.st_dev == folder.thumbs_dev && st.st_ino == folder.thumbs_ino;
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
        return anchored ? walk_top(anchored.get(), walk) : 0;
    }
    return walk_top(folder, walk);
}

bool open_thumbnails(const Walk& walk, Folder& folder, bool make)
{
    if (folder.thumbs_state != Folder::Thumbs::unknown) return folder.thumbs_state == Folder::Thumbs::open;
    struct stat st;
    if (::fstatat(folder.fd, kThumbs, &st, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno != ENOENT || !make) return false;
        if (::mkdirat(folder.fd, kThumbs, 0777) != 0 && errno != EEXIST) {
            refuse("%s: cannot make %s/%s: %s", walk.option, folder.path, kThumbs, errno_name(errno));
            folder.thumbs_state = Folder::Thumbs::refused;
            return false;
        }
    }
    folder.thumbs = UniqueFd(::openat(folder.fd, kThumbs, kFolderFlags | O_NOFOLLOW));
    if (!folder.thumbs.valid() || ::fstat(folder.thumbs.get(), &st) != 0) {
        refuse("%s: %s/%s is not a folder, left alone", walk.option, folder.path, kThumbs);
        folder.thumbs_state = Folder::Thumbs::refused;
        return false;
    }
    folder.thumbs_dev = st.st_dev;
    folder.thumbs_ino = st.st_ino;
    folder.thumbs_state = Folder::Thumbs::open;
    return true;
}

bool thumbnail_present(const Folder& folder, const char* name)
{
    struct stat st;
    // Anything but a certain absence counts: nothing is ever written over it.
    return ::fstatat(folder.thumbs.get(), name, &st, AT_SYMLINK_NOFOLLOW) == 0 || errno != ENOENT;
}

bool paths_hold(const Walk& walk, const Folder& folder, const char* thumbs_path, const char* source,
                const char* target, bool target_made)
{
    struct stat st;
    bool hold = ::stat(thumbs_path, &st) == 0 && same_folder(st, folder);
    hold = hold && ::lstat(source, &st) == 0 && S_ISREG(st.st_mode);
    if (hold) {
        const bool there = ::lstat(target, &st) == 0;
        hold = target_made ? there && S_ISREG(st.st_mode) : !there && errno == ENOENT;
    }
    if (!hold) refuse("%s: the disk changed under %s, left alone", walk.option, source);
    return hold;
}

bool report_ended(const Walk& walk, const char* const argv[])
{
    const char* const* last = argv;
    while (last[1] != nullptr) ++last;
    refuse("%s: %s ended after %u s on %s", walk.option, argv[0], kProgramLimit, *last);
    return false;
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

} // namespace tarnvel::thumbnail
