// Thumbnails for the photos (and PDF documents) of the shared disk, kept in a hidden
// ".thumbnail" folder beside them under the source's own name (a document's stem + ".JPG").
// The image work is jhead's and convert's; the tool only decides what is missing and starts
// them, without a shell, so that any name on the disk stays one argument. They never write
// on the disk: they work on files in the device's own /var/tmp. They read a copy of the
// source's header there; only where there is none, the source itself as "./NAME" from inside
// the folder the walk holds open, which no rename can move off the disk. What they made is
// put in place by the tool itself (place.cpp). No program is started for a JPEG that holds no
// embedded thumbnail, and none runs for more than a minute.
#include "thumbnail/generate.h"

#include "common/host.h"
#include "common/text.h"
#include "thumbnail/classify.h"
#include "thumbnail/embedded.h"
#include "thumbnail/place.h"
#include "thumbnail/walk.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnvel {
namespace {

using thumbnail::Folder;
using thumbnail::join;
using thumbnail::start;
using thumbnail::Walk;

// Where "-e" keeps the embedded thumbnail between extraction and sampling. Fixed: two "-e"
// runs must not overlap.
constexpr char kTmpJpg[] = "/var/tmp/tmp.jpg";

// Whether `path` is a file with something in it.
bool has_bytes(const char* path)
{
    struct stat st;
    return ::stat(path, &st) == 0 && st.st_size > 0;
}

// The fixed path `logical` in `out`; false, with one stderr line, when it does not fit.
bool tmp_path(const char* option, char (&out)[PATH_MAX], const char* logical)
{
    if (host::fixed_path(out, logical)) return true;
    refuse("%s: the path of %s does not fit %zu bytes", option, logical, sizeof out);
    return false;
}

// The few kilobytes of a photo that jhead reads are copied to the device's /var/tmp, and jhead
// reads them there: not the megabyte of image data behind them, twice, from the card. A
// longer header (the device's memory is small) is read where it is.
constexpr std::uint32_t kHeaderBound = 256 * 1024;

// What jhead reads for a source, and the folder it starts in.
struct Source {
    HeapBuf relative{0};
    const char* path = nullptr;
    int where = -1;
};

// Whether walk.head now holds what jhead reads of the source open as `fd` (with the header
// read_header found there): those first bytes, and after a JPEG's an end of image, whose data
// jhead never looks at.
bool copy_header(const Walk& walk, int fd, const thumbnail::Header& header)
{
    // kUnknown lies past the bound too.
    if (header.read > kHeaderBound) return false;
    UniqueFd out = thumbnail::make_work_file(walk, walk.head);
    const bool copied = out.valid() && thumbnail::copy_bytes(fd, out.get(), header.read) &&
                        (!header.jpeg || ::write(out.get(), "\xFF\xD9", 2) == 2) && ::close(out.release()) == 0;
    if (!copied) ::unlink(walk.head);
    return copied;
}

// Whether jhead may find an embedded thumbnail in the folder's file `name` (one that no longer
// opens as a regular file of the folder has none to give). When it may, `source` is what
// jhead is to read: the header copy, in /var/tmp where jhead then starts; or, with no copy,
// the file itself as "./NAME" in its folder ("./" keeps a name beginning with '-' from being
// read as an option).
bool prepare(const Walk& walk, const Folder& here, const char* name, Source& source)
{
    UniqueFd fd(::openat(here.fd, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!fd.valid()) return false;
    const thumbnail::Header header = thumbnail::read_header(fd.get());
    if (header.thumbnail == thumbnail::Embedded::none) return false;
    if (copy_header(walk, fd.get(), header)) {
        source.path = walk.head;
        source.where = walk.tmp;
        return true;
    }
    source.relative = join({"./", name});
    source.path = source.relative.get();
    source.where = here.fd;
    return source.path != nullptr;
}

void photo_to_72(const Walk& walk, Folder& here, const char* name, int)
{
    char tmp[PATH_MAX];
    if (!tmp_path(walk.option, tmp, kTmpJpg)) return;
    // convert is told the format: it would otherwise pick a decoder from the bytes that
    // jhead extracted, which the photo's owner chose.
    HeapBuf input = join({"jpeg:", tmp});
    if (!input || !thumbnail::open_thumbnails(walk, here)) return;

    if (::unlink(tmp) != 0 && errno != ENOENT) refuse("%s: cannot remove %s: %s", walk.option, tmp, errno_name(errno));
    Source source;
    if (!prepare(walk, here, name, source)) return;
    start(walk, here, name, source.where, true, "jhead", "-st", tmp, source.path);
    // No temporary file: the photo has no embedded thumbnail.
    if (!has_bytes(tmp) || thumbnail::thumbnail_present(here, name)) return;
    const char* out = walk.work;
    // convert reads nothing on the disk, and looks files up where it starts: not beside the
    // photo, where a stranger's "jpeg:" folder or policy.xml would stand.
    if (start(walk, here, name, source.where, true, "jhead", "-st", tmp, source.path) &&
        thumbnail::make_work_file(walk, out).valid() &&
        start(walk, here, name, walk.tmp, false, "convert", input.get(), "-sample", "72x72!", out))
        thumbnail::place_thumbnail(walk, here, name, out);
}

void source_to_thumbnail(const Walk& walk, Folder& here, const char* name, int code)
{
    // A photo's thumbnail has the photo's own name; a document's is its stem and ".JPG". An
    // unchanged tree asks for nothing more than the look at that name.
    HeapBuf stem = code == NAME_PDF ? thumbnail::stem_of(name) : HeapBuf(0);
    HeapBuf document = stem ? join({stem.get(), ".JPG"}) : HeapBuf(0);
    const char* thumb = code == NAME_PDF ? document.get() : name;
    if (thumb == nullptr || !thumbnail::open_thumbnails(walk, here) || thumbnail::thumbnail_present(here, thumb)) return;
    Source source;
    if (!prepare(walk, here, name, source)) return;
    // jhead puts its input file's name in place of "&i" in the name given to -te, so such a
    // name would make it read some other file.
    if (source.where == here.fd && std::strstr(name, "&i") != nullptr) {
        refuse("%s: jhead cannot take \"&i\" in a file name: %s/%s", walk.option, here.path, name);
        return;
    }
    const char* s = source.path;
    const char* w = walk.work;
    const int in = source.where;
    // -te and -dt only for what -st made.
    if (thumbnail::make_work_file(walk, w).valid() && start(walk, here, name, in, true, "jhead", "-st", w, s) &&
        has_bytes(w) && start(walk, here, name, in, true, "jhead", "-te", s, w) &&
        start(walk, here, name, in, true, "jhead", "-dt", w))
        thumbnail::place_thumbnail(walk, here, thumb, w);
}

} // namespace

int scan_photo(char** argv)
{
    return thumbnail::walk_tree(argv, Walk{"-e", find_name, false, 0, photo_to_72, -1, nullptr, nullptr});
}

int scan_photo_to_thumbnail(char** argv, int with_pdf)
{
    return thumbnail::walk_tree(argv, Walk{"-m", with_pdf != 0 ? find_name_new : find_name, false, with_pdf,
                                           source_to_thumbnail, -1, nullptr, nullptr});
}

} // namespace tarnvel
