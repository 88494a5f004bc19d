# Shell helpers for the scripts that run Tolvane on the virtual projector. Source it; needs bash.

# write_tolvane_ini DATA_HOME PORT [BAUD]: the Tolvane.ini that Tolvane finds with
# XDG_DATA_HOME=DATA_HOME: PORT at BAUD (default 9600), 8 data bits, no parity, 1 stop bit. Where
# that file is, the bridge's own rule says: tolvane-probe --print-ini-path, taken from
# $TOLVANE_BUILD/bin, else build/bin of this tree, else PATH. The file is byte for byte what
# settingsfile::write (core/settingsfile.h) makes of these values (keys sorted, as QSettings writes).
write_tolvane_ini() {
    local probe ini
    for probe in "${TOLVANE_BUILD:-}/bin/tolvane-probe" "$(dirname "${BASH_SOURCE[0]}")/../../build/bin/tolvane-probe" \
        "$(command -v tolvane-probe)"; do
        [ -x "$probe" ] && break
    done
    ini=$(XDG_DATA_HOME=$1 "$probe" --print-ini-path) || { echo "write_tolvane_ini: no tolvane-probe to ask" >&2; return 1; }
    mkdir -p "$(dirname "$ini")"
    printf '[Default]\nBaudRate=%s\nDataBits=8\nFlowControl=None\nLocalEcho=true\nParity=None\nPort=%s\nStopBits=1\n' \
        "${3:-9600}" "$2" >"$ini"
}

# projector_path OUT PID: prints the terminal path the projector (PID) wrote as the first line of
# OUT, waiting up to 30 s (a sanitized build on a busy machine starts slowly); fails when the
# projector stops first or names none.
projector_path() {
    local _
    for _ in $(seq 600); do
        if [ "$(wc -l <"$1" 2>/dev/null || echo 0)" -ge 1 ]; then
            head -n 1 "$1"
            return 0
        fi
        kill -0 "$2" 2>/dev/null || return 1
        sleep 0.05
    done
    return 1
}
