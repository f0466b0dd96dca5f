// SPDX-License-Identifier: MIT
// The decoder's internal movie services: reading through the ring, frames, memory, settings.
#pragma once

#include <cstdint>

#include "core/movie_names.h"
#include "decoder/limits.h"
#include "zambrel/decoder.h"

// Library-wide values that ZambOpen picks up (ZambSetReadSpeed, ZambSetFrameRate).
struct DecoderSettings {
    std::int32_t ReadSpeedSetting = 0;  // bytes per second
    std::int32_t FrameRateSetting = 0;  // header form: >0 ms, <0 minus 1/100 ms, 0 untimed
};
extern DecoderSettings LibrarySettings;

inline constexpr std::uint32_t kBlockSize = 4096;     // ring reads are whole aligned blocks
inline constexpr std::uint32_t kDirectPiece = 16384;  // large reads bypass the ring
inline constexpr std::uint32_t kFrameSpareBytes = 8;  // bit readers may look past a chunk
inline constexpr std::uint32_t kMinAutoRing = 12288;
inline constexpr std::uint32_t kMinRing = 8192;

// Stored frames: FrameCount plus the ring frame when there is one.
inline std::uint32_t StoredFrames(const Movie* movie) {
    return movie->FrameCount + (movie->FileFlags & FILE_RING);
}

// The four trees' sizes in the header, pattern, colour, full and type, stored one after another.
inline const std::uint32_t* TreeSizes(const Movie* movie) {
    return &movie->PatternTreeSize;
}

// Allocations made for a movie after its record: the size is charged to MemoryInUse (and
// PeakMemory) even when the allocation fails, so that the statistics show what the movie
// asked for.
void* MovieAllocate(Movie* movie, std::uint32_t size);
// Takes `size` off MemoryInUse (for blocks freed while the movie stays open).
void MovieUncharge(Movie* movie, std::uint32_t size);

// Reads the next `count` bytes of the movie (through the ring when there is one) into
// `buffer`; returns the bytes delivered. A short read sets ReadFailed.
std::uint32_t ReadMovieData(Movie* movie, void* buffer, std::uint32_t count);
// Reads one 4,096-byte block into the ring if it has room; returns the bytes read.
std::uint32_t ReadAhead(Movie* movie);
// Reads the current frame into FrameBuffer; a preloaded one is already there and is pointed
// at. A frame the file holds only in part sets ReadFailed either way.
void LoadFrame(Movie* movie);
// The end of the current frame's bytes, never past the frame buffer's end: a cut frame of a
// preloaded movie may claim more than the buffer holds.
const std::uint8_t* CurrentFrameEnd(const Movie* movie);
// Wraps FrameNumber past the end, sets the chunk pointers and applies the palette chunk.
void PrepareFrame(Movie* movie);
// Moves the input to the current FrameNumber and loads that frame.
void SeekFrame(Movie* movie);
// The advance of ZambNextFrame: past the current frame, load the next, prepare it.
void AdvanceFrame(Movie* movie);

// Applies a palette chunk to `palette` (768 bytes), working from the palette before it.
// `chunkEnd` bounds the commands; the chunk's own length byte bounds them too.
void ApplyPaletteChunk(std::uint8_t* palette, const std::uint8_t* chunk,
                       const std::uint8_t* chunkEnd);

// Why an open failed.
enum class OpenFailure {
    None,
    NoMemory,
    NotAMovie,       // "Wasn't a Zambrel file"
    UnusableHeader,  // "Unusable Zambrel header"
    TooShort,        // "Zambrel file too short"
    BadTrees,        // "Bad Zambrel trees"
    TooLarge,        // "Zambrel frames too large"
};

// A movie of the system's own interface, whose opener has its file open: FileHandle shows the
// file, which is read through the installed file reader and stays the opener's to close.
struct FileMovieRequest {
    void* file;
    std::uint64_t start;   // the movie's first byte in the file
    std::uint64_t length;  // the file's length
    void* recordStorage;   // the caller's record, used with ZAMB_USER_RECORD
    std::uint32_t flags;   // ZambOpen's
    std::uint32_t extraBuffer;
    std::uint32_t startTime;  // the clock when the opener began, for OpenTime
    // What the opener adds once frame 0 is ready, given the open flags (ZambOpen opens the
    // sound tracks here); null adds nothing. The open's time includes it.
    void (*openTracks)(Movie* movie, std::uint32_t openFlags);
};

// Opens the movie the way ZambOpen does once it has the file.
// Once a preload has read every frame FileHandle is kClosedFile and the file is not read
// again. Null when the movie cannot be used; the debug output says why.
Movie* OpenFileMovie(const FileMovieRequest& request);

// A reader's movie has no read-ahead ring, so the ring size the open is given is not used.
inline constexpr std::uint32_t kReaderRingUnused = 0;

// Opens a movie from a reader (positions from the movie's first byte) into `storage`, the
// way OpenFileMovie opens a file, but with no sound track and no ring: frames
// are read one at a time unless `flags` has ZAMB_PRELOAD. `flags` may also hold the height
// flags of ZambOpen. The reader must outlive the movie, which is released with ReleaseMovie.
// Null, with the reason in *failure, when the movie cannot be used. A nonzero `wholeFrames`
// smaller than the stored frames opens a damaged movie as its first `wholeFrames` frames
// alone: as if its header counted just those, without the ring frame, and the reader
// ended after them.
Movie* OpenMovieFromReader(Movie* storage, ZambReader* reader, std::uint32_t flags,
                           OpenFailure* failure, std::uint32_t wholeFrames = 0);
// The open's first steps alone, for a checker that walks the frames before opening: the
// header and the frame tables of a reader's movie (positions from its first byte), read into
// `storage` and judged as OpenMovieFromReader reads and judges them. FirstFrameOffset is
// then where the tree data begins. Released with ReleaseMovie; on a failure, whose reason is
// returned, already released.
OpenFailure ReadMovieTables(Movie* storage, ZambReader* reader);
// Frees everything the movie holds but its input and sound tracks (the playing part's), and
// zeroes the record;
// frees the record too unless the caller supplied it.
void ReleaseMovie(Movie* movie);
