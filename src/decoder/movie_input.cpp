// SPDX-License-Identifier: MIT
// Reading the movie: the read-ahead ring, loading, preparing and seeking frames.
#include <algorithm>
#include <cstring>

#include "decoder/host.h"
#include "decoder/movie.h"
#include "decoder/source.h"
#include "decoder/track_services.h"

namespace {

std::uint32_t RoundDown(std::uint32_t value) {
    return value & ~(kBlockSize - 1);
}

std::uint32_t FileRead(Movie* movie, void* buffer, std::uint32_t count) {
    return SourceRead(movie, buffer, count);
}

std::uint8_t* NominalRingEnd(const Movie* movie) {
    return movie->RingBase + movie->RingSize;
}

void EmptyRing(Movie* movie) {
    movie->RingRead = movie->RingBase;
    movie->RingWrite = movie->RingBase;
    movie->RingEnd = NominalRingEnd(movie);
    movie->RingFill = 0;
}

// Hands out ring bytes already consumed: moves RingRead on by `count` (at most RingFill),
// wrapping at the data area's end. An emptied ring starts again at its base, so the next
// block read lands where the reader will look for it.
void ConsumeRing(Movie* movie, std::uint32_t count) {
    movie->RingFill -= count;
    movie->RingRead += count;
    if (movie->RingRead >= movie->RingEnd) {
        movie->RingRead = movie->RingBase + (movie->RingRead - movie->RingEnd);
        movie->RingEnd = NominalRingEnd(movie);
    }
    if (movie->RingFill == 0) EmptyRing(movie);
}

// Waits, polling the clock, until `bytes` would have taken to read at the simulated speed.
// Without a clock the wait could never end, and there is no speed to simulate against.
void WaitForReadSpeed(const Movie* movie, std::uint32_t start, std::uint32_t bytes) {
    if (movie->ReadSpeed == 0 || !HostHasClock()) return;
    const std::uint64_t due = std::uint64_t{bytes} * 1000 / movie->ReadSpeed;
    const HostServices& host = Host();
    while (static_cast<std::uint64_t>(host.Milliseconds() - start) < due) {
        if (host.Sleep != nullptr) host.Sleep(1);
    }
}

struct RingReadState {
    std::uint8_t* out;
    std::uint32_t wanted;
    std::uint32_t fromFile = 0;
    std::uint32_t delivered = 0;
};

void TakeFromRing(Movie* movie, RingReadState& read) {
    while (movie->RingFill > 0 && read.wanted > 0) {
        const auto inArea = static_cast<std::uint32_t>(movie->RingEnd - movie->RingRead);
        const std::uint32_t m = std::min({inArea, read.wanted, movie->RingFill});
        std::memcpy(read.out, movie->RingRead, m);
        read.out += m;
        read.wanted -= m;
        read.delivered += m;
        movie->ReadPosition += m;
        ConsumeRing(movie, m);
    }
}

// Large wants bypass the ring: whole blocks straight into the caller's buffer.
void ReadDirect(Movie* movie, RingReadState& read) {
    while (read.wanted > kBlockSize) {
        const std::uint32_t piece = std::min(kDirectPiece, RoundDown(read.wanted));
        const std::uint32_t got = FileRead(movie, read.out, piece);
        read.out += got;
        read.wanted -= got;
        read.delivered += got;
        read.fromFile += got;
        movie->ReadPosition += got;
        ServiceTracks();
        if (got < piece) {
            movie->ReadFailed = 1;
            return;
        }
    }
}

// The rest (a block or less) comes through the ring, read as one whole block. After a short
// direct piece the want may be larger, but a block is all the ring's start is built to take.
bool RefillRing(Movie* movie, RingReadState& read) {
    const std::uint32_t block = kBlockSize;
    EmptyRing(movie);
    const std::uint32_t got = FileRead(movie, movie->RingBase, block);
    read.fromFile += got;
    movie->RingWrite = movie->RingBase + got;
    movie->RingFill = got;
    if (got < std::min(read.wanted, block)) {
        movie->ReadFailed = 1;
        return false;
    }
    return true;
}

std::uint32_t ReadThroughRing(Movie* movie, RingReadState& read) {
    while (read.wanted > 0) {
        TakeFromRing(movie, read);
        ServiceTracks();
        ReadDirect(movie, read);
        if (read.wanted > 0 && !RefillRing(movie, read)) break;
    }
    return read.fromFile;
}

}  // namespace

std::uint32_t ReadMovieData(Movie* movie, void* buffer, std::uint32_t count) {
    const std::uint32_t start = HostMilliseconds();
    std::uint32_t fromFile = 0;
    std::uint32_t delivered = 0;
    if (movie->RingBase == nullptr) {
        fromFile = FileRead(movie, buffer, count);
        delivered = fromFile;
    } else {
        RingReadState read{static_cast<std::uint8_t*>(buffer), count};
        fromFile = ReadThroughRing(movie, read);
        delivered = read.delivered;
    }
    movie->BytesRead += fromFile;
    WaitForReadSpeed(movie, start, fromFile);
    movie->ReadTime += HostMilliseconds() - start;
    return delivered;
}

std::uint32_t ReadAhead(Movie* movie) {
    if (movie->FrameNumber >= movie->FrameCount) return 0;
    if (static_cast<std::int32_t>(movie->RingSize - movie->RingFill) <
        static_cast<std::int32_t>(kBlockSize))
        return 0;
    const std::uint32_t start = HostMilliseconds();
    const std::uint32_t got = FileRead(movie, movie->RingWrite, kBlockSize);
    movie->RingFill += got;
    movie->RingWrite += got;
    // A block may run past the nominal end into the ring's extra block; the data area then
    // ends there and filling goes on from the base.
    if (movie->RingWrite > movie->RingEnd) {
        movie->RingEnd = movie->RingWrite;
        movie->RingWrite = movie->RingBase;
    }
    movie->RingPeak = std::max(movie->RingPeak, movie->RingFill);
    movie->AheadBytes += got;
    WaitForReadSpeed(movie, start, got);
    movie->AheadTime += HostMilliseconds() - start;
    return got;
}

namespace {

// A preloaded movie cut short holds only the bytes the file had: a frame that runs past them
// fails to load as a streamed one would, and points at the buffer's start, from where what
// prepares it reads no further than the buffer's end.
void PointAtPreloaded(Movie* movie, std::uint32_t before) {
    const std::uint32_t size = movie->FrameSizes[movie->FrameNumber];
    if (std::uint64_t{before} + size <= movie->FrameBufferSize) {
        movie->FrameData = movie->FrameBuffer + before;
        return;
    }
    movie->ReadFailed = 1;
    movie->FrameData = movie->FrameBuffer;
}

}  // namespace

const std::uint8_t* CurrentFrameEnd(const Movie* movie) {
    const auto left =
        static_cast<std::size_t>(movie->FrameBuffer + movie->FrameBufferSize - movie->FrameData);
    return movie->FrameData + std::min<std::size_t>(left, movie->FrameSizes[movie->FrameNumber]);
}

void LoadFrame(Movie* movie) {
    if (movie->OpenFlags & ZAMB_PRELOAD) {
        PointAtPreloaded(movie, static_cast<std::uint32_t>(movie->FrameData - movie->FrameBuffer));
        return;
    }
    movie->FrameData = movie->FrameBuffer;
    movie->FrameBytes = movie->FrameSizes[movie->FrameNumber];
    const std::uint32_t got = ReadMovieData(movie, movie->FrameBuffer, movie->FrameBytes);
    // Without a ring nothing else notices a frame that came up short.
    if (movie->RingBase == nullptr && got < movie->FrameBytes) movie->ReadFailed = 1;
}

namespace {

std::uint32_t ReadWord(const std::uint8_t* p) {
    std::uint32_t word;
    std::memcpy(&word, p, sizeof word);
    return word;
}

// Moves p over a chunk of `length` bytes without leaving the frame: a chunk that claims more
// than the frame holds ends at the frame's end, and so do all chunks after it.
const std::uint8_t* SkipChunk(const std::uint8_t* p, std::uint64_t length,
                              const std::uint8_t* end) {
    return static_cast<std::uint64_t>(end - p) < length ? end : p + length;
}

void WrapFrameNumber(Movie* movie) {
    if (movie->FrameNumber < movie->FrameCount) return;
    if (movie->FileFlags & FILE_RING) {
        if (movie->FrameNumber == movie->FrameCount) {
            LoadFrame(movie);
            return;
        }
        movie->FrameNumber = 1;
    } else {
        movie->FrameNumber = 0;
    }
    SeekFrame(movie);
}

// The frame's length byte and audio lengths are read from the frame itself; the 8 spare
// bytes behind the frame buffer keep a length read at the frame's very end inside it.
void SetChunkPointers(Movie* movie, std::uint32_t type) {
    std::uint8_t* const start = movie->FrameData;
    const std::uint8_t* const end = CurrentFrameEnd(movie);
    const std::uint8_t* p = start;
    movie->PaletteChunk = start;
    if (type & FRAME_PALETTE) p = SkipChunk(p, 4 * std::uint64_t{*p}, end);
    for (int n = 0; n < ZAMB_TRACK_COUNT; ++n) {
        if (type & (FRAME_TRACK0 << n)) {
            movie->TrackChunk[n] = start + (p - start);
            p = SkipChunk(p, ReadWord(p), end);
        } else {
            movie->TrackChunk[n] = nullptr;
        }
    }
    movie->VideoChunk = start + (p - start);
    movie->VideoOffset = static_cast<std::uint32_t>(p - start);
}

}  // namespace

void PrepareFrame(Movie* movie) {
    movie->FrameDue = 0;
    WrapFrameNumber(movie);
    const std::uint32_t type = movie->FrameTypes[movie->FrameNumber];
    SetChunkPointers(movie, type);
    if ((type & FRAME_PALETTE) == 0) {
        movie->PaletteChanged = 0;
        return;
    }
    ApplyPaletteChunk(movie->Palette, movie->PaletteChunk, CurrentFrameEnd(movie));
    if (movie->FrameNumber != static_cast<std::uint32_t>(movie->PaletteFrame)) {
        movie->PaletteChanged = 1;
        movie->PaletteDirty16 = 1;
    } else {
        movie->PaletteChanged = 0;
    }
}

namespace {

std::uint32_t BytesBeforeFrame(const Movie* movie, std::uint32_t frame) {
    std::uint32_t total = 0;
    for (std::uint32_t i = 0; i < frame; ++i) total += movie->FrameSizes[i];
    return total;
}

// Reads up to the next 4,096-byte boundary of the file into the ring's start, so that every
// later read through the ring is a whole aligned block.
void AlignRing(Movie* movie, std::uint32_t position) {
    const std::uint32_t partial = position & (kBlockSize - 1);
    if (partial == 0) return;
    std::uint8_t* const ring = movie->RingBase;
    movie->RingBase = nullptr;
    const std::uint32_t got = ReadMovieData(movie, ring, kBlockSize - partial);
    movie->RingBase = ring;
    movie->RingWrite = ring + got;
    movie->RingFill = got;
}

}  // namespace

void SeekFrame(Movie* movie) {
    if (movie->FrameNumber == 0) {
        std::memset(movie->Palette, 0, sizeof movie->Palette);
        RestartTracks(movie);
    }
    const std::uint32_t before = BytesBeforeFrame(movie, movie->FrameNumber);
    if (movie->OpenFlags & ZAMB_PRELOAD) {
        PointAtPreloaded(movie, before);
        return;
    }
    const std::uint32_t position = movie->FirstFrameOffset + before;
    if (movie->RingBase == nullptr) {
        // Read frame by frame without a ring (a decoder handle's input): straight there.
        SourceSeek(movie, position);
    } else if (movie->ReadPosition <= position &&
               position - movie->ReadPosition <= movie->RingFill) {
        ConsumeRing(movie, position - movie->ReadPosition);
    } else {
        EmptyRing(movie);
        SourceSeek(movie, position);
        AlignRing(movie, position);
    }
    movie->ReadPosition = position;
    LoadFrame(movie);
}

void AdvanceFrame(Movie* movie) {
    movie->FrameData += movie->FrameSizes[movie->FrameNumber];
    movie->FrameNumber += 1;
    if (movie->FrameNumber < movie->FrameCount) LoadFrame(movie);
    PrepareFrame(movie);
}
