#!/bin/sh
# core_symbols_test.sh CORE_ARCHIVES... -- ABOVE_ARCHIVES...
# The decoding core and the handles (what the web page links) name no symbol that the parts
# above them define: the platform's stand-in, the sound drivers, the playing part. Any such
# name, wanted or defined, fails the test and is printed.
set -eu
core=""
above=""
side=core
for archive in "$@"; do
    if [ "$archive" = "--" ]; then side=above; continue; fi
    if [ "$side" = core ]; then core="$core $archive"; else above="$above $archive"; fi
done
if [ -z "$core" ] || [ -z "$above" ]; then
    echo "usage: $0 CORE... -- ABOVE..." >&2
    exit 2
fi
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
# shellcheck disable=SC2086
nm --defined-only $above 2>/dev/null | awk 'NF == 3 && $2 ~ /^[TDBR]$/ { print $3 }' | sort -u >"$tmp/above"
# shellcheck disable=SC2086
nm $core 2>/dev/null | awk 'NF >= 2 { print $NF }' | sort -u >"$tmp/core"
if [ ! -s "$tmp/above" ] || [ ! -s "$tmp/core" ]; then
    echo "no symbols read" >&2
    exit 2
fi
comm -12 "$tmp/core" "$tmp/above" | grep -v -e '^_ZN\?K\?St' -e '^_ZNSt' -e '^__' >"$tmp/shared" || true
if [ -s "$tmp/shared" ]; then
    echo "the core names what the parts above it define:"
    c++filt <"$tmp/shared"
    exit 1
fi
# The Win32 names the stand-in provides, by their shape, in case one is defined nowhere above.
if grep -E '^(_Z[0-9]+)?(OutputDebugString|GetProfile|CreateFile|ReadFile|SetFilePointer|timeGetTime|waveOut|DirectSound|Sleep|GetTickCount|SDL_)' "$tmp/core"; then
    echo "the core names a platform call"
    exit 1
fi
echo "core: $(wc -l <"$tmp/core") names, none of the $(wc -l <"$tmp/above") above it"
