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

// What a file's first bytes say, read as jhead reads them.
struct Header {
    Embedded thumbnail;
    // Whether the file begins as a JPEG does.
    bool jpeg;
    // How many of its first bytes jhead reads before it knows all it will say of the file: up to
    // the end of the start-of-scan segment of a JPEG (where its image data begins), the first
    // two of anything else (fewer in a shorter file); kUnknown when the segments do not lead to
    // a start of scan as jhead reads them, or the file could not be read. The length of the
    // start-of-scan segment may run past the end of the file.
    std::uint32_t read;
};
inline constexpr std::uint32_t kUnknown = 0xFFFFFFFF;

// The header of the bytes that `read_at` gives, and of the open file `fd` (read with pread;
// its offset is left alone). Reads the segment headers and each Exif segment (at most 64 KiB)
// into one fixed buffer; safe on any bytes.
Header read_header(ReadAt read_at, void* source);
Header read_header(int fd);

// Whether the bytes are a whole JPEG: from the start-of-image marker, segments whose lengths
// fit lead to a start of scan, and an end-of-image marker follows it (anything may follow that:
// many cameras pad their thumbnails). A JPEG cut short anywhere is not whole.
bool whole_jpeg(ReadAt read_at, void* source);
bool whole_jpeg(int fd);

} // namespace tarnvel::thumbnail
