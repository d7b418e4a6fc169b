#include "dispatch/dispatch.h"
#include "common/platform.h"
#include "fake_host.h"
#include "storage/mounts.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

using namespace tarnvel;
using tarnvel::test::FakeHost;

namespace {

// A page-cache drop, counted apart from the programs (see Device::ran).
const std::string kDrop = "drop_caches";
const std::string kHeader = "major minor  #blocks  name\n\n";

std::string usbmount(const std::string& name) { return "run: usbmount tarnvel_umount " + name; }

// /proc/partitions with the given names, numbered as the kernel lists them.
std::string partitions(const std::vector<std::string>& names)
{
    std::string text = kHeader;
    int minor = 0;
    for (const std::string& n : names) text += "   8 " + std::to_string(minor++) + "    7818240 " + n + "\n";
    return text;
}

std::string vfat(const std::string& device, const std::string& path)
{
    return device + " " + path + " vfat rw,relatime,fmask=0022,dmask=0022,codepage=437 0 0\n";
}

// A simulated device: the whole disks /dev/sda to /dev/sdz answer reads and rescans; a
// partition answers when a node of it exists and holds at least the probe size.
struct Device {
    FakeHost host;
    explicit Device(const std::vector<std::string>& answering = {})
    {
        host.make_dir("/var/tmp/usb");
        for (char c = 'a'; c <= 'z'; ++c) host.write(std::string("/dev/sd") + c, std::string(4096, 'd'));
        for (const std::string& p : answering) host.write("/dev/sd" + p, std::string(4096, 'p'));
        host.count_drops();
    }
    // The cache drops since the last look, then the programs that ran. Every drop comes with a
    // probe, which always precedes the usbmount it can lead to.
    std::vector<std::string> ran()
    {
        std::vector<std::string> all(static_cast<std::size_t>(host.drops()), kDrop);
        all.insert(all.end(), host.commands.begin(), host.commands.end());
        return all;
    }
    // The disks rescanned, as their letters in order.
    std::string rescanned() const
    {
        std::string letters;
        for (const std::string& r : host.ioctls) {
            const std::string disk = r.substr(r.size() - 1);
            EXPECT_EQ(r, test::ioctl_line(platform::kBlkRrPart, host.path("/dev/sd" + disk)));
            letters += disk;
        }
        return letters;
    }
    std::vector<std::string> folders() const
    {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(host.path("/var/tmp/usb")))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    std::vector<std::string> slots() const
    {
        std::vector<std::string> out;
        for (const disk_slot& s : table) {
            if (s.dev_name[0] == '\0' && s.mount_path[0] == '\0') break;
            out.push_back(std::string(s.dev_name) + "=" + s.mount_path);
        }
        return out;
    }
};

struct PassCase {
    const char* what;
    std::vector<std::string> parts;   // names in /proc/partitions
    std::string mounts;               // /proc/mounts
    std::vector<std::string> answering; // partitions whose probe read succeeds
    std::vector<std::string> folders; // empty folders under /var/tmp/usb
    // Expected:
    std::vector<std::string> commands;
    std::vector<unsigned> sleeps;
    std::string rescanned;
    std::vector<std::string> folders_left;
};

} // namespace

TEST(CheckMnt, Passes)
{
    const std::string sda1 = vfat("/dev/sda1", "/var/tmp/usb/sda1");
    const PassCase cases[] = {
        {"a whole pass",
         {"sda", "sda1", "mtdblock0", "sdb"},
         "rootfs / rootfs rw 0 0\n" + sda1 + "proc /proc proc rw 0 0\n",
         {"a1"},
         {"sda1", "sdc1"},
         {kDrop},
         {},
         "bcdef",
         {"sda1"}},
        {"a pulled medium: usbmount and its disk rescanned in the same pass",
         {"sda", "sda1"}, sda1, {}, {"sda1"},
         {usbmount("sda1")}, {}, "abcdef", {"sda1"}},
        {"a mount path without sb/ whose probe fails",
         {"sda", "sda1"}, vfat("/dev/sda1", "/mnt/disk"), {}, {},
         {}, {}, "abcdef", {}},
        {"two stale mounts: only the last listed",
         {"sdb"}, vfat("/dev/sdc1", "/var/tmp/usb/sdc1") + vfat("/dev/sdd1", "/var/tmp/usb/sdd1"), {}, {"sdc1", "sdd1"},
         {usbmount("sdd1")}, {}, "bacdef", {"sdc1", "sdd1"}},
        {"a partition that stays unmounted: one wait",
         {"sda", "sda1", "sda2"}, "", {}, {"sda1"},
         {}, {45}, "abcdef", {}},
        {"no disks at all",
         {"mtdblock0", "mtdblock1"}, "", {}, {},
         {}, {}, "abcdef", {}},
        {"a whole disk without partitions causes no wait",
         {"sdb"}, "", {}, {},
         {}, {}, "bacdef", {}},
        {"a whole disk mounted directly is probed",
         {"sda"}, vfat("/dev/sda", "/var/tmp/usb/sda"), {}, {"sda"},
         {kDrop}, {}, "bcdef", {"sda"}},
        {"drive letters after f only when unmounted",
         {"sdg", "sdg1", "sdh", "sdh1"}, vfat("/dev/sdh1", "/var/tmp/usb/sdh1"), {"h1"}, {},
         {kDrop}, {45}, "gabcdef", {}},
        {"/dev/sd counts wherever it stands",
         {"sda", "sda1"}, "UUID=/dev/sda1 /var/tmp/usb/sda1 vfat rw 0 0\nnone /x tmpfs rw 0 0\n", {"a1"}, {},
         {kDrop}, {}, "bcdef", {}},
        {"a line ending at the device suffix is no mount",
         {"sda", "sda1"}, "/dev/sda1\n/dev/sda1 \n", {"a1"}, {},
         {}, {45}, "abcdef", {}},
        {"nor does it undo an earlier mount",
         {"sda", "sda1"}, sda1 + "/dev/sda1\n/dev/sda1 \n/dev/sdq1 \n", {"a1"}, {"sda1"},
         {kDrop}, {}, "bcdef", {"sda1"}},
        {"a later line for the same device wins",
         {"sda", "sda1"}, vfat("/dev/sda1", "/mnt/x") + vfat("/dev/sda1", "/var/tmp/usb/sda1"), {}, {},
         {usbmount("sda1")}, {}, "abcdef", {}},
        {"a stale slot keeps every folder",
         {"sda", "sda1"}, sda1 + vfat("/dev/sdq1", "/var/tmp/usb/sdq1"), {"a1"}, {"sdc1", "sdq1"},
         {kDrop, usbmount("sdq1")}, {}, "bcdef", {"sdc1", "sdq1"}},
        {"a folder stays while a mount path holds its name",
         {"sda", "sda1"}, sda1, {"a1"}, {"sda", "da1", "sdb"},
         {kDrop}, {}, "bcdef", {"da1", "sda"}},
        {"usbmount gets the folder name as one argument",
         {"sda", "sda1"}, vfat("/dev/sda1", "/var/tmp/usb/a;reboot&$(x)`y`'\"|"), {}, {},
         {usbmount("a;reboot&$(x)`y`'\"|")}, {}, "abcdef", {}},
    };
    for (const PassCase& c : cases) {
        SCOPED_TRACE(c.what);
        Device d(c.answering);
        d.host.write("/proc/partitions", partitions(c.parts));
        d.host.write("/proc/mounts", c.mounts);
        for (const std::string& f : c.folders) d.host.make_dir("/var/tmp/usb/" + f);
        std::string err;
        std::string out = test::capture_stderr([&] { err = test::capture_stdout([&] { check_mnt(128); }); });
        EXPECT_EQ(out + err, "") << "the daemon is silent";
        EXPECT_EQ(d.ran(), c.commands);
        EXPECT_EQ(d.host.sleeps, c.sleeps);
        EXPECT_EQ(d.rescanned(), c.rescanned);
        EXPECT_EQ(d.folders(), c.folders_left);
    }
}

TEST(CheckMnt, WholePassLeavesTheTableAsDescribed)
{
    Device d({"a1"});
    d.host.write("/proc/partitions", partitions({"sda", "sda1", "sdb"}));
    d.host.write("/proc/mounts", vfat("/dev/sda1", "/var/tmp/usb/sda1"));
    EXPECT_EQ(check_mnt(128), 0);
    const std::vector<std::string> want = {"a=covered", "a1=/var/tmp/usb/sda1", "b="};
    EXPECT_EQ(d.slots(), want);

    // Unmounted slots keep only their disk letter; the result is that of the last rescan.
    d.host.write("/proc/partitions", partitions({"sdc", "sdc1", "sdc2"}));
    d.host.write("/proc/mounts", "");
    d.host.on_ioctl = [](int, unsigned long, void*) { return -1; };
    EXPECT_EQ(check_mnt(128), -1);
    EXPECT_EQ(d.slots(), (std::vector<std::string>{"c=covered", "c=", "c="}));
}

TEST(CheckMnt, ShortProbeReadUnmounts)
{
    Device d;
    d.host.write("/dev/sda1", std::string(100, 's'));
    d.host.write("/proc/partitions", partitions({"sda", "sda1"}));
    d.host.write("/proc/mounts", vfat("/dev/sda1", "/var/tmp/usb/sda1"));
    check_mnt(128);
    EXPECT_EQ(d.ran(), (std::vector<std::string>{kDrop, usbmount("sda1")}));
    EXPECT_EQ(d.rescanned(), "abcdef");
}

// A pass remembers the file system of each partition that answered: a card swapped for
// another between two passes is stale, one that is read again as it was is not.
TEST(CheckMnt, ACardSwappedBetweenTwoPassesIsStale)
{
    const std::string fat = test::card_head("fat32", 'a'), fat_b = test::card_head("fat32", 'b'), ext2 = test::card_head("ext2", 'a');
    // What sda1 holds at each pass ("": its read fails), and the passes that had it unmounted.
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{fat, fat, ext2}, "2"},
        {{fat, fat_b, fat_b}, "1"},
        {{fat, "", ext2, ext2}, "1"}, // the failed read forgot the card: the next one is new
    };
    for (const auto& [cards, want] : cases) {
        Device d;
        d.host.write("/proc/partitions", partitions({"sda", "sda1"}));
        std::string unmounted;
        // The passes with nothing mounted, first and last: no other test's card is remembered.
        for (std::size_t pass = 0; pass <= cards.size() + 1; ++pass) {
            const bool card = pass > 0 && pass <= cards.size();
            d.host.commands.clear();
            if (card) d.host.write("/dev/sda1", cards[pass - 1].empty() ? "x" : cards[pass - 1]);
            d.host.write("/proc/mounts", card ? vfat("/dev/sda1", "/var/tmp/usb/sda1") : "");
            check_mnt(128);
            if (!d.host.commands.empty()) unmounted += std::to_string(pass - 1);
            EXPECT_TRUE(d.host.commands.empty() || d.host.commands == std::vector<std::string>{usbmount("sda1")});
        }
        EXPECT_EQ(unmounted, want) << cards.size() << " passes";
    }
}

TEST(CheckMnt, TheWaitRereadsTheMounts)
{
    Device d({"a1"});
    d.host.write("/proc/partitions", partitions({"sda", "sda1"}));
    d.host.write("/proc/mounts", "");
    // The outside mounter mounts the partition during the wait.
    d.host.on_sleep = [&](unsigned) { d.host.write("/proc/mounts", vfat("/dev/sda1", "/var/tmp/usb/sda1")); };
    check_mnt(128);
    EXPECT_EQ(d.host.sleeps, std::vector<unsigned>{45});
    EXPECT_EQ(d.ran(), std::vector<std::string>{kDrop});
    EXPECT_EQ(d.rescanned(), "bcdef");
}

TEST(CheckMnt, TwoStaleMountsGoInTwoPasses)
{
    Device d;
    d.host.write("/proc/partitions", partitions({}));
    std::string c1 = vfat("/dev/sdc1", "/var/tmp/usb/sdc1"), d1 = vfat("/dev/sdd1", "/var/tmp/usb/sdd1");
    d.host.write("/proc/mounts", c1 + d1);
    d.host.on_run = [&](const std::vector<std::string>& argv) {
        std::string mounts = d.host.read("/proc/mounts");
        std::string line = vfat("/dev/" + argv[2], "/var/tmp/usb/" + argv[2]);
        mounts.erase(mounts.find(line), line.size());
        d.host.write("/proc/mounts", mounts);
        return 0;
    };
    for (int pass = 0; pass < 3; ++pass) check_mnt(128);
    EXPECT_EQ(d.ran(), (std::vector<std::string>{usbmount("sdd1"), usbmount("sdc1")}));
}

TEST(CheckMnt, MissingKernelListsAndRoot)
{
    {
        SCOPED_TRACE("no /proc/partitions: the last /dev/sd mount is stale");
        Device d;
        d.host.write("/proc/mounts", vfat("/dev/sda1", "/var/tmp/usb/sda1") + vfat("/dev/sdb1", "/var/tmp/usb/sdb1"));
        d.host.make_dir("/var/tmp/usb/sdz9");
        check_mnt(128);
        EXPECT_EQ(d.ran(), std::vector<std::string>{usbmount("sdb1")});
        EXPECT_EQ(d.rescanned(), "abcdef");
        EXPECT_EQ(d.folders(), std::vector<std::string>{"sdz9"});
        EXPECT_EQ(d.slots(), std::vector<std::string>{"=/var/tmp/usb/sdb1"});
    }
    {
        SCOPED_TRACE("no /proc/mounts: one wait, every empty folder swept, no probe");
        Device d({"a1"});
        d.host.write("/proc/partitions", partitions({"sda", "sda1"}));
        d.host.make_dir("/var/tmp/usb/sda1");
        d.host.write("/var/tmp/usb/sdb1/file", "x");
        check_mnt(128);
        EXPECT_EQ(d.host.sleeps, std::vector<unsigned>{45});
        EXPECT_TRUE(d.ran().empty());
        EXPECT_EQ(d.rescanned(), "abcdef");
        EXPECT_EQ(d.folders(), std::vector<std::string>{"sdb1"});
    }
    {
        SCOPED_TRACE("no /var/tmp/usb: the rest of the pass runs");
        Device d;
        std::filesystem::remove(d.host.path("/var/tmp/usb"));
        d.host.write("/proc/partitions", partitions({"sda", "sda1"}));
        d.host.write("/proc/mounts", vfat("/dev/sda1", "/var/tmp/usb/sda1"));
        check_mnt(128);
        EXPECT_EQ(d.ran(), std::vector<std::string>{usbmount("sda1")});
        EXPECT_EQ(d.rescanned(), "abcdef");
    }
}

TEST(CheckMnt, SweepLeavesHiddenNamesAndFilesAlone)
{
    Device d;
    d.host.write("/proc/partitions", partitions({}));
    d.host.write("/proc/mounts", "");
    d.host.make_dir("/var/tmp/usb/.keep");
    d.host.write("/var/tmp/usb/sdc1", "");
    d.host.make_dir("/var/tmp/usb/sdd1");
    ASSERT_EQ(::symlink(d.host.path("/var/tmp/usb/sdd1").c_str(), d.host.path("/var/tmp/usb/link").c_str()), 0);
    d.host.make_dir("/var/tmp/usb/sde1");
    check_mnt(128);
    EXPECT_EQ(d.folders(), (std::vector<std::string>{".keep", "link", "sdc1"}));
}

// More than 49 "sd" lines: 49 slots are named, the end slot stays free, and a mount of a
// dropped partition is not taken for stale.
TEST(CheckMnt, SurplusPartitionsAreDroppedSafely)
{
    std::vector<std::string> names;
    for (char disk = 'a'; disk <= 'e'; ++disk)
        for (int p = 1; p <= 12; ++p) names.push_back(std::string("sd") + disk + std::to_string(p));
    ASSERT_EQ(names.size(), 60u);
    std::vector<std::string> answering;
    for (const std::string& n : names) answering.push_back(n.substr(2));
    Device d(answering);
    d.host.write("/proc/partitions", partitions(names));
    std::string mounts;
    for (const std::string& n : names) mounts += vfat("/dev/" + n, "/var/tmp/usb/" + n);
    d.host.write("/proc/mounts", mounts);
    check_mnt(128);
    EXPECT_EQ(d.slots().size(), 49u);
    EXPECT_EQ(std::string(table[48].dev_name), "e1");
    EXPECT_EQ(table[49].dev_name[0], '\0');
    EXPECT_EQ(table[49].mount_path[0], '\0');
    EXPECT_EQ(d.ran(), std::vector<std::string>(49, kDrop)) << "no usbmount for the dropped partitions";
    EXPECT_EQ(d.rescanned(), "f");
}

// Exactly 49 partitions: the table is full, and a stale mount lands in the end slot; the walks
// still end inside the table.
TEST(CheckMnt, FullTableWithAStaleMount)
{
    std::vector<std::string> names;
    for (int p = 1; p <= 49; ++p) names.push_back("sda" + std::to_string(p));
    Device d;
    d.host.write("/proc/partitions", partitions(names));
    d.host.write("/proc/mounts", vfat("/dev/sdz1", "/var/tmp/usb/sdz1"));
    d.host.make_dir("/var/tmp/usb/sdy1");
    check_mnt(128);
    EXPECT_EQ(std::string(table[49].mount_path), "/var/tmp/usb/sdz1");
    EXPECT_EQ(d.ran(), std::vector<std::string>{usbmount("sdz1")});
    EXPECT_EQ(d.host.sleeps, std::vector<unsigned>{45});
    EXPECT_EQ(d.rescanned(), "abcdef");
    EXPECT_EQ(d.folders(), std::vector<std::string>{"sdy1"});
}

// Names and paths wider than the device's old fields are kept whole; what cannot come from a
// kernel, or does not fit the line buffer, is passed over and never acted on cut.
TEST(CheckMnt, LongNamesAndPathsAreKeptWholeOrPassedOver)
{
    const std::string long_path = "/var/tmp/usb/" + std::string(120, 'L');
    {
        SCOPED_TRACE("a 10-character partition name and a 133-character mount path");
        Device d({"aaaaaaaa12"});
        d.host.write("/proc/partitions", partitions({"sdaaaaaaaa12"}));
        d.host.write("/proc/mounts", vfat("/dev/sdaaaaaaaa12", long_path));
        d.host.make_dir(long_path);
        check_mnt(128);
        EXPECT_EQ(d.ran(), std::vector<std::string>{kDrop});
        EXPECT_EQ(d.slots(), std::vector<std::string>{"aaaaaaaa12=" + long_path});
        EXPECT_EQ(d.folders(), std::vector<std::string>{std::string(120, 'L')});
    }
    {
        SCOPED_TRACE("the same partition, pulled: usbmount gets the whole folder name");
        Device d;
        d.host.write("/proc/partitions", partitions({"sdaaaaaaaa12"}));
        d.host.write("/proc/mounts", vfat("/dev/sdaaaaaaaa12", long_path));
        check_mnt(128);
        EXPECT_EQ(d.ran(), std::vector<std::string>{usbmount(std::string(120, 'L'))});
    }
    {
        SCOPED_TRACE("names no kernel lists: too wide, with a space, or empty");
        Device d;
        d.host.write("/proc/partitions", kHeader + "   8 0 1 sd" + std::string(40, 'w') + "\n   8 1 1 sda1 x\n   8 2 1 sd\n");
        d.host.write("/proc/mounts", vfat("/dev/sd" + std::string(40, 'w'), "/var/tmp/usb/w") + vfat("/dev/sda1", "/var/tmp/usb/sda1"));
        check_mnt(128);
        EXPECT_TRUE(d.slots().empty());
        EXPECT_TRUE(d.ran().empty()) << "their mounts are not stale on a guess";
        EXPECT_EQ(d.rescanned(), "abcdef");
    }
    {
        SCOPED_TRACE("a mount line longer than the line buffer");
        const std::string huge = "/var/tmp/usb/" + std::string(600, 'H');
        Device d;
        d.host.write("/proc/partitions", partitions({"sda", "sda1", "sdb", "sdb1"}));
        // Its path runs past the buffer; a second line's fields are whole though its options are not.
        d.host.write("/proc/mounts", vfat("/dev/sda1", huge) + "/dev/sdb1 /var/tmp/usb/sdb1 vfat " + std::string(600, 'o') + " 0 0\n" +
                                         "/dev/sdz9 " + std::string(520, 'x') + "/dev/sdb1 /tail 0 0\n");
        d.host.write("/dev/sdb1", std::string(4096, 'b'));
        check_mnt(128);
        EXPECT_EQ(d.host.sleeps, std::vector<unsigned>{45}) << "sda1 counts as unmounted";
        EXPECT_EQ(d.ran(), std::vector<std::string>{kDrop}) << "only sdb1 is probed; no piece is a line";
        EXPECT_EQ(d.rescanned(), "acdef");
        EXPECT_EQ(d.slots(), (std::vector<std::string>{"a=covered", "a=", "b=covered", "b1=/var/tmp/usb/sdb1"}));
    }
}

TEST(CheckMnt, PartitionLinesLongerThanTheBufferArePassedOver)
{
    Device d;
    // 511 characters and its line end are one whole line; 512 are not.
    std::string fits = "   8 1 " + std::string(500, ' ') + "sdb1";
    fits = fits.substr(fits.size() - 511);
    std::string over = "   8 2 " + std::string(501, ' ') + "sdc1";
    over = over.substr(over.size() - 512);
    d.host.write("/proc/partitions", kHeader + fits + "\n" + over + "\n   8 3 1 sdd1");
    d.host.write("/proc/mounts", "");
    check_mnt(128);
    EXPECT_EQ(d.slots(), (std::vector<std::string>{"b=", "d="}));
}

// The storage daemon runs for weeks: passes leave descriptors and heap where they were.
TEST(CheckMnt, TenThousandPassesLeakNothing)
{
    Device d({"a1"});
    d.host.write("/proc/partitions", partitions({"sda", "sda1", "sdb", "sdb1"}));
    // sda1 answers, sdb1 does not and goes to usbmount, sdc1 is an unused folder.
    d.host.write("/proc/mounts", vfat("/dev/sda1", "/var/tmp/usb/sda1") + vfat("/dev/sdb1", "/var/tmp/usb/sdb1"));
    test::expect_steady(10000, [&] {
        d.host.make_dir("/var/tmp/usb/sdc1");
        check_mnt(128);
        d.host.commands.clear();
        d.host.sleeps.clear();
        d.host.ioctls.clear();
    });
    EXPECT_FALSE(d.host.exists("/var/tmp/usb/sdc1"));
}

// "-3": a pass, then 5 s of rest, forever.
TEST(CheckMntDeathTest, StorageDaemonPassesEveryFiveSeconds)
{
    Device d;
    d.host.write("/proc/partitions", partitions({}));
    d.host.on_sleep = [&](unsigned) {
        if (d.host.sleeps.size() < 3) return;
        std::string seen = "sleeps";
        for (unsigned s : d.host.sleeps) seen += " " + std::to_string(s);
        seen += " rescans " + std::to_string(d.host.ioctls.size());
        std::fprintf(stderr, "%s\n", seen.c_str());
        std::_Exit(0);
    };
    test::Argv argv({"-3"});
    EXPECT_EXIT(dispatch(argv.get()), ::testing::ExitedWithCode(0), "^sleeps 5 5 5 rescans 18\n$");
}
