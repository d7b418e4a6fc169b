# shellcheck shell=bash
# The emulated device under qemu-system-mips, sourced by scripts/system-test and scripts/demo:
# boots it, types commands on its serial console and reads what they print, plugs and pulls a
# USB card through the QEMU monitor, and ends it. $RUN is the run's folder: the console's and
# the monitor's sockets, and console.log, everything the console showed.

# The flash: the kernel's 8 MiB RAM-backed MTD device cut into /dev/mtdblock0 (4 MiB, with the
# configuration areas at 0x6000 to 0x10000), /dev/mtdblock1 and /dev/mtdblock2 (the backup).
MTDPARTS='mtdparts="mtdram test device:4M(boot),64k(kernel),64k(backup)"'
GUEST_NO=0
GUEST_DRIVES=0
# The drive of the card reader that is plugged in: its medium is the card.
READER_DRIVE=card
QEMU_PID=
CONSOLE_PID=

# guest_boot KERNEL INITRAMFS SECONDS: boots the device and waits up to SECONDS for its shell.
guest_boot() {
    rm -f "$RUN/console" "$RUN/monitor"
    qemu-system-mips -M malta -cpu 4Kc -m 256 -nographic -no-reboot -nic none -vga none \
        -kernel "$1" -initrd "$2" -append "console=ttyS0 panic=-1 $MTDPARTS" -drive if=none,id=card \
        -chardev socket,id=console,path="$RUN/console",server=on,wait=on -serial chardev:console \
        -monitor unix:"$RUN/monitor",server=on,wait=off \
        </dev/null >"$RUN/qemu.log" 2>&1 &
    QEMU_PID=$!
    local tries=100
    until [ -S "$RUN/console" ]; do
        tries=$((tries - 1))
        if [ "$tries" -eq 0 ] || ! kill -0 "$QEMU_PID" 2>/dev/null; then
            cat "$RUN/qemu.log" >&2
            return 1
        fi
        sleep 0.1
    done
    coproc CONSOLE { exec socat - UNIX-CONNECT:"$RUN/console"; }
    console_until "tarnvel device ready" "$3" || return
    # The shell's greeting goes before the first command.
    STORY=0 on_device true
}

# console_until TEXT SECONDS: reads the console until a line starts with TEXT, for at most
# SECONDS; the lines before it are in $OUT, the line itself in $LINE.
console_until() {
    local deadline=$((SECONDS + $2))
    OUT=
    while [ "$SECONDS" -le "$deadline" ] &&
          IFS= read -r -t "$((deadline - SECONDS + 1))" LINE <&"${CONSOLE[0]}"; do
        LINE=${LINE%$'\r'}
        printf '%s\n' "$LINE" >>"$RUN/console.log"
        [[ $LINE == "$1"* ]] && return 0
        OUT+=$LINE$'\n'
    done
    return 1
}

# on_device TEXT [SECONDS]: runs the shell text TEXT on the device's console (default: up to
# 30 s); what it printed (stdout and stderr) is in $OUT. Returns TEXT's exit status, or 124
# when it did not end in time. With STORY=1 the text and its output are shown too.
on_device() {
    local status=124
    GUEST_NO=$((GUEST_NO + 1))
    printf '{ %s\n} 2>&1; echo "@@%d $?"\n' "$1" "$GUEST_NO" >&"${CONSOLE[1]}"
    console_until "@@$GUEST_NO " "${2:-30}" && status=${LINE#* }
    if [ "${STORY:-0}" -eq 1 ]; then
        printf '%s\n' "$1" | sed '/./,$!d' | sed '1s/^ */   device# /; 2,$s/^ */             /'
        printf '%s' "$OUT" | sed 's/^/     /'
    fi
    return "$status"
}

# monitor COMMAND: a command of the QEMU monitor; fails when the monitor answers with an error.
monitor() {
    local answer
    answer=$(printf '%s\n' "$1" | socat -t1 - UNIX-CONNECT:"$RUN/monitor" 2>&1)
    printf '(monitor) %s\n%s\n' "$1" "$answer" >>"$RUN/console.log"
    ! grep -qi "error" <<<"$answer"
}

# reader_in: a USB card reader, empty, is plugged into the board's USB (its drive "card" is
# there from the start, with no medium).
reader_in() { monitor "device_add usb-storage,id=cardreader,drive=card,removable=on"; }

# card_insert IMAGE: the card, the disk image IMAGE, goes into the reader.
card_insert() { monitor "change $READER_DRIVE $1 raw"; }

# card_eject: the card is taken out of the reader, which stays plugged in; the kernel learns of
# it only when it next asks the reader.
card_eject() { monitor "eject -f $READER_DRIVE"; }

# reader_out: the card reader is pulled, with its card.
reader_out() { monitor "device_del cardreader"; }

# reader_back IMAGE: the card reader is plugged in again with the card IMAGE in it. The drive of
# the reader that was pulled went with it: it gets a new one.
reader_back() {
    GUEST_DRIVES=$((GUEST_DRIVES + 1))
    READER_DRIVE=card$GUEST_DRIVES
    monitor "drive_add 0 if=none,id=$READER_DRIVE,file=$1,format=raw" &&
        monitor "device_add usb-storage,id=cardreader,drive=$READER_DRIVE,removable=on"
}

# guest_stop: the emulator quits (it is killed if it does not within 10 s), and the console's
# reader ends with it.
guest_stop() {
    local tries=100
    [ -n "$QEMU_PID" ] || return 0
    monitor quit >/dev/null 2>&1
    while kill -0 "$QEMU_PID" 2>/dev/null && [ "$tries" -gt 0 ]; do
        tries=$((tries - 1))
        sleep 0.1
    done
    kill "$QEMU_PID" 2>/dev/null
    wait "$QEMU_PID" 2>/dev/null
    [ -z "$CONSOLE_PID" ] || { kill "$CONSOLE_PID" 2>/dev/null; wait "$CONSOLE_PID" 2>/dev/null; }
    QEMU_PID=''
    CONSOLE_PID=
}
