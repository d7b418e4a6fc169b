# shellcheck shell=bash disable=SC2016,SC2034
# (the texts in single quotes are evaluated later, on purpose, with the variables they name)
# The demo's story, run by scripts/demo as the first process of the simulated device's private
# namespaces: each step does what happens on a device in use and shows what tarnvel did about
# it, as seen in files, mounts, processes, the stand-ins' logs and the storage daemon's system
# calls. Every event the story waits for is told as "seen:" or "NOT SEEN:"; the exit status is
# 0 when all were seen, 1 otherwise.
set -u
export LC_ALL=C
trap 'exit 130' INT TERM
# shellcheck source=scripts/demo.d/device.sh
. "$DEMO_D/device.sh"

TRACE=$SIM/log/storage.trace
WEBS_LOG=$SIM/log/webs.log
step_no=0
seen=0
missed=0

step() {
    step_no=$((step_no + 1))
    printf '\n%d. %s\n' "$step_no" "$1"
}
say() { printf '   %s\n' "$@"; }
# show TEXT: runs the shell text TEXT as typed on the device and shows it with its output,
# which stays in $OUT for a check.
OUT=$SIM/ctl/out
show() {
    printf '   $ %s\n' "$1"
    eval "$1" >"$OUT" 2>&1
    sed 's/^/     /' "$OUT"
}
# excerpt CAPTION TEXT: shows CAPTION and the output of the shell text TEXT.
excerpt() {
    printf '   %s\n' "$1"
    eval "$2" 2>&1 | sed 's/^/     /'
}
# expect WHAT SECONDS TEST: waits up to SECONDS for the shell text TEST to succeed and tells
# whether WHAT was seen.
expect() {
    local start=${EPOCHREALTIME/./} took
    until eval "$3"; do
        if (( ${EPOCHREALTIME/./} - start > $2 * 1000000 )); then
            printf '   NOT SEEN: %s (waited %d s)\n' "$1" "$2"
            missed=$((missed + 1))
            return 1
        fi
        sleep 0.1
    done
    took=$(( (${EPOCHREALTIME/./} - start) / 100000 ))
    printf '   seen: %s (%d.%d s)\n' "$1" $((took / 10)) $((took % 10))
    seen=$((seen + 1))
}
# within SECONDS: the wait for something the daemons do within SECONDS of device time.
within() { echo $(($1 / SPEED + 5)); }

# The storage daemon's system calls since a mark (a line count of its trace), made readable.
mark() { wc -l <"$TRACE"; }
tidy() { sed -E 's/AT_FDCWD<[^>]*>, //; s/ +=/ =/'; }
traced_since() { tail -n +$(($1 + 1)) "$TRACE" | tidy; }

# The lines webs logged since a mark (a line count of its log).
webs_since() { tail -n +$(($1 + 1)) "$WEBS_LOG"; }

printf 'tarnvel demo: the tool on a simulated device\n\n'
if [ -n "$LOOP" ]; then
    say "SD card:    loop device $LOOP (32 MiB, one ext2 partition), shown to the tool as /dev/sda"
else
    say "SD card:    files shown to the tool as /dev/sda and /dev/sda1; the mounted partition is a"
    say "            memory file system named /dev/sda1"
fi
say "device:     private mount, network and process namespaces; /dev, /var, /proc/partitions and" \
    "            /proc/sys/vm/drop_caches are folders and files of $SIM" \
    "stand-ins:  webs (serves 127.0.0.1:80), usbmount (really unmounts), reboot and init.sh (report)"
if [ "$SPEED" -gt 1 ]; then
    say "time:       the device's programs pause $SPEED times shorter (a preloaded sleep()): a 5 s pause takes 1 s"
fi
device_boot
: >"$TRACE"

step "The device starts its daemons"
say "Start-up runs tarnvel -onetime_init, which starts the storage daemon and the web-server" \
    "watchdog, as \"tarnvel -3&\" and \"tarnvel -c&\":"
show 'tarnvel -onetime_init'
expect "the storage daemon and the web-server watchdog run" 5 \
    'pgrep -xf "tarnvel -3" >/dev/null && pgrep -xf "tarnvel -c" >/dev/null'
expect "the watchdog finds nothing on port 80 and starts webs, which serves 127.0.0.1:80" \
    "$(within 10)" 'grep -q "serves 127.0.0.1:80" "$WEBS_LOG" 2>/dev/null'
excerpt "The log of webs (the watchdog starts webs once a second until one serves):" 'cat "$WEBS_LOG"'
show 'ps -C tarnvel,webs -o pid,ppid,args'
say "From here on the storage daemon is watched with strace, to show its reads and requests."
trace_storage_daemon "$(pgrep -xf "tarnvel -3")"
expect "the storage daemon looks for disks /dev/sda to /dev/sdf: none is there yet" "$(within 15)" \
    'grep -q "\"/dev/sdf\".*ENOENT" "$TRACE" 2>/dev/null'
excerpt "The storage daemon's system calls in one pass (strace):" \
    'grep -E "\"/dev/sd[a-f]\"" "$TRACE" | tail -6 | tidy'
expect "the watchdog probes webs and webs answers" "$(within 15)" \
    'grep -q "TEST.tarnvelcmd HTTP/1.1\" answered" "$WEBS_LOG"'
excerpt "The log of webs:" 'grep -m1 TEST.tarnvelcmd "$WEBS_LOG"'

step "An SD card with photos goes into the reader"
say "The kernel registers the card's disk as /dev/sda and knows no partition of it yet:"
card_insert
m=$(mark)
show 'cat /proc/partitions'
expect "the storage daemon asks the kernel to re-read /dev/sda's partition table" "$(within 15)" \
    'traced_since $m | grep -q "</dev/sda>, BLKRRPART"'
excerpt "The storage daemon's system call (strace):" \
    'traced_since $m | grep -m1 "</dev/sda>, BLKRRPART"'
say "The kernel reads the table and finds the partition /dev/sda1; the device's mounter mounts it:"
card_partitions
card_mount
show 'cat /proc/partitions'
show 'grep /var/tmp/usb /proc/mounts'
m=$(mark)
expect "the storage daemon probes /dev/sda1 with a raw read straight from the card" "$(within 60)" \
    'traced_since $m | grep -q "</dev/sda1>, .*, 4096) = 4096"'
excerpt "The storage daemon's system calls (strace):" \
    'traced_since $m | grep -m2 -E "\"/dev/sda1\"|</dev/sda1>, "'
expect "it dropped the page cache first (\"1\" written to /proc/sys/vm/drop_caches)" 1 \
    'grep -qx 1 "$SIM/proc/drop_caches"'
m=$(mark)
expect "while /dev/sda1 is mounted, two passes leave /dev/sda's table alone" "$(within 20)" \
    '[ "$(traced_since $m | grep -c "\"/dev/sdb\"")" -ge 2 ] &&
     ! traced_since $m | grep -q "</dev/sda>, BLKRRPART"'

step "The device gives the card its media folders and thumbnails (tarnvel -b, tarnvel -m)"
show 'cd /var/tmp/usb/sda1'
show 'tarnvel -b /var/tmp/usb/sda1; ls'
expect "tarnvel -b made Music, Photos, Videos and Documents" 1 \
    '[ -d Music ] && [ -d Photos ] && [ -d Videos ] && [ -d Documents ]'
show 'tarnvel -m /var/tmp/usb/sda1'
show 'find . -path "*/.thumbnail/*" | sort | xargs identify -format "%i: %wx%h\n"'
expect "each photo got its embedded thumbnail (160x120) in a .thumbnail folder beside it" 1 \
    '[ -f DCIM/100TARNV/.thumbnail/IMG_0001.JPG ] && [ -f DCIM/100TARNV/.thumbnail/IMG_0002.JPG ] &&
     [ -f DCIM/.thumbnail/holiday.jpeg ]'
expect "the recycle bin was not walked" 1 '[ ! -e Recycled/.thumbnail ]'
show 'jhead DCIM/100TARNV/.thumbnail/IMG_0001.JPG | grep -E "Date/Time|Resolution"'
say "A thumbnail carries its photo's Exif header, in which no thumbnail is embedded any more." \
    "A photo is deleted, and tarnvel -m runs again:"
show 'rm DCIM/100TARNV/IMG_0002.JPG; tarnvel -m /var/tmp/usb/sda1; ls -A DCIM/100TARNV/.thumbnail'
expect "the thumbnail of the deleted photo is removed, the other one stays" 1 \
    '[ ! -e DCIM/100TARNV/.thumbnail/IMG_0002.JPG ] && [ -f DCIM/100TARNV/.thumbnail/IMG_0001.JPG ]'
cd /

step "The card is pulled out"
say "The kernel forgets the disk and its partition; the mount of /dev/sda1 stays behind:"
card_pull
show 'cat /proc/partitions; grep /var/tmp/usb /proc/mounts'
expect "the storage daemon hands the stale mount to usbmount" "$(within 15)" \
    'grep -q "tarnvel_umount sda1: unmounted" "$SIM/log/usbmount.log" 2>/dev/null'
excerpt "The log of usbmount:" 'cat "$SIM/log/usbmount.log"'
expect "/var/tmp/usb/sda1 is no longer mounted" 3 '! grep -q " /var/tmp/usb/sda1 " /proc/mounts'
expect "the storage daemon sweeps the emptied folder /var/tmp/usb/sda1" "$(within 15)" \
    '[ ! -e /var/tmp/usb/sda1 ]'
show 'ls -A /var/tmp/usb'

step "The device talks to webs; then webs hangs, and the watchdog restarts it"
first=$(cat /var/run/webs.pid)
show 'cat /var/run/webs.pid; tarnvel -d webs'
expect "tarnvel -d webs names the pid of webs's pid file" 1 \
    '[ "$(tail -1 "$OUT")" = "webs PID:$first" ]'
m=$(wc -l <"$WEBS_LOG")
show 'tarnvel -i sda1'
expect "webs is asked to close the files it holds for sda1" 3 \
    'webs_since $m | grep -q "WEBS_FILES_CLOSE.sda1.tarnvelcmd"'
excerpt "The log of webs:" 'webs_since $m'
say "webs $first stops answering: it still accepts connections and reads requests."
m=$(wc -l <"$WEBS_LOG")
echo "$first" >"$SIM/ctl/webs.hang"
expect "the watchdog kills webs $first and starts a new one" "$(within 45)" \
    'webs_since $m | grep -q "webs\[$first\] stopped by SIGTERM" &&
     webs_since $m | grep -v "webs\[$first\]" | grep -q "serves 127.0.0.1:80"'
excerpt "The log of webs since it hung:" 'webs_since $m'
expect "it did so on the sixth silent probe in a row" 1 \
    '[ "$(webs_since $m | grep -c "webs\[$first\] .*TEST.tarnvelcmd.*unanswered")" -eq 6 ]'
second=$(cat /var/run/webs.pid)
expect "the new webs $second answers the watchdog's probes" "$(within 20)" \
    'grep -q "webs\[$second\] \"GET /TEST.tarnvelcmd HTTP/1.1\" answered" "$WEBS_LOG"'

step "A configuration area of the flash is saved and restored (tarnvel -c2b, tarnvel -b2c)"
say "The current settings (area cur of /dev/mtdblock0, 0xC000 to 0x10000):"
show 'dd if=/dev/mtdblock0 bs=16k skip=3 count=1 status=none | tr -d "\377"'
cur_area /dev/mtdblock0 >"$SIM/ctl/cur"
show 'tarnvel -c2b'
expect "tarnvel -c2b reports its success" 1 \
    'cmp -s "$OUT" <(printf "cur2backup:Write to backup partition successful.\n\n")'
expect "tarnvel -c2b copied the area to 0x6000 of the backup partition /dev/mtdblock2" 1 \
    'cmp -s <(cur_area /dev/mtdblock2) "$SIM/ctl/cur"'
expect "the rest of the backup partition stays erased" 1 \
    '[ -z "$(head -c $((0x6000)) /dev/mtdblock2 | tr -d "\377")" ] &&
     [ -z "$(tail -c +$((0xA000 + 1)) /dev/mtdblock2 | tr -d "\377")" ]'
say "A failed settings write blanks the area; tarnvel -b2c restores it from the backup:"
show 'dd if=/dev/zero of=/dev/mtdblock0 bs=16k seek=3 count=1 conv=notrunc status=none'
show 'tarnvel -b2c'
expect "tarnvel -b2c reports its success" 1 \
    'cmp -s "$OUT" <(printf "backup2cur:Write partition successful.\n\n")'
show 'dd if=/dev/mtdblock0 bs=16k skip=3 count=1 status=none | tr -d "\377"'
expect "/dev/mtdblock0 holds the settings again, byte for byte" 1 \
    'cmp -s <(cur_area /dev/mtdblock0) "$SIM/ctl/cur"'

kill $(pgrep -x tarnvel) 2>/dev/null
printf '\n'
if [ "$missed" -eq 0 ]; then
    printf 'All %d events seen.\n' "$seen"
else
    printf '%d of %d events NOT SEEN.\n' "$missed" $((seen + missed))
fi
[ "$missed" -eq 0 ]
