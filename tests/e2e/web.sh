# Web-server supervision with the real binary: each case is a simulated device of its own
# (private mount, network and pid namespaces) where the stand-in webs is a small server on
# 127.0.0.1:80 and the real ps and /proc show only the case's processes. The slow cases run
# side by side.
. "$(dirname "$0")/lib.sh"

# Without a parameter, -d and -i do nothing on stdout; -i says why on stderr.
check "-d without a name prints nothing" "" "$("$TARNVEL" -d 2>&1)"
err=$("$TARNVEL" -i 2>&1 >/dev/null)
check "-i without a name: one stderr line" "1 tarnvel: -i: " "$(printf '%s\n' "$err" | wc -l) ${err:0:13}"

need_root
[ -x /usr/bin/python3 ] || skip "needs /usr/bin/python3 for the stand-in web server"
unshare --pid --fork --mount-proc true 2>/dev/null || skip "needs pid namespaces"

# The stand-in webs. Its mode (file ../mode) says what it does: none (exits at once), stay
# (runs without listening), answer, silent (reads, never answers), close (closes at once),
# third (answers every third request), hung (accepts nothing, its listen queue full). It logs
# each start in ../starts as "TIME PID" and in ../calls, each connection in ../requests as
# "TIME HEX PID" ("-" when it read nothing), and a SIGTERM in ../killed as "TIME PID". It
# writes a line to ../ready once it listens.
cat >"$T/webs.py" <<'EOF'
#!/usr/bin/python3
import os, signal, socket, sys, time
home = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
def log(name, text):
    with open(os.path.join(home, name), 'a') as f:
        f.write(text + '\n')
mode = open(os.path.join(home, 'mode')).read().strip()
log('starts', '%.3f %d' % (time.time(), os.getpid()))
log('calls', 'webs')
if mode == 'none':
    sys.exit(0)
if mode == 'stay':
    time.sleep(3600)
s = socket.socket()
s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
s.bind(('127.0.0.1', 80))
s.listen(0 if mode == 'hung' else 8)
if mode == 'hung':
    # One browser waits in the queue of a webs that no longer accepts: the queue is full.
    waiting = socket.create_connection(('127.0.0.1', 80))
    signal.signal(signal.SIGTERM, lambda *_: (log('killed', '%.3f %d' % (time.time(), os.getpid())), os._exit(0)))
log('ready', 'listens')
if mode == 'hung':
    while True:
        signal.pause()
n = 0
while True:
    c, _ = s.accept()
    n += 1
    if mode == 'close':
        log('requests', '%.3f - %d' % (time.time(), os.getpid()))
        c.close()
        continue
    data = b''
    try:
        c.settimeout(5)
        while b'\r\n\r\n' not in data:
            chunk = c.recv(512)
            if not chunk:
                break
            data += chunk
        c.settimeout(0.2)
        data += c.recv(512)  # whatever came with the request
    except OSError:
        pass
    log('requests', '%.3f %s %d' % (time.time(), data.hex() or '-', os.getpid()))
    try:
        if mode == 'answer' or (mode == 'third' and n % 3 == 0):
            c.sendall(b'HTTP/1.1 200 OK\r\n\r\n')
        c.settimeout(10)
        while c.recv(512):
            pass
    except OSError:
        pass
    c.close()
EOF

# device NAME MODE: a simulated device for one case in $T/c/NAME, with the stand-in webs.
device() {
    local d="$T/c/$1"
    mkdir -p "$d"
    T="$d" device_init
    cp "$T/webs.py" "$d/bin/webs"
    chmod +x "$d/bin/webs"
    echo "$2" >"$d/mode"
    touch "$d/starts" "$d/requests" "$d/calls" "$d/killed" "$d/ready" "$d/looks"
}

# in_case NAME SCRIPT: runs SCRIPT in NAME's device, as the first process of a pid namespace;
# every process of the case ends with it.
in_case() {
    local d="$T/c/$1"
    printf '%s\n' "$2" >"$d/case.sh"
    T="$d" in_device 'exec unshare --pid --fork --mount-proc bash "$T/case.sh"'
}

# Case scripts: settle FILE LINES waits until FILE holds LINES lines, at most 5 minutes;
# start_server starts webs and waits until it listens.
case_lib='
settle() {
    for ((i = 0; i < 3000; i++)); do [ "$(wc -l <"$1")" -ge "$2" ] && break; sleep 0.1; done
}
start_server() {
    webs &
    settle "$T/ready" 1
}'

# run_until NAME FILE LINES OPTION [PREFIX [BEFORE]]: runs BEFORE, starts webs unless the mode
# is none or stay, then runs tarnvel OPTION (under PREFIX) until the case's FILE holds LINES
# lines (at most 5 minutes); the start time goes to the case's "began".
run_until() {
    in_case "$1" "$case_lib${6:+
        $6}"'
        case $(cat "$T/mode") in none|stay) ;; *) start_server ;; esac
        date +%s.%N >"$T/began"
        '"${5:-}"' "$TARNVEL" '"$4"' &
        settle "$T/'"$2"'" '"$3"'
        kill $!'
}

line_count() { wc -l <"$1" | tr -d ' '; }

probe_hex=$(printf 'GET /TEST.tarnvelcmd HTTP/1.1\r\n\r\n\0' | od -An -tx1 -v | tr -d ' \n')
strace_prefix=""
presence=(starts 1 -j)
if command -v strace >/dev/null; then
    strace_prefix='strace -o "$T/trace" -e trace=socket,setsockopt,connect,fcntl,sendto,read'
    # Each look of -j ends closing /proc: three looks, the one that starts webs and two that
    # find it.
    presence=(looks 3 -j 'strace -qq -e signal=none -e trace=close -P /proc -o "$T/looks"')
fi

# The slow cases, side by side, each until what its checks look at has happened.
device answer answer
device silent silent
device close close
device third third
device refused none
device hung hung
device presence stay
# The device's ps lists each process with its arguments.
T="$T/c/silent" stand_in ps <<'EOF'
exec /bin/ps -eo pid,user,vsz,stat,args
EOF
run_until answer requests 3 -c "$strace_prefix" &
# Before webs, and so first in the listing: a jhead whose arguments mention webs. Only the
# process named webs may be killed.
run_until silent requests 7 -c "" '(exec -a "jhead -st /var/tmp/usb/sda1/.thumbnail/webs.jpg /var/tmp/usb/sda1/webs.jpg" sleep 3600) &' &
run_until close starts 2 -c &
run_until third requests 9 -c &
run_until refused starts 5 -c &
run_until hung starts 2 -c &
run_until presence "${presence[@]}" &
# The loopback down and without its address: every connect fails at once (ENETUNREACH), which
# says nothing of webs. -c starts webs each cycle (a new one cannot take the port and ends) and
# kills nothing, watched for 60 s of the device's own time.
device loopdown answer
in_case loopdown "$case_lib"'
    start_server
    ip addr flush dev lo && ip link set lo down
    "$TARNVEL" -c 2>/dev/null &
    sleep 60
    kill $!
    kill -0 "$(awk "NR == 1 { print \$2 }" "$T/starts")" && echo alive >"$T/first"' &

# The quick cases meanwhile.
device lookup stay
in_case lookup "$case_lib"'
    webs & w=$!
    settle "$T/starts" 1
    echo "webs PID:$w" >"$T/want"
    "$TARNVEL" -d webs >"$T/got"
    "$TARNVEL" -d nosuch >>"$T/got"'
d="$T/c/lookup"
check "-d webs: the id that ps shows for webs" "$(cat "$d/want")" "$(head -1 "$d/got")"
check "-d with a name no line holds: 0" "nosuch PID:0" "$(sed -n 2p "$d/got")"
check "-d leaves the listing in /var/ps" "PID" "$(head -1 "$d/var/ps" | awk '{print $1}')"

device close_files silent
n81=$(printf 'n%.0s' {1..81})
in_case close_files "$case_lib"'
    start_server
    "$TARNVEL" -i "my \"photos\" \$(reboot)"
    "$TARNVEL" -i '"$n81"'
    "$TARNVEL" -i '"${n81}x"' 2>"$T/err"
    "$TARNVEL" -i sda1
    settle "$T/requests" 3'
d="$T/c/close_files"
hex() { printf 'GET /WEBS_FILES_CLOSE.%s.tarnvelcmd HTTP/1.1\r\n\r\n' "$1" | od -An -tx1 -v | tr -d ' \n'; }
check "-i: the requests as webs received them, verbatim and without NUL" \
    "$(hex 'my "photos" $(reboot)') $(hex "$n81") $(hex sda1)" "$(awk '{print $2}' "$d/requests" | tr '\n' ' ' | sed 's/ $//')"
check "-i with an 81-character name sends 127 bytes" 254 "$(sed -n 2p "$d/requests" | awk '{print length($2)}')"
check "-i with an 82-character name: one stderr line" "1" "$(line_count "$d/err")"

device reinit none
stand_in_case() { T="$T/c/reinit" stand_in "$@"; }
stand_in_case killall <<'EOF'
echo "killall $*" >>"$T/calls"
EOF
stand_in_case rm <<'EOF'
echo "rm $*" >>"$T/calls"
exec /bin/rm "$@"
EOF
d="$T/c/reinit"
for content in "" "0" "1" "webs" "-5"; do
    if [ -n "$content" ]; then printf '%s\n' "$content" >"$d/var/run/webs.pid"; else : >"$d/var/run/webs.pid"; fi
    : >"$d/calls"
    out=$(in_case reinit '"$TARNVEL" -o')
    check "-o with '$content' in the pid file does nothing" "|" "$out|$(cat "$d/calls")"
done
rm -f "$d/var/run/webs.pid"
check "-o without a pid file does nothing" "" "$(in_case reinit '"$TARNVEL" -o')"
printf '  123xyz\n' >"$d/var/run/webs.pid"
: >"$d/calls"
out=$(in_case reinit "$case_lib"'
    "$TARNVEL" -o
    settle "$T/calls" 3')
check "-o with 123: says so, stops webs by name, removes the pid file, starts webs" \
    "reinit webs |killall webs,rm -rf /var/run/webs.pid,webs,gone" \
    "$out|$(paste -sd, "$d/calls"),$([ -e "$d/var/run/webs.pid" ] && echo there || echo gone)"
printf '123\n' >"$d/var/run/webs.pid"
: >"$d/calls"
in_case reinit "$case_lib"'
    in_state deadout "$TARNVEL" -o
    settle "$T/calls" 3'
check "-o with a stdout nobody reads: still restarts webs" "killall webs,rm -rf /var/run/webs.pid,webs" "$(paste -sd, "$d/calls")"

wait

# A server that answers: never restarted; the probe is 34 bytes with its NUL.
d="$T/c/answer"
check "answering webs: started once, never again" 1 "$(line_count "$d/starts")"
check "answering webs: three probes or more, each the 34-byte probe" "yes $probe_hex" \
    "$([ "$(line_count "$d/requests")" -ge 3 ] && echo yes) $(awk '{print $2}' "$d/requests" | sort -u)"
if [ -e "$d/trace" ]; then
    # The first cycle as the kernel saw it: 5 s send time-out before connecting, O_NONBLOCK as
    # the whole status, the 34-byte probe, then at most 15 bytes read (FD: the socket).
    check "-c: the system calls of one probe" 'socket(AF_INET, SOCK_STREAM|SOCK_CLOEXEC, IPPROTO_TCP)
setsockopt(FD, SOL_SOCKET, SO_SNDTIMEO_OLD, "\5\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0", 16)
connect(FD, {sa_family=AF_INET, sin_port=htons(80), sin_addr=inet_addr("127.0.0.1")}, 16)
fcntl(FD, F_SETFL, O_RDONLY|O_NONBLOCK)
sendto(FD, "GET /TEST.tarnvelcmd HTTP/1.1\r\n\r"..., 34, MSG_NOSIGNAL, NULL, 0)
read(FD, "HTTP/1.1 200 OK", 15)' "$(sed -n '/^socket(/,$p' "$d/trace" | head -6 | sed 's/ *= [^=]*$//; s/^\([a-z]*\)([0-9][0-9]*, /\1(FD, /')"
fi

# A silent server: restarted on the sixth probe, then 10 s + 1 s more before the seventh,
# which reaches the new webs (had the jhead been killed instead, the old webs would keep the
# port and answer it). The tool's pauses set the least time between probes: 3 s of reply wait
# and 1 s, and across the restart 1 s more in the restart and 10 s after it (a second of each
# is left for the stand-in's logging).
d="$T/c/silent"
mapfile -t -n 7 probes < <(awk '{print $1}' "$d/requests")
mapfile -t starts < <(awk '{print $1}' "$d/starts")
check "silent webs: restarted once, seven probes" "2 7" "${#starts[@]} ${#probes[@]}"
if [ "${#starts[@]}" -eq 2 ] && [ "${#probes[@]}" -ge 7 ]; then
    check "silent webs: the restart comes after the sixth probe, before the seventh" yes \
        "$(awk -v s="${starts[1]}" -v p6="${probes[5]}" -v p7="${probes[6]}" 'BEGIN { print (s > p6 + 3 && s < p7) ? "yes" : "no" }')"
    check "silent webs: 3 s or more between the first six probes, 14 s or more to the seventh" yes \
        "$(printf '%s\n' "${probes[@]}" | awk 'NR > 1 && $1 - last < (NR == 7 ? 14 : 3) { bad = 1 } { last = $1 } END { print bad ? "no" : "yes" }')"
    check "silent webs: the seventh probe reaches the new webs" "$(sed -n 2p "$d/starts" | awk '{print $2}')" \
        "$(sed -n 7p "$d/requests" | awk '{print $3}')"
fi

# A server that closes at once is silent too.
d="$T/c/close"
check "webs that closes at once: restarted after six connections" "2 6" \
    "$(line_count "$d/starts") $(awk -v s="$(sed -n 2p "$d/starts" | awk '{print $1}')" '$1 < s' "$d/requests" | wc -l)"

# An answer every third probe keeps the counter from running out (never set back, it would
# run out on the eighth).
d="$T/c/third"
check "webs answering every third probe: never restarted in nine probes" "1 yes" \
    "$(line_count "$d/starts") $([ "$(line_count "$d/requests")" -ge 9 ] && echo yes)"

# Nothing listening: "webs&" each cycle, with the cycle's 1 s pause between two starts.
d="$T/c/refused"
check "nothing listening: webs started again and again, the fifth start 3 s or more after the first" yes \
    "$(head -5 "$d/starts" | awk 'NR == 1 { first = $1 } NR == 5 && $1 - first >= 3 { print "yes" }')"

# A webs whose listen queue is full: each connect runs into the 5 s bound, a silent probe; the
# sixth kills it (5 s + 5 x 6 s, less a second for the stand-in's logging) and starts a new
# one, and no webs is started before.
d="$T/c/hung"
killed=$(awk '{print $1}' "$d/killed")
took=$(awk -v b="$(cat "$d/began")" -v k="$killed" 'BEGIN { if (k == "") print "never"; else printf "%.1f", k - b }')
meanwhile=$(awk -v b="$(cat "$d/began")" -v k="$killed" '$1 > b && (k == "" || $1 < k)' "$d/starts" | wc -l)
echo "# hung webs: killed after $took s of probing; webs started $meanwhile times before"
check "hung webs: killed once, 34 s or more after the first probe, nothing started before, then restarted" \
    "1 yes 0 2" "$(line_count "$d/killed") $(awk -v t="$took" 'BEGIN { print (t >= 34) ? "yes" : "no" }') $meanwhile $(line_count "$d/starts")"

d="$T/c/loopdown"
echo "# loopback down: webs started $(($(line_count "$d/starts") - 1)) times in 60 s"
check "loopback down: the serving webs is never killed, webs started again and again" "alive yes" \
    "$(cat "$d/first" 2>/dev/null) $([ "$(line_count "$d/starts")" -ge 8 ] && echo yes)"

# The presence watchdog: quiet for 60 s, then webs started once and found afterwards (where
# strace shows the looks).
d="$T/c/presence"
check "-j: one start, 60 s or more after the watchdog began" "1 yes" \
    "$(line_count "$d/starts") $(awk -v b="$(cat "$d/began")" -v s="$(awk '{print $1}' "$d/starts" | head -1)" 'BEGIN { print (s - b >= 60) ? "yes" : "no" }')"
finish
