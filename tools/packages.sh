# SPDX-License-Identifier: MIT
# Installing Debian packages, for ./dev and the Windows check alike: one set of rules.
#   - Only what dpkg says is missing is installed, so a prepared machine spends no time here.
#   - A failed `apt-get update` (an index caught mid-sync, an extra source that cannot be
#     reached) is a warning, tried once more; the install then goes on with the lists apt has.
#   - Before anything is installed, apt is asked what it would install, and the set is refused
#     when it holds a package of REFUSED_PACKAGES.
#   - A package that still cannot be installed fails, naming it and quoting apt.
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
# apt's last complaint, for the messages of whoever cannot go on without the package.
PKG_APT_PROBLEM=""

# apt's own error lines, without the hash listings that follow a size mismatch.
apt_reason() {
    grep -E '^(E|W|Err):|unmet dependencies|Depends:|but it is not' | grep -v 'Hashes of' | head -n 12
}

pkg_installed() {
    dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q " ok installed$"
}

# apt's reason, indented under the line that says what failed.
quote_apt() {
    printf '%s\n' "$PKG_APT_PROBLEM" | sed 's/^/    /' >&2
}

pkg_missing() {  # prints the packages of "$@" that are not installed
    local package
    for package in "$@"; do pkg_installed "$package" || printf '%s\n' "$package"; done
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
        PKG_APT_PROBLEM=$(printf '%s\n' "$out" | apt_reason)
        pkg_warn "apt-get update failed (attempt $attempt of 2):"
        quote_apt
        [ "$attempt" -eq 1 ] && sleep 5
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
        PKG_APT_PROBLEM=$(printf '%s\n' "$out" | apt_reason)
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

# ensure_packages PACKAGE...: installs those that are missing, or fails naming them.
ensure_packages() {
    local missing refused
    mapfile -t missing < <(pkg_missing "$@")
    [ ${#missing[@]} -eq 0 ] && return 0
    apt_update
    if ! apt_plan "${missing[@]}"; then
        pkg_error "cannot install ${missing[*]}: apt says"
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
        PKG_APT_PROBLEM=$(printf '%s\n' "$out" | apt_reason)
        pkg_error "installing ${missing[*]} failed: apt says"
        quote_apt
        return 1
    fi
}
