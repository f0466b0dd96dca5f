# SPDX-License-Identifier: MIT
# Installing Debian packages, for ./dev and the Windows check alike: one set of rules.
#   - Only what dpkg says is missing is installed, so a prepared machine spends no time here.
#   - A failed `apt-get update` (an index caught mid-sync, an extra source that cannot be
#     reached) is a warning, tried once more; the install then goes on with the lists apt has.
#     A quiet update says nothing; one that passed over a source says so once, quoting apt.
#   - Before anything is installed, apt is asked what it would install, and the set is refused
#     when it holds a package of REFUSED_PACKAGES.
#   - A package that still cannot be installed fails, naming it and quoting apt.
# Every function here is called under `set -euo pipefail`, so none may end its caller without
# a word: a pipeline whose filter finds nothing (grep's status 1) or whose reader stops early
# (SIGPIPE) must not count as a failure. tests/install/packages.bats replays each outcome apt
# can give through stand-ins of apt-get and dpkg-query.
# shellcheck shell=bash

# General media frameworks' codec collections, their wrapper plugins, and the players and
# libraries built on them. Such a package can decode video formats in general, ours among
# them, so it never comes onto a machine through this project. Single-format libraries
# (VP9, Opus, WebP, AV1 and the like) and the frameworks' core libraries, which hold no
# decoder, are not refused: the tools and Wine need some of them.
REFUSED_PACKAGES='^(ffmpeg|libavcodec|libavformat|libavfilter|libavdevice|libpostproc|gstreamer1\.0-(plugins-|libav|vaapi|omx|fluendo)|libvlc|libvlccore|vlc|libxine2|libxine-|mpv|libmpv|mplayer|mencoder|libquicktime|libchromaprint)'

pkg_log() { printf '\033[1m==> %s\033[0m\n' "$*" >&2; }
pkg_warn() { printf '\033[1;33m==> warning: %s\033[0m\n' "$*" >&2; }
pkg_error() { printf '\033[1;31m==> %s\033[0m\n' "$*" >&2; }

PKG_SUDO=""
[ "$(id -u)" -eq 0 ] || PKG_SUDO=sudo
PKG_LISTS_FRESH=0
# Another apt (an unattended upgrade, a second ./dev) may hold the lock for a while: wait
# for it rather than fail.
PKG_APT=(apt-get -o DPkg::Lock::Timeout=300)
# Seconds between the two tries of a failed update; the tests set it to 0.
PKG_UPDATE_RETRY_SECONDS=${PKG_UPDATE_RETRY_SECONDS:-5}
# apt's last complaint, for the messages of whoever cannot go on without the package.
PKG_APT_PROBLEM=""

# apt's own error and warning lines from its output on stdin, without the hash listings
# that follow a size mismatch; at most 12, each cut to 240 bytes, control bytes shown as '?'
# so that nothing apt (or a mirror behind it) prints can move the terminal. The prefixes
# E:, W: and Err: are apt's own and never translated. Prints nothing, successfully, when
# apt had nothing to say. awk reads its whole input, so no writer upstream meets a closed pipe.
apt_reason() {
    tr -d '\000' | LC_ALL=C awk '
        /Hashes of/ { next }
        /^(E|W|Err):|unmet dependencies|Depends:|but it is not/ {
            if (shown++ >= 12) next
            gsub(/[\001-\010\013-\037\177]/, "?")
            print (length($0) > 240 ? substr($0, 1, 240) "..." : $0)
        }'
}

# PKG_APT_PROBLEM from apt's output "$1": its own error lines, or, when it failed without
# one (a wrapper's message, a language apt's prefixes were not kept in), its last lines.
note_apt_problem() {
    PKG_APT_PROBLEM=$(printf '%s\n' "$1" | apt_reason)
    [ -n "$PKG_APT_PROBLEM" ] && return 0
    PKG_APT_PROBLEM=$(printf '%s\n' "$1" | tr -d '\000' | LC_ALL=C awk '
        NF { gsub(/[\001-\010\013-\037\177]/, "?"); last[++n % 6] = (length($0) > 240 ? substr($0, 1, 240) "..." : $0) }
        END { for (i = (n > 6 ? n - 5 : 1); i <= n; i++) print last[i % 6] }')
    [ -n "$PKG_APT_PROBLEM" ] || PKG_APT_PROBLEM="(apt printed nothing)"
}

pkg_installed() {
    local status
    status=$(dpkg-query -W -f='${Status}' "$1" 2>/dev/null) || return 1
    [[ "$status" == *" ok installed" ]]
}

# apt's reason, indented under the line that says what failed.
quote_apt() {
    printf '%s\n' "$PKG_APT_PROBLEM" | sed 's/^/    /' >&2
}

pkg_missing() {  # prints the packages of "$@" that are not installed
    local package
    for package in "$@"; do pkg_installed "$package" || printf '%s\n' "$package"; done
    return 0
}

# Refreshes the package lists once per run. A failure is reported and tried once more; after
# that the lists apt already has are used, and the packages that then cannot be found fail
# on their own, with the reason quoted.
apt_update() {
    [ "$PKG_LISTS_FRESH" -eq 1 ] && return 0
    local out attempt
    for attempt in 1 2; do
        if out=$($PKG_SUDO "${PKG_APT[@]}" update -qq 2>&1); then
            # apt passes over a source it cannot reach with a warning only; say so, since
            # a package of that source will then be missing.
            PKG_APT_PROBLEM=$(printf '%s\n' "$out" | apt_reason)
            if [ -n "$PKG_APT_PROBLEM" ]; then
                pkg_warn "apt-get update:"
                quote_apt
            fi
            PKG_LISTS_FRESH=1
            return 0
        fi
        note_apt_problem "$out"
        pkg_warn "apt-get update failed (attempt $attempt of 2):"
        quote_apt
        [ "$attempt" -eq 1 ] && sleep "$PKG_UPDATE_RETRY_SECONDS"
    done
    pkg_warn "going on with the package lists apt has"
    PKG_LISTS_FRESH=1
}

# What apt would install for "$@", without installing it: the names (with their
# architecture where it is not the machine's) in PKG_PLAN, apt's reason in PKG_APT_PROBLEM
# when it cannot.
PKG_PLAN=()
apt_plan() {
    local out
    if ! out=$(LC_ALL=C $PKG_SUDO "${PKG_APT[@]}" install -s --no-install-recommends "$@" 2>&1); then
        note_apt_problem "$out"
        return 1
    fi
    mapfile -t PKG_PLAN < <(printf '%s\n' "$out" | awk '$1 == "Inst" {print $2}')
}

# Prints the packages of PKG_PLAN that REFUSED_PACKAGES names.
refused_in_plan() {
    local package
    for package in "${PKG_PLAN[@]}"; do
        [[ "${package%%:*}" =~ $REFUSED_PACKAGES ]] && printf '%s\n' "$package"
    done
    return 0
}

# The packages of "$@" at fault, for the line that fails: those apt names in
# PKG_APT_PROBLEM, else those it cannot plan alone (a dependency deep down names none of
# them), else all of them. PKG_APT_PROBLEM and PKG_PLAN are kept as they were.
named_by_apt() {
    local package named=() words problem=$PKG_APT_PROBLEM plan=("${PKG_PLAN[@]}")
    words=" $(printf '%s' "$PKG_APT_PROBLEM" | tr -c 'a-zA-Z0-9.+:-' ' ') "
    for package in "$@"; do
        if [[ "$words" == *" $package "* || "$words" == *" ${package%%:*} "* ]]; then
            named+=("$package")
        fi
    done
    if [ ${#named[@]} -eq 0 ] && [ $# -gt 1 ]; then
        for package in "$@"; do apt_plan "$package" || named+=("$package"); done
        PKG_APT_PROBLEM=$problem
        PKG_PLAN=("${plan[@]}")
    fi
    [ ${#named[@]} -gt 0 ] || named=("$@")
    printf '%s' "${named[*]}"
}

# ensure_packages PACKAGE...: installs those that are missing, or fails naming them.
ensure_packages() {
    local missing refused
    mapfile -t missing < <(pkg_missing "$@")
    [ ${#missing[@]} -eq 0 ] && return 0
    if ! command -v apt-get >/dev/null; then
        pkg_error "cannot install ${missing[*]}: this machine has no apt-get (install them by hand)"
        return 1
    fi
    if [ -n "$PKG_SUDO" ] && ! command -v sudo >/dev/null; then
        pkg_error "cannot install ${missing[*]}: not root, and there is no sudo"
        return 1
    fi
    apt_update
    if ! apt_plan "${missing[@]}"; then
        pkg_error "cannot install $(named_by_apt "${missing[@]}"): apt says"
        quote_apt
        return 1
    fi
    refused=$(refused_in_plan)
    if [ -n "$refused" ]; then
        pkg_error "refusing to install ${missing[*]}: apt would bring in a general codec" \
            "collection or one of its plugins: $(printf '%s' "$refused" | tr '\n' ' ')"
        return 1
    fi
    pkg_log "installing ${missing[*]}"
    local out
    if ! out=$(DEBIAN_FRONTEND=noninteractive $PKG_SUDO "${PKG_APT[@]}" install -y -qq \
        --no-install-recommends "${missing[@]}" 2>&1); then
        note_apt_problem "$out"
        pkg_error "installing $(named_by_apt "${missing[@]}") failed: apt says"
        quote_apt
        return 1
    fi
}
