// One walk over a folder tree of the shared disk for the thumbnail operations: depth-first in
// the order the file system delivers the entries, each folder held open while its
// sub-folders are walked. The disk is filled by strangers and the tool runs as root, so the
// walk goes from open folder to open folder (openat with O_NOFOLLOW): a symbolic link is never
// entered, wherever it points, and a folder swapped for a link while the walk runs cannot
// take it off the disk. Which entries are entered is decided by name (chk_name) and type; a
// folder reached again (a bind mount of one of its ancestors) is not entered again.
//
// A stranger also chooses the depth. Each level costs its descriptor, a small buffer for the
// folder's entries and a few words on the stack; the path lives once, in one buffer that each
// level lengthens and cuts back, and the walk goes no deeper than that buffer holds.
#include "thumbnail/walk.h"

#include "common/entries.h"
#include "common/fixed.h"
#include "common/run.h"
#include "common/text.h"
#include "thumbnail/classify.h"
#include "thumbnail/place.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnvel::thumbnail {
namespace {

constexpr char kThumbs[] = ".thumbnail";
constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW;

// The walk's one path: each level appends "/NAME" and cuts it off again on its way back.
struct Path {
    char text[PATH_MAX];
    std::size_t length;
};

// The folders on the current walk path, innermost first; each one lives in its own call.
struct Visit {
    dev_t dev;
    ino_t ino;
    const Visit* up;
};

// The entry's type; one the file system does not report is looked up without following a
// link (DT_UNKNOWN when even that fails).
unsigned char type_of(int folder, const dirent64& entry)
{
    if (entry.d_type != DT_UNKNOWN) return entry.d_type;
    struct stat st;
    if (::fstatat(folder, entry.d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) return DT_UNKNOWN;
    if (S_ISREG(st.st_mode)) return DT_REG;
    return S_ISDIR(st.st_mode) ? DT_DIR : DT_LNK;
}

int walk_folder(int fd, Path& path, const Folder* parent, const Visit* up, const Walk& walk);

// This run's files in /var/tmp: its work file, the name jhead gives it while rewriting it, and
// the copy of a source's header ("tarnvel.PID" and the endings below). Whole paths, for the
// signal handler that removes them.
char work_files[3][PATH_MAX];

// What the run leaves in /var/tmp, and a temporary file it was writing on the disk, removed
// (at its end, and from the handler of a signal that ends it).
void drop_own_files()
{
    for (const char* file : work_files) {
        if (file[0] != '\0') ::unlink(file);
    }
    drop_placing();
}

// Work files of runs that are gone (killed with SIGKILL, or crashed) that would hold the
// device's memory for good: with the lock held, every "tarnvel.<digits>..." in /var/tmp is one.
void drop_gone_runs(int tmp)
{
    FolderEntries entries(tmp);
    while (const dirent64* entry = entries.next()) {
        const char* name = entry->d_name;
        if (std::strncmp(name, "tarnvel.", 8) == 0 && name[8] >= '0' && name[8] <= '9') ::unlinkat(tmp, name, 0);
    }
}

// Closes the folder's thumbnail folder, flushing first what was renamed into it, and the folder
// itself when the thumbnail folder was made in it: once for a batch of new thumbnails. What
// cannot be flushed (a pulled card) was said by the writes that failed on it.
void close_thumbnails(Folder& folder)
{
    if (folder.thumbs.valid() && (folder.renamed || folder.made)) (void)::fsync(folder.thumbs.get());
    if (folder.made) (void)::fsync(folder.fd);
    folder.renamed = folder.made = false;
    folder.thumbs.reset();
    if (folder.thumbs_state == Folder::Thumbs::open) folder.thumbs_state = Folder::Thumbs::unknown;
}

// Walks the sub-folder `name` of `current`, whose path is in `path`.
void descend(Folder& current, const char* name, Path& path, const Visit& here, const Walk& walk)
{
    const std::size_t length = path.length;
    const std::size_t added = 1 + std::strlen(name);
    if (length + added >= sizeof path.text) {
        if (!walk.cleanup) refuse("%s: path too long, not walked: %s/%s", walk.option, path.text, name);
        return;
    }
    const int sub = ::openat(current.fd, name, kFolderFlags);
    if (sub < 0) {
        if (!walk.cleanup && (errno == EMFILE || errno == ENFILE))
            refuse("%s: out of descriptors, not walked: %s/%s", walk.option, path.text, name);
        return;
    }
    // Only the cleanup enters a thumbnail folder: a temporary file that a pulled card kept goes.
    if (walk.cleanup && std::strcmp(name, kThumbs) == 0) drop_leftover(sub);
    // The thumbnail folder is opened again when a later source asks for it.
    close_thumbnails(current);
    path.text[length] = '/';
    std::memcpy(path.text + length + 1, name, added);
    path.length = length + added;
    walk_folder(sub, path, &current, &here, walk);
    path.length = length;
    path.text[length] = '\0';
}

// Walks the folder that `fd` holds open (and takes over), whose path is in `path`.
int walk_folder(int fd, Path& path, const Folder* parent, const Visit* up, const Walk& walk)
{
    UniqueFd owned(fd);
    struct stat st;
    if (::fstat(fd, &st) != 0) return 0;
    for (const Visit* v = up; v != nullptr; v = v->up) {
        if (v->dev == st.st_dev && v->ino == st.st_ino) return 0;
    }
    const Visit here{st.st_dev, st.st_ino, up};
    Folder current{path.text, fd, parent, Folder::Thumbs::unknown, UniqueFd(), false};
    FolderEntries entries(fd);
    while (const dirent64* entry = entries.next()) {
        const char* name = entry->d_name;
        const int code = chk_name(name, skip_name, walk.extensions);
        // Hidden and skipped names are neither sources nor entered, whatever their type.
        if (code == NAME_SKIP) continue;
        const unsigned char type = type_of(fd, *entry);
        if (type == DT_REG) {
            if (code >= NAME_PHOTO) walk.source(walk, current, name, code);
        } else if (type == DT_DIR && (code != NAME_THUMB_DIR || walk.cleanup)) {
            descend(current, name, path, here, walk);
        }
    }
    close_thumbnails(current);
    return ::close(owned.release());
}

} // namespace

int walk_tree(char** argv, Walk walk)
{
    const char* folder = argv[2];
    if (folder == nullptr) return 0;
    Path path;
    if (!fit_copy(path.text, folder)) {
        refuse("%s: path too long, not walked: %s", walk.option, folder);
        return 0;
    }
    path.length = std::strlen(path.text);
    UniqueFd tmp = open_fixed("/var/tmp", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (tmp.valid()) {
        ::flock(tmp.get(), LOCK_EX);
        drop_gone_runs(tmp.get());
    }
    static constexpr const char* kEndings[] = {".jpg", ".jpg.t", ".src.jpg"};
    static_assert(sizeof kEndings / sizeof kEndings[0] == sizeof work_files / sizeof work_files[0]);
    for (std::size_t i = 0; i < sizeof work_files / sizeof work_files[0]; ++i) {
        char own[40];
        fit_format(own, "/var/tmp/tarnvel.%d%s", static_cast<int>(::getpid()), kEndings[i]);
        if (!host::fixed_path(work_files[i], own)) {
            refuse("%s: the path of %s does not fit %zu bytes", walk.option, own, sizeof work_files[i]);
            return 0;
        }
    }
    end_on_termination(drop_own_files);
    walk.tmp = tmp.get();
    walk.work = work_files[0];
    walk.head = work_files[2];
    // The folder named by the caller is taken as it is, links included; below it, none.
    const int fd = ::open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const int result = fd < 0 ? 0 : walk_folder(fd, path, nullptr, nullptr, walk);
    drop_own_files();
    return result;
}

bool open_thumbnails(const Walk& walk, Folder& folder)
{
    if (folder.thumbs_state != Folder::Thumbs::unknown) return folder.thumbs_state == Folder::Thumbs::open;
    int fd = ::openat(folder.fd, kThumbs, kFolderFlags);
    if (fd < 0 && errno == ENOENT) {
        if (::mkdirat(folder.fd, kThumbs, 0777) != 0 && errno != EEXIST) {
            refuse("%s: cannot make %s/%s: %s", walk.option, folder.path, kThumbs, errno_name(errno));
            folder.thumbs_state = Folder::Thumbs::refused;
            return false;
        }
        fd = ::openat(folder.fd, kThumbs, kFolderFlags);
        folder.made = true;
    }
    if (fd < 0) {
        // O_NOFOLLOW meets a link as ELOOP, O_DIRECTORY anything else as ENOTDIR.
        if (errno == ELOOP || errno == ENOTDIR) {
            refuse("%s: %s/%s is not a folder, left alone", walk.option, folder.path, kThumbs);
        } else {
            refuse("%s: cannot open %s/%s: %s", walk.option, folder.path, kThumbs, errno_name(errno));
        }
        folder.thumbs_state = Folder::Thumbs::refused;
        return false;
    }
    folder.thumbs = UniqueFd(fd);
    folder.thumbs_state = Folder::Thumbs::open;
    return true;
}

bool thumbnail_present(const Folder& folder, const char* name)
{
    struct stat st;
    // Anything but a certain absence counts: nothing is ever written over it.
    if (::fstatat(folder.thumbs.get(), name, &st, AT_SYMLINK_NOFOLLOW) != 0) return errno != ENOENT;
    return !S_ISREG(st.st_mode) || st.st_size != 0;
}

UniqueFd make_work_file(const Walk& walk, const char* path)
{
    if (::unlink(path) != 0 && errno != ENOENT) {
        refuse("%s: cannot remove %s: %s", walk.option, path, errno_name(errno));
        return UniqueFd();
    }
    UniqueFd fd(::open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!fd.valid()) refuse("%s: cannot make %s: %s", walk.option, path, errno_name(errno));
    return fd;
}

void report_unfinished(const Walk& walk, Folder& folder, const char* program, const char* name, int status)
{
    if (status == kRunTimedOut) {
        refuse("%s: %s ended after %u s on %s/%s", walk.option, program, kProgramLimit, folder.path, name);
    } else if (status == -1 && !folder.start_failed) {
        folder.start_failed = true;
        refuse("%s: cannot start %s for %s/%s: %s", walk.option, program, folder.path, name, errno_name(errno));
    }
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

} // namespace tarnvel::thumbnail
