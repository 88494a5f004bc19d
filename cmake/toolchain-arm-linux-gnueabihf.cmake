# Cross-building for armhf (32-bit Raspberry Pi OS bookworm on ARMv7 and later, Debian 12 armhf):
#   scripts/package.sh --arch armhf   (see cmake/toolchain-aarch64-linux-gnu.cmake)
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(TOLVANE_CROSS_ARCH armhf)
set(TOLVANE_CROSS_TRIPLET arm-linux-gnueabihf)
set(TOLVANE_CROSS_QEMU qemu-arm-static)
include(${CMAKE_CURRENT_LIST_DIR}/cross-debian.cmake)
