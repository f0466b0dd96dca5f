// SPDX-License-Identifier: MIT
// The decoder's sound side, as the open, the frame decode and the close call it.
#pragma once

#include <cstdint>

struct Movie;

// Opens sound track n of the movie into the zeroed track record already in Tracks[n].
bool OpenTrack(Movie* movie, int n);
// Feeds the current frame's audio chunks into the open tracks' rings.
void FeedAudio(Movie* movie);
// True when the picture has fallen so far behind the sound that it should be skipped.
bool VideoIsLate(Movie* movie);
