// Thumbnails for the photos (and PDF documents) of the shared disk, kept in a hidden
// ".thumbnail" folder beside them under the source's own name (a document's stem + ".JPG").
// The image work is jhead's and convert's; the tool only decides what is missing and starts
// them, without a shell, so that any name on the disk stays one argument. A program is
// started only for a source that may hold an embedded thumbnail, only on paths that still
// lead where the walk found them, and never for more than a minute.
#include "thumbnail/generate.h"

#include "common/host.h"
#include "common/text.h"
#include "thumbnail/classify.h"
#include "thumbnail/embedded.h"
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
using thumbnail::paths_hold;
using thumbnail::start;
using thumbnail::Walk;

// Where "-e" keeps the embedded thumbnail between extraction and sampling. Fixed: two "-e"
// runs must not overlap.
constexpr char kTmpJpg[] = "/var/tmp/tmp.jpg";

// convert reads "%d", "%o", "%x" and "%[...]" in an output name as its own placeholders and
// "%%" as one '%': every '%' of the path is doubled so the file gets the photo's own name.
HeapBuf convert_output(const char* path)
{
    std::size_t size = std::strlen(path) + 1;
    for (const char* p = path; *p != '\0'; ++p) size += *p == '%';
    HeapBuf out(size);
    if (!out) return out;
    char* q = out.get();
    for (const char* p = path; *p != '\0'; ++p) {
        *q++ = *p;
        if (*p == '%') *q++ = '%';
    }
    *q = '\0';
    return out;
}

// Whether jhead may find an embedded thumbnail in the folder's file `name`. A file that no
// longer opens as a regular file of the folder has none to give.
bool may_hold_thumbnail(const Folder& here, const char* name)
{
    UniqueFd fd(::openat(here.fd, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    return fd.valid() && thumbnail::embedded_thumbnail(fd.get()) == thumbnail::Embedded::maybe;
}

// What a program ended on its way left in the thumbnail folder would stay for good (a
// thumbnail that exists is never made again): it goes.
void drop_unfinished(const Folder& here, const char* name)
{
    ::unlinkat(here.thumbs.get(), name, 0);
}

void photo_to_72(const Walk& walk, Folder& here, const char* name, int)
{
    const char* folder = here.path;
    HeapBuf thumb_dir = join({folder, "/.thumbnail"});
    HeapBuf source = join({folder, "/", name});
    HeapBuf thumb = join({folder, "/.thumbnail/", name});
    if (!thumb_dir || !source || !thumb) return;
    HeapBuf output = convert_output(thumb.get());
    if (!output || !thumbnail::kernel_takes(walk, thumb.get())) return;
    char tmp[PATH_MAX];
    if (!host::fixed_path(tmp, kTmpJpg)) {
        refuse("%s: the path of %s does not fit %zu bytes", walk.option, kTmpJpg, sizeof tmp);
        return;
    }
    // convert is told the format: it would otherwise pick a decoder from the bytes that
    // jhead extracted, which the photo's owner chose.
    HeapBuf input = join({"jpeg:", tmp});
    if (!input || !thumbnail::open_thumbnails(walk, here, true)) return;

    if (::unlink(tmp) != 0 && errno != ENOENT) refuse("%s: cannot remove %s: %s", walk.option, tmp, errno_name(errno));
    if (!may_hold_thumbnail(here, name)) return;
    if (!paths_hold(walk, here, thumb_dir.get(), source.get(), tmp, false) ||
        !start(walk, true, "jhead", "-st", tmp, source.get()))
        return;
    struct stat st;
    // No temporary file: the photo has no embedded thumbnail.
    if (::stat(tmp, &st) != 0 || thumbnail::thumbnail_present(here, name)) return;
    if (!paths_hold(walk, here, thumb_dir.get(), source.get(), thumb.get(), false) ||
        !start(walk, true, "jhead", "-st", tmp, source.get()) ||
        !paths_hold(walk, here, thumb_dir.get(), source.get(), thumb.get(), false))
        return;
    if (!start(walk, false, "convert", input.get(), "-sample", "72x72!", output.get())) drop_unfinished(here, name);
}

void source_to_thumbnail(const Walk& walk, Folder& here, const char* name, int code)
{
    const char* folder = here.path;
    HeapBuf stem = thumbnail::stem_of(name);
    HeapBuf thumb_dir = join({folder, "/.thumbnail"});
    HeapBuf source = join({folder, "/", name});
    if (!stem || !thumb_dir || !source) return;
    HeapBuf thumb_name = code == NAME_PDF ? join({stem.get(), ".JPG"}) : join({name});
    if (!thumb_name) return;
    HeapBuf thumb = join({thumb_dir.get(), "/", thumb_name.get()});
    if (!thumb || !thumbnail::kernel_takes(walk, thumb.get())) return;

    if (!thumbnail::open_thumbnails(walk, here, true) || thumbnail::thumbnail_present(here, thumb_name.get())) return;
    // jhead puts its input file's name in place of "&i" in the names given to -st and -te,
    // so such a path would make it write or read some other file.
    if (std::strstr(thumb.get(), "&i") != nullptr || std::strstr(source.get(), "&i") != nullptr) {
        refuse("%s: jhead cannot take \"&i\" in a file name: %s", walk.option, source.get());
        return;
    }
    if (!may_hold_thumbnail(here, name)) return;
    const char* t = thumb.get();
    const char* s = source.get();
    if (!paths_hold(walk, here, thumb_dir.get(), s, t, false)) return;
    const bool extracted = start(walk, true, "jhead", "-st", t, s);
    // jhead found no thumbnail after all: there is nothing to give a header.
    if (extracted && !thumbnail::thumbnail_present(here, thumb_name.get())) return;
    const bool done = extracted && paths_hold(walk, here, thumb_dir.get(), s, t, true) &&
                      start(walk, true, "jhead", "-te", s, t) && paths_hold(walk, here, thumb_dir.get(), s, t, true) &&
                      start(walk, true, "jhead", "-dt", t);
    if (!done) drop_unfinished(here, thumb_name.get());
}

} // namespace

int scan_photo(char** argv)
{
    return thumbnail::walk_tree(argv, Walk{"-e", find_name, false, 0, photo_to_72});
}

int scan_photo_to_thumbnail(char** argv, int with_pdf)
{
    return thumbnail::walk_tree(argv, Walk{"-m", with_pdf != 0 ? find_name_new : find_name, false, with_pdf,
                                           source_to_thumbnail});
}

} // namespace tarnvel
