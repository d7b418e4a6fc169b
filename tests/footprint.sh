# The footprint budget of the tool: it needs no shared library but libc (no libstdc++, no
# libgcc_s: the device may have no C++ runtime), and stripped it stays within 64 KiB.
# Usage: footprint.sh TOOL STRIP READELF
set -u
tool=$1 strip=$2 readelf=$3
budget=65536
copy=$(mktemp)
trap 'rm -f "$copy"' EXIT
"$strip" -o "$copy" "$tool" || exit 1
size=$(stat -c %s "$copy")
needed=$("$readelf" -d "$copy" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | tr '\n' ' ')
echo "stripped size: $size bytes (budget $budget); needs: $needed"
status=0
for lib in $needed; do
    case $lib in
    libc.so.*) ;;
    *) echo "FAIL: needs $lib besides libc"; status=1 ;;
    esac
done
[ -n "$needed" ] || { echo "FAIL: readelf shows no libraries at all"; status=1; }
[ "$size" -le "$budget" ] || { echo "FAIL: $size bytes is over the budget of $budget"; status=1; }
exit $status
