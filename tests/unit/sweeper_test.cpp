#include "dispatch/dispatch.h"
#include "fake_host.h"
#include "storage/sweeper.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

using namespace tarnvel;
using tarnvel::test::FakeHost;

namespace {

std::string vfat(const std::string& device, const std::string& path) { return device + " " + path + " vfat rw,relatime 0 0\n"; }

std::vector<std::string> folders(const FakeHost& host)
{
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(host.path("/var/tmp/usb"))) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

struct SweepCase {
    const char* what;
    std::string mounts;
    std::vector<std::string> dirs;
    std::vector<std::string> left;
};

} // namespace

TEST(ChkDir, Cycles)
{
    const std::string sda1 = vfat("/dev/sda1", "/var/tmp/usb/sda1");
    const std::string l40(40, 'L');
    const SweepCase cases[] = {
        {"a mounted folder stays, an unused one goes", sda1, {"sda1", "sdb1"}, {"sda1"}},
        {"the test is on the full path as a substring", sda1, {"sda", "usb", "a1"}, {"sda"}},
        {"a path elsewhere does not keep a folder", vfat("/dev/sdb1", "/mnt/sdb1"), {"sdb1"}, {}},
        {"names are tested whole, however long", vfat("/dev/sda1", "/var/tmp/usb/" + l40) + vfat("/dev/sdb1", "/var/tmp/usb/" + l40.substr(0, 18)),
         {l40, l40.substr(0, 18) + "x", std::string(255, 'N')}, {l40}},
    };
    for (const SweepCase& c : cases) {
        SCOPED_TRACE(c.what);
        FakeHost host;
        host.write("/proc/mounts", c.mounts);
        for (const std::string& d : c.dirs) host.make_dir("/var/tmp/usb/" + d);
        std::string out = test::capture_stdout([] { sweep_unmounted_folders(); });
        EXPECT_EQ(out, "");
        EXPECT_EQ(folders(host), c.left);
        EXPECT_TRUE(host.commands.empty() && host.sleeps.empty());
    }
}

TEST(ChkDir, LeavesHiddenNamesFilesAndFullFoldersAlone)
{
    FakeHost host;
    host.write("/proc/mounts", "proc /proc proc rw 0 0\n");
    host.make_dir("/var/tmp/usb/.hidden");
    host.write("/var/tmp/usb/sdc1", "");
    host.write("/var/tmp/usb/sdd1/file", "x");
    host.make_dir("/var/tmp/target");
    ASSERT_EQ(::symlink(host.path("/var/tmp/target").c_str(), host.path("/var/tmp/usb/link").c_str()), 0);
    sweep_unmounted_folders();
    EXPECT_EQ(folders(host), (std::vector<std::string>{".hidden", "link", "sdc1", "sdd1"}));
    EXPECT_TRUE(host.exists("/var/tmp/target"));
}

TEST(ChkDir, NothingIsRemovedWithoutAMountText)
{
    FakeHost host;
    host.make_dir("/var/tmp/usb/sdb1");
    sweep_unmounted_folders();
    EXPECT_TRUE(host.exists("/var/tmp/usb/sdb1")) << "no /proc/mounts";
    host.write("/proc/mounts", "");
    sweep_unmounted_folders();
    EXPECT_TRUE(host.exists("/var/tmp/usb/sdb1")) << "an empty /proc/mounts";
    std::filesystem::remove_all(host.path("/var/tmp/usb"));
    host.write("/proc/mounts", "x");
    sweep_unmounted_folders();
}

// Only the first 2048 bytes are looked at: a mount listed after them is not seen.
TEST(ChkDir, OnlyTheFirst2048BytesCount)
{
    FakeHost host;
    std::string filler;
    while (filler.size() < 2048 - 40) filler += "tmpfs /run/some/where tmpfs rw 0 0\n";
    std::string inside = vfat("/dev/sda1", "/var/tmp/usb/sda1");
    filler.resize(2048 - inside.size(), 'x');
    host.write("/proc/mounts", filler + inside + vfat("/dev/sdb1", "/var/tmp/usb/sdb1"));
    host.make_dir("/var/tmp/usb/sda1");
    host.make_dir("/var/tmp/usb/sdb1");
    sweep_unmounted_folders();
    EXPECT_EQ(folders(host), std::vector<std::string>{"sda1"});
}

TEST(ChkDir, TenThousandCyclesLeakNothing)
{
    FakeHost host;
    host.write("/proc/mounts", vfat("/dev/sda1", "/var/tmp/usb/sda1"));
    host.make_dir("/var/tmp/usb/sda1");
    host.make_dir("/var/tmp/usb/.x");
    test::expect_steady(10000, [] { sweep_unmounted_folders(); });
    EXPECT_EQ(folders(host), (std::vector<std::string>{".x", "sda1"}));
}

// "-f": a cycle, then 3 s of rest, forever.
TEST(ChkDirDeathTest, SweepsEveryThreeSeconds)
{
    FakeHost host;
    host.write("/proc/mounts", "proc /proc proc rw 0 0\n");
    int removed = 0;
    host.make_dir("/var/tmp/usb/sdb1");
    host.on_sleep = [&](unsigned) {
        if (!host.exists("/var/tmp/usb/sdb1")) ++removed;
        host.make_dir("/var/tmp/usb/sdb1");
        if (host.sleeps.size() < 3) return;
        std::string seen = "sleeps";
        for (unsigned s : host.sleeps) seen += " " + std::to_string(s);
        std::fprintf(stderr, "%s removed %d\n", seen.c_str(), removed);
        std::_Exit(0);
    };
    test::Argv argv({"-f", "ignored"});
    EXPECT_EXIT(dispatch(argv.get()), ::testing::ExitedWithCode(0), "^sleeps 3 3 3 removed 3\n$");
}
