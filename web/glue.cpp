// SPDX-License-Identifier: MIT
// The web player's door into the decoder: one WebMovie per player element, each with its own
// decoder handle, its picture as RGBA for the canvas and each frame's sound as float samples
// for Web Audio, in buffers this file owns so that the page only ever reads wasm memory.
//
// A movie fetched from a server is opened before all of it has arrived: the page copies bytes
// into the input buffer as they come and asks, before each decode, how many bytes that frame
// needs, so the decoder's reader is never asked for bytes that are not there yet.
//
// Every frame is checked the first time it is decoded, as zmbtool verify checks it: a damaged
// movie stops at its first damaged frame, with the frame before it current, instead of
// showing pictures and sound made up from what is not there.
#ifdef __EMSCRIPTEN__
#include <emscripten/emscripten.h>
#else
// Built natively only for the benchmark's rate of the same work without a browser.
#define EMSCRIPTEN_KEEPALIVE
#endif

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "zambrel/decoder.h"
#include "zambrel/movie.h"

namespace {

// Beyond this many changed rectangles one whole-picture upload is cheaper than many small
// ones, so the page is told to redraw everything.
constexpr std::uint32_t kMaxRects = 256;

// Where the header keeps what locating the frames needs.
constexpr std::size_t kHeaderBytes = 104;
constexpr std::size_t kFrameCountAt = 12;
constexpr std::size_t kFlagsAt = 20;
constexpr std::size_t kTreeDataAt = 52;
constexpr std::uint32_t kRingFlag = 0x1;

// The glue's own failure: a frame found damaged (WebDamage says which and why). Below every
// code of the library's.
constexpr ZambError kDamaged = -100;

// The first damaged frame, as the page reads it: the frame's number, then why.
constexpr std::size_t kReasonBytes = 160;
struct Damage {
    std::uint32_t frame = 0;
    char reason[kReasonBytes] = {};
};

struct WebMovie {
    std::uint8_t* input = nullptr;  // the file's bytes; the decoder reads them through `reader`
    std::size_t inputSize = 0;
    std::size_t arrived = 0;  // how many of them are there so far
    std::size_t position = 0;
    ZambDecoder* decoder = nullptr;
    ZambMovieInfo info{};
    ZambFrameInfo frame{};
    std::uint64_t* frameEnds = nullptr;  // byte after each stored frame, once opened
    std::uint32_t storedFrames = 0;
    std::uint8_t* picture = nullptr;  // Width x Height RGBA, kept between frames
    std::size_t pitch = 0;
    std::size_t pictureBytes = 0;
    ZambRect rects[kMaxRects]{};
    std::uint8_t* pcm = nullptr;     // one frame's sound of one track as the track stores it
    float* samples = nullptr;        // the same, as planar floats: all left, then all right
    std::size_t soundRoom = 0;       // bytes of pcm; samples has as many floats
    std::uint32_t damagedSound = 0;  // bit n: track n's chunk of the damaged frame is damaged
    std::uint32_t checkedTo = 0;     // frames from the first on found whole
    bool damaged = false;            // `damage` holds the first damaged frame
    Damage damage;
};

void Release(WebMovie* movie) {
    ZambDecoderClose(movie->decoder);
    std::free(movie->input);
    std::free(movie->frameEnds);
    std::free(movie->picture);
    std::free(movie->pcm);
    std::free(movie->samples);
    *movie = WebMovie{};
}

std::size_t ReadInput(void* opaque, void* buffer, std::size_t size) {
    auto* movie = static_cast<WebMovie*>(opaque);
    const std::size_t count =
        std::min(size, movie->arrived - std::min(movie->position, movie->arrived));
    std::memcpy(buffer, movie->input + movie->position, count);
    movie->position += count;
    return count;
}

int SeekInput(void* opaque, std::uint64_t position) {
    auto* movie = static_cast<WebMovie*>(opaque);
    if (position > movie->inputSize) return 1;
    movie->position = static_cast<std::size_t>(position);
    return 0;
}

std::uint32_t WordAt(const WebMovie* movie, std::size_t at) {
    std::uint32_t word = 0;
    std::memcpy(&word, movie->input + at, sizeof word);
    return word;
}

// The frames stored, as a header that has arrived says (not yet checked by the library: a
// hostile count only makes the answers from it large).
std::uint64_t StoredFramesClaimed(const WebMovie* movie) {
    return std::uint64_t{WordAt(movie, kFrameCountAt)} +
           ((WordAt(movie, kFlagsAt) & kRingFlag) ? 1 : 0);
}

// Bytes before the first frame, from a header that has arrived.
std::uint64_t FirstFrameAt(const WebMovie* movie) {
    return kHeaderBytes + 5 * StoredFramesClaimed(movie) + WordAt(movie, kTreeDataAt);
}

// The end of every stored frame, from the size table the open has accepted.
bool LocateFrames(WebMovie* movie) {
    movie->storedFrames = movie->info.FrameCount + ((movie->info.Flags & ZAMBINFO_RING) ? 1 : 0);
    movie->frameEnds =
        static_cast<std::uint64_t*>(std::malloc(sizeof(std::uint64_t) * movie->storedFrames));
    if (movie->frameEnds == nullptr) return false;
    std::uint64_t end = FirstFrameAt(movie);
    for (std::uint32_t n = 0; n < movie->storedFrames; ++n) {
        end += WordAt(movie, kHeaderBytes + 4 * std::size_t{n});
        movie->frameEnds[n] = end;
    }
    return true;
}

// The picture buffer is sized only after the library has accepted the header, so a
// hostile size never reaches the allocator; a size the library accepts but this browser
// cannot hold is reported as no memory.
ZambError AllocateBuffers(WebMovie* movie) {
    movie->pitch = std::size_t{movie->info.Width} * 4;
    movie->pictureBytes = movie->pitch * movie->info.Height;
    movie->picture = static_cast<std::uint8_t*>(std::calloc(movie->pictureBytes, 1));
    if (movie->picture == nullptr || !LocateFrames(movie)) return ZAMBERR_NO_MEMORY;
    return ZAMBERR_NONE;
}

// Sound buffers grow to the largest frame's sound seen so far: a frame's share is not
// bounded by its stored size, since delta coding packs several samples into a byte.
bool EnsureSoundRoom(WebMovie* movie, std::size_t bytes) {
    if (bytes <= movie->soundRoom) return true;
    std::free(movie->pcm);
    std::free(movie->samples);
    movie->pcm = static_cast<std::uint8_t*>(std::malloc(bytes));
    movie->samples = static_cast<float*>(std::malloc(bytes * sizeof(float)));
    movie->soundRoom = movie->pcm != nullptr && movie->samples != nullptr ? bytes : 0;
    return movie->soundRoom != 0;
}

// The tracks whose sound chunks in stored frame `f` do not fit the frame (bit n for track n,
// kPaletteBit for the palette), walked as the file lays the chunks out: from the first chunk
// that does not fit, every later one is lost.
constexpr std::uint32_t kPaletteBit = 1u << ZAMB_MAX_TRACKS;
std::uint32_t BrokenChunks(const WebMovie* movie, std::uint32_t f) {
    const std::uint32_t size = WordAt(movie, kHeaderBytes + 4 * std::size_t{f});
    const std::uint64_t start = movie->frameEnds[f] - size;
    if (movie->frameEnds[f] > movie->arrived) return 0;  // the decoder reports the frame itself
    const std::uint8_t* frame = movie->input + start;
    const std::uint8_t type = movie->input[kHeaderBytes + 4 * std::size_t{movie->storedFrames} + f];
    std::uint64_t at = 0;
    bool broken = false;
    std::uint32_t tracks = 0;
    if (type & ZAMB_FRAME_PALETTE) {
        const std::uint32_t bytes = size < 1 ? 0 : frame[0] * 4u;
        broken = bytes < 4 || bytes > size;
        if (broken) tracks = kPaletteBit;
        at = bytes;
    }
    for (std::uint32_t n = 0; n < ZAMB_MAX_TRACKS; ++n) {
        if (!(type & (ZAMB_FRAME_TRACK0 << n))) continue;
        if (!broken && at + 4 <= size) {
            std::uint32_t bytes = 0;
            std::memcpy(&bytes, frame + at, sizeof bytes);
            const std::uint32_t header = (movie->info.Tracks[n].Compressed != 0) ? 8 : 4;
            broken = bytes < header || at + bytes > size;
            at += bytes;
        } else {
            broken = true;
        }
        if (broken) tracks |= 1u << n;
    }
    return tracks;
}

void NoteFrame(WebMovie* movie) {
    ZambDecoderGetFrameInfo(movie->decoder, &movie->frame, sizeof movie->frame);
}

// Why track n's chunk of the current frame is damaged, written to `reason`; false when it
// is not. A chunk that claims more than its track's largest chunk may hold is damaged, and
// so is one whose stream ends before the sound it claims.
bool SoundDamage(const WebMovie* movie, std::uint32_t n, std::uint32_t broken, char* reason) {
    if (broken & (1u << n))
        return std::snprintf(reason, kReasonBytes, "track %u's sound chunk runs out of its frame",
                             n),
               true;
    ZambChunkSound chunk{};
    if (ZambDecoderGetChunkSound(movie->decoder, n, &chunk, sizeof chunk) != ZAMBERR_NONE)
        return false;
    if (chunk.ClaimedBytes > chunk.LimitBytes)
        std::snprintf(reason, kReasonBytes,
                      "track %u's sound chunk claims %u bytes, more than its %u", n,
                      chunk.ClaimedBytes, chunk.LimitBytes);
    else if (chunk.DeliveredBytes < chunk.ClaimedBytes)
        std::snprintf(reason, kReasonBytes, "track %u's sound chunk ends after %u of its %u bytes",
                      n, chunk.DeliveredBytes, chunk.ClaimedBytes);
    else
        return false;
    return true;
}

// Why the current frame is damaged, or an empty reason: its picture's stream (read checked),
// its chunks against the frame, and each track's chunk; the picture's damage is told first,
// then the palette's, then the lowest damaged track's (the tracks are asked from the highest
// down, so its reason is the one left), and every damaged track is noted for the page.
void FindDamage(WebMovie* movie, Damage* damage) {
    ZambFrameDamage picture{};
    ZambDecoderGetFrameDamage(movie->decoder, &picture, sizeof picture);
    std::memcpy(damage->reason, picture.Reason, sizeof damage->reason);
    const std::uint32_t broken = BrokenChunks(movie, movie->frame.Number);
    char sound[kReasonBytes] = {};
    for (std::uint32_t n = ZAMB_MAX_TRACKS; n-- > 0;)
        if (SoundDamage(movie, n, broken, sound)) movie->damagedSound |= 1u << n;
    if (damage->reason[0] != 0) return;
    if (broken & kPaletteBit)
        std::snprintf(damage->reason, sizeof damage->reason,
                      "the palette chunk runs out of its frame");
    else
        std::memcpy(damage->reason, sound, sizeof sound);
}

// Checks the frame just made current when it was never checked before. A damaged one is
// kept as the movie's first damage, and the frame before it becomes current again, as after
// a frame that could not be read.
ZambError CheckCurrent(WebMovie* movie) {
    const std::uint32_t f = movie->frame.Number;
    if (f < movie->checkedTo) return ZAMBERR_NONE;
    Damage found{f, {}};
    movie->damagedSound = 0;
    FindDamage(movie, &found);
    if (found.reason[0] == 0) {
        movie->checkedTo = f + 1;
        return ZAMBERR_NONE;
    }
    movie->damage = found;
    movie->damaged = true;
    if (f > 0 && ZambDecoderSeek(movie->decoder, f - 1) >= 0) NoteFrame(movie);
    return kDamaged;
}

// Whether frame `f` lies at or after the movie's first damage.
bool PastDamage(const WebMovie* movie, std::uint32_t f) {
    return movie->damaged && f >= movie->damage.frame;
}

float SampleAt(const std::uint8_t* at, std::uint32_t bits) {
    if (bits == 8) return (static_cast<float>(at[0]) - 128.0f) / 128.0f;
    const auto value = static_cast<std::int16_t>(static_cast<std::uint16_t>(at[0] | at[1] << 8));
    return static_cast<float>(value) / 32768.0f;
}

double Clamped(std::uint64_t bytes, const WebMovie* movie) {
    return static_cast<double>(std::min<std::uint64_t>(bytes, movie->inputSize));
}

}  // namespace

extern "C" {

EMSCRIPTEN_KEEPALIVE WebMovie* WebCreate() {
    return new (std::nothrow) WebMovie{};
}

EMSCRIPTEN_KEEPALIVE void WebDestroy(WebMovie* movie) {
    if (movie == nullptr) return;
    Release(movie);
    delete movie;
}

// Room for a file of `size` bytes, or null when there is none; any earlier movie is closed.
EMSCRIPTEN_KEEPALIVE std::uint8_t* WebInputBuffer(WebMovie* movie, std::size_t size) {
    Release(movie);
    movie->input = static_cast<std::uint8_t*>(std::malloc(size == 0 ? 1 : size));
    movie->inputSize = movie->input != nullptr ? size : 0;
    return movie->input;
}

// The first `count` bytes of the input buffer have arrived.
EMSCRIPTEN_KEEPALIVE void WebArrived(WebMovie* movie, std::size_t count) {
    movie->arrived = std::min(count, movie->inputSize);
}

// How many bytes must have arrived before the open (`frame` -1) or before stored frame
// `frame` is decoded; never more than the whole input. A double, as sizes pass 2 GB.
EMSCRIPTEN_KEEPALIVE double WebBytesNeeded(WebMovie* movie, std::int32_t frame) {
    if (movie->decoder == nullptr) {
        if (movie->arrived < kHeaderBytes) return Clamped(kHeaderBytes, movie);
        const std::uint64_t tables = FirstFrameAt(movie);
        if (movie->arrived < tables || movie->inputSize < tables) return Clamped(tables, movie);
        // The open reads the first frame as well.
        return Clamped(tables + WordAt(movie, kHeaderBytes), movie);
    }
    if (frame < 0 || static_cast<std::uint32_t>(frame) >= movie->storedFrames)
        return static_cast<double>(movie->inputSize);
    return Clamped(movie->frameEnds[frame], movie);
}

// Before the open, for a response that does not say how long it is: where the last stored
// frame ends, by the frame size table, once the header and the tables have arrived; before
// that, minus the bytes they need.
EMSCRIPTEN_KEEPALIVE double WebClaimedSize(WebMovie* movie) {
    if (movie->arrived < kHeaderBytes) return -static_cast<double>(kHeaderBytes);
    const std::uint64_t tables = FirstFrameAt(movie);
    if (movie->arrived < tables) return -static_cast<double>(tables);
    std::uint64_t end = tables;
    const std::uint64_t stored = StoredFramesClaimed(movie);
    for (std::size_t n = 0; n < stored; ++n) end += WordAt(movie, kHeaderBytes + 4 * n);
    return static_cast<double>(end);
}

// Where stored frame `frame` ends in the input, as its table says (past the input's end in a
// movie cut short), once opened.
EMSCRIPTEN_KEEPALIVE double WebFrameEnd(WebMovie* movie, std::uint32_t frame) {
    if (movie->decoder == nullptr || frame >= movie->storedFrames) return 0;
    return static_cast<double>(movie->frameEnds[frame]);
}

// Opens the bytes in the input buffer (as many as WebBytesNeeded(-1) asked for); on failure
// everything is released again. The checked open would open a movie the plain open refuses
// as its whole frames alone, but its count of them stops at what has arrived, which a
// movie still arriving would shorten for good: such a movie is refused as the plain open
// refuses it.
EMSCRIPTEN_KEEPALIVE ZambError WebOpen(WebMovie* movie) {
    if (movie->input == nullptr) return ZAMBERR_INVALID_ARGUMENT;
    const ZambReader reader{movie, &ReadInput, &SeekInput, movie->inputSize};
    ZambError error = ZambDecoderOpenChecked(&reader, ZAMBOPEN_NO_SOUND, &movie->decoder);
    if (error >= 0) error = ZambDecoderGetInfo(movie->decoder, &movie->info, sizeof movie->info);
    if (error >= 0 && StoredFramesClaimed(movie) !=
                          movie->info.FrameCount + ((movie->info.Flags & ZAMBINFO_RING) ? 1 : 0)) {
        ZambDecoderClose(movie->decoder);
        movie->decoder = nullptr;
        error = ZambDecoderOpenReader(&reader, ZAMBOPEN_NO_SOUND, &movie->decoder);
        if (error >= 0) error = ZAMBERR_UNUSABLE_HEADER;  // not expected: the checked one refused
    }
    if (error >= 0) error = ZambDecoderCheckPictures(movie->decoder);
    if (error >= 0) error = AllocateBuffers(movie);
    if (error < 0) Release(movie);
    return error;
}

EMSCRIPTEN_KEEPALIVE void WebClose(WebMovie* movie) {
    Release(movie);
}

// The movie's facts: eight words, then seven words for each of the seven tracks.
EMSCRIPTEN_KEEPALIVE const ZambMovieInfo* WebInfo(WebMovie* movie) {
    return &movie->info;
}

// The current frame's number, or -1 before the first.
EMSCRIPTEN_KEEPALIVE std::int32_t WebFrameNumber(WebMovie* movie) {
    ZambFrameInfo frame{};
    if (movie->decoder == nullptr ||
        ZambDecoderGetFrameInfo(movie->decoder, &frame, sizeof frame) < 0)
        return -1;
    return static_cast<std::int32_t>(frame.Number);
}

// A frame at or after the first damage is refused with kDamaged, as often as it is asked for.
EMSCRIPTEN_KEEPALIVE ZambError WebNextFrame(WebMovie* movie) {
    if (movie->decoder == nullptr) return ZAMBERR_INVALID_ARGUMENT;
    if (PastDamage(movie, static_cast<std::uint32_t>(WebFrameNumber(movie) + 1))) return kDamaged;
    const ZambError error = ZambDecoderNextFrame(movie->decoder);
    if (error != ZAMBERR_NONE) return error;
    NoteFrame(movie);
    return CheckCurrent(movie);
}

// A seek decodes every frame on the way, and only the last one's picture is told checked:
// frames never checked are first stepped through one by one.
EMSCRIPTEN_KEEPALIVE ZambError WebSeek(WebMovie* movie, std::uint32_t frame) {
    if (movie->decoder == nullptr) return ZAMBERR_INVALID_ARGUMENT;
    if (PastDamage(movie, frame)) return kDamaged;
    ZambError error = ZAMBERR_NONE;
    if (movie->checkedTo < frame) {
        error = ZambDecoderSeek(movie->decoder, movie->checkedTo);
        if (error >= 0) {
            NoteFrame(movie);
            error = CheckCurrent(movie);
        }
        while (error >= 0 && movie->checkedTo < frame) error = WebNextFrame(movie);
        if (error < 0) return error;
    }
    error = ZambDecoderSeek(movie->decoder, frame);
    if (error < 0) return error;
    NoteFrame(movie);
    return CheckCurrent(movie);
}

EMSCRIPTEN_KEEPALIVE const std::uint8_t* WebPicture(WebMovie* movie) {
    return movie->picture;
}

EMSCRIPTEN_KEEPALIVE const ZambRect* WebRects(WebMovie* movie) {
    return movie->rects;
}

// Brings the RGBA picture up to the current frame. Returns how many rectangles of
// WebRects() changed, or -1 when the whole picture must be redrawn: asked for by `whole`
// (the buffer holds some other frame after a seek), or a new palette changed every colour.
// A failure is the library's code, which is below -1.
EMSCRIPTEN_KEEPALIVE std::int32_t WebUpdatePicture(WebMovie* movie, std::int32_t whole) {
    if (movie->decoder == nullptr) return ZAMBERR_INVALID_ARGUMENT;
    const std::uint32_t count = ZambDecoderGetChangedRects(movie->decoder, movie->rects, kMaxRects);
    const bool everything = whole != 0 || movie->frame.PaletteChanged != 0 || count > kMaxRects;
    const ZambError error =
        ZambDecoderGetPicture(movie->decoder, ZAMBPIX_RGBA32, movie->picture, movie->pitch,
                              movie->pictureBytes, everything ? 0 : ZAMBPIC_CHANGED_ONLY);
    if (error < 0) return error;
    return everything ? -1 : static_cast<std::int32_t>(count);
}

// The current frame's sound of `track` as planar floats in WebSamples(): returns the sample
// frames (0 when the frame brought none or the track is not decoded), or the library's code
// when the frame's sound could not be had, so that the page can say the sound is damaged.
EMSCRIPTEN_KEEPALIVE std::int32_t WebFrameSound(WebMovie* movie, std::uint32_t track) {
    if (movie->decoder == nullptr || track >= ZAMB_MAX_TRACKS) return 0;
    const ZambTrackInfo& format = movie->info.Tracks[track];
    if (format.Decoded == 0) return 0;
    std::size_t bytes = 0;
    ZambError error = ZambDecoderFrameSound(movie->decoder, track, nullptr, 0, &bytes);
    if (error < 0 && error != ZAMBERR_BUFFER_TOO_SMALL) return error;
    if (bytes == 0) return 0;
    if (!EnsureSoundRoom(movie, bytes)) return ZAMBERR_NO_MEMORY;
    error = ZambDecoderFrameSound(movie->decoder, track, movie->pcm, movie->soundRoom, &bytes);
    if (error < 0) return error;
    const std::size_t step = std::size_t{format.BitsPerSample / 8} * format.Channels;
    const std::size_t frames = bytes / step;
    for (std::size_t i = 0; i < frames; ++i)
        for (std::uint32_t c = 0; c < format.Channels; ++c)
            movie->samples[c * frames + i] = SampleAt(
                movie->pcm + i * step + c * (format.BitsPerSample / 8), format.BitsPerSample);
    return static_cast<std::int32_t>(frames);
}

// Which tracks' sound chunks of the first damaged frame are damaged, as bits; reading it
// clears them, so that the page tells of them once.
EMSCRIPTEN_KEEPALIVE std::uint32_t WebTakeDamagedSound(WebMovie* movie) {
    const std::uint32_t damaged = movie->damagedSound;
    movie->damagedSound = 0;
    return damaged;
}

// The first damaged frame and why, once a decode or a seek returned kDamaged.
EMSCRIPTEN_KEEPALIVE const Damage* WebDamage(WebMovie* movie) {
    return &movie->damage;
}

EMSCRIPTEN_KEEPALIVE const float* WebSamples(WebMovie* movie) {
    return movie->samples;
}

EMSCRIPTEN_KEEPALIVE const char* WebErrorString(ZambError error) {
    return ZambErrorString(error);
}

EMSCRIPTEN_KEEPALIVE const char* WebVersion() {
    return ZambVersionString();
}

}  // extern "C"
