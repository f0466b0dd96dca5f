// SPDX-License-Identifier: MIT
// The decoder handle of the embedding interface: one movie with everything its decoding
// needs, so that handles on different threads share nothing they change.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "core/movie_names.h"
#include "decoder/movie.h"
#include "decoder/owned_bytes.h"
#include "decoder/seek_index.h"
#include "zambrel/decoder.h"

// One track's sound: the current frame's PCM and the queue ZambDecoderReadSound takes from,
// a ring of `queue.size` bytes holding `queued` bytes from `queueStart` on. Positions count
// sample frames from the movie's start, in the track's own rate: chunks play one after the
// other, so a chunk's position is the sum of the chunks before it.
struct TrackSound {
    bool decoded = false;
    std::uint32_t sampleFrameBytes = 1;
    OwnedBytes frame;
    std::size_t frameBytes = 0;
    OwnedBytes queue;
    std::size_t queueStart = 0;
    std::size_t queued = 0;
    std::uint64_t chunkPosition = 0;   // the current frame's chunk
    std::uint64_t chunkFrames = 0;     // sample frames that chunk holds
    std::uint64_t queuePosition = 0;   // the queue's first sample
    std::uint64_t queueFrom = 0;       // sound before it is not queued (set by a seek)
    std::uint64_t droppedBytes = 0;    // dropped from a full queue since the open
    std::uint32_t claimedBytes = 0;    // what the current frame's chunk declares
    std::uint32_t deliveredBytes = 0;  // of the bytes decoded, those its data held
    // The position of frame k's chunk for every frame of the first pass reached so far
    // (uint64_t each, FrameCount of them once made), so a seek knows which chunks hold the
    // sound due at its target without reading the frames before it again.
    OwnedBytes chunkPositions;
};

// The caller's bytes of a memory open, read in place.
struct MemoryInput {
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
    std::size_t position = 0;
};

// One fault the open's check found in the frames, kept small: its sentence is made when
// asked for, so that a movie of many damaged frames costs little memory.
struct FrameFaultRecord {
    std::uint32_t frame;
    std::uint16_t kind;    // FaultKind, in handle_check.cpp
    std::uint16_t track;   // for a sound chunk's faults
    std::uint32_t bytes;   // the chunk's length, or the frame's size for a cut input
    std::uint32_t inside;  // for a cut input: the frame's bytes the input still holds
};

// What a checked open found, and the reading of the current picture.
struct FrameChecks {
    bool made = false;
    std::uint32_t frameCount = 0;
    std::uint32_t stored = 0;
    std::uint32_t whole = 0;
    OwnedBytes faults;  // FrameFaultRecord entries
    std::uint32_t faultCount = 0;
    std::uint32_t treeSizes[4] = {};   // as the header gives them
    std::uint32_t treeNeeded[4] = {};  // what their nodes need
    std::uint32_t shortTrees = 0;
    std::uint32_t absentTrees = 0;
    // The current picture's reading, checked from ZambDecoderCheckPictures on. Called
    // through a pointer that only that call sets, so that programs which never check link
    // none of the checked decoding.
    void (*checkedPicture)(ZambDecoder* decoder) = nullptr;
    bool pictureRead = false;
    bool ranOut = false;
    std::uint32_t treesRead = 0;
};

struct ZambDecoder {
    Movie movie;  // the decoder's record, in the handle's own storage
    ZambReader reader{};
    MemoryInput memory;
    std::FILE* file = nullptr;  // a path open's file
    std::uint32_t flags = 0;    // ZAMBOPEN_ bits
    bool frameCurrent = false;  // a frame has been decoded since the open or the seek
    bool wholePicture = false;  // the current frame is the first since the open or a seek
    // The current frame was reached from frame 0 (or a snapshot of such a pass) without
    // wrapping round: only such frames go into the index and the chunk positions.
    bool firstPass = true;
    std::uint32_t positionsKnown = 0;  // frames 0 to positionsKnown - 1 have chunk positions
    // After a read failure the frame before the damage stays current, and so does its number.
    bool damaged = false;
    std::uint32_t shownFrame = 0;
    ZambErrorInfo lastError{};
    SeekIndex index;
    // The palette of the frame last made current, against which the next one is judged: a
    // rewind or a seek can change the palette without a palette chunk in the new frame, and
    // a chunk seen on an earlier pass is not reported by the decoder a second time.
    std::uint8_t shownPalette[ZAMB_PALETTE_BYTES] = {};
    bool paletteChanged = false;  // the current frame's palette differs from the one before
    OwnedBytes picture;           // Width x Height palette indices, or a display's pixels
    OwnedBytes audioScratch;      // the byte trees of the sound chunk being decoded
    OwnedBytes rects;             // ZambRect entries of the current frame
    std::uint32_t rectCount = 0;
    std::int32_t rectScanState = 0;  // the scan's state before the frame's rectangles
    TrackSound tracks[ZAMB_MAX_TRACKS];
    FrameChecks checks;
};

// ZAMBPIX_INDEX8, or the 16-bit format of a display opened for: the picture's pixels.
std::uint32_t DisplayFormat(const ZambDecoder* decoder);
// The frame number callers see: the ring frame shows as frame 0, whose picture it rebuilds.
std::uint32_t VisibleFrameNumber(const ZambDecoder* decoder);
// Decodes the current frame's sound of every decoded track into its frame buffer, and
// queues it unless `queue` is false.
void DecodeFrameSound(ZambDecoder* decoder, bool queue);
// Drops every track's queued sound; from then on each track queues only its sound from
// sample frame from[n] on (from frame 0's sound when `from` is null).
void EmptySoundQueues(ZambDecoder* decoder, const std::uint64_t* from);
// Collects the current frame's changed rectangles; false when memory for them was short.
bool CollectChangedRects(ZambDecoder* decoder);
// The chunk positions and sample-frame counts of the current frame, from the previous frame's
// (or 0 at frame 0); recorded for the seeks when the frame belongs to the first pass.
void AdvanceSoundPositions(ZambDecoder* decoder, bool fromPrevious);
// Queues what the current frame's chunks hold from each track's queueFrom on, decoding only
// the chunks that reach it (the seeks' look back for the sound due at their target).
void QueueReachingSound(ZambDecoder* decoder);
// Sets every track's chunk position and size for a first-pass frame made current again.
void PlaceSoundAt(ZambDecoder* decoder, std::uint32_t frame);
// From now on each track queues its sound from the current chunk's first sample on.
void QueueFromCurrentChunk(ZambDecoder* decoder);
// The position of a first-pass frame's chunk, which must lie below positionsKnown.
std::uint64_t ChunkPositionOf(const ZambDecoder* decoder, int track, std::uint32_t frame);
// Marks the tracks whose sound is handed out: those the system's own interface would play.
void ChooseTracks(ZambDecoder* decoder);
// Sizes the sound buffers of those tracks (once); false when memory was short.
bool ReserveTrackSound(ZambDecoder* decoder);
// Releases every track's buffers.
void ReleaseTrackSound(ZambDecoder* decoder);

// The snapshot taken after `frame`, or null.
const Snapshot* SnapshotAt(const ZambDecoder* decoder, std::uint32_t frame);
// Takes a snapshot of the current frame when its slot is due and the budget allows.
void TakeSnapshot(ZambDecoder* decoder);
// Puts the picture and palette of a snapshot back (the frame itself is the caller's to load);
// false, with the picture unusable, when the snapshot does not unpack (memory overwritten).
bool RestoreSnapshot(ZambDecoder* decoder, const Snapshot* snapshot);
// The latest snapshot frame at or before `frame` (0 when there is none).
std::uint32_t SnapshotBefore(const ZambDecoder* decoder, std::uint32_t frame);
void ReleaseIndex(ZambDecoder* decoder);

// The open's steps, shared by the ways in: flags that may go together, a new handle and
// its release, the movie opened from the handle's reader (the movie alone, or with the
// tracks chosen), and the handle handed out or, on failure, released. A nonzero
// `wholeFrames` opens a damaged movie as its first frames alone (OpenMovieFromReader).
bool FlagsAreUsable(std::uint32_t flags);
ZambDecoder* NewHandle(std::uint32_t flags);
void FreeHandle(ZambDecoder* decoder);
// The code a handle's open returns for the reason the core gives.
ZambError ErrorFor(OpenFailure failure);
ZambError OpenMovieOfReader(ZambDecoder* decoder, std::uint32_t wholeFrames = 0);
ZambError OpenFromReader(ZambDecoder* decoder);
ZambError FinishOpen(ZambDecoder* decoder, ZambError result, ZambDecoder** out);
// An open over the caller's reader: the checks every such open makes, then `open` on the new
// handle, which keeps a copy of the reader.
ZambError OpenOverReader(const ZambReader* reader, std::uint32_t flags, ZambDecoder** decoder,
                         ZambError (*open)(ZambDecoder*));
// The trees the movie does not store, noted once it is open: a picture that reads one has
// made its values up.
void NoteAbsentTrees(ZambDecoder* decoder);
void ReleaseChecks(ZambDecoder* decoder);

// Records the failure for ZambDecoderGetLastError and returns its code.
ZambError Fail(ZambDecoder* decoder, ZambError code, std::uint32_t frame, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 4, 5)))
#endif
    ;
