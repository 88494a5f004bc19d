#!/usr/bin/env bash
# Builds Tolvane and runs the whole suite:
#   1. build/       normal build, every CTest test (Qt tests run offscreen; those that bind the
#                   bridge's ports run each in a network namespace of its own)
#   2. build-asan/  AddressSanitizer + UndefinedBehaviorSanitizer build, the same tests; any report fails
#   3. scripts/test.d/*.sh, in name order, from the repository root, with TOLVANE_BUILD and
#      TOLVANE_BUILD_ASAN naming the two build folders (fuzzing, packaging, soak runs and the like)
# Exits non-zero if anything failed; the summary names each failed step and test with the lines of
# its output that say why. The whole run is bounded by TOLVANE_TEST_BUDGET seconds (default 4800).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

budget=${TOLVANE_TEST_BUDGET:-4800}
deadline=$((SECONDS + budget))
jobs=$(nproc)

export QT_QPA_PLATFORM=offscreen
export TOLVANE_BUILD=$root/build
export TOLVANE_BUILD_ASAN=$root/build-asan

summary=()   # the summary's lines: one per step, and why for each failure
passed=0     # tests (CTest) and steps that passed
failed=0
log_dir=$(mktemp -d)
trap 'rm -rf "$log_dir"' EXIT

remaining() {
    local left=$((deadline - SECONDS))
    [ $left -gt 0 ] || left=1
    echo $left
}

# Runs a command within what is left of the budget; 124 means the budget ran out.
bounded() {
    timeout -k 20 "$(remaining)" "$@"
}

record() { # name status [detail]
    summary+=("$(printf '%-4s  %s%s' "$2" "$1" "${3:+  ($3)}")")
}

# The few lines of a failure's output that say why: the failure lines themselves, else its end.
why() { # log
    local lines
    lines=$(grep -E 'FAIL|Loc: \[|runtime error|ERROR: |SUMMARY: |[Ee]rror:' "$1" | head -n 8 || true)
    [ -n "$lines" ] || lines=$(tail -n 8 "$1")
    while IFS= read -r line; do summary+=("        ${line:0:160}"); done <<<"$lines"
}

# Runs one step, its output shown and kept: PASS or FAIL in the summary, with why when it failed.
step() { # name command...
    local name=$1 status=0
    shift
    echo "=== $name"
    bounded "$@" 2>&1 | tee "$log_dir/step.log" || status=$?
    if [ $status -eq 0 ]; then
        record "$name" PASS
        passed=$((passed + 1))
        return 0
    fi
    record "$name" FAIL "exit $status$([ $status -eq 124 ] && echo ', out of time')"
    why "$log_dir/step.log"
    failed=$((failed + 1))
    return 1
}

run_ctest() { # dir
    local dir=$1 log=$log_dir/ctest.log status=0 name
    echo "=== ctest $dir"
    # --output-on-failure keeps the whole story in the log above; the summary takes only the gist.
    bounded ctest --test-dir "$dir" --output-on-failure -j "$jobs" 2>&1 | tee "$log" || status=$?
    local line total=0 bad=0
    line=$(grep -E '[0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1 || true)
    if [[ $line =~ ([0-9]+)\ tests?\ failed\ out\ of\ ([0-9]+) ]]; then
        bad=${BASH_REMATCH[1]}
        total=${BASH_REMATCH[2]}
    fi
    if [ "$total" -eq 0 ]; then
        # Nothing ran (or the budget ran out before CTest could say): that is a failure too.
        record "ctest $dir" FAIL "no test result, exit $status"
        why "$log"
        failed=$((failed + 1))
        return
    fi
    passed=$((passed + total - bad))
    failed=$((failed + bad))
    if [ "$status" -eq 0 ] && [ "$bad" -eq 0 ]; then
        record "ctest $dir" PASS "$total tests"
        return
    fi
    [ "$bad" -gt 0 ] || failed=$((failed + 1))
    record "ctest $dir" FAIL "$bad of $total failed, exit $status"
    # Each failed test with its own output, as CTest kept it.
    while IFS=: read -r _ name; do
        summary+=("      $name")
        awk -v name="$name" '$0 == "Output:" && test == name { getline; out = 1; next }
                             /^[0-9]+\/[0-9]+ Test: / { test = $3 }
                             out && $0 == "<end of output>" { exit }
                             out { print }' "$dir/Testing/Temporary/LastTest.log" >"$log_dir/test.log"
        why "$log_dir/test.log"
    done < <(cat "$dir/Testing/Temporary/LastTestsFailed.log" 2>/dev/null || true)
}

scripts/deps.sh --test

# 0. The C++ layout (.clang-format): scripts/format.sh lays a file out, this fails on one that is not.
if [ "${TOLVANE_FORMAT_CHECK:-1}" = 1 ]; then
    step "format" scripts/format.sh --check || true
fi

# 1. Normal build.
if step "build build" scripts/build.sh build; then
    run_ctest build
fi

# 2. Sanitizers: the first report stops the program with a failing exit code. Slow unwinding gives
#    leak reports whole stacks, so tests/lsan.supp can name the system library a leak is in.
export ASAN_OPTIONS="halt_on_error=1:abort_on_error=0:exitcode=86:print_stacktrace=1:detect_leaks=1:fast_unwind_on_malloc=0:detect_stack_use_after_return=1:check_initialization_order=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:exitcode=87"
export LSAN_OPTIONS="suppressions=$root/tests/lsan.supp:print_suppressions=0"
if step "build build-asan" scripts/build.sh build-asan -DTOLVANE_SANITIZE=ON; then
    run_ctest build-asan
fi
unset ASAN_OPTIONS UBSAN_OPTIONS LSAN_OPTIONS

# 3. Extra steps that other parts of the project add.
shopt -s nullglob
for script in scripts/test.d/*.sh; do
    [ -x "$script" ] || continue
    step "${script#scripts/test.d/}" "$script" || true
done

echo
echo "=== Summary ($((SECONDS / 60)) min $((SECONDS % 60)) s)"
printf '%s\n' "${summary[@]}"
echo "summary: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
