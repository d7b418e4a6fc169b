// A thumbnail reaches the disk only through here. jhead and convert made it in the device's
// own /var/tmp; it is copied into the thumbnail folder that the walk holds open, under a
// temporary name that no source can have (a hidden one), flushed to the card, and only then
// renamed onto its own name. A card that fills up, fails or is pulled on the way leaves no
// thumbnail cut short, which every later run would take for made: at worst the temporary
// file, which the next run removes. Nor is a thumbnail placed that is no whole JPEG.
#include "thumbnail/place.h"

#include "common/fixed.h"
#include "common/owners.h"
#include "common/text.h"
#include "thumbnail/embedded.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnvel::thumbnail {
namespace {

constexpr char kPart[] = ".tarnvel.part";

// Thumbnails are a few kilobytes: a few rounds of this.
char chunk[4096];

// The thumbnail folder whose temporary file is being written, for the signal handler.
volatile int placing = -1;

} // namespace

bool copy_bytes(int from, int to, off_t size)
{
    for (off_t copied = 0; copied < size;) {
        const off_t left = size - copied;
        const std::size_t got = read_full(from, chunk, left < off_t{sizeof chunk} ? static_cast<std::size_t>(left) : sizeof chunk);
        // Short of the size: a read failed, or the file changed under the copy.
        if (got == 0) {
            errno = EIO;
            return false;
        }
        for (std::size_t done = 0; done < got;) {
            const ssize_t put = ::write(to, chunk + done, got - done);
            if (put < 0 && errno == EINTR) continue;
            if (put <= 0) return false;
            done += static_cast<std::size_t>(put);
        }
        copied += static_cast<off_t>(got);
    }
    return true;
}

void drop_leftover(int thumbs) { ::unlinkat(thumbs, kPart, 0); }

void drop_placing()
{
    if (placing >= 0) drop_leftover(placing);
}

bool place_thumbnail(const Walk& walk, Folder& folder, const char* name, const char* work)
{
    UniqueFd in(::open(work, O_RDONLY | O_CLOEXEC));
    struct stat st;
    if (!in.valid() || ::fstat(in.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size == 0) return false;
    // jhead exits 0 with its output cut short when /var/tmp (the device's memory) is full.
    if (!whole_jpeg(in.get())) {
        refuse("%s: cannot write %s/.thumbnail/%s: not a whole JPEG", walk.option, folder.path, name);
        return false;
    }
    const int thumbs = folder.thumbs.get();
    placing = thumbs;
    drop_leftover(thumbs);
    errno = 0;
    UniqueFd out(::openat(thumbs, kPart, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
    bool whole = out.valid() && copy_bytes(in.get(), out.get(), st.st_size) && ::fsync(out.get()) == 0;
    // A write-back that failed late shows at the close.
    if (out.valid()) whole = ::close(out.release()) == 0 && whole;
    if (whole && ::renameat(thumbs, kPart, thumbs, name) == 0) {
        placing = -1;
        folder.renamed = true;
        return true;
    }
    // errno 0: a write that wrote nothing, which only a full card does.
    const int err = errno != 0 ? errno : ENOSPC;
    drop_leftover(thumbs);
    placing = -1;
    refuse("%s: cannot write %s/.thumbnail/%s: %s", walk.option, folder.path, name, errno_name(err));
    return false;
}

} // namespace tarnvel::thumbnail
