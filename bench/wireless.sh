# Wireless settings: the cost of one run of the link gate (no wireless link, empty command)
# and of one "-h" run whole, against the two echo shells that used to append its lines on top
# of the run's own start.
set -euo pipefail
: "${TARNVEL:?}"
runs=200
T=$(mktemp -d /tmp/tarnvel-bench.XXXXXX)
trap 'rm -rf "$T"' EXIT

# per_run_us COMMAND...: mean wall time of one run of COMMAND in microseconds.
per_run_us() {
    local start end i
    start=$(date +%s%N)
    for ((i = 0; i < runs; i++)); do "$@" >/dev/null 2>&1; done
    end=$(date +%s%N)
    echo $(((end - start) / runs / 1000))
}

printf 'wireless -1 gate, no link, empty command\t%s\tus/run\n' "$(per_run_us "$TARNVEL" -1 nosuchwlan0_nosuchwlan1 0)"

# "-h" writes /var/mibSetting: only inside a private mount namespace with /var on a test folder.
if [ "$(id -u)" -eq 0 ] && unshare --mount true 2>/dev/null; then
    mkdir -p "$T/var"
    ours=$(unshare --mount --propagation private env T="$T" TARNVEL="$TARNVEL" runs="$runs" bash -c '
        mount --bind "$T/var" /var
        start=$(date +%s%N)
        for ((i = 0; i < runs; i++)); do "$TARNVEL" -h benchpass; done
        echo $((($(date +%s%N) - start) / runs / 1000))')
    printf 'wireless -h append, literal\t%s\tus/run\n' "$ours"
    old_way() {
        sh -c "echo \"DEF_WLAN0_WPA_PSK=benchpass\" >> $T/old"
        sh -c "echo \"DEF_WLAN0_WSC_PSK=benchpass\" >> $T/old"
    }
    printf 'wireless -h, the two echo shells it saves\t%s\tus/run\n' "$(per_run_us old_way)"
fi
