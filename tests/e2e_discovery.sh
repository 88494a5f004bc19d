#!/usr/bin/env bash
# Discovery end to end: the bridge's replies to probes, and tolvane-probe discover, send and survey
# (text and JSON). Three "rooms", each a private network namespace joined to the prober's namespace by
# a veth pair: a bridge with a projector, a bridge without a serial port, and a fake that answers
# discovery but refuses TCP. Then 200 fake bridges on loopback addresses in a namespace of their own.
# Probes and replies are broadcasts, so nothing here runs in the machine's own namespace.
# Usage: e2e_discovery.sh BUILD/bin   (needs root: ip netns)
set -uo pipefail

BIN=$(cd "${1:?usage: e2e_discovery.sh BUILD/bin}" && pwd)
HERE=$(cd "$(dirname "$0")/.." && pwd)
source "$HERE/scripts/lib/netns.sh"
netns_reexec "$0" "$BIN"
source "$HERE/scripts/lib/bridge.sh"
source "$HERE/scripts/lib/check.sh"
source "$HERE/scripts/lib/proc.sh"
FAKE=$HERE/tests/support/fake_bridges.py
NSC=tolvane-survey-probe-$$ NSF=tolvane-survey-fleet-$$ ROOMS=(1 2 3)
WORK=$(mktemp -d) PIDS=()

cleanup() {
    for pid in "${PIDS[@]}"; do stop_pid "$pid"; done
    for r in "${ROOMS[@]}"; do ip netns del "tolvane-survey-room$r-$$" 2>/dev/null; done
    ip netns del "$NSC" 2>/dev/null
    ip netns del "$NSF" 2>/dev/null
    rm -rf "$WORK"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

die_details() { for f in "$WORK"/*.log; do echo "--- $f"; tail -n 15 "$f"; done; }
same() { # WHAT EXPECTED ACTUAL
    check "$1" [ "$2" == "$3" ]
    [ "$2" == "$3" ] || printf '       expected: %q\n       actual:   %q\n' "$2" "$3"
}
probe() { ip netns exec "$NSC" timeout 60 "$BIN/tolvane-probe" "$@"; } # SUB-COMMAND OPTION...
room() { echo "tolvane-survey-room$1-$$"; }
mac() { ip -n "$(room "$1")" -o link show "$2" | sed -n 's|.*link/ether \([0-9a-f:]*\).*|\1|p' | tr a-f A-F; }
# jq-like checks: python3 EXPRESSION over the JSON document in FILE (d), with b(text) its exact bytes.
json_check() { python3 -c 'import codecs, json, sys
d = json.load(open(sys.argv[1])); b = lambda t: codecs.escape_decode(t)[0]
ok = eval("(" + sys.argv[2] + ")"); print("       not true:", sys.argv[2], "in", json.dumps(d)[:600]) if not ok else None
sys.exit(0 if ok else 1)' "$@"; }

# --- the prober's namespace and three rooms, room N at 10.78.N.1, the prober at 10.78.N.2; the
# prober's broadcasts go to room 2
ip netns add "$NSC" 2>"$WORK/netns.err" || die "cannot create network namespaces ($(head -c 200 "$WORK/netns.err")); this test needs root"
ip -n "$NSC" link set lo up
for r in "${ROOMS[@]}"; do
    ns=$(room "$r")
    ip netns add "$ns" && ip -n "$ns" link set lo up &&
        ip -n "$NSC" link add "c$r" type veth peer name "r$r" netns "$ns" &&
        ip -n "$NSC" addr add "10.78.$r.2/24" dev "c$r" && ip -n "$NSC" link set "c$r" up &&
        ip -n "$ns" addr add "10.78.$r.1/24" dev "r$r" && ip -n "$ns" link set "r$r" up &&
        ip -n "$ns" route add default via "10.78.$r.2" || die "cannot set up room $r"
done
ip -n "$NSC" route add default via 10.78.2.1 || die "cannot route the prober's broadcasts"
MAC1=$(mac 1 r1) MAC2=$(mac 2 r2)

# Room 1: a bridge on the virtual projector, which answers 100 ms after its echo (the bridge takes one
# line per arrival of serial data, so the two must not arrive together). Room 2: a bridge without a
# serial port (its "not available" box runs its own event loop meanwhile). Room 3: discovery only.
"$BIN/virtual-projector" --delay 100 >"$WORK/projector.out" 2>"$WORK/projector.log" &
PIDS+=($!)
PTY=$(projector_path "$WORK/projector.out" "${PIDS[-1]}") || die "the projector named no terminal"
write_tolvane_ini "$WORK/room1" "$PTY"
ip netns exec "$(room 1)" env QT_QPA_PLATFORM=offscreen XDG_DATA_HOME="$WORK/room1" TOLVANE_SERIAL_PORTS="$PTY" \
    "$BIN/tolvane" >"$WORK/room1.log" 2>&1 &
PIDS+=($!)
ip netns exec "$(room 2)" env QT_QPA_PLATFORM=offscreen XDG_DATA_HOME="$WORK/room2" TOLVANE_SERIAL_PORTS= \
    "$BIN/tolvane" >"$WORK/room2.log" 2>&1 &
PIDS+=($!)
ip netns exec "$(room 3)" python3 "$FAKE" "$WORK/room3.ready" 10.78.3.1:refuse >"$WORK/room3.log" 2>&1 &
PIDS+=($!)
for r in 1 2; do
    wait_for 300 grep -q "UDPrx Bind 35070 true" "$WORK/room$r.log" || die "the bridge in room $r did not bind UDP 35070 within 30 s"
done
wait_for 300 grep -q "Serial Open" "$WORK/room1.log" || die "the bridge in room 1 did not open the projector's line"
wait_for 100 test -s "$WORK/room3.ready" || die "room 3 did not start"

# --- room 2's bridge. Once it answers over TCP its event loop runs, and from then on a probe is
# answered at once; until then a sanitized build on a busy machine may take a while.
for _ in $(seq 60); do
    sent=$(probe send 10.78.2.1 "op model ?" --timeout 2000 2>&1) && break
    sleep 0.5
done
same "send gets the bridge's own answer over TCP" "OP MODEL=KT5520M" "$sent"

# A probe that must be answered waits long (WAIT=6000); one that must not, as long as it takes to be sure.
raw() { # [discover options...]: the raw replies, then the exit code
    local out
    out=$(probe discover --raw --wait "${WAIT:-1500}" "$@" 2>/dev/null)
    printf '%s\nexit %s' "$out" "$?"
}
reply() { printf '%s\nexit 0' "ip=${2:-10.78.2.1};mac=${3:-$MAC2};model=KT5520M;serial=Tolvane-$1;"; }
NONE=$(printf '\nexit 1')
same "broadcast probe answered with the bridge's address and MAC, counter 0" "$(reply 0)" "$(WAIT=6000 raw)"
same "lower case ?zz? is ignored" "$NONE" "$(raw --payload '?zz?')"
same "a probe after a zero byte is ignored" "$NONE" "$(raw --payload 'x\0?ZZ?')"
same "unicast probe after a reply is answered, counter 1" "$(reply 1)" "$(WAIT=6000 raw --to 10.78.2.1)"
same "a probe inside other text, twice, gets one reply, counter 2" "$(reply 2)" "$(WAIT=6000 raw --payload 'hello ?ZZ? and ?ZZ?')"

# --- survey of the three rooms
probe survey --to 10.78.1.1 --to 10.78.2.1 --to 10.78.3.1 --wait 1500 >"$WORK/survey.out" 2>&1
check "three rooms: exit 1, since one refuses" [ $? -eq 1 ]
row() { grep -qE "^$1 .* $2\$" "$WORK/survey.out"; } # ADDRESS VERDICT
check "room 1: OK with the projector's replies" row "10.78.1.1 +$MAC1 +KT5520M +[0-9]+ +accepted +OP MODEL=KT5520M\\\\r\\\\n +OP STATUS=1\\\\r\\\\n +[0-9.]+ ms" OK
check "room 2: LOCAL, the bridge's own answers" row "10.78.2.1 .* accepted +OP MODEL=KT5520M +op status =NA .*" LOCAL
check "room 3: REFUSED" row "10.78.3.1 +02:00:00:00:00:01 +KT5520M +1 +refused .*" REFUSED

probe survey --to 10.78.1.1 --to 10.78.2.1 --wait 1500 --json >"$WORK/two.json"
check "rooms 1 and 2: exit 0" [ $? -eq 0 ]
check "survey JSON: exact reply bytes and verdicts" json_check "$WORK/two.json" \
    '[(x["address"], x["verdict"], [b(a["reply"]) for a in x["answers"]]) for x in d["bridges"]] ==
     [("10.78.1.1", "OK", [b"OP MODEL=KT5520M\r\n", b"OP STATUS=1\r\n"]),
      ("10.78.2.1", "LOCAL", [b"OP MODEL=KT5520M", b"op status =NA"])] and d["ok"]'

probe survey --to 10.78.3.1 --wait 1000 --query "op lamp ?" --json >"$WORK/refused.json"
check "room 3 alone: exit 1; JSON says refused and asks nothing" json_check "$WORK/refused.json" "$? == 1 and "\
'[(x["tcp"], x["verdict"], [a["outcome"] for a in x["answers"]]) for x in d["bridges"]] == [("refused", "REFUSED", ["not asked"])]'

probe discover --to 10.78.1.1 --wait 1500 --json >"$WORK/discover.json"
check "discover JSON: room 1's reply, read and raw" json_check "$WORK/discover.json" \
    'd["bridges"] == 1 and d["replies"][0]["mac"] == "'"$MAC1"'" and d["replies"][0]["from"] == "10.78.1.1"
     and b(d["replies"][0]["bytes"]).startswith(b"ip=10.78.1.1;mac=")'
probe send 10.78.1.1 "op status ?" --json >"$WORK/send.json"
check "send JSON: the exact reply" json_check "$WORK/send.json" 'b(d["reply"]) == b"OP STATUS=1\r\n" and d["error"] is None'
probe send 10.78.3.1 "op status ?" --json >"$WORK/refused-send.json" 2>/dev/null
check "send JSON on a refused connection: exit 1 and the reason" json_check "$WORK/refused-send.json" "$? == 1 and "\
'd["reply"] is None and d["error"] == "connection refused by 10.78.3.1:7000"'

# --- an interface named with "VM" is never the one room 2's reply names (its counter is 5 by now)
ns=$(room 2)
ip -n "$ns" link set r2 down && ip -n "$ns" link set r2 name r2VM && ip -n "$ns" link set r2VM up &&
    ip -n "$ns" route replace default via 10.78.2.2 dev r2VM || die "cannot rename room 2's interface"
same "with only a VM interface the reply says ???" "$(reply 5 '???' '???')" "$(WAIT=6000 raw)"

# --- 200 fake bridges on loopback, in a namespace of their own: every row, within the timeouts
# The fakes send from ports the system picks, which must never be the one the prober listens on.
ip netns add "$NSF" && ip -n "$NSF" link set lo up &&
    ip netns exec "$NSF" sysctl -qw net.ipv4.ip_local_port_range="40000 60999" || die "cannot create the fleet's namespace"
fleet=()
for n in $(seq 200); do
    mode=answer
    ((n % 10 == 0)) && mode=refuse
    ((n % 10 == 5)) && mode=silent
    fleet+=("127.0.$((n / 256)).$((n % 256)):$mode")
done
fleet+=(127.0.1.200:garbled)
ip netns exec "$NSF" python3 "$FAKE" "$WORK/fleet.ready" "${fleet[@]}" >"$WORK/fleet.log" 2>&1 &
PIDS+=($!)
wait_for 100 test -s "$WORK/fleet.ready" || die "the fake fleet did not start"
start=$(date +%s%N)
ip netns exec "$NSF" timeout 60 "$BIN/tolvane-probe" survey --to 127.0.0.1 --wait 1000 --timeout 1000 >"$WORK/fleet.out" 2>&1
rc=$?
elapsed=$((($(date +%s%N) - start) / 1000000))
count() { grep -cE " $1\$" "$WORK/fleet.out"; }
check "200 bridges: exit 1 (some refuse, some are silent), done in ${elapsed} ms" [ $rc -eq 1 ]
check "200 bridges: 160 OK, 20 NO ANSWER, 20 REFUSED" [ "$(count OK) $(count "NO ANSWER") $(count REFUSED)" = "160 20 20" ]
check "the malformed reply gets a line of its own" grep -q '^unreadable reply from 127.0.1.200:[0-9]*: ip=127.0.1.200;mac=\\xff;model$' "$WORK/fleet.out"

[ "$FAILS" -eq 0 ] || { echo "--- three rooms"; cat "$WORK/survey.out"; echo "--- room 2"; tail -n 30 "$WORK/room2.log"; echo "--- fleet"; head -n 5 "$WORK/fleet.out"; }
echo "e2e_discovery: $FAILS failed"
[ "$FAILS" -eq 0 ]
