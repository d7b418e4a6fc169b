#include "common/platform.h"
#include "fake_host.h"
#include "wireless/channel.h"
#include "wireless/credentials.h"
#include "wireless/link_gate.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <csignal>
#include <cstring>
#include <map>
#include <string>
#include <sys/resource.h>
#include <vector>

using namespace tarnvel;
using tarnvel::test::capture_stderr;
using tarnvel::test::capture_stdout;
using tarnvel::test::FakeHost;

namespace {

// A writable argument vector "tarnvel OPTION ARGS...", ended by its null entry.
struct Args {
    explicit Args(std::vector<std::string> words) : text(std::move(words))
    {
        text.insert(text.begin(), "tarnvel");
        for (std::string& w : text) argv.push_back(w.data());
        argv.push_back(nullptr);
    }
    std::vector<std::string> text;
    std::vector<char*> argv;
};

struct Output {
    std::string out;
    std::string err;
};

Output call(void (*operation)(char**), const std::vector<std::string>& words)
{
    Args args(words);
    Output o;
    o.err = capture_stderr([&] { o.out = capture_stdout([&] { operation(args.argv.data()); }); });
    return o;
}

bool one_refusal(const std::string& err) { return err.rfind("tarnvel: ", 0) == 0 && std::count(err.begin(), err.end(), '\n') == 1; }

// --- the link gate -----------------------------------------------------------------------

// How the fake driver answers for one interface. A missing interface fails both requests.
struct Iface {
    bool wireless = true; // SIOCGIWNAME succeeds
    bool bss = true;      // the BSS request succeeds
    unsigned char state = 0;
};

// Answers the gate's requests from `ifaces` and keeps "N name" / "B name" for each request.
void driver(FakeHost& host, const std::map<std::string, Iface>& ifaces, std::vector<std::string>& asked)
{
    host.on_ioctl = [&ifaces, &asked](int, unsigned long request, void* arg) {
        auto* wrq = static_cast<struct iwreq*>(arg);
        std::string name(wrq->ifr_name, strnlen(wrq->ifr_name, IFNAMSIZ));
        EXPECT_LT(name.size(), static_cast<std::size_t>(IFNAMSIZ)) << "name left unterminated";
        auto it = ifaces.find(name);
        if (request == platform::kSiocGIwName) {
            asked.push_back("N " + name);
            if (it == ifaces.end() || !it->second.wireless) return -1;
            std::strcpy(wrq->u.name, "IEEE 802.11bgn");
            return 0;
        }
        EXPECT_EQ(request, platform::kSiocGIwBssInfo);
        asked.push_back("B " + name);
        EXPECT_EQ(wrq->u.data.length, 44);
        EXPECT_NE(wrq->u.data.pointer, nullptr);
        if (it == ifaces.end() || !it->second.bss) return -1;
        auto* bss = static_cast<unsigned char*>(wrq->u.data.pointer);
        std::memset(bss, 0x5a, 44);
        bss[0] = it->second.state;
        return 0;
    };
}

} // namespace

TEST(LinkGate, RunsTheCommandOnlyWithoutAnEstablishedLink)
{
    struct Case {
        const char* list;
        std::map<std::string, Iface> ifaces;
        std::vector<std::string> asked;
        bool runs;
    };
    const Iface link{true, true, 4};
    const Iface idle{true, true, 3};
    const Iface no_bss{true, false, 4};
    const Iface wired{false, true, 4};
    const Case cases[] = {
        {"wlan0", {}, {"N wlan0"}, true},
        {"wlan0", {{"wlan0", link}}, {"N wlan0", "B wlan0"}, false},
        {"wlan0", {{"wlan0", idle}}, {"N wlan0", "B wlan0"}, true},
        {"wlan0", {{"wlan0", Iface{true, true, 0}}}, {"N wlan0", "B wlan0"}, true},
        {"wlan0", {{"wlan0", no_bss}}, {"N wlan0", "B wlan0"}, true},
        {"wlan0", {{"wlan0", wired}}, {"N wlan0"}, true},
        // State 4 on the first name: the second is never asked.
        {"wlan0_wlan1", {{"wlan0", link}, {"wlan1", link}}, {"N wlan0", "B wlan0"}, false},
        {"wlan0_wlan1", {{"wlan0", idle}, {"wlan1", link}}, {"N wlan0", "B wlan0", "N wlan1", "B wlan1"}, false},
        {"wlan0_wlan1", {{"wlan1", link}}, {"N wlan0", "N wlan1", "B wlan1"}, false},
        {"wlan0_wlan1", {{"wlan0", no_bss}, {"wlan1", idle}}, {"N wlan0", "B wlan0", "N wlan1", "B wlan1"}, true},
        {"wlan0_wlan1", {}, {"N wlan0", "N wlan1"}, true},
        // Split once: the second name keeps its own "_".
        {"wlan0_wlan1_wlan2", {{"wlan1", link}, {"wlan1_wlan2", link}}, {"N wlan0", "N wlan1_wlan2", "B wlan1_wlan2"}, false},
        // Names that cannot exist are not asked for: empty, or 16 characters and more.
        {"wlan0_", {{"wlan0", idle}}, {"N wlan0", "B wlan0"}, true},
        {"_wlan1", {{"wlan1", link}}, {"N wlan1", "B wlan1"}, false},
        {"abcdefghijklmnop", {{"abcdefghijklmnop", link}, {"abcdefghijklmno", link}}, {}, true},
        {"abcdefghijklmno", {{"abcdefghijklmno", link}}, {"N abcdefghijklmno", "B abcdefghijklmno"}, false},
        {"wlan0_abcdefghijklmnopq", {{"abcdefghijklmnop", link}}, {"N wlan0"}, true},
    };
    for (const Case& c : cases) {
        FakeHost host;
        std::vector<std::string> asked;
        driver(host, c.ifaces, asked);
        Output o = call(getWlBssInfo, {"-1", c.list, "0", "reboot"});
        EXPECT_EQ(asked, c.asked) << c.list;
        EXPECT_EQ(host.commands, c.runs ? std::vector<std::string>{"sh: reboot "} : std::vector<std::string>{}) << c.list;
        EXPECT_EQ(o.out + o.err, "") << c.list;
    }
}

TEST(LinkGate, JoinsTheWordsEachFollowedByOneSpace)
{
    struct Case {
        std::vector<std::string> words;
        const char* text;
    };
    const Case cases[] = {
        {{}, ""},
        {{"reboot"}, "reboot "},
        {{"echo", "up"}, "echo up "},
        {{"iwpriv", "wlan0", "set_mib", "ssid=a b"}, "iwpriv wlan0 set_mib ssid=a b "},
        {{"echo", "$(id)", ">", "/var/x", "", "'q'"}, "echo $(id) > /var/x  'q' "},
    };
    for (const Case& c : cases) {
        FakeHost host;
        host.on_ioctl = [](int, unsigned long, void*) { return -1; };
        std::vector<std::string> words = {"-1", "wlan0", "0"};
        words.insert(words.end(), c.words.begin(), c.words.end());
        call(getWlBssInfo, words);
        EXPECT_EQ(host.commands, std::vector<std::string>{std::string("sh: ") + c.text});
    }
}

TEST(LinkGate, CommandsThatDoNotFitFiveHundredBytesAreNotRun)
{
    struct Case {
        std::vector<std::string> words;
        bool runs;
    };
    // Each word is followed by a space; the text and its terminator must fit 500 bytes.
    const Case cases[] = {
        {{std::string(498, 'w')}, true},       // 499 characters
        {{std::string(499, 'w')}, false},      // 500
        {{std::string(496, 'w'), "x"}, true},  // 499
        {{std::string(497, 'w'), "x"}, false}, // 500
        {{std::string(5000, 'w')}, false},
    };
    for (const Case& c : cases) {
        FakeHost host;
        host.on_ioctl = [](int, unsigned long, void*) { return -1; };
        std::vector<std::string> words = {"-1", "wlan0", "0"};
        words.insert(words.end(), c.words.begin(), c.words.end());
        Output o = call(getWlBssInfo, words);
        const std::string row = std::to_string(c.words[0].size()) + " and " + std::to_string(c.words.size() - 1) + " more";
        EXPECT_EQ(host.commands.size(), c.runs ? 1u : 0u) << row;
        EXPECT_EQ(one_refusal(o.err), !c.runs) << row << ": " << o.err;
        EXPECT_EQ(o.out, "");
    }
}

TEST(LinkGate, DelayComesFirstAndOnlyWhenPositive)
{
    struct Case {
        const char* delay;
        std::vector<unsigned> sleeps;
    };
    const Case cases[] = {
        {"5", {5}},
        {"0", {}},
        {"", {}},
        {"abc", {}},
        {"-3", {}},
        {" 7", {7}},
        {"+2", {2}},
        {"12abc", {12}},
        {"99999999999", {INT_MAX}},
        {"-99999999999", {}},
    };
    for (const Case& c : cases) {
        FakeHost host;
        host.on_ioctl = [](int, unsigned long, void*) { return -1; };
        bool asked_before_sleep = false;
        host.on_sleep = [&](unsigned) { asked_before_sleep = !host.ioctls.empty(); };
        call(getWlBssInfo, {"-1", "wlan0", c.delay, "true"});
        EXPECT_EQ(host.sleeps, c.sleeps) << "delay \"" << c.delay << "\"";
        EXPECT_FALSE(asked_before_sleep);
        EXPECT_EQ(host.ioctls.size(), 1u);
    }
}

TEST(LinkGate, WithoutInterfacesOrDelayNothingHappens)
{
    for (const std::vector<std::string>& words : {std::vector<std::string>{"-1"}, {"-1", "wlan0"}}) {
        FakeHost host;
        Output o = call(getWlBssInfo, words);
        EXPECT_TRUE(host.commands.empty() && host.sleeps.empty() && host.ioctls.empty());
        EXPECT_EQ(o.out + o.err, "");
    }
}

// --- the automatic channel list ----------------------------------------------------------

namespace {

const std::string kCopy = "sh: cat /proc/auto_channel_switch>/var/wifi_channel";
const std::string kHandBack = "sh: cat /var/wifi_channel_list  > /proc/auto_channel_switch";
const std::string kInit = "sh: init.sh gw all";

// Acts out the copy of the driver's field as the shell would: the redirection creates the
// scratch file, and cat fills it when the driver's file is there.
void act_out_copy(FakeHost& host)
{
    host.on_shell = [&host](const std::string& text) {
        if (text == kCopy.substr(4)) {
            host.write("/var/wifi_channel", host.exists("/proc/auto_channel_switch") ? host.read("/proc/auto_channel_switch") : "");
        }
        return 0;
    };
}

// Lowers the largest file this process may write, around `body`; writes past it fail.
void with_file_size_limit(rlim_t bytes, const std::function<void()>& body)
{
    struct rlimit old;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    auto previous = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit = {bytes, old.rlim_max};
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    body();
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, previous);
}

} // namespace

TEST(ChannelList, AppendsTheCodeOrActsOnTheReservedOnes)
{
    struct Case {
        const char* field; // null: the driver's file is missing
        const char* list;  // the list afterwards; null: never created
        const char* out;
        bool reboot;
    };
    const Case cases[] = {
        {"  6\n", "006", "", false},
        {" 36\n", "036", "", false},
        {"149\n", "149", "", false},
        {"149", "149", "", false},
        {"  6 and more than nine\nsecond line\n", "006", "", false},
        {"000\n", nullptr, "\n Invaid channel", false},
        {"  0\n", nullptr, "\n Invaid channel", false},
        {"999\n", nullptr, "", true},
        // No code: only the two closing commands.
        {"", nullptr, "", false},
        {nullptr, nullptr, "", false},
        {"6\n", nullptr, "", false},
        {" 6\n", nullptr, "", false},
        {"  \n", nullptr, "", false},
    };
    for (const Case& c : cases) {
        FakeHost host;
        host.make_dir("/var");
        if (c.field) host.write("/proc/auto_channel_switch", c.field);
        act_out_copy(host);
        Output o = call(wifi_channel_switch, {"-k"});
        const std::string what = c.field ? c.field : "(no file)";
        EXPECT_EQ(o.out, c.out) << what;
        EXPECT_EQ(o.err, "") << what;
        std::vector<std::string> want = {kCopy};
        if (c.reboot) want.push_back("sh: reboot");
        want.push_back(kHandBack);
        want.push_back(kInit);
        EXPECT_EQ(host.commands, want) << what;
        EXPECT_EQ(host.exists("/var/wifi_channel_list"), c.list != nullptr) << what;
        EXPECT_EQ(host.read("/var/wifi_channel_list"), c.list ? c.list : "") << what;
    }
}

TEST(ChannelList, AListThatDoesNotOpenLosesTheCodeQuietly)
{
    FakeHost host;
    host.make_dir("/var/wifi_channel_list");
    host.write("/proc/auto_channel_switch", " 36\n");
    act_out_copy(host);
    Output o = call(wifi_channel_switch, {"-k"});
    EXPECT_EQ(o.out + o.err, "");
    EXPECT_EQ(host.commands, (std::vector<std::string>{kCopy, kHandBack, kInit}));
}

TEST(ChannelList, AShortWriteSaysSoAndLeavesNoPartOfTheCode)
{
    FakeHost host;
    const std::string full(4095, '6');
    host.write("/var/wifi_channel_list", full);
    host.write("/proc/auto_channel_switch", "149\n");
    act_out_copy(host);
    Output o;
    with_file_size_limit(4096, [&] { o = call(wifi_channel_switch, {"-k"}); });
    EXPECT_EQ(o.out, "\n update channel to auto channel failed");
    EXPECT_EQ(host.read("/var/wifi_channel_list"), full);
    EXPECT_EQ(host.commands, (std::vector<std::string>{kCopy, kHandBack, kInit}));
}

// --- the default credentials -------------------------------------------------------------

namespace {

struct SettingCase {
    std::vector<std::string> words;
    const char* file; // what /var/mibSetting holds afterwards; null: never created
    bool refused;
};

void check_settings(void (*operation)(char**), const std::vector<SettingCase>& cases)
{
    for (const SettingCase& c : cases) {
        FakeHost host;
        host.make_dir("/var");
        Output o = call(operation, c.words);
        std::string what;
        for (const std::string& w : c.words) what += "[" + w + "]";
        EXPECT_EQ(o.out, "") << what;
        EXPECT_TRUE(c.refused ? one_refusal(o.err) : o.err.empty()) << what << ": " << o.err;
        EXPECT_EQ(host.exists("/var/mibSetting"), c.file != nullptr) << what;
        EXPECT_EQ(host.read("/var/mibSetting"), c.file ? c.file : "") << what;
        EXPECT_TRUE(host.commands.empty()) << what;
    }
}

std::string ssid_lines(const std::string& name)
{
    return "DEF_WLAN0_SSID=" + name + "\nDEF_WLAN0_WSC_SSID=" + name + "\n";
}

std::string psk_lines(const std::string& pass)
{
    return "DEF_WLAN0_WPA_PSK=" + pass + "\nDEF_WLAN0_WSC_PSK=" + pass + "\n";
}

} // namespace

TEST(Credentials, DefaultSsidFromThePrefixAndTheValuesTail)
{
    const std::string net = ssid_lines("Net_BCDEFGHIJ");
    const std::string bare = ssid_lines("BCDEFGHIJ");
    const std::string a = ssid_lines("Net_ABC");
    const std::string nine = ssid_lines("Net_123456789");
    const std::string eq = ssid_lines("Net_CDEFGHIJK");
    const std::string hostile = ssid_lines("\"; reboot; \"`id`$(id)\\n'BCDEFGHIJ");
    const std::string one = ssid_lines("Net_A");
    check_settings(change_default_SSID, {
        {{"-g", "KEY=xABCDEFGHIJy", "Net_"}, net.c_str(), false},
        {{"-g", "KEY=xABCDEFGHIJy", ""}, bare.c_str(), false},
        {{"-g", "KEY=xABCy", "Net_"}, a.c_str(), false},
        {{"-g", "KEY=xAy", "Net_"}, one.c_str(), false},
        {{"-g", "K=x123456789y", "Net_"}, nine.c_str(), false},
        // The value starts at the first "=".
        {{"-g", "a=b=xABCDEFGHIJKy", "Net_"}, eq.c_str(), false},
        // Nothing remains between the character after "=" and the last one.
        {{"-g", "KEY=xy", "Net_"}, nullptr, true},
        {{"-g", "KEY=x", "Net_"}, nullptr, true},
        {{"-g", "KEY=", "Net_"}, nullptr, true},
        {{"-g", "=", "Net_"}, nullptr, true},
        // Quietly nothing: no "=", or a parameter missing.
        {{"-g", "KEYxABCDEFGHIJy", "Net_"}, nullptr, false},
        {{"-g", "KEY=xABCDEFGHIJy"}, nullptr, false},
        {{"-g"}, nullptr, false},
        // Shell characters are kept as they are.
        {{"-g", "KEY=xABCDEFGHIJy", "\"; reboot; \"`id`$(id)\\n'"}, hostile.c_str(), false},
        // A line break in what would be written is refused; elsewhere in the value it is not written.
        {{"-g", "KEY=xABCD\nFGHIJy", "Net_"}, nullptr, true},
        {{"-g", "KEY=xABCDEFGHIJy", "Net\nDEF_WLAN0_SSID=evil"}, nullptr, true},
        {{"-g", "K\nY=xABCDEFGHIJy", "Net_"}, net.c_str(), false},
    });
}

TEST(Credentials, DefaultPassphrase)
{
    const std::string pass = psk_lines("s3cret pass");
    const std::string empty = psk_lines("");
    const std::string hostile = psk_lines("a\"b $(touch /tmp/pwned) `reboot` back\\slash \\n \\c end");
    check_settings(change_default_WPA_PW, {
        {{"-h", "s3cret pass"}, pass.c_str(), false},
        {{"-h", ""}, empty.c_str(), false},
        {{"-h"}, nullptr, false},
        {{"-h", "a\"b $(touch /tmp/pwned) `reboot` back\\slash \\n \\c end"}, hostile.c_str(), false},
        {{"-h", "first\nDEF_WLAN0_WPA_PSK=forged"}, nullptr, true},
        {{"-h", "ends with a line break\n"}, nullptr, true},
    });
}

// The echo commands were formatted into 304 bytes; the longer one of each pair sets the limit:
// 'echo "DEF_WLAN0_WSC_SSID=' plus '" >> /var/mibSetting' is 45 characters, so prefix and tail
// may be 258; 'echo "DEF_WLAN0_WSC_PSK=' and the rest is 44, so a passphrase may be 259.
TEST(Credentials, TheLengthsTheDeviceAlwaysTook)
{
    const std::string p249(249, 'p');
    const std::string p255(255, 'p');
    const std::string ok_g = ssid_lines(p249 + "BCDEFGHIJ");
    const std::string ok_g_short = ssid_lines(p255 + "ABC");
    check_settings(change_default_SSID, {
        {{"-g", "KEY=xABCDEFGHIJy", p249}, ok_g.c_str(), false},
        {{"-g", "KEY=xABCDEFGHIJy", p249 + "p"}, nullptr, true},
        {{"-g", "KEY=xABCy", p255}, ok_g_short.c_str(), false},
        {{"-g", "KEY=xABCy", p255 + "p"}, nullptr, true},
        {{"-g", "KEY=xABCDEFGHIJy", std::string(4000, 'p')}, nullptr, true},
    });
    const std::string ok_h = psk_lines(std::string(259, 'k'));
    check_settings(change_default_WPA_PW, {
        {{"-h", std::string(259, 'k')}, ok_h.c_str(), false},
        {{"-h", std::string(260, 'k')}, nullptr, true},
        {{"-h", std::string(100000, 'k')}, nullptr, true},
    });
}

TEST(Credentials, AFileThatCannotTakeTheLinesIsSaidAndLeftWhole)
{
    FakeHost host;
    // No /var at all: nothing to create the file in.
    Output o = call(change_default_WPA_PW, {"-h", "pass"});
    EXPECT_TRUE(one_refusal(o.err)) << o.err;
    EXPECT_FALSE(host.exists("/var/mibSetting"));

    // The file system fills in the middle of the two lines: neither stays.
    const std::string before(4090, '#');
    host.write("/var/mibSetting", before);
    with_file_size_limit(4096, [&] { o = call(change_default_WPA_PW, {"-h", "pass"}); });
    EXPECT_TRUE(one_refusal(o.err)) << o.err;
    EXPECT_EQ(host.read("/var/mibSetting"), before);
}

