#!/usr/bin/env bash
# Takes docs/screenshot.png: the real Tolvane window under Xvfb, with a window manager for the title
# bar, bridged to the virtual projector, after a few commands over TCP and one datagram (all sent to
# loopback).
# Everything runs in a private network namespace (unshare -n, loopback only), so nothing leaves
# this machine and no real serial port is touched.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
source scripts/lib/bridge.sh
source scripts/lib/proc.sh
source scripts/lib/xvfb.sh
source scripts/lib/netns.sh

if ! netns_inside "$0"; then
    scripts/deps.sh
    scripts/deps.sh imagemagick x11-utils openbox # screen capture, window lookup, a window manager
    scripts/build.sh build -- tolvane virtual-projector tolvane-probe
    mkdir -p docs
fi
netns_reexec --timeout 120 "$0"

# --- inside the private network namespace ---
# A stand-in network card (a veth pair that exists only in here) with a documentation address, so the
# title shows an address as on a real machine. Nothing is ever sent to it.
if ip link add eth0 type veth peer name eth1 2>/dev/null; then
    ip addr add 192.0.2.10/24 dev eth0
    ip link set eth0 up
    ip link set eth1 up
fi
work=$(mktemp -d)
pids=()
cleanup() {
    local i
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        stop_pid "${pids[$i]}"
    done
    xvfb_stop
    rm -rf "$work"
}
trap cleanup EXIT

xvfb_start "$work/xvfb.log" 1180x760x24
openbox >"$work/openbox.log" 2>&1 &
pids+=($!)

build/bin/virtual-projector --delay 20 >"$work/projector.out" &
pids+=($!)
port=$(projector_path "$work/projector.out" "$!") || { echo "screenshot: the projector named no terminal" >&2; exit 1; }

write_tolvane_ini "$work/data" "$port"
XDG_DATA_HOME=$work/data TOLVANE_SERIAL_PORTS=$port build/bin/tolvane >"$work/tolvane.log" 2>&1 &
pids+=($!)
title="Tolvane-$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/CMakeCache.txt)"
wait_for 100 bash -c "xwininfo -root -tree | grep -qF '\"$title '" || { echo "screenshot: no window '$title'" >&2; exit 1; }

# A control program's session: each command, then its reply. The bridge closes its current client
# whenever any earlier client leaves, so connect once and keep that connection.
connected=0
for _ in $(seq 50); do
    if exec 3<>/dev/tcp/127.0.0.1/7000; then connected=1; break; fi 2>/dev/null
    sleep 0.1
done
[ $connected -eq 1 ] || { echo "screenshot: the bridge does not listen on TCP 7000" >&2; exit 1; }
for command in "op status ?" "op input ?" "op lamp ?"; do
    printf '%s' "$command" >&3
    read -r -t 3 -u 3 reply || true
    echo "screenshot: $command -> ${reply%$'\r'}"
done
# Any datagram on the bridge's UDP port is shown; this one is not a discovery probe.
printf 'hello from the screenshot script' >/dev/udp/127.0.0.1/35070
sleep 1 # let the panes repaint
exec 3>&-

import -window root "$work/screen.png"
convert "$work/screen.png" -trim +repage "$root/docs/screenshot.png"
identify "$root/docs/screenshot.png"
