# Verdicts for the test scripts. Source it; needs bash.

# check WHAT COMMAND...: runs COMMAND and prints "ok   - WHAT" or "FAIL - WHAT", counting failures in
# FAILS. CHECK_OK and CHECK_FAIL change the words before WHAT. Returns 0 either way, so that a script
# under set -e goes on to its next check.
FAILS=0
CHECK_OK="ok   -" CHECK_FAIL="FAIL -"
check() {
    local what=$1
    shift
    if "$@"; then
        echo "$CHECK_OK $what"
    else
        echo "$CHECK_FAIL $what"
        FAILS=$((FAILS + 1))
    fi
}

# die MESSAGE: prints "NAME: FAIL: MESSAGE" (NAME: the script's file name without .sh), then what the
# script's own die_details function shows (the ends of its logs), and exits with status 1.
die() {
    echo "$(basename "$0" .sh): FAIL: $*"
    if declare -F die_details >/dev/null; then die_details; fi
    exit 1
}
