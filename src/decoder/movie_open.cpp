// SPDX-License-Identifier: MIT
// Opening a movie from its input: checks the header, loads the frame tables and trees,
// chooses preload or ring.
#include <algorithm>
#include <cstddef>
#include <cstring>

#include "core/allocator.h"
#include "core/debug.h"
#include "decoder/host.h"
#include "decoder/movie.h"
#include "decoder/movie_header.h"
#include "decoder/source.h"
#include "decoder/trees.h"
#include "decoder/value_tables.h"

namespace {

constexpr std::uint32_t kKeptFlagsMask = 0xFFC01FFFu;
constexpr std::uint32_t kScalingMask = ZAMB_NO_SCALE;
constexpr std::uint32_t kTreeWorkOffset = 4096;
constexpr std::uint32_t kMinTreeWork = 8192;
constexpr std::uint64_t kMaxPosition = 0xFFFFFFFFu;

bool HasFlag(std::uint32_t flags, std::uint32_t flag) {
    return (flags & flag) != 0;
}

struct OpenState {
    std::uint32_t flags;
    void* input = nullptr;  // what FileHandle holds: the system's file, or a handle's reader
    bool frameByFrame = false;
    std::uint64_t start = 0;   // the movie's first byte in the input
    std::uint64_t length = 0;  // the input's length
    Movie* movie = nullptr;
    std::uint64_t total = 0;  // bytes of all stored frames
    OpenFailure failure = OpenFailure::None;
    std::uint32_t wholeFrames = 0;    // nonzero: the open keeps these first stored frames alone
    std::uint32_t storedInInput = 0;  // then: the stored frames the input's table lists
};

bool GetRecord(void* argument, OpenState& open) {
    Movie* movie = HasFlag(open.flags, ZAMB_USER_RECORD)
                       ? static_cast<Movie*>(argument)
                       : static_cast<Movie*>(ZambAllocate(sizeof(Movie)));
    if (movie == nullptr) {
        DebugText("Couldn't allocate Zamb structure\r\n");
        open.failure = OpenFailure::NoMemory;
        return false;
    }
    std::memset(movie, 0, sizeof(Movie));
    movie->MemoryInUse = sizeof(Movie);
    movie->FileHandle = open.input;
    // Marks a reader's movie from its first read on (the full flags are kept later).
    movie->OpenFlags = open.flags & kReaderMovieMask;
    movie->FirstFrameOffset = static_cast<std::uint32_t>(open.start);
    if (HasFlag(open.flags, ZAMB_READ_SPEED)) {
        movie->ReadSpeed = static_cast<std::uint32_t>(LibrarySettings.ReadSpeedSetting);
    }
    open.movie = movie;
    return true;
}

// Frees everything allocated so far, newest first; the input and the caller's storage stay.
// A failure without a reason of its own is a memory shortage.
std::nullptr_t FailOpen(OpenState& open) {
    if (open.failure == OpenFailure::None) open.failure = OpenFailure::NoMemory;
    Movie* movie = open.movie;
    ZambFree(movie->FrameBuffer);
    ZambFree(movie->RingBase);
    ReleaseValueTables(movie->Trees);
    ZambFree(movie->Trees);
    ZambFree(movie->FrameTypes);
    std::memset(movie, 0, sizeof(Movie));
    if (!HasFlag(open.flags, ZAMB_USER_RECORD)) ZambFree(movie);
    return nullptr;
}

std::nullptr_t Refuse(OpenState& open, OpenFailure failure, const char* why) {
    DebugText(why);
    open.failure = failure;
    return FailOpen(open);
}

bool ReadExactly(Movie* movie, void* buffer, std::uint32_t count) {
    return ReadMovieData(movie, buffer, count) == count;
}

void SetFramePeriod(Movie* movie, std::uint32_t flags) {
    if (HasFlag(flags, ZAMB_FRAME_RATE)) movie->FrameRate = LibrarySettings.FrameRateSetting;
    const auto rate = static_cast<std::uint32_t>(movie->FrameRate);
    movie->FramePeriod = movie->FrameRate >= 0 ? rate * 100 : 0u - rate;
}

std::uint32_t FramesPerSecond(const Movie* movie) {
    const std::uint32_t fps = movie->FramePeriod == 0 ? 100000 : 100000 / movie->FramePeriod;
    return std::max<std::uint32_t>(fps, 1);
}

// A damaged movie opened as its whole frames alone: the header is taken to count just them,
// without the ring frame, and the input to end after them. The table's entries for the rest
// are stepped over as it is read; everything else is read where it is stored.
void KeepWholeFramesOnly(OpenState& open) {
    Movie* movie = open.movie;
    if (open.wholeFrames == 0 || open.wholeFrames >= StoredFrames(movie)) return;
    open.storedInInput = StoredFrames(movie);
    movie->FrameCount = open.wholeFrames;
    movie->FileFlags &= ~FILE_RING;
}

// Moves a ringless input to `position` from the movie's first byte; false when it cannot.
bool SkipTo(const OpenState& open, std::uint64_t position) {
    SourceSeek(open.movie, open.start + position);
    return !open.movie->ReadFailed;
}

bool ReadFrameTables(OpenState& open) {
    Movie* movie = open.movie;
    const std::uint32_t n = StoredFrames(movie);
    const std::uint64_t listed = open.storedInInput != 0 ? open.storedInInput : n;
    auto* tables = static_cast<std::uint8_t*>(MovieAllocate(movie, 5 * n + 4));
    if (tables == nullptr) {
        DebugText("Couldn't allocate track table\r\n");
        return false;
    }
    // The sizes start at the first 4-byte boundary after the types, which the 4 extra bytes
    // of the allocation leave room for.
    const std::uint32_t sizesAt = (n + 3) & ~3u;
    movie->FrameTypes = tables;
    movie->FrameSizes = reinterpret_cast<std::uint32_t*>(tables + sizesAt);
    // Frame 0 lies past the header, the tables and the tree data; the trees add theirs.
    movie->FirstFrameOffset += static_cast<std::uint32_t>(ZAMB_HEADER_BYTES + 5 * listed);
    if (listed == n)
        return ReadExactly(movie, movie->FrameSizes, 4 * n) &&
               ReadExactly(movie, movie->FrameTypes, n);
    return ReadExactly(movie, movie->FrameSizes, 4 * n) &&
           SkipTo(open, ZAMB_HEADER_BYTES + 4 * listed) &&
           ReadExactly(movie, movie->FrameTypes, n) && SkipTo(open, ZAMB_HEADER_BYTES + 5 * listed);
}

const char* RefusalText(OpenFailure failure) {
    if (failure == OpenFailure::NotAMovie) return "Wasn't a Zambrel file\r\n";
    if (failure == OpenFailure::TooShort) return "Zambrel file too short\r\n";
    return "Unusable Zambrel header\r\n";
}

// The header and the frame tables, read and judged as every open reads and judges them;
// false, with the record released, when the movie is refused.
bool ReadHeaderAndTables(OpenState& open) {
    Movie* movie = open.movie;
    HeaderRefusal refusal = CheckHeaderStart(movie, ReadHeader(movie));
    if (refusal == HeaderRefusal::None) {
        KeepWholeFramesOnly(open);
        refusal = CheckHeaderFields(movie, {open.start, open.length, open.storedInInput});
    }
    if (refusal != HeaderRefusal::None) {
        Refuse(open, FailureOf(refusal), RefusalText(FailureOf(refusal)));
        return false;
    }
    if (ReadFrameTables(open)) return true;
    // Tables that could not be allocated are a memory shortage, not a short file.
    if (movie->FrameTypes == nullptr)
        FailOpen(open);
    else
        Refuse(open, OpenFailure::TooShort, RefusalText(OpenFailure::TooShort));
    return false;
}

const char* BuildFailure(TreeBuild result, OpenFailure& failure) {
    if (result == TreeBuild::ShortData) {
        failure = OpenFailure::TooShort;
        return "Zambrel file too short\r\n";
    }
    failure = OpenFailure::BadTrees;
    return "Bad Zambrel trees\r\n";
}

// Null on success, else the debug text to refuse with ("" when the failure has none); the
// reason goes to open.failure.
const char* ReadTrees(OpenState& open) {
    Movie* movie = open.movie;
    std::uint32_t nodeBytes = 0;
    for (int tree = 0; tree < kTreeCount; ++tree) nodeBytes += TreeSizes(movie)[tree];
    movie->Trees = static_cast<TreeBlock*>(MovieAllocate(movie, kTreeNodesOffset + nodeBytes));
    if (movie->Trees == nullptr) return "";
    movie->Trees->Tables = nullptr;  // a failure before the build frees no tables
    const std::uint64_t wanted = (std::uint64_t{movie->TreeDataSize} + kTreeWorkOffset + 3) & ~3ull;
    const auto workSize = static_cast<std::uint32_t>(
        std::min<std::uint64_t>(std::max<std::uint64_t>(wanted, kMinTreeWork), kMaxPosition));
    auto* work = static_cast<std::uint8_t*>(MovieAllocate(movie, workSize));
    if (work == nullptr) return "Couldn't allocate input buffer\r\n";
    const char* failure = nullptr;
    if (!ReadExactly(movie, work + kTreeWorkOffset, movie->TreeDataSize)) {
        failure = "Zambrel file too short\r\n";
        open.failure = OpenFailure::TooShort;
    } else if (TreeBuild result =
                   BuildTrees(work, movie->TreeDataSize, movie->Trees, TreeSizes(movie));
               result != TreeBuild::Built) {
        failure = BuildFailure(result, open.failure);
    }
    ZambFree(work);
    MovieUncharge(movie, workSize);
    movie->FirstFrameOffset += movie->TreeDataSize;
    return failure;
}

// Largest frame, average, and the busiest second's worth of consecutive frames. The first
// window (which the open's own reading covers) and the one ending at the last stored frame
// are left out, as the ring only has to carry the seconds in between.
void MeasureFrames(OpenState& open) {
    Movie* movie = open.movie;
    const std::uint32_t n = StoredFrames(movie);
    const std::uint32_t* s = movie->FrameSizes;
    std::uint64_t total = 0;
    for (std::uint32_t i = 0; i < n; ++i) {
        movie->LargestFrame = std::max(movie->LargestFrame, s[i]);
        total += s[i];
    }
    open.total = total;
    movie->AverageFrame = static_cast<std::uint32_t>(total / n);
    const std::uint32_t fps = FramesPerSecond(movie);
    movie->PeakSecondFrame = 1;
    if (n - 1 < fps) {
        movie->PeakSecondBytes = static_cast<std::uint32_t>(total);
        return;
    }
    std::uint64_t window = 0;
    for (std::uint32_t i = 0; i < fps; ++i) window += s[i];
    std::uint64_t peak = 0;
    for (std::uint32_t first = 1; first + fps + 1 <= n; ++first) {
        window = window - s[first - 1] + s[first + fps - 1];
        if (window > peak) {
            peak = window;
            movie->PeakSecondFrame = first + 1;
        }
    }
    movie->PeakSecondBytes = static_cast<std::uint32_t>(peak);
}

bool FramesFit(const OpenState& open) {
    return std::uint64_t{open.movie->FirstFrameOffset} + open.total <= kMaxPosition;
}

std::uint64_t RingSizeFor(const Movie* movie, std::uint32_t extraBuffer, std::uint64_t total) {
    std::uint64_t ring = extraBuffer;
    if (extraBuffer == 0xFFFFFFFFu) {
        std::uint64_t c = movie->FramePeriod != 0 ? movie->PeakSecondBytes : kMinAutoRing;
        c = std::min(c, total / 4);
        ring = std::max<std::uint64_t>(c, kMinAutoRing);
    }
    ring = (ring + kBlockSize - 1) & ~std::uint64_t{kBlockSize - 1};
    return std::max<std::uint64_t>(ring, kMinRing);
}

bool AllocateRing(Movie* movie) {
    movie->RingBase =
        static_cast<std::uint8_t*>(MovieAllocate(movie, movie->RingSize + kBlockSize));
    if (movie->RingBase == nullptr) return false;
    movie->RingRead = movie->RingWrite = movie->RingBase;
    movie->RingEnd = movie->RingBase + movie->RingSize;
    return true;
}

// Preload when asked, or when the ring would hold four fifths of the movie anyway. The
// comparison is made in 64 bits: in 32 it wraps for movies over 1 GB and would preload them.
// Buffers are sized from the frame table before any frame is read; sized by what the file
// can actually deliver, a few hostile bytes cannot make the open allocate gigabytes.
bool ChooseReading(OpenState& open, std::uint32_t extraBuffer) {
    Movie* movie = open.movie;
    const std::uint64_t remaining = open.length - movie->FirstFrameOffset;
    // A frame larger than all the file holds is no cut: the table itself is damaged.
    if (movie->LargestFrame > remaining) {
        DebugText("Zambrel file too short\r\n");
        open.failure = OpenFailure::TooShort;
        return false;
    }
    if (!open.frameByFrame && !HasFlag(open.flags, ZAMB_PRELOAD)) {
        const std::uint64_t ring =
            RingSizeFor(movie, extraBuffer, std::min<std::uint64_t>(open.total, remaining));
        if (open.total * 4 / 5 <= ring)
            open.flags |= ZAMB_PRELOAD;
        else
            movie->RingSize = static_cast<std::uint32_t>(ring);
    }
    if (HasFlag(open.flags, ZAMB_PRELOAD)) {
        // A movie cut short preloads what the file holds: its whole frames play, and the first
        // cut one fails to load as it does when streamed.
        movie->FrameBufferSize = static_cast<std::uint32_t>(std::min(open.total, remaining));
    } else {
        movie->FrameBufferSize = movie->LargestFrame;
        if (movie->RingSize != 0 && !AllocateRing(movie)) return false;
    }
    movie->FrameBuffer =
        static_cast<std::uint8_t*>(MovieAllocate(movie, movie->FrameBufferSize + kFrameSpareBytes));
    if (movie->FrameBuffer == nullptr) {
        DebugText("Couldn't allocate I/O buffer\r\n");
        return false;
    }
    // The spare bytes read as zeros, so a bit reader or chunk length that looks past the
    // frame's end sees nothing left over from another frame.
    std::memset(movie->FrameBuffer + movie->FrameBufferSize, 0, kFrameSpareBytes);
    return true;
}

bool Preload(OpenState& open) {
    Movie* movie = open.movie;
    movie->OpenFlags = open.flags;  // LoadFrame and SeekFrame follow the choice from here on
    if (!ReadExactly(movie, movie->FrameBuffer, movie->FrameBufferSize)) return false;
    // The system's file is not read again, and its opener closes it unless it is the caller's;
    // a reader stays the movie's input, as its movie is known by it.
    if (!ReadsThroughReader(movie)) movie->FileHandle = kClosedFile;
    movie->FrameData = movie->FrameBuffer;
    movie->FrameBytes = movie->FrameSizes[0];
    LoadFrame(movie);
    return true;
}

// The first ring read ends at a 4,096-byte boundary of the file, so all later ones are whole
// aligned blocks. This read is the open's own and stays out of the read statistics.
void StartStreaming(OpenState& open) {
    Movie* movie = open.movie;
    movie->OpenFlags = open.flags;
    const std::uint32_t partial = movie->FirstFrameOffset & (kBlockSize - 1);
    if (partial != 0 && movie->RingBase != nullptr) {
        const std::uint32_t got = SourceRead(movie, movie->RingBase, kBlockSize - partial);
        movie->RingWrite = movie->RingBase + got;
        movie->RingFill = got;
    }
    LoadFrame(movie);
}

// Who asked for the open: when it began, and what it adds before the open ends.
struct Opener {
    std::uint32_t startTime;
    void (*openTracks)(Movie* movie, std::uint32_t openFlags);
};

void ApplyHeightScaling(Movie* movie, std::uint32_t flags) {
    const std::uint32_t scaling = flags & kScalingMask;
    constexpr std::uint32_t shown = FILE_INTERLACED | FILE_DOUBLED;
    if (scaling == ZAMB_INTERLACE) movie->FileFlags = (movie->FileFlags & ~shown) | FILE_INTERLACED;
    if (scaling == ZAMB_DOUBLE) movie->FileFlags = (movie->FileFlags & ~shown) | FILE_DOUBLED;
    if (scaling == ZAMB_NO_SCALE) movie->FileFlags &= ~shown;
    const std::uint32_t how = movie->FileFlags & shown;
    if (how == FILE_INTERLACED) movie->OpenFlags |= ZAMB_INTERLACE;
    if (how == FILE_DOUBLED) movie->OpenFlags |= ZAMB_DOUBLE;
    if (how == FILE_INTERLACED || how == FILE_DOUBLED) movie->Height *= 2;
}

void FinishOpen(Movie* movie, std::uint32_t flags, const Opener& opener) {
    movie->PaletteFrame = -1;
    PrepareFrame(movie);
    movie->PrimaryTrack = -1;
    movie->OpenFlags = flags & kKeptFlagsMask;
    if (opener.openTracks != nullptr) opener.openTracks(movie, flags);
    movie->NextFrameTime = 0xFFFFFFFFu;
    if (HasFlag(flags, ZAMB_FILL_BUFFER)) {
        while (ReadAhead(movie) != 0) {
        }
    }
    ApplyHeightScaling(movie, flags);
    movie->OpenTime = HostMilliseconds() - opener.startTime;
    movie->ReadTime += movie->AheadTime;
    movie->BytesRead += movie->AheadBytes;
    movie->AheadTime = 0;
    movie->AheadBytes = 0;
    movie->OpenReadTime = movie->ReadTime;
    DebugText("ZambOpen returned: ");
    DebugNumber(static_cast<std::int64_t>(reinterpret_cast<std::intptr_t>(movie)));
    DebugText("\r\n");
}

// Everything after the input is there: header, tables, trees, the way of reading, frame 0.
Movie* OpenFromInput(OpenState& open, void* recordStorage, std::uint32_t extraBuffer,
                     const Opener& opener) {
    const std::uint32_t flags = open.flags;
    if (!GetRecord(recordStorage, open) || !ReadHeaderAndTables(open)) return nullptr;
    Movie* movie = open.movie;
    SetFramePeriod(movie, flags);
    if (const char* failure = ReadTrees(open)) {
        DebugText(failure);
        return FailOpen(open);
    }
    MeasureFrames(open);
    // The whole frames are where the input ends for this open.
    if (open.storedInInput != 0)
        open.length = std::min(open.length, movie->FirstFrameOffset + open.total);
    if (!FramesFit(open))
        return Refuse(open, OpenFailure::TooLarge, "Zambrel frames too large\r\n");
    if (!ChooseReading(open, extraBuffer)) return FailOpen(open);
    movie->ReadPosition = movie->FirstFrameOffset;
    if (HasFlag(open.flags, ZAMB_PRELOAD)) {
        if (!Preload(open))
            return Refuse(open, OpenFailure::TooShort, "Zambrel file too short\r\n");
    } else {
        StartStreaming(open);
    }
    FinishOpen(movie, open.flags, opener);
    return movie;
}

}  // namespace

Movie* OpenFileMovie(const FileMovieRequest& request) {
    OpenState open{request.flags};
    open.input = request.file;
    open.start = request.start;
    open.length = request.length;
    return OpenFromInput(open, request.recordStorage, request.extraBuffer,
                         {request.startTime, request.openTracks});
}

Movie* OpenMovieFromReader(Movie* storage, ZambReader* reader, std::uint32_t flags,
                           OpenFailure* failure, std::uint32_t wholeFrames) {
    const std::uint32_t startTime = HostMilliseconds();
    // Only the height flags and the preload choice pass; the record is the caller's.
    constexpr std::uint32_t kPassed = ZAMB_PRELOAD | ZAMB_NO_SCALE;
    OpenState open{(flags & kPassed) | kReaderMovieFlags};
    open.input = reader;
    open.length = reader->Size;
    open.wholeFrames = wholeFrames;
    // Frames are read one at a time into a frame-sized buffer, with no read-ahead ring: a
    // reader (often memory) has no latency for a ring to hide.
    open.frameByFrame = (flags & ZAMB_PRELOAD) == 0;
    Movie* movie = OpenFromInput(open, storage, kReaderRingUnused, {startTime, nullptr});
    *failure = movie != nullptr ? OpenFailure::None : open.failure;
    return movie;
}

OpenFailure ReadMovieTables(Movie* storage, ZambReader* reader) {
    OpenState open{kReaderMovieFlags};
    open.input = reader;
    open.length = reader->Size;
    if (!GetRecord(storage, open) || !ReadHeaderAndTables(open)) return open.failure;
    return OpenFailure::None;
}
