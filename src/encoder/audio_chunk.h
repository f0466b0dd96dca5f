// SPDX-License-Identifier: MIT
// Audio chunks: one frame's share of a sound track, raw or delta-coded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "encoder/writer.h"

namespace zambrel::encoder {

// Bytes of one sample frame of the track: 1, 2 or 4.
std::uint32_t SampleFrameBytes(const SoundTrack& track);

// The chunk for `bytes` bytes of samples starting at `samples` (a whole number of sample
// frames), its length word first.
std::vector<std::uint8_t> BuildAudioChunk(const SoundTrack& track, const std::uint8_t* samples,
                                          std::size_t bytes, TreeShape shape);

}  // namespace zambrel::encoder
