#!/usr/bin/env bash
# tolvane --service, in a network namespace of its own and with no display: the same bytes on TCP and
# UDP as the window, message boxes as stderr lines (with the journal's prefixes when stderr is the
# journal), --config and --log-traffic; started before the adapter, and the adapter unplugged and
# plugged back in under traffic, named by a by-id-style link that follows it.
# Usage: e2e_service.sh BUILD/bin   (needs unshare -n)
set -uo pipefail

BIN=$(cd "${1:?usage: e2e_service.sh BUILD/bin}" && pwd)
HERE=$(cd "$(dirname "$0")/.." && pwd)
source "$HERE/scripts/lib/netns.sh"
netns_reexec "$0" "$BIN"
source "$HERE/scripts/lib/bridge.sh"
source "$HERE/scripts/lib/check.sh"
source "$HERE/scripts/lib/proc.sh"

WORK=$(mktemp -d) PROJECTOR= BRIDGE= TRAFFIC=
trap 'stop_pid "$TRAFFIC"; stop_pid "$BRIDGE"; stop_pid "$PROJECTOR"; rm -rf "$WORK"' EXIT
PROBE=$BIN/tolvane-probe
die_details() { tail -n 20 "$WORK/bridge.log" 2>/dev/null; }

# A veth pair gives the discovery reply's broadcast somewhere to go; this namespace hears its copy.
ip link add sv0 type veth peer name sv1 && ip addr add 10.91.0.1/24 dev sv0 && ip link set sv0 up &&
    ip link set sv1 up && ip route add default dev sv0 || die "no veth pair"

start_projector() { # OPTION...
    # One line per arrival: a slow (sanitized) bridge must not get echo and reply as one.
    "$BIN/virtual-projector" --delay 300 "$@" >"$WORK/projector.out" 2>&1 &
    PROJECTOR=$!
    PTY=$(projector_path "$WORK/projector.out" "$PROJECTOR") || die "the projector named no terminal"
}
start_bridge() { # PORTS OPTION...: the service, no display, its stderr in bridge.log
    local ports=$1
    shift
    : >"$WORK/bridge.log"
    env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM TOLVANE_SERIAL_PORTS=$ports XDG_DATA_HOME=$WORK/nowhere \
        XDG_RUNTIME_DIR=$WORK "$BIN/tolvane" --service "$@" 2>>"$WORK/bridge.log" &
    BRIDGE=$!
    wait_for 300 grep -q "Server started: 7000" "$WORK/bridge.log" || die "the service did not listen on TCP 7000"
}
logged() { grep -qxF -- "$1" "$WORK/bridge.log"; }
write_ini() { # PORT: bridge.ini, for --config
    write_tolvane_ini "$WORK/data" "$1"
    cp "$(XDG_DATA_HOME=$WORK/data "$PROBE" --print-ini-path)" "$WORK/bridge.ini"
}

# The projector's settings in a file of our own, named with --config.
start_projector
write_ini "$PTY"
start_bridge "$PTY" --config "$WORK/bridge.ini" --log-traffic
wait_for 300 grep -q "Serial Open" "$WORK/bridge.log"
check "the port named in --config opens" grep -q "Serial Open: \"$PTY:9600,8,None,1\"" "$WORK/bridge.log"
check "op model ? answered by the projector, byte for byte" \
    [ "$("$PROBE" send 127.0.0.1 'op model ?' --timeout 30000)" = 'OP MODEL=KT5520M\r\n' ]
check "a probe is answered as the window answers it" \
    grep -qE '^ip=10\.91\.0\.1;mac=[0-9A-F:]{17};model=KT5520M;serial=Tolvane-0;$' \
    <("$PROBE" discover --to 10.91.0.1 --raw --wait 5000)
check "--log-traffic: the panes' entries as plain lines" \
    bash -c "grep -qxF 'tcp: TCP>op model ?' '$WORK/bridge.log' && grep -qxF 'serial: <<<OP MODEL=KT5520M' '$WORK/bridge.log'"
check "no pane text kept: nothing asks for a display" bash -c "! grep -qi 'display' '$WORK/bridge.log'"
stop_pid "$BRIDGE"
stop_pid "$PROJECTOR"

# Started before the adapter, which its by-id-style link names: it is opened once it appears, and
# again after each unplug during traffic, with nobody involved. Each state is one line.
LINK=$WORK/serial/by-id/usb-Virtual_Projector_VP0001-if00-port0
REPLUGS=3
count() { grep -c -- "$1" "$WORK/bridge.log"; }
answered() { [ "$("$PROBE" send 127.0.0.1 "$1" --timeout 3000)" = "$2" ]; }
mkdir -p "$(dirname "$LINK")"
write_ini "$LINK"
start_bridge "$LINK" --config "$WORK/bridge.ini"
check "started before the adapter, it waits for it" wait_for 300 logged "Serial Port: waiting for $LINK"
check "a command while the port is missing is dropped" \
    bash -c "! '$PROBE' send 127.0.0.1 'op model ?' --timeout 1000 2>/dev/null"
start_projector --link "$LINK" --unplugged-for 500
check "the first command after the adapter appears is answered" \
    wait_for 300 answered 'op model ?' 'OP MODEL=KT5520M\r\n'

for ((i = 0; i < 300; i++)); do # a command every moment, each on a connection of its own
    [ -e "$WORK/quiet" ] || "$PROBE" send 127.0.0.1 'op status ?' --timeout 500 >/dev/null 2>&1
done &
TRAFFIC=$!
for ((replug = 1; replug <= REPLUGS; replug++)); do
    kill -USR1 "$PROJECTOR"
    wait_for 300 [ "$(count '^Critical Error: ')" -ge "$replug" ] || die "unplug $replug was not noticed"
    check "answered again after replug $replug" wait_for 300 answered 'op lamp ?' 'OP LAMP=1200\r\n'
done
touch "$WORK/quiet"
wait "$TRAFFIC"
check "each loss is one \"Critical Error\" line" [ "$(count '^Critical Error: ')" = "$REPLUGS" ]
check "each wait is one line" [ "$(count "^Serial Port: waiting for $LINK\$")" = "$((REPLUGS + 1))" ]
check "each open is one line" \
    [ "$(count "^Serial Port: Connected to $LINK : 9600, 8, None, 1, None\$")" = "$((REPLUGS + 1))" ]
check "the missing port's \"Error\" line is not repeated" [ "$(count '^Error: ')" = 1 ]
stop_pid "$BRIDGE"
stop_pid "$PROJECTOR"

# No serial port at all: the start-up box is a line, and the bridge answers by itself. stderr is the
# journal here, so the line carries the error priority.
: >"$WORK/bridge.log"
export JOURNAL_STREAM=$(stat -c '%d:%i' "$WORK/bridge.log")
start_bridge ""
unset JOURNAL_STREAM
check "the no-port box is one line, with the journal's error prefix" \
    logged "<3>Serial Port Not Available: Connect USB/Serial cable and restart program!"
check "op model ? answered by the bridge itself" \
    [ "$("$PROBE" send 127.0.0.1 'op model ?' --timeout 30000)" = 'OP MODEL=KT5520M' ]
stop_pid "$BRIDGE"

check "a mistake on the command line is exit status 2" bash -c "'$BIN/tolvane' --service --bogus 2>/dev/null; [ \$? = 2 ]"
check "--help names every option" bash -c "'$BIN/tolvane' --help | grep -q -- '--log-traffic'"

echo "service: $FAILS failed"
[ "$FAILS" -eq 0 ]
