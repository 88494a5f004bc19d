#!/usr/bin/env bash
# tolvane-probe watch against the real bridge and the virtual projector, in a network namespace of
# its own (the bridge listens on its fixed ports there): a hundred commands with exact reply bytes in
# JSON, --pace in the timestamps, a bridge restarted mid-run, and a silenced projector.
# Usage: e2e_watch.sh BUILD/bin   (needs unshare -n)
set -uo pipefail

BIN=$(cd "${1:?usage: e2e_watch.sh BUILD/bin}" && pwd)
HERE=$(cd "$(dirname "$0")/.." && pwd)
source "$HERE/scripts/lib/netns.sh"
netns_reexec "$0" "$BIN"
source "$HERE/scripts/lib/bridge.sh"
source "$HERE/scripts/lib/check.sh"
source "$HERE/scripts/lib/proc.sh"

WORK=$(mktemp -d) PROJECTOR= BRIDGE= WATCH=
trap 'stop_pid "$WATCH"; stop_pid "$BRIDGE"; stop_pid "$PROJECTOR"; rm -rf "$WORK"' EXIT
PROBE=$BIN/tolvane-probe

die_details() { tail -n 20 "$WORK/bridge.log" 2>/dev/null; }
json_check() { python3 "$WORK/check.py" "$@"; } # FILE EXPRESSION: EXPRESSION true of the watch's JSON lines

start_projector() { # OPTION...
    "$BIN/virtual-projector" --log "$WORK/projector.log" "$@" >"$WORK/projector.out" 2>&1 &
    PROJECTOR=$!
    PTY=$(projector_path "$WORK/projector.out" "$PROJECTOR") || die "the projector named no terminal"
    write_tolvane_ini "$WORK/data" "$PTY"
}
# Ready once it listens and has the projector's line open, as its trace says. (Not by connecting: the
# bridge serves its newest client only, so a test connection could take it from the watch.)
start_bridge() {
    : >"$WORK/bridge.log"
    XDG_DATA_HOME=$WORK/data TOLVANE_SERIAL_PORTS=$PTY QT_QPA_PLATFORM=offscreen "$BIN/tolvane" >"$WORK/bridge.log" 2>&1 &
    BRIDGE=$!
    wait_for 300 grep -q "Serial Open" "$WORK/bridge.log" && grep -q "Server started: 7000" "$WORK/bridge.log" ||
        die "the bridge did not listen on TCP 7000 with the projector's line open within 30 s"
}

# Reads the JSON lines once (they must all parse), then evaluates one expression over them:
# cmds (the command events), summary, replies (their exact bytes), gaps (ms between replies).
cat >"$WORK/check.py" <<'PY'
import codecs, json, sys
events = [json.loads(line) for line in open(sys.argv[1])]
cmds = [e for e in events if e["event"] == "command"]
summary = events[-1] if events and events[-1]["event"] == "summary" else {}
replies = [codecs.escape_decode(c["reply"])[0] if c["reply"] is not None else None for c in cmds]
gaps = [b["t_ms"] - a["t_ms"] for a, b in zip(cmds, cmds[1:])]
ok = eval("(" + sys.argv[2] + ")")
if not ok:
    print("       not true:", sys.argv[2], "| summary:", summary, "| first replies:", replies[:4], "| gaps:", gaps[:5])
sys.exit(0 if ok else 1)
PY

# --- a hundred commands: every reply exact, NUL and a non-UTF-8 byte included. The projector answers
# 100 ms after its echo: the bridge takes one line per arrival of serial data.
start_projector --delay 100 --set 'lamp=1\x00\xff'
start_bridge
"$PROBE" watch 127.0.0.1 "op model ?" "op lamp ?" --count 100 --every 0 --pace 0 --json >"$WORK/hundred.json"
check "100 commands: exit 0, exact replies in turn" json_check "$WORK/hundred.json" \
    "$? == 0 and "'replies == [b"OP MODEL=KT5520M\r\n", b"OP LAMP=1\x00\xff\r\n"] * 50'
check "sane latencies, summary adds up" json_check "$WORK/hundred.json" \
    'all(0 < c["latency_ms"] < 2000 for c in cmds) and summary["sent"] == summary["answered"] == 100
     and summary["timeouts"] == summary["reconnects"] == 0
     and summary["latency_ms"]["min"] <= summary["latency_ms"]["p50"] <= summary["latency_ms"]["p99"] <= summary["latency_ms"]["max"]'

"$PROBE" watch 127.0.0.1 "op model ?" --count 2 --every 0 >"$WORK/text.out"
check "text lines: the escaped reply and the latency; the summary" grep -qE '^[0-9:.]{12}  op model \?  ->  OP MODEL=KT5520M\\r\\n  [0-9.]+ ms$' "$WORK/text.out"
check "text summary" grep -q '^127.0.0.1:7000: 2 sent, 2 answered, 0 timeouts, 0 closed, 0 not sent, 0 reconnects$' "$WORK/text.out"

# --- --pace: replies at least that far apart
"$PROBE" watch 127.0.0.1 "op model ?" --count 4 --every 0 --pace 300 --json >"$WORK/pace.json"
check "--pace 300: replies at least 300 ms apart" json_check "$WORK/pace.json" 'len(gaps) == 3 and min(gaps) >= 300'

# --- the bridge restarted mid-run: said so, and watched on; Ctrl+C still gives the summary
"$PROBE" watch 127.0.0.1 "op model ?" --every 100 --timeout 1000 >"$WORK/restart.out" 2>&1 &
WATCH=$!
answered() { [ "$(grep -c -- "->  OP MODEL" "$WORK/restart.out")" -ge "$1" ]; }
wait_for 100 answered 3 || die "watch did not get three replies within 10 s"
stop_pid "$BRIDGE"
start_bridge
wait_for 300 grep -q "reconnected to 127.0.0.1:7000" "$WORK/restart.out"
after=$(grep -c -- "->  OP MODEL" "$WORK/restart.out")
wait_for 100 answered $((after + 2))
kill -INT "$WATCH"
wait_for 50 grep -q "^latency:" "$WORK/restart.out"
stop_pid "$WATCH"
WATCH=
check "the closed connection is reported" grep -q "connection closed by 127.0.0.1:7000" "$WORK/restart.out"
check "the reconnection is reported" grep -q "reconnected to 127.0.0.1:7000" "$WORK/restart.out"
check "answers again after reconnecting" answered $((after + 2))
check "summary on Ctrl+C counts the reconnection" grep -qE '^127.0.0.1:7000: .* [1-9][0-9]* reconnects$' "$WORK/restart.out"

# --- the projector silenced: timeouts, exit 1
stop_pid "$BRIDGE"
stop_pid "$PROJECTOR"
start_projector --silent
start_bridge
"$PROBE" watch 127.0.0.1 "op model ?" --count 3 --every 0 --timeout 300 >"$WORK/silent.out"
check "silenced projector: exit 1" [ $? -eq 1 ]
check "silenced projector: three TIMEOUT lines" [ "$(grep -c -- '->  TIMEOUT' "$WORK/silent.out")" -eq 3 ]
check "silenced projector: summary" grep -q ': 3 sent, 0 answered, 3 timeouts' "$WORK/silent.out"

[ "$FAILS" -eq 0 ] || { echo "--- restart run"; cat "$WORK/restart.out"; echo "--- bridge"; tail -n 20 "$WORK/bridge.log"; echo "--- projector"; tail -n 30 "$WORK/projector.log"; }
echo "e2e_watch: $FAILS failed"
[ "$FAILS" -eq 0 ]
