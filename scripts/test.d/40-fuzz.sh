#!/usr/bin/env bash
# Fuzz the bridge's text rules (fuzz/) for a short, bounded time each; any crash or broken rule fails.
# FUZZ_SECONDS (default 15) is the time per target; FUZZ_BUILD_DIR (default build-fuzz) the build.
set -euo pipefail
cd "$(dirname "$0")/../.."

seconds=${FUZZ_SECONDS:-15}
build=${FUZZ_BUILD_DIR:-build-fuzz}

scripts/deps.sh clang libclang-rt-14-dev # clang and its fuzzer runtime

# A build-fuzz/ left from when fuzz/ was a project of its own cannot be configured from the top.
grep -qs '^CMAKE_HOME_DIRECTORY:INTERNAL=.*/fuzz$' "$build/CMakeCache.txt" && rm -rf "$build"
# The main project with its fuzz option: the targets link the real core, built sanitized and instrumented.
CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTOLVANE_FUZZ=ON -DBUILD_TESTING=OFF \
    >"$build.configure.log" 2>&1 || { cat "$build.configure.log"; exit 1; }
rm -f "$build.configure.log"
cmake --build "$build" -j2 --target fuzz -- --quiet >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Leaks inside system libraries (named there) are theirs; a leak with our code on its stack fails.
export LSAN_OPTIONS="suppressions=$(pwd)/tests/lsan.supp:print_suppressions=0"

passed=0 failed=0
# Every target fuzz/CMakeLists.txt builds, each with its seeds from fuzz/corpus/NAME if there are any.
for target in "$build"/bin/fuzz_*; do
    [ -f "$target" ] && [ -x "$target" ] || continue
    t=${target##*/fuzz_}
    # A copy of the seeds, so what the fuzzer adds never lands in the committed corpus.
    mkdir -p "$work/$t/corpus" "$work/$t/artifacts"
    cp fuzz/corpus/"$t"/* "$work/$t/corpus/" 2>/dev/null || true
    seeds=$(ls "$work/$t/corpus" | wc -l)
    log=$work/$t/log
    if "$build/bin/fuzz_$t" -max_total_time="$seconds" -timeout=5 -rss_limit_mb=2048 -max_len=4096 \
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
