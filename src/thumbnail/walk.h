// The depth-first walk that the thumbnail operations share, and the paths they build on it.
#pragma once

#include "common/host.h"
#include "common/owners.h"

#include <initializer_list>

namespace tarnvel::thumbnail {

// The folder being read, as the source step sees it.
struct Folder {
    // Its path as the walk reached it.
    const char* path;
    // True in the folder the walk started at.
    bool top;
    // Set by the source step once it has found the folder's ".thumbnail" folder, so that a
    // folder of many photos is not asked again for each one.
    bool thumbnails_present;
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
// to walk.source; every other entry that is not hidden or skipped is walked as a folder
// (what does not open as one is passed over). A folder met again through a link to itself
// or to one of its ancestors is not entered again. Returns 0 when argv[2] is missing or does
// not open, else closedir's result.
int walk_tree(char** argv, const Walk& walk);

// The texts of `parts` one after the other, in a heap buffer of just their length; empty
// when it cannot be allocated.
HeapBuf join(std::initializer_list<const char*> parts);

// `name` cut at its last dot (the whole name when it has none).
HeapBuf stem_of(const char* name);

// True when the kernel takes `path` as a path argument; otherwise says so on stderr.
bool kernel_takes(const Walk& walk, const char* path);

// True when stat() finds `path` (following links).
bool exists(const char* path);

// Starts the program words[0] with the arguments that follow, without a shell, and waits;
// its stdout goes to /dev/null when `quiet`.
template <typename... Words>
void start(bool quiet, Words... words)
{
    const char* const argv[] = {words..., nullptr};
    host::get().run(argv, quiet);
}

} // namespace tarnvel::thumbnail
