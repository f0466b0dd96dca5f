// SPDX-License-Identifier: MIT
// Where a movie's bytes come from: a platform file handle for the system's own interface, or
// a caller's reader for a decoder handle of the embedding interface.
#pragma once

#include <cstdint>

#include "zambrel/decoder.h"
#include "zambrel/movie.h"

// A movie read through a reader keeps the ZambReader in FileHandle and is marked in its
// open flags by ZAMB_USER_RECORD without ZAMB_FILE_HANDLE, a pair ZambOpen never keeps (it
// refuses to open with it), so the two kinds cannot be mistaken for each other.
inline constexpr std::uint32_t kReaderMovieFlags = ZAMB_USER_RECORD;
inline constexpr std::uint32_t kReaderMovieMask = ZAMB_USER_RECORD | ZAMB_FILE_HANDLE;

inline bool ReadsThroughReader(const Movie* movie) {
    return (movie->OpenFlags & kReaderMovieMask) == kReaderMovieFlags;
}

// Reads up to `count` bytes at the input's position; returns the bytes read.
std::uint32_t SourceRead(Movie* movie, void* buffer, std::uint32_t count);
// Moves the input to `position` (a file position, or a reader position).
void SourceSeek(Movie* movie, std::uint64_t position);
