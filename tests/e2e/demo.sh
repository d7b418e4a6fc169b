# The README's first command, run twice in a row as nobody watches it: every key event of the
# story is seen, and each run leaves no mount, loop device, process or folder behind. The second
# run has files for the card, as an ordinary user where user namespaces allow it.
. "$(dirname "$0")/lib.sh"
native "the demo: it finds its daemons by their command line (tarnvel -3) and shortens their" \
    "pauses by preloading a library into them; the emulated tool runs as the emulator" || exit 77
demo=${TARNVEL_SOURCE:-$(cd "$(dirname "$0")/../.." && pwd)}/scripts/demo

# The events a person must see, in the order of the story.
events=(
    "the storage daemon and the web-server watchdog run"
    "the watchdog finds nothing on port 80 and starts webs, which serves 127.0.0.1:80"
    "the storage daemon looks for disks /dev/sda to /dev/sdf: none is there yet"
    "the watchdog probes webs and webs answers"
    "the storage daemon asks the kernel to re-read /dev/sda's partition table"
    "the storage daemon probes /dev/sda1 with a raw read straight from the card"
    "while /dev/sda1 is mounted, two passes leave /dev/sda's table alone"
    "tarnvel -b made Music, Photos, Videos and Documents"
    "each photo got its embedded thumbnail (160x120) in a .thumbnail folder beside it"
    "the recycle bin was not walked"
    "the thumbnail of the deleted photo is removed, the other one stays"
    "the storage daemon hands the stale mount to usbmount"
    "/var/tmp/usb/sda1 is no longer mounted"
    "the storage daemon sweeps the emptied folder /var/tmp/usb/sda1"
    "webs is asked to close the files it holds for sda1"
    "the watchdog kills webs"
    "it did so on the sixth silent probe in a row"
    "tarnvel -c2b copied the area to 0x6000 of the backup partition /dev/mtdblock2"
    "/dev/mtdblock0 holds the settings again, byte for byte"
)

# run NAME COMMAND...: runs the demo and checks what it told and what it left.
run() {
    local name=$1 out=$T/$1.out status=0 seen_events sim
    shift
    SECONDS=0
    "$@" </dev/null >"$out" 2>&1 || status=$?
    [ "$status" -eq 77 ] && skip "$(cat "$out")"
    check "$name: exits 0" 0 "$status"
    check "$name: every event seen" "" "$(grep "NOT SEEN" "$out")"
    seen_events=$(grep -o "seen: .*" "$out" | sed -E 's/^seen: //; s/ \([0-9.]+ s\)$//')
    local e missing=()
    for e in "${events[@]}"; do grep -qF -- "$e" <<<"$seen_events" || missing+=("$e"); done
    check "$name: the key events are told" "" "$(printf '%s\n' "${missing[@]}" | sed '/^$/d')"
    check "$name: under two minutes" 1 "$((SECONDS < 120))"
    sim=$(grep -o '/tmp/tarnvel-demo\.[A-Za-z0-9]*' "$out" | head -1)
    check "$name: names its simulation folder" 1 "$([ -n "$sim" ] && echo 1)"
    check "$name: its folder is gone" "" "$(ls -d "$sim" 2>/dev/null)"
    check "$name: no process of it is left" "" "$(pgrep -af "$sim" || true)"
    check "$name: no loop device of it is left" "" "$(losetup -a 2>/dev/null | grep -F "$sim")"
    [ "$status" -eq 0 ] || sed 's/^/#   /' "$out"
}

run first "$demo"
# nobody: the user with no rights; the second run goes that way where it may use user
# namespaces and reach the demo and the tool.
nobody=(setpriv --reuid 65534 --regid 65534 --clear-groups)
if [ "$(id -u)" -eq 0 ] &&
    "${nobody[@]}" unshare --user --map-root-user --mount --net --pid --fork true 2>/dev/null &&
    "${nobody[@]}" test -x "$demo" -a -r "${demo%/*}/demo.d/story.sh" -a -x "$TARNVEL"; then
    run "second, as nobody" "${nobody[@]}" env TARNVEL="$TARNVEL" "$demo"
else
    run "second, with files" "$demo" --files
fi
grep -q "SD card: *files" "$T/second"*.out
check "the second run's card is files" 0 "$?"
finish
