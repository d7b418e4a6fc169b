// The records that cross the kernel boundary must have the layout the device's kernel reads.
#include "common/platform.h"

#include <gtest/gtest.h>

#include <cstddef>

TEST(Layout, WirelessRequestRecord)
{
    // An interface name of 16 bytes, then the request data; in its pointer form: the
    // caller's buffer, a 16-bit length and a 16-bit flags word.
    EXPECT_EQ(offsetof(iwreq, ifr_ifrn.ifrn_name), 0u);
    EXPECT_EQ(sizeof(iwreq{}.ifr_ifrn.ifrn_name), 16u);
    EXPECT_EQ(offsetof(iwreq, u.data.pointer), 16u);
    EXPECT_EQ(offsetof(iwreq, u.data.length), 16u + sizeof(void*));
    EXPECT_EQ(offsetof(iwreq, u.data.flags), 16u + sizeof(void*) + 2u);
    EXPECT_EQ(sizeof(iw_point::length), 2u);
    EXPECT_EQ(sizeof(iwreq), 32u);
}

TEST(Layout, MtdInformationRecord)
{
    EXPECT_EQ(sizeof(mtd_info_user), 32u);
    EXPECT_EQ(offsetof(mtd_info_user, type), 0u);
    EXPECT_EQ(offsetof(mtd_info_user, flags), 4u);
    EXPECT_EQ(offsetof(mtd_info_user, size), 8u);
    EXPECT_EQ(offsetof(mtd_info_user, erasesize), 12u);
    EXPECT_EQ(offsetof(mtd_info_user, writesize), 16u);
    EXPECT_EQ(offsetof(mtd_info_user, oobsize), 20u);
    EXPECT_EQ(offsetof(mtd_info_user, padding), 24u);
}

#if defined(__mips__)
TEST(Layout, TheDeviceIsThirtyTwoBitBigEndian)
{
    EXPECT_EQ(sizeof(void*), 4u);
    EXPECT_EQ(sizeof(long), 4u);
    const unsigned word = 0x01020304;
    EXPECT_EQ(reinterpret_cast<const unsigned char*>(&word)[0], 0x01);
    EXPECT_EQ(tarnvel::platform::kBlkRrPart, 0x2000125Fu);
    EXPECT_EQ(tarnvel::platform::kMemGetInfo, 0x40204D01u);
}
#endif
