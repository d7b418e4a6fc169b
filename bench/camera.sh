#!/usr/bin/env bash
# "-m" on real cameras' photos: the JPEGs that Debian's sources of Exif libraries and image
# tools carry as test data. For each, what the system's jhead makes of the whole photo by hand
# (-st, then -te and -dt on what it extracted) against the thumbnail the tool placed (from a
# copy of the photo's header, and only when it is a whole JPEG). Names of the files that differ,
# or that the tool refused, go to stderr with what it said.
#
# Run by hand as root (apt-get source, a private /var): bash bench/camera.sh, with TARNVEL
# built. The sources are fetched once, into build/camera (or $CAMERA_CACHE).
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
export TARNVEL=${TARNVEL:-$ROOT/build/host/tarnvel}
CACHE=${CAMERA_CACHE:-$ROOT/build/camera}
# Photos from many cameras, many with an embedded thumbnail: exiv2's test images, jhead's own
# tests, Pillow's test images; ExifTool's, whose thumbnails are mostly a line of placeholder
# text; goexif's camera samples, most of them only the first kilobytes of a photo.
PACKAGES=(exiv2 libimage-exiftool-perl jhead pillow golang-github-rwcarlsen-goexif)

note() { echo "camera: $*" >&2; }
if [ "$(id -u)" -ne 0 ] || ! unshare --mount --net true 2>/dev/null; then note "needs root and namespaces"; exit 0; fi
if [ ! -x "$TARNVEL" ] || [ ! -x /usr/bin/jhead ]; then note "needs $TARNVEL and /usr/bin/jhead"; exit 0; fi

# The end-to-end helpers: a work folder $T removed at the end, device_init, in_device.
# shellcheck source=tests/e2e/lib.sh disable=SC1091
. "$ROOT/tests/e2e/lib.sh"
# deb_source, which adds a deb-src entry where there is none.
# shellcheck source=scripts/system.d/build.sh disable=SC1091
. "$ROOT/scripts/system.d/build.sh"
export PATH="/usr/bin:/bin:$PATH"

mkdir -p "$CACHE/src"
dirs=()
for p in "${PACKAGES[@]}"; do
    dirs+=("$(deb_source "$p" "$CACHE/src")") || { note "cannot fetch the source of $p"; exit 1; }
done

# Each distinct JPEG, unchanged, as photos/fNNNN.jpg; origins has "NAME<TAB>where it came from".
P=$T/photos
mkdir -p "$P" "$T/ref"
python3 - "$P" "${dirs[@]}" >"$T/origins" <<'PY'
import hashlib, os, sys
seen, dest = set(), sys.argv[1]
for top in sys.argv[2:]:
    for folder, subs, files in os.walk(top):
        subs.sort()
        for f in sorted(files):
            path = os.path.join(folder, f)
            if os.path.islink(path) or not os.path.isfile(path):
                continue
            data = open(path, "rb").read()
            digest = hashlib.sha256(data).digest()
            if data[:2] != b"\xff\xd8" or digest in seen:
                continue
            seen.add(digest)
            name = f"f{len(seen):04d}.jpg"
            open(os.path.join(dest, name), "wb").write(data)
            print(f"{name}\t{os.path.relpath(path, os.path.dirname(top.rstrip('/')))}")
PY
names=()
while IFS=$'\t' read -r name _; do names+=("$name"); done <"$T/origins"
origin() { awk -F '\t' -v n="$1" '$1 == n { print $2 }' "$T/origins"; }

# By hand, from the whole photo: ref/NAME.jpg, where all three jhead runs exit with 0 (as the
# tool asks of them) and leave a file.
for name in "${names[@]}"; do
    ref=$T/ref/$name
    { timeout 60 jhead -st "$ref" "$P/$name" && [ -s "$ref" ] && timeout 60 jhead -te "$P/$name" "$ref" &&
        timeout 60 jhead -dt "$ref"; } >/dev/null 2>&1 || rm -f "$ref"
done

# The tool, in a simulated device whose /var/tmp is this run's, its cache drop kept in.
device_init
# shellcheck disable=SC2016 # expanded inside the device
in_device 'mount --bind /dev/null /proc/sys/vm/drop_caches && "$TARNVEL" -m "$T/photos"' \
    >/dev/null 2>"$T/tool.err" || true
said() { grep -m1 -F "/$1" "$T/tool.err" || echo "(nothing said)"; }

refs=0 placed=0 different=0 refused=0 unasked=0
for name in "${names[@]}"; do
    ref=$T/ref/$name thumb=$P/.thumbnail/$name
    [ -e "$ref" ] && refs=$((refs + 1))
    if [ -e "$thumb" ]; then
        placed=$((placed + 1))
        if [ ! -e "$ref" ]; then
            unasked=$((unasked + 1))
            note "$name ($(origin "$name")): placed without a reference"
        elif ! cmp -s "$thumb" "$ref"; then
            different=$((different + 1))
            note "$name ($(origin "$name")): placed, differs from the reference: $(said "$name")"
        fi
    elif [ -e "$ref" ]; then
        refused=$((refused + 1))
        note "$name ($(origin "$name")): refused: $(said "$name")"
    fi
done

row() { printf 'camera -m %s\t%s\tfiles\n' "$1" "$2"; }
row "JPEGs tried" "${#names[@]}"
row "reference thumbnails (jhead by hand)" "$refs"
row "thumbnails placed" "$placed"
row "placed, differing from the reference" "$different"
row "reference made, nothing placed (refused)" "$refused"
row "placed without a reference" "$unasked"
