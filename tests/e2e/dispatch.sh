# The dispatcher and the partition-table re-reads, run as the device's scripts run them.
. "$(dirname "$0")/lib.sh"

for args in "" "-x" "-3.10" "-A" "-onetime"; do
    out=$("$TARNVEL" $args 2>&1)
    check "'$args' runs nothing and says nothing" "" "$out"
done
"$TARNVEL" -x; check "an unknown option exits 0" 0 "$?"

err=$("$TARNVEL" -a 2>&1 >/dev/null)
check "-a without a suffix: one stderr line" "1 tarnvel: " "$(printf '%s\n' "$err" | wc -l) ${err:0:9}"
out=$("$TARNVEL" -a abc 2>/dev/null)
check "-a with a long suffix prints nothing on stdout" "" "$out"

mkdir -p "$T/disk"
"$TARNVEL" -b "$T/disk"
check "-b makes the four media folders" "Documents Music Photos Videos" "$(ls "$T/disk" | tr '\n' ' ' | sed 's/ $//')"

need_root
device_init
check "-4 without /dev/sda" "code:-1" "$(in_device '"$TARNVEL" -4')"

loop_disk
device_node sda "$LOOP"
device_node sda1 "${LOOP}p1"
check "-4 on a partitioned disk: BLKRRPART succeeds" "code:0" "$(in_device '"$TARNVEL" -4')"
if command -v strace >/dev/null; then
    out=$(in_device 'strace -qq -e trace=ioctl "$TARNVEL" -a a 2>&1 >/dev/null | grep -c "BLKRRPART.* = 0"')
    check "-a a re-reads /dev/sda's table" 1 "$out"
    out=$(in_device 'strace -qq -e trace=openat "$TARNVEL" -a a1 2>&1 >/dev/null | grep -c "/dev/sda1\", O_RDONLY|O_NONBLOCK|O_SYNC"')
    check "-a a1 opens /dev/sda1 read-only, non-blocking, synchronous" 1 "$out"
fi
finish
