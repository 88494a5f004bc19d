#!/usr/bin/env bash
# Discovery end to end: the bridge runs in one private network namespace, tolvane-probe in another,
# joined by a veth pair with private addresses. A discovery reply is a broadcast, so nothing here
# ever runs a bridge in the machine's own namespace.
# Usage: e2e_discovery.sh BUILD_BIN_DIR   (needs root: ip netns)
set -u

BIN=${1:?usage: e2e_discovery.sh BUILD_BIN_DIR}
BIN=$(cd "$BIN" && pwd) || exit 1
ME=e2e_discovery
BRIDGE_IP=10.77.0.1
CLIENT_IP=10.77.0.2
NSB=tolvane-e2e-bridge-$$
NSC=tolvane-e2e-client-$$
WORK=$(mktemp -d)
BRIDGE_PID=
FAILED=0
PASSED=0

die() {
    echo "$ME: FAIL: $*" >&2
    exit 1
}

cleanup() {
    if [ -n "$BRIDGE_PID" ] && kill -0 "$BRIDGE_PID" 2>/dev/null; then
        kill "$BRIDGE_PID" 2>/dev/null
        for _ in $(seq 50); do
            kill -0 "$BRIDGE_PID" 2>/dev/null || break
            sleep 0.1
        done
        kill -9 "$BRIDGE_PID" 2>/dev/null
        wait "$BRIDGE_PID" 2>/dev/null
    fi
    ip netns del "$NSB" 2>/dev/null
    ip netns del "$NSC" 2>/dev/null
    rm -rf "$WORK"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

check() { # check NAME EXPECTED ACTUAL
    if [ "$2" == "$3" ]; then
        echo "ok   - $1"
        PASSED=$((PASSED + 1))
    else
        echo "FAIL - $1"
        echo "       expected: $(printf '%q' "$2")"
        echo "       actual:   $(printf '%q' "$3")"
        FAILED=$((FAILED + 1))
    fi
}

[ -x "$BIN/tolvane" ] || die "no program at $BIN/tolvane"
[ -x "$BIN/tolvane-probe" ] || die "no probe tool at $BIN/tolvane-probe"
command -v ip >/dev/null || die "the ip command (iproute2) is missing"

# --- two namespaces and a cable between them -------------------------------------------------------
ip netns add "$NSB" 2>"$WORK/netns.err" && ip netns add "$NSC" 2>>"$WORK/netns.err" ||
    die "cannot create network namespaces ($(head -c 200 "$WORK/netns.err")); this test needs root. Discovery is only ever tested inside private namespaces, so it cannot run here."
ip -n "$NSB" link add vb0 type veth peer name vc0 netns "$NSC" || die "cannot create the veth pair"
ip -n "$NSB" link set lo up
ip -n "$NSB" addr add "$BRIDGE_IP/24" dev vb0
ip -n "$NSB" link set vb0 up
ip -n "$NSB" route add default via "$CLIENT_IP" # the bridge's 255.255.255.255 reply needs a route
ip -n "$NSC" link set lo up
ip -n "$NSC" addr add "$CLIENT_IP/24" dev vc0
ip -n "$NSC" link set vc0 up
ip -n "$NSC" route add default via "$BRIDGE_IP" # so does the probe's
MAC=$(ip -n "$NSB" -o link show vb0 | sed -n 's|.*link/ether \([0-9a-f:]*\).*|\1|p' | tr a-f A-F)
[ -n "$MAC" ] || die "cannot read the bridge side's MAC address"

# --- the bridge -------------------------------------------------------------------------------------
# No serial port: its "not available" box runs its own event loop, and the bridge keeps working.
mkdir -p "$WORK/data"
ip netns exec "$NSB" env QT_QPA_PLATFORM=offscreen TOLVANE_SERIAL_PORTS= XDG_DATA_HOME="$WORK/data" \
    "$BIN/tolvane" >"$WORK/bridge.log" 2>&1 &
BRIDGE_PID=$!
for _ in $(seq 300); do
    grep -q "UDPrx Bind" "$WORK/bridge.log" && break
    kill -0 "$BRIDGE_PID" 2>/dev/null || break
    sleep 0.1
done
if ! grep -q "UDPrx Bind 35070 true" "$WORK/bridge.log"; then
    tail -n 20 "$WORK/bridge.log" >&2
    die "the bridge did not bind UDP 35070 within 30 s"
fi

# --- probes from the other side ---------------------------------------------------------------------
probe() { # probe [discover options...]: prints the raw replies, then the exit code
    local out rc
    out=$(ip netns exec "$NSC" timeout 30 "$BIN/tolvane-probe" discover --raw --wait "${WAIT:-1500}" "$@" 2>"$WORK/probe.err")
    rc=$?
    printf '%s\nexit %s' "$out" "$rc"
}
reply() { # the exact reply with counter $1, and ip/mac $2/$3
    printf '%s\nexit 0' "ip=${2:-$BRIDGE_IP};mac=${3:-$MAC};model=KT5520M;serial=Tolvane-$1;"
}
NONE=$(printf '\nexit 1')

# The first one waits longer: the bridge may still be starting (sanitizer builds are slow).
check "broadcast probe answered with the bridge's address and MAC, counter 0" "$(reply 0)" "$(WAIT=5000 probe)"
check "lower case ?zz? is ignored" "$NONE" "$(probe --payload '?zz?')"
check "a probe after a zero byte is ignored" "$NONE" "$(probe --payload 'x\0?ZZ?')"
check "unicast probe after a reply is answered, counter 1" "$(reply 1)" "$(probe --to "$BRIDGE_IP")"
check "second unicast probe is answered too, counter 2" "$(reply 2)" "$(probe --to "$BRIDGE_IP")"
check "a probe inside other text, twice, gets one reply" "$(reply 3)" "$(probe --payload 'hello ?ZZ? and ?ZZ?')"

table=$(ip netns exec "$NSC" timeout 30 "$BIN/tolvane-probe" discover --wait 1000 2>&1)
rc=$?
check "the table names the bridge" \
    "0 $BRIDGE_IP $MAC KT5520M 4 $BRIDGE_IP" \
    "$rc $(echo "$table" | awk 'NR == 2 { split($5, from, ":"); print $1, $2, $3, $4, from[1] }')"

# The TCP side across the cable: with no serial port the bridge answers identity queries itself.
sent=$(ip netns exec "$NSC" timeout 30 "$BIN/tolvane-probe" send "$BRIDGE_IP" "op model ?" --timeout 3000 2>&1)
check "send gets the bridge's own answer over TCP" "0 OP MODEL=KT5520M" "$? $sent"

# An interface named with "VM" is never the one the reply names.
ip -n "$NSB" link set vb0 down
ip -n "$NSB" link set vb0 name vethVM0
ip -n "$NSB" link set vethVM0 up
ip -n "$NSB" route replace default via "$CLIENT_IP" dev vethVM0
check "with only a VM interface the reply says ???" "$(reply 5 '???' '???')" "$(probe)"

check "the bridge answered exactly the probes" "6" "$(grep -c 'UDP Discovery!' "$WORK/bridge.log")"
check "ignored probes are still logged" "yes" "$(grep -q '?zz?' "$WORK/bridge.log" && echo yes || echo no)"
check "the bridge is still running" "yes" "$(kill -0 "$BRIDGE_PID" 2>/dev/null && echo yes || echo no)"

if [ "$FAILED" -ne 0 ]; then
    echo "--- bridge log (last 40 lines) ---"
    tail -n 40 "$WORK/bridge.log"
    echo "--- last probe's stderr ---"
    cat "$WORK/probe.err"
fi
echo "$PASSED passed, $FAILED failed"
[ "$FAILED" -eq 0 ]
