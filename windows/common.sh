# SPDX-License-Identifier: MIT
# Shared by the Windows check's scripts.
# shellcheck shell=bash

log() { printf '\033[1m==> windows: %s\033[0m\n' "$*" >&2; }
die() { printf '\033[1;31m==> windows: %s\033[0m\n' "$*" >&2; exit 1; }

# Seconds since the epoch, for the step timings.
now() { date +%s; }
