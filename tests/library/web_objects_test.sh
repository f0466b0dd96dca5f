#!/bin/sh
# web_objects_test.sh SOURCE_DIR
# Configures the web page's build (with this machine's compiler: only the object list is
# wanted) and checks that the page links the glue, the handles and the decoding core alone.
set -eu
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cmake -S "$1" -B "$tmp" -DZAMBREL_WEB=ON -DZAMBREL_TESTS=OFF >"$tmp/configure.log" 2>&1 ||
    { cat "$tmp/configure.log"; exit 1; }
list="$tmp/web_objects.txt"
[ -s "$list" ] || { echo "no object list"; exit 1; }
targets=$(sed -n 's|.*/CMakeFiles/\([^/]*\)\.dir/.*|\1|p' "$list" | sort -u | tr '\n' ' ')
expected="zambrel_web_glue zmb_core zmb_decoding_core zmb_handles "
if [ "$targets" != "$expected" ]; then
    echo "the page links: $targets"
    echo "expected:       $expected"
    exit 1
fi
# A target that builds a source of another folder (CMake writes "__" for "..") would bring
# that folder's code in under the target's name.
if grep -F '/__/' "$list"; then
    echo "objects from outside their target's folder"
    exit 1
fi
echo "$(wc -l <"$list") objects of: $targets"
