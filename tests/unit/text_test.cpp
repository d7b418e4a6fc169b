#include "common/text.h"
#include "fake_host.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

using namespace tarnvel;

// Refusals name the error the way an engineer looks it up, whatever the architecture's number.
TEST(Text, ErrnoNames)
{
    EXPECT_STREQ(errno_name(EROFS), "EROFS");
    EXPECT_STREQ(errno_name(ENOTEMPTY), "ENOTEMPTY");
    EXPECT_STREQ(errno_name(EDQUOT), "EDQUOT");
    EXPECT_STREQ(errno_name(ENODEV), "ENODEV");
    EXPECT_EQ(std::string(errno_name(4321)), "errno 4321");
}

// A refusal is one line whatever the names it quotes hold: control bytes escaped, and a long
// one cut in its middle.
TEST(Text, RefusalsStayOneLine)
{
    const std::string deep = "/" + std::string(300, 'a') + "/" + std::string(300, 'b');
    const struct {
        std::string name;
        std::string shown;
    } cases[] = {
        {"plain name.jpg", "plain name.jpg"},
        {"a\nb.jpg", "a\\nb.jpg"},
        {"\x1b[31mtarnvel: forged\r\t\x7f", "\\x1b[31mtarnvel: forged\\x0d\\t\\x7f"},
        {"caf\xc3\xa9.jpg", "caf\xc3\xa9.jpg"},
        {deep, "/" + std::string(195, 'a') + "..." + std::string(200, 'b')},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(test::capture_stderr([&] { refuse("-m: %s", c.name.c_str()); }), "tarnvel: -m: " + c.shown + "\n");
    }
}
