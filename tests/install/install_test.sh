#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Usage: install_test.sh BUILD_DIR THIS_DIR DEMO_MOVIE
set -euo pipefail
BUILD=$1 HERE=$2 DEMO=$3

for tool in pkg-config cc desktop-file-validate update-mime-database xdg-mime gio; do
    command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
done

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
PREFIX=$WORK/prefix
fail() { echo "FAILED: $*" >&2; exit 1; }

cmake --install "$BUILD" --prefix "$PREFIX" >"$WORK/install.log" || {
    cat "$WORK/install.log"; fail "cmake --install"; }

# Nothing lands outside the prefix.
while IFS= read -r path; do
    case "$path" in "$PREFIX"/*) ;; *) fail "installed outside the prefix: $path" ;; esac
done <"$BUILD/install_manifest.txt"

# The tree: GNUInstallDirs decides lib/ or lib/<multiarch>/, so the library is looked for.
libdir=$(dirname "$(find "$PREFIX" -name 'libzambrel.so' | head -n1)")
if [ -z "$libdir" ] || [ "$libdir" = . ]; then fail "no libzambrel.so under the prefix"; fi
for file in bin/zambply bin/zmbtool include/zambrel/movie.h include/zambrel/blit.h \
    share/man/man1/zambply.1 share/man/man1/zmbtool.1 share/applications/zambply.desktop \
    share/mime/packages/zambrel.xml share/thumbnailers/zambrel.thumbnailer \
    share/doc/zambrel/LICENSE share/doc/zambrel/README.md share/doc/zambrel/library.md; do
    [ -e "$PREFIX/$file" ] || fail "missing $file"
done
for file in pkgconfig/zambrel.pc cmake/Zambrel/ZambrelConfig.cmake; do
    [ -e "$libdir/$file" ] || fail "missing ${libdir#"$PREFIX"/}/$file"
done
soname=$(objdump -p "$libdir/libzambrel.so" | awk '$1 == "SONAME" { print $2 }')
[[ "$soname" =~ ^libzambrel\.so\.[0-9]+$ ]] || fail "SONAME is '$soname'"
[ -e "$libdir/$soname" ] || fail "no $soname beside libzambrel.so"
version=$("$PREFIX/bin/zambply" --version) || fail "zambply --version"
[[ "$version" == "zambply (Zambrel) "* ]] || fail "zambply --version said: $version"
# The GPL note goes with a zmbtool that links libimagequant, and only with one.
# grep reads all of it: with -q, ldd could die of a closed pipe and pipefail say no.
if ldd "$PREFIX/bin/zmbtool" | grep libimagequant >/dev/null; then
    [ -e "$PREFIX/share/doc/zambrel/zmbtool-licence.txt" ] || fail "no licence note for zmbtool"
else
    [ ! -e "$PREFIX/share/doc/zambrel/zmbtool-licence.txt" ] || fail "a GPL note for an MIT zmbtool"
fi
# The demo is installed and plays, headless, as the manual page suggests.
cmp "$DEMO" "$PREFIX/share/zambrel/demo.zmb" || fail "share/zambrel/demo.zmb is not the demo"
ZAMBREL_HOST=headless ZAMBREL_AUDIO=simulated "$PREFIX/bin/zambply" /F /T0 \
    "$PREFIX/share/zambrel/demo.zmb" || fail "the installed player did not play the installed demo"

# What the installed library decodes must agree with what the installed tool reports.
expected=$("$PREFIX/bin/zmbtool" info "$DEMO" | awk -F': *' \
    '$1 == "width" || $1 == "frames" { print $1 ": " $2 } $1 == "height" { split($2, h, " "); print "height: " h[1] }')

# The .pc names the prefix it was installed under and builds its folders on it, so that
# pkg-config recognises them as system folders when the prefix is the system's.
pc=$libdir/pkgconfig/zambrel.pc
grep -qx "prefix=$PREFIX" "$pc" || fail "zambrel.pc's prefix: $(grep '^prefix=' "$pc")"
! grep -q '\.\.' "$pc" || fail "zambrel.pc climbs folders: $(cat "$pc")"
flags=$(PKG_CONFIG_PATH="$libdir/pkgconfig" PKG_CONFIG_SYSTEM_INCLUDE_PATH="$PREFIX/include" \
    PKG_CONFIG_SYSTEM_LIBRARY_PATH="$libdir" pkg-config --cflags --libs zambrel)
[ "${flags% }" = "-lzambrel" ] || fail "with the prefix's folders as the system's, pkg-config says '$flags'"

# pkg-config, from a copy of the prefix elsewhere, which --define-prefix finds from the
# .pc's own place.
cp -a "$PREFIX" "$WORK/moved"
moved_libdir=$WORK/moved/${libdir#"$PREFIX"/}
flags=$(PKG_CONFIG_PATH="$moved_libdir/pkgconfig" pkg-config --define-prefix --cflags --libs zambrel)
[[ "$flags" != *"$PREFIX"* ]] || fail "the moved tree's flags name the old prefix: $flags"
# shellcheck disable=SC2086 # the flags are words
cc -std=c99 -Wall -Wextra -Werror "$HERE/embed.c" -o "$WORK/embed-pc" $flags
got=$(LD_LIBRARY_PATH="$moved_libdir" "$WORK/embed-pc" "$DEMO")
[ "$got" = "$expected" ] || fail "pkg-config program printed '$got', zmbtool info '$expected'"

# The library loads SDL2 for sound only when a track opens: with it the track plays (on
# SDL's silent device), and with SDL2 gone the track does not open and the movie still
# decodes whole. SDL2 is hidden in a mount namespace of our own, where we may make one.
sound=$(SDL_AUDIODRIVER=dummy ZAMBREL_AUDIO=sdl LD_LIBRARY_PATH="$moved_libdir" "$WORK/embed-pc" "$DEMO" sound)
[ "$sound" = "$expected"$'\ntrack 0: open' ] || fail "with SDL2 the program printed '$sound'"
sdl=$(ldconfig -p | awk '$1 == "libSDL2-2.0.so.0" { print $NF; exit }')
if [ -n "$sdl" ] && unshare -m true 2>/dev/null; then
    # shellcheck disable=SC2016 # the inner shell expands its own arguments
    sound=$(LD_LIBRARY_PATH="$moved_libdir" unshare -m sh -c \
        'mount --bind /dev/null "$1" && exec "$2" "$3" sound' - "$sdl" "$WORK/embed-pc" "$DEMO")
    [ "$sound" = "$expected"$'\ntrack 0: not open' ] || fail "without SDL2 the program printed '$sound'"
else
    echo "not checked: a library without SDL2 (no mount namespace here)"
fi

# find_package(Zambrel) and its imported target.
mkdir -p "$WORK/consumer"
cat >"$WORK/consumer/CMakeLists.txt" <<'CMAKE'
cmake_minimum_required(VERSION 3.20)
project(Consumer LANGUAGES C)
find_package(Zambrel REQUIRED)
add_executable(embed embed.c)
target_link_libraries(embed PRIVATE Zambrel::zambrel)
CMAKE
cp "$HERE/embed.c" "$WORK/consumer/"
if ! { cmake -S "$WORK/consumer" -B "$WORK/consumer/build" -DCMAKE_PREFIX_PATH="$PREFIX" \
    >"$WORK/consumer.log" 2>&1 && cmake --build "$WORK/consumer/build" >>"$WORK/consumer.log" 2>&1; }; then
    cat "$WORK/consumer.log"; fail "find_package(Zambrel) consumer"
fi
got=$("$WORK/consumer/build/embed" "$DEMO")
[ "$got" = "$expected" ] || fail "find_package program printed '$got', zmbtool info '$expected'"

desktop-file-validate "$PREFIX/share/applications/zambply.desktop" || fail "desktop entry"

# The MIME type as a desktop sees it, with only the prefix's data and a home of our own.
update-mime-database "$PREFIX/share/mime"
cp "$DEMO" "$WORK/movie.zmb"
cp "$DEMO" "$WORK/movie-without-extension"
printf 'ZMB1 is not a movie' >"$WORK/impostor.zmb.txt"
mime() {
    HOME=$WORK/home XDG_DATA_HOME=$WORK/home/.local/share XDG_DATA_DIRS=$PREFIX/share \
        XDG_CURRENT_DESKTOP=GNOME xdg-mime query filetype "$1"
}
for file in movie.zmb movie-without-extension; do
    type=$(mime "$WORK/$file")
    [ "$type" = video/x-zambrel ] || fail "xdg-mime says $file is '$type'"
done
[ "$(mime "$WORK/impostor.zmb.txt")" != video/x-zambrel ] || fail "a text file taken for a movie"

# The thumbnailer entry, run as a file manager runs it.
exec_line=$(sed -n 's/^Exec=//p' "$PREFIX/share/thumbnailers/zambrel.thumbnailer")
exec_line=${exec_line//%s/64}
exec_line=${exec_line//%i/$WORK/movie.zmb}
exec_line=${exec_line//%o/$WORK/thumbnail.png}
# shellcheck disable=SC2086 # the Exec line is words
PATH=$PREFIX/bin:$PATH $exec_line || fail "thumbnailer: $exec_line"
# A PNG's width and height are the big-endian words at bytes 16 and 20.
size=$(od -An -tu1 -j16 -N8 "$WORK/thumbnail.png" | awk '{ print $3 * 256 + $4 "x" $7 * 256 + $8 }')
[ "$size" = 64x48 ] || fail "the thumbnail is $size, not 64x48"
echo "installed and used from $PREFIX"
