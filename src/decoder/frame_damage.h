// SPDX-License-Identifier: MIT
// Word of a frame the player cannot show as it was made: its picture stream ran out before
// the last block, or the picture took values from a tree the movie does not hold whole.
// Such a picture decodes safely (to zeros and made-up blocks) but is not the movie.
#pragma once

#include <cstdint>
#include <vector>

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

// The first damaged sound chunk of a frame, in track order.
struct SoundDamage {
    int track = -1;               // -1: every chunk looked at was whole
    std::uint32_t claimed = 0;    // PCM bytes the chunk declares
    std::uint32_t delivered = 0;  // of those, the bytes its data holds
    std::uint32_t limit = 0;      // the most a chunk of the track may declare
};

// What checking a movie's sound chunks needs from frame to frame: its own decoding space, so
// that a track which does not play (no device, the sound off) is checked all the same.
struct SoundCheck {
    std::vector<std::uint8_t> scratch;
    std::vector<std::uint8_t> pcm;
};

// Checks the current frame's chunk of every track in TRACKS (bit n: track n) that the movie
// stores: one that claims more than its track may hold, or whose data delivers less than it
// claims, is damaged. Run after ZambDoFrame, before ZambNextFrame.
SoundDamage FindSoundDamage(const Movie* movie, std::uint32_t tracks, SoundCheck& check);

// ZambDoFrame, the same picture and sound, and whether the picture was damaged. A frame
// whose picture was not decoded (no destination, a skipped frame) reports no damage. It
// plays, so it is defined with ZambDoFrame in the playing part (src/playing/pacing.cpp).
std::int32_t DoFrameWatched(Movie* movie, const TreeFaults& faults, PictureDamage* damage);
