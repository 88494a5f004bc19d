#!/usr/bin/env bash
# The virtual projector seen from the bridge's side of its pseudo-terminal: exact bytes, replies in
# one chunk, replies with NUL bytes, the line opened again, and unplugging.
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
# chunk (all in the first read); eof '' (nothing more, then the line hangs up).
cat >"$WORK/line.py" <<'EOF'
import codecs, os, select, sys, time
fd = os.open(sys.argv[1], os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
args = sys.argv[2:]
while args:
    action, want = args.pop(0), codecs.escape_decode(args.pop(0).encode())[0]
    if action == "send":
        os.write(fd, want)
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

# start OPTION...: runs the projector, sets PTY and PID.
start() {
    local out=$WORK/out.${#PIDS[@]}
    "$PROJECTOR" "$@" >"$out" 2>/dev/null &
    PID=$!
    PIDS+=("$PID")
    PTY=$(projector_path "$out" "$PID")
    [[ $PTY == /dev/pts/* ]] || { echo "FAIL: the projector ($*) printed no pty path"; exit 1; }
}
line() { timeout 60 python3 "$WORK/line.py" "$PTY" "$@"; }
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

echo "projector: $FAILS failed"
[ "$FAILS" -eq 0 ]
