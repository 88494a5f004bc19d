# A private X display for the scripts. Source it; needs bash and Xvfb.

# xvfb_start LOG [GEOMETRY]: starts Xvfb on a free display (default 1280x800x24), exports DISPLAY and
# sets XVFB_PID; Xvfb's own output goes to LOG. Fails when no display came up within 10 s.
xvfb_start() {
    local log=$1 geometry=${2:-1280x800x24} display fd
    exec {fd}<> <(:)
    Xvfb -displayfd "$fd" -screen 0 "$geometry" -nolisten tcp >"$log" 2>&1 &
    XVFB_PID=$!
    if ! read -r -t 10 -u "$fd" display; then
        exec {fd}>&-
        echo "Xvfb did not start:" >&2
        cat "$log" >&2
        return 1
    fi
    exec {fd}>&-
    export DISPLAY=:$display
}

# xvfb_stop: stops the display xvfb_start started.
xvfb_stop() {
    [ -n "${XVFB_PID:-}" ] || return 0
    kill -TERM "$XVFB_PID" 2>/dev/null || true
    wait "$XVFB_PID" 2>/dev/null || true
    XVFB_PID=
}
