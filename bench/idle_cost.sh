#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# What playing the demo costs the machine: the player's CPU time (user + system, all its
# threads) over the wall time of the whole run, headless, in a window and full screen (/V1).
#
#   bench/idle_cost.sh [-n RUNS] [-d :DISPLAY] [-b BASELINE_ZAMBPLY] [ZAMBPLY [MOVIE]]
#
# Defaults: three runs of each, the release build's player and demo in build-bench/. With -b,
# a second player (an older build, say) runs in turn with the first, each run of one right
# after a run of the other, so that both see the same load on a shared machine. The
# windowed and full-screen runs use the X server given by -d, else $DISPLAY, else a private
# Xvfb (1280x1024x24) on the first free display from :121; they are left out without one.
# The figure is a share of one core; the median of the runs is printed last on each line.
set -euo pipefail
cd "$(dirname "$0")/.."

runs=3
display="${DISPLAY:-}"
baseline=""
while getopts "n:d:b:" option; do
    case "$option" in
        n) runs=$OPTARG ;;
        d) display=$OPTARG ;;
        b) baseline=$OPTARG ;;
        *) echo "usage: $0 [-n RUNS] [-d :DISPLAY] [-b BASELINE_ZAMBPLY] [ZAMBPLY [MOVIE]]" >&2; exit 2 ;;
    esac
done
shift $((OPTIND - 1))
player=${1:-build-bench/src/player/zambply}
movie=${2:-build-bench/demo/demo.zmb}
for file in "$player" "$movie" ${baseline:+"$baseline"}; do
    [ -e "$file" ] || { echo "$file is missing: cmake --build --preset bench --target zambply zambrel_demo" >&2; exit 1; }
done

# shellcheck source=tools/private_xvfb.sh
. tools/private_xvfb.sh
trap stop_private_xvfb EXIT

# Prints the run's CPU time over its wall time, in per cent of one core.
cost_of_one_run() {
    local TIMEFORMAT="%R %U %S" times
    times=$({ time "$@" >/dev/null 2>&1; } 2>&1 | tail -n 1)
    awk -v t="$times" 'BEGIN { split(t, f, " "); printf "%.2f", 100 * (f[2] + f[3]) / f[1] }'
}

median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

report() {  # report LABEL FIGURES...
    local label=$1; shift
    printf '%-22s %s   median %s %% of a core\n' "$label" "$*" "$(median "$@")"
}

measure() {  # measure MODE [ENVIRONMENT...] -- [SWITCHES...]
    local mode=$1; shift
    local environment=() switches=() figures=() before=()
    while [ "$1" != "--" ]; do environment+=("$1"); shift; done
    shift
    switches=("$@")
    for _ in $(seq "$runs"); do
        [ -n "$baseline" ] &&
            before+=("$(cost_of_one_run env "${environment[@]}" "$baseline" "$movie" "${switches[@]}")")
        figures+=("$(cost_of_one_run env "${environment[@]}" "$player" "$movie" "${switches[@]}")")
    done
    [ -n "$baseline" ] && report "$mode (baseline)" "${before[@]}"
    report "$mode" "${figures[@]}"
}

echo "player: $player${baseline:+   baseline: $baseline}   movie: $movie"
echo "$(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)"
measure headless ZAMBREL_HOST=headless --
[ -n "$display" ] || { start_private_xvfb && display=$PRIVATE_XVFB_DISPLAY; } || true
if [ -z "$display" ]; then
    echo "no X server: the windowed and full-screen runs are left out"
    exit 0
fi
measure windowed -u ZAMBREL_HOST DISPLAY="$display" --
measure full-screen -u ZAMBREL_HOST DISPLAY="$display" -- /V1
