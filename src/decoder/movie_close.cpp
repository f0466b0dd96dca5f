// SPDX-License-Identifier: MIT
// Releasing what an open movie holds in memory.
#include <cstring>

#include "core/allocator.h"
#include "decoder/movie.h"
#include "decoder/value_tables.h"

void ReleaseMovie(Movie* movie) {
    ZambFree(movie->Dest);
    ReleaseValueTables(movie->Trees);
    ZambFree(movie->Trees);
    ZambFree(movie->FrameTypes);
    ZambFree(movie->FrameBuffer);
    ZambFree(movie->RingBase);
    const bool callerRecord = (movie->OpenFlags & ZAMB_USER_RECORD) != 0;
    std::memset(movie, 0, sizeof(Movie));
    if (!callerRecord) ZambFree(movie);
}
