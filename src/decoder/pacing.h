// SPDX-License-Identifier: MIT
// The frame timing statistics shared by the advance and the summary.
#pragma once

struct Movie;

// Closes the frame's timers (frame, blit, decode) and keeps the two slowest frames.
void FinishFrameStatistics(Movie* movie);
