# Process helpers for the scripts. Source it; needs bash.

# stop_pid PID [TENTHS]: stops PID and, first, the processes it started (depth first): TERM, then KILL
# after TENTHS tenths of a second (default 30); reaps it when it is our child.
stop_pid() {
    local pid=$1 tenths=${2:-30} child
    [ -n "$pid" ] || return 0
    for child in $(cat /proc/"$pid"/task/*/children 2>/dev/null); do
        stop_pid "$child" "$tenths"
    done
    kill -TERM "$pid" 2>/dev/null || { wait "$pid" 2>/dev/null || true; return 0; }
    local i
    for ((i = 0; i < tenths; i++)); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    kill -KILL "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
}

# wait_for TENTHS COMMAND...: runs COMMAND every tenth of a second until it succeeds; fails after
# TENTHS tries.
wait_for() {
    local tries=$1
    shift
    for ((; tries > 0; tries--)); do
        "$@" >/dev/null 2>&1 && return 0
        sleep 0.1
    done
    return 1
}
