#!/usr/bin/env bash
# A month of unattended use in an hour: the release build of the bridge in service mode under a room
# control system's traffic (polling on one long connection, a client per command, datagrams with
# probes among them, replugs of the device), the window's connect/close cycles under Xvfb, a start
# 60 s before the device appears, and both modes beside socat for speed. Prints every target with
# "met" or "MISSED" and writes month.md beside the raw results in bench/out/<date>/, and
# docs/MONTH.md. Needs root (network namespaces); the full run takes about an hour:
#
#   sudo bench/month.sh
#
#   --scale F         counts times F (default 1: 1,000,000 commands, 100,000 cycles per mode,
#                     200 replugs, 5,000 commands per speed round)
#   --quick           --scale 0.02 and the device 10 s late instead of 60: minutes, for development
#   --days N          days in the month: blocks of polling, then the day's one-command clients (30)
#   --only "A B"      only these parts: service, window, late, speed
#
# The projector answers 1 ms after each command, its bytes paced at 1,000,000 baud, so a command
# takes about 2 ms and a month fits in the hour; the speed part uses bench/run.sh's projector
# (2 ms, 115,200 baud). Every part runs in a network namespace of its own, the datagrams come from a
# second one across a veth pair; no real serial device is touched. Not part of the test suite.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/lib/bridge.sh"
source "$root/scripts/lib/proc.sh"
source "$root/scripts/lib/xvfb.sh"
source "$root/bench/lib.sh"

# --------------------------------------------------------------------------------------------------
# Inside a private network namespace: one part. The rest comes in the environment.
# --------------------------------------------------------------------------------------------------
if [ "${1:-}" = --inner ]; then
    name=$2
    stop_on_exit
    # A client per command leaves a closed connection behind each time: room for all of them.
    sysctl -qw net.ipv4.ip_local_port_range="1024 65000" net.ipv4.tcp_tw_reuse=1
    # The projector and the clients stand for hardware and a control program: real-time priority
    # keeps their own scheduling out of the bridge's figures, where the system allows it.
    rt=()
    chrt -f 20 true 2>/dev/null && rt=(chrt -f 20)

    # start_projector NAME [OPTION...]: PROJ_PID, its terminal in PTY, its event log in NAME.proj.log.
    start_projector() {
        local who=$1
        shift
        "${rt[@]}" "$BIN/virtual-projector" --log "$OUT/$who.proj.log" "$@" >"$OUT/$who.proj.out" 2>&1 &
        PROJ_PID=$!
        PIDS+=("$PROJ_PID")
        PTY=$(projector_path "$OUT/$who.proj.out" "$PROJ_PID") || { echo "month: the projector named no terminal" >&2; exit 1; }
    }
    # start_bridge NAME PORT service|window: TPID, listening on TCP 7000.
    start_bridge() {
        local who=$1 port=$2 mode=$3 ini args=() platform=(QT_QPA_PLATFORM=xcb)
        write_tolvane_ini "$OUT/$who.data" "$port" 115200
        ini=$(XDG_DATA_HOME=$OUT/$who.data "$BIN/tolvane-probe" --print-ini-path)
        mkdir -p -m 700 "$OUT/$who.runtime"
        if [ "$mode" = service ]; then
            args=(--service --config "$ini")
            platform=(-u QT_QPA_PLATFORM)
        else
            xvfb_start "$OUT/$who.xvfb.log"
        fi
        env "${platform[@]}" XDG_DATA_HOME="$OUT/$who.data" XDG_RUNTIME_DIR="$OUT/$who.runtime" TOLVANE_SERIAL_PORTS="$port" \
            "$BIN/tolvane" "${args[@]}" 2>"$OUT/$who.err" &
        TPID=$!
        PIDS+=("$TPID")
        wait_for 300 listening || { echo "month: $who: the bridge never listened" >&2; exit 1; }
    }
    listening() { kill -0 "$TPID" && ss -Hltn 'sport = :7000' | grep -q .; }

    case $name in
    service)
        peer_netns mo0 10.79.0.1 10.79.0.2 7200
        start_projector service --delay "${PROJ_DELAY:-1}" --baud 1000000 --link "$OUT/service.dev"
        start_bridge service "$OUT/service.dev" service
        "${PEER[@]}" "$TVBENCH" datagrams --target 10.79.0.1 --per-second 50 --probe-every 10 --seconds 7200 \
            --stop-file "$OUT/service.stop" --out "$OUT/service.datagrams.env" &
        dgram=$!
        PIDS+=("$dgram")
        "${rt[@]}" "$TVBENCH" month --pid "$TPID" --out-dir "$OUT/service" --commands "$COMMANDS" --cycles "$CYCLES" \
            --days "$DAYS" --replugs "$REPLUGS" --projector-pid "$PROJ_PID" --projector-log "$OUT/service.proj.log"
        # A full receive queue here means datagrams came but the bridge stopped taking them.
        ss -uanm 'sport = :35070' >"$OUT/service.udp.txt" 2>&1 || true
        touch "$OUT/service.stop"
        wait "$dgram" || true
        kill -0 "$TPID" && echo "alive=1" >>"$OUT/service/summary.env"
        ;;
    window)
        start_projector window --delay 1 --baud 1000000
        start_bridge window "$PTY" window
        "${rt[@]}" "$TVBENCH" month --pid "$TPID" --out-dir "$OUT/window" --commands 0 --cycles "$CYCLES" --days "$DAYS" --bare-cycles
        kill -0 "$TPID" && echo "alive=1" >>"$OUT/window/summary.env"
        ;;
    late)
        start_bridge late "$OUT/late.dev" service
        "${rt[@]}" "$TVBENCH" first-answer --projector-log "$OUT/late.proj.log" --seconds $((LATE + 60)) --out "$OUT/late.env" &
        client=$!
        PIDS+=("$client")
        sleep "$LATE"
        start_projector late --delay 1 --baud 1000000 --link "$OUT/late.dev"
        wait "$client" || true
        ;;
    speed-*)
        # bench/run.sh's projector and client, one bridge at a time.
        bridge=${name#speed-}
        bridge=${bridge%.*}
        start_projector "$name" --delay 2 --baud 115200
        port=7000
        case $bridge in
        socat)
            port=7102
            socat TCP-LISTEN:7102,reuseaddr,nodelay "FILE:$PTY,raw,echo=0,b115200" &
            PIDS+=("$!")
            ;;
        *) start_bridge "$name" "$PTY" "$bridge" ;;
        esac
        "${rt[@]}" "$TVBENCH" rtt --port "$port" --count "$SPEED_COUNT" --out "$OUT/$name.rtt" 2>"$OUT/$name.client.err" \
            || echo "month: $name: $(tail -n 1 "$OUT/$name.client.err")" >&2
        ;;
    *) echo "month: unknown part $name" >&2; exit 2 ;;
    esac
    exit 0
fi

# --------------------------------------------------------------------------------------------------
# The driver.
# --------------------------------------------------------------------------------------------------
cd "$root"
scale=1 DAYS=30 LATE=60 only="service window late speed"
invocation="bench/month.sh $*"
while [ $# -gt 0 ]; do
    case $1 in
    --scale) scale=$2; shift ;;
    --quick) scale=0.02 LATE=10 ;;
    --days) DAYS=$2; shift ;;
    --only) only=$2; shift ;;
    -h | --help) sed -n '2,/^set -euo/{/^set -euo/!p}' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "month: unknown option $1" >&2; exit 2 ;;
    esac
    shift
done
[ "$(id -u)" -eq 0 ] || { echo "month: needs root (network namespaces)" >&2; exit 1; }
scaled() { awk -v n="$1" -v s="$scale" -v least="$2" 'BEGIN { v = int(n * s + 0.5); print (v < least ? least : v) }'; }
COMMANDS=$(scaled 1000000 1000) CYCLES=$(scaled 100000 100) REPLUGS=$(scaled 200 10)
SPEED_COUNT=$(scaled 5000 1000)

scripts/deps.sh
scripts/deps.sh socat python3
# The build a rack runs: optimised, no sanitizers.
BUILD=build-release
scripts/build.sh "$BUILD" -DCMAKE_BUILD_TYPE=Release -- tolvane virtual-projector tolvane-probe
BIN=$(cd "$BUILD/bin" && pwd)
TVBENCH=$(tvbench_build "$BUILD")

stamp=$(date -u +%Y%m%d-%H%M%S)
OUT=$root/bench/out/month-$stamp
mkdir -p "$OUT/service" "$OUT/window"
ln -sfn "month-$stamp" "$root/bench/out/month-latest"
echo "month: results in $OUT"
export TOLVANE_BUILD=$root/$BUILD BIN TVBENCH OUT COMMANDS CYCLES REPLUGS LATE SPEED_COUNT DAYS QT_LOGGING_TO_CONSOLE=1
{
    echo "date=$(date -u '+%Y-%m-%d %H:%M UTC')"
    echo "invocation=$invocation"
    echo "scale=$scale"
    echo "days=$DAYS"
    echo "replugs=$REPLUGS"
    echo "commit=$(git rev-parse --short HEAD)$(git diff --quiet HEAD -- app core net settings || echo +changes)"
    echo "cpu=$(nproc) x $(sed -n 's/^model name\s*: //p' /proc/cpuinfo | head -n 1)"
    echo "load_before=$(cut -d ' ' -f 1-3 /proc/loadavg)"
} >"$OUT/meta.env"

part() { # NAME: in a network namespace of its own, bounded to two hours
    echo "month: $1 ($(date -u +%H:%M:%S))"
    timeout -k 10 7200 "$root/scripts/lib/netns.sh" "$root/bench/month.sh" --inner "$1" || echo "month: $1 failed" >&2
}
wants() { [[ " $only " == *" $1 "* ]]; }
if wants speed; then
    # Rounds, so that a change in the machine's load meets every bridge alike.
    for round in 1 2 3; do
        for b in socat window service; do part "speed-$b.$round"; done
    done
fi
wants late && part late
wants window && part window
wants service && part service
echo "load_after=$(cut -d ' ' -f 1-3 /proc/loadavg)" >>"$OUT/meta.env"
python3 bench/reporting/month.py "$OUT" docs
