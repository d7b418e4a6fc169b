// The first bytes of a photo on the shared disk, as the thumbnail runs read them to decide
// whether jhead could find an embedded thumbnail: any bytes, read in the pieces the check
// asks for. The check must never read outside what it was given.
#include "thumbnail/embedded.h"

#include <cstring>

namespace {

struct Bytes {
    const std::uint8_t* data;
    std::size_t size;
};

long read_at(void* source, std::uint32_t offset, unsigned char* buf, std::size_t size)
{
    const Bytes& bytes = *static_cast<Bytes*>(source);
    if (offset >= bytes.size) return 0;
    const std::size_t n = size < bytes.size - offset ? size : bytes.size - offset;
    std::memcpy(buf, bytes.data + offset, n);
    return static_cast<long>(n);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Bytes bytes{data, size};
    tarnvel::thumbnail::embedded_thumbnail(read_at, &bytes);
    return 0;
}
