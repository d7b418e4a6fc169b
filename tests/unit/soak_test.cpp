// Long runs of the daemons, one cycle at a time through the seam, with what they see changing
// all the while: webs answering, silent, not listening, present and gone. Every cycle must run
// exactly the commands and sleeps expected of it, and after the first cycles the process's
// descriptors and heap must stay where they were, as on a device that runs for months.
#include "fake_host.h"
#include "web/watchdog.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cstdio>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

using tarnvel::test::FakeHost;

namespace {

constexpr int kCycles = 100'000;
// Cycles before the measure is taken: containers of the test reach their size.
constexpr int kWarmUp = 1'000;
// Room for the allocator's own bookkeeping; a leak of a single allocation per cycle exceeds it
// many times over.
constexpr std::size_t kHeapSlack = 16 * 1024;

using Lines = std::vector<std::string>;

// Descriptors and heap at the end of the warm-up, compared at the end of the run.
class Flat {
public:
    void take()
    {
        descriptors_ = tarnvel::test::open_descriptors();
        heap_ = tarnvel::test::heap_in_use();
    }
    void check() const
    {
        EXPECT_EQ(tarnvel::test::open_descriptors(), descriptors_);
        EXPECT_LE(tarnvel::test::heap_in_use(), heap_ + kHeapSlack);
    }

private:
    int descriptors_ = 0;
    std::size_t heap_ = 0;
};

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
    Flat flat;
    for (int i = 0; i < kCycles; ++i) {
        // Eight cycles of each, so that silences outlast the patience; the listing shows webs
        // in every other stretch of fifty cycles.
        state = static_cast<Webs>((i / 8) % 3);
        const bool listed = (i / 50) % 2 == 0;
        if (i % 50 == 0)
            host.write("/var/ps", listed ? "  PID USER       VSZ STAT COMMAND\n  321 root      2345 S    webs\n"
                                         : "  PID USER       VSZ STAT COMMAND\n    1 root      1000 S    init\n");
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
            commands = {"sh: ps>/var/ps", listed ? "sh: kill 321;sleep 1;webs&" : "sh: webs&"};
            sleeps = {3, 10, 1};
            patience = tarnvel::kWebPatience;
        }
        if (!cycle_ran(i, host, commands, sleeps)) break;
        if (i == kWarmUp) flat.take();
    }
    EXPECT_EQ(watch.patience, patience);
    flat.check();
}

TEST(Soak, PresenceWatchdog)
{
    FakeHost host;
    host.write("/proc/1/status", "Name:\tinit\nUmask:\t0022\n");
    host.make_dir("/proc/self");
    // webs's folder while it does not run: a name that is no process id.
    host.write("/proc/webs-gone/status", "Name:\twebs\nUmask:\t0022\nState:\tS (sleeping)\n");
    std::string folder = host.path("/proc/webs-gone");
    Flat flat;
    for (int i = 0; i < kCycles; ++i) {
        // webs comes and goes every three cycles, under another process id each time.
        const bool runs = (i / 3) % 2 == 0;
        const std::string now = runs ? host.path("/proc/" + std::to_string(300 + (i / 6) % 50)) : host.path("/proc/webs-gone");
        if (now != folder) {
            ASSERT_EQ(std::rename(folder.c_str(), now.c_str()), 0);
        }
        folder = now;
        tarnvel::chk_web_isExist_cycle();
        if (!cycle_ran(i, host, runs ? Lines{} : Lines{"sh: webs&"}, {5})) break;
        if (i == kWarmUp) flat.take();
    }
    flat.check();
}
