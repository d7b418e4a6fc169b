# The storage daemon's cost per pass: CPU time (the daemon and the shells it starts) and system
# calls, with four mounted partitions and with no disk at all. The real binary runs "-3" in a
# simulated device (the partitions are tmpfs mounts named /dev/sdX1 over probe files of 4 KiB);
# strace answers its 5-second pauses at once, so hundreds of passes take seconds, and the
# daemon is ended in the first pause it is let through. The kernel's cache drop is bound to
# /dev/null here: it would cost what this machine's page cache costs and slow everyone else's
# work, while the shell that the device starts for it is still counted.
. "$(dirname "$0")/../tests/e2e/lib.sh"

[ "$(id -u)" -eq 0 ] && unshare --mount --net true 2>/dev/null && command -v strace >/dev/null || {
    echo "bench/storage.sh: needs root, namespaces and strace" >&2
    exit 0
}
device_init
stand_in usbmount <<'EOF'
exit 0
EOF

# set_up mounted|none: the partition list, probe targets and mount script of one setting.
set_up() {
    local letters=""
    [ "$1" = mounted ] && letters="a b c d"
    {
        printf 'major minor  #blocks  name\n\n   31        0       4096 mtdblock0\n'
        local l minor=0
        for l in $letters; do
            printf '   8 %8d    7818240 sd%s\n   8 %8d    7818240 sd%s1\n' $minor "$l" $((minor + 1)) "$l"
            minor=$((minor + 16))
        done
    } >"$T/proc/partitions"
    mounts=""
    for l in $letters; do
        head -c 4096 /dev/urandom >"$T/dev/sd${l}1"
        mkdir -p "$T/var/tmp/usb/sd${l}1"
        mounts+="mount -t tmpfs /dev/sd${l}1 /var/tmp/usb/sd${l}1; "
    done
}

# measure NAME PASSES STRACE_OPTIONS...: runs "-3" for PASSES passes inside the device, its
# pauses answered by strace. Leaves in $T/NAME.cpu the daemon's own CPU time in ns and its
# children's user and system time in clock ticks, and the trace in $T/NAME.trace.
measure() {
    local name=$1 passes=$2
    shift 2
    in_device "$mounts"'
        mount --bind /dev/null /proc/sys/vm/drop_caches
        strace -qq -o "$T/'"$name"'.trace" '"$*"' \
            -e inject=nanosleep,clock_nanosleep:retval=0:when=1..'"$passes"' "$TARNVEL" -3 &
        tracer=$!
        # The pause after the last pass is a real one: wait for it to begin.
        trace="$T/'"$name"'.trace"
        until [ -e "$trace" ] && [ "$(grep -c "nanosleep(" "$trace")" -gt '"$passes"' ]; do
            kill -0 $tracer 2>/dev/null || exit 1
            sleep 0.1
        done
        read -r daemon _ </proc/$tracer/task/$tracer/children
        echo "$(cut -d" " -f1 /proc/$daemon/schedstat) $(cut -d" " -f16-17 /proc/$daemon/stat)" >"$T/'"$name"'.cpu"
        kill $daemon; wait $tracer
    '
}

report() {
    local setting=$1 passes=$2 calls=20
    set_up "$setting"
    # CPU: the daemon's own from a run stopped only at its pauses (a seccomp filter, which
    # also has its shells traced); that of its shells from a run that does not trace them.
    measure "$setting-own" $passes -f --seccomp-bpf -e trace=nanosleep,clock_nanosleep
    measure "$setting-shells" $passes -e trace=nanosleep,clock_nanosleep
    awk -v n=$passes -v hz="$(getconf CLK_TCK)" -v s="$setting" '
        FNR == 1 && NR == 1 { own = $1 / 1e6 / n }
        FNR == 1 && NR == 2 { shells = ($2 + $3) * 1000 / hz / n }
        END {
            printf "storage -3 pass, %s: CPU time\t%.3f\tms/pass\n", s, own + shells
            printf "storage -3 pass, %s: CPU time of tarnvel itself\t%.3f\tms/pass\n", s, own
        }' "$T/$setting-own.cpu" "$T/$setting-shells.cpu"
    # System calls: every call of the daemon and its children, counted between two pauses
    # (the first pass, which also starts the program, is left out).
    measure "$setting-calls" $calls -f
    awk -v n=$calls -v s="$setting" '
        / (clock_)?nanosleep\(/ { pauses++; daemon = $1; next }
        /resumed>|^[0-9]+ +(---|\+\+\+)/ { next }
        pauses >= 1 && pauses <= n { calls++; if ($1 == daemon) own++ }
        END {
            printf "storage -3 pass, %s: system calls\t%.1f\tcalls/pass\n", s, calls / n
            printf "storage -3 pass, %s: system calls of tarnvel itself\t%.1f\tcalls/pass\n", s, own / n
        }' "$T/$setting-calls.trace"
    find "$T/var/tmp/usb" -mindepth 1 -delete
    rm -f "$T"/dev/sd*
}

report mounted 300
report none 3000
