# The wireless settings as the device's scripts use them: the link gate on this machine's
# interfaces (none of which reports a wireless link), the default credentials appended to
# /var/mibSetting and the automatic channel list handed to a stand-in driver file.
. "$(dirname "$0")/lib.sh"

# --- the link gate: no wireless link here, so the words run as one shell command line --------
"$TARNVEL" -1 nosuchwlan0_lo 0 echo 'a   b' '>' "$T/gate"
check "-1 runs the words unquoted through the shell" "a b" "$(cat "$T/gate" 2>&1)"

rm -f "$T/gate"
start=$(date +%s%N)
"$TARNVEL" -1 nosuchwlan0 1 touch "$T/gate"
took=$((($(date +%s%N) - start) / 1000000))
check "-1 with a delay of 1 waits a second, then runs" "waited ran" \
    "$([ "$took" -ge 1000 ] && echo waited || echo "only ${took}ms") $([ -e "$T/gate" ] && echo ran)"

err=$("$TARNVEL" -1 nosuchwlan0 0 touch "$T/long" "$(printf '%0500d' 0)" 2>&1 >/dev/null)
check "-1 refuses a command longer than 500 bytes" "1 tarnvel:  no" \
    "$(printf '%s\n' "$err" | wc -l) ${err:0:9} $([ -e "$T/long" ] && echo yes || echo no)"

if command -v strace >/dev/null; then
    out=$(strace -qq -e trace=socket,ioctl "$TARNVEL" -1 wlan0_wlan1 0 true 2>&1 >/dev/null |
        sed -n 's/^\(socket([^)]*)\).*/\1/p; s/^ioctl([0-9]*, \(SIOCGIWNAME\|0x8b01\),.*/\1/p' | tr '\n' ' ')
    check "-1 asks each of two names over one datagram socket" \
        "socket(AF_INET, SOCK_DGRAM, IPPROTO_IP) SIOCGIWNAME SIOCGIWNAME " "$out"
    # TCGETS: the device's C library looking at its standard streams when it starts.
    strace -qq -f -o "$T/trace" -e trace=socket,ioctl,execve "$TARNVEL" -1 wlan0 >/dev/null 2>&1
    check "-1 without a delay opens, asks and runs nothing" "" \
        "$(started "$T/trace"; grep -E '^[0-9]+ +(socket|ioctl)\(' "$T/trace" | grep -v TCGETS)"
fi

# --- the default credentials and the channel list, inside the simulated device ---------------
need_root
device_init

# -g and -h: the lines go in literally; nothing a value holds runs.
hostile='a"b $(touch /var/pwned) `touch /var/pwned2` back\slash \n \c end'"'"
printf '%s' "$hostile" >"$T/hostile"
in_device '
umask 022
"$TARNVEL" -g KEY=xABCDEFGHIJy Net_
"$TARNVEL" -g KEY=xABCDEFGHIJy ""
"$TARNVEL" -h "$(cat "$T/hostile")"
"$TARNVEL" -h "$(printf "first\nDEF_WLAN0_WPA_PSK=forged")" 2>/dev/null
"$TARNVEL" -g KEYxABCDEFGHIJy Net_
"$TARNVEL" -h
'
check "-g and -h append their lines literally" "DEF_WLAN0_SSID=Net_BCDEFGHIJ
DEF_WLAN0_WSC_SSID=Net_BCDEFGHIJ
DEF_WLAN0_SSID=BCDEFGHIJ
DEF_WLAN0_WSC_SSID=BCDEFGHIJ
DEF_WLAN0_WPA_PSK=$hostile
DEF_WLAN0_WSC_PSK=$hostile" "$(cat "$T/var/mibSetting")"
check "no value ran as a command" "" "$(ls "$T/var" | grep pwned)"
check "/var/mibSetting is made as the shell's >> makes it" "644" "$(stat -c %a "$T/var/mibSetting")"

# -k: the driver's file is a stand-in in a folder bound over /proc; init.sh and reboot only
# record what they were run with and what the driver holds by then.
stand_in init.sh <<'EOF'
echo "init.sh $* driver=$(cat /proc/auto_channel_switch)" >>"$T/calls"
EOF
stand_in reboot <<'EOF'
echo "reboot $*" >>"$T/calls"
EOF
mkdir -p "$T/kproc"
# channel FIELD [STATE]: one "-k" run with FIELD in the driver's file (started in_state STATE);
# prints the tool's stdout.
channel() {
    printf '%s' "$1" >"$T/kproc/auto_channel_switch"
    in_device '
        mount --bind "$T/kproc" /proc || exit 1
        [ "$(command -v reboot)" = "$T/bin/reboot" ] || { echo "reboot is not the stand-in" >&2; exit 1; }
        umask 022
        '"${2:+in_state $2}"' "$TARNVEL" -k'
}
check "-k with channel 6: nothing said" "" "$(channel '  6
')"
check "-k with channel 6 appends 006 and hands the list back" "006 006" \
    "$(cat "$T/var/wifi_channel_list") $(cat "$T/kproc/auto_channel_switch")"
check "the scratch copy holds the driver's field" "  6" "$(cat "$T/var/wifi_channel")"
channel '  6' >/dev/null
channel '149' >/dev/null
check "-k twice with 6, then 149" "006006149" "$(cat "$T/var/wifi_channel_list")"
check "-k with 000 says so, without a line end" "$(printf '\n Invaid channel')|" "$(channel '000
')|"
channel '999' >/dev/null
check "the list is unchanged by 000 and 999" "006006149" "$(cat "$T/var/wifi_channel_list")"
check "init.sh runs after every hand-back, reboot once, before it" "init.sh gw all driver=006
init.sh gw all driver=006006
init.sh gw all driver=006006149
init.sh gw all driver=006006149
reboot 
init.sh gw all driver=006006149" "$(cat "$T/calls")"
: >"$T/calls"
channel '000' deadout
check "-k with 000 and a stdout nobody reads: still hands the list back" "init.sh gw all driver=006006149" "$(cat "$T/calls")"
check "/var/wifi_channel_list is made as the shell's >> makes it" "644" "$(stat -c %a "$T/var/wifi_channel_list")"
finish
