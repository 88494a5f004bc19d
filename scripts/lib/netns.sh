#!/usr/bin/env bash
# Private network namespaces for the tests, the suite's extra steps and the benchmark: whatever binds
# the bridge's fixed ports, sends a discovery probe or can answer one runs in a namespace of its own
# with only loopback up, never in the machine's. Needs bash, unshare (util-linux) and ip (iproute2).
#
#   scripts/lib/netns.sh COMMAND...     runs COMMAND in a fresh namespace (for callers that are not bash)
#   source scripts/lib/netns.sh         then netns_run, netns_reexec and netns_inside below

# A fresh network namespace with loopback up, then exec of the rest: NAME COMMAND... (NAME is $0 there).
NETNS_ENTER=(unshare -n bash -c 'ip link set lo up && exec "$@"')

# netns_available WHO: fails, saying so on stderr as WHO, when this process may not create a network
# namespace (it needs root or user namespaces).
netns_available() {
    unshare -n true 2>/dev/null && return 0
    echo "$1: cannot create a network namespace (needs root or user namespaces)" >&2
    return 1
}

# netns_run WHO COMMAND...: runs COMMAND in a fresh network namespace with only loopback up and returns
# its status; fails as netns_available does.
netns_run() {
    local who=$1
    shift
    netns_available "$who" || return 1
    "${NETNS_ENTER[@]}" "$who" "$@"
}

# netns_inside SCRIPT: true in the run of SCRIPT that netns_reexec started in its own namespace.
netns_inside() {
    [ "${TOLVANE_NETNS_OF:-}" = "$(realpath "$1")" ]
}

# netns_reexec [--timeout SECONDS] SCRIPT [ARG...]: at the top of SCRIPT ("$0" "$@"). The first time,
# runs SCRIPT again with bash and ARGs in a fresh network namespace with only loopback up, in place of
# this process (bounded to SECONDS with --timeout); in that run it returns at once. Exits with status 1
# when no namespace can be created.
netns_reexec() {
    local limit=()
    if [ "$1" = --timeout ]; then
        limit=(timeout -k 10 "$2")
        shift 2
    fi
    local script
    script=$(realpath "$1")
    shift
    netns_inside "$script" && return 0
    netns_available "$(basename "$script" .sh)" || exit 1
    TOLVANE_NETNS_OF=$script exec "${limit[@]}" "${NETNS_ENTER[@]}" "$script" bash "$script" "$@"
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
    set -euo pipefail
    netns_available netns-run || exit 1
    exec "${NETNS_ENTER[@]}" netns-run "$@"
fi
