// The option table: each run of the tool does the one operation its first argument names.
// Options are compared whole and case-sensitively, in the table's order; an unknown option,
// or none, does nothing and still ends with status 0.
#include "dispatch/dispatch.h"

#include "common/fixed.h"
#include "common/host.h"
#include "common/text.h"
#include "device/control.h"
#include "device/otp.h"
#include "flash/backup.h"
#include "flash/throughput.h"
#include "storage/mounts.h"
#include "storage/probe.h"
#include "storage/sweeper.h"
#include "thumbnail/cleanup.h"
#include "thumbnail/generate.h"
#include "web/control.h"
#include "web/process.h"
#include "web/watchdog.h"
#include "wireless/channel.h"
#include "wireless/credentials.h"
#include "wireless/link_gate.h"

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

// "-5": one 4 MiB read of the first flash partition with statistics, and its result.
void read_mtd0(char**) { std::printf("code:%d\n", read_mtd_part("/dev/mtdblock0", 0x400000, READ_STATS | READ_ONCE, nullptr)); }

// "-7 [LEN]": /dev/sda read to its end in 16 MiB blocks (or LEN) with statistics.
void read_sda(char** argv) { read_mtd_part("/dev/sda", 0x1000000, READ_STATS, argv); }

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

// "-d NAME": the id of the first process line of the listing that holds NAME.
void print_pid(char** argv)
{
    if (argv[2] == nullptr) return;
    std::printf("%s PID:%u\n", argv[2], static_cast<unsigned>(find_pid(argv[2])));
}

void restart_web_server(char**) { reinit_webs(); }

// "-e DIR": 72 by 72 thumbnails of the photos under DIR.
void thumbnails_72(char** argv) { scan_photo(argv); }

// "-m DIR": the missing thumbnails of photos and documents under DIR, then the orphans
// removed, then the page cache dropped; each step whatever the one before did.
void thumbnail_upkeep(char** argv)
{
    scan_photo_to_thumbnail(argv, 1);
    Thumbnail_del_chk(argv, 1);
    drop_page_cache();
}

struct Option {
    const char* name;
    void (*run)(char** argv);
};

constexpr Option kOptions[] = {
    {"-1", getWlBssInfo},
    {"-2", raw_dump},
    {"-3", storage_daemon},
    {"-3.1", rescan_all},
    {"-4", rescan_sda},
    {"-5", read_mtd0},
    {"-6", [](char**) { read_file("/var/tmp/usb/sda1/x.exe"); }},
    {"-7", read_sda},
    {"-8", [](char**) { flash("/dev/mtdblock0"); }},
    {"-9", [](char** argv) { OTP_cmd(argv); }},
    {"-a", rescan_one},
    {"-b", media_folders},
    {"-c", chk_web},
    {"-d", print_pid},
    {"-e", thumbnails_72},
    {"-f", chk_dir},
    {"-g", change_default_SSID},
    {"-h", change_default_WPA_PW},
    {"-i", close_webs_files},
    {"-j", chk_web_isExist},
    {"-rb", [](char**) { sysrbt(); }},
    {"-k", wifi_channel_switch},
    {"-m", thumbnail_upkeep},
    {"-o", restart_web_server},
    {"-h2b", [](char**) { partition2backup(0x6000, 0x8000, "hw2backup"); }},
    {"-d2b", [](char**) { partition2backup(0x8000, 0xc000, "def2backup"); }},
    {"-c2b", [](char**) { partition2backup(0xc000, 0x10000, "cur2backup"); }},
    {"-b2h", [](char**) { backup2partition(0x6000, 0x8000, "backup2hw"); }},
    {"-b2d", [](char**) { backup2partition(0x8000, 0xc000, "backup2def"); }},
    {"-b2c", [](char**) { backup2partition(0xc000, 0x10000, "backup2cur"); }},
    {"-onetime_init", [](char**) { onetime_init(); }},
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
