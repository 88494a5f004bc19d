#!/usr/bin/env bash
# valgrind memcheck over the whole road: Tolvane (normal build) on a virtual projector, under Xvfb in
# a private network namespace. Commands, junk, markup and connection cycles over TCP, datagrams and
# probes over UDP, the device unplugged (its "Critical Error" box closed like a user would), then the
# window closed, so the program ends through its own shut-down.
# Fails on any memcheck error and on any block definitely lost with our code (app/, net/, settings/,
# core/) on its allocation stack; leaks inside system libraries alone are listed, not failed.
# Needs root (network namespace); valgrind, Xvfb and python3 are installed if missing. Bounded by
# MEMCHECK_BUDGET (default 600 s; valgrind on a busy machine is slow).
set -euo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
source "$root/scripts/lib/bridge.sh"
source "$root/scripts/lib/proc.sh"
source "$root/scripts/lib/xvfb.sh"
source "$root/scripts/lib/netns.sh"
source "$root/bench/lib.sh"
bin=${TOLVANE_BUILD:-$root/build}/bin
budget=${MEMCHECK_BUDGET:-600}

if ! netns_inside "$0"; then
    "$root/scripts/deps.sh" valgrind xvfb python3
    for tool in tolvane virtual-projector; do
        [ -x "$bin/$tool" ] || { echo "memcheck: $bin/$tool missing (build it first)" >&2; exit 1; }
    done
fi
netns_reexec --timeout "$budget" "$0" "$@"

work=$(mktemp -d /tmp/tolvane-memcheck.XXXXXX)
pids=()
bridge_pid=
failed=0
cleanup() {
    local pid
    for pid in $bridge_pid "${pids[@]}"; do
        kill -TERM "$pid" 2>/dev/null || true
    done
    wait 2>/dev/null || true
    if [ $failed -eq 0 ]; then rm -rf "$work"; else echo "memcheck: logs kept in $work"; fi
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; failed=1; }
tvbench=$(tvbench_build "$bin/..")
driver() { "$tvbench" "$@" --budget 60 --seed 7 --projector-log "$work/projector.log"; }

# One namespace; the veth pair gives the limited broadcast of the discovery reply somewhere to go, and
# the local listener gets its copy.
ip link add mc0 type veth peer name mc1
ip addr add 10.205.0.1/24 dev mc0
ip link set mc0 up
ip link set mc1 up
ip route add default dev mc0
mac=$(ip -o link show mc0 | awk '{ for (i = 1; i < NF; i++) if ($i == "link/ether") print toupper($(i + 1)) }')

xvfb_start "$work/xvfb.log" || { fail "Xvfb did not start"; exit 1; }
pids+=("$XVFB_PID")

"$bin/virtual-projector" --log "$work/projector.log" --baud 115200 --delay 300 \
    --set 'img=<img src="/dev/zero"><b><i>deep</i></b>' >"$work/projector.out" 2>&1 &
projector_pid=$!
pids+=("$projector_pid")
pty=$(projector_path "$work/projector.out" "$projector_pid" || true)
case $pty in /dev/pts/*) ;; *) fail "virtual-projector printed no pty path"; exit 1 ;; esac
write_tolvane_ini "$work/data" "$pty" 115200

# Under Xvfb whatever the caller set (test.sh runs everything else offscreen).
# Suppressions cover system libraries only (bench/memcheck.supp); our code is never suppressed.
start=$SECONDS
QT_QPA_PLATFORM=xcb QT_XCB_GL_INTEGRATION=none XDG_DATA_HOME=$work/data XDG_RUNTIME_DIR=$work TOLVANE_SERIAL_PORTS=$pty \
DBUS_SESSION_BUS_ADDRESS=unix:path=$work/no-bus \
    valgrind --tool=memcheck --error-exitcode=97 --leak-check=full --show-leak-kinds=definite \
    --errors-for-leak-kinds=none --num-callers=40 --fullpath-after="$root/" \
    --suppressions="$root/bench/memcheck.supp" --gen-suppressions=all --log-file="$work/memcheck.log" \
    "$bin/tolvane" >"$work/tolvane.log" 2>&1 &
bridge_pid=$!

echo "=== memcheck: start-up"
driver wait-listen || { fail "the bridge never listened on TCP 7000"; exit 1; }
echo "  listening after $((SECONDS - start)) s"

echo "=== memcheck: traffic"
driver command --send $'op model ?\r\n' --expect $'OP MODEL=KT5520M\r\n' || fail "\"op model ?\" not answered exactly"
driver udp --count 40 --bridge 10.205.0.1 --mac "$mac" --state "$work/counter" --reply-timeout 20 || fail "datagrams"
driver udp --count 10 --markup --bridge 10.205.0.1 --mac "$mac" --state "$work/counter" --reply-timeout 20 || fail "markup datagrams"
driver tcp-flood --bytes 20000 --rtt-every 10000 || fail "junk over TCP"
driver markup --rounds 1 --set='img=<img src="/dev/zero"><b><i>deep</i></b>' || fail "markup over TCP and from the device"
driver cycles --count 30 || fail "connection cycles"
driver command --send $'op status ?\r\n' --expect $'OP STATUS=1\r\n' || fail "\"op status ?\" not answered exactly"

echo "=== memcheck: the device goes away"
kill -TERM "$projector_pid"
python3 "$root/scripts/lib/wmclose.py" "$bridge_pid" "Critical Error" --wait 120 || fail "no \"Critical Error\" box"
driver command --send $'op status ?\r\n' || fail "a command after the loss was not read"

echo "=== memcheck: the window closes"
python3 "$root/scripts/lib/wmclose.py" "$bridge_pid" "Tolvane" --wait 120 || fail "the main window was not found"
status=0
for _ in $(seq 1800); do
    kill -0 "$bridge_pid" 2>/dev/null || break
    sleep 0.1
done
if kill -0 "$bridge_pid" 2>/dev/null; then
    fail "the bridge did not end within 180 s of closing its window"
    kill -TERM "$bridge_pid"
fi
wait "$bridge_pid" || status=$?
bridge_pid=
echo "  ended with status $status after $((SECONDS - start)) s"

# The program's own process (valgrind also reports for forks that never exec'd).
main_pid=$(grep -m1 -oE '^==[0-9]+== Command:' "$work/memcheck.log" | grep -oE '[0-9]+')
grep "^==$main_pid==" "$work/memcheck.log" >"$work/main.log"
errors=$(grep -oE 'ERROR SUMMARY: [0-9]+' "$work/main.log" | grep -oE '[0-9]+$' || echo "?")
[ "$status" -eq 0 ] || fail "exit status $status (97: memcheck errors)"
[ "$errors" = 0 ] || { fail "$errors memcheck errors"; grep -A30 -m3 -E 'Invalid|uninitialised|Mismatched|overlap' "$work/main.log" | head -n 80; }

# Definitely lost blocks, each with its allocation stack; ours if a frame is in our source folders.
python3 - "$work/main.log" <<'EOF' || failed=1
import re, sys
text = open(sys.argv[1]).read()
records = re.split(r"\n(?===\d+== \S.* are definitely lost in loss record)", text)
ours, theirs = [], []
for record in records:
    if "are definitely lost in loss record" not in record:
        continue
    lines = [l.split("== ", 1)[-1] for l in record.splitlines()]
    stack = []
    for l in lines[1:]:
        if not re.match(r"\s+(at|by) 0x", l):
            break
        stack.append(l.strip())
    entry = "\n    ".join([lines[0].strip()] + stack)
    # main() is on every stack of the event loop; it alone does not make a block ours.
    if any(re.search(r"\((app|net|settings|core)/[^:()]+:\d+\)|_autogen/", f) and "(app/main.cpp:" not in f for f in stack):
        ours.append(entry)
    else:
        theirs.append(entry)
summary = re.findall(r"definitely lost: .*|indirectly lost: .*|possibly lost: .*", text)
print("  " + "; ".join(s.strip() for s in summary))
print("  definitely lost inside system libraries only: %d record(s)" % len(theirs))
for entry in ours:
    print("FAIL: definitely lost with our code on the stack:\n    " + entry)
sys.exit(1 if ours else 0)
EOF

if [ $failed -eq 0 ]; then
    echo "memcheck: no errors, nothing of ours definitely lost ($((SECONDS)) s)"
fi
exit $failed
