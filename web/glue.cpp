// SPDX-License-Identifier: MIT
// The web page's door into the decoder: one open movie at a time, its picture as RGBA for
// the canvas and each frame's sound as float samples for Web Audio, in buffers this file
// owns so that the page only ever reads wasm memory and never frees anything.
#include <emscripten/emscripten.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "zambrel/decoder.h"

namespace {

// Beyond this many changed rectangles one whole-picture upload is cheaper than many small
// ones, so the page is told to redraw everything.
constexpr std::uint32_t kMaxRects = 256;

struct WebMovie {
    std::uint8_t* input = nullptr;  // the file's bytes; the decoder reads them in place
    std::size_t inputSize = 0;
    ZambDecoder* decoder = nullptr;
    ZambMovieInfo info{};
    ZambFrameInfo frame{};
    std::uint8_t* picture = nullptr;  // Width x Height RGBA, kept between frames
    std::size_t pitch = 0;
    std::size_t pictureBytes = 0;
    ZambRect rects[kMaxRects]{};
    std::uint8_t* pcm = nullptr;  // one frame's sound of one track as the track stores it
    float* samples = nullptr;     // the same, as planar floats: all left, then all right
    std::size_t soundRoom = 0;    // bytes of pcm; samples has as many floats
};

WebMovie movie;

void Release() {
    ZambDecoderClose(movie.decoder);
    std::free(movie.input);
    std::free(movie.picture);
    std::free(movie.pcm);
    std::free(movie.samples);
    movie = WebMovie{};
}

// The picture buffer is sized only after the library has accepted the header, so a
// hostile size never reaches the allocator; a size the library accepts but this browser
// cannot hold is reported as no memory.
ZambError AllocateBuffers() {
    movie.pitch = std::size_t{movie.info.Width} * 4;
    movie.pictureBytes = movie.pitch * movie.info.Height;
    movie.picture = static_cast<std::uint8_t*>(std::calloc(movie.pictureBytes, 1));
    return movie.picture == nullptr ? ZAMBERR_NO_MEMORY : ZAMBERR_NONE;
}

// Sound buffers grow to the largest frame's sound seen so far: a frame's share is not
// bounded by its stored size, since delta coding packs several samples into a byte.
bool EnsureSoundRoom(std::size_t bytes) {
    if (bytes <= movie.soundRoom) return true;
    std::free(movie.pcm);
    std::free(movie.samples);
    movie.pcm = static_cast<std::uint8_t*>(std::malloc(bytes));
    movie.samples = static_cast<float*>(std::malloc(bytes * sizeof(float)));
    movie.soundRoom = movie.pcm != nullptr && movie.samples != nullptr ? bytes : 0;
    return movie.soundRoom != 0;
}

float SampleAt(const std::uint8_t* at, std::uint32_t bits) {
    if (bits == 8) return (static_cast<float>(at[0]) - 128.0f) / 128.0f;
    const auto value = static_cast<std::int16_t>(static_cast<std::uint16_t>(at[0] | at[1] << 8));
    return static_cast<float>(value) / 32768.0f;
}

}  // namespace

extern "C" {

// Room for a file of `size` bytes, or null when there is none; any earlier movie is closed.
EMSCRIPTEN_KEEPALIVE std::uint8_t* WebInputBuffer(std::size_t size) {
    Release();
    movie.input = static_cast<std::uint8_t*>(std::malloc(size == 0 ? 1 : size));
    movie.inputSize = movie.input != nullptr ? size : 0;
    return movie.input;
}

// Opens the bytes placed in the input buffer; on failure everything is released again.
EMSCRIPTEN_KEEPALIVE ZambError WebOpen() {
    if (movie.input == nullptr) return ZAMBERR_INVALID_ARGUMENT;
    ZambError error =
        ZambDecoderOpenMemory(movie.input, movie.inputSize, ZAMBOPEN_NO_SOUND, &movie.decoder);
    if (error >= 0) error = ZambDecoderGetInfo(movie.decoder, &movie.info, sizeof movie.info);
    if (error >= 0) error = AllocateBuffers();
    if (error < 0) Release();
    return error;
}

EMSCRIPTEN_KEEPALIVE void WebClose() {
    Release();
}

// The movie's facts: eight words, then seven words for each of the seven tracks.
EMSCRIPTEN_KEEPALIVE const ZambMovieInfo* WebInfo() {
    return &movie.info;
}

EMSCRIPTEN_KEEPALIVE ZambError WebNextFrame() {
    if (movie.decoder == nullptr) return ZAMBERR_INVALID_ARGUMENT;
    const ZambError error = ZambDecoderNextFrame(movie.decoder);
    if (error == ZAMBERR_NONE) ZambDecoderGetFrameInfo(movie.decoder, &movie.frame, sizeof movie.frame);
    return error;
}

EMSCRIPTEN_KEEPALIVE ZambError WebSeek(std::uint32_t frame) {
    if (movie.decoder == nullptr) return ZAMBERR_INVALID_ARGUMENT;
    const ZambError error = ZambDecoderSeek(movie.decoder, frame);
    if (error >= 0) ZambDecoderGetFrameInfo(movie.decoder, &movie.frame, sizeof movie.frame);
    return error;
}

// The current frame's number, or -1 before the first.
EMSCRIPTEN_KEEPALIVE std::int32_t WebFrameNumber() {
    ZambFrameInfo frame{};
    if (movie.decoder == nullptr ||
        ZambDecoderGetFrameInfo(movie.decoder, &frame, sizeof frame) < 0)
        return -1;
    return static_cast<std::int32_t>(frame.Number);
}

EMSCRIPTEN_KEEPALIVE const std::uint8_t* WebPicture() {
    return movie.picture;
}

EMSCRIPTEN_KEEPALIVE const ZambRect* WebRects() {
    return movie.rects;
}

// Brings the RGBA picture up to the current frame. Returns how many rectangles of
// WebRects() changed, or -1 when the whole picture must be redrawn: asked for by `whole`
// (the buffer holds some other frame after a seek), or a new palette changed every colour.
// A failure is the library's code, which is below -1.
EMSCRIPTEN_KEEPALIVE std::int32_t WebUpdatePicture(std::int32_t whole) {
    if (movie.decoder == nullptr) return ZAMBERR_INVALID_ARGUMENT;
    const std::uint32_t count = ZambDecoderGetChangedRects(movie.decoder, movie.rects, kMaxRects);
    const bool everything = whole != 0 || movie.frame.PaletteChanged != 0 || count > kMaxRects;
    const ZambError error =
        ZambDecoderGetPicture(movie.decoder, ZAMBPIX_RGBA32, movie.picture, movie.pitch,
                              movie.pictureBytes, everything ? 0 : ZAMBPIC_CHANGED_ONLY);
    if (error < 0) return error;
    return everything ? -1 : static_cast<std::int32_t>(count);
}

// The current frame's sound of `track` as planar floats in WebSamples(): returns the sample
// frames (0 when the frame brought none or the track is not decoded).
EMSCRIPTEN_KEEPALIVE std::int32_t WebFrameSound(std::uint32_t track) {
    if (movie.decoder == nullptr || track >= ZAMB_MAX_TRACKS) return 0;
    const ZambTrackInfo& format = movie.info.Tracks[track];
    if (format.Decoded == 0) return 0;
    std::size_t bytes = 0;
    if (ZambDecoderFrameSound(movie.decoder, track, nullptr, 0, &bytes) < 0 && bytes == 0)
        return 0;
    if (!EnsureSoundRoom(bytes) ||
        ZambDecoderFrameSound(movie.decoder, track, movie.pcm, movie.soundRoom, &bytes) < 0)
        return 0;
    const std::size_t step = std::size_t{format.BitsPerSample / 8} * format.Channels;
    const std::size_t frames = bytes / step;
    for (std::size_t i = 0; i < frames; ++i)
        for (std::uint32_t c = 0; c < format.Channels; ++c)
            movie.samples[c * frames + i] =
                SampleAt(movie.pcm + i * step + c * (format.BitsPerSample / 8), format.BitsPerSample);
    return static_cast<std::int32_t>(frames);
}

EMSCRIPTEN_KEEPALIVE const float* WebSamples() {
    return movie.samples;
}

EMSCRIPTEN_KEEPALIVE const char* WebErrorString(ZambError error) {
    return ZambErrorString(error);
}

EMSCRIPTEN_KEEPALIVE const char* WebVersion() {
    return ZambVersionString();
}

}  // extern "C"
