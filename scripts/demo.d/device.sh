# shellcheck shell=bash
# The simulated device, sourced by story.sh inside the private namespaces: the device's fixed
# paths over the simulation's folders, its programs, and what the kernel and the device's
# mounter do when a card comes and goes. $SIM is the simulation's folder, $LOOP the card's loop
# device (empty when the card is files), $TARNVEL the tool.

# Every program of the device pauses $SPEED times shorter than on the device, through a
# preloaded sleep() built by scripts/demo where a C compiler is at hand.
SPEED=1
[ -e "$SIM/quick_sleep.so" ] && SPEED=5

device_boot() {
    local n
    for n in null zero full random urandom; do mount --bind "/dev/$n" "$SIM/dev/$n"; done
    mount --rbind "$SIM/dev" /dev
    mount --bind "$SIM/var" /var
    mount --bind "$SIM/proc/partitions" /proc/partitions
    mount --bind "$SIM/proc/drop_caches" /proc/sys/vm/drop_caches
    ip link set lo up
    export PATH="$SIM/bin:/usr/sbin:/usr/bin:/sbin:/bin:/usr/local/sbin:/usr/local/bin"
    export DEMO_LOG=$SIM/log DEMO_CTL=$SIM/ctl
    if [ "$SPEED" -gt 1 ]; then
        export LD_PRELOAD=$SIM/quick_sleep.so DEMO_SPEED=$SPEED
    fi
}

# trace_storage_daemon PID: the storage daemon's system calls on files and devices, traced to
# $SIM/log/storage.trace from now on. Fails when the daemon is not there to trace.
trace_storage_daemon() {
    local tries=50
    [ -n "$1" ] || return 1
    strace -qq -y -s 0 -e trace=openat,ioctl,read -e signal=none -o "$SIM/log/storage.trace" \
        -p "$1" &
    until grep -q "^TracerPid:[[:space:]]*[1-9]" "/proc/$1/status" 2>/dev/null; do
        tries=$((tries - 1))
        [ $tries -gt 0 ] && kill -0 "$1" 2>/dev/null || return 1
        sleep 0.1
    done
}

# The partition list as the kernel shows it: the tool reads its "sd" lines.
partitions_add() { printf '%4d %7d %10d %s\n' "$@" >>/proc/partitions; }
partitions_forget() {
    local kept
    kept=$(grep -v " sd" /proc/partitions)
    printf '%s\n' "$kept" >/proc/partitions
}

# device_node NAME BLOCKDEV: /dev/NAME becomes the card's device BLOCKDEV (a block node of the
# same device), or a file of its size when the card is files.
device_node() {
    if [ -n "$LOOP" ]; then
        local majmin
        majmin=$(cat "/sys/class/block/${2##*/}/dev")
        mknod "/dev/$1" b "${majmin%:*}" "${majmin#*:}"
    else
        truncate -s 31M "/dev/$1"
    fi
}

# A card goes into the reader: the kernel registers the disk, and it knows no partition yet.
card_insert() {
    device_node sda "$LOOP"
    partitions_add 8 0 32768 sda
}

# The kernel reads the card's partition table (on the demand of a BLKRRPART). A kernel without
# the DOS partition parser leaves that to user space.
card_partitions() {
    if [ -n "$LOOP" ] && [ ! -e "/sys/class/block/${LOOP##*/}p1" ]; then
        partx -a /dev/sda
    fi
    device_node sda1 "${LOOP}p1"
    partitions_add 8 1 31744 sda1
}

# The device's mounter mounts the partition on its folder under /var/tmp/usb. A card of files
# becomes a memory file system named /dev/sda1 that holds the card's files.
card_mount() {
    mkdir -p /var/tmp/usb/sda1
    if [ -n "$LOOP" ]; then
        mount -t ext2 /dev/sda1 /var/tmp/usb/sda1
    else
        mount -t tmpfs -o size=16m /dev/sda1 /var/tmp/usb/sda1
        cp -R "$SIM/card/." /var/tmp/usb/sda1/
    fi
}

# The card is pulled: the kernel forgets the disk and its partition; the mount stays behind.
card_pull() {
    partitions_forget
    rm -f /dev/sda1 /dev/sda
}

# The flash's configuration area "cur" (0xC000 to 0x10000 of /dev/mtdblock0; 0x6000 to 0xA000
# of /dev/mtdblock2) as text.
cur_area() {
    case $1 in
        /dev/mtdblock0) dd if="$1" bs=16k skip=3 count=1 status=none ;;
        /dev/mtdblock2) dd if="$1" bs=8k skip=3 count=2 status=none ;;
    esac
}
