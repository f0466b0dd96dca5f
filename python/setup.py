# SPDX-License-Identifier: MIT
"""The native half, built against libzambrel: the installed library as pkg-config finds it,
or else the source tree's headers (ZAMBREL_INCLUDE_DIR, by default ../include) and a build
tree's library (ZAMBREL_LIBRARY_DIR, by default ../build/src/library), which the module then
finds by its run path."""
import os
import shlex
import subprocess

from setuptools import Extension, setup

HERE = os.path.dirname(os.path.abspath(__file__))


def pkg_config(*options):
    try:
        return shlex.split(subprocess.run(["pkg-config", *options, "zambrel"], check=True,
                                          capture_output=True, text=True).stdout)
    except (OSError, subprocess.CalledProcessError):
        return None


def native_module():
    flags = pkg_config("--cflags")
    libs = pkg_config("--libs")
    if flags is not None and libs is not None and not os.environ.get("ZAMBREL_LIBRARY_DIR"):
        return Extension("zambrel._zambrel", ["_zambrel.cpp"], extra_compile_args=["-std=c++17", *flags],
                         extra_link_args=libs)
    library = os.path.abspath(os.environ.get("ZAMBREL_LIBRARY_DIR",
                                             os.path.join(HERE, "..", "build", "src", "library")))
    if not os.path.exists(os.path.join(library, "libzambrel.so")):
        raise SystemExit(f"libzambrel was not found: install it (pkg-config zambrel), or build "
                         f"it and name its folder in ZAMBREL_LIBRARY_DIR (looked in {library})")
    return Extension("zambrel._zambrel", ["_zambrel.cpp"], extra_compile_args=["-std=c++17"],
                     include_dirs=[os.environ.get("ZAMBREL_INCLUDE_DIR",
                                                  os.path.join(HERE, "..", "include"))],
                     library_dirs=[library],
                     libraries=["zambrel"], runtime_library_dirs=[library])


setup(ext_modules=[native_module()])
