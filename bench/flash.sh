#!/usr/bin/env bash
# Read throughput of "-7" (16 MiB blocks from /dev/sda, with its statistics lines) against
# dd reading the same 1 GiB file in 16 MiB blocks, the page cache dropped before each. "-7"
# runs in a private mount namespace where the file is bound over a /dev/sda node. One run each.
# Needs root (dropping the page cache, namespaces); prints nothing without it.
set -euo pipefail
: "${TARNVEL:?set TARNVEL to the tarnvel binary}"
if [ "$(id -u)" -ne 0 ] || ! unshare --mount true 2>/dev/null; then
    echo "bench/flash.sh: needs root and mount namespaces" >&2
    exit 0
fi

dir=$(mktemp -d /var/tmp/tarnvel-bench.XXXXXX)
trap 'rm -rf "$dir"' EXIT
file="$dir/disk"
dd if=/dev/zero of="$file" bs=16M count=64 status=none
sync

drop_caches() { sync; echo 3 >/proc/sys/vm/drop_caches; }
now() { date +%s%N; }

drop_caches
t0=$(now)
unshare --mount --propagation private env FILE="$file" TARNVEL="$TARNVEL" bash -c '
    mount -t tmpfs tarnvel-dev /dev
    : >/dev/sda
    mount --bind "$FILE" /dev/sda
    exec "$TARNVEL" -7' >"$dir/out"
t1=$(now)
reads=$(grep -c '^read:[0-9]\{8\}(' "$dir/out" || true)
if [ "$reads" -ne 64 ]; then
    echo "bench/flash.sh: -7 made $reads reads of 16 MiB, not 64" >&2
    exit 1
fi

drop_caches
t2=$(now)
dd if="$file" of=/dev/null bs=16M status=none
t3=$(now)

awk -v tool=$((t1 - t0)) -v dd=$((t3 - t2)) 'BEGIN {
    printf "flash -7 read of 1 GiB\t%.1f\tMiB/s\n", 1024 / (tool / 1e9)
    printf "flash dd bs=16M read of 1 GiB\t%.1f\tMiB/s\n", 1024 / (dd / 1e9)
    printf "flash -7 time / dd time\t%.2f\tratio\n", tool / dd
}'
