#!/usr/bin/env bash
# The arm64 build (Raspberry Pi OS bookworm, Debian 12 arm64), checked on this machine under qemu
# user-mode emulation: the package cross-built and checked as this machine's is (50-package.sh
# --arch arm64), the rule tests (CTest label unit), and the arm64 bridge on the arm64 virtual
# projector in a private network namespace, answering commands and a discovery probe byte for byte.
# Bounded by TOLVANE_ARM64_BUDGET seconds (default 900); each stage says how long it took.
# `--arch armhf` checks the 32-bit build the same way (by hand: CI runs arm64 only).
set -euo pipefail

cd "$(dirname "$0")/../.."
here=$(pwd)
self=$here/scripts/test.d/80-arm64.sh
arch=arm64
if [ "${1:-}" = "--arch" ]; then
    arch=${2:?usage: 80-arm64.sh [--arch ARCH]}
    shift 2
fi
build=$here/build-$arch

# The bridge end to end, run inside a network namespace of its own.
end_to_end() {
    local fails=0 mac pty probe_bin began ready
    work="" pids=() # global: the EXIT trap runs after this function returned
    source scripts/lib/proc.sh
    source scripts/lib/bridge.sh
    source scripts/lib/cross.sh
    build_emulator "$build"
    work=$(mktemp -d)
    trap 'for p in "${pids[@]}"; do stop_pid "$p"; done; rm -rf "$work"' EXIT
    trap 'exit 1' INT TERM HUP
    same() { # what expected actual
        if [ "$2" == "$3" ]; then echo "PASS $1"; else printf 'FAIL %s\n     expected: %q\n     actual:   %q\n' "$@"; fails=$((fails + 1)); fi
    }
    die() { echo "FAIL $*"; for f in "$work"/*.log; do echo "--- $f"; tail -n 15 "$f"; done; exit 1; }

    # Discovery replies name the first interface with an IPv4 address other than loopback: a veth
    # pair of this namespace's own, both ends here, so the broadcasts go nowhere else.
    ip link set lo up
    ip link add tv0 type veth peer name tv1 && ip addr add 10.79.0.1/24 dev tv0 && ip link set tv1 up &&
        ip link set tv0 up && ip route add default dev tv0 || die "cannot set up the namespace's interface"
    mac=$(ip -o link show tv0 | sed -n 's|.*link/ether \([0-9a-f:]*\).*|\1|p' | tr a-f A-F)

    # The target's tolvane-probe is the client, and says where Tolvane.ini goes (write_tolvane_ini).
    probe_bin=$work/probe/bin
    mkdir -p "$probe_bin"
    printf '#!/usr/bin/env bash\nexec %s %q "$@"\n' "$(printf '%q ' "${emulator[@]}")" "$build/bin/tolvane-probe" \
        >"$probe_bin/tolvane-probe"
    chmod +x "$probe_bin/tolvane-probe"
    probe() { timeout 120 "$probe_bin/tolvane-probe" "$@"; }

    # The bridge hands on one line each time data arrives, so echo and reply must not arrive together:
    # the projector answers long after its echo, as code run for the first time is slow when emulated.
    "${emulator[@]}" "$build/bin/virtual-projector" --delay 1500 >"$work/projector.out" 2>"$work/projector.log" &
    pids+=($!)
    pty=$(projector_path "$work/projector.out" "${pids[-1]}") || die "the $arch projector named no terminal"
    TOLVANE_BUILD=$work/probe write_tolvane_ini "$work/data" "$pty" || die "no Tolvane.ini"

    began=$(date +%s%N)
    env QT_QPA_PLATFORM=offscreen XDG_DATA_HOME="$work/data" TOLVANE_SERIAL_PORTS="$pty" \
        "${emulator[@]}" "$build/bin/tolvane" >"$work/bridge.log" 2>&1 &
    pids+=($!)
    wait_for 1200 grep -q "UDPrx Bind 35070 true" "$work/bridge.log" || die "the $arch bridge did not bind UDP 35070 within 120 s"
    wait_for 600 grep -q "Serial Open" "$work/bridge.log" || die "the $arch bridge did not open the projector's line"
    ready=$((($(date +%s%N) - began) / 1000000))
    echo "INFO the emulated bridge was listening with its line open $ready ms after it was started"

    same "op model ? gets the projector's reply" 'OP MODEL=KT5520M\r\n' "$(probe send 127.0.0.1 'op model ?' --timeout 30000)"
    same "op lamp ? gets the projector's reply" 'OP LAMP=1200\r\n' "$(probe send 127.0.0.1 'op lamp ?' --timeout 30000)"
    same "a broadcast discovery probe gets the bridge's reply" "ip=10.79.0.1;mac=$mac;model=KT5520M;serial=Tolvane-0;" \
        "$(probe discover --raw --wait 6000)"
    [ $fails -eq 0 ]
}

if [ "${1:-}" = "--inside" ]; then
    end_to_end
    exit
fi

deadline=$((SECONDS + ${TOLVANE_ARM64_BUDGET:-900}))
failures=0
stage() { # name command...
    local name=$1 began=$SECONDS left=$((deadline - SECONDS)) status=0
    shift
    [ $left -gt 0 ] || left=1
    timeout -k 20 "$left" "$@" || status=$?
    if [ $status -eq 0 ]; then
        echo "PASS $name ($((SECONDS - began)) s)"
    else
        echo "FAIL $name (exit $status$([ $status -eq 124 ] && echo ', out of time'), $((SECONDS - began)) s)"
        failures=$((failures + 1))
    fi
}

stage "$arch package, cross-built and checked" scripts/test.d/50-package.sh --arch "$arch"
mapfile -t units < <(ctest --test-dir "$build" -L unit -N 2>/dev/null | sed -n 's/^ *Test *#[0-9]*: //p')
if [ ${#units[@]} -eq 0 ]; then
    echo "FAIL no unit-labelled tests in $build"
    failures=$((failures + 1))
else
    stage "$arch rule tests built" scripts/build.sh "$build" -- "${units[@]}"
    stage "$arch rule tests under emulation (${units[*]})" ctest --test-dir "$build" -L unit --output-on-failure
fi
stage "$arch bridge and projector end to end under emulation" unshare -n "$self" --arch "$arch" --inside

echo "$arch: $failures failed, $SECONDS s"
[ $failures -eq 0 ]
