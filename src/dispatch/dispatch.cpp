// The option table: each run of the tool does the one operation its first argument names.
// Options are compared whole and case-sensitively, in the table's order; an unknown option,
// or none, does nothing and still ends with status 0.
#include "dispatch/dispatch.h"

#include "common/host.h"
#include "common/text.h"
#include "storage/mounts.h"
#include "storage/probe.h"
#include "storage/sweeper.h"

#include <cstdio>
#include <cstring>
#include <sys/stat.h>

namespace tarnvel {
namespace {

// "-2": a raw read with a hex dump, but no device was ever named for it: nothing is opened.
void raw_dump(char**) { op_sd(nullptr, SD_OP_READ, SD_DUMP, 512); }

// "-3": the storage daemon. A pass with the 128-byte probe, then 5 s of rest, forever.
constexpr int kStorageProbeSize = 128;
constexpr unsigned kStoragePause = 5;

[[noreturn]] void storage_daemon(char**)
{
    for (;;) {
        check_mnt(kStorageProbeSize);
        host::get().sleep(kStoragePause);
    }
}

// "-3.1": after 20 s, a partition-table re-read of /dev/sda to /dev/sdz.
void rescan_all(char**)
{
    host::get().sleep(20);
    for (char letter = 'a'; letter <= 'z'; ++letter) {
        char device[16];
        fit_format(device, "/dev/sd%c", letter);
        op_sd(device, SD_OP_RESCAN, 0, 0);
    }
}

// "-4": the re-read of /dev/sda, with its result.
void rescan_sda(char**) { std::printf("code:%d\n", read_sd_part("/dev/sda")); }

// "-a SUFFIX": the re-read of /dev/sd<SUFFIX>, the suffix being at most two characters.
void rescan_one(char** argv)
{
    char device[10] = "/dev/sd";
    if (argv[2] == nullptr) {
        refuse("-a: no device suffix given");
        return;
    }
    if (!fit_append(device, argv[2])) {
        refuse("-a: device suffix \"%s\" is longer than two characters", argv[2]);
        return;
    }
    op_sd(device, SD_OP_RESCAN, 0, 0);
}

// "-b BASE": the four media folders under BASE, after a second's pause.
void media_folders(char** argv)
{
    static const char* const folders[] = {"Music", "Photos", "Videos", "Documents", nullptr};
    if (argv[2] == nullptr) return;
    host::get().sleep(1);
    for (const char* const* folder = folders; *folder != nullptr; ++folder) {
        char path[200];
        if (!fit_format(path, "%s/%s", argv[2], *folder)) {
            refuse("-b: path of %s under the base folder does not fit %zu bytes", *folder, sizeof path);
            continue;
        }
        ::mkdir(path, 0777);
    }
}

struct Option {
    const char* name;
    void (*run)(char** argv);
};

constexpr Option kOptions[] = {
    {"-2", raw_dump},
    {"-3", storage_daemon},
    {"-3.1", rescan_all},
    {"-4", rescan_sda},
    {"-a", rescan_one},
    {"-b", media_folders},
    {"-f", chk_dir},
};

} // namespace

int dispatch(char** argv)
{
    if (argv[0] == nullptr || argv[1] == nullptr) return 0;
    // Every row is tested, as the device always did; the names differ, so one runs at most.
    for (const Option& option : kOptions) {
        if (std::strcmp(argv[1], option.name) == 0) option.run(argv);
    }
    return 0;
}

} // namespace tarnvel
