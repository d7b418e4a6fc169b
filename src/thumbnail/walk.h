// The depth-first walk that the thumbnail operations share, and the paths they build on it.
#pragma once

#include "common/host.h"
#include "common/owners.h"
#include "common/run.h"

#include <initializer_list>
#include <sys/types.h>

namespace tarnvel::thumbnail {

// The folder being read, as the source step sees it.
struct Folder {
    // Its path as the walk reached it (for the programs and for messages).
    const char* path;
    // The open folder: every look at the disk is made relative to it, so a folder renamed or
    // swapped for a link meanwhile cannot send the tool elsewhere.
    int fd;
    // The folder it was entered from; null in the folder the walk started at.
    const Folder* parent;
    // Its ".thumbnail" folder, once the source step has looked for it.
    enum class Thumbs { unknown, open, refused } thumbs_state;
    UniqueFd thumbs;
    dev_t thumbs_dev;
    ino_t thumbs_ino;
};

struct Walk {
    // The option the walk serves ("-e", "-m"), for refusals.
    const char* option;
    // Extension table handed to chk_name.
    const char* const* extensions;
    // The cleanup enters ".thumbnail" folders; the generators never do.
    bool enter_thumbnail_folders;
    // The caller's with_pdf, for the source step to read.
    int with_pdf;
    // Called for each regular file of class NAME_PHOTO or above, with the entry's name.
    void (*source)(const Walk& walk, Folder& folder, const char* name, int code);
};

// Walks the folder argv[2] depth-first in directory order: regular files that are sources go
// to walk.source; every other entry that is not hidden or skipped is entered when it is a
// real folder. A symbolic link is never followed, wherever it points; a folder met again
// (a bind mount of an ancestor) is not entered again. Returns 0 when argv[2] is missing or
// does not open, else closedir's result.
int walk_tree(char** argv, const Walk& walk);

// Opens `folder`'s ".thumbnail" (making it first, mode 0777 less the umask, when `make` is set
// and it is missing). False when there is none, or when what stands there is not a real
// folder: then one stderr line says so, once for the folder, and the source step leaves it
// alone.
bool open_thumbnails(const Walk& walk, Folder& folder, bool make);

// Whether the thumbnail folder holds an entry `name` of any kind (a link counts).
bool thumbnail_present(const Folder& folder, const char* name);

// Checked just before a program is started on paths of the disk: `thumbs_path` still leads to
// the folder's own ".thumbnail", `source` is a regular file, and `target` is either missing
// (`target_made` false) or a regular file. Otherwise one stderr line, and false.
bool paths_hold(const Walk& walk, const Folder& folder, const char* thumbs_path, const char* source,
                const char* target, bool target_made);

// The texts of `parts` one after the other, in a heap buffer of just their length; empty
// when it cannot be allocated.
HeapBuf join(std::initializer_list<const char*> parts);

// `name` cut at its last dot (the whole name when it has none).
HeapBuf stem_of(const char* name);

// True when the kernel takes `path` as a path argument; otherwise says so on stderr.
bool kernel_takes(const Walk& walk, const char* path);

// Says on stderr that the program of `argv` was ended; returns false.
bool report_ended(const Walk& walk, const char* const argv[]);

// How long jhead or convert may take on one file. On a 160x120 thumbnail they take
// milliseconds; one still running after this is stuck on a hostile file.
inline constexpr unsigned kProgramLimit = 60;

// Starts the program words[0] with the arguments that follow, without a shell, and waits at
// most kProgramLimit seconds; its stdout goes to /dev/null when `quiet`. False, with one
// stderr line, when it had to be ended.
template <typename... Words>
bool start(const Walk& walk, bool quiet, Words... words)
{
    const char* const argv[] = {words..., nullptr};
    return host::get().run(argv, quiet, kProgramLimit) != kRunTimedOut || report_ended(walk, argv);
}

} // namespace tarnvel::thumbnail
