#!/usr/bin/env bash
# The presence watchdog's look for webs (find_pid_by_name, every 5 s) against the system's
# pidof, over the same /proc: a private pid namespace holding a few hundred processes, the one
# named webs started last so that both walk the whole table. Needs root (pid namespace).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --build build/host --target tarnvel_bench_lookup >/dev/null
driver="$PWD/build/host/bench/tarnvel_bench_lookup"
if ! unshare --pid --fork --mount-proc true 2>/dev/null; then
    echo "bench/web.sh: needs root for a pid namespace; skipped" >&2
    exit 0
fi

export driver
unshare --pid --fork --mount-proc bash -c '
    set -euo pipefail
    processes=300 runs=200
    dir=$(mktemp -d)
    trap "rm -rf $dir" EXIT
    # A program whose command name is webs: the kernel takes it from the name it is run by.
    ln -s "$(command -v sleep)" "$dir/webs"
    for ((i = 1; i < processes; i++)); do sleep 600 & done
    "$dir/webs" 600 &
    webs=$!
    sleep 0.5
    total=$(ls -d /proc/[0-9]* | wc -l)

    read -r found ns <<<"$("$driver" webs 2000)"
    [ "$found" = "$webs" ] && [ "$(pidof webs)" = "$webs" ] || { echo "bench/web.sh: lookups disagree" >&2; exit 1; }

    ms() { echo $(( $(date +%s%N) / 1000000 )); }
    t0=$(ms); for ((i = 0; i < runs; i++)); do pidof webs >/dev/null; done; t1=$(ms)
    for ((i = 0; i < runs; i++)); do "$driver" webs 1 >/dev/null; done; t2=$(ms)
    pidof_us=$(( (t1 - t0) * 1000 / runs ))
    program_us=$(( (t2 - t1) * 1000 / runs ))
    awk -v ns="$ns" -v p="$pidof_us" -v d="$program_us" -v n="$total" "BEGIN {
        printf \"web: find_pid_by_name(webs), %d processes\t%.1f\tus/lookup\n\", n, ns / 1000
        printf \"web: pidof webs, %d processes\t%d\tus/run\n\", n, p
        printf \"web: pidof / find_pid_by_name\t%.1f\tx\n\", p * 1000 / ns
        printf \"web: pidof / one-lookup program\t%.2f\tx\n\", p / d
    }"
'
