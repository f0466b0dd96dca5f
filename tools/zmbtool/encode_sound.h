// SPDX-License-Identifier: MIT
// zmbtool encode's sound: tracks read from sound files and fitted to the pictures.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "encoder/writer.h"

namespace zmbtool {

// Reads a sound file the way a track stores it: mono or stereo, kept 8-bit when the file is
// 8-bit and 16-bit otherwise, at the file's rate. Fails with one line naming the file.
bool ReadSoundTrack(const std::string& path, bool raw, zambrel::encoder::SoundTrack* track,
                    std::string* error);

// Frames of the period code `frameRate` that `track` needs to be heard to its end; 0 for an
// untimed movie or an absent track.
std::uint64_t FramesForTrack(const zambrel::encoder::SoundTrack& track, std::int32_t frameRate);

// Frames of the period code `frameRate` (1/100 ms when negative) that the longest track
// needs to be heard to its end; 0 for an untimed movie or without sound.
std::uint64_t FramesForSound(
    const std::array<zambrel::encoder::SoundTrack, zambrel::encoder::kTrackCount>& tracks,
    std::int32_t frameRate);

// Cuts every track to `frames` frames of the period code `frameRate`; returns the numbers of
// the tracks that lost sound.
std::string CutSoundToFrames(
    std::array<zambrel::encoder::SoundTrack, zambrel::encoder::kTrackCount>& tracks,
    std::int32_t frameRate, std::uint64_t frames);

}  // namespace zmbtool
