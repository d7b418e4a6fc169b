#!/usr/bin/env bash
# A first "-m" on the emulated device (scripts/system-test's board and USB card reader): an ext2
# card of 200 new photos of about 1 MB with Exif thumbnails, the time of the first -m over them,
# page cache dropped; the same 200 photos spread over 50 folders of 4, where the thumbnails'
# placement costs most (each folder's thumbnail folder is made and flushed). With BEFORE naming
# another static MIPS build of the tool (an earlier one), that tool's first -m over the same
# photos too, in the same boot, their thumbnails removed in between.
#
# Run by hand as root once the system test has built the device: bash bench/device.sh; prints
# "NAME<TAB>FIGURE<TAB>UNIT" lines.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
export LC_ALL=C
SYSTEM_BUILD=${SYSTEM_BUILD:-$root/build/system}
UCLIBC_BUILD=${UCLIBC_BUILD:-$root/build/uclibc}
STORY=0
note() { echo "device bench: $*" >&2; }
[ "$(id -u)" -eq 0 ] || { note "needs root"; exit 0; }
# shellcheck source=scripts/system.d/build.sh
. "$root/scripts/system.d/build.sh"
# shellcheck source=scripts/system.d/guest.sh
. "$root/scripts/system.d/guest.sh"
system_build >/dev/null || { note "the emulated device could not be built"; exit 1; }
RUN=$(mktemp -d /tmp/tarnvel-bench.XXXXXX)
trap 'guest_stop; rm -rf "$RUN"' EXIT

# The card: one photo of about 1 MB with an Exif thumbnail, 200 times.
mkdir -p "$RUN/files/BURST" "$RUN/files/SPREAD"
convert -seed 1 -size 900x660 xc: +noise Random -quality 90 "$RUN/p.jpg" && jhead -mkexif "$RUN/p.jpg" >/dev/null &&
    jhead -rgt "$RUN/p.jpg" >/dev/null || exit 1
for i in $(seq 200); do
    cp "$RUN/p.jpg" "$RUN/files/BURST/p$i.jpg"
    mkdir -p "$RUN/files/SPREAD/f$((i % 50))" && cp "$RUN/p.jpg" "$RUN/files/SPREAD/f$((i % 50))/p$i.jpg"
done
truncate -s 520M "$RUN/card.img"
printf 'label: dos\n2048,,83\n' | sfdisk -q "$RUN/card.img" >/dev/null
mke2fs -q -t ext2 -d "$RUN/files" -E offset=$((2048 * 512)) "$RUN/card.img" 500M || exit 1

# The device's root file system, and the earlier tool as /bin/tarnvel-before (a second archive
# after the first: the kernel unpacks both).
build_initramfs "$RUN/initramfs.cpio" || exit 1
if [ -n "${BEFORE:-}" ]; then
    echo "file /bin/tarnvel-before $BEFORE 0755 0 0" >"$RUN/before.list"
    "$KERNEL_DIR/gen_init_cpio" "$RUN/before.list" >>"$RUN/initramfs.cpio" || exit 1
fi
guest_boot "$KERNEL_DIR/vmlinux" "$RUN/initramfs.cpio" 60 || { note "the device did not boot"; exit 1; }
reader_in && card_insert "$RUN/card.img" || { note "the monitor refused the card"; exit 1; }
on_device 'await 20 "[ -b /dev/sda ]" && tarnvel -a a && await 30 "grep -q \" /var/tmp/usb/sda1 \" /proc/mounts"' 60 ||
    { note "the card was not mounted"; exit 1; }

# first TOOL FOLDER: seconds of TOOL's first -m over the photos in FOLDER, from a dropped page
# cache.
first() {
    on_device "cd /var/tmp/usb/sda1/$2 && rm -rf .thumbnail ./*/.thumbnail && sync && echo 3 >/proc/sys/vm/drop_caches &&
               read t0 _ </proc/uptime && $1 -m . 2>/dev/null && read t1 _ </proc/uptime &&
               echo \$(ls .thumbnail ./*/.thumbnail 2>/dev/null | grep -c 'jpg\$') \$t0 \$t1; cd /" 900 || return 1
    read -r made t0 t1 <<<"$OUT"
    [ "$made" = 200 ] || note "$1 made $made thumbnails of 200"
    awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.1f", b - a }'
}
for folder in BURST SPREAD; do
    what="device first -m 200 photos of 1 MB$([ $folder = SPREAD ] && echo ' in 50 folders')"
    [ -z "${BEFORE:-}" ] || printf '%s, earlier tool\t%s\ts\n' "$what" "$(first tarnvel-before $folder)"
    printf '%s\t%s\ts\n' "$what" "$(first tarnvel $folder)"
done
