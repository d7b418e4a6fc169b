// The device's platform constants, taken from the system headers by name. On the device
// (32-bit big-endian MIPS Linux) they must equal the values its kernel expects; the
// static_asserts below hold the cross build to that. On other hosts the same names give that
// host's values, which is what its kernel expects there.
#pragma once

#include <fcntl.h>
#include <linux/fs.h>
#include <linux/wireless.h>
#include <mtd/mtd-user.h>

namespace tarnvel::platform {

#if defined(__UCLIBC__) && defined(__mips__)
// uClibc-ng keeps MIPS's O_SYNC of the kernels before 2.6.33, one bit (0x0010, which newer
// kernels call O_DSYNC); the kernel's full O_SYNC adds its own bit, __O_SYNC of
// <asm/fcntl.h>, a header that cannot sit beside <fcntl.h>.
inline constexpr int kSync = O_SYNC | 0x4000;
#else
inline constexpr int kSync = O_SYNC;
#endif
// Raw block-device open: read-only, non-blocking, synchronous. The device's raw word is
// 0x4080; spelled by name, because on x86-64 the bit 0x4000 is O_DIRECT, which makes small
// unaligned reads fail.
inline constexpr int kRawOpen = O_RDONLY | O_NONBLOCK | kSync;
// The raw read of a medium: the same open, straight to the medium past the page cache. A
// mounted file system pins the pages of its first blocks in the cache, where a plain read of
// them would be answered long after the card has left its slot.
inline constexpr int kDirectOpen = kRawOpen | O_DIRECT;
// Flash and /proc/OTP opens.
inline constexpr int kReadNonBlock = O_RDONLY | O_NONBLOCK;
inline constexpr int kReadWriteNonBlock = O_RDWR | O_NONBLOCK;

inline constexpr unsigned long kBlkRrPart = BLKRRPART;
inline constexpr unsigned long kBlkFlsBuf = BLKFLSBUF;
// A block device's size in bytes, as a 64-bit count.
inline constexpr unsigned long kBlkGetSize64 = BLKGETSIZE64;
inline constexpr unsigned long kMemGetInfo = MEMGETINFO;
inline constexpr unsigned long kSiocGIwName = SIOCGIWNAME;
// The wireless driver's own request for its BSS information, numbered just past the last
// standard wireless request (SIOCSIWPMKSA).
inline constexpr unsigned long kSiocGIwBssInfo = SIOCSIWPMKSA + 1;

#if defined(__mips__)
static_assert(O_NONBLOCK == 0x80, "MIPS O_NONBLOCK");
// The device's raw word 0x4080 carries O_SYNC's own bit without O_DSYNC; the kernel adds
// O_DSYNC whenever that bit is set, so O_SYNC by name (0x4010 here) opens the same way.
static_assert((kRawOpen & ~O_DSYNC) == 0x4080, "the device's raw open word");
static_assert(O_DIRECT == 0x8000, "MIPS O_DIRECT");
static_assert(kReadWriteNonBlock == 0x82, "the /proc/OTP open word");
static_assert(BLKRRPART == 0x2000125F, "MIPS BLKRRPART");
static_assert(BLKFLSBUF == 0x20001261, "MIPS BLKFLSBUF");
static_assert(BLKGETSIZE64 == 0x40041272, "MIPS BLKGETSIZE64");
static_assert(MEMGETINFO == 0x40204D01, "MIPS MEMGETINFO");
static_assert(sizeof(mtd_info_user) == 32, "MTD information record");
#endif
static_assert(SIOCGIWNAME == 0x8B01, "SIOCGIWNAME");
static_assert(kSiocGIwBssInfo == 0x8B37, "BSS information request");

} // namespace tarnvel::platform
