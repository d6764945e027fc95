# Sourced. A private X server for window tests and the demo.
#
#   quillon_xvfb_start [FIRST] [LAST]   start Xvfb (1024x768x24) on the first free display
#                                       number in FIRST..LAST (default 90..140); exports
#                                       DISPLAY and sets QUILLON_XVFB_PID
#   quillon_xvfb_stop                   stop that server by its PID

quillon_xvfb_start() {
    local first=${1:-90} last=${2:-140} n
    for ((n = first; n <= last; n++)); do
        [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
        Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
        QUILLON_XVFB_PID=$!
        local tries
        for ((tries = 0; tries < 100; tries++)); do
            if [ -S "/tmp/.X11-unix/X$n" ]; then
                export DISPLAY=":$n"
                return 0
            fi
            # Lost the race for this number to another server: try the next one.
            kill -0 "$QUILLON_XVFB_PID" 2>/dev/null || break
            sleep 0.05
        done
        kill "$QUILLON_XVFB_PID" 2>/dev/null
        wait "$QUILLON_XVFB_PID" 2>/dev/null
        QUILLON_XVFB_PID=
    done
    echo "no free X display number in $first..$last" >&2
    return 1
}

quillon_xvfb_stop() {
    [ -n "${QUILLON_XVFB_PID:-}" ] || return 0
    kill "$QUILLON_XVFB_PID" 2>/dev/null
    wait "$QUILLON_XVFB_PID" 2>/dev/null
    QUILLON_XVFB_PID=
}
