#!/usr/bin/env bash
# The status endpoint under load: Tolvane in service mode with --status-port on the virtual projector,
# each scenario in a network namespace of its own. Prints every target with "met" or "missed",
# writes docs/PERFORMANCE-status.md; raw results stay in bench/out/<date>/. As root (about 20
# minutes; --quick: about 5):
#
#   sudo bench/status.sh [--quick]
#
#   --quick             short counts, for development (marked as such on the page)
#   --runs N            rounds of the latency scenarios (default 8)
#   --count N           commands back to back per latency scenario (default 2,500)
#   --hostile-seconds N seconds of hostile clients on the status port (default 30)
#   --only "A B"        only the scenarios whose names begin with these words: counters, socat,
#                       service-plain, service-metrics, service-status, hostile
#
# Scenarios, their traffic from bench/tvbench (sub-commands counters, scrape, hostile, rtt):
#   counters         10,000 commands over 100 connections, 1,000 datagrams (100 of them probes), 5
#                    unplugs and replugs of the device; then /status is compared with those counts
#   socat.*          socat-nodelay, as bench/run.sh measures it (run through it)
#   service-plain.*  commands back to back, nothing else
#   service-metrics.* the same with a scraper on /metrics every 100 ms
#   service-status.* the same with GET /status every 10 ms, each answer timed
#   hostile          commands with 5 ms pauses while 500 slowloris clients, 1 MiB headers and random
#                    bytes hit the status port, and 10 s after it while /status is asked every 100 ms
# The projector answers 2 ms after each command (5 ms for the counters, 20 ms for the hostile
# clients), paced at 115,200 baud.
# Not part of the test suite.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/lib/bridge.sh"
source "$root/scripts/lib/proc.sh"
source "$root/bench/lib.sh"

# --------------------------------------------------------------------------------------------------
# Inside a private network namespace: one scenario. The rest comes in the environment.
# --------------------------------------------------------------------------------------------------
if [ "${1:-}" = --inner ]; then
    name=$2
    PIDS=()
    PEER_PID=
    trap 'for pid in "${PIDS[@]}" $PEER_PID; do stop_pid "$pid" 50 || true; done' EXIT
    rt=()
    [ "$BENCH_RT" = 1 ] && rt=(chrt -f 20)
    failed() { echo "failed: $*" >"$OUT/$name.status"; echo "bench: $name: $*" >&2; exit 1; }

    start_projector() { # DELAY_MS [OPTION...]: PTY and PROJECTOR, its event log in NAME.proj.log
        "${rt[@]}" "$BIN/virtual-projector" --delay "$1" --baud 115200 --log "$OUT/$name.proj.log" "${@:2}" \
            >"$OUT/$name.proj.out" 2>&1 &
        PROJECTOR=$!
        PIDS+=("$PROJECTOR")
        PTY=$(projector_path "$OUT/$name.proj.out" "$PROJECTOR") || failed "the projector named no terminal"
    }
    listening() { ss -Hltn "sport = :$1" | grep -q .; }
    service_up() {
        kill -0 "$TPID" 2>/dev/null || failed "the bridge ended while starting: $(tail -n 1 "$OUT/$name.err")"
        listening 7000 && listening "$STATUS_PORT" && grep -q "Serial Open:" "$OUT/$name.err"
    }
    start_service() { # PORT: TPID, once TCP 7000 and the status port listen and PORT is open
        write_tolvane_ini "$OUT/$name.data" "$1" 115200
        mkdir -p -m 700 "$OUT/$name.runtime"
        env XDG_DATA_HOME="$OUT/$name.data" XDG_RUNTIME_DIR="$OUT/$name.runtime" TOLVANE_SERIAL_PORTS="$1" \
            "$BIN/tolvane" --service --status-port "$STATUS_PORT" 2>"$OUT/$name.err" &
        TPID=$!
        PIDS+=("$TPID")
        wait_for 300 service_up || failed "the bridge never listened on 7000 and $STATUS_PORT with the port open"
    }
    rtt() { # COUNT [RTT OPTION...]: the control program; NAME.status says how it went
        local rc=0
        "${rt[@]}" "$TVBENCH" rtt --port 7000 --count "$1" --out "$OUT/$name.rtt" "${@:2}" 2>"$OUT/$name.client.err" || rc=$?
        if [ $rc -eq 0 ]; then echo ok; else echo "failed: $(tail -n 1 "$OUT/$name.client.err")"; fi >"$OUT/$name.status"
    }
    thread_cpu() { # WHEN: "WHEN SECONDS THREAD" for each of the bridge's threads, user and system time
        local t ticks
        ticks=$(getconf CLK_TCK)
        for t in /proc/"$TPID"/task/*; do
            echo "$1 $(sed 's/.*) //' "$t/stat" | awk -v hz="$ticks" '{ printf "%.2f", ($12 + $13) / hz }') $(cat "$t/comm")"
        done
    }
    commands_seen() { [ "$(grep -c ' CMD ' "$OUT/$name.proj.log" 2>/dev/null)" -ge "$1" ]; }

    case $name in
    counters)
        # The discovery replies go to the limited broadcast address: across a veth pair, to a namespace
        # of their own.
        peer_netns tvs0 10.79.0.1 10.79.0.2 3600
        mkdir -p "$OUT/counters.by-id"
        start_projector 5 --link "$OUT/counters.by-id/projector"
        start_service "$OUT/counters.by-id/projector"
        rc=0
        "$TVBENCH" counters --status-port "$STATUS_PORT" --projector-pid "$PROJECTOR" \
            --projector-log "$OUT/counters.proj.log" --commands "$COMMANDS" \
            --datagrams "$DATAGRAMS" --probes "$PROBES" --connections "$CONNECTIONS" --replugs "$REPLUGS" \
            --out "$OUT/counters.expected" --status-out "$OUT/counters.json" 2>"$OUT/counters.client.err" || rc=$?
        if [ $rc -eq 0 ]; then echo ok; else echo "failed: $(tail -n 1 "$OUT/counters.client.err")"; fi >"$OUT/$name.status"
        ;;
    service-*)
        start_projector 2
        start_service "$PTY"
        scraper=()
        case $name in
        service-metrics.*) scraper=(--path /metrics --every-ms 100) ;;
        service-status.*) scraper=(--path /status --every-ms 10) ;;
        esac
        if [ ${#scraper[@]} -gt 0 ]; then
            "$TVBENCH" scrape --port "$STATUS_PORT" "${scraper[@]}" --seconds 600 --out "$OUT/$name.scrape" &
            PIDS+=("$!")
            scraper_pid=$!
        fi
        rtt "$COUNT"
        [ ${#scraper[@]} -eq 0 ] || stop_pid "$scraper_pid"
        ;;
    hostile)
        # The reply 20 ms after the echo, as in the soak: a bridge that takes one line per read of the
        # port holds a reply that came in the same read as its echo until the device speaks again, so
        # with 2 ms a moment's wait for a core on a busy machine would show as a 250 ms stall.
        start_projector 20
        start_service "$PTY"
        # Commands with 5 ms pauses from before the attack until 10 s after it, while /status is
        # asked every 100 ms.
        rtt $((HOSTILE_SECONDS * 1000 + 10000)) --gap-ms 5 --stop-file "$OUT/hostile.stop" &
        client=$!
        PIDS+=("$client")
        wait_for 100 commands_seen 20 || failed "the control program never got going"
        thread_cpu before >"$OUT/hostile.cpu"
        "$TVBENCH" hostile --port "$STATUS_PORT" --seconds "$HOSTILE_SECONDS" --out "$OUT/hostile.txt" \
            2>"$OUT/hostile.attack.err" || true
        thread_cpu after >>"$OUT/hostile.cpu"
        "$TVBENCH" scrape --port "$STATUS_PORT" --path /status --every-ms 100 --seconds 10 --out "$OUT/hostile.after.scrape"
        touch "$OUT/hostile.stop"
        wait "$client" || true
        ;;
    *) echo "bench: unknown scenario $name" >&2; exit 2 ;;
    esac
    exit 0
fi

# --------------------------------------------------------------------------------------------------
# The driver.
# --------------------------------------------------------------------------------------------------
cd "$root"
RUNS=8 COUNT=2500 HOSTILE_SECONDS=30 COMMANDS=10000 DATAGRAMS=1000 PROBES=100 CONNECTIONS=100 REPLUGS=5
only= quick=0
invocation="bench/status.sh $*"
while [ $# -gt 0 ]; do
    case $1 in
    --quick) quick=1 RUNS=1 COUNT=1000 HOSTILE_SECONDS=10 COMMANDS=1000 DATAGRAMS=100 PROBES=10 CONNECTIONS=10 ;;
    --runs) RUNS=$2; shift ;;
    --count) COUNT=$2; shift ;;
    --hostile-seconds) HOSTILE_SECONDS=$2; shift ;;
    --only) only=" $2"; shift ;;
    -h | --help) sed -n '2,/^set -euo/{/^set -euo/!p}' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "bench: unknown option $1" >&2; exit 2 ;;
    esac
    shift
done
[ "$(id -u)" -eq 0 ] || { echo "bench: needs root (network namespaces)" >&2; exit 1; }

scripts/deps.sh
scripts/deps.sh socat python3
BUILD=build
scripts/build.sh "$BUILD" -- tolvane virtual-projector tolvane-probe
BIN=$(cd "$BUILD/bin" && pwd)
TVBENCH=$(tvbench_build "$BUILD")
STATUS_PORT=7080

stamp=$(date -u +%Y%m%d-%H%M%S)
OUT=$root/bench/out/$stamp
mkdir -p "$OUT"
echo "bench: results in $OUT"
BENCH_RT=0
chrt -f 20 true 2>/dev/null && BENCH_RT=1
export BIN TVBENCH OUT BENCH_RT STATUS_PORT COUNT HOSTILE_SECONDS COMMANDS DATAGRAMS PROBES CONNECTIONS REPLUGS
export QT_LOGGING_TO_CONSOLE=1
{
    echo "date=$(date -u '+%Y-%m-%d %H:%M UTC')"
    echo "invocation=$invocation"
    echo "quick=$quick"
    echo "runs=$RUNS"
    echo "count=$COUNT"
    echo "hostile_seconds=$HOSTILE_SECONDS"
    echo "build=$(git rev-parse --short HEAD)$(git diff --quiet HEAD -- app net core settings || echo ' with uncommitted changes')"
    echo "cpu=$(lscpu | sed -n 's/^Model name: *//p' | head -n 1), $(nproc) cores"
    echo "system=$(. /etc/os-release && echo "$PRETTY_NAME"), kernel $(uname -r)"
    echo "load_before=$(cut -d ' ' -f 1-3 /proc/loadavg)"
} >"$OUT/status-meta.env"

# scenario NAME [SCRIPT]: runs it in a network namespace of its own, unless --only leaves it out;
# socat's scenario is bench/run.sh's own.
scenario() {
    only_wants "$1" || return 0
    echo "bench: $1"
    COUNT=$COUNT timeout -k 10 1800 scripts/lib/netns.sh "${2:-$root/bench/status.sh}" --inner "$1" \
        || echo "bench: $1 failed" >&2
}

scenario counters
# Each Tolvane beside a socat run of its own; the order changes from round to round so that a drift
# in the machine's load meets both alike.
for run in $(seq "$RUNS"); do
    pairs=(plain metrics)
    [ $((run % 2)) -eq 0 ] && pairs=(metrics plain)
    for p in "${pairs[@]}"; do
        scenario "socat.$p$run" "$root/bench/run.sh"
        scenario "service-$p.$run"
    done
    scenario "service-status.$run"
done
scenario hostile

echo "load_after=$(cut -d ' ' -f 1-3 /proc/loadavg)" >>"$OUT/status-meta.env"
python3 bench/statusreport.py "$OUT" docs
