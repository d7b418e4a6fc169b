# The footprint budget of the tool: stripped it stays within 64 KiB, and it needs nothing the
# device may lack. A build against the system's libc needs no shared library but libc (no
# libstdc++, no libgcc_s: the device may have no C++ runtime). The device build (KIND static)
# needs nothing at all: no dynamic section, no interpreter, and it is big-endian MIPS32
# release 1 code that a core of the device's age runs.
# Usage: footprint.sh TOOL STRIP READELF libc|static
set -u
tool=$1 strip=$2 readelf=$3 kind=$4
budget=65536
copy=$(mktemp)
trap 'rm -f "$copy"' EXIT
"$strip" -o "$copy" "$tool" || exit 1
size=$(stat -c %s "$copy")
status=0
fail() { echo "FAIL: $*"; status=1; }
case $kind in
libc)
    needed=$("$readelf" -d "$copy" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | tr '\n' ' ')
    echo "stripped size: $size bytes (budget $budget); needs: $needed"
    for lib in $needed; do
        case $lib in
        libc.so.*) ;;
        *) fail "needs $lib besides libc" ;;
        esac
    done
    [ -n "$needed" ] || fail "readelf shows no libraries at all"
    ;;
static)
    echo "stripped size: $size bytes (budget $budget); static"
    "$readelf" -d "$copy" | grep -q "no dynamic section" || fail "it has a dynamic section"
    "$readelf" -l "$copy" | grep -q "INTERP" && fail "it names a program interpreter"
    "$readelf" -h "$copy" | grep -q "big endian" || fail "it is not big-endian"
    isa=$("$readelf" -A "$copy" | sed -n 's/^ISA: *//p')
    [ "$isa" == "MIPS32" ] || fail "its ISA is '$isa', not MIPS32 (release 1)"
    ;;
*) fail "unknown kind $kind" ;;
esac
[ "$size" -le "$budget" ] || fail "$size bytes is over the budget of $budget"
exit $status
