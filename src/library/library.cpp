// SPDX-License-Identifier: MIT
// The shared library's one source of its own: its code is the modules' object files, and
// CMake wants a target to name at least one source.
