// JPEG files as cameras write them, cut down to what jhead reads: the start of image, an
// optional JFIF segment, an Exif segment whose first directory links to a second one holding
// the thumbnail's offset and length, the thumbnail, and the start of the image data.
#pragma once

#include <cstdint>
#include <string>

namespace tarnvel::test {

struct Jpeg {
    bool big_endian = true;
    bool jfif_first = false;
    bool thumbnail = true;
    // Added to the thumbnail's true offset (to point it past the Exif segment).
    std::uint32_t offset_shift = 0;
    // The number of values the thumbnail-offset entry claims.
    std::uint32_t offset_count = 1;
};

inline std::string jpeg_file(const Jpeg& j)
{
    auto u16 = [&](std::uint32_t v) {
        return j.big_endian ? std::string{char(v >> 8), char(v)} : std::string{char(v), char(v >> 8)};
    };
    auto u32 = [&](std::uint32_t v) {
        return j.big_endian ? u16(v >> 16) + u16(v & 0xFFFF) : u16(v & 0xFFFF) + u16(v >> 16);
    };
    auto entry = [&](std::uint32_t tag, std::uint32_t format, std::uint32_t value, std::uint32_t count = 1) {
        return u16(tag) + u16(format) + u32(count) + (format == 3 ? u16(value) + u16(0) : u32(value));
    };
    const std::string thumb = "\xFF\xD8 a thumbnail \xFF\xD9";
    std::string tiff = (j.big_endian ? "MM" : "II") + u16(42) + u32(8);
    tiff += u16(1) + entry(0x0112, 3, 1) + u32(j.thumbnail ? 26 : 0); // orientation; link to the second
    if (j.thumbnail) {
        tiff += u16(2) + entry(0x0201, 4, 56 + j.offset_shift, j.offset_count) + entry(0x0202, 4, std::uint32_t(thumb.size())) + u32(0);
        tiff += thumb;
    }
    auto segment = [](char marker, const std::string& body) {
        const std::size_t n = body.size() + 2;
        return std::string{'\xFF', marker, char(n >> 8), char(n)} + body;
    };
    std::string file = "\xFF\xD8";
    if (j.jfif_first) file += segment('\xE0', std::string("JFIF\0\1\1\0\0\1\0\1\0\0", 14));
    file += segment('\xE1', std::string("Exif\0\0", 6) + tiff);
    file += segment('\xDA', std::string("\1\1\0\0\x3F\0", 6)) + "scan data\xFF\xD9";
    return file;
}

} // namespace tarnvel::test
