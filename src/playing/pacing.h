// SPDX-License-Identifier: MIT
// The frame timing statistics shared by the advance and the summary, and how long a
// player may sleep before the next frame is due.
#pragma once

#include <cstdint>

#include "core/movie_names.h"

// Milliseconds until ZambWait will let the next frame through (rounded up, 0 when it is
// due now), or 0xFFFFFFFF when that hangs on nothing a clock can tell: the frame is already
// let through and waits for the player, the sound is off, or the schedule has not begun.
std::uint32_t MillisecondsToNextFrame(Movie* movie);

// Closes the frame's timers (frame, blit, decode) and keeps the two slowest frames.
void FinishFrameStatistics(Movie* movie);

// For a player that shows the movie's last frame and advances no further: ZambWait then lets
// the frame stay for its period, as every frame before it did, instead of ending at once.
// A movie paced by its sound needs nothing: the last chunk's due position holds it.
void HoldLastFrame(Movie* movie);
