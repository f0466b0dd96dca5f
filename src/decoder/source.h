// SPDX-License-Identifier: MIT
// Where a movie's bytes come from. The core reads every movie through a ZambReader. A
// decoder handle lends its reader, which the handle keeps beside its record and the record's
// FileHandle points at, since no caller sees that record. A movie of the system's own
// interface keeps in FileHandle the file its callers see, and is read through the file
// reader the interface installs (HostServices); its record cannot carry anything more, as
// its layout is public and the caller may supply its storage.
#pragma once

#include <cstdint>

#include "core/movie_names.h"
#include "zambrel/decoder.h"

// A handle's movie is marked in its open flags by ZAMB_USER_RECORD without ZAMB_FILE_HANDLE,
// a pair ZambOpen never keeps (it refuses to open with it), so the two kinds cannot be
// mistaken for each other.
inline constexpr std::uint32_t kReaderMovieFlags = ZAMB_USER_RECORD;
inline constexpr std::uint32_t kReaderMovieMask = ZAMB_USER_RECORD | ZAMB_FILE_HANDLE;

inline bool ReadsThroughReader(const Movie* movie) {
    return (movie->OpenFlags & kReaderMovieMask) == kReaderMovieFlags;
}

// What FileHandle holds once a preload has left the system's file alone.
inline void* const kClosedFile = reinterpret_cast<void*>(~std::uintptr_t{0});

// Reads up to `count` bytes at the input's position; returns the bytes read.
std::uint32_t SourceRead(Movie* movie, void* buffer, std::uint32_t count);
// Moves the input to `position` (counted as the input counts: a file's from the file's
// start, a handle's reader's from the movie's first byte). A move that fails sets ReadFailed.
void SourceSeek(Movie* movie, std::uint64_t position);
