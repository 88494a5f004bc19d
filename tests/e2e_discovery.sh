#!/usr/bin/env bash
# Discovery end to end: the bridge runs in one private network namespace, tolvane-probe in another,
# joined by a veth pair with private addresses. A discovery reply is a broadcast, so nothing here
# ever runs a bridge in the machine's own namespace.
# Usage: e2e_discovery.sh BUILD_BIN_DIR   (needs root: ip netns)
set -u

BIN=$(cd "${1:?usage: e2e_discovery.sh BUILD_BIN_DIR}" && pwd) || exit 1
source "$(dirname "$0")/../scripts/lib/proc.sh"
BRIDGE_IP=10.77.0.1 CLIENT_IP=10.77.0.2
NSB=tolvane-e2e-bridge-$$ NSC=tolvane-e2e-client-$$
WORK=$(mktemp -d) BRIDGE_PID= FAILED=0

die() { echo "e2e_discovery: FAIL: $*" >&2; exit 1; }
cleanup() {
    stop_pid "$BRIDGE_PID" 100
    ip netns del "$NSB" 2>/dev/null; ip netns del "$NSC" 2>/dev/null
    rm -rf "$WORK"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

check() { # NAME EXPECTED ACTUAL
    [ "$2" == "$3" ] && { echo "ok   - $1"; return; }
    printf 'FAIL - %s\n       expected: %q\n       actual:   %q\n' "$1" "$2" "$3"
    FAILED=$((FAILED + 1))
}

# --- two namespaces and a cable between them; each side needs a route for its broadcasts
ip netns add "$NSB" 2>"$WORK/netns.err" && ip netns add "$NSC" 2>>"$WORK/netns.err" ||
    die "cannot create network namespaces ($(head -c 200 "$WORK/netns.err")); this test needs root. Discovery is only ever tested inside private namespaces, so it cannot run here."
ip -n "$NSB" link add vb0 type veth peer name vc0 netns "$NSC" || die "cannot create the veth pair"
for side in "$NSB vb0 $BRIDGE_IP $CLIENT_IP" "$NSC vc0 $CLIENT_IP $BRIDGE_IP"; do
    set -- $side
    ip -n "$1" link set lo up && ip -n "$1" addr add "$3/24" dev "$2" && ip -n "$1" link set "$2" up &&
        ip -n "$1" route add default via "$4" || die "cannot set up $2"
done
MAC=$(ip -n "$NSB" -o link show vb0 | sed -n 's|.*link/ether \([0-9a-f:]*\).*|\1|p' | tr a-f A-F)

# --- the bridge, with no serial port: its "not available" box runs its own event loop meanwhile
ip netns exec "$NSB" env QT_QPA_PLATFORM=offscreen TOLVANE_SERIAL_PORTS= XDG_DATA_HOME="$WORK" \
    "$BIN/tolvane" >"$WORK/bridge.log" 2>&1 &
BRIDGE_PID=$!
wait_for 1200 grep -q 'UDPrx Bind' "$WORK/bridge.log"
grep -q "UDPrx Bind 35070 true" "$WORK/bridge.log" || die "the bridge did not bind UDP 35070 within 120 s"

# Once the bridge answers over TCP its event loop runs (inside its no-port box), and from then on
# a probe is answered at once. Until then a sanitized build on a busy machine may take a while.
for _ in $(seq 60); do
    sent=$(ip netns exec "$NSC" timeout 30 "$BIN/tolvane-probe" send "$BRIDGE_IP" "op model ?" --timeout 2000 2>&1) \
        && break
    sleep 0.5
done
check "send gets the bridge's own answer over TCP" "OP MODEL=KT5520M" "$sent"

# A probe that must be answered waits long (WAIT=6000); one that must not, as long as it takes to be sure.
probe() { # [discover options...]: the raw replies, then the exit code
    local out
    out=$(ip netns exec "$NSC" timeout 30 "$BIN/tolvane-probe" discover --raw --wait "${WAIT:-1500}" "$@" 2>"$WORK/probe.err")
    printf '%s\nexit %s' "$out" "$?"
}
reply() { printf '%s\nexit 0' "ip=${2:-$BRIDGE_IP};mac=${3:-$MAC};model=KT5520M;serial=Tolvane-$1;"; }
NONE=$(printf '\nexit 1')

check "broadcast probe answered with the bridge's address and MAC, counter 0" "$(reply 0)" "$(WAIT=6000 probe)"
check "lower case ?zz? is ignored" "$NONE" "$(probe --payload '?zz?')"
check "a probe after a zero byte is ignored" "$NONE" "$(probe --payload 'x\0?ZZ?')"
check "unicast probe after a reply is answered, counter 1" "$(reply 1)" "$(WAIT=6000 probe --to "$BRIDGE_IP")"
check "a probe inside other text, twice, gets one reply, counter 2" "$(reply 2)" "$(WAIT=6000 probe --payload 'hello ?ZZ? and ?ZZ?')"

# An interface named with "VM" is never the one the reply names.
ip -n "$NSB" link set vb0 down
ip -n "$NSB" link set vb0 name vethVM0
ip -n "$NSB" link set vethVM0 up
ip -n "$NSB" route replace default via "$CLIENT_IP" dev vethVM0
check "with only a VM interface the reply says ???" "$(reply 3 '???' '???')" "$(WAIT=6000 probe)"

[ "$FAILED" -eq 0 ] || tail -n 40 "$WORK/bridge.log"
echo "e2e_discovery: $FAILED failed"
[ "$FAILED" -eq 0 ]
