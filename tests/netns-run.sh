#!/usr/bin/env bash
# Runs a test in a fresh network namespace with only loopback up.
set -euo pipefail
if ! unshare -n true 2>/dev/null; then
    echo "netns-run: cannot create a network namespace (needs root or user namespaces); refusing to run a test that binds the bridge's fixed ports in the machine's own namespace" >&2
    exit 1
fi
exec unshare -n bash -c 'ip link set lo up && exec "$@"' netns-run "$@"
