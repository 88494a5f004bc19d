# Running a build's programs whatever machine they were built for. Source it; needs bash.

# build_emulator BUILD_DIR: sets the array `emulator` to the command that runs BUILD_DIR's programs on
# this machine: empty for a native build, qemu user-mode emulation with the target's library root for
# a cross build (as cmake/cross-debian.cmake set it up).
build_emulator() {
    local line
    line=$(sed -n 's/^TOLVANE_EMULATOR:INTERNAL=//p' "$1/CMakeCache.txt" 2>/dev/null)
    emulator=()
    [ -z "$line" ] || IFS=';' read -r -a emulator <<<"$line"
}
