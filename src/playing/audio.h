// SPDX-License-Identifier: MIT
// The decoder's sound side, as the open, the frame decode, the seek and the close call it.
#pragma once

#include <cstdint>

#include "core/movie_names.h"

// Opens every sound track the open flags ask for (lowest first), each into a charged track
// record; a track that cannot open is left out and does not fail the open.
void OpenMovieTracks(Movie* movie, std::uint32_t openFlags);
// Closes and frees every open track of the movie, and the shared scratch buffer with the
// last track of the process.
void CloseMovieTracks(Movie* movie);
// Restarts the movie's tracks when playback goes back to frame 0 with sound queued.
void RestartMovieTracks(Movie* movie);

// Opens track n into the zeroed record in Tracks[n]; false leaves the track out.
bool OpenTrack(Movie* movie, int n);
// The shared scratch buffer, null while no movie holds one.
std::uint8_t* AudioScratch();

// Feeds the current frame's audio chunks into the open tracks' rings.
void FeedAudio(Movie* movie);
// True when the picture has fallen so far behind the sound that it should be skipped.
bool VideoIsLate(Movie* movie);
