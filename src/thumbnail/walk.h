// The depth-first walk that the thumbnail operations share, and what its source steps use.
#pragma once

#include "common/host.h"
#include "common/owners.h"
#include "common/run.h"

#include <initializer_list>

namespace tarnvel::thumbnail {

// The folder being read, as the source step sees it.
struct Folder {
    // Its path as the walk reached it, for messages only: no program and no system call is
    // given it. It holds while the folder's own entries are handled.
    const char* path;
    // The open folder: every look at the disk, and every program, starts from it, so a folder
    // renamed or swapped for a link meanwhile cannot send the tool elsewhere.
    int fd;
    // The folder it was entered from; null in the folder the walk started at.
    const Folder* parent;
    // Its ".thumbnail" folder, once the source step has asked for it. The walk closes it
    // before it goes deeper (a descriptor a level would run short on deep trees).
    enum class Thumbs { unknown, open, refused } thumbs_state;
    UniqueFd thumbs;
    // A program failed to start here, and that was said: once is enough for a folder.
    bool start_failed;
    // Changes to flush to the card before the thumbnail folder is closed, so that a power cut
    // leaves no thumbnail (nor the thumbnail folder) where the card's check would put it in
    // lost+found or in the card's root: thumbnails renamed into the thumbnail folder, and the
    // thumbnail folder made in this one.
    bool renamed = false;
    bool made = false;
};

struct Walk {
    // The option the walk serves ("-e", "-m"), for refusals.
    const char* option;
    // Extension table handed to chk_name.
    const char* const* extensions;
    // The cleanup enters ".thumbnail" folders; the generators never do. The cleanup walks the
    // tree the generator has just walked, so it does not name again a folder passed over.
    bool cleanup;
    // The caller's with_pdf, for the source step to read.
    int with_pdf;
    // Called for each regular file of class NAME_PHOTO or above, with the entry's name.
    void (*source)(const Walk& walk, Folder& folder, const char* name, int code);
    // Set by walk_tree: the device's own /var/tmp, held open, where the programs work and
    // where a program that reads nothing on the disk starts; and in it this run's files (see
    // make_work_file): the work file "tarnvel.PID.jpg" and the copy of a source's header that
    // jhead reads, "tarnvel.PID.src.jpg".
    int tmp;
    const char* work;
    const char* head;
};

// Walks the folder argv[2] depth-first in directory order: regular files that are sources go
// to walk.source; every other entry that is not hidden or skipped is entered when it is a
// real folder (an entry whose type the file system does not tell is looked at first). A
// symbolic link is never followed, wherever it points; a folder met again (a bind mount of
// an ancestor) is not entered again. Memory and descriptors grow by a small constant a
// level; a folder whose path would not fit PATH_MAX, or that cannot be opened for lack of
// descriptors, is passed over with one stderr line. Returns 0 when argv[2] is missing or
// does not open, else the result of closing it.
//
// Thumbnail runs on the device take turns: a script and a person may start them at once, and
// on its one slow core a second run gains nothing beside the first. The walk holds a lock on
// /var/tmp for all its work (a run that waits says nothing), so what it finds there named as
// a run's work file, and any temporary file in a thumbnail folder, was left by a run that is
// gone, and goes. SIGTERM, SIGINT and SIGHUP end it cleanly: the program it waits for ended,
// its work files and the temporary file it was writing removed.
int walk_tree(char** argv, Walk walk);

// Opens `folder`'s ".thumbnail", making it first (mode 0777 less the umask) when it is
// missing. False when what stands there is not a real folder, or it cannot be made or opened:
// then one stderr line says so, once for the folder, and the source step leaves it alone.
bool open_thumbnails(const Walk& walk, Folder& folder);

// Whether the thumbnail folder holds an entry `name` that counts as made: anything but a
// regular file of 0 bytes (which a full or pulled card cut short). A link counts: nothing is
// ever written over it.
bool thumbnail_present(const Folder& folder, const char* name);

// The texts of `parts` one after the other, in a heap buffer of just their length; empty
// when it cannot be allocated.
HeapBuf join(std::initializer_list<const char*> parts);

// `name` cut at its last dot (the whole name when it has none).
HeapBuf stem_of(const char* name);

// Makes the work file `path` (walk.work or walk.head) anew, empty and exclusively this run's (a
// link or a file put there by anyone else is not written through), open for writing. Not
// valid, with one stderr line, when it cannot be made.
UniqueFd make_work_file(const Walk& walk, const char* path);

// Says on stderr why `program` came to no end on the folder's file `name`: ended at its
// time bound (`status` kRunTimedOut), or not started (-1, errno saying why; once a folder).
void report_unfinished(const Walk& walk, Folder& folder, const char* program, const char* name, int status);

// How long jhead or convert may take on one file. On a 160x120 thumbnail they take
// milliseconds; one still running after this is stuck on a hostile file.
inline constexpr unsigned kProgramLimit = 60;

// Starts the program words[0] with the arguments that follow, without a shell, in the open
// folder `where` (the disk's `folder` when it reads the source there as "./NAME", walk.tmp
// when it reads nothing on the disk), and waits at most kProgramLimit seconds; its stdout
// goes to /dev/null when `quiet`. True when it ran to the end with exit status 0; one stderr
// line when it had to be ended or could not be started. `name` is the folder's entry it works
// on, for that line.
template <typename... Words>
bool start(const Walk& walk, Folder& folder, const char* name, int where, bool quiet, Words... words)
{
    const char* const argv[] = {words..., nullptr};
    const int status = host::get().run(argv, quiet, kProgramLimit, where);
    if (status != 0) report_unfinished(walk, folder, argv[0], name, status);
    return status == 0;
}

} // namespace tarnvel::thumbnail
