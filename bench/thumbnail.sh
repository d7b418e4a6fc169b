#!/usr/bin/env bash
# "-m" on an unchanged tree of 20,000 photos in 1,000 folders (every thumbnail present)
# against find reading the same tree's sizes, and the programs started per new thumbnail.
set -euo pipefail
# The end-to-end helpers: a work folder $T removed at the end, and private_cache.
. "$(dirname "$0")/../tests/e2e/lib.sh" >/dev/null
export PATH="/usr/bin:/bin:$PATH"
W=$T

# The tree: tiny stand-in files do, since an unchanged tree is only listed, never opened.
export TREE=$W/tree
mkdir -p "$TREE"
(cd "$TREE" && mkdir -p f{0..999}/.thumbnail &&
    printf '%s\0' f{0..999}/p{00..19}.jpg f{0..999}/.thumbnail/p{00..19}.jpg | xargs -0 touch)

per_thumbnail() {
    awk -v o="$1" -v s="$2" -v m="$3" \
        'BEGIN { printf "thumbnail %s programs per new thumbnail\t%.2f\tprograms\n", o, s / m }'
}

# Both timed in the same namespace (whose cache drop writes to /dev/null), caches warm, one
# run each.
# shellcheck disable=SC2016
private_cache bash -c '
    now() { date +%s.%N; }
    find "$TREE" -printf "%s\n" >/dev/null
    "$TARNVEL" -m "$TREE" 2>/dev/null
    t0=$(now); find "$TREE" -printf "%s\n" >/dev/null; t1=$(now)
    t2=$(now); "$TARNVEL" -m "$TREE" 2>/dev/null; t3=$(now)
    awk -v a="$t0" -v b="$t1" -v c="$t2" -v d="$t3" "BEGIN {
        printf \"thumbnail -m unchanged 20000 photos\t%.3f\ts\n\", d - c
        printf \"thumbnail find -printf same tree\t%.3f\ts\n\", b - a
        printf \"thumbnail -m / find ratio\t%.2f\tx\n\", (d - c) / (b - a)
    }"'

# Programs per new thumbnail: 100 real photos in 10 new folders, counted with strace.
command -v strace >/dev/null && command -v jhead >/dev/null || exit 0
convert -version 2>/dev/null | grep -q ImageMagick || exit 0
convert -size 320x240 gradient:red-blue "$W/p.jpg"
jhead -mkexif "$W/p.jpg" >/dev/null
jhead -rgt "$W/p.jpg" >/dev/null
NEW=$W/new
for ((d = 0; d < 10; d++)); do
    mkdir -p "$NEW/f$d"
    for ((i = 0; i < 10; i++)); do cp "$W/p.jpg" "$NEW/f$d/p$i.jpg"; done
done
private_cache strace -f -qq -e trace=execve -o "$W/trace" "$TARNVEL" -m "$NEW" >/dev/null 2>&1
made=$(find "$NEW" -path '*/.thumbnail/*' -type f | wc -l)
# Successful execs, less the tool itself and the shell of the cache drop.
per_thumbnail -m $(($(grep -c '= 0$' "$W/trace") - 2)) "$made"

# "-e" needs /var/tmp/tmp.jpg: a /var of its own in a private mount namespace.
[ "$(id -u)" -eq 0 ] && unshare --mount true 2>/dev/null || exit 0
rm -rf "$NEW"/f*/.thumbnail
mkdir -p "$W/var/tmp"
unshare --mount --propagation private bash -c 'mount --bind "$1" /var && shift && "$@"' _ "$W/var" \
    strace -f -qq -e trace=execve -o "$W/trace" "$TARNVEL" -e "$NEW" >/dev/null 2>&1
made=$(find "$NEW" -path '*/.thumbnail/*' -type f | wc -l)
per_thumbnail -e $(($(grep -c '= 0$' "$W/trace") - 1)) "$made"
