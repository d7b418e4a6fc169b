#include "fake_host.h"
#include "flash/backup.h"

#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>

using namespace tarnvel;
using tarnvel::test::capture_stderr;
using tarnvel::test::capture_stdout;
using tarnvel::test::FakeHost;

namespace {

const std::string kPart = "/dev/mtdblock0";
const std::string kBackup = "/dev/mtdblock2";

// Distinct bytes at every offset of a flash image, different for each seed.
std::string pattern(std::size_t size, unsigned seed)
{
    std::string s(size, '\0');
    for (std::size_t i = 0; i < size; ++i) s[i] = static_cast<char>((i * 7 + (i >> 8) * 13 + seed) & 0xFF);
    return s;
}

// Both flash devices as regular files a little larger than what the areas use.
struct Flash {
    FakeHost host;
    std::string part = pattern(0x12000, 1);
    std::string backup = pattern(0xB000, 101);
    Flash()
    {
        host.write(kPart, part);
        host.write(kBackup, backup);
    }
};

std::string spliced(std::string image, std::size_t at, const std::string& bytes)
{
    return image.replace(at, bytes.size(), bytes);
}

using Copy = void (*)(int, int, const char*);

struct Area {
    Copy copy;
    int start;
    int end;
    const char* name;
    bool save;
};

const Area kAreas[] = {
    {partition2backup, 0x6000, 0x8000, "hw2backup", true},   {partition2backup, 0x8000, 0xc000, "def2backup", true},
    {partition2backup, 0xc000, 0x10000, "cur2backup", true}, {backup2partition, 0x6000, 0x8000, "backup2hw", false},
    {backup2partition, 0x8000, 0xc000, "backup2def", false}, {backup2partition, 0xc000, 0x10000, "backup2cur", false},
};

std::string run(const Area& a) { return capture_stdout([&] { a.copy(a.start, a.end, a.name); }); }

} // namespace

TEST(Backup, EachAreaCopiesItsBytesAndNothingElse)
{
    for (const Area& a : kAreas) {
        Flash f;
        const auto start = static_cast<std::size_t>(a.start);
        const auto len = static_cast<std::size_t>(a.end - a.start);
        const std::size_t at = start - 0x6000;
        std::string want_part = f.part;
        std::string want_backup = f.backup;
        if (a.save) {
            want_backup = spliced(f.backup, at, f.part.substr(start, len));
            EXPECT_EQ(run(a), std::string(a.name) + ":Write to backup partition successful.\n\n");
        } else {
            want_part = spliced(f.part, start, f.backup.substr(at, len));
            EXPECT_EQ(run(a), std::string(a.name) + ":Write partition successful.\n\n");
        }
        EXPECT_EQ(f.host.read(kPart), want_part) << a.name;
        EXPECT_EQ(f.host.read(kBackup), want_backup) << a.name;
    }
}

TEST(Backup, SaveThenRestoreLeavesThePartitionAsItWas)
{
    Flash f;
    for (int i = 0; i < 3; ++i) run(kAreas[i]);
    // Spoil the areas, then bring them back.
    f.host.write(kPart, spliced(f.part, 0x6000, std::string(0xA000, '\xff')));
    for (int i = 3; i < 6; ++i) run(kAreas[i]);
    EXPECT_EQ(f.host.read(kPart), f.part);
    EXPECT_EQ(f.host.read(kBackup), spliced(f.backup, 0, f.part.substr(0x6000, 0xA000)));
}

TEST(Backup, MissingDevicesChangeNothing)
{
    for (const Area& a : kAreas) {
        Flash f;
        ::unlink(f.host.path(kBackup).c_str());
        EXPECT_EQ(run(a), std::string(a.name) + ":Open mtdblock2 error.\n");
        EXPECT_EQ(f.host.read(kPart), f.part);
        EXPECT_FALSE(f.host.exists(kBackup));

        f.host.write(kBackup, f.backup);
        ::unlink(f.host.path(kPart).c_str());
        EXPECT_EQ(run(a), std::string(a.name) + ":Open mtdblock0 error.\n");
        EXPECT_EQ(f.host.read(kBackup), f.backup);
    }
}

// A FIFO cannot be positioned: the areas positioned in the backup partition stop at that
// step, and the hw area, which is not, at its write step (a FIFO's size cannot be told, so
// it cannot be known to hold the area); nothing is written.
TEST(Backup, FailingPositioning)
{
    struct Case {
        int area;
        const char* fifo;
        const char* out;
    };
    const Case cases[] = {
        {0, "/dev/mtdblock2", "hw2backup:wr error.\n"},
        {1, "/dev/mtdblock2", "def2backup:lseek error\n"},
        {2, "/dev/mtdblock2", "cur2backup:lseek error\n"},
        {4, "/dev/mtdblock2", "backup2def:lseek2 error\n"},
        {5, "/dev/mtdblock2", "backup2cur:lseek2 error\n"},
        {0, "/dev/mtdblock0", "hw2backup:lseek error\n"},
        {3, "/dev/mtdblock0", "backup2hw:lseek error\n"},
    };
    for (const Case& c : cases) {
        Flash f;
        const std::string other = std::string(c.fifo) == kPart ? kBackup : kPart;
        const std::string before = f.host.read(other);
        ::unlink(f.host.path(c.fifo).c_str());
        ASSERT_EQ(::mkfifo(f.host.path(c.fifo).c_str(), 0600), 0);
        EXPECT_EQ(run(kAreas[c.area]), c.out);
        EXPECT_EQ(f.host.read(other), before) << c.out;
    }
}

TEST(Backup, ShortReadsWriteNothing)
{
    struct Case {
        int area;
        std::string device;
        std::size_t size; // the device cut to this many bytes
        const char* out;
    };
    const Case cases[] = {
        {3, kBackup, 0x3000, "backup2hw:Write partition successful.\n\n"},
        {4, kBackup, 0x3000, "backup2def:read BACKUP error.\n"}, // 0x1000 of 0x4000 bytes
        {5, kBackup, 0x3000, "backup2cur:read BACKUP error.\n"}, // nothing at 0x6000
        {1, kPart, 0xA000, "def2backup:read error.\n"},
        {2, kPart, 0xA000, "cur2backup:read error.\n"},
    };
    for (const Case& c : cases) {
        Flash f;
        const std::string cut = f.host.read(c.device).substr(0, c.size);
        f.host.write(c.device, cut);
        const std::string other = c.device == kPart ? kBackup : kPart;
        const std::string other_before = f.host.read(other);
        EXPECT_EQ(run(kAreas[c.area]), c.out);
        EXPECT_EQ(f.host.read(c.device), cut) << c.out;
        if (std::string(c.out).find("error") != std::string::npos) {
            EXPECT_EQ(f.host.read(other), other_before) << c.out;
        }
    }
}

// An area never saved or wiped (0xFF or 0x00 throughout) fails the read of either direction,
// with a line on stderr, and the other copy stays; anything else is copied, however nearly blank.
TEST(Backup, BlankAreasAreNotCopied)
{
    const std::tuple<int, std::string, bool> cases[] = {
        {3, std::string(0x2000, '\xff'), false}, {4, std::string(0x4000, '\0'), false},
        {5, std::string(0x4000, '\xff'), false}, {3, std::string(0x1fff, '\xff') + "x", true},
        {5, std::string(0x4000, '\x01'), true},  {4, std::string(0x2000, '\xff') + std::string(0x2000, '\0'), true},
        {0, std::string(0x2000, '\xff'), false}, {1, std::string(0x4000, '\0'), false},
        {2, std::string(0x4000, '\xff'), false}, {0, "x" + std::string(0x1fff, '\xff'), true},
    };
    for (const auto& [area, bytes, copied] : cases) {
        Flash f;
        const Area& a = kAreas[area];
        const auto start = static_cast<std::size_t>(a.start);
        // What the area is read from, and what it would be written to.
        const std::string& from = a.save ? kPart : kBackup;
        const std::string& to = a.save ? kBackup : kPart;
        const std::size_t from_at = a.save ? start : start - 0x6000;
        const std::size_t to_at = a.save ? start - 0x6000 : start;
        const std::string to_before = a.save ? f.backup : f.part;
        f.host.write(from, spliced(a.save ? f.part : f.backup, from_at, bytes));
        std::string out;
        const std::string err = capture_stderr([&] { out = run(a); });
        const char* done = a.save ? ":Write to backup partition successful.\n\n" : ":Write partition successful.\n\n";
        EXPECT_EQ(out, std::string(a.name) + (copied ? done : a.save ? ":read error.\n" : ":read BACKUP error.\n"));
        EXPECT_EQ(err.rfind("tarnvel: " + std::string(a.name) + ": ", 0) == 0, !copied) << err;
        EXPECT_EQ(f.host.read(to), copied ? spliced(to_before, to_at, bytes) : to_before) << out;
    }
}

TEST(Backup, FailedWritesSayTheirStep)
{
    if (::access("/dev/full", W_OK) != 0) GTEST_SKIP() << "needs /dev/full";
    Flash f;
    ::unlink(f.host.path(kBackup).c_str());
    ASSERT_EQ(::symlink("/dev/full", f.host.path(kBackup).c_str()), 0);
    EXPECT_EQ(run(kAreas[1]), "def2backup:wr error.\n");
    EXPECT_EQ(f.host.read(kPart), f.part);

    ::unlink(f.host.path(kBackup).c_str());
    f.host.write(kBackup, f.backup);
    ::unlink(f.host.path(kPart).c_str());
    ASSERT_EQ(::symlink("/dev/full", f.host.path(kPart).c_str()), 0);
    EXPECT_EQ(run(kAreas[5]), "backup2cur:wr Partition error.\n");
    EXPECT_EQ(f.host.read(kBackup), f.backup);
}

// A target too short for the area, from where the area goes, gets none of it.
TEST(Backup, ShortTargetsGetNothing)
{
    struct Case {
        int area;
        std::size_t size; // the target cut to this many bytes
        const char* out;
    };
    const Case cases[] = {
        {0, 0x1fff, "hw2backup:wr error.\n"},
        {0, 0x2000, "hw2backup:Write to backup partition successful.\n\n"},
        {2, 0x9fff, "cur2backup:wr error.\n"},
        {2, 0x6000, "cur2backup:wr error.\n"},
        {3, 0x7fff, "backup2hw:wr Partition error.\n"},
        {5, 0xffff, "backup2cur:wr Partition error.\n"},
        {5, 0x10000, "backup2cur:Write partition successful.\n\n"},
    };
    for (const Case& c : cases) {
        Flash f;
        const std::string target = kAreas[c.area].save ? kBackup : kPart;
        const std::string cut = f.host.read(target).substr(0, c.size);
        f.host.write(target, cut);
        const std::string out = run(kAreas[c.area]);
        EXPECT_EQ(out, c.out);
        if (out.find("error") != std::string::npos) {
            EXPECT_EQ(f.host.read(target), cut) << c.out;
        }
    }
}

// Runs `body` with files limited to `limit` bytes, so that a write across it comes out short.
void with_size_limit(rlim_t limit, const std::function<void()>& body)
{
    struct rlimit saved;
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto* old_handler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = limit;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    body();
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, old_handler);
}

// A write cut short is that step's failure, not a success.
TEST(Backup, ShortWriteIsAWriteFailure)
{
    Flash f;
    std::string out;
    // The cur area goes to 0x6000 to 0xA000 of the backup: half of it passes the limit.
    with_size_limit(0x8000, [&] { out = run(kAreas[2]); });
    EXPECT_EQ(out, "cur2backup:wr error.\n");
    const std::string backup = spliced(f.backup, 0x6000, f.part.substr(0xc000, 0x2000));
    EXPECT_EQ(f.host.read(kBackup), backup);

    // And back to 0xC000 to 0x10000 of the partition.
    with_size_limit(0xe000, [&] { out = run(kAreas[5]); });
    EXPECT_EQ(out, "backup2cur:wr Partition error.\n");
    EXPECT_EQ(f.host.read(kPart), spliced(f.part, 0xc000, backup.substr(0x6000, 0x2000)));
}

TEST(Backup, AnEmptyRangeIsRefused)
{
    Flash f;
    std::string out;
    std::string err = capture_stderr([&] { out = capture_stdout([&] { partition2backup(0x8000, 0x8000, "def2backup"); }); });
    EXPECT_EQ(out, "");
    EXPECT_EQ(err.rfind("tarnvel: def2backup: ", 0), 0u) << err;
    EXPECT_EQ(f.host.read(kBackup), f.backup);
}
