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

// Says the step's message after the operation's name when the step failed; its outcome.
bool step_ok(bool ok, const char* name, const char* failure)
{
    if (!ok) std::printf("%s%s", name, failure);
    return ok;
}

// One copy between the partition and the backup partition: the area's buffer and both devices.
struct Transfer {
    HeapBuf buf{0};
    UniqueFd part;
    UniqueFd backup;

    // The steps both directions share: the buffer (refused when the range names no bytes or
    // the memory cannot be had), /dev/mtdblock0 then /dev/mtdblock2 opened, and the partition
    // positioned at the area.
    bool begin(int start, int end, const char* name, int part_flags, int backup_flags)
    {
        buf = HeapBuf(end > start ? static_cast<std::size_t>(end - start) : 0);
        if (buf.size() == 0) {
            refuse("%s: no transfer buffer for the range %#x to %#x", name, start, end);
            return false;
        }
        part = open_fixed("/dev/mtdblock0", part_flags);
        if (!step_ok(part.valid(), name, ":Open mtdblock0 error.\n")) return false;
        backup = open_fixed("/dev/mtdblock2", backup_flags);
        if (!step_ok(backup.valid(), name, ":Open mtdblock2 error.\n")) return false;
        return step_ok(seek_to(part, start), name, ":lseek error\n");
    }

    // Both devices closed, the backup partition first, then the success said.
    void finish(const char* name, const char* success)
    {
        backup.reset();
        part.reset();
        std::printf("%s%s", name, success);
    }
};

} // namespace

void partition2backup(int start, int end, const char* name)
{
    Transfer t;
    if (!t.begin(start, end, name, platform::kReadNonBlock, O_RDWR)) return;
    if (!step_ok(read_whole(t.part, t.buf), name, ":read error.\n")) return;
    // The hw area goes to offset 0, where the backup partition stands after opening.
    if (names_any(name, "def2backup", "cur2backup") &&
        !step_ok(seek_to(t.backup, start - kBackupBase), name, ":lseek error\n"))
        return;
    if (!step_ok(write_whole(t.backup, t.buf), name, ":wr error.\n")) return;
    t.finish(name, ":Write to backup partition successful.\n\n");
}

void backup2partition(int start, int end, const char* name)
{
    Transfer t;
    if (!t.begin(start, end, name, O_RDWR, platform::kReadNonBlock)) return;
    if (names_any(name, "backup2def", "backup2cur") &&
        !step_ok(seek_to(t.backup, start - kBackupBase), name, ":lseek2 error\n"))
        return;
    if (!step_ok(read_whole(t.backup, t.buf), name, ":read BACKUP error.\n")) return;
    if (!step_ok(write_whole(t.part, t.buf), name, ":wr Partition error.\n")) return;
    t.finish(name, ":Write partition successful.\n\n");
}

} // namespace tarnvel
