#include "common/fixed.h"
#include "fake_host.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>

using namespace tarnvel;
using tarnvel::test::FakeHost;

TEST(FixedPaths, OpenUnderTheRootOrSayWhyNot)
{
    FakeHost host;
    host.write("/var/ps", "1 init\n");
    EXPECT_TRUE(open_fixed("/var/ps", O_RDONLY).valid());
    EXPECT_TRUE(static_cast<bool>(fopen_fixed("/var/ps", "r")));
    EXPECT_FALSE(open_fixed("/var/none", O_RDONLY).valid());
    EXPECT_EQ(errno, ENOENT);

    // An empty path names nothing, not the root folder itself.
    EXPECT_FALSE(open_fixed("", O_RDONLY).valid());

    const std::string long_path = "/" + std::string(5000, 'x');
    errno = 0;
    EXPECT_FALSE(open_fixed(long_path.c_str(), O_RDONLY).valid());
    EXPECT_EQ(errno, ENAMETOOLONG);
    errno = 0;
    EXPECT_FALSE(static_cast<bool>(fopen_fixed(long_path.c_str(), "r")));
    EXPECT_EQ(errno, ENAMETOOLONG);
    EXPECT_TRUE(open_fixed("/var", O_RDONLY | O_DIRECTORY).valid());
    EXPECT_FALSE(open_fixed("/var/ps", O_RDONLY | O_DIRECTORY).valid());

    // A file it creates gets the mode asked for, less the umask.
    UniqueFd made = open_fixed("/var/new", O_WRONLY | O_CREAT, 0640);
    ASSERT_TRUE(made.valid());
    struct stat st;
    ASSERT_EQ(::fstat(made.get(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777 & ~0640u, 0u);
}
