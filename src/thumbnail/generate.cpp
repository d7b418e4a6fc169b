// Thumbnails for the photos (and PDF documents) of the shared disk, kept in a hidden
// ".thumbnail" folder beside them under the source's own name (a document's stem + ".JPG").
// The image work is jhead's and convert's; the tool only decides what is missing and starts
// them, without a shell, so that any name on the disk stays one argument. They never write
// on the disk: they work on files in the device's own /var/tmp, and read the source as
// "./NAME" from inside the folder the walk holds open, which no rename can move off the disk.
// What they made is put in place by the tool itself (place.cpp). No program is started for a
// JPEG that holds no embedded thumbnail, and none runs for more than a minute.
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

// Whether jhead may find an embedded thumbnail in the folder's file `name`. A file that no
// longer opens as a regular file of the folder has none to give.
bool may_hold_thumbnail(const Folder& here, const char* name)
{
    UniqueFd fd(::openat(here.fd, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    return fd.valid() && thumbnail::embedded_thumbnail(fd.get()) == thumbnail::Embedded::maybe;
}

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

// The source is named relative to its folder, where the programs start; "./" keeps a name
// beginning with '-' from being read as an option.
HeapBuf relative(const char* name) { return join({"./", name}); }

void photo_to_72(const Walk& walk, Folder& here, const char* name, int)
{
    char tmp[PATH_MAX];
    if (!tmp_path(walk.option, tmp, kTmpJpg)) return;
    // convert is told the format: it would otherwise pick a decoder from the bytes that
    // jhead extracted, which the photo's owner chose.
    HeapBuf input = join({"jpeg:", tmp});
    HeapBuf source = relative(name);
    if (!input || !source || !thumbnail::open_thumbnails(walk, here)) return;

    if (::unlink(tmp) != 0 && errno != ENOENT) refuse("%s: cannot remove %s: %s", walk.option, tmp, errno_name(errno));
    if (!may_hold_thumbnail(here, name)) return;
    start(walk, here, name, here.fd, true, "jhead", "-st", tmp, source.get());
    // No temporary file: the photo has no embedded thumbnail.
    if (!has_bytes(tmp) || thumbnail::thumbnail_present(here, name)) return;
    const char* out = walk.work;
    // convert reads nothing on the disk, and looks files up where it starts: not beside the
    // photo, where a stranger's "jpeg:" folder or policy.xml would stand.
    if (start(walk, here, name, here.fd, true, "jhead", "-st", tmp, source.get()) && thumbnail::make_work_file(walk) &&
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
    // jhead puts its input file's name in place of "&i" in the name given to -te, so such a
    // name would make it read some other file.
    if (std::strstr(name, "&i") != nullptr) {
        refuse("%s: jhead cannot take \"&i\" in a file name: %s/%s", walk.option, here.path, name);
        return;
    }
    HeapBuf source = relative(name);
    if (!source || !may_hold_thumbnail(here, name)) return;
    const char* s = source.get();
    const char* w = walk.work;
    // -te and -dt only for what -st made.
    const int in = here.fd;
    if (thumbnail::make_work_file(walk) && start(walk, here, name, in, true, "jhead", "-st", w, s) && has_bytes(w) &&
        start(walk, here, name, in, true, "jhead", "-te", s, w) && start(walk, here, name, in, true, "jhead", "-dt", w))
        thumbnail::place_thumbnail(walk, here, thumb, w);
}

} // namespace

int scan_photo(char** argv)
{
    return thumbnail::walk_tree(argv, Walk{"-e", find_name, false, 0, photo_to_72, -1, nullptr});
}

int scan_photo_to_thumbnail(char** argv, int with_pdf)
{
    return thumbnail::walk_tree(argv, Walk{"-m", with_pdf != 0 ? find_name_new : find_name, false, with_pdf,
                                           source_to_thumbnail, -1, nullptr});
}

} // namespace tarnvel
