#include "fake_host.h"
#include "flash/hexdump.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using tarnvel::dump_h;
using tarnvel::test::capture_stdout;
using tarnvel::test::pointer_text;

namespace {

std::string row_head(const unsigned char* at, unsigned index)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, ":%08X(%010u) ", index, index);
    return pointer_text(at) + buf;
}

std::string header(const char* name, const void* start, const void* end, unsigned len, unsigned flags)
{
    return "dump " + std::string(name) + " " + pointer_text(start) + "-" + pointer_text(end) +
           " len:" + std::to_string(len) + " flag:" + std::to_string(flags) + "\n";
}

const std::string kFill = "   ";

std::string fills(int n)
{
    std::string s;
    for (int i = 0; i < n; ++i) s += kFill;
    return s;
}

} // namespace

TEST(HexDump, TwentyOneBytesGiveAFullRowAndAFilledShortRow)
{
    std::vector<unsigned char> b;
    for (char c = 'A'; c <= 'S'; ++c) b.push_back(static_cast<unsigned char>(c));
    b.push_back('\n');
    b.push_back('\0');
    ASSERT_EQ(b.size(), 21u);
    std::string out = capture_stdout([&] { dump_h("/dev/sda", b.data(), nullptr, 21, 2, 0); });
    std::string want = header("/dev/sda", b.data(), b.data() + 21, 21, 2) + row_head(b.data(), 0) +
                       "41 42 43 44-45 46 47 48:49 4A 4B 4C-4D 4E 4F 50 ABCDEFGHIJKLMNOP\n" +
                       row_head(b.data() + 16, 16) + "51 52 53 0A-00 " + fills(11) + "QRS.." + "\n";
    EXPECT_EQ(out, want);
}

TEST(HexDump, NullEndAndZeroLengthDumpThirtyTwoBytesEndingInAnEmptyLine)
{
    unsigned char b[32];
    for (int i = 0; i < 32; ++i) b[i] = static_cast<unsigned char>(0x30 + i);
    std::string out = capture_stdout([&] { dump_h("x", b, nullptr, 0, 2, 0); });
    std::string want = header("x", b, b + 32, 0, 2) + row_head(b, 0) +
                       "30 31 32 33-34 35 36 37:38 39 3A 3B-3C 3D 3E 3F 0123456789:;<=>?\n" +
                       row_head(b + 16, 16) +
                       "40 41 42 43-44 45 46 47:48 49 4A 4B-4C 4D 4E 4F @ABCDEFGHIJKLMNO\n" + "\n";
    EXPECT_EQ(out, want);
}

TEST(HexDump, PrintableRangeIsSpaceToTilde)
{
    const unsigned char b[] = {0x1F, 0x20, 0x7E, 0x7F, 0x80, 0xFF};
    std::string out = capture_stdout([&] { dump_h("p", b, b + sizeof b, 6, 0, 0); });
    std::string want = header("p", b, b + 6, 6, 0) + row_head(b, 0) + "1F 20 7E 7F-80 FF " + fills(10) + ". ~...";
    EXPECT_EQ(out, want);
}

TEST(HexDump, SkipStartsEachRowThatFarAfterThePrevious)
{
    unsigned char b[64];
    for (int i = 0; i < 64; ++i) b[i] = static_cast<unsigned char>('a' + i % 26);
    std::string out = capture_stdout([&] { dump_h("s", b, nullptr, 64, 2, 32); });
    std::string want = header("s", b, b + 64, 64, 2) + row_head(b, 0) +
                       "61 62 63 64-65 66 67 68:69 6A 6B 6C-6D 6E 6F 70 abcdefghijklmnop\n" +
                       row_head(b + 32, 32) +
                       "67 68 69 6A-6B 6C 6D 6E:6F 70 71 72-73 74 75 76 ghijklmnopqrstuv\n" + "\n";
    EXPECT_EQ(out, want);
}

TEST(HexDump, RowDistancesBelowOneRowMeanRowsFollowEachOther)
{
    unsigned char b[20] = {};
    std::string plain = capture_stdout([&] { dump_h("s", b, nullptr, 20, 2, 0); });
    for (int skip : {1, 15, -16, -1000}) {
        EXPECT_EQ(capture_stdout([&] { dump_h("s", b, nullptr, 20, 2, skip); }), plain) << skip;
    }
}

TEST(HexDump, EdgeArguments)
{
    unsigned char b[4] = {1, 2, 3, 4};
    EXPECT_EQ(capture_stdout([&] { dump_h("n", nullptr, nullptr, 4, 3, 0); }), "");
    EXPECT_EQ(capture_stdout([&] { dump_h(nullptr, b, b, 4, 2, 0); }), header("", b, b, 4, 2) + "\n");
    EXPECT_EQ(capture_stdout([&] { dump_h("n", b + 2, b, 4, 0, 0); }), header("n", b + 2, b, 4, 0));
    // The lead newline comes before the header; only the low 8 bits of the flags count.
    EXPECT_EQ(capture_stdout([&] { dump_h("n", b, b, 9, 1, 0); }), "\n" + header("n", b, b, 9, 1));
}
