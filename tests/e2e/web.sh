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
# "TIME HEX PID" ("-" when it read nothing), and a SIGTERM in ../killed as "TIME PID".
# ../ready appears once it listens.
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
open(os.path.join(home, 'ready'), 'w').close()
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
    touch "$d/starts" "$d/requests" "$d/calls" "$d/killed"
}

# in_case NAME SCRIPT: runs SCRIPT in NAME's device, as the first process of a pid namespace;
# every process of the case ends with it.
in_case() {
    local d="$T/c/$1"
    printf '%s\n' "$2" >"$d/case.sh"
    T="$d" in_device 'exec unshare --pid --fork --mount-proc bash "$T/case.sh"'
}

# Case scripts: start_server starts webs and waits until it listens; settle FILE LINES waits
# up to 3 s for FILE to hold LINES lines.
case_lib='
start_server() {
    webs &
    for ((i = 0; i < 100; i++)); do [ -e "$T/ready" ] && break; sleep 0.1; done
}
settle() {
    for ((i = 0; i < 30; i++)); do [ "$(wc -l <"$1")" -ge "$2" ] && break; sleep 0.1; done
}'

# run_for NAME SECONDS OPTION [PREFIX [BEFORE]]: runs BEFORE, starts webs unless the mode is
# none or stay, then runs tarnvel OPTION (under PREFIX) for SECONDS; the start time goes to
# the case's "began".
run_for() {
    in_case "$1" "$case_lib${5:+
        $5}"'
        case $(cat "$T/mode") in none|stay) ;; *) start_server ;; esac
        date +%s.%N >"$T/began"
        '"${4:-}"' "$TARNVEL" '"$3"' &
        sleep '"$2"'
        kill $!'
}

line_count() { wc -l <"$1" | tr -d ' '; }

probe_hex=$(printf 'GET /TEST.tarnvelcmd HTTP/1.1\r\n\r\n\0' | od -An -tx1 -v | tr -d ' \n')
strace_prefix=""
command -v strace >/dev/null && strace_prefix='strace -o "$T/trace" -e trace=socket,setsockopt,connect,fcntl,sendto,read'

# The slow cases, side by side.
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
run_for answer 9 -c "$strace_prefix" &
# Before webs, and so first in the listing: a jhead whose arguments mention webs. Only the
# process named webs may be killed.
run_for silent 38 -c "" '(exec -a "jhead -st /var/tmp/usb/sda1/.thumbnail/webs.jpg /var/tmp/usb/sda1/webs.jpg" sleep 60) &' &
run_for close 27 -c &
run_for third 30 -c &
run_for refused 5 -c &
run_for hung 45 -c &
run_for presence 66 -j &

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

wait

# A server that answers: never restarted; the probe is 34 bytes with its NUL.
d="$T/c/answer"
check "answering webs: started once, never again" 1 "$(line_count "$d/starts")"
check "answering webs: two probes or more, each the 34-byte probe" "yes $probe_hex" \
    "$([ "$(line_count "$d/requests")" -ge 2 ] && echo yes) $(awk '{print $2}' "$d/requests" | sort -u)"
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
# port and answer it).
d="$T/c/silent"
mapfile -t probes < <(awk '{print $1}' "$d/requests")
mapfile -t starts < <(awk '{print $1}' "$d/starts")
check "silent webs: restarted once, seven probes" "2 7" "${#starts[@]} ${#probes[@]}"
if [ "${#starts[@]}" -eq 2 ] && [ "${#probes[@]}" -ge 7 ]; then
    check "silent webs: the restart comes after the sixth probe, before the seventh" yes \
        "$(awk -v s="${starts[1]}" -v p6="${probes[5]}" -v p7="${probes[6]}" 'BEGIN { print (s > p6 + 3 && s < p7) ? "yes" : "no" }')"
    check "silent webs: 14 s or more between the sixth and seventh probes (4 s before)" yes \
        "$(awk -v a="${probes[4]}" -v b="${probes[5]}" -v c="${probes[6]}" 'BEGIN { print (c - b >= 14 && b - a < 5) ? "yes" : "no" }')"
    check "silent webs: the seventh probe reaches the new webs" "$(sed -n 2p "$d/starts" | awk '{print $2}')" \
        "$(sed -n 7p "$d/requests" | awk '{print $3}')"
fi

# A server that closes at once is silent too.
d="$T/c/close"
check "webs that closes at once: restarted after six connections" "2 6" \
    "$(line_count "$d/starts") $(awk -v s="$(sed -n 2p "$d/starts" | awk '{print $1}')" '$1 < s' "$d/requests" | wc -l)"

# An answer every third probe keeps the counter from running out.
d="$T/c/third"
check "webs answering every third probe: never restarted in seven probes" "1 yes" \
    "$(line_count "$d/starts") $([ "$(line_count "$d/requests")" -ge 7 ] && echo yes)"

# Nothing listening: "webs&" about once a second, and no probe ever sent.
d="$T/c/refused"
n=$(line_count "$d/starts")
check "nothing listening: webs started every cycle (4 to 6 in 5 s)" yes "$([ "$n" -ge 4 ] && [ "$n" -le 6 ] && echo yes || echo "$n")"

# A webs whose listen queue is full: each connect runs into the 5 s bound, a silent probe; the
# sixth kills it (5 s + 5 x 6 s) and starts a new one, and no webs is started before.
d="$T/c/hung"
killed=$(awk '{print $1}' "$d/killed")
took=$(awk -v b="$(cat "$d/began")" -v k="$killed" 'BEGIN { if (k == "") print "never"; else printf "%.1f", k - b }')
meanwhile=$(awk -v b="$(cat "$d/began")" -v k="$killed" '$1 > b && (k == "" || $1 < k)' "$d/starts" | wc -l)
echo "# hung webs: killed after $took s of probing; webs started $meanwhile times before"
check "hung webs: killed once, 30 to 45 s after the first probe, nothing started before, then restarted" \
    "1 yes 0 2" "$(line_count "$d/killed") $(awk -v t="$took" 'BEGIN { print (t >= 30 && t <= 45) ? "yes" : "no" }') $meanwhile $(line_count "$d/starts")"

# The presence watchdog: quiet for 60 s, then webs started once and found afterwards.
d="$T/c/presence"
check "-j: one start, 60 s or more after the watchdog began" "1 yes" \
    "$(line_count "$d/starts") $(awk -v b="$(cat "$d/began")" -v s="$(awk '{print $1}' "$d/starts" | head -1)" 'BEGIN { print (s - b >= 60) ? "yes" : "no" }')"
finish
