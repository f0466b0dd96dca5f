// SPDX-License-Identifier: MIT
// ZambClose: releases everything an open movie holds.
#include <cstdint>
#include <cstring>

#include "core/allocator.h"
#include "core/debug.h"
#include "decoder/audio.h"
#include "decoder/movie.h"
#include "decoder/value_tables.h"
#include "platform/win32.h"

void ZambClose(Movie* movie) {
    if (movie == nullptr) return;
    DebugText("ZambClose: ");
    DebugNumber(static_cast<std::int64_t>(reinterpret_cast<std::intptr_t>(movie)));
    DebugText("\r\n");
    // The sound side also frees the shared scratch buffer once the process's last track is
    // gone, which it decides for itself even when this movie had no track.
    CloseMovieTracks(movie);
    const bool callerHandle = (movie->OpenFlags & ZAMB_FILE_HANDLE) != 0;
    if (movie->FileHandle != INVALID_HANDLE_VALUE && !callerHandle) CloseHandle(movie->FileHandle);
    ReleaseMovie(movie);
}

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
