// SPDX-License-Identifier: MIT
// The embedding interface: opening a decoder handle, its facts, its frames and seeking.
#include "decoder/handle.h"

#include <cstring>
#include <new>

#include "core/allocator.h"
#include "decoder/movie.h"
#include "decoder/source.h"
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

constexpr std::uint32_t kKnownOpenFlags =
    ZAMBOPEN_PRELOAD | ZAMBOPEN_LOOP | ZAMBOPEN_STORED_HEIGHT | ZAMBOPEN_NO_SOUND;

ZambDecoder* NewHandle(std::uint32_t flags) {
    void* memory = ZambAllocate(sizeof(ZambDecoder));
    if (memory == nullptr) return nullptr;
    auto* decoder = new (memory) ZambDecoder;
    decoder->flags = flags;
    return decoder;
}

void FreeHandle(ZambDecoder* decoder) {
    decoder->picture.Release();
    decoder->audioScratch.Release();
    decoder->rects.Release();
    for (TrackSound& track : decoder->tracks) {
        track.frame.Release();
        track.queue.Release();
    }
    if (decoder->file != nullptr) std::fclose(decoder->file);
    decoder->~ZambDecoder();
    ZambFree(decoder);
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

// The picture the movie decodes into, made at the first decode rather than at the open (as
// are the sound buffers), so that what an open takes stays bounded by the input's size and
// the caller can look at the movie's size first.
bool PreparePicture(ZambDecoder* decoder) {
    Movie* movie = &decoder->movie;
    if (movie->Dest != nullptr) return true;
    const std::size_t pictureBytes = std::size_t{movie->Width} * movie->Height;
    if (!decoder->picture.Reserve(pictureBytes)) return false;
    std::memset(decoder->picture.data, 0, pictureBytes);
    ZambSetDestination(movie, 0, 0, static_cast<std::int32_t>(movie->Width),
                       static_cast<std::int32_t>(movie->Height), decoder->picture.data, 0);
    return movie->Dest != nullptr;
}

// Opens the handle's movie from its reader, which the caller has set up.
ZambError OpenFromReader(ZambDecoder* decoder) {
    if (decoder->reader.Seek(decoder->reader.Opaque, 0) != 0) return ZAMBERR_READ_FAILED;
    std::uint32_t movieFlags = 0;
    if (decoder->flags & ZAMBOPEN_PRELOAD) movieFlags |= ZAMB_PRELOAD;
    if (decoder->flags & ZAMBOPEN_STORED_HEIGHT) movieFlags |= ZAMB_NO_SCALE;
    OpenFailure failure = OpenFailure::None;
    if (OpenMovieFromReader(&decoder->movie, &decoder->reader, movieFlags, &failure) == nullptr)
        return ErrorFor(failure);
    ChooseTracks(decoder);
    return ZAMBERR_NONE;
}

ZambError Finish(ZambDecoder* decoder, ZambError result, ZambDecoder** out) {
    if (result != ZAMBERR_NONE) {
        FreeHandle(decoder);
        decoder = nullptr;
    }
    *out = decoder;
    return result;
}

// --- Frames -----------------------------------------------------------------------------

bool AtLastFrame(const Movie* movie) {
    return movie->FrameNumber + 1 == movie->FrameCount;
}

// Decodes the current frame of the movie: picture, rectangles and, when asked, sound.
ZambError DecodeCurrent(ZambDecoder* decoder, bool withSound) {
    Movie* movie = &decoder->movie;
    if (movie->ReadFailed) {
        decoder->frameCurrent = false;
        return ZAMBERR_READ_FAILED;
    }
    if (!PreparePicture(decoder) || !ReserveTrackSound(decoder)) return ZAMBERR_NO_MEMORY;
    // As ZambDoFrame does: a palette is new only the first time its frame is decoded.
    if (movie->PaletteChanged) movie->PaletteFrame = static_cast<std::int32_t>(movie->FrameNumber);
    DecodeCurrentPicture(movie);
    if (withSound) DecodeFrameSound(decoder, !(decoder->flags & ZAMBOPEN_NO_SOUND));
    decoder->frameCurrent = true;
    return CollectChangedRects(decoder) ? ZAMBERR_NONE : ZAMBERR_NO_MEMORY;
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
void Restart(ZambDecoder* decoder) {
    Movie* movie = &decoder->movie;
    movie->ReadFailed = 0;
    movie->FrameNumber = 0;
    movie->PaletteFrame = -1;
    SeekFrame(movie);
    PrepareFrame(movie);
    if (decoder->picture.data != nullptr)
        std::memset(decoder->picture.data, 0, decoder->picture.size);
    decoder->frameCurrent = false;
}

}  // namespace

bool OwnedBytes::Reserve(std::size_t bytes) {
    if (bytes == size) return data != nullptr || bytes == 0;
    Release();
    if (bytes == 0) return true;
    if (bytes >= 0xFFFFFFFFu) return false;
    data = static_cast<std::uint8_t*>(ZambAllocate(static_cast<std::uint32_t>(bytes)));
    size = data != nullptr ? bytes : 0;
    return data != nullptr;
}

void OwnedBytes::Release() {
    ZambFree(data);
    data = nullptr;
    size = 0;
}

std::uint32_t VisibleFrameNumber(const ZambDecoder* decoder) {
    const Movie& movie = decoder->movie;
    return movie.FrameNumber >= movie.FrameCount ? 0 : movie.FrameNumber;
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
    if (decoder != nullptr) *decoder = nullptr;
    if (decoder == nullptr || reader == nullptr || reader->Read == nullptr ||
        reader->Seek == nullptr || (flags & ~kKnownOpenFlags) != 0)
        return ZAMBERR_INVALID_ARGUMENT;
    ZambDecoder* handle = NewHandle(flags);
    if (handle == nullptr) return ZAMBERR_NO_MEMORY;
    handle->reader = *reader;
    return Finish(handle, OpenFromReader(handle), decoder);
}

ZambError ZambDecoderOpenMemory(const void* data, std::size_t size, std::uint32_t flags,
                                ZambDecoder** decoder) {
    if (decoder != nullptr) *decoder = nullptr;
    if (decoder == nullptr || (data == nullptr && size != 0) || (flags & ~kKnownOpenFlags) != 0)
        return ZAMBERR_INVALID_ARGUMENT;
    ZambDecoder* handle = NewHandle(flags);
    if (handle == nullptr) return ZAMBERR_NO_MEMORY;
    handle->memory = {static_cast<const std::uint8_t*>(data), size, 0};
    handle->reader = {&handle->memory, &ReadMemory, &SeekMemory, size};
    return Finish(handle, OpenFromReader(handle), decoder);
}

ZambError ZambDecoderOpenFile(const char* path, std::uint32_t flags, ZambDecoder** decoder) {
    if (decoder != nullptr) *decoder = nullptr;
    if (decoder == nullptr || path == nullptr || (flags & ~kKnownOpenFlags) != 0)
        return ZAMBERR_INVALID_ARGUMENT;
    ZambDecoder* handle = NewHandle(flags);
    if (handle == nullptr) return ZAMBERR_NO_MEMORY;
    handle->file = std::fopen(path, "rb");
    std::uint64_t size = 0;
    if (handle->file == nullptr || !FileSize(handle->file, &size))
        return Finish(handle, ZAMBERR_OPEN_FAILED, decoder);
    handle->reader = {handle->file, &ReadFileInput, &SeekFileInput, size};
    return Finish(handle, OpenFromReader(handle), decoder);
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
    // FramePeriod is in 1/100 ms: the fraction is exact as it stands.
    facts.FrameDurationNum = movie.FramePeriod;
    facts.FrameDurationDen = movie.FramePeriod != 0 ? 100000 : 1;
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
    Movie* movie = &decoder->movie;
    if (decoder->frameCurrent) {
        if (AtLastFrame(movie) && !(decoder->flags & ZAMBOPEN_LOOP)) return ZAMBERR_END;
        AdvanceFrame(movie);
        decoder->wholePicture = false;
    } else {
        decoder->wholePicture = true;
    }
    const ZambError result = DecodeCurrent(decoder, true);
    if (result == ZAMBERR_NONE) NotePaletteShown(decoder);
    return result;
}

ZambError ZambDecoderSeek(ZambDecoder* decoder, std::uint32_t frame) {
    if (decoder == nullptr) return ZAMBERR_INVALID_ARGUMENT;
    Movie* movie = &decoder->movie;
    if (frame >= movie->FrameCount) return ZAMBERR_NO_FRAME;
    const bool forward = decoder->frameCurrent && !movie->ReadFailed &&
                         frame >= VisibleFrameNumber(decoder) &&
                         movie->FrameNumber < movie->FrameCount;
    if (!forward) Restart(decoder);
    EmptySoundQueues(decoder);
    while (!decoder->frameCurrent || VisibleFrameNumber(decoder) != frame) {
        if (decoder->frameCurrent) AdvanceFrame(movie);
        const bool target = VisibleFrameNumber(decoder) == frame;
        if (ZambError result = DecodeCurrent(decoder, false); result != ZAMBERR_NONE) return result;
        if (target) break;
    }
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

}  // extern "C"
