#pragma once

#include <cstddef>

namespace tarnvel {

enum class Append {
    done,        // every byte is in the file
    not_opened,  // the file could not be opened or created (errno says why)
    not_written, // it opened, but not every byte could be written; nothing was kept
};

// Appends `len` bytes of `data` to the fixed file `logical`, which is created when missing
// with mode 0666 less the umask (as the shell's ">>" creates it). A write cut short by a full
// file system is taken back, so the file never keeps half a record.
Append append_whole(const char* logical, const char* data, std::size_t len);

} // namespace tarnvel
