#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# What the player costs to show a movie, against the least an SDL program can spend showing
# the same pictures at the same rate (window_cost_minimal.c): both play the movie to its end,
# one run of each in turn so that both see the same load on a shared machine, headless and
# in a window on an X server. Each line gives the runs' CPU time (user + system, all
# threads) over their wall time, in per cent of one core, and the ratio of the medians.
#
#   bench/window_cost.sh [-n RUNS] [-d :DISPLAY] [-b OTHER_ZAMBPLY] [ZAMBPLY [MINIMAL [MOVIE]]]
#
# With -b, another player (an older build, say) runs in turn with the two and gets its own
# lines and ratio.
#
# Defaults: five runs of each, the release build's programs and demo in build-bench/. The
# windowed runs use the X server given by -d, else $DISPLAY, else a private Xvfb
# (1280x1024x24) on the first free display from :161; they are left out without one.
# When the script starts the X server itself, the windowed lines also give the X server's
# CPU over the same runs ("X"), which is where drawing less into a window saves the most.
# Neither program plays sound: the player's goes to its simulated device, and the minimal
# program drains what it decodes, so the figures are about pictures.
set -euo pipefail
cd "$(dirname "$0")/.."

runs=5
display="${DISPLAY:-}"
other=""
while getopts "n:d:b:" option; do
    case "$option" in
        n) runs=$OPTARG ;;
        d) display=$OPTARG ;;
        b) other=$OPTARG ;;
        *) echo "usage: $0 [-n RUNS] [-d :DISPLAY] [-b OTHER_ZAMBPLY] [ZAMBPLY [MINIMAL [MOVIE]]]" >&2; exit 2 ;;
    esac
done
shift $((OPTIND - 1))
player=${1:-build-bench/src/player/zambply}
minimal=${2:-build-bench/bench/window_cost_minimal}
movie=${3:-build-bench/demo/demo.zmb}
for file in "$player" "$minimal" "$movie" ${other:+"$other"}; do
    [ -e "$file" ] || {
        echo "$file is missing: cmake --build --preset bench --target zambply window_cost_minimal zambrel_demo" >&2
        exit 1
    }
done

# shellcheck source=tools/private_xvfb.sh
. tools/private_xvfb.sh
trap stop_private_xvfb EXIT

# The CPU time the X server we started has used, in clock ticks; 0 without one.
server_ticks() {
    if [ -z "$PRIVATE_XVFB_PID" ] || [ "$measuring_server" != 1 ]; then
        echo 0
        return
    fi
    awk '{ print $14 + $15 }' "/proc/$PRIVATE_XVFB_PID/stat"
}

# Prints the run's CPU time over its wall time, in per cent of one core, and the X server's
# over the same wall time after a slash.
cost_of_one_run() {
    local TIMEFORMAT="%R %U %S" times before after
    before=$(server_ticks)
    times=$({ time "$@" >/dev/null 2>&1; } 2>&1 | tail -n 1)
    after=$(server_ticks)
    awk -v t="$times" -v x="$((after - before))" -v hz="$(getconf CLK_TCK)" 'BEGIN {
        split(t, f, " "); printf "%.3f/%.2f", 100 * (f[2] + f[3]) / f[1], 100 * x / hz / f[1] }'
}

median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

report() {  # report MODE LABEL MINIMAL_MEDIAN FIGURES...
    local mode=$1 label=$2 baseline=$3 middle own=() server=() figure
    shift 3
    for figure in "$@"; do
        own+=("${figure%/*}")
        server+=("${figure#*/}")
    done
    middle=$(median "${own[@]}")
    printf '%-9s %-8s %s   median %s %%' "$mode" "$label" "${own[*]}" "$middle"
    awk -v a="$middle" -v b="$baseline" 'BEGIN { if (b > 0) printf "   %.2fx minimal", a / b }'
    [ "$measuring_server" = 1 ] && printf '   X %s, median %s %%' "${server[*]}" "$(median "${server[@]}")"
    echo
}

measure() {  # measure MODE PLAYER_ENVIRONMENT MINIMAL_ENVIRONMENT
    local mode=$1 ours=() theirs=() others=()
    read -r -a player_environment <<<"$2"
    read -r -a minimal_environment <<<"$3"
    for _ in $(seq "$runs"); do
        [ -n "$other" ] &&
            others+=("$(cost_of_one_run env "${player_environment[@]}" "$other" "$movie")")
        ours+=("$(cost_of_one_run env "${player_environment[@]}" "$player" "$movie")")
        theirs+=("$(cost_of_one_run env "${minimal_environment[@]}" "$minimal" "$movie")")
    done
    local baseline figure own=()
    for figure in "${theirs[@]}"; do own+=("${figure%/*}"); done
    baseline=$(median "${own[@]}")
    report "$mode" minimal 0 "${theirs[@]}"
    [ -n "$other" ] && report "$mode" other "$baseline" "${others[@]}"
    report "$mode" player "$baseline" "${ours[@]}"
}

echo "player: $player   minimal: $minimal   movie: $movie${other:+   other: $other}"
echo "$(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)"
measuring_server=0
measure headless "ZAMBREL_HOST=headless ZAMBREL_AUDIO=simulated" "SDL_VIDEODRIVER=dummy"
[ -n "$display" ] || { start_private_xvfb && display=$PRIVATE_XVFB_DISPLAY; } || true
if [ -z "$display" ]; then
    echo "no X server: the windowed runs are left out"
    exit 0
fi
[ -n "$PRIVATE_XVFB_PID" ] && measuring_server=1
measure windowed "-u ZAMBREL_HOST -u WAYLAND_DISPLAY DISPLAY=$display ZAMBREL_AUDIO=simulated" \
    "-u WAYLAND_DISPLAY DISPLAY=$display SDL_VIDEODRIVER=x11"
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
