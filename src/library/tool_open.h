// SPDX-License-Identifier: MIT
// Movies opened for the system's own interface from what a tool already holds rather than
// from a name: an open POSIX descriptor, or bytes in memory. Deliberately outside the public
// headers and meant for zmbtool alone. ZambOpen takes a name, which the player's conventions
// bend ('\' read as '/', the case folded when the exact name is missing), or a platform file
// handle, which only the platform layer makes; zmbtool must read exactly the POSIX name it
// was given, and decodes a damaged movie's whole frames from a copy in memory, through the
// same decoding the player does so that its pictures are the player's.
#pragma once

#include <cstddef>
#include <cstdint>

#include "zambrel/movie.h"

// An open movie and the input it reads from, which the movie does not own.
struct ToolMovie {
    Movie* movie = nullptr;
    void* input = nullptr;
};

// Opens the movie on `fd` with ZambOpen's `flags`. The descriptor is taken over: it is
// closed by ToolCloseMovie, or at once when the open fails. False when the movie cannot be
// used; `out` is then empty.
bool ToolOpenDescriptor(int fd, std::uint32_t flags, ToolMovie* out);
// The same over a copy of `size` bytes at `data`, which the caller may release at once.
bool ToolOpenMemory(const void* data, std::size_t size, std::uint32_t flags, ToolMovie* out);
// Closes the movie and its input; an empty ToolMovie is ignored. `movie` is empty after.
void ToolCloseMovie(ToolMovie* movie);
