# Configuration backup and restore between the two flash partitions, and the read-throughput
# diagnostics, on regular files standing in for the device's flash and disk.
. "$(dirname "$0")/lib.sh"

need_root
device_init

# Known contents of both flash devices, a little larger than the areas they hold.
head -c $((0x12000)) /dev/urandom >"$T/mtd0"
head -c $((0xB000)) /dev/urandom >"$T/mtd2"
flash_reset() { cp "$T/mtd0" "$T/dev/mtdblock0"; cp "$T/mtd2" "$T/dev/mtdblock2"; }
# splice SRC SRC_OFFSET LENGTH DST DST_OFFSET
splice() {
    dd if="$1" iflag=skip_bytes,count_bytes skip=$(($2)) count=$(($3)) \
       of="$4" oflag=seek_bytes seek=$(($5)) conv=notrunc status=none
}
same() { cmp -s "$1" "$2" && echo same || echo differs; }
# What a run printed, byte for byte (the command substitution would drop trailing line ends).
printed() { in_device "$1" >"$T/out"; od -An -c "$T/out"; }
expect() { printf "$@" | od -An -c; }

for row in "-h2b 0x6000 0x2000 hw2backup" "-d2b 0x8000 0x4000 def2backup" "-c2b 0xc000 0x4000 cur2backup"; do
    set -- $row
    flash_reset
    cp "$T/mtd2" "$T/want2"
    splice "$T/mtd0" "$2" "$3" "$T/want2" "$2 - 0x6000"
    check "$1 prints its success and an empty line" "$(expect "$4:Write to backup partition successful.\n\n")" "$(printed "\"\$TARNVEL\" $1")"
    check "$1 copies its area into the backup partition only" same "$(same "$T/want2" "$T/dev/mtdblock2")"
    check "$1 leaves mtdblock0 as it was" same "$(same "$T/mtd0" "$T/dev/mtdblock0")"
done
for row in "-b2h 0x6000 0x2000 backup2hw" "-b2d 0x8000 0x4000 backup2def" "-b2c 0xc000 0x4000 backup2cur"; do
    set -- $row
    flash_reset
    cp "$T/mtd0" "$T/want0"
    splice "$T/mtd2" "$2 - 0x6000" "$3" "$T/want0" "$2"
    check "$1 prints its success and an empty line" "$(expect "$4:Write partition successful.\n\n")" "$(printed "\"\$TARNVEL\" $1")"
    check "$1 restores its area of mtdblock0 only" same "$(same "$T/want0" "$T/dev/mtdblock0")"
    check "$1 leaves mtdblock2 as it was" same "$(same "$T/mtd2" "$T/dev/mtdblock2")"
done

flash_reset
in_device 'for o in -h2b -d2b -c2b; do "$TARNVEL" $o; done; dd if=/dev/zero of=/dev/mtdblock0 bs=4096 seek=6 count=10 conv=notrunc status=none
           for o in -b2h -b2d -b2c; do "$TARNVEL" $o; done' >/dev/null
check "save, spoil, restore: mtdblock0 is as it was" same "$(same "$T/mtd0" "$T/dev/mtdblock0")"

# Started with descriptors 0, 1 or 2 closed, as daemons and init scripts leave them: the
# restore from a blank backup area (a refusal on stderr) and a save (its line on stdout) leave
# the flash as they leave it with all three open.
blank_backup() { flash_reset; head -c $((0x2000)) /dev/zero | tr '\0' '\377' | dd of="$T/dev/mtdblock2" conv=notrunc status=none; }
blank_backup
in_device '"$TARNVEL" -b2h; "$TARNVEL" -h2b' >/dev/null 2>&1
cp "$T/dev/mtdblock0" "$T/open0" && cp "$T/dev/mtdblock2" "$T/open2"
for closed in '<&-' '>&-' '2>&-' '<&- >&-' '<&- 2>&-' '>&- 2>&-' '<&- >&- 2>&-'; do
    blank_backup
    in_device "\"\$TARNVEL\" -b2h $closed; \"\$TARNVEL\" -h2b $closed" >/dev/null 2>&1
    check "-b2h, -h2b started with $closed: the flash as with all open" "same same" \
        "$(same "$T/open0" "$T/dev/mtdblock0") $(same "$T/open2" "$T/dev/mtdblock2")"
done

flash_reset
rm "$T/dev/mtdblock2"
for row in "-h2b hw2backup" "-d2b def2backup" "-c2b cur2backup" "-b2h backup2hw" "-b2d backup2def" "-b2c backup2cur"; do
    set -- $row
    check "$1 without mtdblock2" "$(expect "$2:Open mtdblock2 error.\n")" "$(printed "\"\$TARNVEL\" $1")"
done
check "no mtdblock2: mtdblock0 unchanged" same "$(same "$T/mtd0" "$T/dev/mtdblock0")"
check "no mtdblock2: none made" "" "$(ls "$T/dev" | grep mtdblock2)"

# A FIFO cannot be positioned.
mkfifo "$T/dev/mtdblock2"
check "-d2b: the backup partition cannot be positioned" "$(expect "def2backup:lseek error\n")" "$(printed '"$TARNVEL" -d2b')"
check "-b2c: the backup partition cannot be positioned" "$(expect "backup2cur:lseek2 error\n")" "$(printed '"$TARNVEL" -b2c')"
check "failed positioning: mtdblock0 unchanged" same "$(same "$T/mtd0" "$T/dev/mtdblock0")"
rm "$T/dev/mtdblock2"

# A backup partition too short for the def area: nothing of it is written.
head -c $((0x3000)) "$T/mtd2" >"$T/dev/mtdblock2"
check "-b2d from a short backup partition" "$(expect "backup2def:read BACKUP error.\n")" "$(printed '"$TARNVEL" -b2d')"
check "short backup partition: mtdblock0 unchanged" same "$(same "$T/mtd0" "$T/dev/mtdblock0")"

# Real block devices (loop devices) as the written partition: its size comes from the kernel.
# On a full tmpfs a write lands in the page cache and fails only at the flush; a device too
# short for the area must get none of it.
if command -v losetup >/dev/null && [ -e /dev/loop-control ]; then
    mkdir -p "$T/full" "$T/free"
    mount -t tmpfs -o size=256k tmpfs "$T/full" && cleanups+=("umount $T/full")
    # OPTION DEVICE SIZE PLACE MESSAGE...
    for row in "-c2b mtdblock2 0xB000 full cur2backup:wr error." "-b2c mtdblock0 0x12000 full backup2cur:wr Partition error." \
               "-c2b mtdblock2 0x8000 free cur2backup:wr error." "-b2h mtdblock0 0x7000 free backup2hw:wr Partition error." \
               "-c2b mtdblock2 0xB000 free cur2backup:Write to backup partition successful.\n"; do
        set -- $row
        rm -f "$T/dev/mtdblock0" "$T/dev/mtdblock2"
        flash_reset
        image="$T/$4/$1.img"
        if [ "$4" = full ]; then truncate -s $(($3)) "$image"; else head -c $(($3)) "$T/dev/$2" >"$image"; fi
        cp "$image" "$T/before"
        [ "$4" = full ] && cat /dev/zero >"$T/full/fill" 2>/dev/null
        loop=$(losetup -f --show "$image") || skip "no free loop device"
        cleanups+=("losetup -d $loop")
        rm "$T/dev/$2"
        device_node "$2" "$loop"
        check "$1 onto a block device of $3 bytes ($4 tmpfs)" "$(expect "${*:5}\n")" "$(printed "\"\$TARNVEL\" $1")"
        case "$4 ${*:5}" in free*error.) check "$1: the $3-byte $2 unchanged" same "$(same "$T/before" "$image")" ;; esac
        losetup -d "$loop"
        rm -f "$T/full/fill"
    done
    rm -f "$T/dev/mtdblock0" "$T/dev/mtdblock2"
fi

if command -v strace >/dev/null; then
    flash_reset
    out=$(in_device 'strace -qq -e trace=openat "$TARNVEL" -h2b 2>&1 >/dev/null | grep -o "mtdblock[02]\", O_[A-Z_|]*"')
    check "-h2b opens mtdblock0 read-only, non-blocking, and mtdblock2 read-write" \
        "$(printf 'mtdblock0", O_RDONLY|O_NONBLOCK\nmtdblock2", O_RDWR')" "$out"
fi
if command -v strace >/dev/null && native "-8 asks MEMGETINFO: the emulator does not pass that flash request on"; then
    out=$(in_device 'strace -qq -e trace=ioctl,openat "$TARNVEL" -8 2>&1 >/dev/null | grep -Eo "mtdblock0\", O_[A-Z_|]*|MEMGETINFO|BLKFLSBUF"')
    check "-8 asks MEMGETINFO, then BLKFLSBUF" "$(printf 'mtdblock0", O_RDONLY|O_NONBLOCK\nMEMGETINFO\nBLKFLSBUF')" "$out"
fi

# -5: one read of 4 MiB at most from mtdblock0, with statistics, and code:0.
stat_re='[0-9]+ uptime:[0-9]{6,} memory:[0-9]{10,}/[0-9]{10,} [0-9]{7,}K/[0-9]{7,}K [0-9]{3,}M/[0-9]{3,}M'
read_re='read:%s [0-9]{18}\([0-9]{15}K\[[0-9]{12}M\]\) [0-9]{10} [0-9]{2,} [0-9]{8} [0-9]{6,} mem:[0-9]{10,} -?[0-9]{9,}'
flash_reset
in_device '"$TARNVEL" -5' >"$T/out"
check "-5 prints four lines" 4 "$(wc -l <"$T/out")"
check "-5 opening line" 1 "$(sed -n 1p "$T/out" | grep -Ec "^$stat_re buf:4194304\(4096K\[4M\]\)$")"
check "-5 reads mtdblock0 once" 1 "$(sed -n 2p "$T/out" | grep -Ec "^$(printf "$read_re" '00073728\(00072K\[00M\]\)')$")"
check "-5 closing line" 1 "$(sed -n 3p "$T/out" | grep -Ec "^$stat_re$")"
check "-5 code" "code:0" "$(sed -n 4p "$T/out")"

# -6: the test file on the first USB partition.
mkdir -p "$T/var/tmp/usb/sda1"
head -c 2500 /dev/urandom >"$T/var/tmp/usb/sda1/x.exe"
check "-6 counts 2500 bytes in pieces of 1024" "$(printf 'cnt:1024\ncnt:2048\ncnt:2500')" "$(in_device '"$TARNVEL" -6')"

# -7: /dev/sda read to its end.
head -c $((3 * 1048576 + 5)) /dev/urandom >"$T/dev/sda"
in_device '"$TARNVEL" -7 1048576' >"$T/out"
check "-7 1048576: the length" "len:1048576" "$(sed -n 1p "$T/out")"
check "-7 1048576: four reads" 4 "$(grep -Ec "^read:[0-9]{8}\(" "$T/out")"
check "-7 1048576: the last read and the end" "$(printf 'read:00000005(00000K[00M]) 000000000003145733\nread:0')" \
    "$(grep '^read:' "$T/out" | tail -2 | cut -c1-45)"
check "-7 0 keeps the 16 MiB block" "len:16777216" "$(in_device '"$TARNVEL" -7 0' | sed -n 1p)"
check "-7 x keeps the 16 MiB block" "len:16777216" "$(in_device '"$TARNVEL" -7 x' | sed -n 1p)"
check "-7 without a length prints none" 0 "$(in_device '"$TARNVEL" -7' | grep -c '^len:')"
len=$(in_device '"$TARNVEL" -7 -1' | sed -n 's/^len:\([0-9]*\)$/\1/p')
total=$(awk '/^MemTotal:/ { printf "%.0f", $2 * 1024 }' /proc/meminfo)
check "-7 -1 takes nearly all free memory" yes "$([ -n "$len" ] && [ "$len" -gt 0 ] && [ "$len" -lt "$total" ] && echo yes)"
finish
