#include "fake_host.h"
#include "common/platform.h"
#include "storage/probe.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <vector>

using namespace tarnvel;
using tarnvel::test::capture_stdout;
using tarnvel::test::FakeHost;

namespace {

std::string rescan_of(const FakeHost& host, const std::string& dev)
{
    return tarnvel::test::ioctl_line(tarnvel::platform::kBlkRrPart, host.path(dev));
}

struct WalkCase {
    const char* list;
    unsigned flags;
    std::vector<std::string> present;
    std::vector<std::string> rescanned;
    int result;
};

} // namespace

TEST(Probe, RescanWalksTheListInPlace)
{
    const WalkCase cases[] = {
        {"/dev/sda", 0, {"/dev/sda"}, {"/dev/sda"}, 0},
        {"/dev/sda /dev/sdb ", 0, {"/dev/sda", "/dev/sdb"}, {"/dev/sda", "/dev/sdb"}, 0},
        {"/dev/sda  /dev/sdb", 0, {"/dev/sda", "/dev/sdb"}, {"/dev/sda", "/dev/sdb"}, 0},
        {"/dev/sda /dev/sdb", SD_LAST, {"/dev/sda", "/dev/sdb"}, {"/dev/sda"}, 0},
        {"", 0, {"/dev/sda"}, {}, -1},
        {" ", 0, {"/dev/sda"}, {}, -1},
        {"/dev/sda /dev/sdx", 0, {"/dev/sda"}, {"/dev/sda"}, 0},
        {"/dev/sdx /dev/sdy", 0, {}, {}, -1},
    };
    for (const WalkCase& c : cases) {
        FakeHost host;
        for (const std::string& dev : c.present) host.write(dev, "");
        std::string list = c.list;
        int result = op_sd(list.data(), SD_OP_RESCAN, c.flags, 0);
        std::vector<std::string> want;
        for (const std::string& dev : c.rescanned) want.push_back(rescan_of(host, dev));
        EXPECT_EQ(host.ioctls, want) << "list \"" << c.list << "\"";
        EXPECT_EQ(result, c.result) << "list \"" << c.list << "\"";
        EXPECT_TRUE(host.commands.empty());
    }
}

TEST(Probe, ResultIsThatOfTheLastPathThatOpened)
{
    FakeHost host;
    host.write("/dev/sda", "");
    host.write("/dev/sdb", "");
    host.on_ioctl = [&](int, unsigned long, void*) { return host.ioctls.size() == 1 ? 0 : -1; };
    std::string list = "/dev/sda /dev/sdb /dev/sdq ";
    EXPECT_EQ(op_sd(list.data(), SD_OP_RESCAN, 0, 0), -1);
}

TEST(Probe, ReadDropsTheCacheAndReadsOnce)
{
    FakeHost host;
    host.count_drops();
    host.write("/dev/sda1", std::string(4096, 'x'));
    host.write("/dev/sdb1", std::string(100, 'y'));
    struct Case {
        const char* list;
        unsigned flags;
        int size;
        int result;
        int drops;
    };
    const Case cases[] = {
        {"/dev/sda1", SD_LAST, 128, 128, 1},
        {"/dev/sdb1", SD_LAST, 128, 100, 1},
        {"/dev/sda1 /dev/sdb1", 0, 128, 100, 2},
        {"/dev/sda1", SD_LAST, 0, -1, 0},
        {"/dev/sda1", SD_LAST, -5, -1, 0},
        {"/dev/sdz1", SD_LAST, 128, -1, 0},
    };
    for (const Case& c : cases) {
        host.commands.clear();
        std::string list = c.list;
        std::string out = capture_stdout([&] { EXPECT_EQ(op_sd(list.data(), SD_OP_READ, c.flags, c.size), c.result) << c.list; });
        EXPECT_EQ(out, "") << c.list;
        EXPECT_EQ(host.drops(), c.drops) << c.list;
        EXPECT_TRUE(host.commands.empty()) << "no shell for the drop: " << c.list;
    }
    EXPECT_EQ(host.read("/proc/sys/vm/drop_caches"), "1");
}

TEST(Probe, DumpOnlyAFullRead)
{
    FakeHost host;
    host.write("/dev/sda", std::string(40, 'Q'));
    std::string full = "/dev/sda";
    std::string out = capture_stdout([&] { EXPECT_EQ(op_sd(full.data(), SD_OP_READ, SD_DUMP, 32), 32); });
    EXPECT_EQ(out.rfind("dump /dev/sda ", 0), 0u) << out;
    EXPECT_NE(out.find(" len:32 flag:2\n"), std::string::npos);
    EXPECT_NE(out.find("QQQQQQQQQQQQQQQQ\n\n"), std::string::npos);

    std::string shortread = "/dev/sda";
    out = capture_stdout([&] { EXPECT_EQ(op_sd(shortread.data(), SD_OP_READ, SD_DUMP, 64), 40); });
    EXPECT_EQ(out, "");
}

TEST(Probe, OtherModesAndNullListTouchNothing)
{
    FakeHost host;
    host.write("/dev/sda", "data");
    std::string list = "/dev/sda";
    EXPECT_EQ(op_sd(list.data(), 7, 0, 128), -1);
    // Only the low byte of the mode counts: 0x101 is a rescan.
    list = "/dev/sda";
    EXPECT_EQ(op_sd(list.data(), static_cast<std::uint8_t>(0x101), 0, 0), 0);
    EXPECT_EQ(host.ioctls.size(), 1u);
    EXPECT_EQ(op_sd(nullptr, SD_OP_READ, SD_DUMP, 512), -1);
    EXPECT_TRUE(host.commands.empty());
}

TEST(Probe, ReadSdPart)
{
    FakeHost host;
    EXPECT_EQ(read_sd_part("/dev/sda"), -1);
    EXPECT_TRUE(host.ioctls.empty());
    host.write("/dev/sda", "");
    host.on_ioctl = [](int, unsigned long, void*) { return -1; };
    EXPECT_EQ(read_sd_part("/dev/sda"), -1);
    host.on_ioctl = nullptr;
    EXPECT_EQ(read_sd_part("/dev/sda"), 0);
    EXPECT_EQ(host.ioctls.back(), rescan_of(host, "/dev/sda"));
}

// A real block device: the probe's small read must succeed on it (an O_DIRECT open would
// refuse a 128-byte read into an unaligned buffer).
TEST(Probe, RealBlockDeviceReadsTheProbeSize)
{
    if (::geteuid() != 0 || ::access("/dev/loop-control", F_OK) != 0 || std::system("command -v losetup >/dev/null") != 0)
        GTEST_SKIP() << "needs root and loop devices";
    char image[] = "/tmp/tarnvel-loop-XXXXXX";
    int fd = ::mkstemp(image);
    ASSERT_EQ(::ftruncate(fd, 1 << 20), 0);
    ::close(fd);
    std::string cmd = std::string("losetup -f --show ") + image;
    FILE* p = ::popen(cmd.c_str(), "r");
    char loop[64] = {};
    ASSERT_NE(std::fgets(loop, sizeof loop, p), nullptr);
    ::pclose(p);
    std::string loopdev(loop, strcspn(loop, "\n"));
    struct stat st;
    ASSERT_EQ(::stat(loopdev.c_str(), &st), 0);
    {
        FakeHost host;
        host.make_dir("/dev");
        ASSERT_EQ(::mknod(host.path("/dev/sda").c_str(), S_IFBLK | 0600, st.st_rdev), 0);
        std::string list = "/dev/sda";
        EXPECT_EQ(op_sd(list.data(), SD_OP_READ, SD_LAST, 128), 128);
    }
    std::system(("losetup -d " + loopdev).c_str());
    ::unlink(image);
}
