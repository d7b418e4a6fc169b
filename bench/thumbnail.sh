#!/usr/bin/env bash
# "-m" on an unchanged tree of 20,000 photos in 1,000 folders (every thumbnail present) and
# 2,000 JPEGs without an embedded thumbnail, against find reading the same tree's sizes, and
# the programs it starts; the same with 500 PDF documents added (jhead is asked about each);
# the programs started per new thumbnail; and a walk as deep as a stranger likes: its peak
# memory with 1,100 descriptors, and its time against find.
set -euo pipefail
# The end-to-end helpers: a work folder $T removed at the end, and private_cache.
. "$(dirname "$0")/../tests/e2e/lib.sh" >/dev/null
export PATH="/usr/bin:/bin:$PATH"
W=$T

# The tree: empty stand-ins do for photos whose thumbnail is present (they are only listed),
# and one byte for the thumbnails (an empty one would be made again); the photos without one
# are real JPEGs, and the documents begin as PDFs do.
export TREE=$W/tree
mkdir -p "$TREE"
convert -size 64x48 gradient:green-yellow "$W/plain.jpg"
printf '%%PDF-1.4\n' >"$W/doc.pdf"
printf x >"$W/thumb.jpg"
# copies FILE: FILE copied to each name that stdin lists (NUL-separated), in $TREE.
copies() { (cd "$TREE" && xargs -0 -n 1000 sh -c 'tee "$@" <"$0" >/dev/null' "$1"); }
(cd "$TREE" && mkdir -p f{0..999}/.thumbnail && printf '%s\0' f{0..999}/p{00..19}.jpg | xargs -0 touch)
printf '%s\0' f{0..999}/.thumbnail/p{00..19}.jpg | copies "$W/thumb.jpg"
printf '%s\0' f{0..999}/web{0..1}.jpg | copies "$W/plain.jpg"

# Programs a run of the tool on FOLDER starts (successful execs less the tool itself).
programs() {
    private_cache strace -f -qq -e trace=execve -o "$W/trace" "$TARNVEL" -m "$1" >/dev/null 2>&1
    echo $(($(grep -c '= 0$' "$W/trace") - 1))
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
        printf \"thumbnail -m unchanged 20000+2000 photos\t%.3f\ts\n\", d - c
        printf \"thumbnail find -printf same tree\t%.3f\ts\n\", b - a
        printf \"thumbnail -m / find ratio\t%.2f\tx\n\", (d - c) / (b - a)
    }"'

command -v strace >/dev/null && command -v jhead >/dev/null || exit 0
printf 'thumbnail -m unchanged tree: programs started\t%d\tprograms\n' "$(programs "$TREE")"
printf '%s\0' f{0..499}/doc.pdf | copies "$W/doc.pdf"
printf 'thumbnail -m same tree and 500 PDFs: programs started\t%d\tprograms\n' "$(programs "$TREE")"

# A walk as deep as a stranger likes: 1,000 nested folders with 255-byte names (the walk stops
# where the path no longer fits), and 1,000 with 1-byte names (walked to the bottom); peak
# memory with 1,100 descriptors, and the time against find, which walks every level.
deep() {
    python3 - "$1" "$2" <<'TREE'
import os, sys
os.makedirs(sys.argv[1])
os.chdir(sys.argv[1])
for _ in range(1000):
    os.mkdir(sys.argv[2])
    os.chdir(sys.argv[2])
open("p.jpg", "w").close()
TREE
}
deep "$W/deep255" "$(printf 'd%.0s' {1..255})"
deep "$W/deep1" d
for tree in deep255 deep1; do
    # shellcheck disable=SC2016
    private_cache bash -c '
        ulimit -n 1100
        now() { date +%s.%N; }
        find "$1" -printf "%s\n" >/dev/null
        t0=$(now); find "$1" -printf "%s\n" >/dev/null; t1=$(now)
        t2=$(now); /usr/bin/time -f %M -o "$2.rss" "$TARNVEL" -m "$1" 2>/dev/null; t3=$(now)
        awk -v a="$t0" -v b="$t1" -v c="$t2" -v d="$t3" -v r="$(cat "$2.rss")" -v n="$3" "BEGIN {
            printf \"thumbnail -m 1000 levels of %s-byte names: peak memory\t%d\tKiB\n\", n, r
            printf \"thumbnail -m 1000 levels of %s-byte names / find\t%.3f / %.3f\ts\n\", n, d - c, b - a
        }"' _ "$W/$tree" "$W/$tree" "${tree#deep}"
done

# Programs per new thumbnail: 100 real photos in 10 new folders.
convert -version 2>/dev/null | grep -q ImageMagick || exit 0
convert -size 320x240 gradient:red-blue "$W/p.jpg"
jhead -mkexif "$W/p.jpg" >/dev/null
jhead -rgt "$W/p.jpg" >/dev/null
NEW=$W/new
for ((d = 0; d < 10; d++)); do
    mkdir -p "$NEW/f$d"
    for ((i = 0; i < 10; i++)); do cp "$W/p.jpg" "$NEW/f$d/p$i.jpg"; done
done
started=$(programs "$NEW")
made=$(find "$NEW" -path '*/.thumbnail/*' -type f | wc -l)
awk -v s="$started" -v m="$made" 'BEGIN { printf "thumbnail -m programs per new thumbnail\t%.2f\tprograms\n", s / m }'

# "-e" needs /var/tmp/tmp.jpg: a /var of its own in a private mount namespace.
[ "$(id -u)" -eq 0 ] && unshare --mount true 2>/dev/null || exit 0
rm -rf "$NEW"/f*/.thumbnail
mkdir -p "$W/var/tmp"
unshare --mount --propagation private bash -c 'mount --bind "$1" /var && shift && "$@"' _ "$W/var" \
    strace -f -qq -e trace=execve -o "$W/trace" "$TARNVEL" -e "$NEW" >/dev/null 2>&1
made=$(find "$NEW" -path '*/.thumbnail/*' -type f | wc -l)
awk -v s="$(($(grep -c '= 0$' "$W/trace") - 1))" -v m="$made" \
    'BEGIN { printf "thumbnail -e programs per new thumbnail\t%.2f\tprograms\n", s / m }'

# A first -m over 50 new photos of about 1 MB with Exif thumbnails: the bytes that the tool and
# its programs read (rchar; the kernel adds a child's to the parent that reaps it) against the
# photos' own.
convert -seed 1 -size 900x660 xc: +noise Random -quality 90 "$W/big.jpg"
jhead -mkexif "$W/big.jpg" >/dev/null
jhead -rgt "$W/big.jpg" >/dev/null
mkdir -p "$W/big"
for ((i = 0; i < 50; i++)); do cp "$W/big.jpg" "$W/big/p$i.jpg"; done
rm -rf "$W/var/tmp"/*
python3 - "$W/var" "$W/big" <<'READ'
import os, subprocess, sys
def rchar():
    return int(next(line for line in open("/proc/self/io") if line.startswith("rchar:")).split()[1])
photos = sum(os.path.getsize(os.path.join(sys.argv[2], f)) for f in os.listdir(sys.argv[2]))
before = rchar()
subprocess.run(["unshare", "--mount", "--propagation", "private", "bash", "-c",
                'mount --bind "$1" /var && mount --bind /dev/null /proc/sys/vm/drop_caches && exec "$TARNVEL" -m "$2"',
                "_", sys.argv[1], sys.argv[2]], stderr=subprocess.DEVNULL, check=True)
print("thumbnail first -m 50 photos of %.1f MB: bytes read / photos' bytes\t%.1f\t%%"
      % (photos / 50 / 1e6, 100 * (rchar() - before) / photos))
READ
