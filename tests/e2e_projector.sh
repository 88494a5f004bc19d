#!/usr/bin/env bash
# The virtual projector seen from the bridge's side of its pseudo-terminal: exact bytes, replies in
# one chunk, replies with NUL bytes, the line opened again, unplugging, and plugging back in under a
# stable name.
# Usage: bash tests/e2e_projector.sh BUILD/bin
set -uo pipefail
source "$(dirname "$0")/../scripts/lib/bridge.sh"
source "$(dirname "$0")/../scripts/lib/check.sh"
source "$(dirname "$0")/../scripts/lib/proc.sh"

PROJECTOR=${1:?usage: e2e_projector.sh BIN_DIR}/virtual-projector
WORK=$(mktemp -d) PIDS=()
trap 'for p in "${PIDS[@]}"; do stop_pid "$p"; done; rm -rf "$WORK"' EXIT

CHECK_OK="ok:" CHECK_FAIL="FAIL:"

# The bridge's end of the line, pairs of ACTION BYTES (Python escapes): send; expect (however split);
# chunk (all in the first read); eof '' (nothing more, then the line hangs up); signal NAME (to the
# projector).
cat >"$WORK/line.py" <<'EOF'
import codecs, os, select, signal, sys, time
fd = os.open(sys.argv[1], os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
args = sys.argv[2:]
while args:
    action, want = args.pop(0), codecs.escape_decode(args.pop(0).encode())[0]
    if action == "send":
        os.write(fd, want)
        continue
    if action == "signal":
        os.kill(int(os.environ["PROJECTOR_PID"]), getattr(signal, "SIG" + want.decode()))
        continue
    got, deadline = b"", time.monotonic() + 15
    while (len(got) < len(want) or action == "eof") and time.monotonic() < deadline:
        if select.select([fd], [], [], 0.05)[0]:
            try:
                data = os.read(fd, 4096)
            except OSError:  # EIO: the other end hung up
                data = b""
            if not data and action == "eof":
                action = "hung up"
            got += data
            if action != "expect":
                break
    if action == "eof":
        sys.exit("eof: got %r, the line stayed up" % got)
    if got != want:
        sys.exit("%s: wanted %r, got %r" % (action, want, got))
EOF

# start OPTION...: runs the projector, sets PTY, PID and OUT (what it prints).
start() {
    OUT=$WORK/out.${#PIDS[@]}
    local out=$OUT
    "$PROJECTOR" "$@" >"$out" 2>/dev/null &
    PID=$!
    export PROJECTOR_PID=$PID
    PIDS+=("$PID")
    PTY=$(projector_path "$out" "$PID")
    [[ $PTY == /dev/pts/* ]] || { echo "FAIL: the projector ($*) printed no pty path"; exit 1; }
}
line() { line_at "$PTY" "$@"; }
line_at() { timeout 60 python3 "$WORK/line.py" "$@"; }
ends() { timeout 30 tail --pid="$PID" -f /dev/null && wait "$PID"; } # by itself, with its exit code

start
check "exact echo and reply bytes; CR alone ends a command; unknown keys answer NA" \
    line send 'op model ?\r\n' expect 'op model ?\r\nOP MODEL=KT5520M\r\n' \
        send 'op status ?\r' expect 'op status ?\r\nOP STATUS=1\r\n' send 'op foo ?\r\n' expect 'op foo ?\r\nOP FOO=NA\r\n'
check "the line can be opened again" line send 'op model ?\r' expect 'op model ?\r\nOP MODEL=KT5520M\r\n'
kill -TERM "$PID"

start --one-chunk --noise --delay 100
check "--one-chunk --noise: echo, noise and reply in one read" \
    line send 'op model ?\r\n' chunk 'op model ?\r\n# lamp ok\r\n\r\nOP MODEL=KT5520M\r\n'
kill -TERM "$PID"

start --no-echo --delay 0 --set 'status=1\x00\xff'
check "--no-echo --set: the reply alone, NUL and 0xff included" \
    line send 'op status ?\r\n' expect 'OP STATUS=1\x00\xff\r\n'
kill -TERM "$PID"

start --unplug-after 1
check "--unplug-after 1: answers, then the line hangs up" \
    line send 'op model ?\r\n' expect 'op model ?\r\nOP MODEL=KT5520M\r\n' eof ''
check "--unplug-after 1: exits by itself with code 0" ends

# Replugs: the name follows the terminal, the log has what a benchmark needs to time a reopening.
LINK=$WORK/by-id/usb-Tolvane_virtual-projector-if00 LOG=$WORK/plug.log
mkdir -p "$WORK/by-id"
printed() { [ "$(grep -c "^$1" "$OUT")" -ge "$2" ]; } # printed: at least $2 lines that begin with $1
events() { awk '$2 ~ /PLUG/ {print $2, $3}' "$LOG"; } # its plug and unplug events, in order
start --link "$LINK" --log "$LOG"
check "--link names the terminal" [ "$(readlink "$LINK")" = "$PTY" ]
check "SIGUSR1 while the line is open: it hangs up and the name is gone at once" \
    line_at "$LINK" send 'op model ?\r' expect 'op model ?\r\nOP MODEL=KT5520M\r\n' signal USR1 eof ''
check "unplugged: the name is gone" [ ! -e "$LINK" ]
kill -USR2 "$PID"
check "SIGUSR2 plugs back in and prints the new terminal" wait_for 100 printed PLUG 1
check "the name follows the new terminal" [ "$(readlink "$LINK")" = "$(sed -n 's/^PLUG //p' "$OUT")" ]
check "the device answers under the name again" line_at "$LINK" send 'op lamp ?\r' expect 'op lamp ?\r\nOP LAMP=1200\r\n'
kill -USR1 "$PID" && wait_for 100 printed UNPLUG 2 && kill -USR1 "$PID"
check "SIGUSR1 again plugs back in" wait_for 100 printed PLUG 2
check "the log times each plug and unplug, the new terminal named" \
    [ "$(events)" = "$(printf 'PLUG %s\nUNPLUG signal\nPLUG %s\nUNPLUG signal\nPLUG %s' "$PTY" \
        "$(sed -n 's/^PLUG //p' "$OUT" | head -n 1)" "$(readlink "$LINK")")" ]
kill -TERM "$PID"
check "stopped: exits with code 0 and takes the name away" eval 'ends && [ ! -e "$LINK" ]'

start --link "$LINK" --log "$WORK/timer.log" --replug-every 200 --unplugged-for 100
LOG=$WORK/timer.log
check "--replug-every: unplugs and plugs back in by itself" wait_for 300 printed PLUG 3
kill -TERM "$PID"
check "--replug-every 200 --unplugged-for 100: plugged in at least 200 ms, out at least 100 ms" \
    awk '$2 == "PLUG" && out && $1 - out < 100000 { exit 1 } $2 == "PLUG" { in_ = $1 }
         $2 == "UNPLUG" && ($3 != "timer" || $1 - in_ < 200000) { exit 1 } $2 == "UNPLUG" { out = $1 }' "$LOG"
check "stopped while replugging: exits with code 0, the name gone" eval 'ends && [ ! -e "$LINK" ]'

echo x >"$WORK/file"
check "--link refuses to replace a file that is not a link" \
    eval '! "$PROJECTOR" --link "$WORK/file" >/dev/null 2>&1 && [ "$(cat "$WORK/file")" = x ]'

echo "projector: $FAILS failed"
[ "$FAILS" -eq 0 ]
