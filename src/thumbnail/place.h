// Putting a finished thumbnail on the disk, whole or not at all.
#pragma once

#include "thumbnail/walk.h"

namespace tarnvel::thumbnail {

// Copies the finished thumbnail `work` (a file of the device's own) into the folder's open
// thumbnail folder as `name`. True when it stands there whole; false when `work` is missing
// or empty (nothing was made), or, with one stderr line, when it is no whole JPEG or could not
// be written. The rename reaches the card when the walk closes the thumbnail folder.
bool place_thumbnail(const Walk& walk, Folder& folder, const char* name, const char* work);

// Removes from the open thumbnail folder `thumbs` the temporary file that a thumbnail passes
// through, which a card pulled at the wrong moment keeps.
void drop_leftover(int thumbs);

// Copies `size` bytes of `from`, from where it stands, to `to`: true when every one was read
// and written.
bool copy_bytes(int from, int to, off_t size);

// Removes the temporary file of the placement under way, if any; safe in a signal handler.
void drop_placing();

} // namespace tarnvel::thumbnail
