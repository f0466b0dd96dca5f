// SPDX-License-Identifier: MIT
// The embedding interface: opening a decoder handle, its facts, its frames and seeking.
#include "handles/handle.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>

#include "core/allocator.h"
#include "decoder/movie.h"
#include "decoder/source.h"
#include "decoder/trees.h"
#include "decoder/video.h"
#include "platform/large_file.h"

namespace {

// --- Inputs -----------------------------------------------------------------------------

std::size_t ReadMemory(void* opaque, void* buffer, std::size_t size) {
    auto* in = static_cast<MemoryInput*>(opaque);
    const std::size_t left = in->position < in->size ? in->size - in->position : 0;
    const std::size_t count = size < left ? size : left;
    if (count != 0) std::memcpy(buffer, in->data + in->position, count);
    in->position += count;
    return count;
}

int SeekMemory(void* opaque, std::uint64_t position) {
    auto* in = static_cast<MemoryInput*>(opaque);
    if (position > in->size) return -1;
    in->position = static_cast<std::size_t>(position);
    return 0;
}

std::size_t ReadFileInput(void* opaque, void* buffer, std::size_t size) {
    return std::fread(buffer, 1, size, static_cast<std::FILE*>(opaque));
}

int SeekFileInput(void* opaque, std::uint64_t position) {
    return SeekLargeFile(static_cast<std::FILE*>(opaque), position, SEEK_SET);
}

// The file's length, or false when it cannot be told.
bool FileSize(std::FILE* file, std::uint64_t* size) {
    if (SeekLargeFile(file, 0, SEEK_END) != 0) return false;
    const std::int64_t end = TellLargeFile(file);
    if (end < 0) return false;
    *size = static_cast<std::uint64_t>(end);
    return SeekLargeFile(file, 0, SEEK_SET) == 0;
}

// --- Handles ----------------------------------------------------------------------------

constexpr std::uint32_t kHeightFlags =
    ZAMBOPEN_STORED_HEIGHT | ZAMBOPEN_INTERLACED | ZAMBOPEN_DOUBLED;
constexpr std::uint32_t kDisplayFlags = ZAMBOPEN_DISPLAY555 | ZAMBOPEN_DISPLAY565;
constexpr std::uint32_t kKnownOpenFlags = ZAMBOPEN_PRELOAD | ZAMBOPEN_LOOP | ZAMBOPEN_NO_SOUND |
                                          ZAMBOPEN_KEEP_SOUND | kHeightFlags | kDisplayFlags;

}  // namespace

// One way of showing the height at most: the three contradict one another.
bool FlagsAreUsable(std::uint32_t flags) {
    const std::uint32_t height = flags & kHeightFlags;
    return (flags & ~kKnownOpenFlags) == 0 && (height & (height - 1)) == 0 &&
           (flags & kDisplayFlags) != kDisplayFlags;
}

ZambError ErrorFor(OpenFailure failure) {
    switch (failure) {
        case OpenFailure::None:
            return ZAMBERR_NONE;
        case OpenFailure::NoMemory:
            return ZAMBERR_NO_MEMORY;
        case OpenFailure::NotAMovie:
            return ZAMBERR_NOT_A_MOVIE;
        case OpenFailure::UnusableHeader:
            return ZAMBERR_UNUSABLE_HEADER;
        case OpenFailure::TooShort:
            return ZAMBERR_TOO_SHORT;
        case OpenFailure::BadTrees:
            return ZAMBERR_BAD_TREES;
        case OpenFailure::TooLarge:
            return ZAMBERR_TOO_LARGE;
    }
    return ZAMBERR_NOT_A_MOVIE;
}

namespace {

// The picture the movie decodes into, made at the first decode rather than at the open (as
// are the sound buffers), so that what an open takes stays bounded by the input's size and
// the caller can look at the movie's size first.
bool PreparePicture(ZambDecoder* decoder) {
    Movie* movie = &decoder->movie;
    if (movie->Dest != nullptr) return true;
    const std::uint32_t pixelBytes = DisplayFormat(decoder) == ZAMBPIX_INDEX8 ? 1 : 2;
    const std::size_t pictureBytes = std::size_t{movie->Width} * movie->Height * pixelBytes;
    if (!decoder->picture.Reserve(pictureBytes)) return false;
    std::memset(decoder->picture.data, 0, pictureBytes);
    // The destination flags' top bits choose a 16-bit layout.
    std::uint32_t layout = 0;
    if (decoder->flags & ZAMBOPEN_DISPLAY555) layout = std::uint32_t{kFormat555} << 24;
    if (decoder->flags & ZAMBOPEN_DISPLAY565) layout = std::uint32_t{kFormat565} << 24;
    ZambSetDestination(movie, 0, 0, static_cast<std::int32_t>(movie->Width * pixelBytes),
                       static_cast<std::int32_t>(movie->Height), decoder->picture.data, layout);
    return movie->Dest != nullptr;
}

std::uint32_t MovieFlagsFor(std::uint32_t flags) {
    std::uint32_t movieFlags = 0;
    if (flags & ZAMBOPEN_PRELOAD) movieFlags |= ZAMB_PRELOAD;
    if (flags & ZAMBOPEN_STORED_HEIGHT) movieFlags |= ZAMB_NO_SCALE;
    if (flags & ZAMBOPEN_INTERLACED) movieFlags |= ZAMB_INTERLACE;
    if (flags & ZAMBOPEN_DOUBLED) movieFlags |= ZAMB_DOUBLE;
    return movieFlags;
}

}  // namespace

ZambDecoder* NewHandle(std::uint32_t flags) {
    void* memory = ZambAllocate(sizeof(ZambDecoder));
    if (memory == nullptr) return nullptr;
    auto* decoder = new (memory) ZambDecoder;
    decoder->flags = flags;
    decoder->index.budget = ZAMB_INDEX_DEFAULT_BUDGET;
    return decoder;
}

void FreeHandle(ZambDecoder* decoder) {
    decoder->picture.Release();
    decoder->audioScratch.Release();
    decoder->rects.Release();
    ReleaseChecks(decoder);
    ReleaseTrackSound(decoder);
    ReleaseIndex(decoder);
    if (decoder->file != nullptr) std::fclose(decoder->file);
    decoder->~ZambDecoder();
    ZambFree(decoder);
}

ZambError OpenMovieOfReader(ZambDecoder* decoder, std::uint32_t wholeFrames) {
    if (decoder->reader.Seek(decoder->reader.Opaque, 0) != 0) return ZAMBERR_READ_FAILED;
    OpenFailure failure = OpenFailure::None;
    if (OpenMovieFromReader(&decoder->movie, &decoder->reader, MovieFlagsFor(decoder->flags),
                            &failure, wholeFrames) == nullptr)
        return ErrorFor(failure);
    return ZAMBERR_NONE;
}

// Opens the handle's movie from its reader, which the caller has set up.
ZambError OpenFromReader(ZambDecoder* decoder) {
    const ZambError result = OpenMovieOfReader(decoder);
    if (result != ZAMBERR_NONE) return result;
    NoteAbsentTrees(decoder);
    ChooseTracks(decoder);
    return ZAMBERR_NONE;
}

void NoteAbsentTrees(ZambDecoder* decoder) {
    if (decoder->movie.Trees != nullptr)
        decoder->checks.absentTrees |= AbsentTrees(decoder->movie.Trees);
}

ZambError FinishOpen(ZambDecoder* decoder, ZambError result, ZambDecoder** out) {
    if (result != ZAMBERR_NONE) {
        FreeHandle(decoder);
        decoder = nullptr;
    }
    *out = decoder;
    return result;
}

ZambError OpenOverReader(const ZambReader* reader, std::uint32_t flags, ZambDecoder** decoder,
                         ZambError (*open)(ZambDecoder*)) {
    if (decoder != nullptr) *decoder = nullptr;
    if (decoder == nullptr || reader == nullptr || reader->Read == nullptr ||
        reader->Seek == nullptr || !FlagsAreUsable(flags))
        return ZAMBERR_INVALID_ARGUMENT;
    ZambDecoder* handle = NewHandle(flags);
    if (handle == nullptr) return ZAMBERR_NO_MEMORY;
    handle->reader = *reader;
    return FinishOpen(handle, open(handle), decoder);
}

namespace {

// --- Frames -----------------------------------------------------------------------------

bool AtLastFrame(const Movie* movie) {
    return movie->FrameNumber + 1 == movie->FrameCount;
}

// The frame's first byte from the movie's first byte, and its last byte plus one.
void FrameBytes(const Movie& movie, std::uint32_t frame, std::uint64_t* start, std::uint64_t* end) {
    std::uint64_t before = movie.FirstFrameOffset;
    for (std::uint32_t i = 0; i < frame && i < StoredFrames(&movie); ++i)
        before += movie.FrameSizes[i];
    *start = before;
    *end = before + (frame < StoredFrames(&movie) ? movie.FrameSizes[frame] : 0);
}

ZambError ReportReadFailure(ZambDecoder* decoder, std::uint32_t frame) {
    const Movie& movie = decoder->movie;
    std::uint64_t start = 0, end = 0;
    FrameBytes(movie, frame, &start, &end);
    const char* which = frame >= movie.FrameCount ? "the ring frame" : "frame";
    const unsigned number = frame >= movie.FrameCount ? 0u : frame;
    const auto size = static_cast<unsigned long long>(decoder->reader.Size);
    if (end > decoder->reader.Size)
        return Fail(decoder, ZAMBERR_READ_FAILED, frame,
                    "%s %u of %u (bytes %llu to %llu) lies past the end of the input (%llu bytes)",
                    which, number, movie.FrameCount, static_cast<unsigned long long>(start),
                    static_cast<unsigned long long>(end), size);
    return Fail(decoder, ZAMBERR_READ_FAILED, frame,
                "%s %u of %u (bytes %llu to %llu) could not be read", which, number,
                movie.FrameCount, static_cast<unsigned long long>(start),
                static_cast<unsigned long long>(end));
}

// Decodes the current frame of the movie: picture, sound when asked, and its changed
// rectangles unless a seek is only passing through it (each decode rewrites the change map
// whole, so the scan of a frame no one sees is work for nothing).
ZambError DecodeCurrent(ZambDecoder* decoder, bool withSound, bool fromPrevious, bool withRects) {
    Movie* movie = &decoder->movie;
    if (!PreparePicture(decoder) || !ReserveTrackSound(decoder))
        return Fail(decoder, ZAMBERR_NO_MEMORY, movie->FrameNumber,
                    "not enough memory for the pictures and sound of a %ux%u movie", movie->Width,
                    movie->Height);
    // As ZambDoFrame does: a palette is new only the first time its frame is decoded.
    if (movie->PaletteChanged) movie->PaletteFrame = static_cast<std::int32_t>(movie->FrameNumber);
    if (decoder->checks.checkedPicture != nullptr)
        decoder->checks.checkedPicture(decoder);
    else
        DecodeCurrentPicture(movie);
    AdvanceSoundPositions(decoder, fromPrevious);
    if (withSound) DecodeFrameSound(decoder, !(decoder->flags & ZAMBOPEN_NO_SOUND));
    decoder->frameCurrent = true;
    TakeSnapshot(decoder);
    if (withRects && !CollectChangedRects(decoder))
        return Fail(decoder, ZAMBERR_NO_MEMORY, movie->FrameNumber,
                    "not enough memory for the changed rectangles");
    return ZAMBERR_NONE;
}

// Makes the next frame current (frame 0 when none is). A frame that cannot be read leaves
// the current one current as it was, picture, palette and sound, and every later step fails
// the same way until a seek starts over.
ZambError Step(ZambDecoder* decoder, bool withSound, bool withRects = true) {
    Movie* movie = &decoder->movie;
    if (decoder->damaged) return ZAMBERR_READ_FAILED;
    const bool fromPrevious = decoder->frameCurrent;
    std::uint8_t palette[ZAMB_PALETTE_BYTES];
    const std::uint32_t paletteChanged = movie->PaletteChanged;
    const std::uint32_t shown = VisibleFrameNumber(decoder);
    if (fromPrevious) {
        std::memcpy(palette, movie->Palette, sizeof palette);
        if (AtLastFrame(movie)) decoder->firstPass = false;  // round to the first frame
        AdvanceFrame(movie);
    }
    if (!movie->ReadFailed) return DecodeCurrent(decoder, withSound, fromPrevious, withRects);
    decoder->damaged = true;
    decoder->shownFrame = shown;
    if (fromPrevious) {
        std::memcpy(movie->Palette, palette, sizeof palette);
        movie->PaletteChanged = paletteChanged;
    }
    return ReportReadFailure(decoder, movie->FrameNumber);
}

// Notes the palette of the frame just made current, and whether it differs from the one
// handed out before. A chunk counts even when it repeats the colours, as the decoder's own
// flag says.
void NotePaletteShown(ZambDecoder* decoder) {
    const std::uint8_t* palette = decoder->movie.Palette;
    decoder->paletteChanged = decoder->movie.PaletteChanged != 0 ||
                              std::memcmp(decoder->shownPalette, palette, ZAMB_PALETTE_BYTES) != 0;
    std::memcpy(decoder->shownPalette, palette, ZAMB_PALETTE_BYTES);
}

// Back to frame 0 as after the open: the picture cleared, the palette black.
// Reads stored frame `frame` afresh and prepares it (its chunks found, its palette chunk
// applied to the palette in force); false when it could not be read.
bool LoadFrameAt(Movie* movie, std::uint32_t frame) {
    movie->ReadFailed = 0;
    movie->FrameNumber = frame;
    SeekFrame(movie);
    PrepareFrame(movie);
    return !movie->ReadFailed;
}

void Restart(ZambDecoder* decoder) {
    Movie* movie = &decoder->movie;
    movie->PaletteFrame = -1;
    LoadFrameAt(movie, 0);  // a failure shows at the first step, which finds ReadFailed
    if (decoder->picture.data != nullptr)
        std::memset(decoder->picture.data, 0, decoder->picture.size);
    decoder->frameCurrent = false;
    decoder->damaged = false;
    decoder->firstPass = true;
}

// The exact duration of a frame in seconds, as num / den: the header's milliseconds, or its
// hundredths of a millisecond, without the wrap of a 32-bit period.
void FrameDuration(const Movie& movie, std::uint32_t* num, std::uint32_t* den) {
    const auto rate = static_cast<std::uint32_t>(movie.FrameRate);
    if (movie.FrameRate == 0) {
        *num = 0, *den = 1;
    } else if (movie.FrameRate < 0) {
        *num = 0u - rate, *den = 100000;
    } else if (rate <= 0xFFFFFFFFu / 100) {
        *num = rate * 100, *den = 100000;  // as the period in 1/100 ms has always said it
    } else {
        *num = rate, *den = 1000;
    }
}

// The sample frame of each decoded track due when `frame` starts: frame x duration x rate,
// rounded down. False for a movie meant to play as fast as it decodes, which has no time.
bool SoundDueAt(const ZambDecoder* decoder, std::uint32_t frame, std::uint64_t* due) {
    std::uint32_t num = 0, den = 1;
    FrameDuration(decoder->movie, &num, &den);
    if (num == 0) return false;
    const std::uint64_t scaled = std::uint64_t{frame} * num;  // below 2^64
    for (int n = 0; n < ZAMB_MAX_TRACKS; ++n) {
        const std::uint64_t rate = decoder->movie.TrackFormat[n] & ZAMB_TRACK_RATE_MASK;
        const std::uint64_t whole = scaled / den;
        due[n] = rate != 0 && whole > UINT64_MAX / rate - 1
                     ? UINT64_MAX
                     : whole * rate + scaled % den * rate / den;
    }
    return true;
}

// Whether a frame's chunks begin at or before every track's sound due at the target: from
// there on, decoding reaches all of it. `current` asks of the current frame, whose position
// is known on any pass; otherwise of a first-pass frame, through the table.
bool HoldsDueSound(const ZambDecoder* decoder, std::uint32_t frame, const std::uint64_t* due,
                   bool current) {
    for (int n = 0; n < ZAMB_MAX_TRACKS; ++n) {
        const TrackSound& track = decoder->tracks[n];
        if (!track.decoded) continue;
        const std::uint64_t position =
            current ? track.chunkPosition : ChunkPositionOf(decoder, n, frame);
        if (position > due[n]) return false;
    }
    return true;
}

// The current frame can be decoded on from when the target lies at or after it and its
// sound reaches the sound due, directly or through the first pass's earlier chunks.
bool CanGoOnFromCurrent(const ZambDecoder* decoder, std::uint32_t frame, bool timed,
                        const std::uint64_t* due) {
    const Movie& movie = decoder->movie;
    if (!decoder->frameCurrent || decoder->damaged || frame < VisibleFrameNumber(decoder) ||
        movie.FrameNumber >= movie.FrameCount)
        return false;
    const bool lookBack = decoder->firstPass && movie.FrameNumber < decoder->positionsKnown;
    return !timed || lookBack || HoldsDueSound(decoder, 0, due, true);
}

// The earliest frame before `start` (a first-pass frame) whose chunks still reach the
// sound due; `start` itself when its own chunks do.
std::uint32_t FirstFrameReaching(const ZambDecoder* decoder, std::uint32_t start,
                                 const std::uint64_t* due) {
    std::uint32_t frame = start;
    while (frame > 0 && !HoldsDueSound(decoder, frame, due, false)) --frame;
    return frame;
}

// Queues the sound of frames first to last - 1 that reaches the sound due, reading their
// chunks alone: a chunk decodes on its own, so their pictures are not needed. False when a
// frame could not be read again.
bool QueueSoundOfFrames(ZambDecoder* decoder, std::uint32_t first, std::uint32_t last) {
    for (std::uint32_t frame = first; frame < last; ++frame) {
        if (!LoadFrameAt(&decoder->movie, frame)) return false;
        PlaceSoundAt(decoder, frame);
        QueueReachingSound(decoder);
    }
    return true;
}

// Puts a first-pass frame back as the current one, loaded as if just decoded, with its
// picture (already in place, or from a snapshot) and the palette after it.
bool PutBack(ZambDecoder* decoder, std::uint32_t frame, const std::uint8_t* palette,
             const Snapshot* snapshot) {
    Movie* movie = &decoder->movie;
    if (!LoadFrameAt(movie, frame)) return false;
    if (snapshot != nullptr) {
        if (!RestoreSnapshot(decoder, snapshot)) return false;
    } else
        std::memcpy(movie->Palette, palette, ZAMB_PALETTE_BYTES);
    movie->PaletteDirty16 = 1;
    PlaceSoundAt(decoder, frame);
    decoder->frameCurrent = true;
    decoder->damaged = false;
    decoder->firstPass = true;
    return true;
}

// Starts a seek's decoding at the latest point before the target: the current frame, a
// snapshot or frame 0. The sound due at the target may lie in chunks before that point;
// they are queued first, by themselves. After this the start is current (or, from frame 0,
// nothing is) and its own chunk's share of the sound is queued.
void StartSeek(ZambDecoder* decoder, std::uint32_t frame, bool timed, const std::uint64_t* due) {
    const std::uint32_t snapshotFrame = SnapshotBefore(decoder, frame);
    const bool fromCurrent = CanGoOnFromCurrent(decoder, frame, timed, due) &&
                             VisibleFrameNumber(decoder) >= snapshotFrame;
    const std::uint32_t start = fromCurrent ? VisibleFrameNumber(decoder) : snapshotFrame;
    if (start == 0 && !fromCurrent) {
        Restart(decoder);
        return;
    }
    const bool lookBack = timed && !HoldsDueSound(decoder, start, due, fromCurrent);
    std::uint8_t palette[ZAMB_PALETTE_BYTES];
    std::memcpy(palette, decoder->movie.Palette, sizeof palette);
    bool placed = true;
    if (lookBack)
        placed = QueueSoundOfFrames(decoder, FirstFrameReaching(decoder, start, due), start);
    if (placed && (lookBack || !fromCurrent))
        placed =
            PutBack(decoder, start, palette, fromCurrent ? nullptr : SnapshotAt(decoder, start));
    if (!placed) {  // a frame read before could not be read again: from the start, then
        EmptySoundQueues(decoder, due);
        Restart(decoder);
        return;
    }
    if (start != frame) QueueReachingSound(decoder);
}

}  // namespace

std::uint32_t DisplayFormat(const ZambDecoder* decoder) {
    if (decoder->flags & ZAMBOPEN_DISPLAY555) return ZAMBPIX_RGB555;
    if (decoder->flags & ZAMBOPEN_DISPLAY565) return ZAMBPIX_RGB565;
    return ZAMBPIX_INDEX8;
}

std::uint32_t VisibleFrameNumber(const ZambDecoder* decoder) {
    if (decoder->damaged) return decoder->shownFrame;
    const Movie& movie = decoder->movie;
    return movie.FrameNumber >= movie.FrameCount ? 0 : movie.FrameNumber;
}

ZambError Fail(ZambDecoder* decoder, ZambError code, std::uint32_t frame, const char* format, ...) {
    ZambErrorInfo& error = decoder->lastError;
    error = ZambErrorInfo{};
    error.Code = code;
    error.Frame = frame;
    std::uint64_t end = 0;
    FrameBytes(decoder->movie, frame, &error.Offset, &end);
    std::va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(error.Reason, sizeof error.Reason, format, arguments);
    va_end(arguments);
    return code;
}

extern "C" {

const char* ZambErrorString(ZambError error) {
    switch (error) {
        case ZAMBERR_NONE:
            return "Success";
        case ZAMBERR_END:
            return "The movie has no more frames";
        case ZAMBERR_INVALID_ARGUMENT:
            return "An argument is missing or out of range";
        case ZAMBERR_NO_MEMORY:
            return "Not enough memory";
        case ZAMBERR_OPEN_FAILED:
            return "The file could not be opened";
        case ZAMBERR_READ_FAILED:
            return "The input could not be read";
        case ZAMBERR_NOT_A_MOVIE:
            return "Not a Zambrel movie";
        case ZAMBERR_UNUSABLE_HEADER:
            return "The movie's header describes a movie that cannot be decoded";
        case ZAMBERR_TOO_SHORT:
            return "The movie is cut short";
        case ZAMBERR_BAD_TREES:
            return "The movie's code trees are damaged";
        case ZAMBERR_TOO_LARGE:
            return "The movie's frames are too large";
        case ZAMBERR_BUFFER_TOO_SMALL:
            return "The buffer is too small";
        case ZAMBERR_NO_TRACK:
            return "No such sound track";
        case ZAMBERR_NO_FRAME:
            return "No such frame";
        default:
            return "Unknown error";
    }
}

std::uint32_t ZambVersion(void) {
    return ZAMBREL_VERSION;
}

const char* ZambVersionString(void) {
#define ZAMB_TEXT(x) #x
#define ZAMB_VERSION_TEXT(a, b, c) ZAMB_TEXT(a) "." ZAMB_TEXT(b) "." ZAMB_TEXT(c)
    return ZAMB_VERSION_TEXT(ZAMBREL_VERSION_MAJOR, ZAMBREL_VERSION_MINOR, ZAMBREL_VERSION_PATCH);
#undef ZAMB_VERSION_TEXT
#undef ZAMB_TEXT
}

ZambError ZambDecoderOpenReader(const ZambReader* reader, std::uint32_t flags,
                                ZambDecoder** decoder) {
    return OpenOverReader(reader, flags, decoder, &OpenFromReader);
}

ZambError ZambDecoderOpenMemory(const void* data, std::size_t size, std::uint32_t flags,
                                ZambDecoder** decoder) {
    if (decoder != nullptr) *decoder = nullptr;
    if (decoder == nullptr || (data == nullptr && size != 0) || !FlagsAreUsable(flags))
        return ZAMBERR_INVALID_ARGUMENT;
    ZambDecoder* handle = NewHandle(flags);
    if (handle == nullptr) return ZAMBERR_NO_MEMORY;
    handle->memory = {static_cast<const std::uint8_t*>(data), size, 0};
    handle->reader = {&handle->memory, &ReadMemory, &SeekMemory, size};
    return FinishOpen(handle, OpenFromReader(handle), decoder);
}

ZambError ZambDecoderOpenFile(const char* path, std::uint32_t flags, ZambDecoder** decoder) {
    if (decoder != nullptr) *decoder = nullptr;
    if (decoder == nullptr || path == nullptr || !FlagsAreUsable(flags))
        return ZAMBERR_INVALID_ARGUMENT;
    ZambDecoder* handle = NewHandle(flags);
    if (handle == nullptr) return ZAMBERR_NO_MEMORY;
    handle->file = std::fopen(path, "rb");
    std::uint64_t size = 0;
    if (handle->file == nullptr || !FileSize(handle->file, &size))
        return FinishOpen(handle, ZAMBERR_OPEN_FAILED, decoder);
    handle->reader = {handle->file, &ReadFileInput, &SeekFileInput, size};
    return FinishOpen(handle, OpenFromReader(handle), decoder);
}

void ZambDecoderClose(ZambDecoder* decoder) {
    if (decoder == nullptr) return;
    ReleaseMovie(&decoder->movie);
    FreeHandle(decoder);
}

ZambError ZambDecoderGetInfo(const ZambDecoder* decoder, ZambMovieInfo* info, std::size_t size) {
    if (decoder == nullptr || info == nullptr) return ZAMBERR_INVALID_ARGUMENT;
    const Movie& movie = decoder->movie;
    ZambMovieInfo facts{};
    facts.Width = movie.Width;
    facts.Height = movie.Height;
    const bool shownTwice = (movie.OpenFlags & (ZAMB_INTERLACE | ZAMB_DOUBLE)) != 0;
    facts.StoredHeight = shownTwice ? movie.Height / 2 : movie.Height;
    facts.FrameCount = movie.FrameCount;
    FrameDuration(movie, &facts.FrameDurationNum, &facts.FrameDurationDen);
    facts.Flags = movie.FileFlags & (ZAMBINFO_RING | ZAMBINFO_INTERLACED | ZAMBINFO_DOUBLED);
    facts.LargestFrame = movie.LargestFrame;
    for (int n = 0; n < ZAMB_MAX_TRACKS; ++n) {
        const std::uint32_t format = movie.TrackFormat[n];
        ZambTrackInfo& track = facts.Tracks[n];
        track.Present = (format & ZAMB_TRACK_PRESENT) ? 1 : 0;
        if (!track.Present) continue;
        track.Decoded = decoder->tracks[n].decoded ? 1 : 0;
        track.SampleRate = format & ZAMB_TRACK_RATE_MASK;
        track.Channels = (format & ZAMB_TRACK_STEREO) ? 2 : 1;
        track.BitsPerSample = (format & ZAMB_TRACK_16BIT) ? 16 : 8;
        track.BytesPerSecond = track.SampleRate * track.Channels * track.BitsPerSample / 8;
        track.Compressed = (format & ZAMB_TRACK_COMPRESSED) ? 1 : 0;
    }
    std::memcpy(info, &facts, size < sizeof facts ? size : sizeof facts);
    return ZAMBERR_NONE;
}

ZambError ZambDecoderNextFrame(ZambDecoder* decoder) {
    if (decoder == nullptr) return ZAMBERR_INVALID_ARGUMENT;
    const Movie* movie = &decoder->movie;
    if (decoder->frameCurrent && !decoder->damaged && AtLastFrame(movie) &&
        !(decoder->flags & ZAMBOPEN_LOOP))
        return ZAMBERR_END;
    const bool wasWhole = decoder->wholePicture;
    decoder->wholePicture = !decoder->frameCurrent;
    const ZambError result = Step(decoder, true);
    if (result == ZAMBERR_READ_FAILED && decoder->frameCurrent) decoder->wholePicture = wasWhole;
    if (result == ZAMBERR_NONE) NotePaletteShown(decoder);
    return result;
}

ZambError ZambDecoderSeek(ZambDecoder* decoder, std::uint32_t frame) {
    if (decoder == nullptr) return ZAMBERR_INVALID_ARGUMENT;
    if (frame >= decoder->movie.FrameCount) return ZAMBERR_NO_FRAME;
    decoder->index.wanted = true;  // a program that seeks once is likely to seek again
    std::uint64_t due[ZAMB_MAX_TRACKS] = {};
    const bool timed = SoundDueAt(decoder, frame, due);
    if (!timed) std::fill(due, due + ZAMB_MAX_TRACKS, UINT64_MAX);
    EmptySoundQueues(decoder, due);
    StartSeek(decoder, frame, timed, due);
    while (!decoder->frameCurrent || VisibleFrameNumber(decoder) != frame) {
        const ZambError result = Step(decoder, false, false);
        decoder->wholePicture = true;
        if (result != ZAMBERR_NONE) {
            CollectChangedRects(decoder);  // the frame left current: its own map is intact
            return result;
        }
        if (VisibleFrameNumber(decoder) != frame) QueueReachingSound(decoder);
    }
    if (!CollectChangedRects(decoder))
        return Fail(decoder, ZAMBERR_NO_MEMORY, frame,
                    "not enough memory for the changed rectangles");
    // Without a time line the queue starts with the target's own chunk, as it always has.
    if (!timed) QueueFromCurrentChunk(decoder);
    DecodeFrameSound(decoder, !(decoder->flags & ZAMBOPEN_NO_SOUND));
    decoder->wholePicture = true;
    NotePaletteShown(decoder);
    return ZAMBERR_NONE;
}

ZambError ZambDecoderGetFrameInfo(const ZambDecoder* decoder, ZambFrameInfo* info,
                                  std::size_t size) {
    if (decoder == nullptr || info == nullptr) return ZAMBERR_INVALID_ARGUMENT;
    if (!decoder->frameCurrent) return ZAMBERR_NO_FRAME;
    ZambFrameInfo facts{};
    facts.Number = VisibleFrameNumber(decoder);
    facts.PaletteChanged = (decoder->wholePicture || decoder->paletteChanged) ? 1 : 0;
    facts.RectCount = decoder->rectCount;
    for (int n = 0; n < ZAMB_MAX_TRACKS; ++n) {
        facts.SoundBytes[n] = static_cast<std::uint32_t>(decoder->tracks[n].frameBytes);
    }
    std::memcpy(info, &facts, size < sizeof facts ? size : sizeof facts);
    return ZAMBERR_NONE;
}

ZambError ZambDecoderGetLastError(const ZambDecoder* decoder, ZambErrorInfo* info,
                                  std::size_t size) {
    if (decoder == nullptr || info == nullptr) return ZAMBERR_INVALID_ARGUMENT;
    std::memcpy(info, &decoder->lastError, std::min(size, sizeof decoder->lastError));
    return ZAMBERR_NONE;
}

ZambError ZambDecoderBuildIndex(ZambDecoder* decoder) {
    if (decoder == nullptr) return ZAMBERR_INVALID_ARGUMENT;
    decoder->index.wanted = true;
    const bool hadFrame = decoder->frameCurrent && !decoder->damaged;
    const std::uint32_t back = VisibleFrameNumber(decoder);
    Restart(decoder);
    ZambError result = ZAMBERR_NONE;
    while (result == ZAMBERR_NONE && !(decoder->frameCurrent && AtLastFrame(&decoder->movie)))
        result = Step(decoder, false, false);
    decoder->wholePicture = true;
    if (result != ZAMBERR_NONE) return result;
    if (hadFrame) return ZambDecoderSeek(decoder, back);
    Restart(decoder);
    EmptySoundQueues(decoder, nullptr);
    return ZAMBERR_NONE;
}

}  // extern "C"
