#!/usr/bin/env bash
# "-m" on an unchanged tree of 20,000 photos in 1,000 folders (every thumbnail present), 5,000
# JPEGs without an embedded thumbnail and 1,000 PDF documents, against find reading the same
# tree's sizes; the programs that run starts; and the programs started per new thumbnail.
set -euo pipefail
# The end-to-end helpers: a work folder $T removed at the end, and private_cache.
. "$(dirname "$0")/../tests/e2e/lib.sh" >/dev/null
export PATH="/usr/bin:/bin:$PATH"
W=$T

# The tree: empty stand-ins do for photos whose thumbnail is present (they are only listed);
# the photos without one are real JPEGs, and the documents begin as PDFs do.
export TREE=$W/tree
mkdir -p "$TREE"
convert -size 64x48 gradient:green-yellow "$W/plain.jpg"
printf '%%PDF-1.4\n' >"$W/doc.pdf"
(cd "$TREE" && mkdir -p f{0..999}/.thumbnail &&
    printf '%s\0' f{0..999}/p{00..19}.jpg f{0..999}/.thumbnail/p{00..19}.jpg | xargs -0 touch &&
    printf '%s\0' f{0..999}/web{0..4}.jpg | xargs -0 -n 1000 sh -c 'tee "$@" <"$0" >/dev/null' "$W/plain.jpg" &&
    printf '%s\0' f{0..999}/doc.pdf | xargs -0 -n 1000 sh -c 'tee "$@" <"$0" >/dev/null' "$W/doc.pdf")

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
        printf \"thumbnail -m unchanged 20000+5000 photos, 1000 PDF\t%.3f\ts\n\", d - c
        printf \"thumbnail find -printf same tree\t%.3f\ts\n\", b - a
        printf \"thumbnail -m / find ratio\t%.2f\tx\n\", (d - c) / (b - a)
    }"'

command -v strace >/dev/null && command -v jhead >/dev/null || exit 0
# Programs the unchanged run starts (successful execs less the tool itself).
private_cache strace -f -qq -e trace=execve -o "$W/trace" "$TARNVEL" -m "$TREE" >/dev/null 2>&1
printf 'thumbnail -m unchanged tree: programs started\t%d\tprograms\n' $(($(grep -c '= 0$' "$W/trace") - 1))

# Programs per new thumbnail: 100 real photos in 10 new folders, counted with strace.
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
# Successful execs, less the tool itself.
per_thumbnail -m $(($(grep -c '= 0$' "$W/trace") - 1)) "$made"

# "-e" needs /var/tmp/tmp.jpg: a /var of its own in a private mount namespace.
[ "$(id -u)" -eq 0 ] && unshare --mount true 2>/dev/null || exit 0
rm -rf "$NEW"/f*/.thumbnail
mkdir -p "$W/var/tmp"
unshare --mount --propagation private bash -c 'mount --bind "$1" /var && shift && "$@"' _ "$W/var" \
    strace -f -qq -e trace=execve -o "$W/trace" "$TARNVEL" -e "$NEW" >/dev/null 2>&1
made=$(find "$NEW" -path '*/.thumbnail/*' -type f | wc -l)
per_thumbnail -e $(($(grep -c '= 0$' "$W/trace") - 1)) "$made"
