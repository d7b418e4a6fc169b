// Thumbnails for the photos (and PDF documents) of the shared disk, kept in a hidden
// ".thumbnail" folder beside them under the source's own name (a document's stem + ".JPG").
// The image work is jhead's and convert's; the tool only decides what is missing and starts
// them, without a shell, so that any name on the disk stays one argument.
#include "thumbnail/generate.h"

#include "common/host.h"
#include "common/text.h"
#include "thumbnail/classify.h"
#include "thumbnail/walk.h"

#include <climits>
#include <cstring>

namespace tarnvel {
namespace {

using thumbnail::exists;
using thumbnail::Folder;
using thumbnail::join;
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

    start(false, "mkdir", "-p", thumb_dir.get());
    start(false, "rm", tmp);
    start(true, "jhead", "-st", tmp, source.get());
    // No temporary file: the photo has no embedded thumbnail.
    if (exists(tmp) && !exists(thumb.get())) {
        start(true, "jhead", "-st", tmp, source.get());
        start(false, "convert", tmp, "-sample", "72x72!", output.get());
    }
}

void source_to_thumbnail(const Walk& walk, Folder& here, const char* name, int code)
{
    const char* folder = here.path;
    HeapBuf stem = thumbnail::stem_of(name);
    HeapBuf thumb_dir = join({folder, "/.thumbnail"});
    HeapBuf source = join({folder, "/", name});
    if (!stem || !thumb_dir || !source) return;
    HeapBuf thumb = code == NAME_PDF ? join({folder, "/.thumbnail/", stem.get(), ".JPG"})
                                     : join({folder, "/.thumbnail/", name});
    if (!thumb || !thumbnail::kernel_takes(walk, thumb.get())) return;

    if (!here.thumbnails_present) {
        if (exists(thumb_dir.get())) {
            here.thumbnails_present = true;
        } else {
            start(false, "mkdir", "-p", thumb_dir.get());
        }
    }
    if (exists(thumb.get())) return;
    // jhead puts its input file's name in place of "&i" in the names given to -st and -te,
    // so such a path would make it write or read some other file.
    if (std::strstr(thumb.get(), "&i") != nullptr || std::strstr(source.get(), "&i") != nullptr) {
        refuse("%s: jhead cannot take \"&i\" in a file name: %s", walk.option, source.get());
        return;
    }
    start(true, "jhead", "-st", thumb.get(), source.get());
    start(true, "jhead", "-te", source.get(), thumb.get());
    start(true, "jhead", "-dt", thumb.get());
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
