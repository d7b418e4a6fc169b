// Configuration areas of the flash: the hw, def and cur areas at 0x6000 to 0x10000 of
// /dev/mtdblock0 are kept, shifted down by 0x6000, in the backup partition /dev/mtdblock2.
// Each save or restore is one read of the whole area and one write of exactly the bytes read;
// the kernel's block view of the flash erases and programs.
#include "flash/backup.h"

#include "common/fixed.h"
#include "common/platform.h"
#include "common/text.h"

#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace tarnvel {
namespace {

// Where the configuration areas begin in /dev/mtdblock0; the backup partition starts there.
constexpr off_t kBackupBase = 0x6000;

bool names_any(const char* name, const char* first, const char* second)
{
    return std::strstr(name, first) != nullptr || std::strstr(name, second) != nullptr;
}

bool seek_to(const UniqueFd& fd, off_t offset) { return ::lseek(fd.get(), offset, SEEK_SET) != -1; }

// One read or write of the whole area; anything short of it counts as the step's failure.
bool read_whole(const UniqueFd& fd, const HeapBuf& buf)
{
    return ::read(fd.get(), buf.get(), buf.size()) == static_cast<ssize_t>(buf.size());
}

bool write_whole(const UniqueFd& fd, const HeapBuf& buf)
{
    return ::write(fd.get(), buf.get(), buf.size()) == static_cast<ssize_t>(buf.size());
}

// The transfer buffer of one area. Of size 0, and said so, when the range names no bytes or
// the memory cannot be had.
HeapBuf area_buffer(int start, int end, const char* name)
{
    HeapBuf buf(end > start ? static_cast<std::size_t>(end - start) : 0);
    if (buf.size() == 0) refuse("%s: no transfer buffer for the range %#x to %#x", name, start, end);
    return buf;
}

} // namespace

void partition2backup(int start, int end, const char* name)
{
    HeapBuf buf = area_buffer(start, end, name);
    if (buf.size() == 0) return;
    UniqueFd part = open_fixed("/dev/mtdblock0", platform::kReadNonBlock);
    if (!part.valid()) {
        std::printf("%s:Open mtdblock0 error.\n", name);
        return;
    }
    UniqueFd backup = open_fixed("/dev/mtdblock2", O_RDWR);
    if (!backup.valid()) {
        std::printf("%s:Open mtdblock2 error.\n", name);
        return;
    }
    if (!seek_to(part, start)) {
        std::printf("%s:lseek error\n", name);
        return;
    }
    if (!read_whole(part, buf)) {
        std::printf("%s:read error.\n", name);
        return;
    }
    // The hw area goes to offset 0, where the backup partition stands after opening.
    if (names_any(name, "def2backup", "cur2backup") && !seek_to(backup, start - kBackupBase)) {
        std::printf("%s:lseek error\n", name);
        return;
    }
    if (!write_whole(backup, buf)) {
        std::printf("%s:wr error.\n", name);
        return;
    }
    backup.reset();
    part.reset();
    std::printf("%s:Write to backup partition successful.\n\n", name);
}

void backup2partition(int start, int end, const char* name)
{
    HeapBuf buf = area_buffer(start, end, name);
    if (buf.size() == 0) return;
    UniqueFd part = open_fixed("/dev/mtdblock0", O_RDWR);
    if (!part.valid()) {
        std::printf("%s:Open mtdblock0 error.\n", name);
        return;
    }
    UniqueFd backup = open_fixed("/dev/mtdblock2", platform::kReadNonBlock);
    if (!backup.valid()) {
        std::printf("%s:Open mtdblock2 error.\n", name);
        return;
    }
    if (!seek_to(part, start)) {
        std::printf("%s:lseek error\n", name);
        return;
    }
    if (names_any(name, "backup2def", "backup2cur") && !seek_to(backup, start - kBackupBase)) {
        std::printf("%s:lseek2 error\n", name);
        return;
    }
    if (!read_whole(backup, buf)) {
        std::printf("%s:read BACKUP error.\n", name);
        return;
    }
    if (!write_whole(part, buf)) {
        std::printf("%s:wr Partition error.\n", name);
        return;
    }
    backup.reset();
    part.reset();
    std::printf("%s:Write partition successful.\n\n", name);
}

} // namespace tarnvel
