#include "device/control.h"
#include "device/otp.h"
#include "fake_host.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <string>
#include <unistd.h>
#include <vector>

using namespace tarnvel;
using tarnvel::test::Argv;
using tarnvel::test::capture_stderr;
using tarnvel::test::capture_stdout;
using tarnvel::test::FakeHost;

namespace {

// What /proc/OTP holds before a run: a record only a write can replace.
const std::string kUntouched(60, '#');

// The 60-byte record: the word zero-filled to 10 bytes, the text zero-filled to 50.
std::string record(const std::string& word, const std::string& text)
{
    std::string r = word + std::string(10 - word.size(), '\0');
    return r + text + std::string(50 - text.size(), '\0');
}

struct OtpRun {
    std::string out;
    std::string err;
    int result = 0;
};

OtpRun otp(std::vector<std::string> words)
{
    Argv argv(words);
    OtpRun r;
    r.err = capture_stderr([&] { r.out = capture_stdout([&] { r.result = OTP_cmd(argv.get()); }); });
    return r;
}

} // namespace

TEST(Otp, RecordLayout)
{
    EXPECT_EQ(sizeof(otp_record), 60u);
    EXPECT_EQ(offsetof(otp_record, word), 0u);
    EXPECT_EQ(offsetof(otp_record, text), 10u);
    EXPECT_EQ(sizeof(otp_record::word), 10u);
}

TEST(Otp, RecordsForEachWord)
{
    const std::string v45(45, 'v');
    struct Case {
        std::vector<std::string> args;
        std::string written; // kUntouched when nothing may be written
        bool refused;
    };
    const std::vector<Case> cases = {
        {{"-9", "set", "KEY=abc", "42"}, record("set", "abc 42"), false},
        {{"-9", "set", "KEY=", "42"}, record("set", " 42"), false},
        {{"-9", "set", "KEY", "42"}, record("set", "None 42"), false},
        {{"-9", "set", "A=b=c", ""}, record("set", "b=c "), false},
        {{"-9", "set", "K=" + v45, "abc"}, record("set", v45 + " abc"), false},
        {{"-9", "set", "K=" + v45, "abcd"}, kUntouched, true},
        {{"-9", "set", "KEY=abc"}, kUntouched, false},
        {{"-9", "set"}, kUntouched, false},
        {{"-9", "chk", "abc"}, record("chk", "None"), false},
        {{"-9", "chk", "K=v=w"}, record("chk", "v=w"), false},
        {{"-9", "chk", "K=" + std::string(49, 'c')}, record("chk", std::string(49, 'c')), false},
        {{"-9", "chk", "K=" + std::string(50, 'c')}, kUntouched, true},
        {{"-9", "chk"}, kUntouched, false},
        {{"-9", "time"}, record("time", "12345.67 54321.98\n"), false},
        {{"-9", "time", "K=x", "y"}, record("time", "12345.67 54321.98\n"), false},
        {{"-9", "other", "K=x", "y"}, record("other", ""), false},
        {{"-9", "123456789"}, record("123456789", ""), false},
        {{"-9", "1234567890"}, kUntouched, true},
        {{"-9", "setsetsetset", "K=v", "x"}, kUntouched, true},
        {{"-9", ""}, record("", ""), false},
        {{"-9"}, kUntouched, false},
    };
    for (const Case& c : cases) {
        FakeHost host;
        host.write("/proc/OTP", kUntouched);
        host.write("/proc/uptime", "12345.67 54321.98\n");
        const OtpRun r = otp(c.args);
        const std::string what = *(c.args.begin() + (c.args.size() > 1 ? 1 : 0));
        EXPECT_EQ(r.out, "") << what;
        EXPECT_EQ(r.result, 1);
        EXPECT_EQ(host.read("/proc/OTP"), c.written) << what;
        EXPECT_EQ(r.err.rfind("tarnvel: -9: ", 0) == 0, c.refused) << what << ": " << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), c.refused ? 1 : 0) << what;
    }
}

TEST(Otp, TimeTakesTheFirstUptimeLineCutToTheField)
{
    struct Case {
        const char* uptime; // null: no /proc/uptime
        std::string text;
    };
    const std::string long_line = std::string(60, '7') + "\n";
    const Case cases[] = {
        {nullptr, ""},
        {"", ""},
        {"1.00 2.00\nsecond line\n", "1.00 2.00\n"},
        {long_line.c_str(), std::string(49, '7')},
    };
    for (const Case& c : cases) {
        FakeHost host;
        host.write("/proc/OTP", kUntouched);
        if (c.uptime) host.write("/proc/uptime", c.uptime);
        otp({"-9", "time"});
        EXPECT_EQ(host.read("/proc/OTP"), record("time", c.text));
    }
}

// /proc/OTP is opened before the arguments are looked at: every form past the word says so,
// also those that would write nothing or be refused.
TEST(Otp, WithoutTheDriverEveryFormSaysSo)
{
    const std::vector<std::vector<std::string>> forms = {
        {"-9", "set", "K=v", "x"}, {"-9", "set", "K=v"}, {"-9", "chk"}, {"-9", "time"}, {"-9", "1234567890"},
        {"-9", "chk", "K=" + std::string(80, 'c')},
    };
    for (const auto& args : forms) {
        FakeHost host;
        const OtpRun r = otp(args);
        EXPECT_EQ(r.out, "/proc open error\n");
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.result, 1);
    }
    FakeHost host;
    EXPECT_EQ(otp({"-9"}).out, "");
}

TEST(Otp, AFailedWriteIsReported)
{
    if (::access("/dev/full", W_OK) != 0) GTEST_SKIP() << "needs /dev/full";
    FakeHost host;
    host.make_dir("/proc");
    ASSERT_EQ(::symlink("/dev/full", host.path("/proc/OTP").c_str()), 0);
    const OtpRun r = otp({"-9", "chk", "K=v"});
    EXPECT_EQ(r.out, "write error\n");
    EXPECT_EQ(r.result, 1);
}

TEST(Control, RebootAfterThreeSeconds)
{
    FakeHost host;
    host.on_shell = [](const std::string&) { return 7; };
    EXPECT_EQ(capture_stdout([] { EXPECT_EQ(sysrbt(), 7); }), "");
    EXPECT_EQ(host.sleeps, std::vector<unsigned>{3});
    EXPECT_EQ(host.commands, std::vector<std::string>{"sh: reboot"});
}

TEST(Control, OnetimeInitStartsBothDaemonsEachTime)
{
    FakeHost host;
    host.on_shell = [](const std::string& text) { return text == "tarnvel -c&" ? 5 : 0; };
    for (int run = 1; run <= 2; ++run) {
        EXPECT_EQ(capture_stdout([] { EXPECT_EQ(onetime_init(), 5); }), "===onetime_init===\n");
    }
    EXPECT_EQ(host.commands, (std::vector<std::string>{"sh: tarnvel -3&", "sh: tarnvel -c&", "sh: tarnvel -3&", "sh: tarnvel -c&"}));
    EXPECT_TRUE(host.sleeps.empty());
}
