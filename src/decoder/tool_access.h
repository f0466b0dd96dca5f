// SPDX-License-Identifier: MIT
// What zmbtool reaches below the player's interface, and nothing else: the one decoder
// header outside the library that a tool includes. zmbtool decodes through ZambOpen as the
// player does, so that its pictures are the player's; these few services add what a tool
// needs beyond playing: each track's sound on its own, a second pass over the rectangles,
// and word of a frame whose chunks are damaged although they decode.
#pragma once

#include <cstdint>

#include "decoder/limits.h"
#include "zambrel/movie.h"

// The bytes track n's chunk puts into its ring in the current frame; 0 when the frame
// carries no chunk for it.
std::uint32_t ToolTrackSoundBytes(const Movie* movie, int n);

// The most one chunk of track n may put into its ring: the header's largest chunk, and
// never more than the player's ring for the track holds. A chunk that claims more is damaged.
std::uint32_t ToolTrackChunkLimit(const Movie* movie, int n);

// Writes the first `bytes` of those into `out` and returns how many the chunk's data
// delivered; a damaged stream delivers fewer, and the rest of `out` is left as it was.
std::uint32_t ToolTrackSound(const Movie* movie, int n, std::uint8_t* out, std::uint32_t bytes);

// Sets the rectangle scan back to the start of the frame's change map in `state`, so that
// ZambNextRect can hand the frame's changes out once more, merged another way.
void ToolRestartRectScan(Movie* movie, std::int32_t state);

// What ToolDoFrame found in the frame's picture chunk.
struct ToolPictureReading {
    bool decoded = false;         // a picture was decoded at all
    bool ranOut = false;          // its stream ended before the picture was complete
    std::uint32_t treesRead = 0;  // bit t: the picture took values from tree t
};

// ZambDoFrame, the same picture and sound, and what the picture's chunk held.
std::int32_t ToolDoFrame(Movie* movie, ToolPictureReading* reading);

// Bit t: the movie stores no tree t (pattern, colour, full, type), so any value read from it
// is made up.
std::uint32_t ToolAbsentTrees(const Movie* movie);

// Reads the nodes of the four trees in TREE_DATA (SIZE bytes) as the tree builder does, and
// gives the bytes each needs in memory (4 a node and three spare nodes; 0 for an absent
// tree). False when the data does not hold four trees.
bool ToolTreeSizesNeeded(const std::uint8_t* treeData, std::uint32_t size, std::uint32_t needed[4]);
