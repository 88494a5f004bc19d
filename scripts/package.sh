#!/usr/bin/env bash
# Builds the Debian package: build/tolvane_<version>_<arch>.deb (BUILD_DIR overrides the folder).
# Needs cmake, the Qt 5 development packages and dpkg-dev (dpkg-shlibdeps computes the dependencies).
#   scripts/package.sh --arch arm64   cross-builds build-arm64/tolvane_<version>_arm64.deb, for
#                                     Raspberry Pi OS bookworm and Debian 12 arm64; its dependencies
#                                     come from Debian's arm64 libraries (scripts/deps.sh --arch arm64)
set -euo pipefail

cd "$(dirname "$0")/.."
arch=""
case "${1:-}" in
"") ;;
--arch) arch=${2:?"usage: scripts/package.sh [--arch ARCH]"} ;;
*) echo "usage: scripts/package.sh [--arch ARCH]" >&2; exit 2 ;;
esac

options=()
if [ -z "$arch" ] || [ "$arch" = "$(dpkg --print-architecture)" ]; then
    arch=$(dpkg --print-architecture)
    build=${BUILD_DIR:-build}
    scripts/deps.sh
else
    # The toolchain file that names this Debian architecture.
    toolchain=$(grep -l "^set(TOLVANE_CROSS_ARCH $arch)" cmake/toolchain-*.cmake | head -n 1 || true)
    [ -n "$toolchain" ] || { echo "package: no cmake/toolchain-*.cmake for $arch" >&2; exit 2; }
    build=${BUILD_DIR:-build-$arch}
    scripts/deps.sh --arch "$arch"
    options+=(-DCMAKE_TOOLCHAIN_FILE="$(pwd)/$toolchain")
fi
command -v dpkg-shlibdeps >/dev/null || { echo "package: dpkg-shlibdeps is missing (apt-get install dpkg-dev)" >&2; exit 1; }

# A package never carries the sanitizers; the programs are installed under /usr.
scripts/build.sh "$build" -DCMAKE_INSTALL_PREFIX=/usr -DTOLVANE_SANITIZE=OFF "${options[@]}" -- tolvane-package-contents

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
deb=$build/tolvane_${version}_$arch.deb
rm -f "$deb"
(cd "$build" && cpack -G DEB >/dev/null)
[[ -f "$deb" ]] || { echo "package: cpack did not leave $deb" >&2; exit 1; }
echo "$deb"
