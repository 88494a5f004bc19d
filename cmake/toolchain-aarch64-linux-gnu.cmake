# Cross-building for arm64 (Debian 12, Raspberry Pi OS bookworm) with Debian's cross compiler:
#   scripts/deps.sh --arch arm64
#   cmake -S . -B build-arm64 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-aarch64-linux-gnu.cmake
# scripts/package.sh --arch arm64 does both and builds the package.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(TOLVANE_CROSS_ARCH arm64)
set(TOLVANE_CROSS_TRIPLET aarch64-linux-gnu)
set(TOLVANE_CROSS_QEMU qemu-aarch64-static)
include(${CMAKE_CURRENT_LIST_DIR}/cross-debian.cmake)
