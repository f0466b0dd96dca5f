// SPDX-License-Identifier: MIT
// Word of a frame the player cannot show as it was made: its picture stream ran out before
// the last block, or the picture took values from a tree the movie does not hold whole.
// Such a picture decodes safely (to zeros and made-up blocks) but is not the movie.
#pragma once

#include <cstdint>

#include "core/movie_names.h"

// What the movie's trees can be trusted for, found once after the open.
struct TreeFaults {
    std::uint32_t absent = 0;      // bit t: the movie stores no tree t
    std::uint32_t tooSmall = 0;    // bit t: tree t's header size is short of what its nodes need
    std::uint32_t size[4] = {};    // the header's size of each tree, in bytes
    std::uint32_t needed[4] = {};  // what each tree's nodes and three spare nodes take
};
TreeFaults FindTreeFaults(const Movie* movie);

// What the picture of one frame showed about its chunk.
struct PictureDamage {
    bool ranOut = false;         // the stream ended before the picture was complete
    std::uint32_t badTrees = 0;  // bit t: the picture read tree t, which FAULTS named
};

// ZambDoFrame, the same picture and sound, and whether the picture was damaged. A frame
// whose picture was not decoded (no destination, a skipped frame) reports no damage.
std::int32_t DoFrameWatched(Movie* movie, const TreeFaults& faults, PictureDamage* damage);
