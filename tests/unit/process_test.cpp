#include "dispatch/dispatch.h"
#include "fake_host.h"
#include "web/process.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using tarnvel::find_pid;
using tarnvel::find_pid_by_name;
using tarnvel::test::capture_stdout;
using tarnvel::test::FakeHost;

namespace {

const std::string kHeader = "  PID USER       VSZ STAT COMMAND\n";

// Has the fake shell write `listing` when the tool asks for "ps>/var/ps".
void serve_listing(FakeHost& host, const std::string& listing)
{
    host.on_shell = [&host, listing](const std::string& text) {
        if (text == "ps>/var/ps") host.write("/var/ps", listing);
        return 0;
    };
}

} // namespace

TEST(FindPid, ListingCases)
{
    const std::string long_args(160, 'a');
    struct Case {
        const char* what;
        std::string listing;
        const char* pattern;
        int want;
    };
    const Case cases[] = {
        {"header holding the pattern is passed over", "  PID USER webs\n  812 root webs -d\n", "webs", 812},
        {"header, then the second line", kHeader + "    1 root  1500 S    init\n  733 root  2100 S    webs\n", "webs", 733},
        {"empty pattern: first process line", kHeader + "    7 root x\n    9 root y\n", "", 7},
        {"first matching line wins, whatever process", kHeader + "  100 root sh -c cp webs.cfg /tmp\n  200 root webs\n",
         "webs", 100},
        {"substring over the whole line, user included", kHeader + "  300 webs sleep 9\n", "webs", 300},
        {"case-sensitive", kHeader + "  400 root Webs\n", "webs", 0},
        {"nothing matches", kHeader + "  500 root init\n", "webs", 0},
        {"pid 0 is passed over", " 0 root webs\n 61 root webs\n", "webs", 61},
        {"a number too large is no pid", " 99999999999 root webs\n 62 root webs\n", "webs", 62},
        {"first word must begin with a digit", " x12 webs\n 63 webs\n", "webs", 63},
        {"leading digits of the first word", " 64abc webs\n", "webs", 64},
        {"a piece of spaces only has no first word", "      \n 65 z\n", " ", 65},
        // 149-character pieces: the continuation is judged by its own first word.
        {"match in a continuation without a number", " 70 root " + long_args + " webs\n 71 root webs\n", "webs", 71},
        {"match in a continuation that begins with a number",
         " 72 root " + std::string(140, 'b') + " 4242 webs\n", "webs", 4242},
        {"pattern ending at the 149th character", " 75 root " + std::string(136, 'c') + "webs\n", "webs", 75},
        {"pattern cut by the 149-character piece", " 76 root " + std::string(137, 'c') + "webs\n 77 webs\n", "webs", 77},
        {"match in the first piece of a long line", " 73 root webs " + long_args + "\n", "webs", 73},
        {"empty listing", "", "webs", 0},
        {"last line without newline", kHeader + " 74 root webs", "webs", 74},
    };
    for (const Case& c : cases) {
        FakeHost host;
        serve_listing(host, c.listing);
        EXPECT_EQ(find_pid(c.pattern), c.want) << c.what;
        EXPECT_EQ(host.commands, std::vector<std::string>{"sh: ps>/var/ps"}) << c.what;
        EXPECT_EQ(host.read("/var/ps"), c.listing) << "the listing stays in place";
    }
}

TEST(FindPid, NoListingGivesZero)
{
    FakeHost host;
    EXPECT_EQ(find_pid("webs"), 0);
    EXPECT_EQ(host.commands, std::vector<std::string>{"sh: ps>/var/ps"});
}

TEST(FindPid, ListingIsRewrittenOnEveryCall)
{
    FakeHost host;
    int calls = 0;
    host.on_shell = [&](const std::string&) {
        host.write("/var/ps", " " + std::to_string(++calls * 10) + " webs\n");
        return 0;
    };
    EXPECT_EQ(find_pid("webs"), 10);
    EXPECT_EQ(find_pid("webs"), 20);
}

TEST(ProcessOption, PrintsThePidFound)
{
    struct Case {
        std::vector<std::string> args;
        std::string out;
        bool looked_up;
    };
    const Case cases[] = {
        {{"-d", "webs"}, "webs PID:733\n", true},
        {{"-d", "nosuch"}, "nosuch PID:0\n", true},
        {{"-d", ""}, " PID:1\n", true},
        {{"-d"}, "", false},
    };
    for (const Case& c : cases) {
        FakeHost host;
        serve_listing(host, kHeader + "    1 root init\n  733 root webs\n");
        std::vector<std::string> args = c.args;
        args.insert(args.begin(), "tarnvel");
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        EXPECT_EQ(capture_stdout([&] { tarnvel::dispatch(argv.data()); }), c.out);
        EXPECT_EQ(host.commands.size(), c.looked_up ? 1u : 0u);
    }
}

namespace {

// A /proc with process folders whose status files begin as given (null: no status file).
void make_proc(FakeHost& host, const std::vector<std::pair<std::string, const char*>>& entries)
{
    host.make_dir("/proc");
    for (const auto& [entry, status] : entries) {
        host.make_dir("/proc/" + entry);
        if (status != nullptr) host.write("/proc/" + entry + "/status", status);
    }
}

} // namespace

TEST(FindPidByName, ProcCases)
{
    const std::string name42(42, 'n');
    struct Case {
        const char* what;
        std::vector<std::pair<std::string, const char*>> proc;
        std::string name;
        int want;
    };
    const std::string line48 = "Name:\t" + name42.substr(1) + "\n";
    const std::string long_line = "Name:\t" + name42 + "xyz\n";
    const Case cases[] = {
        {"found", {{"1", "Name:\tinit\n"}, {"812", "Name:\twebs\nState:\tS\n"}}, "webs", 812},
        {"whole name only", {{"812", "Name:\twebserver\n"}, {"813", "Name:\tweb\n"}}, "webs", 0},
        {"case differs", {{"812", "Name:\tWebs\n"}}, "webs", 0},
        {"init without a process of that name", {{"5", "Name:\tsh\n"}}, "init", 1},
        {"init with one", {{"77", "Name:\tinit\n"}}, "init", 77},
        {"word folders are never opened", {{"self", "Name:\twebs\n"}, {"net", "Name:\twebs\n"}}, "webs", 0},
        {"no status file", {{"90", nullptr}, {"91", "Name:\twebs\n"}}, "webs", 91},
        {"empty status file", {{"92", ""}, {"93", "Name:\twebs\n"}}, "webs", 93},
        {"first line without a second word", {{"94", "Name:\nwebs webs\n"}}, "webs", 0},
        {"only the first line counts", {{"95", "Name:\tsh\nUmask:\twebs\n"}}, "webs", 0},
        {"the whole name, spaces and tabs too", {{"80", "Name:\twebs x\n"}, {"81", "Name:\twebs\t\n"},
         {"82", "Name:\twebsx\n"}, {"83", "Name:\txwebs\n"}, {"84", "Name:\t webs\n"}}, "webs", 0},
        {"a line ending at the 48th character", {{"96", line48.c_str()}}, name42.substr(1), 96},
        {"a name running past the 48 characters read is not the name", {{"97", long_line.c_str()}}, name42, 0},
        {"... nor is the whole long name seen", {{"97", long_line.c_str()}}, name42 + "xyz", 0},
        {"empty name matches nothing", {{"98", "Name:\t\n"}}, "", 0},
    };
    for (const Case& c : cases) {
        FakeHost host;
        make_proc(host, c.proc);
        std::string out = capture_stdout([&] { EXPECT_EQ(find_pid_by_name(c.name.c_str()), c.want) << c.what; });
        EXPECT_EQ(out, "") << c.what;
        EXPECT_TRUE(host.commands.empty());
    }
}

TEST(FindPidByName, UnopenableProc)
{
    FakeHost host;
    int got = -1;
    EXPECT_EQ(capture_stdout([&] { got = find_pid_by_name("init"); }), "Cannot open /proc");
    EXPECT_EQ(got, 0);
}
