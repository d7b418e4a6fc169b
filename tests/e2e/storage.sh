# The storage daemon (-3) and the mount-point sweeper (-f), run as the device runs them, one
# pass at a time: strace ends each run with SIGKILL when it first goes to sleep, after its
# first pass. /proc/partitions is the test's; /proc/mounts is the kernel's own, listing what is
# really mounted inside the simulated device. A stand-in usbmount records its arguments and
# really unmounts the folder.
. "$(dirname "$0")/lib.sh"

need_root
command -v strace >/dev/null || skip "needs strace"
device_init

stand_in usbmount <<'EOF'
printf '%s\n' "$*" >>"$T/usbmount.log"
[ "$1" = tarnvel_umount ] && umount "/var/tmp/usb/$2"
exit 0
EOF

# partitions NAME...: the kernel's partition list with these names, and another device.
partitions() {
    {
        printf 'major minor  #blocks  name\n\n'
        printf '  31        0       4096 mtdblock0\n'
        local n minor=0
        for n in "$@"; do printf '   8 %8d    7818240 %s\n' $((minor++)) "$n"; done
    } >"$T/proc/partitions"
}

# The tool's pause: this machine's C library sleeps in clock_nanosleep. Under emulation the
# device's nanosleep passes on as nanosleep, and the emulator's own threads pause in
# clock_nanosleep, which must neither end the run nor show in the trace.
pause=(-e inject=nanosleep,clock_nanosleep:signal=SIGKILL:when=1)
[ -n "${TARNVEL_EMULATED:-}" ] && pause=(-e inject=nanosleep:signal=SIGKILL:when=1 -e 'trace=!clock_nanosleep')

# Shell text for inside the device: one run of "tarnvel OPTION" until its first sleep, traced
# into $T/trace.NAME, with its cache drops kept from emptying the whole machine's cache. What
# usbmount was asked during that run goes to $T/usbmount.NAME.
one_pass() {
    echo "mountpoint -q /proc/sys/vm/drop_caches || mount --bind /dev/null /proc/sys/vm/drop_caches
          { strace -f -qq -s 256 -o \"\$T/trace.$2\" ${pause[*]@Q} \"\$TARNVEL\" $1; } 2>/dev/null
          mv \"\$T/usbmount.log\" \"\$T/usbmount.$2\" 2>/dev/null || : >\"\$T/usbmount.$2\""
}

# What a traced run did: the /dev/sd paths it opened, in order, with the outcome of the open.
opened() { grep -o 'openat(AT_FDCWD, "/dev/sd[^"]*", [^)]*) = [-0-9]*' "$T/trace.$1" | sed 's/.*"\(.*\)".*= \(-*[0-9]*\)$/\1:\2/;s/:[0-9][0-9]*$/:ok/;s/:-1$/:no/' | tr '\n' ' '; }
# The probe's reads, the first read after each open of a partition, as "COUNT:RESULT" (4 KiB
# for the 128 bytes asked, on a device opened for reads past the page cache); and the opens
# for such reads.
probes() { awk '/openat\(AT_FDCWD, "\/dev\/sd[a-z][0-9]"/ { open = 1 } open && / read\(/ { sub(/.*, /, ""); sub(/\) *= /, ":"); printf "%s ", $0; open = 0 }' "$T/trace.$1"; }
direct() { grep -c 'openat(AT_FDCWD, "/dev/sd[a-z][0-9]", O_RDONLY|O_NONBLOCK|O_SYNC|O_DIRECT' "$T/trace.$1"; }
rescans() { grep -o 'ioctl([0-9]*, BLKRRPART) *= .*' "$T/trace.$1" | sed 's/.*= //' | tr '\n' ' '; }
# The cache drops: "1" written to /proc/sys/vm/drop_caches right after opening it; and the
# programs executed, the tool itself being the first.
drops() { grep -A1 'openat(AT_FDCWD, "/proc/sys/vm/drop_caches", O_WRONLY|O_TRUNC' "$T/trace.$1" | grep -c 'write([0-9]*, "1", 1) *= 1$'; }
sleeps() { grep -o 'nanosleep(.*tv_sec=[0-9]*' "$T/trace.$1" | sed 's/.*=//' | tr '\n' ' '; }
folders() { ls -A "$T/var/tmp/usb" | tr '\n' ' '; }
log() { tr '\n' '|' <"$T/usbmount.$1"; }

# The whole pass of the device's documentation: sda, its partition sda1 (mounted) and sdb;
# a leftover folder sdc1 among the folders.
partitions sda sda1 sdb
head -c 4096 /dev/urandom >"$T/dev/sda1"
mkdir -p "$T/var/tmp/usb/"{sda1,sdc1,.hidden}
: >"$T/var/tmp/usb/sdd1"
in_device "mount -t tmpfs /dev/sda1 /var/tmp/usb/sda1 && $(one_pass -3 whole)"
check "whole pass: probe /dev/sda1, rescan sdb to sdf in order" \
    "/dev/sda1:ok /dev/sdb:no /dev/sdc:no /dev/sdd:no /dev/sde:no /dev/sdf:no " "$(opened whole)"
check "whole pass: the probe reads straight from the medium" "4096:4096 |1" "$(probes whole)|$(direct whole)"
check "whole pass: one cache drop, and no program started" "1|" "$(drops whole)|$(started "$T/trace.whole")"
check "whole pass: no wait, then 5 s of rest" "5 " "$(sleeps whole)"
check "whole pass: nothing for usbmount" "" "$(log whole)"
check "whole pass: the leftover folder is removed" ".hidden sda1 sdd1 " "$(folders)"

# The sweeper: mounted folders and their prefixes stay, as do hidden names, files and full
# folders; an empty unused folder goes. Only the first 2048 bytes of the mount list count, so
# the host's own mounts that the device would not have are shed first; where the list is still
# longer, the mount of sdb1 is not seen, and sdb goes too (sdb1 stays as a mount point).
find "$T/var/tmp/usb" -mindepth 1 -delete
mkdir -p "$T/var/tmp/usb/"{sdb1,sdb,sdc1,sdz1,.x}
: >"$T/var/tmp/usb/sdz1/file"
: >"$T/var/tmp/usb/sdf1"
in_device '
awk '"'"'$2 ~ "^/(sys|mnt|run|home|boot|srv|opt)/" {print $2}'"'"' /proc/mounts | sort -r | xargs -r umount -l 2>/dev/null
mount -t tmpfs /dev/sdb1 /var/tmp/usb/sdb1
head -c 2048 /proc/mounts | grep -c " /var/tmp/usb/sdb1 " >"$T/sdb1.seen"
'"$(one_pass '-f x' sweep)"
if [ "$(cat "$T/sdb1.seen")" -eq 1 ]; then
    check "-f: one cycle removes only the unused empty folder" ".x sdb sdb1 sdf1 sdz1 " "$(folders)"
else
    check "-f: a mount past 2048 bytes is not seen" ".x sdb1 sdf1 sdz1 " "$(folders)"
fi
check "-f: then 3 s of rest" "3 " "$(sleeps sweep)"
check "-f: starts nothing" "" "$(started "$T/trace.sweep")"

# No disks at all: the six drive letters are rescanned, nothing else happens.
partitions
find "$T/var/tmp/usb" -mindepth 1 -delete
rm "$T/dev/sda1"
in_device "$(one_pass -3 none)"
check "no disks: /dev/sda to /dev/sdf rescanned" \
    "/dev/sda:no /dev/sdb:no /dev/sdc:no /dev/sdd:no /dev/sde:no /dev/sdf:no " "$(opened none)"
check "no disks: no wait, no command" "5 |0" "$(sleeps none)|$(drops none)"

# A real partitioned disk standing in for /dev/sda: mounted, probed, pulled, rescanned.
# (loop_disk skips when the kernel offers no loop device: report what failed before that.)
[ "$failed" -eq 0 ] && command -v mkfs.ext2 >/dev/null || { finish; exit; }
loop_disk
device_node sda "$LOOP"
device_node sda1 "${LOOP}p1"
device_node sda2 "${LOOP}p2"
mkfs.ext2 -q "$T/dev/sda1" && mkfs.ext2 -q "$T/dev/sda2" || skip "mkfs.ext2 failed"
partitions sda sda1 sda2
mkdir -p "$T/var/tmp/usb/"{sda1,sda2}
in_device '
mount /dev/sda1 /var/tmp/usb/sda1 && mount /dev/sda2 /var/tmp/usb/sda2 || exit 1
'"$(one_pass -3 healthy)"'
# The medium is pulled: its partition node no longer opens.
rm /dev/sda1 && mknod /dev/sda1 b 259 1048575
'"$(one_pass -3 pulled)"'
grep -c " /var/tmp/usb/sda1 " /proc/mounts >"$T/sda1.mounted"
# The disk is gone from the kernel list; its other partition is still mounted.
printf "major minor  #blocks  name\n\n" >"$T/proc/partitions"
'"$(one_pass -3 gone)"'
grep -c " /var/tmp/usb/" /proc/mounts >"$T/usb.mounted"
'
check "healthy disk: both partitions probed, sda covered, sdb to sdf rescanned" \
    "/dev/sda1:ok /dev/sda2:ok /dev/sdb:no /dev/sdc:no /dev/sdd:no /dev/sde:no /dev/sdf:no " "$(opened healthy)"
check "healthy disk: both probes read straight from the medium, two cache drops" "4096:4096 4096:4096 |2|2" \
    "$(probes healthy)|$(direct healthy)|$(drops healthy)"
check "healthy disk: nothing for usbmount" "" "$(log healthy)"
check "pulled: the probe fails, /dev/sda is rescanned in the same pass" \
    "/dev/sda1:no /dev/sda2:ok /dev/sda:ok /dev/sdb:no /dev/sdc:no /dev/sdd:no /dev/sde:no /dev/sdf:no " "$(opened pulled)"
check "pulled: the re-read of the busy disk fails" "-1 EBUSY (Device or resource busy) " "$(rescans pulled)"
check "pulled: usbmount unmounts sda1" "tarnvel_umount sda1||0" "$(log pulled)|$(cat "$T/sda1.mounted")"
check "gone: the stale mount of sda2 goes to usbmount" "tarnvel_umount sda2|" "$(log gone)"
check "gone: nothing left mounted, and the free disk's table is re-read" "0|0 " "$(cat "$T/usb.mounted")|$(rescans gone)"
check "gone: the stale mount kept the folders for a later pass" "sda1 sda2 " "$(folders)"
check "no pass waited for the mounter" "5 5 5 " "$(sleeps healthy)$(sleeps pulled)$(sleeps gone)"
finish
