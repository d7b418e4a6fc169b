// Whether a source can give jhead an embedded Exif thumbnail, read from the file's first
// segments before any program is started for it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tarnvel::thumbnail {

enum class Embedded {
    // A JPEG that jhead -st cannot extract anything from: no Exif segment before the image
    // data, or no thumbnail offset in any Exif segment that lies inside it.
    none,
    // It may hold one, it is no JPEG, or it could not be read to the end of its headers: ask
    // jhead.
    maybe,
};

// Reads up to `size` bytes at `offset` of `source` into `buf`: the count read, 0 at the end,
// -1 on an error.
using ReadAt = long (*)(void* source, std::uint32_t offset, unsigned char* buf, std::size_t size);

// The answer for the bytes that `read_at` gives. Reads the segment headers and each Exif
// segment (at most 64 KiB) into one fixed buffer; safe on any bytes.
Embedded embedded_thumbnail(ReadAt read_at, void* source);

// The answer for the open file `fd` (read with pread; its offset is left alone).
Embedded embedded_thumbnail(int fd);

} // namespace tarnvel::thumbnail
