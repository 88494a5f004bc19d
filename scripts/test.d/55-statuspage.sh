#!/usr/bin/env bash
# The status page in a real browser: headless Chromium opens the page that status-page-server (a
# fixed record, loopback, a private network namespace) serves, takes a phone-sized screenshot and
# dumps the DOM once the page's script has run and fetched /status again; the page's text is checked.
#   scripts/test.d/55-statuspage.sh [--update-docs]   the latter also keeps docs/status-page.png
set -euo pipefail
cd "$(dirname "$0")/../.."
here=$(pwd)
build=${TOLVANE_BUILD:-$here/build}

inside() { # work-folder
    local work=$1 url
    source scripts/lib/proc.sh
    ip link set lo up
    pid="" # global: the EXIT trap runs after this function returned
    trap 'stop_pid "$pid"' EXIT
    "$build/bin/status-page-server" >"$work/port" 2>"$work/server.log" &
    pid=$!
    wait_for 300 test -s "$work/port" || { echo "FAIL status-page-server did not listen"; cat "$work/server.log"; return 1; }
    url=http://127.0.0.1:$(cat "$work/port")/
    local browser=(timeout 120 chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run
        --disable-background-networking --disable-component-update --disable-sync --hide-scrollbars
        --user-data-dir="$work/profile")
    "${browser[@]}" --window-size=412,1120 --screenshot="$work/status-page.png" "$url" >"$work/chromium.log" 2>&1
    # Past the first refresh (every 3 s), in the browser's virtual time.
    "${browser[@]}" --virtual-time-budget=4000 --dump-dom "$url" >"$work/dom.html" 2>>"$work/chromium.log"
}

if [ "${1:-}" = "--inside" ]; then
    build=$3
    inside "$2"
    exit
fi

scripts/deps.sh chromium iproute2 util-linux
[ -x "$build/bin/status-page-server" ] || scripts/build.sh "$build" -- status-page-server
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
if ! unshare -n "$0" --inside "$work" "$build"; then
    echo "FAIL the browser run"
    cat "$work/chromium.log" 2>/dev/null || true
    exit 1
fi

# What a person reads: the record of tests/support/statusfixture.h and its traffic.
text=$(sed -e '/<script>/,/<\/script>/d' -e 's/<[^>]*>/\n/g' "$work/dom.html" | sed -e 's/^[[:space:]]*//' -e '/^$/d')
for expected in "Tolvane 0.9.1.0 · service · up 1 h 2 min" "Port open" "Commands" "Written" "10000" \
    "Replies forwarded" "9998" "10.77.0.5:51234" "1 s ago" "Probes answered" "Datagrams" "1000" \
    "14:02:11.123 &lt;&lt;&lt; OP STATUS=ON"; do
    if grep -qxF -- "$expected" <<<"$text"; then
        echo "PASS the page shows '$expected'"
    else
        echo "FAIL the page does not show '$expected'"
        failures=$((failures + 1))
    fi
done
if grep -q "no answer since" <<<"$text"; then
    echo "FAIL the page's refresh found no answer at /status"
    failures=$((failures + 1))
fi
if [ ! -s "$work/status-page.png" ]; then
    echo "FAIL no screenshot"
    failures=$((failures + 1))
elif [ "${1:-}" = "--update-docs" ]; then
    cp "$work/status-page.png" docs/status-page.png
    echo "kept docs/status-page.png"
fi

if [ $failures -eq 0 ]; then
    echo "status page: all checks passed"
else
    echo "status page: $failures checks failed"
    sed -n '1,200p' "$work/dom.html"
    exit 1
fi
