#!/usr/bin/env bash
# The real program, started as a technician starts it: under Xvfb, on a virtual projector's terminal
# named in its Tolvane.ini, no box in the way. Its window shows, the projector answers through it, and
# closing the window ends it with 0.
# Usage: bash tests/e2e_window.sh BUILD/bin
set -uo pipefail

BIN=$(cd "${1:?usage: e2e_window.sh BUILD/bin}" && pwd)
HERE=$(cd "$(dirname "$0")/.." && pwd)
source "$HERE/scripts/lib/netns.sh"
netns_inside "$0" || "$HERE/scripts/deps.sh" xvfb xdotool python3 >/dev/null
netns_reexec --timeout 300 "$0" "$BIN"

source "$HERE/scripts/lib/bridge.sh"
source "$HERE/scripts/lib/check.sh"
source "$HERE/scripts/lib/proc.sh"
source "$HERE/scripts/lib/xvfb.sh"

WORK=$(mktemp -d) projector="" bridge=""
trap 'stop_pid "$bridge"; stop_pid "$projector"; xvfb_stop; rm -rf "$WORK"' EXIT
die_details() { tail -n 20 "$WORK/tolvane.log"; }

xvfb_start "$WORK/xvfb.log" || die "Xvfb did not start"
# The bridge hands on one line per arrival: a slow (sanitized) bridge must not get echo and reply as one.
"$BIN/virtual-projector" --delay 300 >"$WORK/projector.out" 2>/dev/null &
projector=$!
pty=$(projector_path "$WORK/projector.out" "$projector") || die "the projector named no terminal"
TOLVANE_BUILD=$BIN/.. write_tolvane_ini "$WORK/data" "$pty" || die "no Tolvane.ini"

mkdir -p "$WORK/runtime" && chmod 700 "$WORK/runtime"
env -u QT_QPA_PLATFORM HOME="$WORK" XDG_DATA_HOME="$WORK/data" XDG_CONFIG_HOME="$WORK/config" \
    XDG_RUNTIME_DIR="$WORK/runtime" TOLVANE_SERIAL_PORTS="$pty" "$BIN/tolvane" >"$WORK/tolvane.log" 2>&1 &
bridge=$!

# Only loopback in here, so the title ends in ???; the open port follows it.
title="Tolvane-$("$BIN/tolvane-probe" --version | awk '{print $NF}') UDPRX@35070/IP@??? >>>$pty"
window=$(timeout 60 xdotool search --sync --onlyvisible --name '^Tolvane-' 2>/dev/null | head -n 1)
[ -n "$window" ] || die "no window titled Tolvane-... appeared"
check "the window's title is '$title'" [ "$(xdotool getwindowname "$window")" = "$title" ]
check "it is the only window on screen (no box)" \
    [ "$(xdotool search --onlyvisible --pid "$bridge" 2>/dev/null | wc -l)" -eq 1 ]
check "the projector answers through the bridge" \
    [ "$("$BIN/tolvane-probe" send 127.0.0.1 'op status ?' --timeout 30000)" = 'OP STATUS=1\r\n' ]

python3 "$HERE/scripts/lib/wmclose.py" "$bridge" "Tolvane-" --wait 30 || die "could not close the window"
timeout 60 tail --pid="$bridge" -f /dev/null || die "tolvane still runs 60 s after its window was closed"
rc=0
wait "$bridge" || rc=$?
bridge=""
check "closing the window ends tolvane with 0 (got $rc)" [ "$rc" -eq 0 ]

echo "e2e_window: $FAILS failed"
[ "$FAILS" -eq 0 ]
