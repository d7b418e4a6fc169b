#include "common/platform.h"
#include "fake_host.h"
#include "flash/throughput.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <sys/sysinfo.h>
#include <vector>

using namespace tarnvel;
using tarnvel::test::Argv;
using tarnvel::test::capture_stderr;
using tarnvel::test::capture_stdout;
using tarnvel::test::FakeHost;

namespace {

constexpr time_t kStart = 1'700'000'000;

// A device whose clock runs 3 s per sysinfo call, whose uptime counts along, and whose free
// memory falls by 4 KiB per call from `free`. Calls listed in `failing` (1 for the first)
// fail.
struct Device {
    FakeHost host;
    unsigned long long free;
    std::vector<int> failing;
    int calls = 0;
    explicit Device(unsigned long long free_at_start = 0x1000000) : free(free_at_start)
    {
        host.clock = kStart;
        host.on_sysinfo = [this](struct sysinfo* info) {
            ++calls;
            for (int n : failing)
                if (n == calls) return -1;
            *info = {};
            info->uptime = 97 + 3 * calls;
            info->totalram = 0x2000000;
            info->freeram = static_cast<decltype(info->freeram)>(free - 4096ull * static_cast<unsigned>(calls - 1));
            info->mem_unit = 1;
            host.clock += 3;
            return 0;
        };
    }
};

std::string read_part(const char* path, std::uint32_t len, unsigned flags, char** argv = nullptr,
                      std::string* err = nullptr)
{
    std::string out;
    std::string e = capture_stderr([&] { out = capture_stdout([&] { EXPECT_EQ(read_mtd_part(path, len, flags, argv), 0); }); });
    if (err) *err = e;
    return out;
}

} // namespace

TEST(Throughput, OneReadWithStatistics)
{
    Device d;
    d.host.write("/dev/mtdblock0", std::string(5000, 'm'));
    EXPECT_EQ(read_part("/dev/mtdblock0", 0x400000, READ_STATS | READ_ONCE),
              "1700000000 uptime:000100 memory:0016777216/0033554432 0016384K/0032768K 016M/032M buf:4194304(4096K[4M])\n"
              "read:00005000(00004K[00M]) 000000000000005000(000000000000004K[000000000000M]) 1700000003 03 00000003 000103 mem:0016773120 -000004096\n"
              "1700000003 uptime:000106 memory:0016769024/0033554432 0016376K/0032768K 015M/032M\n");
}

TEST(Throughput, ReadsToTheEndInBlocksOfLengthZeroMeaning1024)
{
    Device d;
    d.host.write("/dev/sda", std::string(2500, 's'));
    const std::string out = read_part("/dev/sda", 0, READ_STATS);
    EXPECT_NE(out.find(" buf:1024(1K[0M])\n"), std::string::npos) << out;
    EXPECT_NE(out.find("\nread:00001024(00001K[00M]) 000000000000001024(000000000000001K[000000000000M]) 1700000003 03 00000003 "), std::string::npos) << out;
    EXPECT_NE(out.find("\nread:00001024(00001K[00M]) 000000000000002048(000000000000002K[000000000000M]) 1700000006 03 00000006 "), std::string::npos) << out;
    EXPECT_NE(out.find("\nread:00000452(00000K[00M]) 000000000000002500(000000000000002K[000000000000M]) 1700000009 03 00000009 "), std::string::npos) << out;
    // The end of the data, then the closing line with the time of the last read.
    EXPECT_NE(out.find(" -000012288\nread:0\n1700000009 uptime:000112 "), std::string::npos) << out;
}

TEST(Throughput, WithoutStatisticsOnlyTheEndShows)
{
    struct Case {
        std::size_t size;
        unsigned flags;
        const char* out;
    };
    const Case cases[] = {
        {3000, 0, "read:0\n"},
        {0, 0, "read:0\n"},
        {3000, READ_ONCE, ""},
        {0, READ_ONCE, "read:0\n"},
    };
    for (const Case& c : cases) {
        Device d;
        d.host.write("/dev/sda", std::string(c.size, 's'));
        EXPECT_EQ(read_part("/dev/sda", 0, c.flags), c.out) << c.size << " " << c.flags;
    }
}

TEST(Throughput, FailedSysinfoCallsDropTheirLines)
{
    struct Case {
        std::vector<int> failing;
        bool opening;
        bool closing;
        std::size_t reads;
    };
    const Case cases[] = {
        {{}, true, true, 1},
        {{1}, false, true, 1},
        {{3}, true, false, 1},
        {{2}, true, true, 1}, // the per-read line does not look at its call's result
        {{1, 2, 3}, false, false, 1},
    };
    for (const Case& c : cases) {
        Device d;
        d.failing = c.failing;
        d.host.write("/dev/mtdblock0", std::string(100, 'm'));
        const std::string out = read_part("/dev/mtdblock0", 0x400000, READ_STATS | READ_ONCE);
        EXPECT_EQ(out.rfind("1700000000 uptime:", 0) == 0, c.opening) << out;
        EXPECT_EQ(out.find(" uptime:", out.find("\nread:") + 1) != std::string::npos, c.closing) << out;
        EXPECT_EQ(out.find("read:00000100("), c.opening ? out.find('\n') + 1 : 0) << out;
    }
}

TEST(Throughput, AMissingDeviceGivesTheOpeningAndClosingLinesOnly)
{
    Device d;
    const std::string out = read_part("/dev/sda", 0x1000000, READ_STATS);
    EXPECT_EQ(out,
              "1700000000 uptime:000100 memory:0016777216/0033554432 0016384K/0032768K 016M/032M buf:16777216(16384K[16M])\n"
              "1700000000 uptime:000103 memory:0016773120/0033554432 0016380K/0032768K 015M/032M\n");
}

TEST(Throughput, TheParameterSetsTheBlockLength)
{
    struct Case {
        const char* arg;
        unsigned long long free;
        const char* len; // the "len:" line, or null for none
        const char* buf; // the block in the opening line, or null for no opening line
        bool refused;
    };
    const Case cases[] = {
        {"0", 0x1000000, "len:16777216\n", "buf:16777216(16384K[16M])", false},
        {"abc", 0x1000000, "len:16777216\n", "buf:16777216(16384K[16M])", false},
        {"4096", 0x1000000, "len:4096\n", "buf:4096(4K[0M])", false},
        {"12ab", 0x1000000, "len:12\n", "buf:12(0K[0M])", false},
        {"-1", 0x1000000, "len:15728640\n", "buf:15728640(15360K[15M])", false},
        {"-7", 0x100000, "len:946176\n", "buf:946176(924K[0M])", false},
        {"-1", 102400, "len:0\n", "buf:1024(1K[0M])", false},
        // Less than 100 KiB free: no block at all, said so instead of wrapping the length.
        {"-1", 50000, "len:-52400\n", nullptr, true},
        {"99999999999999999999", 0x1000000, nullptr, nullptr, true},
        {"-99999999999999999999", 0x1000000, nullptr, nullptr, true},
    };
    for (const Case& c : cases) {
        Device d(c.free);
        d.host.write("/dev/sda", std::string(10, 's'));
        Argv argv({"-7", c.arg});
        std::string err;
        const std::string out = read_part("/dev/sda", 0x1000000, READ_STATS, argv.get(), &err);
        std::string want = c.len ? c.len : "";
        EXPECT_EQ(out.substr(0, want.size()), want) << c.arg;
        if (c.buf) {
            EXPECT_NE(out.find(std::string(c.buf) + "\nread:00000010("), std::string::npos) << c.arg << "\n" << out;
        } else {
            EXPECT_EQ(out, want) << c.arg;
        }
        EXPECT_EQ(err.rfind("tarnvel: /dev/sda: ", 0) == 0, c.refused) << err;
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), c.refused ? 1 : 0) << err;
    }
}

TEST(Throughput, NoParameterKeepsTheLengthSilently)
{
    Device d;
    d.host.write("/dev/sda", std::string(10, 's'));
    Argv argv({"-7"});
    const std::string out = read_part("/dev/sda", 0x1000000, READ_STATS, argv.get());
    EXPECT_EQ(out.rfind("1700000000 uptime:", 0), 0u) << out;
    EXPECT_NE(out.find("buf:16777216(16384K[16M])"), std::string::npos);
}

// On a host whose memory figures pass 32 bits, they show whole in the device's widths, and a
// block of nearly all free memory keeps its length: 4 GiB, which 32 bits would make 0.
TEST(Throughput, WideMemoryFiguresShowWhole)
{
    struct sysinfo probe;
    if (sizeof probe.freeram < 8 || sizeof(std::size_t) < 8) GTEST_SKIP() << "32-bit memory figures";
    Device d(0x100100000ull); // 4 GiB and 1 MiB
    Argv argv({"-7", "-1"});
    // No device: the block is only allocated (and never touched), not read into.
    const std::string out = read_part("/dev/sda", 0x1000000, READ_STATS, argv.get());
    EXPECT_EQ(out,
              "len:4294967296\n"
              "1700000000 uptime:000100 memory:4296015872/0033554432 4195328K/0032768K 4097M/032M buf:4294967296(4194304K[4096M])\n"
              "1700000000 uptime:000103 memory:4296011776/0033554432 4195324K/0032768K 4096M/032M\n");
}

TEST(Throughput, DumpShowsOnlyTheBytesRead)
{
    Device d;
    std::string data;
    for (int i = 0; i < 300; ++i) data += static_cast<char>('A' + i % 26);
    struct Case {
        std::size_t size;
        std::uint32_t block;
        const char* header_len;
        std::size_t rows;
    };
    const Case cases[] = {
        {300, 4096, " len:255 flag:2\n", 16},
        {40, 4096, " len:40 flag:2\n", 3},
        {300, 100, " len:100 flag:2\n", 7},
    };
    for (const Case& c : cases) {
        d.host.write("/dev/sda", data.substr(0, c.size));
        const std::string out = read_part("/dev/sda", c.block, READ_DUMP | READ_ONCE);
        EXPECT_EQ(out.rfind("dump /dev/sda ", 0), 0u) << out;
        EXPECT_NE(out.find(c.header_len), std::string::npos) << out;
        // Header, rows, and the trailing line end.
        EXPECT_EQ(static_cast<std::size_t>(std::count(out.begin(), out.end(), '\n')), c.rows + 1) << out;
    }
}

TEST(Throughput, ReadFileCountsItsPieces)
{
    struct Case {
        std::size_t size;
        const char* out;
        long long total;
    };
    const Case cases[] = {
        {2500, "cnt:1024\ncnt:2048\ncnt:2500\n", 2500},
        {1024, "cnt:1024\n", 1024},
        {0, "", 0},
    };
    for (const Case& c : cases) {
        FakeHost host;
        host.write("/var/tmp/usb/sda1/x.exe", std::string(c.size, 'x'));
        long long total = -1;
        EXPECT_EQ(capture_stdout([&] { total = read_file("/var/tmp/usb/sda1/x.exe"); }), c.out);
        EXPECT_EQ(total, c.total);
    }
    FakeHost host;
    long long total = -1;
    EXPECT_EQ(capture_stdout([&] { total = read_file("/var/tmp/usb/sda1/x.exe"); }), "");
    EXPECT_EQ(total, 0);
}

TEST(Throughput, FlashAsksForTheMtdInformationThenFlushes)
{
    char mem[32];
    char fls[32];
    std::snprintf(mem, sizeof mem, "%#lx ", platform::kMemGetInfo);
    std::snprintf(fls, sizeof fls, "%#lx ", platform::kBlkFlsBuf);
    for (int answer : {0, -1}) {
        FakeHost host;
        host.write("/dev/mtdblock0", "flash");
        host.on_ioctl = [&](int, unsigned long, void*) { return answer; };
        EXPECT_EQ(capture_stdout([] { flash("/dev/mtdblock0"); }), "");
        const std::string dev = host.path("/dev/mtdblock0");
        EXPECT_EQ(host.ioctls, (std::vector<std::string>{mem + dev, fls + dev}));
    }
    FakeHost host;
    flash("/dev/mtdblock0");
    EXPECT_TRUE(host.ioctls.empty());
}

// The kernel's MTD information record is 32 bytes on every architecture.
TEST(Throughput, MtdInformationRecordLayout)
{
    EXPECT_EQ(sizeof(mtd_info_user), 32u);
}
