// SPDX-License-Identifier: MIT
// Whether a track's sound has all been heard, whichever driver plays it: for a player that
// lets the end of a movie's sound play before closing the movie.
#pragma once

#include "core/movie_names.h"

// True once the track's ring holds nothing the driver would still take (less than a sample frame)
// and the device has played all that it was given. The caller keeps servicing the sound
// while it waits for this.
bool SoundTrackPlayedOut(SoundTrack* track);
