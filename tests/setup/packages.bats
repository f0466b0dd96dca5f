#!/usr/bin/env bats
# SPDX-License-Identifier: MIT
# The install code (tools/packages.sh, windows/install) against every outcome apt can give,
# replayed by the stand-ins in standin/: each run is a shell of its own under
# `set -euo pipefail`, as ./dev runs it, and must either go on (printing "went on") or fail
# with a line that names the package and quotes apt. A silent exit is the fault these catch.

setup() {
    ROOT=$(cd "$BATS_TEST_DIRNAME/../.." && pwd)
    STANDIN=$(mktemp -d)
    export STANDIN PKG_UPDATE_RETRY_SECONDS=0
    PATH="$BATS_TEST_DIRNAME/standin:$PATH"
    : >"$STANDIN/installed"
    : >"$STANDIN/calls"
}

teardown() { rm -rf "$STANDIN"; }

# outcome ACTION STATUS [TEXT]: what the stand-in apt-get prints and returns for ACTION.
outcome() {
    printf '%s' "${3:-}" >"$STANDIN/$1.out"
    echo "$2" >"$STANDIN/$1.status"
}

# ensure PACKAGE...: ensure_packages in a fresh shell, as ./dev calls it.
ensure() {
    run bash -c 'set -euo pipefail; . "$1"; shift; ensure_packages "$@"; echo "went on"' - \
        "$ROOT/tools/packages.sh" "$@"
}

installed() { grep -qxF "$1" "$STANDIN/installed"; }
asked() { grep -q -- "$1" "$STANDIN/calls"; }
# Bats counts a failing `! command` as a pass, so the negations are functions of their own.
never_asked() { if asked "$1"; then echo "apt was asked: $1" >&2; return 1; fi; }

# A failure is never silent: a status, a line naming what failed, and apt's reason under it.
fails_naming() {  # fails_naming WHAT APT_LINE
    [ "$status" -ne 0 ]
    [[ "$output" != *"went on"* ]]
    [[ "$output" == *"$1"* ]]
    [[ "$output" == *"    $2"* ]]
}

@test "packages already installed: apt is never asked" {
    echo cmake >"$STANDIN/installed"
    ensure cmake
    [ "$status" -eq 0 ]
    [[ "$output" == "went on" ]]
    [ ! -s "$STANDIN/calls" ]
}

@test "a quiet update: the packages are installed without a word from apt" {
    outcome update 0 ""
    ensure cmake make
    [ "$status" -eq 0 ]
    [[ "$output" == *"went on"* ]]
    [[ "$output" == *"installing cmake make"* ]]
    [[ "$output" != *warning* ]]
    installed cmake
    installed make
}

@test "an update that passed over a source: one warning quoting apt, then the install" {
    outcome update 0 $'W: Failed to fetch http://127.0.0.1:9/debian/dists/bookworm/InRelease  Could not connect to 127.0.0.1:9 (127.0.0.1). - connect (111: Connection refused)\nW: Some index files failed to download. They have been ignored, or old ones used instead.\n'
    ensure cmake
    [ "$status" -eq 0 ]
    [[ "$output" == *"went on"* ]]
    [ "$(grep -c 'warning: apt-get update' <<<"$output")" -eq 1 ]
    [[ "$output" == *"    W: Failed to fetch http://127.0.0.1:9"* ]]
    installed cmake
}

@test "an update that fails: tried twice, then the lists apt has are used" {
    outcome update 100 $'E: The repository is not signed.\n'
    ensure cmake
    [ "$status" -eq 0 ]
    [[ "$output" == *"went on"* ]]
    [ "$(grep -c 'apt-get update failed' <<<"$output")" -eq 2 ]
    [[ "$output" == *"going on with the package lists apt has"* ]]
    [ "$(grep -c ' update ' "$STANDIN/calls")" -eq 2 ]
    installed cmake
}

@test "a package apt cannot find: it alone is named, with apt's line" {
    outcome plan 100 $'Reading package lists...\nE: Unable to locate package nosuch\n'
    ensure cmake nosuch
    fails_naming "cannot install nosuch: apt says" "E: Unable to locate package nosuch"
    never_asked "install -y"
}

@test "a dependency that cannot be met deep down: the package that needs it is named" {
    outcome plan 100 $'The following packages have unmet dependencies:\n node-jest-worker : Depends: node-types-node but it is not installable\nE: Unable to correct problems, you have held broken packages.\n'
    outcome plan-cmake 0 "Inst cmake (1.0 Debian:12/stable [amd64])"
    outcome plan-npm 100 $'E: Unable to correct problems, you have held broken packages.\n'
    ensure cmake npm
    fails_naming "cannot install npm: apt says" "E: Unable to correct problems"
}

@test "a plan that brings in a refused package: nothing is installed" {
    outcome plan 0 $'Inst libavcodec59 (7:5.1 Debian:12/stable [amd64])\nInst cmake (1.0 Debian:12/stable [amd64])\n'
    ensure cmake
    [ "$status" -ne 0 ]
    [[ "$output" != *"went on"* ]]
    [[ "$output" == *"refusing to install cmake"*"libavcodec59"* ]]
    never_asked "install -y"
}

@test "apt's lock held by another process, and dpkg interrupted: named and quoted" {
    outcome install 100 $'E: Could not get lock /var/lib/dpkg/lock-frontend. It is held by process 4242 (apt-get)\nE: Unable to acquire the dpkg frontend lock (/var/lib/dpkg/lock-frontend), is another process using it?\n'
    ensure cmake
    fails_naming "installing cmake failed: apt says" "E: Could not get lock"

    outcome install 0 ""
    outcome plan 100 $'E: dpkg was interrupted, you must manually run \'dpkg --configure -a\' to correct the problem.\n'
    ensure make
    fails_naming "cannot install make: apt says" "E: dpkg was interrupted"
}

@test "a failure with no line of apt's own: its last lines are quoted" {
    outcome install 1 $'sudo: a terminal is required to read the password\nsudo: a password is required\n'
    ensure cmake
    fails_naming "installing cmake failed: apt says" "sudo: a password is required"
}

@test "hostile apt output is quoted cut and never executed, in any language" {
    local hostile=$STANDIN/hostile
    {
        printf 'W: %s\n' "$(head -c 100000 /dev/zero | tr '\0' x)"
        printf 'W: bytes \001\033[2J\033]0;title\007\377\376 end\n'
        # shellcheck disable=SC2016 # the text apt prints, which must never run
        printf 'W: $(touch %s/ran) `touch %s/ran`\n' "$STANDIN" "$STANDIN"
        printf 'W: Fehlschlag beim Holen von http://127.0.0.1:9/ – Verbindung abgelehnt\n'
        head -c 3000 /dev/urandom
        printf '\n'
        for i in $(seq 5000); do printf 'E: line %s\n' "$i"; done
    } >"$hostile"
    cp "$hostile" "$STANDIN/update.out"
    echo 0 >"$STANDIN/update.status"
    LANG=de_DE.UTF-8 ensure cmake
    [ "$status" -eq 0 ]
    [[ "$output" == *"went on"* ]]
    [ ! -e "$STANDIN/ran" ]
    [[ "$output" == *"    W: Fehlschlag beim Holen"* ]]
    # Twelve of apt's lines at most, each cut to a few hundred bytes, no control byte but
    # the warning's own colour.
    [ "$(grep -c '^    ' <<<"$output")" -le 12 ]
    [ "$(awk '{ if (length($0) > m) m = length($0) } END { print m }' <<<"$output")" -lt 300 ]
    [ "$(LC_ALL=C tr -dc '\001\007' <<<"$output" | wc -c)" -eq 0 ]
    [[ "$output" != *$'\033[2J'* ]]

    cp "$hostile" "$STANDIN/plan.out"
    echo 100 >"$STANDIN/plan.status"
    LANG=de_DE.UTF-8 ensure make
    [ "$status" -ne 0 ]
    [[ "$output" == *"cannot install make: apt says"* ]]
    [ ! -e "$STANDIN/ran" ]
}

# windows/install wine on a machine without Wine: the i386 architecture is added, and
# undone when nothing of it could be installed.
wine_install() {
    printf '%s\n' "$@" >"$STANDIN/dpkg-list"
    run env WINE_SKIP_REASON_FILE="$STANDIN/reason" "$ROOT/windows/install" wine
}

@test "windows/install: an archive whose 32-bit packages do not fit skips with apt's reason" {
    outcome plan 100 $'The following packages have unmet dependencies:\n wine32:i386 : Depends: libwine:i386 but it is not going to be installed\nE: Unable to correct problems, you have held broken packages.\n'
    local list=() i
    for i in $(seq 20000); do list+=("ii  amd64"); done
    wine_install "${list[@]}"
    [ "$status" -eq 3 ]
    [[ "$output" == *"apt cannot install the 32-bit Wine"* ]]
    [ "$(cat "$STANDIN/reason")" = "The following packages have unmet dependencies:" ]
    asked "dpkg --add-architecture i386"
    asked "dpkg --remove-architecture i386"
}

@test "windows/install: an i386 package early in a long list keeps the architecture" {
    outcome plan 100 $'E: Unable to correct problems, you have held broken packages. wine32:i386 : Depends: libwine:i386 but it is not going to be installed\n'
    local list=("ii  i386") i
    for i in $(seq 20000); do list+=("ii  amd64"); done
    wine_install "${list[@]}"
    [ "$status" -eq 3 ]
    never_asked "dpkg --remove-architecture"
}
