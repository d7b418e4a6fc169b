#include "fake_host.h"
#include "common/platform.h"
#include "storage/probe.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <vector>

using namespace tarnvel;
using tarnvel::test::capture_stdout;
using tarnvel::test::card_head;
using tarnvel::test::FakeHost;

namespace {

Identity identity_of(const std::string& card, std::size_t len = 4096)
{
    return identify(reinterpret_cast<const unsigned char*>(card.data()), len);
}

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
        {"/dev/sda1", SD_LAST, 4097, -1, 0},
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

TEST(Probe, IdentityTellsCardsApartButNotAFileSystemFromItself)
{
    // `changed` is `card` as its mounted file system rewrites it: changing the bytes at `at`.
    const auto changed = [](std::string card, std::size_t at, std::size_t n) { return card.replace(at, n, n, '\x7e'); };
    const std::string fat16 = card_head("fat16", 'a'), fat32 = card_head("fat32", 'a'), ext2 = card_head("ext2", 'a');
    struct Case {
        const char* what;
        std::string first, then;
        bool same;
    };
    const Case cases[] = {
        {"FAT16, another serial or label", fat16, card_head("fat16", 'b'), false},
        {"FAT32, another serial or label", fat32, card_head("fat32", 'b'), false},
        {"exFAT, another serial", card_head("exfat", 'a'), card_head("exfat", 'b'), false},
        {"NTFS, another serial", card_head("ntfs", 'a'), card_head("ntfs", 'b'), false},
        {"ext2, another UUID", ext2, card_head("ext2", 'b'), false},
        {"the same marks on another kind", fat16, ext2, false},
        {"FAT16: its dirty flag, and its allocation table where ext2 keeps its UUID", fat16,
         changed(changed(fat16, 37, 1), 512, 3584).replace(1080, 2, "\x53\xEF"), true},
        {"FAT32: its dirty flag and its FSInfo sector", fat32, changed(changed(fat32, 65, 1), 512, 512), true},
        {"exFAT: its volume flags and use", card_head("exfat", 'a'), changed(card_head("exfat", 'a'), 106, 7), true},
        {"ext2: its superblock's counters and state, its group descriptors", ext2,
         changed(changed(ext2, 1024, 56), 1082, 46).replace(2048, 100, 100, '\x01'), true},
        {"no file system known", std::string(4096, 'p'), std::string(4096, 'q'), true},
    };
    for (const Case& c : cases) EXPECT_EQ(identity_of(c.first) == identity_of(c.then), c.same) << c.what;
    EXPECT_NE(identity_of(fat16), Identity{});
    EXPECT_EQ(identity_of(ext2, 1100), Identity{}) << "a read cut short";
}

// A real block device: the probe's small read must succeed on it, and reach its medium past
// the page cache (a mounted file system pins its first blocks there: a card that left its slot
// would go on answering from them).
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
        // The device's cache holds one card, its medium (the file behind it) another. The
        // kernel empties a device's cache at its last close: it is held open, as a mount does.
        const std::string a = card_head("fat32", 'a'), b = card_head("fat32", 'b');
        std::ofstream(image, std::ios::binary | std::ios::in) << a;
        std::string cached(4096, '\0');
        std::ifstream held(host.path("/dev/sda"), std::ios::binary);
        held.read(cached.data(), 4096);
        EXPECT_EQ(cached, a);
        std::ofstream(image, std::ios::binary | std::ios::in) << b;
        Identity id;
        EXPECT_EQ(probe_medium("/dev/sda", 128, id), 128);
        EXPECT_EQ(id, identity_of(b));
    }
    std::system(("losetup -d " + loopdev).c_str());
    ::unlink(image);
}
