// Entry names of the shared disk, classified by name only: the thumbnail walks enter, pass
// over or make thumbnails by this answer and the entry's type.
#include "thumbnail/classify.h"

#include "common/owners.h"

#include <cstring>

namespace tarnvel {

const char* const skip_name[] = {"System Volume Information", "Recycled", "$RECYCLE.BIN", nullptr};
const char* const find_name[] = {".JPEG", ".JPG", nullptr};
const char* const find_name_new[] = {".JPEG", ".JPG", ".PDF", nullptr};

char* strupr(const char* text)
{
    char* copy = ::strdup(text);
    if (copy == nullptr) return nullptr;
    // The C locale's upper case, the only one the device has, without the libc's tables.
    for (char* p = copy; *p != '\0'; ++p) {
        if (*p >= 'a' && *p <= 'z') *p = static_cast<char>(*p - 'a' + 'A');
    }
    return copy;
}

int chk_name(const char* name, const char* const* skip, const char* const* extensions)
{
    if (std::strcmp(name, ".thumbnail") == 0) return NAME_THUMB_DIR;
    // Hidden names, "." and ".." among them.
    if (name[0] == '.') return NAME_SKIP;
    for (const char* const* s = skip; *s != nullptr; ++s) {
        if (std::strcmp(name, *s) == 0) return NAME_SKIP;
    }
    // A dot in the first place never starts an extension; past the hidden-name test above,
    // the last dot is therefore either absent or further on.
    const char* dot = std::strrchr(name, '.');
    if (dot == nullptr) return NAME_OTHER;
    Owned<char, free_bytes> upper(strupr(dot));
    if (!upper) return NAME_OTHER;
    for (const char* const* e = extensions; *e != nullptr; ++e) {
        if (std::strcmp(upper.get(), *e) == 0) return std::strcmp(*e, ".PDF") == 0 ? NAME_PDF : NAME_PHOTO;
    }
    return NAME_OTHER;
}

} // namespace tarnvel
