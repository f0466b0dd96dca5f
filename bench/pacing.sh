#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Does the player keep time, and what does keeping it cost? Plays the demo headless, paced by
# the clock at 15, 30 and 60 frames a second (no sound) and paced by its sound, and prints the
# rate asked, the "Frame rate obtained" of the playback summary and the player's CPU time
# (user + system, all threads) over the run's wall time, in per cent of one core.
#
#   bench/pacing.sh [-n RUNS] [-b BASELINE_ZAMBPLY] [ZAMBPLY [MOVIE]]
#
# Defaults: three runs of each, the release build's player and demo in build-bench/. With -b,
# a second player (the build before a change, say) runs in turn with the first, each run of
# one right after a run of the other, so that both see the same load on a shared machine.
# Each line ends with the medians of the runs.
set -euo pipefail
cd "$(dirname "$0")/.."

runs=3
baseline=""
while getopts "n:b:" option; do
    case "$option" in
        n) runs=$OPTARG ;;
        b) baseline=$OPTARG ;;
        *) echo "usage: $0 [-n RUNS] [-b BASELINE_ZAMBPLY] [ZAMBPLY [MOVIE]]" >&2; exit 2 ;;
    esac
done
shift $((OPTIND - 1))
player=${1:-build-bench/src/player/zambply}
movie=${2:-build-bench/demo/demo.zmb}
for file in "$player" "$movie" ${baseline:+"$baseline"}; do
    [ -e "$file" ] || { echo "$file is missing: cmake --build --preset bench --target zambply zambrel_demo" >&2; exit 1; }
done

# One run: prints "OBTAINED CPU", the summary's rate and the CPU share of one core, and
# keeps the rate the summary says was asked in $asked_file.
one_run() {  # one_run PLAYER SWITCHES...
    local TIMEFORMAT="%R %U %S" times output
    output=$(mktemp)
    times=$({ time ZAMBREL_HOST=headless "$@" "$movie" /S >"$output" 2>&1; } 2>&1 | tail -n 1)
    local obtained
    obtained=$(tr -d '\r' <"$output" | sed -n 's/.*Frame rate obtained: \([0-9.]*\).*/\1/p')
    tr -d '\r' <"$output" | sed -n 's/.*Frame rate: \([0-9.]*\).*/\1/p' | head -n 1 >"$asked_file"
    rm -f "$output"
    awk -v t="$times" -v r="${obtained:-0}" \
        'BEGIN { split(t, f, " "); printf "%s %.2f", r, 100 * (f[2] + f[3]) / f[1] }'
}
asked_file=$(mktemp)
trap 'rm -f "$asked_file"' EXIT

median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

report() {  # report LABEL ASKED "RATE CPU"...
    local label=$1 asked=$2 rates=() shares=() pair
    shift 2
    for pair in "$@"; do
        rates+=("${pair% *}")
        shares+=("${pair#* }")
    done
    printf '%-26s asked %-5s obtained %-28s median %-5s   CPU %-28s median %s %%\n' \
        "$label" "$asked" "${rates[*]}" "$(median "${rates[@]}")" "${shares[*]}" \
        "$(median "${shares[@]}")"
}

measure() {  # measure LABEL ASKED SWITCHES...
    local label=$1 asked=$2 figures=() before=()
    shift 2
    for _ in $(seq "$runs"); do
        [ -n "$baseline" ] && before+=("$(one_run "$baseline" "$@")")
        figures+=("$(one_run "$player" "$@")")
    done
    # The summary's own "Frame rate" is the rate the movie was asked to play at.
    [ "$asked" = own ] && asked=$(cat "$asked_file")
    [ -n "$baseline" ] && report "$label (baseline)" "$asked" "${before[@]}"
    report "$label" "$asked" "${figures[@]}"
}

echo "player: $player${baseline:+   baseline: $baseline}   movie: $movie"
echo "$(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)"
for rate in 15 30 60; do
    measure "clock, /F$rate" "$rate" /T0 "/F$rate"
done
measure "sound" "own"
