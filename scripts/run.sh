#!/usr/bin/env bash
# Builds Tolvane into build/ and starts it.
#   scripts/run.sh                       the bridge on this machine's serial ports
#   scripts/run.sh --virtual-projector [PROJECTOR OPTION]...
#                                        the bridge on a stand-in projector (options: see
#                                        build/bin/virtual-projector --help; default --delay 100),
#                                        with a settings folder of its own, removed on exit
# Without a display the program runs under Xvfb, so the bridge still works (TCP 7000, UDP 35070).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
source scripts/lib/bridge.sh
source scripts/lib/proc.sh
source scripts/lib/xvfb.sh

virtual=0
if [ "${1:-}" = "--virtual-projector" ]; then
    virtual=1
    shift
fi
args=("$@")

scripts/deps.sh
targets=(tolvane)
[ $virtual -eq 1 ] && targets+=(virtual-projector tolvane-probe)
scripts/build.sh build -- "${targets[@]}"

# Everything started here stops when this script does.
work=$(mktemp -d)
projector_pid=
cleanup() {
    stop_pid "$projector_pid"
    xvfb_stop
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "run: no DISPLAY or WAYLAND_DISPLAY: running Tolvane under Xvfb (no window to see; the bridge still works)"
    xvfb_start "$work/xvfb.log"
fi

status=0
if [ $virtual -eq 0 ]; then
    build/bin/tolvane "${args[@]}" || status=$?
    exit $status
fi

# A stand-in projector on a pseudo-terminal, and a settings folder of our own pointing at it.
# The bridge takes one line per burst of serial data, as with a real projector, which answers a
# while after echoing; so give the stand-in a projector's pace unless told otherwise.
[ ${#args[@]} -gt 0 ] || args=(--delay 100)
build/bin/virtual-projector "${args[@]}" >"$work/projector.out" &
projector_pid=$!
port=$(projector_path "$work/projector.out" "$projector_pid") \
    || { echo "run: virtual-projector stopped without naming its terminal" >&2; exit 1; }
write_tolvane_ini "$work/data" "$port"
echo "run: virtual projector on $port (settings under $work/data)"

XDG_DATA_HOME=$work/data TOLVANE_SERIAL_PORTS=$port build/bin/tolvane || status=$?
exit $status
