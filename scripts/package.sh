#!/usr/bin/env bash
# Builds the Debian package: build/tolvane_<version>_<arch>.deb (BUILD_DIR overrides the folder).
# Needs cmake, the Qt 5 development packages and dpkg-dev (dpkg-shlibdeps computes the dependencies).
set -euo pipefail

cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build}
scripts/deps.sh
command -v dpkg-shlibdeps >/dev/null || { echo "package: dpkg-shlibdeps is missing (apt-get install dpkg-dev)" >&2; exit 1; }

# A package never carries the sanitizers; the programs are installed under /usr.
scripts/build.sh "$build" -DCMAKE_INSTALL_PREFIX=/usr -DTOLVANE_SANITIZE=OFF -- tolvane-package-contents

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
deb=$build/tolvane_${version}_$(dpkg --print-architecture).deb
rm -f "$deb"
(cd "$build" && cpack -G DEB >/dev/null)
[[ -f "$deb" ]] || { echo "package: cpack did not leave $deb" >&2; exit 1; }
echo "$deb"
