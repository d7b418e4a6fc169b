# Helpers for the end-to-end tests. Each test drives the real tarnvel binary, where it needs
# the device's fixed paths inside a simulated device: private mount and network namespaces,
# /dev and /var bound over folders of the test, stand-in programs first on PATH.
set -u
: "${TARNVEL:?set TARNVEL to the tarnvel binary}"

passed=0
failed=0
T=$(mktemp -d /tmp/tarnvel-e2e.XXXXXX)
cleanups=()
on_exit() {
    local i
    for ((i = ${#cleanups[@]} - 1; i >= 0; i--)); do eval "${cleanups[i]}" || true; done
    rm -rf "$T"
}
trap on_exit EXIT

skip() { echo "skipped: $*"; exit 77; }

# The device tool may run under user-mode emulation (TARNVEL_EMULATED names the emulator). There
# strace sees the emulator's system calls, not the tool's, and the emulator passes only the
# device requests it knows. native WHAT: true when the tool runs natively; under emulation says
# that WHAT is skipped and why.
native() {
    [ -z "${TARNVEL_EMULATED:-}" ] && return 0
    echo "# skipped under $TARNVEL_EMULATED: $*"
    return 1
}

need_root() {
    [ "$(id -u)" -eq 0 ] || skip "needs root"
    unshare --mount --net true 2>/dev/null || skip "needs mount and network namespaces"
}

# started TRACE: the programs that a run traced with "strace -f -o TRACE" started, one a line,
# less the start of the tool itself (the tool, and under emulation the emulator).
started() {
    local own=$T/own-programs
    printf '%s\n' "$TARNVEL" >"$own"
    [ -n "${TARNVEL_EMULATED:-}" ] && command -v "$TARNVEL_EMULATED" >>"$own"
    grep -E '^[0-9]+ +execve\(.* = 0$' "$1" | sed -E 's/^[0-9]+ +execve\("([^"]*)".*/\1/' | grep -vxFf "$own"
}

# check NAME EXPECTED ACTUAL
check() {
    if [ "$2" == "$3" ]; then
        passed=$((passed + 1))
        echo "ok - $1"
    else
        failed=$((failed + 1))
        echo "not ok - $1"
        diff <(printf '%s\n' "$2") <(printf '%s\n' "$3") | sed 's/^/#   /'
    fi
}

finish() {
    echo "$passed passed, $failed failed"
    [ "$failed" -eq 0 ]
}

# private_cache CMD...: runs CMD with /proc/sys/vm/drop_caches bound to /dev/null where a
# private mount namespace is to be had, so that a cache drop the tool makes does not empty the
# cache of the whole machine; elsewhere just runs CMD.
private_cache() {
    if [ "$(id -u)" -eq 0 ] && unshare --mount true 2>/dev/null; then
        unshare --mount --propagation private bash -c \
            'mount --bind /dev/null /proc/sys/vm/drop_caches && "$@"' _ "$@"
    else
        "$@"
    fi
}

# The simulated device's folders: $T/dev (with null, zero, urandom), $T/var, $T/bin for
# stand-in programs, $T/proc for kernel files a test wants to replace.
device_init() {
    mkdir -p "$T/dev" "$T/var/tmp/usb" "$T/var/run" "$T/bin" "$T/proc"
    local n
    for n in null zero full random urandom; do : >"$T/dev/$n"; done
}

# in_state STATE CMD...: runs CMD in a state its caller may leave it: STATE is deadout (stdout a
# pipe whose reader has gone), nochld (SIGCHLD ignored) or noalrm (SIGALRM blocked), with
# SIGPIPE at its default as a shell gives it. Exported, for in_device's scripts.
in_state() {
    python3 -c '
import os, signal, sys
state, argv = sys.argv[1], sys.argv[2:]
signal.signal(signal.SIGPIPE, signal.SIG_DFL)
if state == "deadout":
    r, w = os.pipe()
    os.close(r)
    os.dup2(w, 1)
elif state == "nochld":
    signal.signal(signal.SIGCHLD, signal.SIG_IGN)
elif state == "noalrm":
    signal.pthread_sigmask(signal.SIG_BLOCK, [signal.SIGALRM])
os.execvp(argv[0], argv)' "$@"
}
export -f in_state

# A stand-in program: stand_in NAME <<'EOF' ... body ... EOF
stand_in() {
    { echo '#!/bin/bash'; cat; } >"$T/bin/$1"
    chmod +x "$T/bin/$1"
}

# A real loop block device over an image with two partitions, in $LOOP (for example
# /dev/loop3, with /dev/loop3p1 and /dev/loop3p2). Skips the test when the kernel offers none.
loop_disk() {
    command -v losetup >/dev/null && command -v sfdisk >/dev/null || skip "needs losetup and sfdisk"
    [ -e /dev/loop-control ] || skip "no loop devices"
    local image="$T/disk.img"
    truncate -s 16M "$image"
    printf 'label: dos\n,6M,c\n,,c\n' | sfdisk -q "$image" >/dev/null
    LOOP=$(losetup -f --show -P "$image") || skip "no free loop device"
    cleanups+=("losetup -d $LOOP")
    # Kernels without the DOS partition parser leave the partitions to user space.
    [ -e "/sys/class/block/${LOOP##*/}p1" ] || partx -a "$LOOP" 2>/dev/null || true
    [ -e "/sys/class/block/${LOOP##*/}p1" ] || skip "the loop device shows no partitions"
}

# device_node NAME DEVICE: makes $T/dev/NAME a block node of the same device as DEVICE.
device_node() {
    local majmin
    majmin=$(cat "/sys/class/block/${2##*/}/dev")
    mknod "$T/dev/$1" b "${majmin%:*}" "${majmin#*:}"
}

# in_device SCRIPT: runs bash SCRIPT inside the simulated device. Each file under $T/proc is
# bound over the kernel file of the same name.
in_device() {
    unshare --mount --net --propagation private env T="$T" TARNVEL="$TARNVEL" bash -c '
        set -e
        for n in null zero full random urandom; do mount --bind /dev/$n "$T/dev/$n"; done
        mount --rbind "$T/dev" /dev
        mount --bind "$T/var" /var
        for f in "$T"/proc/*; do [ -e "$f" ] && mount --bind "$f" "/proc/${f##*/}"; done
        ip link set lo up 2>/dev/null || true
        export PATH="$T/bin:$PATH"
        set +e
        '"$1"
}
