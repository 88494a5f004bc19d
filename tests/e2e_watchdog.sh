#!/usr/bin/env bash
# tolvane --service under a service manager's eyes: a datagram socket of the test's own stands in
# for systemd's NOTIFY_SOCKET; the bridge says READY=1 once it serves, then WATCHDOG=1 again and again
# at half the interval asked for in WATCHDOG_USEC.
# Usage: e2e_watchdog.sh BUILD/bin   (needs unshare -n)
set -uo pipefail

BIN=$(cd "${1:?usage: e2e_watchdog.sh BUILD/bin}" && pwd)
HERE=$(cd "$(dirname "$0")/.." && pwd)
source "$HERE/scripts/lib/netns.sh"
netns_reexec "$0" "$BIN"
source "$HERE/scripts/lib/bridge.sh"
source "$HERE/scripts/lib/check.sh"
source "$HERE/scripts/lib/proc.sh"

WORK=$(mktemp -d) PROJECTOR= BRIDGE= LISTENER=
trap 'stop_pid "$BRIDGE"; stop_pid "$PROJECTOR"; stop_pid "$LISTENER"; rm -rf "$WORK"' EXIT
die_details() { tail -n 20 "$WORK/bridge.log" "$WORK/notify.log" 2>/dev/null; }
said() { [ "$(grep -cx "$1" "$WORK/notify.log")" -ge "$2" ]; } # said STATE TIMES

# The manager's end: one line per datagram, for at most two minutes.
python3 -c '
import socket, sys, time
s = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
s.bind(sys.argv[1])
s.settimeout(1)
end = time.monotonic() + 120
while time.monotonic() < end:
    try:
        print(s.recv(4096).decode().strip(), flush=True)
    except socket.timeout:
        pass
' "$WORK/notify" >"$WORK/notify.log" 2>&1 &
LISTENER=$!
wait_for 100 test -S "$WORK/notify" || die "the notify socket was not bound"

"$BIN/virtual-projector" --delay 300 >"$WORK/projector.out" 2>&1 &
PROJECTOR=$!
PTY=$(projector_path "$WORK/projector.out" "$PROJECTOR") || die "the projector named no terminal"
write_tolvane_ini "$WORK/data" "$PTY"

# exec, so the watchdog's pid is the bridge's own: libsystemd ignores a watchdog meant for another.
(
    export WATCHDOG_PID=$BASHPID WATCHDOG_USEC=400000 NOTIFY_SOCKET=$WORK/notify
    exec env -u DISPLAY -u QT_QPA_PLATFORM TOLVANE_SERIAL_PORTS="$PTY" XDG_DATA_HOME="$WORK/data" \
        XDG_RUNTIME_DIR="$WORK" "$BIN/tolvane" --service 2>"$WORK/bridge.log"
) &
BRIDGE=$!

check "READY=1 arrives" wait_for 300 grep -qx "READY=1" "$WORK/notify.log"
check "the bridge answers when it says so" \
    test "$("$BIN/tolvane-probe" send 127.0.0.1 'op model ?' --timeout 30000)" = 'OP MODEL=KT5520M\r\n'
check "WATCHDOG=1 arrives again and again" wait_for 300 said WATCHDOG=1 5
check "READY=1 is said once" test "$(grep -cx READY=1 "$WORK/notify.log")" = 1

echo "watchdog: $FAILS failed"
[ "$FAILS" -eq 0 ]
