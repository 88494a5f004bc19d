#!/usr/bin/env bash
# Builds the Debian package and checks it the way a technician meets it: control fields and
# dependencies, the file list, the desktop entry, AppStream metainfo and man pages, the systemd unit
# (systemd-analyze verify and its sandbox's exposure, offline), and the installed
# program starting under Xvfb with its title, answering on TCP 7000 and exiting cleanly when its
# window is closed. The package is unpacked into a temporary folder, never installed on this machine.
#   scripts/test.d/50-package.sh               this machine's package, in build/ (or $TOLVANE_BUILD)
#   scripts/test.d/50-package.sh --arch ARCH   the cross-built one, in build-ARCH/, its programs run
#                                              under emulation (scripts/lib/cross.sh)
set -euo pipefail

cd "$(dirname "$0")/../.."
here=$(pwd)
self=$here/scripts/test.d/50-package.sh
source scripts/lib/check.sh
source scripts/lib/netns.sh
CHECK_OK=PASS CHECK_FAIL=FAIL

# The program from the unpacked package, run inside a private network namespace (it listens on the
# bridge's ports and answers discovery) on an Xvfb display of its own.
run_inside() { # unpacked-root work-folder version build-folder
    local root=$1 work=$2 title="Tolvane-$3 UDPRX@35070/IP@???" main name rc # only loopback in here
    pid="" # global: the EXIT trap runs after this function returned
    source scripts/lib/proc.sh
    source scripts/lib/xvfb.sh
    source scripts/lib/cross.sh
    build_emulator "$4"
    trap 'stop_pid "$pid"; xvfb_stop' EXIT
    xvfb_start "$work/xvfb.log" || { echo "FAIL Xvfb did not start"; return 1; }

    mkdir -p "$work/home" "$work/runtime" && chmod 700 "$work/runtime"
    env -u LD_LIBRARY_PATH -u QT_QPA_PLATFORM HOME="$work/home" XDG_DATA_HOME="$work/home/data" \
        XDG_CONFIG_HOME="$work/home/config" XDG_RUNTIME_DIR="$work/runtime" TOLVANE_SERIAL_PORTS= \
        "${emulator[@]}" "$root/usr/bin/tolvane" >"$work/tolvane.log" 2>&1 &
    pid=$!

    # With no serial port the "Serial Port Not Available" box comes first; the window follows its OK.
    check "the no-port box appeared and closed" python3 scripts/lib/wmclose.py "$pid" "Serial Port Not Available" --wait 60
    main=$(timeout 60 xdotool search --sync --onlyvisible --name '^Tolvane-' 2>/dev/null | head -n 1 || true)
    if [ -z "$main" ]; then
        echo "FAIL the main window did not appear"
        cat "$work/tolvane.log"
        return 1
    fi
    name=$(xdotool getwindowname "$main")
    check "window title is '$title' (got '$name')" [ "$name" = "$title" ]
    check "the packaged probe gets the bridge's own answer on TCP 7000" \
        [ "$("${emulator[@]}" "$root/usr/bin/tolvane-probe" send 127.0.0.1 'op model ?' --timeout 30000)" = "OP MODEL=KT5520M" ]
    if [ ${#emulator[@]} -eq 0 ]; then
        check "the packaged doctor sees tolvane on TCP 7000" \
            grep -q "^OK   tcp 7000: taken by tolvane (pid $pid)" <("$root/usr/bin/tolvane-probe" doctor || true)
    else # the kernel names the program it runs, the emulator
        echo "SKIP the packaged doctor sees tolvane on TCP 7000: under emulation the process is ${emulator[0]}"
    fi

    python3 scripts/lib/wmclose.py "$pid" "Tolvane-" --wait 30
    if ! timeout 60 tail --pid="$pid" -f /dev/null; then
        echo "FAIL tolvane still runs 60 s after its window was closed"
        return 1
    fi
    rc=0
    wait "$pid" || rc=$?
    pid=""
    check "tolvane exits with 0 when its window is closed (got $rc)" [ $rc -eq 0 ]
    [ $FAILS -eq 0 ]
}

if [ "${1:-}" = "--inside" ]; then
    run_inside "$2" "$3" "$4" "$5"
    exit
fi

scripts/deps.sh dpkg-dev desktop-file-utils appstream xdotool x11-utils xvfb man-db python3 iproute2 util-linux systemd

arch=$(dpkg --print-architecture)
build=${TOLVANE_BUILD:-$here/build}
package=(scripts/package.sh)
if [ "${1:-}" = "--arch" ] && [ "${2:?usage: 50-package.sh [--arch ARCH]}" != "$arch" ]; then
    arch=$2
    build=$here/build-$arch
    package+=(--arch "$arch")
fi
deb=$(BUILD_DIR=$build "${package[@]}" | tail -n 1)
source scripts/lib/cross.sh
build_emulator "$build"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

check "package file is tolvane_${version}_$arch.deb" [ "$(basename "$deb")" = "tolvane_${version}_$arch.deb" ]
check "Package, Version and Architecture fields" \
    [ "$(dpkg-deb -f "$deb" Package Version Architecture)" = "$(printf 'Package: tolvane\nVersion: %s\nArchitecture: %s' "$version" "$arch")" ]
for field in Maintainer Description Section Homepage; do
    check "$field field is set" [ -n "$(dpkg-deb -f "$deb" "$field")" ]
done
depends=$(dpkg-deb -f "$deb" Depends | tr ',|' '\n\n' | sed 's/^ *//; s/[ (].*//')
for dep in libqt5core5a libqt5widgets5 libqt5network5 libqt5serialport5 libsystemd0 fonts-liberation; do
    check "Depends names $dep" grep -qx "$dep" <<<"$depends"
done

# No maintainer scripts: installing changes nobody's groups and neither enables nor starts the service,
# and removing leaves nothing behind.
dpkg-deb -e "$deb" "$work/control"
check "control archive holds only control and md5sums" [ "$(ls "$work/control" | tr '\n' ' ')" = "control md5sums " ]

app=org.example.tolvane.Tolvane
expected=(
    ./usr/bin/tolvane ./usr/bin/tolvane-probe
    ./usr/share/applications/$app.desktop ./usr/share/metainfo/$app.metainfo.xml
    ./usr/share/doc/tolvane/copyright ./lib/systemd/system/tolvane.service
    ./usr/share/man/man1/tolvane.1.gz ./usr/share/man/man1/tolvane-probe.1.gz
    ./usr/share/bash-completion/completions/tolvane-probe
)
for size in 48 64 128 256; do expected+=(./usr/share/icons/hicolor/${size}x${size}/apps/$app.png); done
if [ -x "$build/bin/virtual-projector" ]; then
    expected+=(./usr/bin/virtual-projector ./usr/share/man/man1/virtual-projector.1.gz
        ./usr/share/bash-completion/completions/virtual-projector)
fi
files=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sort)
check "file list is exactly the programs, unit, desktop entry, metainfo, icons, man pages, bash completion and copyright" \
    [ "$files" = "$(printf '%s\n' "${expected[@]}" | sort)" ]
[ "$files" = "$(printf '%s\n' "${expected[@]}" | sort)" ] || diff <(echo "$files") <(printf '%s\n' "${expected[@]}" | sort) || true

root=$work/root
dpkg-deb -x "$deb" "$root"
check "desktop entry validates" desktop-file-validate "$root/usr/share/applications/$app.desktop"
check "desktop entry starts tolvane" grep -qx 'Exec=tolvane' "$root/usr/share/applications/$app.desktop"
check "AppStream metainfo validates" appstreamcli validate --no-net "$root/usr/share/metainfo/$app.metainfo.xml"
for page in "$root"/usr/share/man/man1/*.1.gz; do
    warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 >/dev/null)
    check "man page $(basename "$page") formats without warnings${warnings:+: $warnings}" [ -z "$warnings" ]
done
for program in "$root"/usr/bin/*; do
    check "$(basename "$program") carries no build-tree library path" \
        bash -c "! readelf -d '$program' | grep -qE 'RPATH|RUNPATH'"
done

# The unit as installed: verify wants the program at its ExecStart path and the system's own targets,
# so it reads a root of the package over this machine's units. Any word from it is a fault (a
# misspelt value is only a warning). Its man check would ask this machine's man pages, not the package's.
unit=lib/systemd/system/tolvane.service
mkdir -p "$work/units/lib/systemd"
cp -a /lib/systemd/system "$work/units/lib/systemd/"
dpkg-deb -x "$deb" "$work/units"
said=$(systemd-analyze verify --man=no --root="$work/units" tolvane.service 2>&1) || said=${said:-"exit status $?"}
check "systemd-analyze verify passes the unit without a word${said:+: $said}" [ -z "$said" ]
check "the unit's documentation is in the package" \
    [ -f "$root/usr/share/man/man1/$(sed -n 's/^Documentation=man:\(.*\)(1)$/\1/p' "$root/$unit").1.gz" ]
quietly() { "$@" >/dev/null 2>&1; }
check "the unit's sandbox exposure is 2.0 at most (systemd-analyze security)" \
    quietly systemd-analyze security --offline=true --threshold=20 --root="$work/units" tolvane.service
check "tolvane-probe --help works" quietly "${emulator[@]}" "$root/usr/bin/tolvane-probe" --help

# The completion offers exactly the options each command's --help lists.
completes() { # FILE FUNCTION WORD...: what the completion offers after the words and "--"
    bash -c 'source "$1"; COMP_WORDS=("${@:3}" --); COMP_CWORD=$(($# - 2)); "$2"; printf "%s\n" "${COMPREPLY[@]}"' \
        completes "$@" | sort
}
options_in_help() { "$@" --help | grep -oE -- '--[a-z-]+' | sort -u; }
completions=$root/usr/share/bash-completion/completions
for command in discover send watch survey status doctor; do
    check "completion offers the options of tolvane-probe $command" \
        [ "$(completes "$completions/tolvane-probe" _tolvane_probe tolvane-probe "$command")" = \
          "$(options_in_help "${emulator[@]}" "$root/usr/bin/tolvane-probe" "$command")" ]
done
if [ -x "$root/usr/bin/virtual-projector" ]; then
    check "completion offers the options of virtual-projector" \
        [ "$(completes "$completions/virtual-projector" _virtual_projector virtual-projector)" = \
          "$(options_in_help "${emulator[@]}" "$root/usr/bin/virtual-projector")" ]
fi

if netns_run package "$self" --inside "$root" "$work" "$version" "$build"; then :; else
    FAILS=$((FAILS + 1))
fi

if [ $FAILS -eq 0 ]; then
    echo "package test: all checks passed ($deb)"
else
    echo "package test: $FAILS checks failed"
    exit 1
fi
