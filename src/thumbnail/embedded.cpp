// Most photos on a shared disk that have no thumbnail yet never will: edited photos and
// images saved from the web carry no Exif thumbnail. Starting jhead for each of them on every
// "-m" run costs the device's slow core seconds for nothing. This reads what jhead reads (the
// JPEG segments up to the image data, and the Exif segments among them) and says "none" only
// for a JPEG in which jhead finds nothing for certain; anything else (a document, a file that
// is no JPEG, anything unexpected) is a "maybe", and jhead decides.
//
// jhead takes a thumbnail from any Exif directory entry with tag 0x0201 (its offset) whose
// value, counted from the TIFF header, lies inside the Exif segment. Rather than follow the
// directory links the way jhead does, every place in the segment where such an entry could
// stand is looked at, in the segment's byte order: no directory jhead reaches is missed.
#include "thumbnail/embedded.h"

#include <cstring>
#include <initializer_list>
#include <unistd.h>

namespace tarnvel::thumbnail {
namespace {

constexpr unsigned char kMarker = 0xFF;
constexpr unsigned char kStartOfImage = 0xD8;
constexpr unsigned char kStartOfScan = 0xDA;
constexpr unsigned char kEndOfImage = 0xD9;
constexpr unsigned char kApp1 = 0xE1;
// Segments looked at before the answer is "maybe": real files have a handful.
constexpr unsigned kMaxSegments = 64;
constexpr std::uint16_t kThumbnailOffsetTag = 0x0201;
constexpr std::size_t kEntrySize = 12;
// "Exif\0\0", then the TIFF header from which every Exif offset counts.
constexpr std::size_t kExifHeader = 6;

// One segment body: its length field has 16 bits and counts itself.
unsigned char segment[0xFFFF];

struct Order {
    bool big;
    std::uint32_t u16(const unsigned char* p) const
    {
        return big ? static_cast<std::uint32_t>(p[0] << 8 | p[1]) : static_cast<std::uint32_t>(p[1] << 8 | p[0]);
    }
    std::uint32_t u32(const unsigned char* p) const
    {
        return big ? (u16(p) << 16 | u16(p + 2)) : (u16(p + 2) << 16 | u16(p));
    }
};

// Whether the thumbnail-offset entry at `e` can make jhead save a thumbnail from a TIFF block
// of `length` bytes. Values jhead would read through a pointer, as a fraction or as a float
// are not worked out: they count as a thumbnail.
bool entry_points_inside(const unsigned char* e, std::size_t length, Order order)
{
    static constexpr unsigned kFormatSize[] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8};
    const std::uint32_t format = order.u16(e + 2);
    const std::uint32_t count = order.u32(e + 4);
    // jhead skips an entry of no known format or of more than 0x10000 values.
    if (format == 0 || format >= sizeof kFormatSize / sizeof kFormatSize[0] || count > 0x10000) return false;
    if (count > 4 || count * kFormatSize[format] > 4) return true;
    const unsigned char* v = e + 8;
    std::int64_t value = 0;
    switch (format) {
    case 1: value = v[0]; break;
    case 3: value = order.u16(v); break;
    case 4: value = order.u32(v); break;
    case 6: value = v[0] < 0x80 ? v[0] : v[0] - 256; break;
    case 8: value = static_cast<std::int16_t>(order.u16(v)); break;
    case 9: value = static_cast<std::int32_t>(order.u32(v)); break;
    default: return true;
    }
    // jhead keeps the offset in an int: one with the top bit set passes its bounds check.
    return value < 0 || value > INT32_MAX || (value != 0 && value <= static_cast<std::int64_t>(length));
}

bool exif_offers_thumbnail(const unsigned char* tiff, std::size_t length)
{
    const bool intel = tiff[0] == 'I' && tiff[1] == 'I';
    const bool motorola = tiff[0] == 'M' && tiff[1] == 'M';
    for (const Order order : {Order{true}, Order{false}}) {
        if ((order.big && intel) || (!order.big && motorola)) continue;
        for (std::size_t at = 0; at + kEntrySize <= length; ++at) {
            if (order.u16(tiff + at) == kThumbnailOffsetTag && entry_points_inside(tiff + at, length, order))
                return true;
        }
    }
    return false;
}

long pread_at(void* source, std::uint32_t offset, unsigned char* buf, std::size_t size)
{
    const int fd = *static_cast<int*>(source);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::pread(fd, buf + done, size - done, static_cast<off_t>(offset) + static_cast<off_t>(done));
        if (n < 0) return -1;
        if (n == 0) break;
        done += static_cast<std::size_t>(n);
    }
    return static_cast<long>(done);
}

} // namespace

Header read_header(ReadAt read_at, void* source)
{
    Header header{Embedded::maybe, false, kUnknown};
    unsigned char head[4];
    const long start = read_at(source, 0, head, 2);
    if (start < 0) return header;
    // Not a JPEG: jhead says so from its first two bytes; whether the jhead in place makes
    // something of it is its own affair.
    if (start < 2 || head[0] != kMarker || head[1] != kStartOfImage) {
        header.read = static_cast<std::uint32_t>(start);
        return header;
    }
    header.jpeg = true;
    // Whether an Exif segment met so far may give jhead a thumbnail.
    bool offers = false;
    std::uint32_t at = 2;
    for (unsigned seen = 0; seen < kMaxSegments; ++seen) {
        const long got = read_at(source, at, head, sizeof head);
        if (got < 0) return header;
        // jhead skips stray bytes between segments; that is no file to be sure about.
        if (got >= 2 && head[0] != kMarker) return header;
        if (got >= 2 && head[1] == kMarker) { // a fill byte
            ++at;
            continue;
        }
        // The end of the file, or the image data (or its end) follows: jhead has read every
        // Exif segment there is, and stops at the end of the file with nothing saved.
        if (got < 4 || head[1] == kStartOfScan || head[1] == kEndOfImage) {
            if (!offers) header.thumbnail = Embedded::none;
            if (got == 4 && head[1] == kStartOfScan) header.read = at + 2 + static_cast<std::uint32_t>(head[2] << 8 | head[3]);
            return header;
        }
        const std::size_t length = static_cast<std::size_t>(head[2] << 8 | head[3]);
        if (length < 2) return header;
        const std::size_t body = length - 2;
        if (head[1] == kApp1) {
            if (read_at(source, at + 4, segment, body) != static_cast<long>(body)) return header;
            // strncmp, not memcmp: the device tool has strncmp already (the four bytes hold no NUL).
            if (body >= 4 && std::strncmp(reinterpret_cast<const char*>(segment), "Exif", 4) == 0) {
                offers = offers || body < kExifHeader + 8 || exif_offers_thumbnail(segment + kExifHeader, body - kExifHeader);
            }
        }
        at += static_cast<std::uint32_t>(2 + length);
    }
    return header;
}

Header read_header(int fd) { return read_header(pread_at, &fd); }

bool whole_jpeg(ReadAt read_at, void* source)
{
    const Header header = read_header(read_at, source);
    if (!header.jpeg || header.read == kUnknown) return false;
    std::uint32_t at = header.read;
    // Entropy-coded data holds no marker but restarts (a 0xFF in it is followed by 0x00): the
    // first end-of-image marker after the scan's header ends the image.
    unsigned char before = 0;
    while (const long got = read_at(source, at, segment, sizeof segment)) {
        if (got < 0) return false;
        for (long i = 0; i < got; ++i) {
            if (before == kMarker && segment[i] == kEndOfImage) return true;
            before = segment[i];
        }
        at += static_cast<std::uint32_t>(got);
    }
    return false;
}

bool whole_jpeg(int fd) { return whole_jpeg(pread_at, &fd); }

} // namespace tarnvel::thumbnail
