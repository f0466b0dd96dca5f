// SPDX-License-Identifier: MIT
// Turning one audio chunk into samples in a track's ring, and opening a track.
#pragma once

#include <cstdint>

#include "decoder/bitstream.h"

struct Movie;

// The shared scratch buffer holds up to four byte trees of the chunk being decoded.
inline constexpr std::uint32_t kAudioScratchBytes = 8192;

// Decodes a compressed chunk's bit stream (after its 8-byte header) into the ring from
// `writePos` on, wrapping from `ringEnd` to `ringStart`, and returns the bytes written:
// never more than `decodedBytes`, fewer when the stream carries no samples, its trees are
// bad or its bits run out (the stream's end is the reader's end; nothing past it is read).
std::uint32_t DecodeAudio(BitReader& bits, std::uint32_t decodedBytes, std::uint8_t* scratch,
                          std::uint8_t* ringStart, std::uint8_t* ringEnd, std::uint8_t* writePos);

// Opens track n into the zeroed record in Tracks[n]; false leaves the track out.
bool OpenTrack(Movie* movie, int n);

// The shared scratch buffer, null while no movie holds one.
std::uint8_t* AudioScratch();
