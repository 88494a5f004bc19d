#!/usr/bin/env bash
# The one installer of the project's Debian packages; only what is missing is installed, and the
# package lists are updated only then. Safe to run again and again: with everything present it
# changes nothing and needs no network.
#   scripts/deps.sh           what Tolvane needs to build and run
#   scripts/deps.sh --test    that and what scripts/test.sh and its extra checks use
#   scripts/deps.sh PKG...    exactly these packages (other scripts ask for their own tools so)
#   scripts/deps.sh --arch ARCH [ROOT]
#                             what cross-building for ARCH (arm64 or armhf) and testing it under
#                             emulation needs: the cross compiler and qemu here, and ARCH's libraries
#                             in ROOT (default build-sysroot-ARCH/, see scripts/lib/sysroot.sh)
set -euo pipefail

build_packages=(
    cmake                     # build system
    g++                       # C++17 compiler
    make                      # what cmake generates for
    qtbase5-dev               # Qt 5 Core, Gui, Widgets, Network and Test
    qtbase5-dev-tools         # moc, uic and rcc for the forms, signals and embedded resources
    libqt5serialport5-dev     # Qt serial port module: the projector's line
    libmicrohttpd-dev         # the status endpoint's HTTP server
    pkg-config                # finds libmicrohttpd and libsystemd for CMake
    libsystemd-dev            # sd_notify: readiness and the watchdog under systemd (the build goes on without it)
    qttools5-dev-tools        # Qt Designer, for editing the .ui forms
    xvfb                      # a display for running without a desktop, and for the screenshot
    fonts-liberation          # Liberation Mono, the traffic panes' font; Liberation Sans stands in for Arial
    iproute2                  # ip: brings loopback up in the tests' private network namespaces
    util-linux                # unshare: gives each test its own network namespace
)

test_packages=(
    python3               # the projector, soak and package checks script their peers with it
    clang                 # libFuzzer targets for the text rules (fuzz/)
    libclang-rt-14-dev    # clang's fuzzer and sanitizer runtimes
    strace                # the soak proves markup never makes the bridge open a file
    valgrind              # memcheck over the whole road
    dpkg-dev              # dpkg-shlibdeps: the package's computed dependencies
    desktop-file-utils    # desktop-file-validate for the menu entry
    appstream             # appstreamcli validate for the metainfo
    x11-utils             # xprop/xwininfo: the packaged program's window title under Xvfb
    xdotool               # finds the packaged program's window under Xvfb
    man-db                # checks the man pages render without warnings
    clang-format          # scripts/format.sh: the C++ layout
    python3-prometheus-client # a strict reading of the status endpoint's metrics
)

# Cross-building: the compiler and binutils (for dpkg-shlibdeps too) for each architecture.
declare -A cross_packages=(
    [arm64]="g++-aarch64-linux-gnu binutils-aarch64-linux-gnu"
    [armhf]="g++-arm-linux-gnueabihf binutils-arm-linux-gnueabihf"
)
cross_arch=""

case "${1:-}" in
"") packages=("${build_packages[@]}") ;;
--test) packages=("${build_packages[@]}" "${test_packages[@]}") ;;
--arch)
    cross_arch=${2:-}
    [ -n "${cross_packages[$cross_arch]:-}" ] || { echo "deps: no cross build for '$cross_arch' (known: ${!cross_packages[*]})" >&2; exit 2; }
    # shellcheck disable=SC2206 # a list of names
    packages=("${build_packages[@]}" ${cross_packages[$cross_arch]} qemu-user-static dpkg-dev file)
    ;;
-*) echo "usage: scripts/deps.sh [--test | --arch ARCH [ROOT] | PACKAGE...]" >&2; exit 2 ;;
*) packages=("$@") ;;
esac

# Only a fully installed package counts; half-configured or removed ones are installed again.
declare -A installed=()
while read -r name status; do
    [ "$status" = "install ok installed" ] && installed[${name%%:*}]=1
done < <(dpkg-query -W -f='${Package} ${Status}\n' "${packages[@]}" 2>/dev/null || true)

missing=()
for p in "${packages[@]}"; do
    [ -n "${installed[$p]:-}" ] || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
    echo "deps: installing ${missing[*]}"
    sudo=()
    if [ "$(id -u)" -ne 0 ]; then
        command -v sudo >/dev/null || { echo "deps: not root and no sudo; install: ${missing[*]}" >&2; exit 1; }
        sudo=(sudo)
    fi
    export DEBIAN_FRONTEND=noninteractive
    # Other builds on the same machine may be installing too: wait for their apt rather than fail.
    lock=(-o DPkg::Lock::Timeout=600)
    "${sudo[@]}" apt-get "${lock[@]}" update -qq
    "${sudo[@]}" apt-get "${lock[@]}" install -y -qq --no-install-recommends "${missing[@]}"
fi

# The target's libraries go into a folder of their own, never into this machine's package set.
if [ -n "$cross_arch" ]; then
    source "$(dirname "$0")/lib/sysroot.sh"
    make_sysroot "$cross_arch" "${3:-$(cd "$(dirname "$0")/.." && pwd)/build-sysroot-$cross_arch}"
fi
