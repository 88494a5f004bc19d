#!/usr/bin/env bash
# A bounded soak: hostile traffic thrown at a running Tolvane on a virtual projector, inside a private
# network namespace, then checks that it is alive, still answers a command and a probe exactly, never
# opened a file, device or URL because of markup, and that the sanitizers reported nothing.
#
#   bench/soak.sh [--short] [--bin DIR] [--seed N] [--no-strace] [--keep]
#
#   --short      CI size (about two minutes) instead of the full run (seven to ten minutes)
#   --bin DIR    where tolvane and virtual-projector are (default build-asan/bin, else build/bin)
#   --seed N     random seed for the traffic (default: from the clock; printed, so a run can be repeated)
#   --no-strace  do not trace the bridge's file and connect calls
#   --keep       keep the work folder (logs, strace, sanitizer reports) and print its path
#
# Phases: 1 MiB of junk TCP bytes (random, NUL bytes, invalid UTF-8, "op " prefixes, huge lines) with
# 10,000 datagrams alongside (probes among them, answered to a client in a second namespace across a
# veth pair); 2,000 connect/close cycles, two clients fighting over the port among them; markup in
# datagrams, TCP text and projector replies (images and style sheets pointing at files, devices and
# URLs, thousands of nested tags); a checkpoint after each (exact "op model ?" answer, exact probe
# reply with the counter going on); the device unplugged while commands and probes keep coming. The
# unplug leaves the "Critical Error" box up (offscreen, nobody closes it): the bridge must go on
# working inside the box's event loop. The traffic comes from bench/tvbench.cpp.
# Limits: every probe answered within 10 s, every TCP chunk read within 30 s, every device answer let
# out (late ones by further commands, as the bridge takes one device line per arrival of data).
# Findings: any limit missed, a wrong or missing answer, a file, device or URL opened (strace, and a
# listener on the URL's address), the bridge gone, a sanitizer report. Latencies are reported.
# Needs root (network namespaces), cmake and a C++ compiler (for tvbench), strace.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/lib/bridge.sh"
source "$root/scripts/lib/proc.sh"
source "$root/scripts/lib/netns.sh"
source "$root/bench/lib.sh"
short=0
bin=
seed=
use_strace=1
keep=0
while [ $# -gt 0 ]; do
    case $1 in
        --short) short=1 ;;
        --bin) bin=${2:?--bin needs a folder}; shift ;;
        --seed) seed=${2:?--seed needs a number}; shift ;;
        --no-strace) use_strace=0 ;;
        --keep) keep=1 ;;
        -h|--help) sed -n '2,/^set -euo/{/^set -euo/!p}' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
        *) echo "soak: unknown option $1" >&2; exit 2 ;;
    esac
    shift
done
if [ -z "$bin" ]; then
    bin=$root/build/bin
    [ -x "$root/build-asan/bin/tolvane" ] && bin=$root/build-asan/bin
fi
bin=$(cd "$bin" && pwd)
for tool in tolvane virtual-projector; do
    [ -x "$bin/$tool" ] || { echo "soak: $bin/$tool missing (build it first)" >&2; exit 2; }
done
seed=${seed:-$(date +%s)}

# Everything below runs in a network namespace of our own: the bridge answers probes with broadcasts.
if ! netns_inside "$0"; then
    netns_available soak || exit 2
    TOLVANE_SOAK_TVBENCH=$(tvbench_build "$bin/..") || { echo "soak: tvbench did not build" >&2; exit 2; }
    export TOLVANE_SOAK_TVBENCH
    args=(--bin "$bin" --seed "$seed")
    [ $short -eq 1 ] && args+=(--short)
    [ $use_strace -eq 1 ] && [ -n "$(command -v strace)" ] || args+=(--no-strace)
    [ $keep -eq 1 ] && args+=(--keep)
    netns_reexec "$0" "${args[@]}"
fi
tvbench=$TOLVANE_SOAK_TVBENCH

if [ $short -eq 1 ]; then
    tcp_bytes=$((256 * 1024)) datagrams=2500 cycles=300 markup_rounds=1 markup_datagrams=300 budget=200
else
    tcp_bytes=$((1024 * 1024)) datagrams=10000 cycles=2000 markup_rounds=3 markup_datagrams=1000 budget=900
fi
deadline=$((SECONDS + budget))

work=$(mktemp -d /tmp/tolvane-soak.XXXXXX)
results=$work/results.txt
pids=()      # every process started here, stopped by PID on exit
failures=()
bridge_pid=
PEER_PID=
cleanup() {
    local pid
    for pid in $bridge_pid "${pids[@]}" $PEER_PID; do
        stop_pid "$pid" || true # a failing wait must not end the clean-up
    done
    if [ $keep -eq 1 ] || [ ${#failures[@]} -gt 0 ]; then
        echo "soak: logs kept in $work"
    else
        rm -rf "$work"
    fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

fail() { echo "FAIL: $*"; failures+=("$*"); }
left() { local l=$((deadline - SECONDS)); [ $l -gt 5 ] || l=5; echo $l; }
driver() { # [--peer] PHASE OPTION...: one phase of traffic, from here or from the peer's namespace
    local ns=()
    if [ "$1" = --peer ]; then
        ns=("${PEER[@]}")
        shift
    fi
    timeout -k 5 "$(left)" "${ns[@]}" "$tvbench" "$@" --results "$results" --seed "$seed" --budget "$(left)" \
        --projector-log "$work/projector.log"
}

echo "soak: $([ $short -eq 1 ] && echo short || echo full) run, seed $seed, binaries from $bin"
if ldd "$bin/tolvane" | grep -q libasan; then
    echo "soak: AddressSanitizer + UndefinedBehaviorSanitizer build"
else
    echo "soak: not a sanitizer build: behaviour is checked, memory errors would go unseen"
fi

# --- The bridge here (10.203.0.1), the discovery client and the URL trap in a second namespace.
peer_netns sk0 10.203.0.1 10.203.0.2 $((budget + 120))
ip -6 addr add fd42:203::1/64 dev sk0 nodad
"${PEER[@]}" ip -6 addr add fd42:203::2/64 dev sk0-peer nodad

# --- The virtual projector, with markup in some of its answers.
markup_sets=(
    'img=<img src="/dev/zero">'
    'passwd=<img src="file:///etc/passwd">'
    'css=<link rel=stylesheet href="file:///etc/passwd"><style>p{background:url(/dev/zero)}</style><p>x</p>'
    'web=<img src="http://10.203.0.2:8099/reply.png"><a href="http://10.203.0.2:8099/">here</a>'
    "deep=$(printf '<b>%.0s' $(seq 2000))deep"
    "tables=$(printf '<table><tr><td>%.0s' $(seq 300))cell"
)
# Paced like a serial line, answering 30 ms after the echo: the bridge takes one line per arrival of
# data (by design), so lines that arrive in one read wait for later arrivals; pacing keeps them apart.
"$bin/virtual-projector" --log "$work/projector.log" --baud 115200 --delay 30 "${markup_sets[@]/#/--set=}" \
    >"$work/projector.out" 2>"$work/projector.err" &
projector_pid=$!
pids+=("$projector_pid")
pty=$(projector_path "$work/projector.out" "$projector_pid" || true)
case $pty in /dev/pts/*) ;; *) fail "virtual-projector printed no pty path"; exit 1 ;; esac

# --- The bridge: its own settings folder, the projector as the only port.
mkdir -p "$work/san"
write_tolvane_ini "$work/data" "$pty" 115200
# Any sanitizer report ends the bridge with a non-zero status and lands in san/. Leak checking needs
# a clean exit, which a signal does not give; leaks are the memcheck run's business.
export ASAN_OPTIONS="halt_on_error=1:abort_on_error=0:exitcode=86:print_stacktrace=1:detect_leaks=0:detect_stack_use_after_return=1:check_initialization_order=1:log_path=$work/san/asan"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:exitcode=87:log_path=$work/san/ubsan"
launch=()
if [ $use_strace -eq 1 ]; then
    # Only file and connect calls stop the bridge (seccomp filter), so tracing costs little.
    launch=(strace -f --seccomp-bpf -qq -ttt -e trace=%file,connect,execve -o "$work/strace.log")
fi
start_time=$(date +%s.%N)
QT_QPA_PLATFORM=offscreen QT_MESSAGE_PATTERN="%{time boot} %{message}" XDG_DATA_HOME=$work/data XDG_RUNTIME_DIR=$work TOLVANE_SERIAL_PORTS=$pty \
    "${launch[@]}" "$bin/tolvane" >"$work/tolvane.log" 2>&1 &
launcher_pid=$!
pids+=("$launcher_pid")
# The bridge itself: strace's child when traced.
bridge_pid=$launcher_pid
tracee() {
    local p
    for p in $(cat /proc/"$launcher_pid"/task/*/children 2>/dev/null); do
        [ "$(readlink "/proc/$p/exe")" = "$bin/tolvane" ] && bridge_pid=$p && return 0
    done
    return 1
}
if [ $use_strace -eq 1 ] && ! wait_for 100 tracee; then
    fail "the bridge did not start"
    exit 1
fi
driver wait-listen || { fail "the bridge never listened on TCP 7000"; cat "$work/tolvane.log"; exit 1; }
echo "soak: bridge pid $bridge_pid on $pty, up in $(awk -v a="$start_time" -v b="$(date +%s.%N)" 'BEGIN { printf "%.2f", b - a }') s"

driver --peer trap --out "$work/trap.log" &
pids+=("$!")
fds_before=$(ls "/proc/$bridge_pid/fd" | wc -l)
rss_before=$(awk '/VmRSS/ { print $2 }' "/proc/$bridge_pid/status")

alive() {
    kill -0 "$bridge_pid" 2>/dev/null && [ "$(awk '{ print $3 }' "/proc/$bridge_pid/stat")" != Z ]
}
sanitizers_quiet() { ! compgen -G "$work/san/*" >/dev/null; }
udp() { driver --peer udp --bridge 10.203.0.1 --bridge6 fd42:203::1 --mac "$PEER_MAC" --state "$work/counter" "$@"; }

checkpoint() { # NAME [--device-gone]
    local name=$1
    alive || { fail "$name: the bridge is gone"; return 1; }
    sanitizers_quiet || fail "$name: sanitizer report"
    udp --count 1 --label "$name-probe" || fail "$name: the probe was not answered exactly"
    if [ "${2:-}" = --device-gone ]; then
        driver command --send $'op model ?\r\n' || fail "$name: the command was not read"
    else
        driver command --send $'op model ?\r\n' --expect $'OP MODEL=KT5520M\r\n' \
            || fail "$name: \"op model ?\" was not answered exactly"
    fi
    alive || fail "$name: the bridge is gone"
}

phase() { echo "=== $1 ($(( $(date +%s) - ${start_time%.*} )) s)"; }

# --- 1. Junk over TCP, datagrams alongside.
phase "TCP junk ($tcp_bytes bytes) with $datagrams datagrams alongside"
udp --count "$datagrams" &
udp_job=$!
driver tcp-flood --bytes "$tcp_bytes" || fail "TCP junk phase"
wait "$udp_job" || fail "datagram phase"
checkpoint after-junk

# --- 2. Connect/close cycles, two clients fighting over the port.
phase "$cycles connection cycles"
driver cycles --count "$cycles" || fail "connection cycles"
checkpoint after-cycles

# --- 3. Markup in every text field.
phase "markup in datagrams, then in TCP text and projector replies"
udp --count "$markup_datagrams" --markup --label udp-markup || fail "markup datagrams"
driver markup --rounds "$markup_rounds" "${markup_sets[@]/#/--set=}" || fail "markup phase"
checkpoint after-markup

# --- 4. The device goes away mid-traffic.
phase "device unplugged mid-traffic"
udp --count 400 --label udp-unplug &
udp_job=$!
driver unplug --count 120 --unplug-at 40 --projector-pid "$projector_pid" || fail "unplug phase"
wait "$udp_job" || fail "datagrams while unplugged"
checkpoint after-unplug --device-gone

# --- Afterwards.
phase "checks"
fds_after=$(ls "/proc/$bridge_pid/fd" 2>/dev/null | wc -l)
rss_after=$(awk '/VmRSS/ { print $2 }' "/proc/$bridge_pid/status" 2>/dev/null || echo 0)
echo "  open files: $fds_before -> $fds_after; resident: $((rss_before / 1024)) -> $((rss_after / 1024)) MiB"
if [ $((fds_after - fds_before)) -gt 8 ]; then
    fail "the bridge holds $((fds_after - fds_before)) more file descriptors than at start"
    ls -l "/proc/$bridge_pid/fd" | tail -n 20
fi
ls -l "/proc/$bridge_pid/fd" 2>/dev/null | awk '{ print $NF }' | grep '^/' | grep -v -e '^/dev/pts/' -e '^/dev/null$' \
    | sed 's/^/  open: /' || true

alive || fail "the bridge is not alive at the end"
stop_pid "$launcher_pid" || true
bridge_pid=

if ! sanitizers_quiet; then
    fail "sanitizer reports:"
    cat "$work"/san/*
fi
if [ -s "$work/trap.log" ]; then
    fail "markup made the bridge connect to a URL:"
    cat "$work/trap.log"
fi
if [ $use_strace -eq 1 ]; then
    # What the bridge opened after it was listening; markup targets must never appear.
    forbidden='/dev/zero|/dev/urandom|/etc/passwd|/etc/shadow|/proc/self/mem|file:|http:|\.png|\.css|/etc/hosts|/etc/resolv\.conf|nsswitch'
    if grep -E "$forbidden" "$work/strace.log" | grep -v -e 'execve(' >"$work/forbidden.log"; then
        fail "markup made the bridge touch files, devices or the network:"
        head -n 20 "$work/forbidden.log"
    fi
    grep -E ' connect\(' "$work/strace.log" | grep -v -e 'AF_UNIX' >"$work/connects.log" || true
    if [ -s "$work/connects.log" ]; then
        fail "the bridge made network connections:"
        head -n 10 "$work/connects.log"
    fi
    echo "  files the bridge opened after start-up:"
    awk -v t="$(grep -m1 -n 'Tolvane.ini' "$work/strace.log" | cut -d: -f1)" 'NR > t' "$work/strace.log" \
        | grep -oE '(open|openat|stat|newfstatat|access|statx|readlink)\([^"]*"[^"]*"' | grep -oE '"[^"]*"' \
        | sort | uniq -c | sort -rn | head -n 15 | sed 's/^/   /'
fi

echo "=== Summary (seed $seed, $SECONDS s; latencies p50/p99/max, count)"
cat "$results"
if [ ${#failures[@]} -gt 0 ]; then
    echo "soak: FAILED (${#failures[@]}):"
    printf '  %s\n' "${failures[@]}"
    exit 1
fi
echo "soak: passed"
