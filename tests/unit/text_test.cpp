#include "common/text.h"

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
    EXPECT_EQ(std::string(errno_name(4321)), "errno 4321");
}
