#!/usr/bin/env bash
# Builds Tolvane and runs the whole suite:
#   1. build/       normal build, every CTest test (Qt tests run offscreen, each in its own network namespace)
#   2. build-asan/  AddressSanitizer + UndefinedBehaviorSanitizer build, the same tests; any report fails
#   3. scripts/test.d/*.sh, in name order, from the repository root, with TOLVANE_BUILD and
#      TOLVANE_BUILD_ASAN naming the two build folders (fuzzing, packaging, soak runs and the like)
# Exits non-zero if anything failed. The whole run is bounded by TOLVANE_TEST_BUDGET seconds (default 4800).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

budget=${TOLVANE_TEST_BUDGET:-4800}
deadline=$((SECONDS + budget))
jobs=$(nproc)

export QT_QPA_PLATFORM=offscreen
export TOLVANE_BUILD=$root/build
export TOLVANE_BUILD_ASAN=$root/build-asan

steps=()     # one line per step for the summary
passed=0     # tests (CTest) and scripts (test.d) that passed
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
    steps+=("$(printf '%-4s  %s%s' "$2" "$1" "${3:+  ($3)}")")
}

build() { # dir [cmake option...]
    local dir=$1
    shift
    echo "=== build $dir"
    if bounded cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >"$log_dir/configure.log" 2>&1 \
        || { cat "$log_dir/configure.log"; false; }; then
        if bounded cmake --build "$dir" -j "$jobs"; then
            record "build $dir" PASS
            return 0
        fi
    fi
    record "build $dir" FAIL
    failed=$((failed + 1))
    return 1
}

run_ctest() { # dir
    local dir=$1 log=$log_dir/ctest.log status=0
    echo "=== ctest $dir"
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
        failed=$((failed + 1))
        return
    fi
    passed=$((passed + total - bad))
    failed=$((failed + bad))
    if [ "$status" -eq 0 ] && [ "$bad" -eq 0 ]; then
        record "ctest $dir" PASS "$total tests"
    else
        [ "$bad" -gt 0 ] || failed=$((failed + 1))
        record "ctest $dir" FAIL "$bad of $total failed, exit $status"
    fi
}

scripts/deps.sh --test

# 1. Normal build.
if build build; then
    run_ctest build
fi

# 2. Sanitizers: the first report stops the program with a failing exit code. Slow unwinding gives
#    leak reports whole stacks, so tests/lsan.supp can name the system library a leak is in.
export ASAN_OPTIONS="halt_on_error=1:abort_on_error=0:exitcode=86:print_stacktrace=1:detect_leaks=1:fast_unwind_on_malloc=0:detect_stack_use_after_return=1:check_initialization_order=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:exitcode=87"
export LSAN_OPTIONS="suppressions=$root/tests/lsan.supp:print_suppressions=0"
if build build-asan -DTOLVANE_SANITIZE=ON; then
    run_ctest build-asan
fi
unset ASAN_OPTIONS UBSAN_OPTIONS LSAN_OPTIONS

# 3. Extra steps that other parts of the project add.
shopt -s nullglob
for script in scripts/test.d/*.sh; do
    [ -x "$script" ] || continue
    name=${script#scripts/test.d/}
    echo "=== $name"
    status=0
    (cd "$root" && bounded "$script") || status=$?
    if [ $status -eq 0 ]; then
        record "$name" PASS
        passed=$((passed + 1))
    else
        record "$name" FAIL "exit $status$([ $status -eq 124 ] && echo ', out of time')"
        failed=$((failed + 1))
    fi
done

echo
echo "=== Summary ($((SECONDS / 60)) min $((SECONDS % 60)) s)"
printf '%s\n' "${steps[@]}"
echo "summary: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
