#!/usr/bin/env bash
# The status endpoint of a running bridge, in a network namespace of its own: after scripted traffic
# (commands, a text that is no command, datagrams with probes, bare connections) every counter equals
# what the script sent, in the JSON and in strictly read metrics; 404 and 405; hostile requests closed
# and the endpoint serving after them; tolvane-probe status and survey; a lost device; a port that is
# taken; and the window mode serving with its own mode.
# Usage: e2e_status.sh BUILD/bin   (needs unshare -n)
set -uo pipefail

BIN=$(cd "${1:?usage: e2e_status.sh BUILD/bin}" && pwd)
HERE=$(cd "$(dirname "$0")/.." && pwd)
source "$HERE/scripts/lib/netns.sh"
netns_inside "$0" || "$HERE/scripts/deps.sh" curl python3-prometheus-client xvfb >/dev/null
netns_reexec --timeout 500 "$0" "$BIN"
source "$HERE/scripts/lib/bridge.sh"
source "$HERE/scripts/lib/check.sh"
source "$HERE/scripts/lib/proc.sh"
source "$HERE/scripts/lib/xvfb.sh"

WORK=$(mktemp -d) PROJECTOR= BRIDGE= OTHER=
trap 'stop_pid "$OTHER"; stop_pid "$BRIDGE"; stop_pid "$PROJECTOR"; xvfb_stop; rm -rf "$WORK"' EXIT
PROBE=$BIN/tolvane-probe
die_details() { tail -n 20 "$WORK/bridge.log" 2>/dev/null; }

# The endpoint listens on the veth's address only; the discovery reply's broadcast leaves through it.
HOST=10.93.0.1 PORT=7080
ip link add st0 type veth peer name st1 && ip addr add $HOST/24 dev st0 && ip link set st0 up &&
    ip link set st1 up && ip route add default dev st0 || die "no veth pair"
URL=http://$HOST:$PORT

status_json() { curl -sf --max-time 10 "$URL/status" >"$WORK/status.json"; }
# reads FIELD=VALUE...: /status now has these values, as Python writes them (None for null).
reads() {
    status_json && /usr/bin/python3 -c 'import json, sys
d = json.load(open(sys.argv[1]))
sys.exit(0 if all(str(d[k]) == v for k, _, v in (a.partition("=") for a in sys.argv[2:])) else 1)' "$WORK/status.json" "$@"
}
# is FIELD=VALUE...: polls /status until it reads so (the bridge counts as it handles).
is() { wait_for 300 reads "$@"; }

start_projector() {
    "$BIN/virtual-projector" --delay 300 >"$WORK/projector.out" 2>&1 &
    PROJECTOR=$!
    PTY=$(projector_path "$WORK/projector.out" "$PROJECTOR") || die "the projector named no terminal"
}

# The service, its port from [Status] of the file named with --config.
start_projector
write_tolvane_ini "$WORK/data" "$PTY"
INI=$(XDG_DATA_HOME=$WORK/data "$PROBE" --print-ini-path)
printf '[Status]\nStatusPort=%s\n' $PORT >>"$INI"
cp "$INI" "$WORK/bridge.ini"
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM TOLVANE_SERIAL_PORTS=$PTY XDG_DATA_HOME=$WORK/nowhere \
    XDG_RUNTIME_DIR=$WORK "$BIN/tolvane" --service --config "$WORK/bridge.ini" --log-traffic --status-bind $HOST 2>"$WORK/bridge.log" &
BRIDGE=$!
wait_for 300 grep -q "Serial Open" "$WORK/bridge.log" || die "the service did not open the projector's port"
check "a fresh bridge: open, nothing counted yet" is port_state=open commands_written=0 tcp_accepted=0 datagrams=0
check "the endpoint listens on --status-bind's address only" bash -c "! curl -s --max-time 5 http://127.0.0.1:$PORT/status"

# --- the script: 5 commands (each with its echo), a text that is no command, 10 datagrams of which 3
# are probes, 4 bare connections and one held open
COMMANDS=5
for i in $(seq $COMMANDS); do
    [ "$("$PROBE" send 127.0.0.1 'op status ?' --timeout 30000)" = 'OP STATUS=1\r\n' ] || die "command $i unanswered"
done
"$PROBE" send 127.0.0.1 'hello' --timeout 300 --quiet 100 >/dev/null 2>&1
for text in one '?ZZ?' two 'a ?ZZ? b' three four five '?ZZ?' six seven; do
    printf '%s' "$text" >/dev/udp/127.0.0.1/35070 || die "no datagram"
done
for _ in 1 2 3 4; do
    { exec {fd}<>/dev/tcp/127.0.0.1/7000 && exec {fd}>&-; } || die "no connection"
done
# Any connection that ends closes the current one: the bare ones must be gone before the held one comes.
check "bare connections accepted, and gone" is tcp_accepted=$((COMMANDS + 1 + 4)) current_client=None
exec {held}<>/dev/tcp/127.0.0.1/7000 || die "the held connection did not open"
HELD=$(ss -Htn state established '( dport = :7000 )' | awk '{print $(NF - 1)}')
check "the held connection is the current client" is current_client="$HELD" tcp_accepted=$((COMMANDS + 1 + 4 + 1))
exec {held}>&-
check "nobody is connected once it is gone" is current_client=None
check "all 10 datagrams counted" is datagrams=10 probes_answered=3

# Bytes: "op status ?\r\n" (13) each way on the TCP and serial side, echo and reply (13 + 13) back.
check "every counter equals the script's count" /usr/bin/python3 -c '
import json, sys
d = json.load(open(sys.argv[1])); n = int(sys.argv[2])
want = dict(commands_written=n, replies_forwarded=n, echoes_dropped=n, timeouts=0, local_answers=0,
            bytes_to_serial=13 * n, bytes_from_serial=26 * n, bytes_to_tcp=13 * n, bytes_from_tcp=13 * n + 7,
            tcp_accepted=n + 1 + 4 + 1, probes_answered=3, datagrams=10, reopens=0, losses=0,
            port_state="open", port=sys.argv[3], mode="service", current_client=None)
got = {k: d[k] for k in want}
ok = got == want and 0 <= d["last_reply_age_s"] < 600 and d["port_open_since"].endswith("Z") and d["uptime_s"] > 0
print("       want", want, "\n       got ", got) if not ok else None
sys.exit(0 if ok else 1)' "$WORK/status.json" $COMMANDS "$PTY"

curl -sf --max-time 10 "$URL/metrics" >"$WORK/metrics" || die "no /metrics"
check "/metrics passes the strict exposition check" /usr/bin/python3 "$HERE/tests/support/checkmetrics.py" <"$WORK/metrics"
check "the metrics' counters equal the JSON's" /usr/bin/python3 -c '
import json, sys
from prometheus_client.parser import text_string_to_metric_families
d = json.load(open(sys.argv[1]))
samples = {s.name: s.value for f in text_string_to_metric_families(open(sys.argv[2]).read()) for s in f.samples}
names = {k: "tolvane_%s_total" % k for k in ("commands_written", "replies_forwarded", "echoes_dropped", "bytes_to_tcp",
         "bytes_from_tcp", "bytes_to_serial", "bytes_from_serial", "tcp_accepted", "probes_answered", "datagrams")}
bad = [(k, d[k], samples.get(m)) for k, m in names.items() if samples.get(m) != d[k]]
print("       differ:", bad) if bad else None
sys.exit(1 if bad else 0)' "$WORK/status.json" "$WORK/metrics"

code() { curl -s -o /dev/null --max-time 10 -w '%{http_code}' "$@"; }
check "the page shows the traffic that --log-traffic writes" bash -c "curl -sf --max-time 10 $URL/ | grep -qF ';seven'"
check "another path: 404" [ "$(code "$URL/nope")" = 404 ]
check "another method: 405" [ "$(code -X POST -d x "$URL/status")" = 405 ]
check "random bytes and a 1 MiB header are closed" /usr/bin/python3 "$HERE/tests/support/hostile.py" $HOST $PORT
check "the endpoint serves after them" [ "$(code "$URL/status")" = 200 ]

"$PROBE" status $HOST --status-port $PORT >"$WORK/probe.out"
check "tolvane-probe status: a row per field" bash -c "[ $? = 0 ] && grep -qE '^commands_written +$COMMANDS\$' '$WORK/probe.out' &&
    grep -qE '^port_state +open\$' '$WORK/probe.out' && grep -qE '^current_client +-\$' '$WORK/probe.out'"
"$PROBE" status $HOST --status-port $PORT --json >"$WORK/probe.json"
check "tolvane-probe status --json: the JSON as served" /usr/bin/python3 -c '
import json, sys; sys.exit(0 if json.load(open(sys.argv[1]))["commands_written"] == int(sys.argv[2]) else 1)' \
    "$WORK/probe.json" $COMMANDS
"$PROBE" status 127.0.0.1 --status-port $PORT >/dev/null 2>"$WORK/refused.err"
check "tolvane-probe status without an endpoint: exit 1 and why" bash -c "[ $? = 1 ] &&
    grep -qx 'tolvane-probe status: 127.0.0.1:$PORT: connection refused' '$WORK/refused.err'"
"$PROBE" survey --to $HOST --wait 3000 --timeout 30000 --status-port $PORT >"$WORK/survey.out" 2>&1
check "survey: the bridge's own state next to its replies" grep -qE "^$HOST .* ms +open +0 +0 +[0-9.]+ +OK\$" "$WORK/survey.out"
"$PROBE" survey --to $HOST --wait 3000 --timeout 30000 --status-port 7999 >"$WORK/survey.out" 2>&1
check "survey without the endpoint: dashes" grep -qE "^$HOST .* ms +- +- +- +- +OK\$" "$WORK/survey.out"

# A second bridge whose status port is taken says so in one line and runs on.
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM TOLVANE_SERIAL_PORTS= XDG_DATA_HOME=$WORK/nowhere \
    XDG_RUNTIME_DIR=$WORK "$BIN/tolvane" --service --status-port $PORT --status-bind $HOST 2>"$WORK/other.log" &
OTHER=$!
check "a taken status port is one stderr line" wait_for 300 grep -qx \
    "Status endpoint: cannot listen on $HOST port $PORT: Address already in use; the bridge runs without it" "$WORK/other.log"
check "and that bridge runs on" kill -0 "$OTHER"
stop_pid "$OTHER"
OTHER=

kill -TERM "$PROJECTOR"
check "the device goes away: lost once, then waited for" is port_state=waiting losses=1 port_open_since=None reopens=0
stop_pid "$BRIDGE"
stop_pid "$PROJECTOR"

# No serial port at all: the bridge answers by itself, and counts those answers, not commands, while it
# waits for the port.
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM TOLVANE_SERIAL_PORTS= XDG_DATA_HOME=$WORK/nowhere \
    XDG_RUNTIME_DIR=$WORK "$BIN/tolvane" --service --status-port $PORT 2>"$WORK/bridge.log" &
BRIDGE=$!
wait_for 300 grep -q "Server started: 7000" "$WORK/bridge.log" || die "the bridge without a port did not start"
"$PROBE" send 127.0.0.1 'op model ?' --timeout 30000 >/dev/null
"$PROBE" send 127.0.0.1 'op status ?' --timeout 30000 >/dev/null
check "local answers: counted with their bytes" is local_answers=2 bytes_to_tcp=$((16 + 13)) commands_written=0 \
    replies_forwarded=0 port_state=waiting last_reply_age_s=None
stop_pid "$BRIDGE"

# --- the window mode: --status-port wins over the file's [Status] port
xvfb_start "$WORK/xvfb.log" || die "Xvfb did not start"
start_projector
write_tolvane_ini "$WORK/data" "$PTY"
printf '[Status]\nStatusPort=%s\n' $PORT >>"$INI"
mkdir -p "$WORK/runtime" && chmod 700 "$WORK/runtime"
env -u QT_QPA_PLATFORM HOME="$WORK" XDG_DATA_HOME="$WORK/data" XDG_CONFIG_HOME="$WORK/config" XDG_RUNTIME_DIR="$WORK/runtime" \
    TOLVANE_SERIAL_PORTS="$PTY" "$BIN/tolvane" --status-port 7081 >"$WORK/bridge.log" 2>&1 &
BRIDGE=$!
URL=http://127.0.0.1:7081
check "the window serves /status with mode window" is mode=window
check "its port opened" is port_state=open
check "the file's port is not served" bash -c "! curl -s --max-time 5 http://127.0.0.1:$PORT/status"

echo "status: $FAILS failed"
[ "$FAILS" -eq 0 ]
