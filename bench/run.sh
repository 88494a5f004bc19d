#!/usr/bin/env bash
# Tolvane beside socat, ser2net and a bare poll() relay, all driving the same virtual projector on a
# pseudo-terminal, over loopback TCP. Writes docs/PERFORMANCE.md and docs/perf-*.png; raw results
# stay in bench/out/<date>/.
#
#   bench/run.sh [--quick] [OPTION]...
#
#   --quick          a short run for development (fewer commands, starts, cycles and probes)
#   --compare-count N commands per bridge in the side-by-side comparison (default 5,000)
#   --delay MS       the projector's reply delay in the comparison (default 2)
#   --count N        commands in Tolvane's long run under Xvfb (default 50,000)
#   --long-delay MS  the projector's reply delay in the long runs (default 5)
#   --gap-count N    commands with a pause of --gap-ms (default 10) before each, Tolvane and socat
#                    (default 2,000)
#   --baud N         the projector's line speed: its bytes come one at a time, as from a UART
#                    (default 115200; 0 writes each line at once)
#   --retries N      reruns of a scenario that failed (default 1)
#   --nice N         run the bridges at this nice level (e.g. -10 on a machine shared with other work;
#                    default: unchanged)
#   --no-profile     skip the perf/callgrind profile of the bridge's hot path
#   --only "A B"     run only these scenarios (development; the report then lacks the others)
#
# Every bridge runs in a network namespace of its own (unshare -n), so nothing here listens or
# answers probes in the machine's own namespace; the discovery burst uses two namespaces and a veth
# pair. No real serial device is touched. Not part of the test suite: run it by hand, on a quiet machine.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/lib/bridge.sh"
self="$root/bench/run.sh"

# ---------------------------------------------------------------------------------------------------
# Inside a private network namespace: one scenario. Everything it needs comes in the environment.
# ---------------------------------------------------------------------------------------------------
if [ "${1:-}" = "--inner" ]; then
    scenario=$2
    ip link set lo up
    PIDS=()
    cleanup_inner() {
        local pid
        for pid in "${PIDS[@]}"; do
            kill -TERM "$pid" 2>/dev/null || true
        done
        for pid in "${PIDS[@]}"; do
            for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
            kill -KILL "$pid" 2>/dev/null || true
            wait "$pid" 2>/dev/null || true
        done
    }
    trap cleanup_inner EXIT

    rt=()
    [ "${BENCH_RT:-0}" = 1 ] && rt=(chrt -f 20)

    stop_pid() { # stop_pid PID: TERM, up to 5 s, then KILL
        local pid=$1
        kill -TERM "$pid" 2>/dev/null || true
        for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
        kill -KILL "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    }

    # start_projector NAME: PROJ_PID and PTY; the event log in $OUT/NAME.proj.log (fresh).
    start_projector() {
        rm -f "$OUT/$1.proj.log"
        "${rt[@]}" "$BIN/virtual-projector" --delay "${PROJ_DELAY:-$DELAY}" --baud "$BAUD" --log "$OUT/$1.proj.log" >"$OUT/$1.proj.out" 2>&1 &
        PROJ_PID=$!
        PIDS+=("$PROJ_PID")
        PTY=
        for _ in $(seq 100); do
            PTY=$(head -n 1 "$OUT/$1.proj.out" 2>/dev/null || true)
            case $PTY in /dev/pts/*) break ;; esac
            PTY=
            sleep 0.05
        done
        [ -n "$PTY" ] || { echo "bench: the projector named no terminal" >&2; exit 1; }
    }

    # Tolvane's settings folder pointing at the projector's terminal.
    tolvane_env() {
        local data="$OUT/$1.data"
        write_tolvane_ini "$data" "$PTY" "$BAUD"
        TENV=(env XDG_DATA_HOME="$data" XDG_RUNTIME_DIR="$OUT/$1.runtime" TOLVANE_SERIAL_PORTS="$PTY")
        mkdir -p -m 700 "$OUT/$1.runtime"
    }

    start_xvfb() {
        rm -f "$OUT/xvfb.display"
        Xvfb -displayfd 5 -screen 0 1280x800x24 -nolisten tcp 5>"$OUT/xvfb.display" 2>"$OUT/xvfb.err" &
        PIDS+=("$!")
        for _ in $(seq 100); do [ -s "$OUT/xvfb.display" ] && break; sleep 0.05; done
        [ -s "$OUT/xvfb.display" ] || { echo "bench: Xvfb did not start" >&2; exit 1; }
        export DISPLAY=":$(head -n 1 "$OUT/xvfb.display")"
    }

    # A dummy address, so that ser2net's name look-ups find IPv4 configured (loopback alone does not count).
    give_address() {
        ip link add tvb0 type veth peer name tvb1
        ip addr add 192.0.2.1/24 dev tvb0
        ip link set tvb0 up
    }

    # wait_trace FILE TEXT SECONDS: until the bridge's trace output shows TEXT.
    wait_trace() {
        local i
        for i in $(seq $(($3 * 10))); do
            grep -q "$2" "$1" 2>/dev/null && return 0
            sleep 0.1
        done
        echo "bench: no '$2' in $1 after $3 s" >&2
        return 1
    }

    # rtt NAME PORT COUNT [PID [GAP_MS]]: the load client; records the outcome in NAME.status. A reply missing
    # after 250 ms is a stall: counted, and the next command goes out anyway. A run that stalls on more
    # than a quarter of its commands is given up.
    rtt() {
        local name=$1 port=$2 count=$3 pid=${4:-} gap=${5:-0}
        local extra=(--gap-ms "$gap")
        [ -n "$pid" ] && extra+=(--pid "$pid" --rss-every 1000 --rss-out "$OUT/$name.rss")
        # Tolvane closes its current client whenever an earlier one goes, so no port check goes first:
        # the client retries its connection until the bridge accepts.
        local rc=0
        "${rt[@]}" "$BENCHBIN/tvbench" rtt --port "$port" --count "$count" --timeout-ms 250 --warmup 10 \
            --max-stalls $((count / 4 + 50)) --out "$OUT/$name.rtt" "${extra[@]}" 2>"$OUT/$name.client.err" || rc=$?
        cat "$OUT/$name.client.err" >&2
        if [ $rc -eq 0 ]; then echo ok >"$OUT/$name.status"; else echo "failed: $(tail -n 1 "$OUT/$name.client.err")" >"$OUT/$name.status"; fi
        return $rc
    }

    case $scenario in
    floor)
        start_projector floor
        "$BENCHBIN/relay" 7101 "$PTY" &
        PIDS+=("$!")
        rtt floor 7101 "$COMPARE_COUNT"
        ;;
    socat | socat-long | socat-gap)
        count=$COMPARE_COUNT
        gap=0
        [ "$scenario" = socat-long ] && export PROJ_DELAY=$LONG_DELAY
        [ "$scenario" = socat-gap ] && { count=$GAP_COUNT; gap=$GAP_MS; }
        start_projector "$scenario"
        # socat serves one connection and ends.
        socat TCP-LISTEN:7102,reuseaddr,nodelay "FILE:$PTY,raw,echo=0,b$BAUD" &
        PIDS+=("$!")
        rtt "$scenario" 7102 "$count" "" "$gap"
        ;;
    ser2net-default | ser2net-tuned)
        give_address
        start_projector "$scenario"
        if [ "$scenario" = ser2net-default ]; then
            port=7103
            printf '%%YAML 1.1\n---\nconnection: &bench\n  accepter: tcp,127.0.0.1,%s\n  connector: serialdev,%s,%sn81,local\n' \
                "$port" "$PTY" "$BAUD" >"$OUT/$scenario.yaml"
        else
            port=7104
            printf '%%YAML 1.1\n---\nconnection: &bench\n  accepter: tcp(nodelay),127.0.0.1,%s\n  connector: serialdev,%s,%sn81,local\n  options:\n    chardelay: false\n' \
                "$port" "$PTY" "$BAUD" >"$OUT/$scenario.yaml"
        fi
        ser2net -n -c "$OUT/$scenario.yaml" -P "$OUT/$scenario.pid" 2>"$OUT/$scenario.err" &
        PIDS+=("$!")
        rtt "$scenario" "$port" "$COMPARE_COUNT"
        ;;
    tolvane-offscreen | tolvane-xvfb | tolvane-long | tolvane-gap)
        count=$COMPARE_COUNT
        gap=0
        if [ "$scenario" = tolvane-long ]; then
            export PROJ_DELAY=$LONG_DELAY
            count=$COUNT
        fi
        [ "$scenario" = tolvane-gap ] && { count=$GAP_COUNT; gap=$GAP_MS; }
        start_projector "$scenario"
        tolvane_env "$scenario"
        if [ "$scenario" = tolvane-offscreen ]; then
            platform=offscreen
        else
            start_xvfb
            platform=xcb
        fi
        "${TENV[@]}" QT_QPA_PLATFORM=$platform "$BIN/tolvane" 2>"$OUT/$scenario.err" &
        tpid=$!
        PIDS+=("$tpid")
        echo "$tpid" >"$OUT/$scenario.pid"
        wait_trace "$OUT/$scenario.err" "Serial Open:" 30
        rtt "$scenario" 7000 "$count" "$tpid" "$gap"
        grep VmHWM "/proc/$tpid/status" >"$OUT/$scenario.hwm" || true
        ;;
    profile)
        # The hot path under load, Tolvane under Xvfb: perf where the machine counts instructions,
        # else callgrind on a shorter run.
        [ "$PROFILER" = callgrind ] && DELAY=50
        start_projector profile
        tolvane_env profile
        start_xvfb
        if [ "$PROFILER" = perf ]; then
            "${TENV[@]}" QT_QPA_PLATFORM=xcb "$BIN/tolvane" 2>"$OUT/profile.err" &
            tpid=$!
            PIDS+=("$tpid")
            wait_trace "$OUT/profile.err" "Serial Open:" 30
            perf record -e cpu-clock -F 2000 -g -p "$tpid" -o "$OUT/profile.perf.data" 2>"$OUT/profile.perf.err" &
            perfpid=$!
            rtt profile 7000 "$PROFILE_COUNT" "$tpid" || true
            kill -INT "$perfpid" 2>/dev/null || true
            wait "$perfpid" 2>/dev/null || true
        else
            # Instructions, counted from the first command on (start-up left out). The device answers
            # slowly here so the slowed-down bridge never finds echo and reply in one read.
            "${TENV[@]}" QT_QPA_PLATFORM=xcb valgrind --tool=callgrind --instr-atstart=no \
                --callgrind-out-file="$OUT/profile.callgrind" "$BIN/tolvane" 2>"$OUT/profile.err" &
            tpid=$!
            PIDS+=("$tpid")
            wait_trace "$OUT/profile.err" "Serial Open:" 300
            sleep 2
            callgrind_control --instr=on "$tpid" >/dev/null
            "${rt[@]}" "$BENCHBIN/tvbench" rtt --port 7000 --count "$PROFILE_COUNT" --timeout-ms 5000 \
                --out "$OUT/profile.rtt" 2>"$OUT/profile.client.err" || true
            callgrind_control --dump "$tpid" >/dev/null || true
            stop_pid "$tpid"
        fi
        ;;
    paneflood)
        start_xvfb
        "$BENCHBIN/paneflood" --count "$COUNT" --rss-every 1000 --out "$OUT/paneflood.txt" 2>/dev/null
        "$BENCHBIN/paneflood" --count "$COUNT" --rss-every 1000 --no-undo --out "$OUT/paneflood-noundo.txt" 2>/dev/null
        ;;
    cycles)
        start_projector cycles
        tolvane_env cycles
        "${TENV[@]}" QT_QPA_PLATFORM=offscreen "$BIN/tolvane" 2>"$OUT/cycles.err" &
        tpid=$!
        PIDS+=("$tpid")
        "$BENCHBIN/tvbench" waitport --port 7000 --timeout-ms 20000
        "$BENCHBIN/tvbench" cycles --port 7000 --count "$CYCLES" --pid "$tpid" --out "$OUT/cycles.txt"
        ;;
    startup)
        start_projector startup
        tolvane_env startup
        "$BENCHBIN/tvbench" startup --port 7000 --runs "$STARTS" --timeout-ms 20000 --out "$OUT/startup-tolvane.txt" \
            -- "${TENV[@]}" QT_QPA_PLATFORM=offscreen "$BIN/tolvane" 2>"$OUT/startup.err" || true
        give_address
        printf '%%YAML 1.1\n---\nconnection: &bench\n  accepter: tcp,127.0.0.1,7103\n  connector: serialdev,%s,%sn81,local\n' \
            "$PTY" "$BAUD" >"$OUT/startup-ser2net.yaml"
        "$BENCHBIN/tvbench" startup --port 7103 --runs "$STARTS" --timeout-ms 20000 --out "$OUT/startup-ser2net.txt" \
            -- ser2net -n -c "$OUT/startup-ser2net.yaml" -P "$OUT/startup-ser2net.pid" 2>>"$OUT/startup.err" || true
        ;;
    *)
        echo "bench: unknown scenario $scenario" >&2
        exit 2
        ;;
    esac
    exit 0
fi

# ---------------------------------------------------------------------------------------------------
# The driver.
# ---------------------------------------------------------------------------------------------------
cd "$root"
COUNT=50000
COMPARE_COUNT=5000
LONG_DELAY=5
GAP_COUNT=2000
GAP_MS=10
DELAY=2
BAUD=115200
RETRIES=1
NICE=
STARTS=20
CYCLES=2000
PROBES=1000
PROFILE_COUNT=5000
profile=1
quick=0
only=
invocation="bench/run.sh $*"
while [ $# -gt 0 ]; do
    case $1 in
    --quick) quick=1; COUNT=3000; COMPARE_COUNT=1000; GAP_COUNT=300; STARTS=5; CYCLES=300; PROBES=200; PROFILE_COUNT=1000 ;;
    --count) COUNT=$2; shift ;;
    --compare-count) COMPARE_COUNT=$2; shift ;;
    --long-delay) LONG_DELAY=$2; shift ;;
    --gap-count) GAP_COUNT=$2; shift ;;
    --gap-ms) GAP_MS=$2; shift ;;
    --delay) DELAY=$2; shift ;;
    --baud) BAUD=$2; shift ;;
    --retries) RETRIES=$2; shift ;;
    --nice) NICE=$2; shift ;;
    --no-profile) profile=0 ;;
    --only) only=" $2 "; shift ;;
    -h | --help) awk 'NR > 1 && /^#/ { sub(/^# ?/, ""); print; next } NR > 1 { exit }' "$0"; exit 0 ;;
    *) echo "bench: unknown option $1" >&2; exit 2 ;;
    esac
    shift
done

[ "$(id -u)" -eq 0 ] || { echo "bench: needs root (network namespaces, veth pairs)" >&2; exit 1; }

# --- what the bench needs --------------------------------------------------------------------------
scripts/deps.sh
bench_packages=(socat ser2net gnuplot-nox python3 xvfb xauth iproute2 util-linux)
optional_packages=(linux-perf valgrind)
missing=()
for p in "${bench_packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "bench: installing ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
for p in "${optional_packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" ||
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$p" >/dev/null 2>&1 ||
        echo "bench: optional $p not installed"
done

# --- build -----------------------------------------------------------------------------------------
BUILD=${BENCH_BUILD_DIR:-build}
scripts/build.sh "$BUILD" -- tolvane virtual-projector
cmake -S bench -B "$BUILD/bench" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$BUILD/bench" -j "$(nproc)"
BIN=$(cd "$BUILD/bin" && pwd)
BENCHBIN=$(cd "$BUILD/bench" && pwd)

stamp=$(date -u +%Y%m%d-%H%M%S)
OUT="$root/bench/out/$stamp"
mkdir -p "$OUT"
ln -sfn "$stamp" "$root/bench/out/latest"
echo "bench: results in $OUT"

# The projector and the client stand for hardware and a control program: real-time priority keeps
# their own scheduling out of the bridges' figures, where the system allows it.
BENCH_RT=0
chrt -f 20 true 2>/dev/null && BENCH_RT=1

PROFILER=none
if [ $profile -eq 1 ]; then
    if perf stat -e instructions true 2>&1 | grep -q "instructions" &&
        ! perf stat -e instructions true 2>&1 | grep -q "not supported"; then
        PROFILER=perf
    elif command -v valgrind >/dev/null; then
        PROFILER=callgrind
        PROFILE_COUNT=$((PROFILE_COUNT / 10))
    fi
fi

export BIN BENCHBIN OUT COUNT COMPARE_COUNT LONG_DELAY GAP_COUNT GAP_MS DELAY BAUD CYCLES STARTS PROFILE_COUNT PROFILER BENCH_RT
export QT_LOGGING_TO_CONSOLE=1

# Machine facts, and the load around the run (the machine should be quiet).
{
    echo "date=$(date -u '+%Y-%m-%d %H:%M UTC')"
    echo "invocation=$invocation"
    echo "quick=$quick"
    echo "count=$COUNT"
    echo "compare_count=$COMPARE_COUNT"
    echo "long_delay_ms=$LONG_DELAY"
    echo "gap_count=$GAP_COUNT"
    echo "gap_ms=$GAP_MS"
    echo "delay_ms=$DELAY"
    echo "baud=$BAUD"
    echo "cycles=$CYCLES"
    echo "starts=$STARTS"
    echo "probes=$PROBES"
    echo "realtime_helpers=$BENCH_RT"
    echo "nice=${NICE:-0}"
    echo "build_dir=$BUILD"
    echo "profiler=$PROFILER"
    echo "cpu=$(lscpu | sed -n 's/^Model name: *//p' | head -n 1)"
    echo "cores=$(nproc)"
    echo "memory=$(free -h | awk '/^Mem:/ { print $2 }')"
    echo "kernel=$(uname -r)"
    echo "os=$(. /etc/os-release && echo "$PRETTY_NAME")"
    echo "qt=$(dpkg-query -W -f='${Version}' libqt5core5a 2>/dev/null)"
    echo "socat=$(socat -V 2>/dev/null | sed -n 's/^socat version \([^ ]*\).*/\1/p')"
    echo "ser2net=$(ser2net -v 2>&1 | sed -n 's/^ser2net version //p')"
    echo "commit=$(git rev-parse --short HEAD 2>/dev/null)$(git diff --quiet HEAD -- app net core settings 2>/dev/null || echo ' (with uncommitted changes)')"
    echo "load_before=$(cut -d ' ' -f 1-3 /proc/loadavg)"
} >"$OUT/meta.env"

nicer=()
[ -n "$NICE" ] && nicer=(nice -n "$NICE")

# scenario NAME: runs it in a network namespace of its own, again after a stall (up to --retries).
scenario() {
    local name=$1 attempt rc
    if [ -n "$only" ] && [[ $only != *" $name "* ]]; then
        return 0
    fi
    for attempt in $(seq 0 "$RETRIES"); do
        if [ "$attempt" -eq 0 ]; then echo "bench: $name"; else echo "bench: $name (again, attempt $((attempt + 1)))"; fi
        rc=0
        "${nicer[@]}" timeout 3600 unshare -n "$self" --inner "$name" || rc=$?
        echo "$attempt" >"$OUT/$name.retries"
        [ $rc -eq 0 ] && return 0
        echo "bench: $name failed ($(cat "$OUT/$name.status" 2>/dev/null || echo "exit $rc"))" >&2
    done
    return 0
}

scenario floor
scenario socat
scenario ser2net-default
scenario ser2net-tuned
scenario tolvane-offscreen
scenario tolvane-xvfb
scenario socat-gap
scenario tolvane-gap
scenario socat-long
scenario tolvane-long
scenario paneflood
scenario cycles
scenario startup
[ "$PROFILER" != none ] && scenario profile

# --- discovery: the bridge in one namespace, the prober in another, a veth pair between ------------
NSB="tvbench-bridge-$$"
NSC="tvbench-client-$$"
DISC_TPID=
DISC_PPID=
disc_cleanup() {
    local pid
    for pid in $DISC_TPID $DISC_PPID; do
        kill -TERM "$pid" 2>/dev/null || true
        for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
        kill -KILL "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    DISC_TPID=
    DISC_PPID=
    ip netns del "$NSB" 2>/dev/null || true
    ip netns del "$NSC" 2>/dev/null || true
}
trap disc_cleanup EXIT

discovery() {
    local pty=
    if ! { ip netns add "$NSB" && ip netns add "$NSC"; }; then
        echo "bench: no network namespaces: discovery skipped" >&2
        return 0
    fi
    ip -n "$NSB" link add vb0 type veth peer name vc0 netns "$NSC"
    ip -n "$NSB" link set lo up
    ip -n "$NSB" addr add 10.78.0.1/24 dev vb0
    ip -n "$NSB" link set vb0 up
    ip -n "$NSB" route add default via 10.78.0.2 # the limited broadcast reply needs a route
    ip -n "$NSC" link set lo up
    ip -n "$NSC" addr add 10.78.0.2/24 dev vc0
    ip -n "$NSC" link set vc0 up

    "$BIN/virtual-projector" --delay "$DELAY" >"$OUT/discovery.proj.out" 2>&1 &
    DISC_PPID=$!
    for _ in $(seq 100); do
        pty=$(head -n 1 "$OUT/discovery.proj.out" 2>/dev/null || true)
        [ -n "$pty" ] && break
        sleep 0.05
    done
    mkdir -p -m 700 "$OUT/discovery.runtime"
    write_tolvane_ini "$OUT/discovery.data" "$pty" "$BAUD"
    "${nicer[@]}" ip netns exec "$NSB" env QT_QPA_PLATFORM=offscreen XDG_DATA_HOME="$OUT/discovery.data" \
        XDG_RUNTIME_DIR="$OUT/discovery.runtime" TOLVANE_SERIAL_PORTS="$pty" "$BIN/tolvane" 2>"$OUT/discovery.err" &
    DISC_TPID=$!
    for _ in $(seq 200); do
        grep -q "UDPrx Bind 35070 true" "$OUT/discovery.err" 2>/dev/null && break
        sleep 0.1
    done
    sleep 0.5
    echo "bench: discovery"
    # A fresh bridge counts from 0: the burst goes first. The kernel counts what the bridge's full
    # receive buffer turned away.
    ip netns exec "$NSB" cat /proc/net/snmp >"$OUT/discovery-snmp-before.txt"
    ip netns exec "$NSC" "$BENCHBIN/tvbench" discovery --target 10.78.0.1 --count "$PROBES" --mode burst \
        --timeout-ms 5000 --out "$OUT/discovery-burst.txt" || true
    ip netns exec "$NSB" cat /proc/net/snmp >"$OUT/discovery-snmp-after.txt"
    ip netns exec "$NSB" sysctl -n net.core.rmem_default >"$OUT/discovery-rmem.txt" 2>/dev/null || true
    ip netns exec "$NSC" "$BENCHBIN/tvbench" discovery --target 10.78.0.1 --count "$PROBES" --mode seq \
        --timeout-ms 1000 --out "$OUT/discovery-seq.txt" || true
    disc_cleanup
}
if [ -z "$only" ] || [[ $only == *" discovery "* ]]; then
    discovery
fi

echo "load_after=$(cut -d ' ' -f 1-3 /proc/loadavg)" >>"$OUT/meta.env"

if [ "$PROFILER" = perf ] && [ -s "$OUT/profile.perf.data" ]; then
    perf report -i "$OUT/profile.perf.data" --stdio --no-children --sort dso,sym -g none --percent-limit 0.7 \
        >"$OUT/profile.txt" 2>/dev/null || true
    perf report -i "$OUT/profile.perf.data" --stdio --no-children --sort dso -g none \
        >"$OUT/profile-dso.txt" 2>/dev/null || true
    perf report -i "$OUT/profile.perf.data" --stdio --children --sort sym -g none --percent-limit 2 \
        >"$OUT/profile-children.txt" 2>/dev/null || true
elif [ "$PROFILER" = callgrind ]; then
    dump=$(ls -S "$OUT"/profile.callgrind* 2>/dev/null | head -n 1)
    if [ -n "$dump" ]; then
        callgrind_annotate --inclusive=yes "$dump" >"$OUT/profile-children.txt" 2>/dev/null || true
        callgrind_annotate "$dump" >"$OUT/profile.txt" 2>/dev/null || true
    fi
fi

python3 bench/report.py "$OUT" docs
echo "bench: wrote docs/PERFORMANCE.md and docs/perf-*.png"
