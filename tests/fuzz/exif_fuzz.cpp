// The first bytes of a photo on the shared disk, as the thumbnail runs read them to decide
// whether jhead could find an embedded thumbnail, and a thumbnail as they read it to decide
// whether it is whole: any bytes, read in the pieces the checks ask for. The checks must never
// read outside what they were given.
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
    tarnvel::thumbnail::read_header(read_at, &bytes);
    tarnvel::thumbnail::whole_jpeg(read_at, &bytes);
    return 0;
}
