// Long runs of the daemons, one cycle at a time through the seam, with what they see changing
// all the while: media inserted, mounted, pulled and forgotten; mount points left behind; webs
// answering, silent, not listening, present and gone. Every cycle must run exactly the
// commands, sleeps and requests expected of it, and the process's descriptors and heap must
// stay where they were once every kind of cycle has run, as on a device that runs for months.
#include "common/platform.h"
#include "fake_host.h"
#include "storage/mounts.h"
#include "storage/sweeper.h"
#include "web/watchdog.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cstdio>
#include <functional>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

using tarnvel::test::FakeHost;

namespace {

constexpr int kCycles = 100'000;
// More than the longest round of changing inputs.
constexpr int kWarmUp = 1'000;
// A chunk or two that the C library's allocator caches (seen under qemu-mips); a single leaked
// allocation per cycle would add hundreds of times as much.
constexpr std::size_t kHeapSlack = 4096;
using Lines = std::vector<std::string>;

// Runs `cycle` (given its number) kCycles times; expects descriptors and heap to stay steady
// and each cycle to return true. After the first cycle that does not, the rest are skipped.
void soak(FakeHost& host, const std::function<bool(int)>& cycle)
{
    // The records are emptied after each cycle: room for the longest one from the start, so
    // that their growth is not taken for the daemon's.
    host.commands.reserve(8);
    host.sleeps.reserve(8);
    host.ioctls.reserve(8);
    int i = 0;
    bool failing = false;
    auto step = [&] {
        if (!failing) failing = !cycle(i++);
    };
    // Every kind of cycle once before the measure, so that the allocator holds chunks of
    // every size the cycles use when it is taken.
    while (i < kWarmUp) step();
    tarnvel::test::expect_steady(kCycles - kWarmUp - 1, step, kHeapSlack);
}

// One cycle's record against what was expected of it; false (and a failure) on a difference.
bool cycle_ran(int cycle, FakeHost& host, const Lines& commands, const std::vector<unsigned>& sleeps)
{
    const bool same = host.commands == commands && host.sleeps == sleeps;
    if (!same) {
        ADD_FAILURE() << "cycle " << cycle << ": commands " << ::testing::PrintToString(host.commands) << " sleeps "
                      << ::testing::PrintToString(host.sleeps) << ", expected " << ::testing::PrintToString(commands)
                      << " and " << ::testing::PrintToString(sleeps);
    }
    host.commands.clear();
    host.sleeps.clear();
    return same;
}

void use_port(unsigned short port)
{
    tarnvel::host::Binding binding = tarnvel::host::get();
    binding.web_port = port;
    tarnvel::host::install(binding);
}

// webs on loopback for a hundred thousand probes, served from the test's own thread while the
// watchdog waits for the reply. Each connection is reset when done, so that no closed
// connection lingers and the ports do not run out.
class SyncWebs {
public:
    SyncWebs() : listener_(bound()), refusing_(bound())
    {
        ::listen(listener_, 8);
        // refusing_ is bound but never listens: connections to it are refused.
    }
    ~SyncWebs()
    {
        ::close(listener_);
        ::close(refusing_);
    }
    SyncWebs(const SyncWebs&) = delete;
    SyncWebs& operator=(const SyncWebs&) = delete;

    unsigned short port() const { return port_of(listener_); }
    unsigned short refusing_port() const { return port_of(refusing_); }

    // Takes the waiting connection, reads the probe, answers it or not, and resets it.
    void serve(bool answer) const
    {
        const int conn = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        ASSERT_GE(conn, 0);
        char probe[64];
        EXPECT_EQ(::recv(conn, probe, sizeof probe, 0), 34);
        if (answer) {
            EXPECT_EQ(::send(conn, "HTTP/1.1 200 OK\r\n", 17, MSG_NOSIGNAL), 17);
        }
        const linger reset{1, 0};
        ::setsockopt(conn, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
        ::close(conn);
    }

private:
    static int bound()
    {
        const int sock = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(sock, reinterpret_cast<const sockaddr*>(&address), sizeof address);
        return sock;
    }
    static unsigned short port_of(int sock)
    {
        sockaddr_in address{};
        socklen_t length = sizeof address;
        ::getsockname(sock, reinterpret_cast<sockaddr*>(&address), &length);
        return ntohs(address.sin_port);
    }

    int listener_;
    int refusing_;
};

} // namespace

TEST(Soak, ResponsivenessWatchdog)
{
    FakeHost host;
    SyncWebs webs;
    enum class Webs { answering, silent, not_listening };
    Webs state = Webs::answering;
    host.on_sleep = [&](unsigned seconds) {
        if (seconds == 3) webs.serve(state == Webs::answering);
    };
    tarnvel::WebWatch watch;
    unsigned patience = tarnvel::kWebPatience;
    soak(host, [&](int i) {
        // Eight cycles of each, so that silences outlast the patience; process 321 is webs in
        // every other stretch of fifty cycles, and a jhead run on webs.jpg in the others.
        state = static_cast<Webs>((i / 8) % 3);
        const bool listed = (i / 50) % 2 == 0;
        if (i % 50 == 0) host.write("/proc/321/status", listed ? "Name:\twebs\n" : "Name:\tjhead\n");
        use_port(state == Webs::not_listening ? webs.refusing_port() : webs.port());
        tarnvel::chk_web_cycle(watch);
        Lines commands;
        std::vector<unsigned> sleeps = {3, 1};
        if (state == Webs::not_listening) {
            commands = {"sh: webs&"};
            sleeps = {1};
        } else if (state == Webs::answering) {
            patience = tarnvel::kWebPatience;
        } else if (patience != 0) {
            --patience;
        } else {
            commands = {listed ? "sh: kill 321;sleep 1;webs&" : "sh: webs&"};
            sleeps = {3, 10, 1};
            patience = tarnvel::kWebPatience;
        }
        return cycle_ran(i, host, commands, sleeps) && watch.patience == patience;
    });
}

TEST(Soak, PresenceWatchdog)
{
    FakeHost host;
    host.write("/proc/1/status", "Name:\tinit\nUmask:\t0022\n");
    host.make_dir("/proc/self");
    // webs's folder while it does not run: a name that is no process id.
    host.write("/proc/webs-gone/status", "Name:\twebs\nUmask:\t0022\nState:\tS (sleeping)\n");
    std::string folder = host.path("/proc/webs-gone");
    soak(host, [&](int i) {
        // webs comes and goes every three cycles, under another process id each time.
        const bool runs = (i / 3) % 2 == 0;
        const std::string now = runs ? host.path("/proc/" + std::to_string(300 + (i / 6) % 50)) : host.path("/proc/webs-gone");
        if (now != folder && std::rename(folder.c_str(), now.c_str()) != 0) return false;
        folder = now;
        tarnvel::chk_web_isExist_cycle();
        return cycle_ran(i, host, runs ? Lines{} : Lines{"sh: webs&"}, {5});
    });
}

TEST(Soak, StoragePass)
{
    FakeHost host;
    const std::string rescan_sda = tarnvel::test::ioctl_line(tarnvel::platform::kBlkRrPart, host.path("/dev/sda"));
    const std::string kernel = "major minor  #blocks  name\n\n  31        0       4096 mtdblock0\n";
    const std::string disk = "   8        0   15558144 sda\n   8        1   15554048 sda1\n";
    enum class Medium { absent, inserted, mounted, pulled, forgotten };
    host.count_drops();
    soak(host, [&](int i) {
        // Five passes of each: no medium; one the kernel lists but nothing has mounted yet;
        // mounted and answering; pulled while still listed and mounted; gone from the kernel's
        // list while its mount lingers.
        const auto medium = static_cast<Medium>((i / 5) % 5);
        if (i % 5 == 0) {
            switch (medium) {
            case Medium::absent:
                host.write("/proc/partitions", kernel);
                host.write("/proc/mounts", "rootfs / rootfs rw 0 0\n");
                break;
            case Medium::inserted:
                host.write("/proc/partitions", kernel + disk);
                host.write("/dev/sda", std::string(512, 'd'));
                host.write("/dev/sda1", std::string(512, 'p'));
                break;
            case Medium::mounted:
                host.write("/proc/mounts", "rootfs / rootfs rw 0 0\n/dev/sda1 /var/tmp/usb/sda1 vfat rw,relatime 0 0\n");
                host.make_dir("/var/tmp/usb/sda1");
                break;
            case Medium::pulled:
                std::remove(host.path("/dev/sda").c_str());
                std::remove(host.path("/dev/sda1").c_str());
                break;
            case Medium::forgotten:
                host.write("/proc/partitions", kernel);
                break;
            }
        }
        tarnvel::check_mnt(128);
        Lines commands;
        std::vector<unsigned> sleeps;
        Lines ioctls;
        if (medium == Medium::inserted) {
            sleeps = {45};
            ioctls = {rescan_sda};
        }
        if (medium == Medium::pulled || medium == Medium::forgotten) commands = {"run: usbmount tarnvel_umount sda1"};
        // The mounted medium's probe drops the page cache first.
        const bool dropped = host.drops() == (medium == Medium::mounted ? 1 : 0);
        EXPECT_TRUE(dropped) << "cycle " << i;
        const bool rescanned = host.ioctls == ioctls;
        EXPECT_TRUE(rescanned) << "cycle " << i << ": " << ::testing::PrintToString(host.ioctls);
        host.ioctls.clear();
        // The emptied mount point goes in the first pass without the medium; one in use stays.
        const bool folder = host.exists("/var/tmp/usb/sda1");
        const bool folder_right = folder == (medium != Medium::absent && medium != Medium::inserted);
        EXPECT_TRUE(folder_right) << "cycle " << i << ": the mount point is " << (folder ? "there" : "gone");
        return cycle_ran(i, host, commands, sleeps) && dropped && rescanned && folder_right;
    });
}

TEST(Soak, MountPointSweeper)
{
    FakeHost host;
    host.make_dir("/var/tmp/usb/.keep");
    host.write("/var/tmp/usb/notes", "a file, never removed");
    soak(host, [&](int i) {
        // Four cycles each: sdb1 mounted; unmounted, its empty folder left behind; the mount
        // list unreadable while a new folder waits for its mount.
        const int phase = (i / 4) % 3;
        if (i % 4 == 0) {
            if (phase == 0) {
                host.write("/proc/mounts", "rootfs / rootfs rw 0 0\n/dev/sdb1 /var/tmp/usb/sdb1 vfat rw 0 0\n");
                host.make_dir("/var/tmp/usb/sdb1");
            } else if (phase == 1) {
                host.write("/proc/mounts", "rootfs / rootfs rw 0 0\n");
            } else {
                std::remove(host.path("/proc/mounts").c_str());
                host.make_dir("/var/tmp/usb/sdb1");
            }
        }
        tarnvel::sweep_unmounted_folders();
        const bool kept = host.exists("/var/tmp/usb/sdb1");
        const bool right = kept == (phase != 1) && host.exists("/var/tmp/usb/.keep") && host.exists("/var/tmp/usb/notes");
        EXPECT_TRUE(right) << "cycle " << i << ": sdb1 " << (kept ? "kept" : "removed");
        return cycle_ran(i, host, {}, {}) && right;
    });
}
