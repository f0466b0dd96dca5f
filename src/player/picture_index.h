// SPDX-License-Identifier: MIT
// The player's seek index: snapshots of the display's picture as the movie plays straight
// on from its first frame, so that a seek resumes from the nearest one instead of decoding
// the movie from its start.
#pragma once

#include <cstdint>

#include "core/movie_names.h"

// Starts the index over for a movie just opened, or frees it once the movie is closed.
void PictureIndexForget();
// Called after each decode of the current frame: the picture joins the index when it is
// what the decode of every frame before it, from the first on, leaves.
void PictureIndexNoteDecoded(Movie* movie);
// When a snapshot lies at or after `from` and before `target` (frame numbers of the movie),
// puts it back and makes the frame after it current, as if the frames up to it had just
// been decoded; false, with nothing changed, otherwise.
bool PictureIndexResume(Movie* movie, std::uint32_t from, std::uint32_t target);
