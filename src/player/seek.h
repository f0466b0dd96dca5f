// SPDX-License-Identifier: MIT
// Moving a playing movie by some frames, forward or back, for the seek keys.
#pragma once

#include <cstdint>

#include "core/movie_names.h"

// The frames in `milliseconds` of the movie at its pace; at least one.
std::int64_t FramesIn(const Movie* movie, std::int64_t milliseconds);

// Makes the frame `frames` from the one shown (clamped to the movie) the next to be shown:
// the frames before it are decoded unseen, from the nearest snapshot of the picture before
// it (picture_index.h), else forward or, going back, from the first frame. The sound
// is held meanwhile and comes back in step with the new place. False when the frame shown
// would stay. The caller presents the whole picture with the next frame, whose palette is
// marked new.
// With `nextAsked`, the next frame is on its way to the screen (a step asked for and not yet
// shown) and counts as the one shown.
bool SeekFrames(Movie* movie, std::int64_t frames, bool nextAsked = false);
