// Configuration areas of the flash: the hw, def and cur areas at 0x6000 to 0x10000 of
// /dev/mtdblock0 are kept, shifted down by 0x6000, in the backup partition /dev/mtdblock2.
// Each save or restore is one read of the whole area and one write of exactly the bytes read;
// the kernel's block view of the flash erases and programs. The mtdblock driver takes a write
// into its cache and programs the flash later, so a write is only done once fsync and close
// have said so; a target too short for the area gets none of it; and a blank area (never
// saved, or wiped) is never copied over the other copy.
#include "flash/backup.h"

#include "common/fixed.h"
#include "common/host.h"
#include "common/platform.h"
#include "common/text.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
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

// The read step of both directions. An area that was never saved reads 0xFF in every byte
// (erased flash), or 0x00 in every byte, and so does one that was wiped: copying it would
// wipe its only good copy, and the hw area holds the device's own MAC addresses and radio
// settings, kept nowhere else. Such a read fails, and `blank` says why on stderr.
bool read_filled(const UniqueFd& fd, const HeapBuf& buf, const char* name, const char* blank)
{
    if (!read_whole(fd, buf)) return false;
    const char* const bytes = buf.get();
    if (bytes[0] != 0x00 && bytes[0] != '\xFF') return true;
    // A loop rather than memcmp, which the device tool has no other use for.
    for (std::size_t i = 1; i < buf.size(); ++i) {
        if (bytes[i] != bytes[0]) return true;
    }
    refuse("%s: %s", name, blank);
    return false;
}

// The size of the device or file behind `fd`: the block-device size request for a block
// device (the mtdblock partitions), the end of the file otherwise; -1 when it cannot be told.
off_t device_size(const UniqueFd& fd)
{
    struct stat st;
    if (::fstat(fd.get(), &st) != 0) return -1;
    if (!S_ISBLK(st.st_mode)) return ::lseek(fd.get(), 0, SEEK_END);
    std::uint64_t bytes = 0;
    if (host::get().ioctl(fd.get(), platform::kBlkGetSize64, &bytes) != 0) return -1;
    return static_cast<off_t>(bytes);
}

// Whether the target holds the whole area from where it stands; it is left standing there.
bool holds_area(const UniqueFd& fd, const HeapBuf& buf)
{
    const off_t at = ::lseek(fd.get(), 0, SEEK_CUR);
    if (at == -1) return false;
    const off_t size = device_size(fd);
    return size != -1 && ::lseek(fd.get(), at, SEEK_SET) == at && size - at >= static_cast<off_t>(buf.size());
}

// The write step: nothing when the target is too short, else one write of the whole area,
// flushed to the device.
bool write_whole(const UniqueFd& fd, const HeapBuf& buf)
{
    return holds_area(fd, buf) && ::write(fd.get(), buf.get(), buf.size()) == static_cast<ssize_t>(buf.size()) &&
           ::fsync(fd.get()) == 0;
}

// Closes `fd`; false when the close reports an error (a write-back that failed late).
bool close_checked(UniqueFd& fd) { return ::close(fd.release()) == 0; }

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

    // Both devices closed, the backup partition first, then the success said. A failed close
    // of the written device (the partition when `part_written`) is the write step's failure.
    void finish(const char* name, bool part_written, const char* failure, const char* success)
    {
        const bool backup_closed = close_checked(backup);
        const bool part_closed = close_checked(part);
        if (step_ok(part_written ? part_closed : backup_closed, name, failure)) std::printf("%s%s", name, success);
    }
};

} // namespace

void partition2backup(int start, int end, const char* name)
{
    Transfer t;
    if (!t.begin(start, end, name, platform::kReadNonBlock, O_RDWR)) return;
    if (!step_ok(read_filled(t.part, t.buf, name, "the area is blank, nothing saved"), name, ":read error.\n")) return;
    // The hw area goes to offset 0, where the backup partition stands after opening.
    if (names_any(name, "def2backup", "cur2backup") &&
        !step_ok(seek_to(t.backup, start - kBackupBase), name, ":lseek error\n"))
        return;
    if (!step_ok(write_whole(t.backup, t.buf), name, ":wr error.\n")) return;
    t.finish(name, false, ":wr error.\n", ":Write to backup partition successful.\n\n");
}

void backup2partition(int start, int end, const char* name)
{
    Transfer t;
    if (!t.begin(start, end, name, O_RDWR, platform::kReadNonBlock)) return;
    if (names_any(name, "backup2def", "backup2cur") &&
        !step_ok(seek_to(t.backup, start - kBackupBase), name, ":lseek2 error\n"))
        return;
    if (!step_ok(read_filled(t.backup, t.buf, name, "the backup area is blank, nothing restored"), name,
                 ":read BACKUP error.\n"))
        return;
    if (!step_ok(write_whole(t.part, t.buf), name, ":wr Partition error.\n")) return;
    t.finish(name, true, ":wr Partition error.\n", ":Write partition successful.\n\n");
}

} // namespace tarnvel
