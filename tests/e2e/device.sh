# Device control as the device's scripts use it: /proc/OTP command records, the reboot and the
# one-time start of the daemons.
. "$(dirname "$0")/lib.sh"

need_root
device_init

# in_proc SCRIPT: runs SCRIPT in the simulated device with a /proc of its own holding only an
# OTP driver file and an uptime line; the record written is left in $T/otp.
in_proc() {
    in_device 'mount -t tmpfs tarnvel-proc /proc
               printf "12345.67 54321.98\n" >/proc/uptime
               head -c 60 /dev/zero | tr "\0" "#" >/proc/OTP
               '"$1"'
               cp /proc/OTP "$T/otp"'
}
# record WORD TEXT: the 60-byte record, both texts zero-filled to their fields.
record() {
    printf '%s' "$1"; head -c $((10 - ${#1})) /dev/zero
    printf '%s' "$2"; head -c $((50 - ${#2})) /dev/zero
}
untouched() { head -c 60 /dev/zero | tr '\0' '#'; }
written() { od -An -c "$T/otp"; }

check "-9 set: the record" "$(record set 'abc 42' | od -An -c)" "$(in_proc '"$TARNVEL" -9 set KEY=abc 42'; written)"
check "-9 set with an empty value" "$(record set ' 42' | od -An -c)" "$(in_proc '"$TARNVEL" -9 set KEY= 42'; written)"
check "-9 chk without =" "$(record chk None | od -An -c)" "$(in_proc '"$TARNVEL" -9 chk abc'; written)"
check "-9 time: the uptime line" "$(record time "$(printf '12345.67 54321.98\n')
" | od -An -c)" "$(in_proc '"$TARNVEL" -9 time'; written)"
check "-9 other: the word alone" "$(record reset '' | od -An -c)" "$(in_proc '"$TARNVEL" -9 reset'; written)"
check "-9 set without its text writes nothing" "$(untouched | od -An -c)" "$(in_proc '"$TARNVEL" -9 set KEY=abc'; written)"
err=$(in_proc '"$TARNVEL" -9 set KEY='"$(head -c 60 /dev/zero | tr '\0' v)"' 42 2>&1 >/dev/null')
check "-9 set with a text too long: one stderr line" "1 tarnvel: " "$(printf '%s\n' "$err" | wc -l) ${err:0:9}"
check "-9 set with a text too long writes nothing" "$(untouched | od -An -c)" "$(written)"
in_proc '"$TARNVEL" -9 set KEY='"$(head -c 60 /dev/zero | tr '\0' v)"' 42 2>&-'
check "-9 set with a text too long and stderr closed writes nothing" "$(untouched | od -An -c)" "$(written)"
if command -v strace >/dev/null; then
    out=$(in_proc 'strace -qq -e trace=openat,write "$TARNVEL" -9 chk K=v 2>&1 >/dev/null' | grep -Eo '"/proc/OTP", O_[A-Z_|]*|"chk.*, 60\) = 60$')
    check "-9 opens /proc/OTP read-write, non-blocking, and writes the 60 bytes at once" \
        "$(printf '%s\n' '"/proc/OTP", O_RDWR|O_NONBLOCK' '"chk\0\0\0\0\0\0\0v\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0"..., 60) = 60')" "$out"
fi
if [ ! -e /proc/OTP ]; then
    check "-9 without the driver, even for a set lacking its text" "/proc open error" "$(in_device '"$TARNVEL" -9 set KEY=abc')"
    check "-9 without a word does nothing" "" "$(in_device '"$TARNVEL" -9')"
fi

stand_in reboot <<EOF2
date +%s >"$T/rebooted"
EOF2
start=$(date +%s)
out=$(in_device '"$TARNVEL" -rb')
check "-rb prints nothing" "" "$out"
check "-rb reboots after 3 s" yes "$([ -e "$T/rebooted" ] && [ $(($(cat "$T/rebooted") - start)) -ge 3 ] && echo yes)"

stand_in tarnvel <<EOF2
echo "\$*" >>"$T/started"
EOF2
out=$(in_device '"$TARNVEL" -onetime_init')
check "-onetime_init announces itself" "===onetime_init===" "$out"
# The two starts run in the background: waited for, at most a minute.
for _ in $(seq 600); do [ "$(wc -l <"$T/started" 2>/dev/null)" = 2 ] && break; sleep 0.1; done
check "-onetime_init starts the storage daemon and the web watchdog" "$(printf -- '-3\n-c')" "$(sort "$T/started")"
# With a stdout nobody reads (a handler that timed out), the daemons are started all the same.
: >"$T/started"
in_device 'in_state deadout "$TARNVEL" -onetime_init'
for _ in $(seq 600); do [ "$(wc -l <"$T/started" 2>/dev/null)" = 2 ] && break; sleep 0.1; done
check "-onetime_init with a stdout nobody reads still starts both" "$(printf -- '-3\n-c')" "$(sort "$T/started")"
finish
