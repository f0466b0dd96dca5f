// SPDX-License-Identifier: MIT
// A whole movie from memory: opened twice (preloaded into an 8-bit picture, then streamed
// through a small read-ahead ring into a 16-bit one), every frame decoded with its sound
// tracks fed and its changed rectangles drained.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/standin/kernel/seams.h"
#include "platform/win32.h"
#include "zambrel/movie.h"

namespace {

// Bounds on one input's work: a hostile header may claim millions of frames or pixels, and
// every picture path is reached in small pictures as well as in large ones.
constexpr std::uint32_t kMaxFrames = 24;
constexpr std::uint64_t kMaxPictureBytes = 64u << 10;
constexpr std::uint32_t kRectsPerFrame = 4096;

// A sound track's ring holds a second and two frames of its sound, and the first frame fills
// it: at full rates that is a quarter of a million deltas per track, which would leave the
// fuzzer decoding sound. Rates are folded below 4,096 Hz and frame periods below half a
// second; the sound harness takes declared sizes of any length on its own. Node areas, which
// the open clears and walks whole however little of them the trees use, are folded below
// 256 KiB each; the tree harness and the hostile movies reach the larger ones.
constexpr std::size_t kFrameRateAt = 16;
constexpr std::size_t kTreeSizesAt = 56;
constexpr std::uint32_t kNodeAreaFold = 256u << 10;
constexpr std::size_t kTrackFormatAt = 72;
constexpr std::uint32_t kRateFold = 4096;
constexpr std::int32_t kMaxPeriodMs = 500;

struct Pass {
    std::uint32_t openFlags;
    std::uint32_t extraBuffer;
    std::uint32_t destFlags;  // 0: 8-bit; else the 16-bit format bits, maybe bottom-up
    std::uint32_t bytesPerPixel;
};

void DrainRects(Movie* movie) {
    for (std::uint32_t mode : {0u, 1u}) {
        for (std::uint32_t n = 0; n < kRectsPerFrame && ZambNextRect(movie, mode); ++n) {
            const bool inside = movie->RectX >= 0 && movie->RectY >= 0 && movie->RectW >= 0 &&
                                movie->RectH >= 0 &&
                                std::int64_t{movie->RectX} + movie->RectW <= movie->Width &&
                                std::int64_t{movie->RectY} + movie->RectH <= movie->Height;
            if (!inside) std::abort();
        }
    }
}

std::uint32_t WordAt(const std::vector<std::uint8_t>& bytes, std::size_t at) {
    std::uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value |= std::uint32_t{bytes[at + i]} << (8 * i);
    return value;
}

void PutWordAt(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// The input with its sound rates, frame period and node areas folded into the quick range. A
// rate of 0 stays 0 and a size keeps its remainder by 4, so what cannot be opened stays so.
std::vector<std::uint8_t> Tamed(const std::uint8_t* data, std::size_t size) {
    std::vector<std::uint8_t> bytes(data, data + size);
    if (bytes.size() < kTrackFormatAt + 4 * ZAMB_TRACK_COUNT) return bytes;
    const auto rate = static_cast<std::int32_t>(WordAt(bytes, kFrameRateAt));
    if (rate > kMaxPeriodMs)
        PutWordAt(bytes, kFrameRateAt, static_cast<std::uint32_t>(rate % kMaxPeriodMs + 1));
    if (rate < -100 * kMaxPeriodMs)
        PutWordAt(bytes, kFrameRateAt, static_cast<std::uint32_t>(rate % (100 * kMaxPeriodMs)));
    for (std::size_t at = kTreeSizesAt; at < kTreeSizesAt + 16; at += 4) {
        const std::uint32_t size = WordAt(bytes, at);
        if (size >= kNodeAreaFold) PutWordAt(bytes, at, size % kNodeAreaFold);
    }
    for (int n = 0; n < ZAMB_TRACK_COUNT; ++n) {
        const std::size_t at = kTrackFormatAt + 4 * std::size_t(n);
        const std::uint32_t format = WordAt(bytes, at);
        std::uint32_t hz = format & TRACK_RATE_MASK;
        if (hz >= kRateFold) hz = hz % (kRateFold - 1) + 1;
        PutWordAt(bytes, at, (format & ~TRACK_RATE_MASK) | hz);
    }
    return bytes;
}

// Remaps to a screen palette of 200 of the movie's colours, shifted by one entry, as a player
// does on a screen that cannot take the whole palette.
void RemapToAReducedPalette(Movie* movie) {
    std::uint8_t screen[200 * 3];
    std::memcpy(screen, movie->Palette + 3, sizeof screen);
    ZambRemapColours(movie, screen, 200, 0);
}

void Play(const std::uint8_t* data, std::size_t size, const Pass& pass) {
    HANDLE file = standin::OpenMemoryFile(data, size);
    Movie* movie =
        ZambOpen(file, ZAMB_FILE_HANDLE | ZAMB_TRACK_MASK | pass.openFlags, pass.extraBuffer);
    if (movie != nullptr) {
        std::vector<std::uint8_t> picture;
        const std::uint64_t bytes =
            std::uint64_t{movie->Width} * movie->Height * pass.bytesPerPixel;
        if (bytes > 0 && bytes <= kMaxPictureBytes) {
            picture.assign(bytes, 0);
            ZambSetDestination(
                movie, 0, 0, static_cast<std::int32_t>(movie->Width * pass.bytesPerPixel),
                static_cast<std::int32_t>(movie->Height), picture.data(), pass.destFlags);
        }
        // The ring frame, when there is one, is played too: the count runs one past the end.
        const std::uint32_t frames =
            movie->FrameCount < kMaxFrames ? movie->FrameCount + 1 : kMaxFrames;
        for (std::uint32_t f = 0; f < frames && !movie->ReadFailed; ++f) {
            ZambDoFrame(movie);
            // After the first frame, so that the tables built for it are carried through.
            if (f == 0) RemapToAReducedPalette(movie);
            DrainRects(movie);
            standin::AdvanceTestClock(10);
            ZambServiceSound();
            ZambNextFrame(movie);
        }
        ZambClose(movie);
    }
    CloseHandle(file);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Sound goes to the simulated device, which plays in test-driven time: the tracks are fed
    // and drained, and no run waits on a real clock.
    setenv("ZAMBREL_AUDIO", "simulated", 1);
    standin::UseTestClock(1000);
    standin::SetDebugSink([](const char*) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const Pass passes[] = {
        {0, 0xFFFFFFFFu, 0, 1},
        {ZAMB_NO_SKIP, 8192, 0xC0000001u, 2},
    };
    const std::vector<std::uint8_t> movie = Tamed(data, size);
    for (const Pass& pass : passes) Play(movie.data(), movie.size(), pass);
    return 0;
}
