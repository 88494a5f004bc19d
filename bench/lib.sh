# Shell helpers for the benchmark, the soak and the memcheck step. Source it after
# scripts/lib/proc.sh; needs bash, cmake, iproute2 and util-linux.

# tvbench_build BUILD_DIR: builds the bench's network peer into BUILD_DIR/bench and prints its path.
tvbench_build() {
    local src dir=$1/bench
    src=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
    cmake -S "$src" -B "$dir" >/dev/null && cmake --build "$dir" >/dev/null && echo "$(cd "$dir" && pwd)/tvbench"
}

# linerelay_build BUILD_DIR: builds the benchmark's reference Qt relay beside tvbench and prints its path.
linerelay_build() {
    local dir=$1/bench
    tvbench_build "$1" >/dev/null && cmake --build "$dir" --target linerelay >/dev/null && echo "$(cd "$dir" && pwd)/linerelay"
}

# stop_on_exit: every process whose PID goes into PIDS, the peer namespace (PEER_PID) and the X display
# are stopped when the script exits. Needs scripts/lib/xvfb.sh.
stop_on_exit() {
    PIDS=()
    PEER_PID=
    trap 'for pid in "${PIDS[@]}" $PEER_PID; do stop_pid "$pid" 50 || true; done; xvfb_stop' EXIT
}

# peer_netns IFACE ADDRESS PEER_ADDRESS [SECONDS]: a second network namespace joined to this one by a
# veth pair (IFACE here), ADDRESS/24 here and PEER_ADDRESS/24 there, and this namespace's default
# route through the pair, so that the bridge's limited-broadcast discovery replies reach the peer.
# The namespace lives as long as the process PEER_PID (at most SECONDS, default 3600: stop it with
# stop_pid, also when this function fails); "${PEER[@]}"
# runs a command inside it. Sets PEER_MAC, IFACE's hardware address in upper case.
peer_netns() {
    local iface=$1 here=$2 there=$3
    unshare -n sleep "${4:-3600}" </dev/null >/dev/null 2>&1 &
    PEER_PID=$!
    PEER=(nsenter "--net=/proc/$PEER_PID/ns/net")
    wait_for 50 peer_netns_ready || return 1
    ip link add "$iface" type veth peer name "$iface-peer" netns "$PEER_PID"
    ip addr add "$here/24" dev "$iface"
    ip link set "$iface" up
    ip route add default dev "$iface"
    "${PEER[@]}" ip link set lo up
    "${PEER[@]}" ip addr add "$there/24" dev "$iface-peer"
    "${PEER[@]}" ip link set "$iface-peer" up
    PEER_MAC=$(ip -o link show "$iface" | sed -n 's|.* link/ether \([^ ]*\).*|\1|p' | tr 'a-f' 'A-F')
}

peer_netns_ready() {
    [ "$(readlink "/proc/$PEER_PID/ns/net")" != "$(readlink /proc/self/ns/net)" ]
}

# only_wants NAME: whether --only (its words in $only) lets the scenario or part NAME run: every one
# runs without it, and with it those whose names begin with one of its words.
only_wants() {
    local word
    [ -n "${only:-}" ] || return 0
    for word in $only; do [[ $1 == "$word"* ]] && return 0; done
    return 1
}
