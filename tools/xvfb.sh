# Sourced: starts one Xvfb for this user when no display is set and exports DISPLAY.
corvane_start_xvfb() {
    local n=${CORVANE_XVFB_DISPLAY:-97}
    if ! xdpyinfo -display ":$n" >/dev/null 2>&1; then
        (Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &)
        for _ in $(seq 50); do
            xdpyinfo -display ":$n" >/dev/null 2>&1 && break
            sleep 0.1
        done
    fi
    export DISPLAY=":$n"
}
