# The device's kernel is Linux 2.6.32: the static device tool may make no system call that it
# lacks. Every `syscall` instruction in the tool's code is read with the number that the
# instruction before it loads (the way uClibc-ng's MIPS wrappers make each call); each call
# must be in the allow-list, with a kernel version no newer than the device's. A call whose
# number cannot be read that way fails the check too.
# Usage: syscalls.sh TOOL OBJDUMP UNISTD_O32_H ALLOW_LIST
set -u
tool=$1 objdump=$2 unistd=$3 allow=$4
kernel=2.6.32
status=0
fail() { echo "FAIL: $*"; status=1; }

# "NUMBER NAME" for each o32 call of the kernel headers (numbers start at __NR_Linux, 4000).
names=$(sed -n 's/^#define __NR_\([a-z0-9_]*\) *(__NR_Linux + \([0-9]*\))$/\2 \1/p' "$unistd" |
    awk '{print $1 + 4000, $2}')
[ -n "$names" ] || { echo "FAIL: no call numbers in $unistd"; exit 1; }

# The instruction before each syscall, one per line.
loads=$("$objdump" -d --no-show-raw-insn "$tool" | awk '$2 == "syscall" {print prev} {prev = $2 " " $3}' | sort -u)
[ -n "$loads" ] || fail "no syscall instruction found in $tool"
while read -r load; do
    [ -n "$load" ] || continue
    case $load in
    "li v0,"*) ;;
    *) fail "a call whose number is not loaded just before it: '$load'"; continue ;;
    esac
    number=${load#li v0,}
    name=$(awk -v n="$number" '$1 == n {print $2}' <<<"$names")
    [ -n "$name" ] || { fail "call number $number is no o32 call"; continue; }
    since=$(awk -v n="$name" '$1 == n {print $2}' "$allow")
    if [ -z "$since" ]; then
        fail "$name ($number) is not in the allow-list"
    elif [ "$(printf '%s\n' "$since" "$kernel" | sort -V | tail -1)" != "$kernel" ]; then
        fail "$name came with Linux $since, after $kernel"
    else
        echo "$name $since"
    fi
done <<<"$loads"
exit $status
