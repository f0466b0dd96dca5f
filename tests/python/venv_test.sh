#!/bin/sh
# The module as a Python user installs it: pip into a fresh venv (numpy and pytest from the
# system's site folder), built against this build's library, then the module's tests run by
# that venv's interpreter alone. Usage: venv_test.sh PYTHON SOURCE-TREE WORK-FOLDER
set -eu
python=$1 source=$2 work=$3
rm -rf "$work" && mkdir -p "$work"
# A copy, so that the build leaves nothing in the source tree.
cp -r "$source/python" "$work/package"
"$python" -m venv --system-site-packages "$work/venv"
ZAMBREL_INCLUDE_DIR="$source/include" "$work/venv/bin/pip" install --quiet --no-index \
    --no-build-isolation "$work/package"
cd "$work"
env -u PYTHONPATH "$work/venv/bin/python" -c 'import sys, zambrel; assert zambrel.__file__.startswith(sys.prefix), zambrel.__file__'
exec env -u PYTHONPATH "$work/venv/bin/python" -m pytest -q -p no:cacheprovider "$source/tests/python"
