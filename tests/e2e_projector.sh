#!/usr/bin/env bash
# The virtual projector seen from the bridge's side of its pseudo-terminal: exact bytes, the event log,
# the line settings it reports, unplugging, and staying idle while nobody holds the line.
# Usage: bash tests/e2e_projector.sh BUILD/bin
set -uo pipefail

BIN=${1:?usage: e2e_projector.sh BIN_DIR}
PROJECTOR=$BIN/virtual-projector
WORK=$(mktemp -d)
PIDS=()
FAILS=0
PASSES=0

cleanup() {
    for pid in "${PIDS[@]}"; do
        kill -TERM "$pid" 2>/dev/null
    done
    rm -rf "$WORK"
}
trap cleanup EXIT

fail() { echo "FAIL: $*"; FAILS=$((FAILS + 1)); }
pass() { echo "ok: $*"; PASSES=$((PASSES + 1)); }
check() { local what=$1; shift; if "$@"; then pass "$what"; else fail "$what"; fi; }

# The bridge's end of the line: actions on the pty, each string with Python escapes.
cat >"$WORK/line.py" <<'EOF'
import codecs, os, select, sys, termios, time

def b(text):
    return codecs.escape_decode(text.encode())[0]

fd = os.open(sys.argv[1], os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
args = sys.argv[2:]
while args:
    action = args.pop(0)
    if action == "send":
        data = b(args.pop(0))
        while data and select.select([], [fd], [], 3)[1]:
            data = data[os.write(fd, data):]
        if data:
            sys.exit("send: the line took no more bytes")
    elif action == "sleep":
        time.sleep(int(args.pop(0)) / 1000)
    elif action == "settings":
        attrs = termios.tcgetattr(fd)
        attrs[4] = attrs[5] = termios.B9600
        attrs[2] |= termios.CSTOPB | termios.CRTSCTS | termios.PARENB | termios.PARODD
        attrs[0] |= termios.IXOFF
        termios.tcsetattr(fd, termios.TCSANOW, attrs)
    elif action in ("expect", "chunk"):
        # expect: these bytes, however they are split; chunk: these bytes in the first read.
        want = b(args.pop(0))
        got = b""
        deadline = time.monotonic() + 3
        while len(got) < len(want) and time.monotonic() < deadline:
            if select.select([fd], [], [], 0.05)[0]:
                got += os.read(fd, 4096)
                if action == "chunk":
                    break
        if got != want:
            sys.exit("%s: wanted %r, got %r" % (action, want, got))
    elif action == "quiet":
        if select.select([fd], [], [], int(args.pop(0)) / 1000)[0]:
            sys.exit("quiet: got %r" % os.read(fd, 4096))
    elif action == "eof":
        deadline = time.monotonic() + 3
        while time.monotonic() < deadline:
            if select.select([fd], [], [], 0.05)[0]:
                try:
                    data = os.read(fd, 4096)
                except OSError:
                    break
                if not data:
                    break
                sys.exit("eof: got %r" % data)
        else:
            sys.exit("eof: the line stayed up")
    else:
        sys.exit("unknown action " + action)
EOF

line() { timeout 20 python3 "$WORK/line.py" "$@"; }

# start NAME ARGS...: runs the projector, sets PTY and PID; NAME.out and NAME.log in WORK.
start() {
    local name=$1; shift
    "$PROJECTOR" --log "$WORK/$name.log" "$@" >"$WORK/$name.out" 2>"$WORK/$name.err" &
    PID=$!
    PIDS+=("$PID")
    PTY=
    for _ in $(seq 50); do
        PTY=$(head -n1 "$WORK/$name.out" 2>/dev/null)
        [ -n "$PTY" ] && break
        sleep 0.1
    done
    case $PTY in /dev/pts/*) ;; *) echo "FAIL: $name printed no pty path"; exit 1 ;; esac
}

# exits PID WANTED_RC: the process ends by itself (or after SIGTERM) within 5 s with that code.
exits() {
    local pid=$1 want=$2
    for _ in $(seq 50); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    if kill -0 "$pid" 2>/dev/null; then
        kill -KILL "$pid"
        return 1
    fi
    wait "$pid"
    [ $? -eq "$want" ]
}

stop() { kill -TERM "$1" 2>/dev/null; exits "$1" 0; }

# logged FILE LINE...: these lines appear in the log (timestamps stripped), in this order.
logged() {
    local file=$1; shift
    awk 'BEGIN { n = ARGC - 1; for (i = 1; i <= n; i++) want[i] = ARGV[i]; ARGC = 1; k = 1 }
         { sub(/^[0-9]+ /, ""); if (k <= n && $0 == want[k]) k++ }
         END { if (k <= n) { print "  missing log line: " want[k]; exit 1 } }' "$@" <"$file"
}

# stamp FILE EVENT DATA: the timestamp of the first such event.
stamp() { EVENT="$2 $3" awk '{ t = $1; sub(/^[0-9]+ /, ""); if ($0 == ENVIRON["EVENT"]) { print t; exit } }' "$1"; }

cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }

# --- Queries, settings, terminators, log and line settings -------------------------------------------
start basic --termios
check "exact bytes for queries, a CR-only command, a setting and an unknown key" \
    line "$PTY" send 'op model ?\r\n' expect 'op model ?\r\nOP MODEL=KT5520M\r\n' \
        send 'op status ?\r' expect 'op status ?\r\nOP STATUS=1\r\n' \
        send 'op power = 0\r\n' expect 'op power = 0\r\nOP POWER=0\r\n' \
        send 'op foo ?\r\n' expect 'op foo ?\r\nOP FOO=NA\r\n' \
        send 'OP  Power ?\n' expect 'OP  Power ?\r\nOP POWER=0\r\n' \
        send 'op input=HDMI2\r\n' expect 'op input=HDMI2\r\nOP INPUT=HDMI2\r\n'
check "CR and LF split over two writes make one command; a non-op line is only echoed" \
    line "$PTY" send 'op lamp ?\r' sleep 50 send '\nstatus\r\n' \
        expect 'op lamp ?\r\nOP LAMP=1200\r\nstatus\r\n' quiet 200
check "two commands in one write are answered in order" \
    line "$PTY" send 'op model ?\rop ser.no ?\r' \
        expect 'op model ?\r\nOP MODEL=KT5520M\r\nop ser.no ?\r\nOP SER.NO=ABC-1234567\r\n'
check "the log holds what was received, each command, echo and reply" \
    logged "$WORK/basic.log" 'RX op model ?\r\n' 'CMD op model ?' 'ECHO op model ?\r\n' \
        'REPLY OP MODEL=KT5520M\r\n' 'RX op status ?\r' 'CMD op status ?' 'REPLY OP STATUS=1\r\n' \
        'CMD op foo ?' 'REPLY OP FOO=NA\r\n' 'CMD status' 'ECHO status\r\n'
cmd=$(stamp "$WORK/basic.log" CMD 'op model ?')
echo_t=$(stamp "$WORK/basic.log" ECHO 'op model ?\r\n')
reply=$(stamp "$WORK/basic.log" REPLY 'OP MODEL=KT5520M\r\n')
check "the echo goes at once and the reply after the 2 ms delay (monotonic µs stamps)" \
    test -n "$reply" -a "$cmd" -le "$echo_t" -a "$echo_t" -le "$reply" -a $((reply - cmd)) -ge 2000
check "no empty command from CR LF split over two reads" \
    bash -c "! grep -qx '[0-9]* CMD' '$WORK/basic.log'"

line "$PTY" settings sleep 150
check "the line settings applied by the other side are logged and printed" \
    logged "$WORK/basic.log" \
        'TERMIOS speed=38400 cs=8 cstopb=0 parenb=0 parodd=0 cmspar=0 crtscts=0 ixon=0 ixoff=0' \
        'TERMIOS speed=9600 cs=8 cstopb=1 parenb=0 parodd=1 cmspar=0 crtscts=1 ixon=0 ixoff=1'
check "--termios prints the same lines after the path" \
    grep -qxF 'TERMIOS speed=9600 cs=8 cstopb=1 parenb=0 parodd=1 cmspar=0 crtscts=1 ixon=0 ixoff=1' "$WORK/basic.out"

# Nobody holds the line now: the projector must sleep, not spin on the hang-up.
sleep 0.2
before=$(cpu_ticks "$PID")
sleep 1
after=$(cpu_ticks "$PID")
check "idle with the line closed: $((after - before)) CPU ticks in 1 s" test $((after - before)) -lt 5
check "the line can be opened again and still works" \
    line "$PTY" send 'op power ?\r\n' expect 'op power ?\r\nOP POWER=0\r\n'
check "a line over 64 KiB is dropped and logged; the next command works" \
    line "$PTY" send "$(head -c 70000 /dev/zero | tr '\0' x)"'\r' send 'op status ?\r' \
        expect 'op status ?\r\nOP STATUS=1\r\n'
check "the overlong line is logged as dropped" grep -q ' DROP line of 70000 bytes' "$WORK/basic.log"
check "SIGTERM ends it with code 0" stop "$PID"

# --- One chunk with noise, after the delay ------------------------------------------------------------
start chunk --one-chunk --noise --delay 100
check "--one-chunk --noise: echo, noise and reply in one read" \
    line "$PTY" send 'op model ?\r\n' chunk 'op model ?\r\n# lamp ok\r\n\r\nOP MODEL=KT5520M\r\n'
cmd=$(stamp "$WORK/chunk.log" CMD 'op model ?')
echo_t=$(stamp "$WORK/chunk.log" ECHO 'op model ?\r\n')
reply=$(stamp "$WORK/chunk.log" REPLY 'OP MODEL=KT5520M\r\n')
check "--one-chunk: echo and reply written together, 100 ms after the command" \
    test -n "$reply" -a "$echo_t" = "$reply" -a $((reply - cmd)) -ge 100000
stop "$PID"

# --- No echo, NUL bytes and invalid UTF-8 in a reply; silence ------------------------------------------
start raw --no-echo --delay 0 --set 'status=1\x00\xff' --set 'Lamp=7\r'
check "--no-echo --set: the reply alone, NUL and 0xff included" \
    line "$PTY" send 'op status ?\r\n' expect 'OP STATUS=1\x00\xff\r\n' \
        send 'op lamp ?\r' expect 'OP LAMP=7\r\r\n' send 'hello\r' quiet 200
check "the log escapes what is not printable" logged "$WORK/raw.log" 'REPLY OP STATUS=1\0\xff\r\n'
check "--no-echo writes no ECHO event" bash -c "! grep -q ' ECHO ' '$WORK/raw.log'"
stop "$PID"

start quiet --silent --delay 0
check "--silent: echo, no reply" line "$PTY" send 'op model ?\r' expect 'op model ?\r\n' quiet 200
stop "$PID"

# --- Byte pacing -------------------------------------------------------------------------------------
start paced --baud 1200 --delay 0 --no-echo
check "--baud 1200: the reply arrives whole" line "$PTY" send 'op model ?\r' expect 'OP MODEL=KT5520M\r\n'
cmd=$(stamp "$WORK/paced.log" CMD 'op model ?')
reply=$(stamp "$WORK/paced.log" REPLY 'OP MODEL=KT5520M\r\n')
check "--baud 1200: 18 bytes take at least 140 ms (took $(((reply - cmd) / 1000)) ms)" \
    test -n "$reply" -a $((reply - cmd)) -ge 140000
stop "$PID"

# --- Unplug ----------------------------------------------------------------------------------------------
start unplug --unplug-after 1
check "--unplug-after 1: answers, then the line hangs up" \
    line "$PTY" send 'op model ?\r\n' expect 'op model ?\r\nOP MODEL=KT5520M\r\n' eof
check "--unplug-after 1: exits by itself with code 0" exits "$PID" 0
check "--unplug-after 1: UNPLUG is the last event" test "$(tail -n1 "$WORK/unplug.log" | cut -d' ' -f2-)" = UNPLUG

# --- Usage -------------------------------------------------------------------------------------------
help=$("$PROJECTOR" --help)
missing=
for option in --delay --no-echo --silent --one-chunk --noise --set --baud --unplug-after --unplug-grace --log --termios --help; do
    grep -q -- "$option" <<<"$help" || missing="$missing $option"
done
check "--help names every option${missing:+ (missing:$missing)}" test -z "$missing"
"$PROJECTOR" --delay x >/dev/null 2>&1
check "a bad option value is a usage error" test $? -eq 2

echo "projector: $PASSES passed, $FAILS failed"
[ "$FAILS" -eq 0 ]
