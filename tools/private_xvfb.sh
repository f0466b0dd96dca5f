# SPDX-License-Identifier: MIT
# Sourced by the scripts that need an X server of their own: ./dev's tests, the Wine check
# and the windowed benches. Xvfb picks its display itself (-displayfd) from those whose
# sockets it can take, so that two runs on one machine, or in roots that share its network
# and so its abstract sockets, never meet on one server; a display number chosen from the
# lock files in /tmp could be another root's. -noreset: without it the server resets whenever
# its last client leaves, and a client that connects in that moment is refused.
# shellcheck shell=bash
PRIVATE_XVFB_PID=""
PRIVATE_XVFB_DISPLAY=""

# Sets PRIVATE_XVFB_DISPLAY (":N") and PRIVATE_XVFB_PID once the server takes connections;
# returns 1, with nothing left running, when there is no Xvfb or it did not start.
start_private_xvfb() {
    command -v Xvfb >/dev/null || return 1
    local number_file number
    number_file=$(mktemp)
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset \
        3>"$number_file" >/dev/null 2>&1 &
    PRIVATE_XVFB_PID=$!
    for _ in $(seq 100); do
        [ -s "$number_file" ] && break
        kill -0 "$PRIVATE_XVFB_PID" 2>/dev/null || break
        sleep 0.1
    done
    number=$(head -n 1 "$number_file")
    rm -f "$number_file"
    if [ -z "$number" ]; then
        stop_private_xvfb
        return 1
    fi
    # shellcheck disable=SC2034 # for the sourcing script
    PRIVATE_XVFB_DISPLAY=":$number"
}

stop_private_xvfb() {
    if [ -n "$PRIVATE_XVFB_PID" ]; then kill "$PRIVATE_XVFB_PID" 2>/dev/null || true; fi
    PRIVATE_XVFB_PID=""
}
