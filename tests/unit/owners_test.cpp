// The owners of the tool's resources.
#include "common/owners.h"

#include <gtest/gtest.h>

using tarnvel::HeapBuf;

TEST(HeapBuf, NoBytesIsEmptyOnEveryLibc)
{
    // malloc(0) gives a pointer on some C libraries and null on others: a buffer of no bytes
    // is empty either way, so a caller never takes it for memory it can use.
    const HeapBuf none(0);
    EXPECT_FALSE(none);
    EXPECT_EQ(none.get(), nullptr);
    EXPECT_EQ(none.size(), 0u);
    const HeapBuf some(16);
    EXPECT_TRUE(some);
    EXPECT_EQ(some.size(), 16u);
}
