// Read-throughput diagnostics, run by hand on the device: how fast a flash partition, a disk
// or a file reads in large blocks, and how the free memory moves meanwhile; and a flush of a
// flash device's buffers. The statistics lines keep the widths the device has always printed;
// figures that are wider on a 64-bit host are printed whole.
#include "flash/throughput.h"

#include "common/fixed.h"
#include "common/host.h"
#include "common/platform.h"
#include "common/text.h"
#include "flash/hexdump.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sys/sysinfo.h>
#include <unistd.h>

namespace tarnvel {
namespace {

constexpr std::size_t kSmallestBlock = 1024; // the block of a length 0
// A negative length asks for the free memory less this much...
constexpr unsigned long long kLeaveFree = 0x100000;
// ...or less this much when no more than kLeaveFree is free.
constexpr unsigned long long kLeaveFreeLow = 102400;
constexpr ssize_t kDumpLength = 255;
constexpr std::size_t kFilePiece = 1024;

// The clock and memory figures of one read_mtd_part run. The system information record lives
// on the caller's stack: on a 64-bit host its padding is an empty array, which cannot be a member.
struct Stats {
    struct sysinfo& sys_info;
    long long previous = 0;
    long long elapsed = 0;
    unsigned long long free_at_start = 0;
};

// The part the opening and closing lines share: a time, the uptime and the memory figures.
void print_memory(long long when, const struct sysinfo& info)
{
    const unsigned long long free = info.freeram;
    const unsigned long long total = info.totalram;
    std::printf("%lld uptime:%06lld memory:%010llu/%010llu %07lluK/%07lluK %03lluM/%03lluM", when,
                static_cast<long long>(info.uptime), free, total, free >> 10, total >> 10, free >> 20, total >> 20);
}

// The block length that `arg` asks for: its number; for a negative number the free memory
// less kLeaveFree (kLeaveFreeLow when no more than kLeaveFree is free), which is negative when
// even that is not free; `length` unchanged for 0 or no number. False for a number out of range.
bool asked_length(const char* arg, unsigned long long free, long long& length)
{
    errno = 0;
    const long long v = std::strtoll(arg, nullptr, 10);
    if (errno == ERANGE) return false;
    if (v < 0)
        length = free > kLeaveFree ? static_cast<long long>(free - kLeaveFree)
                                   : static_cast<long long>(free) - static_cast<long long>(kLeaveFreeLow);
    else if (v > 0)
        length = v;
    return true;
}

void print_read(ssize_t got, unsigned long long total, long long now, long long step, const Stats& stats)
{
    const unsigned long long free = stats.sys_info.freeram;
    std::printf("read:%08zd(%05zdK[%02zdM]) %018llu(%015lluK[%012lluM]) %010lld %02lld %08lld %06lld mem:%010llu %010lld\n",
                got, got >> 10, got >> 20, total, total >> 10, total >> 20, now, step, stats.elapsed,
                static_cast<long long>(stats.sys_info.uptime), free,
                static_cast<long long>(free) - static_cast<long long>(stats.free_at_start));
}

// Reads `fd` block by block until the end, an error, or the first block under READ_ONCE.
void read_blocks(const UniqueFd& fd, const HeapBuf& buf, const char* path, unsigned flags, Stats& stats)
{
    unsigned long long total = 0;
    for (;;) {
        const ssize_t got = ::read(fd.get(), buf.get(), buf.size());
        if (got == 0) std::printf("read:%zd\n", got);
        if (got <= 0) return;
        total += static_cast<unsigned long long>(got);
        if (flags & READ_STATS) {
            const long long now = host::get().now();
            const long long step = now - stats.previous;
            stats.elapsed += step;
            host::get().sysinfo(&stats.sys_info);
            print_read(got, total, now, step, stats);
            stats.previous = now;
        }
        // Only the bytes this read brought, never past them into what an earlier read left.
        if (flags & READ_DUMP)
            dump_h(path, buf.get(), nullptr, static_cast<std::uint32_t>(std::min(got, kDumpLength)),
                   DUMP_TRAIL_NEWLINE, 0);
        if (flags & READ_ONCE) return;
    }
}

} // namespace

int read_mtd_part(const char* path, std::uint32_t len, unsigned flags, char** argv)
{
    struct sysinfo sys_info {};
    Stats stats{sys_info};
    stats.previous = host::get().now();
    const bool started = host::get().sysinfo(&stats.sys_info) == 0;
    stats.free_at_start = stats.sys_info.freeram;

    // Held whole: a length that no block can have is refused rather than wrapped.
    long long length = len;
    if (argv != nullptr && argv[2] != nullptr) {
        if (!asked_length(argv[2], stats.free_at_start, length)) {
            refuse("%s: the block length asked for is out of range", path);
            return 0;
        }
        std::printf("len:%lld\n", length);
    }
    if (length < 0 || static_cast<unsigned long long>(length) > SIZE_MAX) {
        refuse("%s: no block of %lld bytes can be had", path, length);
        return 0;
    }
    const std::size_t block = length != 0 ? static_cast<std::size_t>(length) : kSmallestBlock;

    if ((flags & READ_STATS) && started) {
        print_memory(stats.previous, stats.sys_info);
        std::printf(" buf:%zu(%zuK[%zuM])\n", block, block >> 10, block >> 20);
    }
    {
        HeapBuf buf(block);
        if (!buf) return 0;
        UniqueFd fd = open_fixed(path, platform::kReadNonBlock);
        if (fd.valid()) read_blocks(fd, buf, path, flags, stats);
    }
    if (host::get().sysinfo(&stats.sys_info) == 0 && (flags & READ_STATS)) {
        print_memory(stats.previous, stats.sys_info);
        std::printf("\n");
    }
    return 0;
}

long long read_file(const char* path)
{
    HeapBuf buf(kFilePiece);
    if (!buf) {
        std::printf("memory error\n");
        return 0;
    }
    UniqueFd file = open_fixed(path, O_RDONLY | O_CLOEXEC);
    if (!file.valid()) return 0;
    long long total = 0;
    for (;;) {
        const std::size_t got = read_full(file.get(), buf.get(), buf.size());
        if (got == 0) break;
        total += static_cast<long long>(got);
        std::printf("cnt:%lld\n", total);
    }
    return total;
}

void flash(const char* path)
{
    UniqueFd fd = open_fixed(path, platform::kReadNonBlock);
    if (!fd.valid()) return;
    // The MTD information is asked for and not looked at; the flush is made whatever it says.
    mtd_info_user info{};
    host::get().ioctl(fd.get(), platform::kMemGetInfo, &info);
    host::get().ioctl(fd.get(), platform::kBlkFlsBuf, nullptr);
}

} // namespace tarnvel
