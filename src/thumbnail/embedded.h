// What a JPEG's segments say before its image data: whether a source can give jhead an
// embedded Exif thumbnail, read before any program is started for it; and whether a thumbnail
// is a whole JPEG before it is placed.
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

// What a file's segments say, read as jhead reads them up to the image data.
struct Header {
    Embedded thumbnail;
    // Where the image data begins: just past the start-of-scan segment, when the segments lead
    // to one as jhead reads them (its length may run past the end of the file); else 0.
    std::uint32_t scan;
};

// The header of the bytes that `read_at` gives. Reads the segment headers and each Exif
// segment (at most 64 KiB) into one fixed buffer; safe on any bytes.
Header read_header(ReadAt read_at, void* source);

// The thumbnail answer alone, for the bytes that `read_at` gives, and for the open file `fd`
// (read with pread; its offset is left alone).
Embedded embedded_thumbnail(ReadAt read_at, void* source);
Embedded embedded_thumbnail(int fd);

// Whether the bytes are a whole JPEG: from the start-of-image marker, segments whose lengths
// fit lead to a start of scan, and an end-of-image marker follows it (anything may follow that:
// many cameras pad their thumbnails). A JPEG cut short anywhere is not whole.
bool whole_jpeg(ReadAt read_at, void* source);
bool whole_jpeg(int fd);

} // namespace tarnvel::thumbnail
