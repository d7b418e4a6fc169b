// The process listing /var/ps as find_pid reads it, in pieces of at most 149 characters: any
// bytes, any length. The input is the pattern, a NUL, then the listing.
#include "fuzz_host.h"
#include "web/process.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const tarnvel::test::FakeHost& host = tarnvel::fuzz::fresh_host();
    const std::string input = tarnvel::fuzz::text(data, size);
    const std::size_t cut = input.find('\0');
    const std::string pattern = input.substr(0, cut);
    host.write("/var/ps", cut == std::string::npos ? std::string() : input.substr(cut + 1));
    // A process id is never negative.
    if (tarnvel::find_pid(pattern.c_str()) < 0) std::abort();
    return 0;
}
