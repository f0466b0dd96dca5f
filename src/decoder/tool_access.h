// SPDX-License-Identifier: MIT
// What zmbtool reaches below the player's interface, and nothing else: the one decoder
// header outside the library that a tool includes. zmbtool decodes through ZambOpen as the
// player does, so that its pictures are the player's; these few services add what a tool
// needs beyond playing: each track's sound on its own, and a second pass over the rectangles.
#pragma once

#include <cstdint>

#include "decoder/limits.h"
#include "zambrel/movie.h"

// The bytes track n's chunk puts into its ring in the current frame; 0 when the frame
// carries no chunk for it.
std::uint32_t ToolTrackSoundBytes(const Movie* movie, int n);

// Writes the first `bytes` of those into `out` and returns how many the chunk's data
// delivered; a damaged stream delivers fewer, and the rest of `out` is left as it was.
std::uint32_t ToolTrackSound(const Movie* movie, int n, std::uint8_t* out, std::uint32_t bytes);

// Sets the rectangle scan back to the start of the frame's change map in `state`, so that
// ZambNextRect can hand the frame's changes out once more, merged another way.
void ToolRestartRectScan(Movie* movie, std::int32_t state);
