// SPDX-License-Identifier: MIT
// The decoder handle of the embedding interface: one movie with everything its decoding
// needs, so that handles on different threads share nothing they change.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "zambrel/decoder.h"
#include "zambrel/movie.h"

// A block from the library allocator that the handle owns; empty until Reserve succeeds.
struct OwnedBytes {
    std::uint8_t* data = nullptr;
    std::size_t size = 0;

    bool Reserve(std::size_t bytes);
    void Release();
};

// One track's sound: the current frame's PCM and the queue ZambDecoderReadSound takes from,
// a ring of `queue.size` bytes holding `queued` bytes from `queueStart` on.
struct TrackSound {
    bool decoded = false;
    std::uint32_t sampleFrameBytes = 1;
    OwnedBytes frame;
    std::size_t frameBytes = 0;
    OwnedBytes queue;
    std::size_t queueStart = 0;
    std::size_t queued = 0;
};

// The caller's bytes of a memory open, read in place.
struct MemoryInput {
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
    std::size_t position = 0;
};

struct ZambDecoder {
    Movie movie;  // the decoder's record, in the handle's own storage
    ZambReader reader{};
    MemoryInput memory;
    std::FILE* file = nullptr;  // a path open's file
    std::uint32_t flags = 0;    // ZAMBOPEN_ bits
    bool frameCurrent = false;  // a frame has been decoded since the open or the seek
    bool wholePicture = false;  // the current frame is the first since the open or a seek
    // The palette of the frame last made current, against which the next one is judged: a
    // rewind or a seek can change the palette without a palette chunk in the new frame, and
    // a chunk seen on an earlier pass is not reported by the decoder a second time.
    std::uint8_t shownPalette[ZAMB_PALETTE_BYTES] = {};
    bool paletteChanged = false;  // the current frame's palette differs from the one before
    OwnedBytes picture;           // Width x Height palette indices
    OwnedBytes audioScratch;      // the byte trees of the sound chunk being decoded
    OwnedBytes rects;             // ZambRect entries of the current frame
    std::uint32_t rectCount = 0;
    TrackSound tracks[ZAMB_MAX_TRACKS];
};

// The frame number callers see: the ring frame shows as frame 0, whose picture it rebuilds.
std::uint32_t VisibleFrameNumber(const ZambDecoder* decoder);
// Decodes the current frame's sound of every decoded track into its frame buffer, and
// queues it unless `queue` is false.
void DecodeFrameSound(ZambDecoder* decoder, bool queue);
// Drops every track's queued sound.
void EmptySoundQueues(ZambDecoder* decoder);
// Collects the current frame's changed rectangles; false when memory for them was short.
bool CollectChangedRects(ZambDecoder* decoder);
// Marks the tracks whose sound is handed out: those the system's own interface would play.
void ChooseTracks(ZambDecoder* decoder);
// Sizes the sound buffers of those tracks (once); false when memory was short.
bool ReserveTrackSound(ZambDecoder* decoder);
