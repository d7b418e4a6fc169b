#include "fake_host.h"
#include "loopback_server.h"
#include "web/control.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

using tarnvel::close_webs_files;
using tarnvel::reinit_webs;
using tarnvel::test::capture_stderr;
using tarnvel::test::capture_stdout;
using tarnvel::test::FakeHost;
using tarnvel::test::LoopbackServer;
using Strings = std::vector<std::string>;

namespace {

// close_webs_files with argv[2] = `name` (none when absent); returns stderr.
std::string close_files(std::optional<std::string> name)
{
    std::string option = "-i";
    std::vector<char*> argv = {const_cast<char*>("tarnvel"), option.data()};
    if (name) argv.push_back(name->data());
    argv.push_back(nullptr);
    return capture_stderr([&] { EXPECT_EQ(capture_stdout([&] { close_webs_files(argv.data()); }), ""); });
}

std::string request_for(const std::string& name) { return "GET /WEBS_FILES_CLOSE." + name + ".tarnvelcmd HTTP/1.1\r\n\r\n"; }

} // namespace

TEST(CloseWebsFiles, SendsTheRequestVerbatimWithoutItsNul)
{
    const std::string names[] = {"sda1", "my photos", "a\"b'c$(reboot)`x`\\", "", std::string(81, 'x')};
    FakeHost host;
    LoopbackServer server(LoopbackServer::Mode::Silent);
    server.use();
    for (const std::string& name : names) {
        EXPECT_EQ(close_files(name), "");
        EXPECT_TRUE(host.commands.empty());
    }
    ASSERT_TRUE(server.wait_handled(std::size(names)));
    Strings want;
    for (const std::string& name : names) want.push_back(request_for(name));
    EXPECT_EQ(server.requests(), want);
    EXPECT_EQ(want.back().size(), 127u);
}

// A missing name, one that does not fit the request, and one holding a control byte (a line
// end would add headers or a second request) are refused; bytes from 0x80 up are sent.
TEST(CloseWebsFiles, RefusesWhatDoesNotFitOrIsMissingAndSendsNothing)
{
    FakeHost host;
    LoopbackServer server(LoopbackServer::Mode::Silent);
    server.use();
    const std::optional<std::string> refused[] = {std::nullopt, std::string(82, 'y'), "a\r\nHost: x", "sda1\n",
                                                  "\x01", "tab\there", "x\x1f", "del\x7f"};
    for (const std::optional<std::string>& name : refused) {
        std::string err = close_files(name);
        EXPECT_EQ(err.rfind("tarnvel: -i: ", 0), 0u) << err;
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    }
    // Nothing reached the server before this request.
    close_files("caf\xc3\xa9 ~");
    ASSERT_TRUE(server.wait_handled(1));
    EXPECT_EQ(server.requests(), Strings{request_for("caf\xc3\xa9 ~")});
}

// A webs that never accepts holds the request no longer than the 5 s send bound.
TEST(CloseWebsFiles, NeverAcceptingServerIsGivenUpOnInTime)
{
    FakeHost host;
    LoopbackServer server(LoopbackServer::Mode::NeverAccept);
    server.use();
    const auto began = std::chrono::steady_clock::now();
    EXPECT_EQ(close_files("sda1"), "");
    const auto took = std::chrono::steady_clock::now() - began;
    EXPECT_GE(took, std::chrono::seconds(4));
    EXPECT_LT(took, std::chrono::seconds(10));
}

TEST(CloseWebsFiles, NothingListeningIsSilent)
{
    FakeHost host;
    LoopbackServer server(LoopbackServer::Mode::Refuse);
    server.use();
    const int before = tarnvel::test::open_descriptors();
    EXPECT_EQ(close_files("sda1"), "");
    EXPECT_EQ(tarnvel::test::open_descriptors(), before);
    EXPECT_TRUE(host.commands.empty());
}

TEST(ReinitWebs, PidFileRules)
{
    const Strings restart = {"sh: killall webs", "sh: rm -rf /var/run/webs.pid", "sh: webs&"};
    struct Case {
        const char* what;
        std::optional<std::string> pid_file;
        bool acts;
    };
    const Case cases[] = {
        {"missing", std::nullopt, false},
        {"empty", "", false},
        {"no number", "webs\n", false},
        {"0", "0\n", false},
        {"1", "1\n", false},
        {"negative", "-123\n", false},
        {"sign only", "+\n", false},
        {"2", "2", true},
        {"123", "123\n", true},
        {"spaces before, other characters after", "   123xyz\n", true},
        {"a number that names no process still restarts by name", "99999999999999999\n", true},
        {"number beyond the first 19 characters", std::string(19, ' ') + "123\n", false},
        {"only the first line", "\n123\n", false},
    };
    for (const Case& c : cases) {
        FakeHost host;
        if (c.pid_file) host.write("/var/run/webs.pid", *c.pid_file);
        std::string err;
        std::string out = capture_stdout([&] { err = capture_stderr([] { reinit_webs(); }); });
        EXPECT_EQ(out, c.acts ? "reinit webs \n" : "") << c.what;
        EXPECT_EQ(err, "") << c.what;
        EXPECT_EQ(host.commands, c.acts ? restart : Strings{}) << c.what;
        // The tool only asks the shell to remove the file.
        EXPECT_EQ(host.exists("/var/run/webs.pid"), c.pid_file.has_value()) << c.what;
    }
}
