// Hex dump of a memory range, as the diagnostics print raw device bytes: a header with the
// range, then rows of 16 bytes with address, index (hex and decimal), grouped hex bytes and
// the printable characters.
#include "flash/hexdump.h"

#include <cstddef>
#include <cstdio>

namespace tarnvel {

void dump_h(const char* name, const void* start, const void* end, std::uint32_t len, std::uint8_t flags,
            int skip)
{
    if (start == nullptr) return;
    if (flags & DUMP_LEAD_NEWLINE) std::printf("\n");

    const auto* first = static_cast<const unsigned char*>(start);
    const unsigned char* stop = end != nullptr ? static_cast<const unsigned char*>(end)
                                               : first + (len != 0 ? len : 32);
    std::printf("dump %s %p-%p len:%u flag:%u\n", name != nullptr ? name : "", start,
                static_cast<const void*>(stop), static_cast<unsigned>(len), static_cast<unsigned>(flags));

    // Offsets rather than pointers, so a row jump past the end never forms a wild pointer.
    // A jump below one row would walk backwards or in place for ever: such a skip means rows
    // that follow each other.
    const std::size_t total = stop > first ? static_cast<std::size_t>(stop - first) : 0;
    const std::size_t jump = skip > 16 ? static_cast<std::size_t>(skip) - 16 : 0;
    char text[17] = {};
    std::uint32_t i = 0;
    std::size_t off = 0;
    while (off < total) {
        const unsigned char byte = first[off];
        const unsigned p = i % 16;
        text[p] = (byte >= 0x20 && byte <= 0x7E) ? static_cast<char>(byte) : '.';
        text[p + 1] = '\0';
        switch (p) {
        case 0:
            std::printf("%p:%08X(%010u) %02X ", static_cast<const void*>(first + off), i, i, byte);
            break;
        case 15:
            std::printf("%02X %s\n", byte, text);
            text[0] = '\0';
            off += jump;
            i += static_cast<std::uint32_t>(jump);
            break;
        case 7:
            std::printf("%02X:", byte);
            break;
        case 3:
        case 11:
            std::printf("%02X-", byte);
            break;
        default:
            std::printf("%02X ", byte);
            break;
        }
        ++off;
        ++i;
    }
    for (unsigned r = i % 16; r != 0 && r < 16; ++r) std::printf("   ");
    std::printf("%s", text);
    if (flags & DUMP_TRAIL_NEWLINE) std::printf("\n");
}

} // namespace tarnvel
