#!/usr/bin/env bash
# Configures and builds Tolvane: scripts/build.sh [BUILD_DIR [CMAKE_OPTION... [-- TARGET...]]]
# BUILD_DIR defaults to build/; without targets everything (program, tools, tests) is built.
set -euo pipefail

cd "$(dirname "$0")/.."
build=${1:-build}
shift || true
options=()
targets=()
while [ $# -gt 0 ]; do
    if [ "$1" = "--" ]; then
        shift
        targets=("$@")
        break
    fi
    options+=("$1")
    shift
done

# Configuring says little worth reading unless it fails.
log=$(mktemp)
trap 'rm -f "$log"' EXIT
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo "${options[@]}" >"$log" 2>&1 || { cat "$log" >&2; exit 1; }
target_args=()
for t in "${targets[@]}"; do target_args+=(--target "$t"); done
cmake --build "$build" -j "$(nproc)" "${target_args[@]}"
