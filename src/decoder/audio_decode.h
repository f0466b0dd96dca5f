// SPDX-License-Identifier: MIT
// Turning one audio chunk into samples, and the sizes a track's sound is bounded by.
#pragma once

#include <cstdint>

#include "decoder/bitstream.h"

#include "core/movie_names.h"

// The shared scratch buffer holds up to four byte trees of the chunk being decoded.
inline constexpr std::uint32_t kAudioScratchBytes = 8192;

// Decodes a compressed chunk's bit stream (after its 8-byte header) into the ring from
// `writePos` on, wrapping from `ringEnd` to `ringStart`, and returns the bytes written:
// never more than `decodedBytes`, fewer when the stream carries no samples, its trees are
// bad or its bits run out (the stream's end is the reader's end; nothing past it is read).
std::uint32_t DecodeAudio(BitReader& bits, std::uint32_t decodedBytes, std::uint8_t* scratch,
                          std::uint8_t* ringStart, std::uint8_t* ringEnd, std::uint8_t* writePos);

// What a track's chunk delivers in the current frame. A chunk whose length word runs past
// the frame is cut to the frame; one too short for its own header delivers nothing.
struct ChunkSound {
    const std::uint8_t* Data = nullptr;  // raw samples, or the compressed bit stream
    std::uint32_t DataBytes = 0;         // bytes of Data inside the chunk and the frame
    std::uint32_t Bytes = 0;             // bytes the chunk puts into the ring
    bool Compressed = false;
};
ChunkSound MeasureChunk(const Movie* movie, int n);

// Where a chunk's PCM goes: a ring of bytes from `start` to `end`, written from `at` on and
// wrapping at the end (a plain buffer is a ring that never wraps).
struct PcmRing {
    std::uint8_t* start;
    std::uint8_t* end;
    std::uint8_t* at;
};
// Turns the chunk's first `bytes` of sound into PCM in the ring, raw or delta-coded alike,
// and returns how many of them the chunk's data delivered. The rest is `silence`: sound a
// damaged chunk cannot deliver plays as silence, never as what the ring held before.
std::uint32_t ChunkToPcm(const ChunkSound& sound, std::uint32_t bytes, std::uint8_t* scratch,
                         const PcmRing& ring, std::uint8_t silence);

// A track's ring: one second of its sound and two frames, in whole 4,096-byte blocks, at
// least 8,192 bytes. No frame puts more sound into a track than this.
std::uint32_t TrackRingBytes(std::uint32_t bytesPerSecond, std::uint32_t framePeriod);

// Bytes of sound a second for a track format (0 when the format has no rate).
std::uint32_t TrackBytesPerSecond(std::uint32_t format);

// The most one chunk of track n may declare: the header's largest chunk, and never more than
// the track's ring holds at the movie's frame period.
std::uint32_t TrackChunkLimit(const Movie* movie, int n);

// Bytes of sound a frame period brings, x 1,024.
std::uint32_t FrameBytesFixed(std::uint32_t bytesPerSecond, std::uint32_t framePeriod);
