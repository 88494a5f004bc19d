#!/usr/bin/env bash
# Fuzz the bridge's text rules (fuzz/) for a short, bounded time each; any crash or broken rule fails.
# FUZZ_SECONDS (default 15) is the time per target; FUZZ_BUILD_DIR (default build-fuzz) the build.
set -euo pipefail
cd "$(dirname "$0")/../.."

seconds=${FUZZ_SECONDS:-15}
build=${FUZZ_BUILD_DIR:-build-fuzz}
targets=(localanswer datagram serialreply inivalue destination tcptext portlist escape discoveryreply)

# clang and its fuzzer runtime come from Debian.
missing=()
command -v clang++ >/dev/null || missing+=(clang)
dpkg -s libclang-rt-14-dev >/dev/null 2>&1 || missing+=(libclang-rt-14-dev)
if ((${#missing[@]})); then
    export DEBIAN_FRONTEND=noninteractive
    apt-get install -y -q --no-install-recommends "${missing[@]}" \
        || { apt-get update -q && apt-get install -y -q --no-install-recommends "${missing[@]}"; }
fi

CC=clang CXX=clang++ cmake -S fuzz -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >"$build.configure.log" 2>&1 \
    || { cat "$build.configure.log"; exit 1; }
rm -f "$build.configure.log"
cmake --build "$build" -j2 -- --quiet >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

passed=0 failed=0
for t in "${targets[@]}"; do
    # A copy of the seeds, so what the fuzzer adds never lands in the committed corpus.
    mkdir -p "$work/$t/corpus" "$work/$t/artifacts"
    cp fuzz/corpus/"$t"/* "$work/$t/corpus/"
    seeds=$(ls "$work/$t/corpus" | wc -l)
    log=$work/$t/log
    if "$build/fuzz_$t" -max_total_time="$seconds" -timeout=5 -rss_limit_mb=2048 -max_len=4096 \
        -artifact_prefix="$work/$t/artifacts/" "$work/$t/corpus" >"$log" 2>&1; then
        runs=$(grep -oE 'Done [0-9]+ runs' "$log" | grep -oE '[0-9]+' || echo '?')
        cov=$(grep -oE 'cov: [0-9]+' "$log" | tail -n1 | grep -oE '[0-9]+' || echo '?')
        echo "fuzz_$t: ok, $runs runs in ${seconds}s, coverage $cov, corpus $seeds -> $(ls "$work/$t/corpus" | wc -l) inputs"
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        mkdir -p "$build/artifacts/$t"
        cp "$work/$t/artifacts/"* "$build/artifacts/$t/" 2>/dev/null || true
        echo "fuzz_$t: FAILED (inputs kept in $build/artifacts/$t/)"
        grep -E 'rule broken|ERROR: |runtime error|SUMMARY' "$log" | head -n 5 | sed 's/^/    /'
        tail -n 40 "$log" | sed 's/^/    | /'
    fi
done

echo "fuzz: $passed passed, $failed failed"
((failed == 0))
