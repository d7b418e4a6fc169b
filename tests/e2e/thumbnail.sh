# Thumbnails made by the real jhead and ImageMagick convert on JPEGs made here, orphans
# removed, and names on the disk that must stay names.
. "$(dirname "$0")/lib.sh"

# ImageMagick's own convert, ahead of any stand-in elsewhere on PATH.
export PATH="/usr/bin:/bin:$PATH"
command -v jhead >/dev/null || skip "needs jhead"
convert -version 2>/dev/null | grep -q ImageMagick || skip "needs ImageMagick's convert"

# A 320x240 JPEG with an Exif header that carries a 160x120 thumbnail, and one without.
convert -size 320x240 gradient:red-blue "$T/p.jpg"
jhead -mkexif "$T/p.jpg" >/dev/null
jhead -rgt "$T/p.jpg" >/dev/null
convert -size 320x240 gradient:green-yellow "$T/plain.jpg"

# Read from stdin: identify would take "[1]" or "%d" in a name as its own.
size_of() { { identify -format '%wx%h\n' - <"$1"; } 2>/dev/null; }
exif_date() { jhead "$1" | grep '^Date/Time'; }
# has_thumbnail FILE: yes when FILE carries an embedded thumbnail.
has_thumbnail() {
    rm -f "$T/probe.jpg"
    jhead -st "$T/probe.jpg" "$1" >/dev/null 2>&1
    [ -e "$T/probe.jpg" ] && echo yes || echo no
}
listing() { (cd "$1" && find . -mindepth 1 | LC_ALL=C sort | tr '\n' ' '); }

# --- "-m": embedded thumbnails at their own size --------------------------------------
D=$T/disk
mkdir -p "$D/a" "$D/trip.jpg" "$D/.hidden" "$D/System Volume Information" "$D/Recycled" "$D/\$RECYCLE.BIN" "$D/docs"
cp "$T/p.jpg" "$D/a/IMG_0001.JPG"
cp "$T/p.jpg" "$D/a/photo.Jpeg"
cp "$T/p.jpg" "$D/a/.IMG_0002.JPG"
cp "$T/plain.jpg" "$D/a/plain.jpg"
for d in trip.jpg .hidden "System Volume Information" Recycled "\$RECYCLE.BIN"; do cp "$T/p.jpg" "$D/$d/x.jpg"; done
printf '%%PDF-1.4\n' >"$D/docs/Report.PDF"
printf '%%PDF-1.4\n' >"$D/docs/lower.pdf"

out=$(private_cache "$TARNVEL" -m "$D" 2>/dev/null)
check "-m prints nothing" "" "$out"
check "-m: the photo's thumbnail is its embedded one" "160x120" "$(size_of "$D/a/.thumbnail/IMG_0001.JPG")"
check "-m: the thumbnail carries the photo's Exif header" "$(exif_date "$D/a/IMG_0001.JPG")" "$(exif_date "$D/a/.thumbnail/IMG_0001.JPG")"
check "-m: the thumbnail has no embedded thumbnail" no "$(has_thumbnail "$D/a/.thumbnail/IMG_0001.JPG")"
check "-m: the photo itself is untouched" "" "$(cmp "$T/p.jpg" "$D/a/IMG_0001.JPG")"
check "-m: what the thumbnail folders hold" \
    "./.IMG_0002.JPG ./.thumbnail ./.thumbnail/IMG_0001.JPG ./.thumbnail/photo.Jpeg ./IMG_0001.JPG ./photo.Jpeg ./plain.jpg " \
    "$(listing "$D/a")"
check "-m: a folder named like a photo is walked" "160x120" "$(size_of "$D/trip.jpg/.thumbnail/x.jpg")"
for d in .hidden "System Volume Information" Recycled "\$RECYCLE.BIN"; do
    check "-m: $d is not walked" "./x.jpg " "$(listing "$D/$d")"
done
check "-m: documents get a thumbnail folder, jhead makes no thumbnail of them" "./.thumbnail ./Report.PDF ./lower.pdf " "$(listing "$D/docs")"

# The orphan rule: a thumbnail stays while its photo or its upper-case .PDF twin exists.
cp "$D/a/.thumbnail/IMG_0001.JPG" "$D/docs/.thumbnail/Report.JPG"
cp "$D/a/.thumbnail/IMG_0001.JPG" "$D/docs/.thumbnail/lower.JPG"
cp "$D/a/.thumbnail/IMG_0001.JPG" "$D/docs/.thumbnail/Gone.JPG"
printf 'notes' >"$D/docs/.thumbnail/notes.txt"
rm "$D/a/IMG_0001.JPG"
mv "$D/a/photo.Jpeg" "$D/a/beach.Jpeg"
private_cache "$TARNVEL" -m "$D" >/dev/null 2>&1
check "-m: a deleted photo's thumbnail goes, a renamed one's is replaced" \
    "./.IMG_0002.JPG ./.thumbnail ./.thumbnail/beach.Jpeg ./beach.Jpeg ./plain.jpg " "$(listing "$D/a")"
check "-m: the .PDF twin keeps its thumbnail, a .pdf does not" \
    "./.thumbnail ./.thumbnail/Report.JPG ./.thumbnail/notes.txt ./Report.PDF ./lower.pdf " "$(listing "$D/docs")"

# An unchanged tree starts no program, nor do photos without an embedded thumbnail and documents.
if command -v strace >/dev/null; then
    U=$T/unchanged
    mkdir -p "$U/x/y"
    cp "$T/p.jpg" "$U/x/a.jpg"
    cp "$T/p.jpg" "$U/x/y/b.JPEG"
    cp "$T/plain.jpg" "$U/x/edited.jpg"
    printf '%%PDF-1.4\n' >"$U/x/y/doc.pdf"
    private_cache "$TARNVEL" -m "$U" >/dev/null 2>&1
    private_cache strace -f -qq -e trace=execve -o "$T/trace" "$TARNVEL" -m "$U" >/dev/null 2>&1
    check "-m on an unchanged tree starts one jhead per document, nothing else" "$(command -v jhead)" "$(started "$T/trace")"

    # Each new thumbnail is flushed before its rename; after the renames, the thumbnail folder
    # once, and the folder it was made in.
    mkdir -p "$T/flush"
    for i in 1 2 3; do cp "$T/p.jpg" "$T/flush/p$i.jpg"; done
    private_cache strace -qq -y -e signal=none -e trace=fsync -o "$T/fsyncs" "$TARNVEL" -m "$T/flush" >/dev/null 2>&1
    check "-m flushes each thumbnail, then its thumbnail folder once and the folder it was made in" \
        "$(printf '%s\n' .thumbnail/.tarnvel.part{,,} .thumbnail "")" "$(sed -E "s|^fsync\([0-9]+<$T/flush/?(.*)>\).*|\1|" "$T/fsyncs")"
fi

# Started with SIGCHLD ignored (a parent's setting that exec keeps), -m still sees its programs end.
mkdir -p "$T/nochld"
cp "$T/p.jpg" "$T/nochld/a.jpg"
private_cache in_state nochld "$TARNVEL" -m "$T/nochld" 2>/dev/null
check "-m started with SIGCHLD ignored makes its thumbnail" 160x120 "$(size_of "$T/nochld/.thumbnail/a.jpg")"

# --- names that must stay names ----------------------------------------------------------
H=$T/hostile
mkdir -p "$H"
names=('a "b".jpg' '$(touch pwned1).jpg' '`touch pwned2`.jpg' 'back\slash.jpg' ' spaces  here .jpg' '-rf.jpg'
       $'new\nline.jpg' "it's.jpg" '50%done %d.jpg' '; rm -rf ..; .jpg' '|cat.jpg' 'x[1].jpg' 'x&iy.jpg')
for n in "${names[@]}"; do cp "$T/p.jpg" "$H/$n"; done
# A stray byte before its first segment: jhead reads this photo where it is, and would take
# "&i" in its name for the name of the file it is at.
{ head -c 2 "$T/p.jpg"; printf x; tail -c +3 "$T/p.jpg"; } >"$H/y&iz.jpg"
err=$(cd "$H" && private_cache "$TARNVEL" -m "$H" 2>&1 >/dev/null | grep '^tarnvel: ')
check "-m refuses a name jhead would rewrite" "tarnvel: -m: jhead cannot take \"&i\" in a file name: $H/y&iz.jpg" "$err"
made=0
for n in "${names[@]}"; do [ "$(size_of "$H/.thumbnail/$n")" = 160x120 ] && made=$((made + 1)); done
check "-m: each hostile name gets its own thumbnail" "${#names[@]}" "$made"
check "-m: nothing else in the thumbnail folder" "${#names[@]}" "$(find "$H/.thumbnail" -mindepth 1 | grep -c '^/')"
check "-m: no name ran a command" "" "$(find "$T" -name 'pwned*')"
for n in "${names[@]}"; do rm "$H/$n"; done
private_cache "$TARNVEL" -m "$H" >/dev/null 2>&1
check "-m removes the thumbnails of hostile names and nothing else" "./.thumbnail ./y&iz.jpg " "$(listing "$H")"

mkdir -p "$T/rel/-photos"
cp "$T/p.jpg" "$T/rel/-photos/p.jpg"
(cd "$T/rel" && private_cache "$TARNVEL" -m -photos >/dev/null 2>&1)
check "-m on a relative folder starting with a dash" "160x120" "$(size_of "$T/rel/-photos/.thumbnail/p.jpg")"

# --- links ---------------------------------------------------------------------------------
L=$T/loop
mkdir -p "$L/a" "$T/other"
cp "$T/p.jpg" "$L/a/p.jpg"
cp "$T/p.jpg" "$T/other/q.jpg"
ln -s .. "$L/a/up"
ln -s "$L" "$L/a/top"
ln -s . "$L/a/self"
ln -s "$T/other" "$L/a/other"
private_cache timeout 120 "$TARNVEL" -m "$L" >/dev/null 2>&1
check "-m over a tree with a link loop ends" 0 "$?"
check "-m: no link is walked, wherever it points" \
    "$L/a/.thumbnail/p.jpg " \
    "$(find "$L" "$T/other" -path '*/.thumbnail/*' | LC_ALL=C sort | tr '\n' ' ')"

# --- a disk prepared by a stranger: nothing outside it is written, removed or walked ------
# snapshot DIR: names, types, sizes and contents of everything under DIR.
snapshot() { (cd "$1" && find . -printf '%p %y %s %l\n' | LC_ALL=C sort && find . -type f -exec md5sum {} + | LC_ALL=C sort); }
# hostile CASE SETUP EXPECTED-STDERR: builds $X/disk with SETUP (run in $X, beside the canary
# folder outside/), runs -m on the disk, and checks that outside/ came out untouched.
hostile() {
    X=$T/hostile-$1
    mkdir -p "$X/disk" "$X/outside"
    printf 'victim' >"$X/outside/victim.jpg"
    cp "$T/p.jpg" "$X/outside/q.jpg"
    (cd "$X" && eval "$2")
    local before err
    before=$(snapshot "$X/outside")
    err=$(private_cache timeout 60 "$TARNVEL" -m "$X/disk" 2>&1 >/dev/null; echo "exit $?")
    check "hostile disk, $1: -m ends, says" "$3${3:+$'\n'}exit 0" "$err"
    check "hostile disk, $1: outside untouched" "$before" "$(snapshot "$X/outside")"
}
hostile "dangling thumbnail link" 'cp ../p.jpg disk/a.jpg; mkdir disk/.thumbnail; ln -s "$PWD/outside/planted.sh" disk/.thumbnail/a.jpg' ""
hostile "thumbnail links to an outside file" \
    'cp ../p.jpg disk/a.jpg; mkdir disk/.thumbnail; ln -s "$PWD/outside/victim.jpg" disk/.thumbnail/a.jpg; ln -s "$PWD/outside/q.jpg" disk/.thumbnail/gone.jpg' ""
hostile "thumbnail folder is a link" 'cp ../p.jpg disk/q.jpg; ln -s "$PWD/outside" disk/.thumbnail' \
    "tarnvel: -m: $T/hostile-thumbnail folder is a link/disk/.thumbnail is not a folder, left alone"
hostile "link to an outside folder" 'ln -s "$PWD/outside" disk/out' ""
hostile "links fanning out" 'for i in $(seq 0 24); do mkdir -p disk/d$i; ln -s ../d$((i + 1)) disk/d$i/l1; ln -s ../d$((i + 1)) disk/d$i/l2; done' ""
hostile "control bytes in a folder name" \
    'd=$(printf "disk/x\ntarnvel: forged\033[1m"); mkdir -p "$d"; cp ../p.jpg "$d/"; touch "$d/.thumbnail"' \
    "tarnvel: -m: $T/hostile-control bytes in a folder name/disk/x\\ntarnvel: forged\\x1b[1m/.thumbnail is not a folder, left alone"
check "-m: a dangling thumbnail link stays as it was" "$T/hostile-dangling thumbnail link/outside/planted.sh" \
    "$(readlink "$T/hostile-dangling thumbnail link/disk/.thumbnail/a.jpg")"

# --- "-e": 72 by 72 samples, through /var/tmp/tmp.jpg of the simulated device -------------
if [ "$(id -u)" -eq 0 ] && unshare --mount --net true 2>/dev/null; then
    device_init
    # Started with SIGALRM blocked, -m still ends a jhead that hangs at its bound (60 s). It runs
    # meanwhile in a device of its own (thumbnail runs take turns), its jhead hangs for 200 s.
    S=$T/stuck
    mkdir -p "$S/disk" && T=$S device_init && cp "$T/p.jpg" "$S/disk/p.jpg"
    printf '#!/bin/sh\nexec sleep 200\n' >"$S/bin/jhead" && chmod +x "$S/bin/jhead"
    T=$S in_device 'in_state noalrm "$TARNVEL" -m "$T/disk" 2>"$T/err"' &
    stuck=$!

    E=$T/e
    mkdir -p "$E/sub"
    cp "$T/p.jpg" "$E/IMG.JPG"
    cp "$T/p.jpg" "$E/sub/50%done %d.jpg"
    cp "$T/p.jpg" "$E/sub/\$(touch pwned3).jpg"
    cp "$T/plain.jpg" "$E/plain.jpg"
    printf '%%PDF-1.4\n' >"$E/Report.pdf"
    out=$(in_device "cd '$E' && \"\$TARNVEL\" -e '$E' 2>/dev/null")
    check "-e prints nothing" "" "$out"
    check "-e: 72 by 72 thumbnails" "72x72 72x72 72x72" \
        "$(for f in "$E/.thumbnail/IMG.JPG" "$E/sub/.thumbnail/50%done %d.jpg" "$E/sub/.thumbnail/\$(touch pwned3).jpg"; do size_of "$f"; done | tr '\n' ' ' | sed 's/ $//')"
    check "-e: none for a photo without one or a document" "./.thumbnail/IMG.JPG" "$(cd "$E" && find ./.thumbnail -type f)"
    check "-e: the sub-folder holds just its two" 2 "$(find "$E/sub/.thumbnail" -type f | grep -c '^/')"
    check "-e: no name ran a command" "" "$(find "$T" -name 'pwned*')"
    check "-e: the temporary file is the device's" yes "$([ -e "$T/var/tmp/tmp.jpg" ] && echo yes || echo no)"
    printf 'kept' >"$E/.thumbnail/IMG.JPG"
    in_device "\"\$TARNVEL\" -e '$E' >/dev/null 2>&1"
    check "-e leaves an existing thumbnail alone" kept "$(cat "$E/.thumbnail/IMG.JPG")"

    # An embedded "thumbnail" that is no JPEG (here a PPM image) is not decoded as what it is.
    P=$T/ppm
    mkdir -p "$P"
    cp "$T/p.jpg" "$P/x.jpg"
    printf 'P3\n1 1\n255\n255 0 0\n' >"$T/red.ppm"
    jhead -rt "$T/red.ppm" "$P/x.jpg" >/dev/null
    in_device "\"\$TARNVEL\" -e '$P' >/dev/null 2>&1"
    check "-e: a thumbnail that is no JPEG gives no sample, not even an empty file" "./.thumbnail" "$(cd "$P" && find . -path './.thumbnail*')"

    # A full /var/tmp (the device's memory): jhead exits 0 with its output cut short. Whatever
    # the room (from too little for a thumbnail to about enough), no cut thumbnail is placed;
    # once there is room, all are whole.
    F=$T/fulltmp
    mkdir -p "$F"
    convert -seed 7 -size 320x240 xc: +noise Random "$F/n1.jpg" && jhead -mkexif "$F/n1.jpg" >/dev/null && jhead -rgt "$F/n1.jpg" >/dev/null
    (cd "$T" && cp "$F/n1.jpg" nref.src && jhead -st nref.jpg nref.src && jhead -te nref.src nref.jpg && jhead -dt nref.jpg) >/dev/null
    cp "$F/n1.jpg" "$F/n2.jpg" && cp "$F/n1.jpg" "$F/n3.jpg"
    cut=0
    for size in $(seq 20 4 100); do
        in_device "mount -t tmpfs -o size=${size}k tmpfs /var/tmp && \"\$TARNVEL\" -m '$F' 2>>'$T/fulltmp.err'"
        for f in "$F"/.thumbnail/*; do [ -e "$f" ] && ! cmp -s "$f" "$T/nref.jpg" && cut=$((cut + 1)); done
        rm -rf "$F/.thumbnail"
    done
    in_device "\"\$TARNVEL\" -m '$F' 2>/dev/null"
    check "full /var/tmp: what jhead cut is refused, never placed; with room all are whole" "yes 0 3" \
        "$(grep -q 'not a whole JPEG$' "$T/fulltmp.err" && echo yes) $cut $(for f in "$F"/.thumbnail/*; do cmp -s "$f" "$T/nref.jpg" && echo; done | wc -l)"

    # The programs are the device's own: with PATH unset, with an empty entry or with ".",
    # executables named jhead and convert beside the photo and in the working folder never run.
    X=$T/planted
    mkdir -p "$X/photos" "$X/cwd"
    cp "$T/p.jpg" "$X/photos/a.jpg"
    for f in {photos,cwd}/{jhead,convert}; do printf '#!/bin/sh\ntouch "%s/ran"\n' "$X" >"$X/$f" && chmod +x "$X/$f"; done
    for path in unset ":/usr/bin:/bin" ".:/usr/bin:/bin"; do
        rm -rf "$X/photos/.thumbnail"
        in_device "cd '$X/cwd' && $([ "$path" = unset ] && echo "unset PATH;" || echo "PATH='$path'") \"\$TARNVEL\" -e '$X/photos' 2>/dev/null"
        check "-e with PATH $path: the device's programs ran, no planted one" "72x72 no" \
            "$(size_of "$X/photos/.thumbnail/a.jpg") $([ -e "$X/ran" ] && echo yes || echo no)"
    done

    # Renames racing both walks: the photo folder and its thumbnail folder swapped, as fast as
    # the kernel lets a stranger, with links to a folder off the disk (which holds a photo).
    R=$T/race
    mkdir -p "$R/disk/photos" "$R/outside"
    for i in $(seq 200); do cp "$T/p.jpg" "$R/disk/photos/p$i.jpg"; done
    cp "$T/p.jpg" "$R/outside/q.jpg"
    before=$(snapshot "$R/outside")
    python3 - "$R/disk" <<'SWAPPER' &
import os, sys
os.chdir(sys.argv[1])
os.symlink("../outside", "lp")
os.symlink("../../outside", "photos/lt")
while True:
    for real, link, held in (("photos/.thumbnail", "photos/lt", "photos/.held"), ("photos", "lp", ".held")):
        for a, b in ((real, held), (link, real), (real, link), (held, real)):
            try:
                os.rename(a, b)
            except OSError:
                pass
SWAPPER
    swapper=$!
    for option in -m -e -m -e; do
        in_device "find '$R/disk' -path '*/.thumbnail/*' -delete 2>/dev/null; \"\$TARNVEL\" $option '$R/disk' >/dev/null 2>&1"
    done
    kill "$swapper"
    wait "$swapper" 2>/dev/null
    check "renames racing -m and -e: nothing off the disk is touched" "$before" "$(snapshot "$R/outside")"

    # Cards that fill up or fail while -m writes: a thumbnail on the card is whole (byte for
    # byte what jhead makes of the photo by hand) or absent, and the next run makes the rest.
    # card NAME IMAGE [SIZE INODES]: an ext2 card (no entry types in its folders: ext2 without the filetype
    # feature) in IMAGE on a loop device, mounted on $T/NAME. Its blocks are the size of a page:
    # the loop device takes a write to its file that is cut short for done, and a block that
    # fills a page of its own is written whole or not at all.
    card() {
        truncate -s "${3:-8M}" "$2" && mkfs.ext2 -q -F -b 4096 -N "${4:-128}" -m 0 -O ^filetype "$2" || return 1
        local dev
        dev=$(losetup -f --show "$2") || return 1
        cleanups+=("losetup -d $dev")
        mkdir -p "$T/$1" && mount "$dev" "$T/$1" && cleanups+=("umount -l '$T/$1'")
    }
    # whole CARD: "MADE ALL-WHOLE LEFTOVERS" for the thumbnails of CARD/photos.
    whole() {
        local n=0 bad=0 f
        for f in "$1"/photos/.thumbnail/*; do
            [ -e "$f" ] || continue
            n=$((n + 1))
            cmp -s "$f" "$T/ref.jpg" || bad=$((bad + 1))
        done
        echo "$n $([ "$bad" -eq 0 ] && echo whole || echo "$bad broken") $(find "$1" -name '.tarnvel.part' | wc -l)"
    }
    # fill FILE ROOM: FILE takes every free block of its file system but ROOM.
    fill() {
        dd if=/dev/zero of="$1" bs=1k 2>/dev/null
        truncate -s "-$2" "$1"
    }
    (cd "$T" && cp p.jpg ref-src.jpg && jhead -st ref.jpg ref-src.jpg && jhead -te ref-src.jpg ref.jpg && jhead -dt ref.jpg) >/dev/null
    if [ -e /dev/loop-control ] && card full "$T/full.img"; then
        mkdir -p "$T/full/a/b" "$T/full/photos"
        cp "$T/p.jpg" "$T/full/a/b/p.jpg"
        private_cache "$TARNVEL" -m "$T/full/a" 2>/dev/null
        check "-m on a file system that reports no entry types" whole "$(cmp -s "$T/ref.jpg" "$T/full/a/b/.thumbnail/p.jpg" && echo whole)"
        for i in $(seq 40); do cp "$T/p.jpg" "$T/full/photos/p$i.jpg"; done
        # Filled to its last blocks, then room made for the thumbnail folder and a few thumbnails.
        fill "$T/full/filler" 20K
        sync
        err=$(private_cache "$TARNVEL" -m "$T/full" 2>&1 >/dev/null | sed 's/.*: //' | sort -u)
        made=$(whole "$T/full")
        check "full card: -m says why" "ENOSPC" "$err"
        check "full card: some thumbnails whole, none broken, no temporary file" "whole 0" "${made#* }"
        rm "$T/full/filler"
        private_cache "$TARNVEL" -m "$T/full" 2>/dev/null
        check "full card, room made: the next -m makes the rest" "40 whole 0" "$(whole "$T/full")"

        # A card whose device fails mid-run: its image lies on a small file system that fills up
        # as the card's writes reach it.
        mkdir -p "$T/small"
        mount -t tmpfs -o size=1M tmpfs "$T/small" && cleanups+=("umount -l '$T/small'")
        card failing "$T/small/card.img"
        mkdir -p "$T/failing/photos"
        for i in $(seq 40); do cp "$T/p.jpg" "$T/failing/photos/p$i.jpg"; done
        sync
        fill "$T/small/filler" 12K
        err=$(private_cache "$TARNVEL" -m "$T/failing" 2>&1 >/dev/null | grep -c 'cannot write')
        check "failing card: -m says so" yes "$([ "$err" -gt 0 ] && echo yes)"
        # What the card really holds: the file system checked and mounted afresh.
        rm "$T/small/filler"
        dev=$(losetup -j "$T/small/card.img" | cut -d: -f1)
        umount "$T/failing" && e2fsck -fy "$dev" >/dev/null 2>&1
        mount "$dev" "$T/failing"
        made=$(whole "$T/failing")
        check "failing card: what it kept is whole" "whole" "$(echo "$made" | cut -d' ' -f2)"
        private_cache "$TARNVEL" -m "$T/failing" 2>/dev/null
        check "failing card, back: the next -m makes the rest, no temporary file stays" "40 whole 0" "$(whole "$T/failing")"

        # Thumbnail runs side by side (a script and a person at once): 200 photos in four
        # folders, each with one of ten embedded thumbnails and an Exif time of its own. Every
        # thumbnail is its own photo's (what jhead or convert makes of it by hand), and nothing
        # temporary stays on the card or in /var/tmp.
        card together "$T/together.img" 24M 1024
        python3 - "$T/thumbs" <<'PPM'
import os, sys
os.makedirs(sys.argv[1])
for k in range(10):
    with open(os.path.join(sys.argv[1], 't%d.ppm' % k), 'wb') as f:
        f.write(b'P6 16 12 255\n' + bytes([k * 25, 255 - k * 25, k * 7]) * 192)
PPM
        mogrify -format jpg "$T/thumbs"/*.ppm
        for k in $(seq 0 9); do convert "jpeg:$T/thumbs/t$k.jpg" -sample '72x72!' "$T/thumbs/e$k.jpg"; done
        mkdir -p "$T"/together/d{0..3} "$T/thumbs/src" "$T/thumbs/m"
        for i in $(seq 0 199); do
            cp "$T/p.jpg" "$T/thumbs/src/p$i.jpg"
            jhead -q "$(printf -- '-ts2020:01:01-00:%02d:%02d' $((i / 60)) $((i % 60)))" "$T/thumbs/src/p$i.jpg"
        done
        # The photos whose number ends in K get thumbnail K; the reference thumbnails m/pI.jpg
        # are what jhead makes of each by hand ("&i" stands for the file jhead is at).
        for k in $(seq 0 9); do jhead -q -rt "$T/thumbs/t$k.jpg" "$T/thumbs/src"/p*"$k".jpg; done
        (cd "$T/thumbs/src" && jhead -st '../m/&i' ./*.jpg && cd ../m && jhead -te '../src/&i' ./*.jpg && jhead -dt ./*.jpg) >/dev/null
        for i in $(seq 0 199); do cp "$T/thumbs/src/p$i.jpg" "$T/together/d$((i % 4))/"; done
        # wrong: "WRONG PARTS WORK" for the card: photos without their own thumbnail, temporary
        # files on the card, and work files in /var/tmp.
        wrong() {
            local n=0 i f
            for i in $(seq 0 199); do
                f=$T/together/d$((i % 4))/.thumbnail/p$i.jpg
                cmp -s "$f" "$T/thumbs/m/p$i.jpg" || cmp -s "$f" "$T/thumbs/e$((i % 10)).jpg" || n=$((n + 1))
            done
            echo "$n $(find "$T/together" -name .tarnvel.part | wc -l) $(find "$T/var/tmp" -maxdepth 1 -name 'tarnvel.*' | wc -l)"
        }
        for round in "-m -m" "-m -m -m" "-m -m -m -m" "-m -e" "-e -e"; do
            find "$T/together" -path '*/.thumbnail/*' -delete
            in_device "for o in $round; do \"\$TARNVEL\" \$o '$T/together' 2>/dev/null & done; wait"
            check "$round at once: every thumbnail its own photo's, nothing temporary left" "0 0 0" "$(wrong)"
        done

        # Runs ended at random moments by SIGTERM, SIGINT, SIGHUP, or SIGKILL (with their
        # programs; nothing can tidy after it but the next run), then one run to its end.
        find "$T/together" -path '*/.thumbnail/*' -delete
        in_device "
            signals=(TERM INT HUP KILL)
            for i in \$(seq 30); do
                setsid \"\$TARNVEL\" \$([ \$((i % 3)) -eq 0 ] && echo -e || echo -m) '$T/together' 2>/dev/null &
                sleep 0.\$((RANDOM % 10))
                if [ \$((i % 4)) -eq 3 ]; then kill -KILL -- -\$!; else kill -\${signals[i % 4]} \$!; fi
                wait \$!
            done
            \"\$TARNVEL\" -m '$T/together' 2>/dev/null"
        check "30 runs killed, then one to its end: every thumbnail its own photo's, nothing temporary left" "0 0 0" "$(wrong)"
    else
        echo "# cards skipped: no loop devices"
    fi
    wait "$stuck"
    check "-m started with SIGALRM blocked ends a hung jhead at its bound" "tarnvel: -m: jhead ended after 60 s on $S/disk/p.jpg" "$(cat "$S/err")"
else
    echo "# -e skipped: needs root and mount namespaces for /var/tmp/tmp.jpg"
fi
finish
