# shellcheck shell=bash
# Sourced: starts a virtual X display and exports DISPLAY. With
# CORVANE_XVFB_DISPLAY the display has that number (an Xvfb already answering
# there is used as it is); without it, Xvfb picks a free number, so that two
# runs never share a display one of them may take away. Xvfb reports the
# number only once it accepts clients: no window is created before that.
# Sets corvane_xvfb_pid when it started one.
corvane_start_xvfb() {
    local n=${CORVANE_XVFB_DISPLAY:-} ready
    if [ -n "$n" ] && xdpyinfo -display ":$n" >/dev/null 2>&1; then
        export DISPLAY=":$n"
        return 0
    fi
    ready=$(mktemp)
    # shellcheck disable=SC2086
    Xvfb ${n:+":$n"} -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$ready" >/dev/null 2>&1 &
    corvane_xvfb_pid=$!
    for _ in $(seq 600); do
        [ -s "$ready" ] && break
        kill -0 "$corvane_xvfb_pid" 2>/dev/null || break
        sleep 0.05
    done
    n=$(head -1 "$ready")
    rm -f "$ready"
    if [ -z "$n" ]; then
        echo "xvfb: no virtual display came up${CORVANE_XVFB_DISPLAY:+ on :$CORVANE_XVFB_DISPLAY}" >&2
        return 1
    fi
    export DISPLAY=":$n"
}
