#include "common/platform.h"
#include "dispatch/dispatch.h"
#include "fake_host.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include <string>
#include <vector>

using tarnvel::dispatch;
using tarnvel::test::capture_stderr;
using tarnvel::test::capture_stdout;
using tarnvel::test::FakeHost;

namespace {

std::string rescan_line(const FakeHost& host, const std::string& dev)
{
    return tarnvel::test::ioctl_line(tarnvel::platform::kBlkRrPart, host.path(dev));
}

// Runs the dispatcher on a writable copy of `args` (argv[0] added); returns stdout.
std::string run(std::vector<std::string> args, std::string* err = nullptr)
{
    args.insert(args.begin(), "tarnvel");
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::string out;
    std::string e = capture_stderr([&] { out = capture_stdout([&] { EXPECT_EQ(dispatch(argv.data()), 0); }); });
    if (err) *err = e;
    return out;
}

} // namespace

TEST(Dispatch, UnknownOptionsDoNothing)
{
    const std::vector<std::vector<std::string>> runs = {{}, {"-x"}, {"-3.10"}, {"-A", "a"}, {"-2 "}, {""}, {"-onetime"}};
    for (const auto& args : runs) {
        FakeHost host;
        host.write("/dev/sda", "x");
        std::string err;
        EXPECT_EQ(run(args, &err), "");
        EXPECT_EQ(err, "");
        EXPECT_TRUE(host.commands.empty() && host.sleeps.empty() && host.ioctls.empty());
    }
}

TEST(Dispatch, RawDumpHasNoDeviceAndOpensNothing)
{
    FakeHost host;
    host.write("/dev/sda", std::string(512, 'x'));
    EXPECT_EQ(run({"-2"}), "");
    EXPECT_TRUE(host.commands.empty() && host.ioctls.empty());
}

TEST(Dispatch, RescanAllWaitsThenWalksSdaToSdz)
{
    FakeHost host;
    for (const char* dev : {"/dev/sdz", "/dev/sda", "/dev/sdc"}) host.write(dev, "");
    EXPECT_EQ(run({"-3.1"}), "");
    EXPECT_EQ(host.sleeps, std::vector<unsigned>{20});
    std::vector<std::string> want;
    for (const char* dev : {"/dev/sda", "/dev/sdc", "/dev/sdz"}) want.push_back(rescan_line(host, dev));
    EXPECT_EQ(host.ioctls, want);
}

// "-m" ends with the page-cache drop, made by the tool itself, whatever the walks found; a
// drop that fails says nothing.
TEST(Dispatch, ThumbnailUpkeepEndsWithTheCacheDrop)
{
    FakeHost host;
    host.count_drops();
    EXPECT_EQ(run({"-m", host.path("/disk")}), "");
    EXPECT_EQ(host.drops(), 1);
    EXPECT_EQ(host.read("/proc/sys/vm/drop_caches"), "1");
    EXPECT_TRUE(host.commands.empty());
    std::filesystem::remove_all(host.path("/proc"));
    std::string err;
    EXPECT_EQ(run({"-m"}, &err), "");
    EXPECT_EQ(err, "");
}

TEST(Dispatch, RescanSdaPrintsItsCode)
{
    FakeHost host;
    EXPECT_EQ(run({"-4"}), "code:-1\n");
    host.write("/dev/sda", "");
    EXPECT_EQ(run({"-4"}), "code:0\n");
    host.on_ioctl = [](int, unsigned long, void*) { return -1; };
    EXPECT_EQ(run({"-4"}), "code:-1\n");
}

TEST(Dispatch, RescanOneDevice)
{
    struct Case {
        std::vector<std::string> args;
        const char* rescanned; // null: nothing opened
        bool refused;
    };
    const Case cases[] = {
        {{"-a", "b"}, "/dev/sdb", false},
        {{"-a", "b1"}, "/dev/sdb1", false},
        {{"-a"}, nullptr, true},
        {{"-a", "abc"}, nullptr, true},
        {{"-a", "b1/../../../etc"}, nullptr, true},
    };
    for (const Case& c : cases) {
        FakeHost host;
        host.write("/dev/sdb", "");
        host.write("/dev/sdb1", "");
        host.write("/dev/sda", "");
        std::string err;
        EXPECT_EQ(run(c.args, &err), "");
        std::vector<std::string> want;
        if (c.rescanned) want.push_back(rescan_line(host, c.rescanned));
        EXPECT_EQ(host.ioctls, want);
        EXPECT_EQ(err.rfind("tarnvel: ", 0) == 0, c.refused) << err;
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), c.refused ? 1 : 0);
    }
}

TEST(Dispatch, MediaFolders)
{
    FakeHost host;
    host.make_dir("/mnt/disk");
    const std::string base = host.path("/mnt/disk");
    EXPECT_EQ(run({"-b", base}), "");
    EXPECT_EQ(host.sleeps, std::vector<unsigned>{1});
    for (const char* f : {"Music", "Photos", "Videos", "Documents"}) EXPECT_TRUE(host.exists("/mnt/disk/" + std::string(f)));
    // Again: nothing changes, nothing is said.
    std::string err;
    EXPECT_EQ(run({"-b", base}, &err), "");
    EXPECT_EQ(err, "");

    // Without a base folder: no pause, nothing made.
    host.sleeps.clear();
    EXPECT_EQ(run({"-b"}), "");
    EXPECT_TRUE(host.sleeps.empty());
}

TEST(Dispatch, MediaFolderPathsThatDoNotFitAreRefusedOneByOne)
{
    FakeHost host;
    // A base of 190 characters: "/Music", "/Photos" and "/Videos" fit 200 bytes, "/Documents" not.
    std::string base = host.path("/b");
    base += "/" + std::string(189 - base.size(), 'd');
    ASSERT_EQ(base.size(), 190u);
    std::filesystem::create_directories(base);
    std::string err;
    EXPECT_EQ(run({"-b", base}, &err), "");
    for (const char* f : {"Music", "Photos", "Videos"}) EXPECT_TRUE(std::filesystem::exists(base + "/" + f)) << f;
    EXPECT_FALSE(std::filesystem::exists(base + "/Documents"));
    EXPECT_EQ(err.rfind("tarnvel: -b: ", 0), 0u) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1);
}
