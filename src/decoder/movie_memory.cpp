// SPDX-License-Identifier: MIT
// Memory charged to a movie, and the library-wide settings the open picks up.
#include "core/allocator.h"
#include "decoder/movie.h"

DecoderSettings LibrarySettings;

void* MovieAllocate(Movie* movie, std::uint32_t size) {
    movie->MemoryInUse += size;
    if (movie->MemoryInUse > movie->PeakMemory) movie->PeakMemory = movie->MemoryInUse;
    return ZambAllocate(size);
}

void MovieUncharge(Movie* movie, std::uint32_t size) {
    movie->MemoryInUse -= size;
}
