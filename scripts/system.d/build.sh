# shellcheck shell=bash
# Builds the emulated device, sourced by scripts/system-test: a big-endian MIPS32 kernel from
# Debian's linux-source-6.1, a static busybox and a static jhead from Debian's sources against
# the device's uClibc-ng, the static tool, the cards (disk images with photos) and the initramfs.
# Each piece is kept in $SYSTEM_BUILD under a folder named by a hash of what it is made from,
# so a second run builds nothing. Every build's output goes to a log beside it; a failed build
# shows the log's end.

SYSTEM_D=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
SOURCE_ROOT=$(cd "$SYSTEM_D/../.." && pwd)
TRIPLE=mips-linux-gnu
# Two cores are all a developer's machine and CI have.
JOBS=2

# key FILE...: a short hash of the files, the cross compiler's version included.
key() {
    { cat "$@"; "$TRIPLE-gcc" -dumpfullversion; } | sha256sum | cut -c1-16
}

# logged LOG CMD...: runs CMD with its output in LOG; on failure shows the end of LOG.
logged() {
    local log=$1
    shift
    "$@" >"$log" 2>&1 || { tail -40 "$log" >&2; echo "system-test: failed: $* (log: $log)" >&2; return 1; }
}

# built WHAT START: tells that WHAT was built, in the seconds since START.
built() { echo "system-test: built $1 in $((SECONDS - $2)) s"; }

# config_holds CONFIG FRAGMENT: every option of FRAGMENT made it into CONFIG (an option whose
# dependencies are not met would silently stay off).
config_holds() {
    local line missing=0
    while IFS= read -r line; do
        case $line in
            CONFIG_*=n) grep -q "^${line%=n}=" "$1" || continue ;;
            CONFIG_*) grep -qxF -- "$line" "$1" && continue ;;
            *) continue ;;
        esac
        echo "system-test: not in $1: $line" >&2
        missing=1
    done <"$2"
    return "$missing"
}

# deb_source PACKAGE DIR: Debian's source of PACKAGE unpacked in DIR/PACKAGE-VERSION, whose path
# is printed. apt-get source needs a deb-src entry: where none is there, one of our own is
# added, a copy of the entry that serves the package's binaries.
deb_source() {
    local uri dist entry file
    if ! apt-cache showsrc "$1" 2>/dev/null | grep -q '^Package:'; then
        read -r uri dist < <(apt-cache policy "$1" | awk '$2 ~ /:\/\// { print $2, $3; exit }')
        # shellcheck disable=SC2016 # apt's own field syntax
        entry=$(apt-get indextargets --format '$(SOURCESENTRY)' "Site: $uri" "Release: ${dist%%/*}" |
                head -1)
        file=${entry%:*}
        case $file in
            *.sources) awk -v n="${entry##*:}" 'BEGIN { RS = ""; ORS = "\n" } NR == n' "$file" |
                           sed 's/^Types:.*/Types: deb-src/' >/etc/apt/sources.list.d/tarnvel-deb-src.sources ;;
            *) sed -n "${entry##*:}s/^deb /deb-src /p" "$file" >/etc/apt/sources.list.d/tarnvel-deb-src.list ;;
        esac
        logged "$2.apt-update.log" apt-get -o DPkg::Lock::Timeout=600 update || return
    fi
    mkdir -p "$2"
    if ! compgen -G "$2/$1-*/" >/dev/null; then
        (cd "$2" && logged "$2/$1.log" apt-get source -q "$1") || return
    fi
    compgen -G "$2/$1-*/" | head -1
}

# build_kernel: $SYSTEM_BUILD/kernel-KEY/vmlinux and the kernel's gen_init_cpio beside it.
build_kernel() {
    local config=$SYSTEM_D/kernel.config tarball
    tarball=$(ls /usr/src/linux-source-6.1.tar.*)
    KERNEL_DIR=$SYSTEM_BUILD/kernel-$(key "$config" <(echo "$tarball"))
    [ -f "$KERNEL_DIR/vmlinux" ] && return
    local src=$SYSTEM_BUILD/linux-source-6.1 obj=$KERNEL_DIR/obj start=$SECONDS
    [ -f "$src/Makefile" ] || tar -xf "$tarball" -C "$SYSTEM_BUILD"
    rm -rf "$KERNEL_DIR"
    mkdir -p "$obj"
    local kmake=(make -C "$src" O="$obj" ARCH=mips CROSS_COMPILE="$TRIPLE-")
    KCONFIG_ALLCONFIG=$config logged "$KERNEL_DIR/config.log" "${kmake[@]}" allnoconfig || return
    config_holds "$obj/.config" "$config" || return
    logged "$KERNEL_DIR/build.log" "${kmake[@]}" -j"$JOBS" vmlinux || return
    cp "$obj/usr/gen_init_cpio" "$obj/.config" "$KERNEL_DIR/"
    cp "$obj/vmlinux" "$KERNEL_DIR/vmlinux"
    rm -rf "$obj"
    built "the kernel" "$start"
}

# build_busybox: $SYSTEM_BUILD/busybox-KEY/busybox, static against uClibc-ng.
build_busybox() {
    local config=$SYSTEM_D/busybox.config src dir start=$SECONDS
    src=$(deb_source busybox "$SYSTEM_BUILD/src") || return
    BUSYBOX_DIR=$SYSTEM_BUILD/busybox-$(key "$config" "$UCLIBC_CC" <(echo "$src"))
    [ -f "$BUSYBOX_DIR/busybox" ] && return
    dir=$BUSYBOX_DIR/obj
    rm -rf "$BUSYBOX_DIR"
    mkdir -p "$BUSYBOX_DIR"
    cp -a "$src" "$dir"
    # Busybox's kconfig cannot start from a fragment: all applets off, then the fragment's
    # lines in place of theirs, then the defaults of what the fragment newly makes visible.
    local bbmake=(make -C "$dir" CROSS_COMPILE="$TRIPLE-" CC="$UCLIBC_CC")
    logged "$BUSYBOX_DIR/config.log" "${bbmake[@]}" allnoconfig || return
    grep -v -w -F "$(grep -o '^CONFIG_[A-Z0-9_]*' "$config"; echo CONFIG_BASH_IS_NONE)" \
        "$dir/.config" >"$dir/.config.off"
    {
        cat "$dir/.config.off" "$config"
        echo "# CONFIG_BASH_IS_NONE is not set"
    } >"$dir/.config"
    logged "$BUSYBOX_DIR/oldconfig.log" "${bbmake[@]}" oldconfig < <(yes '') || return
    config_holds "$dir/.config" "$config" || return
    logged "$BUSYBOX_DIR/build.log" "${bbmake[@]}" -j"$JOBS" busybox busybox.links || return
    "$TRIPLE-strip" -o "$BUSYBOX_DIR/busybox" "$dir/busybox_unstripped"
    cp "$dir/busybox.links" "$BUSYBOX_DIR/"
    rm -rf "$dir"
    built busybox "$start"
}

# build_jhead: $SYSTEM_BUILD/jhead-KEY/jhead, static against uClibc-ng, with the two legacy
# calls that this uClibc-ng leaves out from jhead/legacy.c.
build_jhead() {
    local src dir start=$SECONDS
    src=$(deb_source jhead "$SYSTEM_BUILD/src") || return
    JHEAD_DIR=$SYSTEM_BUILD/jhead-$(key "$UCLIBC_CC" "$SYSTEM_D"/jhead/* <(echo "$src"))
    [ -f "$JHEAD_DIR/jhead" ] && return
    dir=$JHEAD_DIR/obj
    rm -rf "$JHEAD_DIR"
    mkdir -p "$JHEAD_DIR"
    cp -a "$src" "$dir"
    logged "$JHEAD_DIR/build.log" make -C "$dir" -j"$JOBS" CC="$UCLIBC_CC" CFLAGS=-Os \
        CPPFLAGS="-I$SYSTEM_D/jhead" LDFLAGS="-Os -I$SYSTEM_D/jhead $SYSTEM_D/jhead/legacy.c" || return
    "$TRIPLE-strip" -o "$JHEAD_DIR/jhead" "$dir/jhead"
    rm -rf "$dir"
    built jhead "$start"
}

# build_tool: $SYSTEM_BUILD/tool/tarnvel, the static uClibc-ng tool that ships on the device,
# and as it ships (stripped) in $TOOL.
build_tool() {
    TOOL=$SYSTEM_BUILD/tool/tarnvel.stripped
    [ -f "$SYSTEM_BUILD/tool/CMakeCache.txt" ] ||
        logged "$SYSTEM_BUILD/tool.log" cmake -S "$SOURCE_ROOT" -B "$SYSTEM_BUILD/tool" \
            -DCMAKE_TOOLCHAIN_FILE="$SOURCE_ROOT/cmake/mips-uclibc.cmake" \
            -DTARNVEL_UCLIBC_DIR="$UCLIBC_BUILD/uclibc" -DCMAKE_BUILD_TYPE=MinSizeRel \
            -DTARNVEL_TESTS=OFF -DTARNVEL_WERROR=ON || return
    logged "$SYSTEM_BUILD/tool.log" cmake --build "$SYSTEM_BUILD/tool" -j"$JOBS" --target tarnvel &&
        "$TRIPLE-strip" -o "$TOOL" "$SYSTEM_BUILD/tool/tarnvel"
}

# The first sector of the cards' one partition, as a camera lays them out.
CARD_START=2048

# build_card: $SYSTEM_BUILD/card-KEY/card.img, the SD card: a 16 MiB disk with one ext2
# partition holding photos from a camera (each with an embedded thumbnail), a thumbnail whose
# photo was deleted, and a 2500-byte file x.exe. Beside it $FAT_CARD, a second card: a 16 MiB
# disk with one FAT partition holding the 20 photos of $FAT_FILES/DCIM/100TARNV. Made from
# files alone (no loop device, nothing mounted).
build_card() {
    CARD=$SYSTEM_BUILD/card-$(key "${BASH_SOURCE[0]}")/card.img
    FAT_CARD=${CARD%/*}/fat.img
    FAT_FILES=${CARD%/*}/fat-files
    [ -f "$CARD" ] && return
    local dir=${CARD%/*} files
    files=$dir/files
    rm -rf "$dir"
    mkdir -p "$files/DCIM/100TARNV/.thumbnail" "$FAT_FILES/DCIM/100TARNV"
    local photo
    for photo in IMG_0001.JPG:red-blue IMG_0002.JPG:yellow-green; do
        convert -size 320x240 "gradient:${photo#*:}" "$files/DCIM/100TARNV/${photo%:*}"
        jhead -q -mkexif "$files/DCIM/100TARNV/${photo%:*}" >/dev/null
        jhead -q -rgt "$files/DCIM/100TARNV/${photo%:*}" >/dev/null
    done
    convert -size 160x120 xc:gray "$files/DCIM/100TARNV/.thumbnail/IMG_0009.JPG"
    head -c 2500 /dev/urandom >"$files/x.exe"
    for photo in $(seq 10001 10020); do
        convert -size 160x120 -seed "$photo" plasma: "$FAT_FILES/DCIM/100TARNV/IMG_${photo#1}.JPG"
    done
    truncate -s 16M "$FAT_CARD" "$dir/card.img.new"
    printf 'label: dos\n%d,,e\n' "$CARD_START" | sfdisk -q "$FAT_CARD" >/dev/null
    logged "$dir/mkfs.fat.log" mkfs.vfat -n PHOTOS --offset "$CARD_START" "$FAT_CARD" $((15 * 1024)) &&
        logged "$dir/mcopy.log" mcopy -s -i "$FAT_CARD@@$((CARD_START * 512))" "$FAT_FILES/DCIM" ::/ ||
        return
    printf 'label: dos\n%d,,83\n' "$CARD_START" | sfdisk -q "$dir/card.img.new" >/dev/null
    logged "$dir/mke2fs.log" mke2fs -t ext2 -L CARD -d "$files" -E offset=$((CARD_START * 512)) \
        "$dir/card.img.new" 15M || return
    mv "$dir/card.img.new" "$CARD"
}

# build_initramfs OUT: the device's root file system as a cpio archive, made by the kernel's
# gen_init_cpio (device nodes without root): busybox and its applets, the tool, jhead, the
# start-up, the hotplug handler, webs and the demo's stand-ins that run under busybox's ash.
build_initramfs() {
    local list=$1.list applet file
    {
        printf 'dir /%s 0755 0 0\n' dev proc sys var tmp bin sbin
        echo "nod /dev/console 0600 0 0 c 5 1"
        echo "file /init $SYSTEM_D/rootfs/init 0755 0 0"
        echo "file /bin/busybox $BUSYBOX_DIR/busybox 0755 0 0"
        while IFS= read -r applet; do
            echo "slink /bin/${applet##*/} busybox 0777 0 0"
        done <"$BUSYBOX_DIR/busybox.links"
        echo "file /bin/tarnvel $TOOL 0755 0 0"
        echo "file /bin/jhead $JHEAD_DIR/jhead 0755 0 0"
        for file in "$SYSTEM_D"/rootfs/bin/* "$SOURCE_ROOT"/scripts/demo.d/bin/{usbmount,reboot,init.sh}; do
            echo "file /bin/${file##*/} $file 0755 0 0"
        done
        echo "file /sbin/hotplug $SYSTEM_D/rootfs/sbin/hotplug 0755 0 0"
    } >"$list"
    "$KERNEL_DIR/gen_init_cpio" "$list" >"$1"
}

# system_build: every piece, built where missing; sets KERNEL_DIR, BUSYBOX_DIR, JHEAD_DIR, TOOL,
# CARD, FAT_CARD and FAT_FILES.
system_build() {
    mkdir -p "$SYSTEM_BUILD"
    build_kernel || return
    "$SOURCE_ROOT/scripts/uclibc-sysroot" "$UCLIBC_BUILD" >/dev/null || return
    UCLIBC_CC=$UCLIBC_BUILD/uclibc/bin/mips-uclibc-gcc
    build_busybox && build_jhead && build_tool && build_card
}
