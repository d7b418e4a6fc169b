#include "fake_host.h"
#include "loopback_server.h"
#include "web/watchdog.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

using tarnvel::chk_web_cycle;
using tarnvel::chk_web_isExist_cycle;
using tarnvel::WebWatch;
using tarnvel::test::capture_stdout;
using tarnvel::test::FakeHost;
using tarnvel::test::LoopbackServer;
using tarnvel::test::open_descriptors;
using Mode = LoopbackServer::Mode;
using Strings = std::vector<std::string>;
using Sleeps = std::vector<unsigned>;
using namespace std::string_literals;

namespace {

const std::string kProbe("GET /TEST.tarnvelcmd HTTP/1.1\r\n\r\n\0", 34);
const char* const kWebs = "Name:\twebs\n";

// The device's processes: init, a jhead run on a photo named webs.jpg (its arguments mention
// webs, its name does not), and process 733 with the status `webs_status` (none when null).
void make_proc(FakeHost& host, const char* webs_status)
{
    host.write("/proc/1/status", "Name:\tinit\n");
    host.write("/proc/12/status", "Name:\tjhead\n");
    host.write("/proc/12/cmdline", "jhead\0-st\0/var/tmp/usb/sda1/.thumbnail/webs.jpg\0/var/tmp/usb/sda1/webs.jpg\0"s);
    host.write("/proc/self/status", kWebs);
    if (webs_status != nullptr) host.write("/proc/733/status", webs_status);
}

// Every socket this process holds is closed on exec, so no started program inherits one.
bool sockets_close_on_exec()
{
    DIR* d = ::opendir("/proc/self/fd");
    bool all = true;
    while (dirent* e = ::readdir(d)) {
        if (e->d_name[0] == '.') continue;
        char target[64] = {};
        std::string link = std::string("/proc/self/fd/") + e->d_name;
        if (::readlink(link.c_str(), target, sizeof target - 1) > 0 && std::string(target).rfind("socket:", 0) == 0)
            all = all && (::fcntl(std::stoi(e->d_name), F_GETFD) & FD_CLOEXEC) != 0;
    }
    ::closedir(d);
    return all;
}

// The responsiveness watchdog against a loopback server, one cycle at a time. The 3-second
// wait for the reply lasts until the server has handled the probe.
struct Watchdog {
    explicit Watchdog(Mode mode, const char* webs_status = kWebs) : server(mode)
    {
        make_proc(host, webs_status);
        server.use();
        host.on_sleep = [this](unsigned seconds) {
            if (seconds == 3) {
                EXPECT_TRUE(server.wait_handled(++probes)) << "probe " << probes;
            }
        };
        host.on_shell = [this](const std::string&) {
            children_inherit_no_socket = children_inherit_no_socket && sockets_close_on_exec();
            return 0;
        };
    }
    // One cycle; returns the commands it ran and the sleeps it took.
    std::pair<Strings, Sleeps> cycle()
    {
        host.commands.clear();
        host.sleeps.clear();
        chk_web_cycle(watch);
        return {host.commands, host.sleeps};
    }

    FakeHost host;
    LoopbackServer server;
    WebWatch watch;
    std::size_t probes = 0;
    bool children_inherit_no_socket = true;
};

const Strings kRestart = {"sh: kill 733;sleep 1;webs&"};
const std::pair<Strings, Sleeps> kQuietProbe = {{}, {3, 1}};

} // namespace

TEST(ChkWeb, AnswerResetsPatienceAndTheProbeIs34Bytes)
{
    Watchdog w(Mode::Answer);
    w.watch.patience = 2;
    EXPECT_EQ(w.cycle(), kQuietProbe);
    EXPECT_EQ(w.watch.patience, 5);
    EXPECT_EQ(w.server.requests(), Strings{kProbe});
}

TEST(ChkWeb, SilentServersAreRestartedOnTheSixthProbe)
{
    // Accepting and never answering, and closing at once without a byte, are both silence.
    for (Mode mode : {Mode::Silent, Mode::CloseAtOnce}) {
        Watchdog w(mode);
        for (int round = 0; round < 2; ++round) {
            for (int left = 4; left >= 0; --left) {
                EXPECT_EQ(w.cycle(), kQuietProbe);
                EXPECT_EQ(w.watch.patience, left);
            }
            // The sixth: kill and start anew, then 10 s more before the next probe.
            EXPECT_EQ(w.cycle(), std::make_pair(kRestart, Sleeps{3, 10, 1}));
            EXPECT_EQ(w.watch.patience, 5) << "back at 5 after the restart";
        }
        EXPECT_TRUE(w.children_inherit_no_socket);
        if (mode == Mode::Silent) {
            EXPECT_EQ(w.server.requests(), Strings(12, kProbe));
        }
    }
}

// Only a process named webs is killed: not the jhead that mentions webs.jpg, nor a longer name.
TEST(ChkWeb, RestartWithoutAProcessNamedWebsOnlyStartsIt)
{
    for (const char* status : {static_cast<const char*>(nullptr), "Name:\twebserver\n"}) {
        Watchdog w(Mode::Silent, status);
        w.watch.patience = 0;
        EXPECT_EQ(w.cycle(), std::make_pair(Strings{"sh: webs&"}, Sleeps{3, 10, 1}));
        EXPECT_EQ(w.watch.patience, 5);
    }
}

TEST(ChkWeb, AnAnswerEveryThirdProbeKeepsItAlive)
{
    Watchdog w(Mode::EveryThird);
    for (int i = 0; i < 30; ++i) {
        EXPECT_EQ(w.cycle(), kQuietProbe);
        EXPECT_GE(w.watch.patience, 3);
    }
}

TEST(ChkWeb, NothingListeningStartsWebsEveryCycleAndKeepsTheCount)
{
    Watchdog w(Mode::Refuse);
    w.watch.patience = 3;
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(w.cycle(), std::make_pair(Strings{"sh: webs&"}, Sleeps{1}));
        EXPECT_EQ(w.watch.patience, 3);
    }
    EXPECT_TRUE(w.children_inherit_no_socket);
}

TEST(ChkWeb, AThousandCyclesLeakNoDescriptor)
{
    const Mode modes[] = {Mode::Silent, Mode::Answer, Mode::Refuse};
    for (Mode mode : modes) {
        FakeHost outer; // keeps the count free of the fake host's own files
        const int before = open_descriptors();
        {
            Watchdog w(mode);
            for (int i = 0; i < 1000; ++i) chk_web_cycle(w.watch);
            EXPECT_EQ(w.probes, mode == Mode::Refuse ? 0u : 1000u);
        }
        EXPECT_EQ(open_descriptors(), before);
    }
}

TEST(ChkWebIsExist, StartsWebsOnlyWhenNoProcessIsNamedSo)
{
    struct Case {
        const char* what;
        const char* webs_status; // null: no such process
        Strings commands;
    };
    const Case cases[] = {
        {"webs runs", kWebs, {}},
        {"no webs", nullptr, {"sh: webs&"}},
        {"only a longer name", "Name:\twebserver\n", {"sh: webs&"}},
    };
    for (const Case& c : cases) {
        FakeHost host;
        make_proc(host, c.webs_status);
        EXPECT_EQ(capture_stdout([] { chk_web_isExist_cycle(); }), "") << c.what;
        EXPECT_EQ(host.commands, c.commands) << c.what;
        EXPECT_EQ(host.sleeps, Sleeps{5}) << c.what;
    }
}

TEST(ChkWebIsExist, WithoutProcItSaysSoAndStartsWebs)
{
    FakeHost host;
    EXPECT_EQ(capture_stdout([] { chk_web_isExist_cycle(); }), "Cannot open /proc");
    EXPECT_EQ(host.commands, Strings{"sh: webs&"});
}

TEST(ChkWebIsExist, AThousandCyclesLeakNoDescriptor)
{
    FakeHost host;
    make_proc(host, nullptr);
    const int before = open_descriptors();
    for (int i = 0; i < 1000; ++i) chk_web_isExist_cycle();
    EXPECT_EQ(open_descriptors(), before);
    EXPECT_EQ(host.commands.size(), 1000u);
}
