# Runs one fuzz target for a while: new inputs go to WORK/corpus, crashes to WORK/artifacts.
# Usage: run.sh TARGET SEEDS WORK SECONDS
set -eu
target=$1 seeds=$2 work=$3 seconds=$4
rm -rf "$work/artifacts"
mkdir -p "$work/corpus" "$work/artifacts"
# The targets work inside the stand-in device's folder: every path handed over is absolute.
work=$(realpath "$work") seeds=$(realpath "$seeds")
# The stand-in device lives in memory where the machine offers it: each input rewrites it.
if [ -d /dev/shm ] && [ -w /dev/shm ]; then export TMPDIR=/dev/shm; fi
# The tool checks every allocation it makes, and "-7" takes its block length from the command
# line: an allocation over 256 MiB comes back null, as it would on the device (whose memory
# is far smaller), instead of having the sanitizer map gigabytes of shadow memory.
export ASAN_OPTIONS=allocator_may_return_null=1:max_allocation_size_mb=256${ASAN_OPTIONS:+:$ASAN_OPTIONS}
# stdout and stderr of the tool are closed (its lines and refusals would flood the log); the
# fuzzer's and the sanitizers' reports still come through. An input that takes over 10 s is
# a hang, reported like a crash.
exec "$target" -malloc_limit_mb=1048576 -max_total_time="$seconds" -timeout=10 -close_fd_mask=3 \
    -print_final_stats=1 -artifact_prefix="$work/artifacts/" "$work/corpus" "$seeds"
