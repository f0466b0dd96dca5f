# SPDX-License-Identifier: MIT
# Sourced by the bench scripts that show a movie in a window: start_xvfb FIRST starts an
# Xvfb of its own on the first free display from FIRST (scripts start from different numbers
# so that two can run at once), sets `display` and `xvfb_pid`, and stops it when the script
# exits. Without Xvfb it does nothing and `display` stays empty.
# shellcheck shell=bash
xvfb_pid=""
stop_xvfb() { if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; fi; }
trap stop_xvfb EXIT

start_xvfb() {  # first-display-number
    command -v Xvfb >/dev/null || return 0
    local number
    for number in $(seq "$1" $(($1 + 39))); do
        [ -e "/tmp/.X${number}-lock" ] || [ -e "/tmp/.X11-unix/X${number}" ] || break
    done
    Xvfb ":$number" -screen 0 1280x1024x24 -nolisten tcp -noreset >/dev/null 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 50); do
        # shellcheck disable=SC2034 # the display is the sourcing script's
        [ -e "/tmp/.X11-unix/X${number}" ] && { display=":$number"; return 0; }
        sleep 0.1
    done
}
