#!/usr/bin/env bash
# Tolvane beside socat, ser2net and a reference Qt relay (bench/linerelay.cpp), all driving the same
# virtual projector on a pseudo-terminal over loopback TCP; then discovery probes and a stream of
# markup datagrams against Tolvane. Prints every target with "met" or "missed", writes
# docs/PERFORMANCE.md and docs/perf-*.svg; raw results stay in bench/out/<date>/. The full run, with
# the build before a change measured beside this one (as root, on a quiet machine; about 25 minutes):
#
#   sudo bench/run.sh --before 9003a65
#
#   --before BIN|REV    a second Tolvane measured beside this one: a folder holding its tolvane, or a
#                       git revision, exported and built into build-before-REV/
#   --quick             a short run for development (fewer commands, probes and seconds)
#   --runs N            repetitions of the side-by-side and pause runs; tables show medians (default 3)
#   --count N           commands per bridge and run, back to back (default 5,000)
#   --gap-count N       commands per run with a pause of 10 ms before each (default 2,000)
#   --long-count N      commands in Tolvane's long run under Xvfb (default 50,000)
#   --probes N          discovery probes, four per millisecond (default 2,000)
#   --stream-seconds N  seconds of markup datagrams, and as many without (default 60)
#   --profile           count Tolvane's instructions per command (callgrind, 500 commands; default
#                       in full runs, not with --quick)
#   --only "A B"        only the scenarios whose names begin with these words (development): socat,
#                       ser2net, linerelay, tolvane-after, tolvane-before, gap-, discovery-, long-, stream-,
#                       profile
#   --nice N            run the bridges at this nice level (default: unchanged)
#
# The projector answers 2 ms after each command, its bytes paced at 115,200 baud. Every scenario
# runs in a network namespace of its own (the discovery client in a second one, across a veth pair),
# so nothing listens or answers probes in the machine's own namespace; no real serial device is
# touched. Not part of the test suite.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/lib/bridge.sh"
source "$root/scripts/lib/proc.sh"
source "$root/scripts/lib/xvfb.sh"
source "$root/bench/lib.sh"

# --------------------------------------------------------------------------------------------------
# Inside a private network namespace: one scenario, NAME.RUN. The rest comes in the environment.
# --------------------------------------------------------------------------------------------------
if [ "${1:-}" = --inner ]; then
    name=$2
    stop_on_exit
    rt=()
    [ "$BENCH_RT" = 1 ] && rt=(chrt -f 20)

    start_projector() { # [DELAY_MS]: PTY, the projector's event log in NAME.proj.log
        "${rt[@]}" "$BIN/virtual-projector" --delay "${1:-2}" --baud 115200 --log "$OUT/$name.proj.log" \
            >"$OUT/$name.proj.out" 2>&1 &
        PIDS+=("$!")
        PTY=$(projector_path "$OUT/$name.proj.out" "$!") || { echo "bench: the projector named no terminal" >&2; exit 1; }
    }
    # start_tolvane BIN PLATFORM [PORT] [LAUNCHER...]: TPID once it has opened PORT (no PORT: none at all).
    start_tolvane() {
        local bin=$1 platform=$2 port=${3:-}
        shift 3 || shift $#
        write_tolvane_ini "$OUT/$name.data" "$port" 115200
        mkdir -p -m 700 "$OUT/$name.runtime"
        [ "$platform" = xcb ] && xvfb_start "$OUT/$name.xvfb.log"
        env QT_QPA_PLATFORM="$platform" XDG_DATA_HOME="$OUT/$name.data" XDG_RUNTIME_DIR="$OUT/$name.runtime" \
            TOLVANE_SERIAL_PORTS="$port" "$@" "$bin/tolvane" 2>"$OUT/$name.err" &
        TPID=$!
        PIDS+=("$TPID")
        local ready="Serial Open:"
        [ -n "$port" ] || ready="UDPrx Bind 35070 true"
        wait_for 3000 tolvane_up || { echo "bench: $name: Tolvane never showed '$ready'" >&2; exit 1; }
    }
    relay_up() { ss -Hltn 'sport = :7104' | grep -q .; }
    tolvane_up() { # false while starting; ends the scenario when Tolvane has gone
        grep -q "$ready" "$OUT/$name.err" && return 0
        kill -0 "$TPID" 2>/dev/null || { echo "failed: Tolvane ended while starting" >"$OUT/$name.status"; exit 1; }
        return 1
    }
    # rtt PORT COUNT [RTT OPTION...]: the control program; NAME.status says how it went.
    rtt() {
        local rc=0
        "${rt[@]}" "$TVBENCH" rtt --port "$1" --count "$2" --out "$OUT/$name.rtt" "${@:3}" 2>"$OUT/$name.client.err" || rc=$?
        if [ $rc -eq 0 ]; then echo ok; else echo "failed: $(tail -n 1 "$OUT/$name.client.err")"; fi >"$OUT/$name.status"
    }
    # The build a Tolvane scenario measures: "before" in its name, else this one.
    which=$BIN
    [[ $name == *before* ]] && which=$BEFORE_BIN

    case $name in
    socat.* | gap-socat.*)
        start_projector
        socat TCP-LISTEN:7102,reuseaddr,nodelay "FILE:$PTY,raw,echo=0,b115200" &
        PIDS+=("$!")
        gap=0
        [[ $name == gap-* ]] && gap=10
        rtt 7102 "$COUNT" --gap-ms "$gap"
        ;;
    linerelay.* | gap-linerelay.*)
        start_projector
        "$LINERELAY" "$PTY" 7104 2>"$OUT/$name.err" &
        PIDS+=("$!")
        wait_for 100 relay_up || { echo "bench: $name: the relay never listened" >&2; exit 1; }
        gap=0
        [[ $name == gap-* ]] && gap=10
        rtt 7104 "$COUNT" --gap-ms "$gap"
        ;;
    ser2net*)
        # ser2net wants IPv4 configured beyond loopback before it resolves its accepter.
        ip link add tvb0 type veth peer name tvb1 && ip addr add 192.0.2.1/24 dev tvb0 && ip link set tvb0 up
        start_projector
        options=
        accepter=tcp
        [[ $name == ser2net-default.* ]] || { accepter='tcp(nodelay)'; options=$'  options:\n    chardelay: false\n'; }
        printf '%%YAML 1.1\n---\nconnection: &bench\n  accepter: %s,127.0.0.1,7103\n  connector: serialdev,%s,115200n81,local\n%s' \
            "$accepter" "$PTY" "$options" >"$OUT/$name.yaml"
        ser2net -n -c "$OUT/$name.yaml" -P "$OUT/$name.pid" 2>"$OUT/$name.err" &
        PIDS+=("$!")
        rtt 7103 "$COUNT"
        ;;
    tolvane-* | gap-tolvane-* | long-tolvane-*)
        start_projector
        start_tolvane "$which" xcb "$PTY"
        extra=()
        [[ $name == gap-* ]] && extra=(--gap-ms 10)
        [[ $name == long-* ]] && { extra=(--pid "$TPID" --rss-every 1000 --rss-out "$OUT/$name.rss"); }
        rtt 7000 "$COUNT" "${extra[@]}"
        ;;
    discovery-* | stream-*)
        # The bridge here with no serial port (it answers "op model ?" itself), the client across a veth pair.
        peer_netns tvb0 10.78.0.1 10.78.0.2 3600
        start_tolvane "$which" offscreen
        if [[ $name == discovery-* ]]; then
            "${PEER[@]}" "$TVBENCH" discovery --target 10.78.0.1 --count "$PROBES" --per-ms 4 --out "$OUT/$name.txt"
        else
            bytes=60000
            [[ $name == *-quiet* ]] && bytes=0
            "${PEER[@]}" "$TVBENCH" stream --target 10.78.0.1 --seconds "$STREAM_SECONDS" --markup-bytes $bytes \
                --out "$OUT/$name.txt"
        fi
        ;;
    profile)
        # Instructions from the first command to the last; the device answers slowly enough that the
        # slowed-down bridge never finds echo and reply in one read.
        start_projector 50
        start_tolvane "$BIN" xcb "$PTY" valgrind --tool=callgrind --instr-atstart=no --callgrind-out-file="$OUT/profile.callgrind"
        callgrind_control --instr=on "$TPID" >/dev/null 2>&1
        rtt 7000 500 --timeout-ms 5000 --warmup-ms 60000
        callgrind_control --dump "$TPID" >/dev/null 2>&1
        stop_pid "$TPID" 100 || true
        # The dump holds the commands; the file written at exit only what came after.
        callgrind_annotate --inclusive=yes "$(ls -S "$OUT"/profile.callgrind* | head -n 1)" >"$OUT/profile.txt" 2>/dev/null
        ;;
    *) echo "bench: unknown scenario $name" >&2; exit 2 ;;
    esac
    exit 0
fi

# --------------------------------------------------------------------------------------------------
# The driver.
# --------------------------------------------------------------------------------------------------
cd "$root"
RUNS=3 COUNT=5000 GAP_COUNT=2000 LONG_COUNT=50000 PROBES=2000 STREAM_SECONDS=60
before= profile= only= nicer=() quick=0
invocation="bench/run.sh $*"
while [ $# -gt 0 ]; do
    case $1 in
    --quick) quick=1 RUNS=1 COUNT=1000 GAP_COUNT=300 LONG_COUNT=3000 PROBES=2000 STREAM_SECONDS=10 ;;
    --before) before=$2; shift ;;
    --runs) RUNS=$2; shift ;;
    --count) COUNT=$2; shift ;;
    --gap-count) GAP_COUNT=$2; shift ;;
    --long-count) LONG_COUNT=$2; shift ;;
    --probes) PROBES=$2; shift ;;
    --stream-seconds) STREAM_SECONDS=$2; shift ;;
    --profile) profile=1 ;;
    --only) only=" $2"; shift ;;
    --nice) nicer=(nice -n "$2"); shift ;;
    -h | --help) sed -n '2,/^set -euo/{/^set -euo/!p}' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "bench: unknown option $1" >&2; exit 2 ;;
    esac
    shift
done
[ -n "$profile" ] || profile=$((1 - quick))
[ "$(id -u)" -eq 0 ] || { echo "bench: needs root (network namespaces)" >&2; exit 1; }

packages=(socat ser2net python3)
[ $profile -eq 1 ] && packages+=(valgrind)
scripts/deps.sh
scripts/deps.sh "${packages[@]}"

BUILD=build
scripts/build.sh "$BUILD" -- tolvane virtual-projector
BIN=$(cd "$BUILD/bin" && pwd)
TVBENCH=$(tvbench_build "$BUILD")
LINERELAY=$(linerelay_build "$BUILD")
BEFORE_BIN=
if [ -n "$before" ] && [ -x "$before/tolvane" ]; then
    BEFORE_BIN=$(cd "$before" && pwd)
elif [ -n "$before" ]; then
    rev=$(git rev-parse --short "$before^{commit}")
    dir=$root/build-before-$rev
    if [ ! -x "$dir/bin/tolvane" ]; then
        rm -rf "$dir/src"
        mkdir -p "$dir/src"
        git archive "$rev" | tar -x -C "$dir/src"
        cmake -S "$dir/src" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
        cmake --build "$dir" -j "$(nproc)" --target tolvane
    fi
    BEFORE_BIN=$dir/bin
fi

stamp=$(date -u +%Y%m%d-%H%M%S)
OUT=$root/bench/out/$stamp
mkdir -p "$OUT"
ln -sfn "$stamp" "$root/bench/out/latest"
echo "bench: results in $OUT"

# The projector and the client stand for hardware and a control program: real-time priority keeps
# their own scheduling out of the bridges' figures, where the system allows it.
BENCH_RT=0
chrt -f 20 true 2>/dev/null && BENCH_RT=1
export BIN BEFORE_BIN TVBENCH LINERELAY OUT PROBES STREAM_SECONDS BENCH_RT
export QT_LOGGING_TO_CONSOLE=1

describe() { # BIN: the commit a build came from, as its configure cache names its sources
    local src
    src=$(sed -n 's/^CMAKE_HOME_DIRECTORY:INTERNAL=//p' "$1/../CMakeCache.txt" 2>/dev/null)
    if [ -n "$src" ] && git -C "$src" rev-parse --short HEAD >/dev/null 2>&1; then
        echo "$(git -C "$src" rev-parse --short HEAD)$(git -C "$src" diff --quiet HEAD -- app net core settings || echo ' with uncommitted changes')"
    else
        echo "${src:-$1}" | sed "s|^$root/||"
    fi
}
{
    echo "date=$(date -u '+%Y-%m-%d %H:%M UTC')"
    echo "invocation=$invocation"
    echo "quick=$quick"
    echo "runs=$RUNS"
    echo "count=$COUNT"
    echo "gap_count=$GAP_COUNT"
    echo "long_count=$LONG_COUNT"
    echo "probes=$PROBES"
    echo "stream_seconds=$STREAM_SECONDS"
    echo "after=$(describe "$BIN")"
    [ -n "$BEFORE_BIN" ] && echo "before=${rev:-$(describe "$BEFORE_BIN")}"
    echo "realtime_helpers=$BENCH_RT"
    echo "cpu=$(lscpu | sed -n 's/^Model name: *//p' | head -n 1), $(nproc) cores, $(free -h | awk '/^Mem:/ { print $2 }') memory"
    echo "system=$(. /etc/os-release && echo "$PRETTY_NAME"), kernel $(uname -r)"
    echo "versions=Qt $(dpkg-query -W -f='${Version}' libqt5core5a), socat $(socat -V | sed -n 's/^socat version \([^ ]*\).*/\1/p'), ser2net $(ser2net -v 2>&1 | sed -n 's/^ser2net version //p')"
    echo "load_before=$(cut -d ' ' -f 1-3 /proc/loadavg)"
} >"$OUT/meta.env"

# scenario NAME: runs it in a network namespace of its own, unless --only leaves it out.
scenario() {
    only_wants "$1" || return 0
    echo "bench: $1"
    COUNT=${2:-0} "${nicer[@]}" timeout -k 10 7200 "$root/scripts/lib/netns.sh" "$root/bench/run.sh" --inner "$1" || echo "bench: $1 failed" >&2
}
tolvanes=(after)
[ -n "$BEFORE_BIN" ] && tolvanes+=(before)

# Every build once per round, so that a change in the machine's load meets them all alike.
for run in $(seq "$RUNS"); do
    for b in socat ser2net ser2net-default linerelay "${tolvanes[@]/#/tolvane-}"; do scenario "$b.$run" "$COUNT"; done
    for b in socat linerelay "${tolvanes[@]/#/tolvane-}"; do scenario "gap-$b.$run" "$GAP_COUNT"; done
    for b in "${tolvanes[@]}"; do scenario "discovery-$b.$run"; done
done
scenario long-tolvane-after "$LONG_COUNT"
for b in "${tolvanes[@]}"; do
    scenario "stream-$b-markup"
    scenario "stream-$b-quiet"
done
[ $profile -eq 1 ] && scenario profile

echo "load_after=$(cut -d ' ' -f 1-3 /proc/loadavg)" >>"$OUT/meta.env"
python3 bench/report.py "$OUT" docs
