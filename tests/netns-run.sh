#!/usr/bin/env bash
# Runs a test in a fresh network namespace with only loopback up (CTest's wrapper for the tests that
# bind the bridge's fixed ports or send datagrams).
exec "$(dirname "$0")/../scripts/lib/netns.sh" "$@"
