#!/usr/bin/env bash
# The one installer of the project's Debian packages; only what is missing is installed, and the
# package lists are updated only then. Safe to run again and again: with everything present it
# changes nothing and needs no network.
#   scripts/deps.sh           what Tolvane needs to build and run
#   scripts/deps.sh --test    that and what scripts/test.sh and its extra checks use
#   scripts/deps.sh PKG...    exactly these packages (other scripts ask for their own tools so)
set -euo pipefail

build_packages=(
    cmake                     # build system
    g++                       # C++17 compiler
    make                      # what cmake generates for
    qtbase5-dev               # Qt 5 Core, Gui, Widgets, Network and Test
    qtbase5-dev-tools         # moc, uic and rcc for the forms, signals and embedded resources
    libqt5serialport5-dev     # Qt serial port module: the projector's line
    libmicrohttpd-dev         # the status endpoint's HTTP server
    pkg-config                # finds libmicrohttpd for CMake
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

case "${1:-}" in
"") packages=("${build_packages[@]}") ;;
--test) packages=("${build_packages[@]}" "${test_packages[@]}") ;;
-*) echo "usage: scripts/deps.sh [--test | PACKAGE...]" >&2; exit 2 ;;
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

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

echo "deps: installing ${missing[*]}"
sudo=()
if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null || { echo "deps: not root and no sudo; install: ${missing[*]}" >&2; exit 1; }
    sudo=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
