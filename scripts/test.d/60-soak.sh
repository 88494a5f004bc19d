#!/usr/bin/env bash
# The short soak (bench/soak.sh --short) against the sanitized build: junk, datagrams, connection
# cycles, markup and a device unplugged mid-traffic, inside a private network namespace. Any finding
# fails: the bridge gone or wrong afterwards, a file or URL opened because of markup, a sanitizer report.
# SOAK_SEED repeats an earlier run (each run prints its seed).
set -euo pipefail
cd "$(dirname "$0")/../.."

bin=${TOLVANE_BUILD_ASAN:-build-asan}/bin
[ -x "$bin/tolvane" ] || bin=${TOLVANE_BUILD:-build}/bin

scripts/deps.sh strace # watches what the bridge opens while markup goes by

exec timeout -k 10 "${SOAK_BUDGET:-240}" bench/soak.sh --short --bin "$bin" ${SOAK_SEED:+--seed "$SOAK_SEED"}
