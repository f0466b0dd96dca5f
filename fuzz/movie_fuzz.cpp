// SPDX-License-Identifier: MIT
// A whole movie from memory: opened twice (preloaded into an 8-bit picture, then streamed
// through a small read-ahead ring into a 16-bit one), every frame decoded with its sound
// tracks fed and its changed rectangles drained.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/movie_names.h"
#include "platform/standin/kernel/seams.h"
#include "platform/win32.h"
#include "tame.h"

namespace {

// Bounds on one input's work: a hostile header may claim millions of frames or pixels, and
// every picture path is reached in small pictures as well as in large ones.
constexpr std::uint32_t kMaxFrames = 24;
constexpr std::uint64_t kMaxPictureBytes = 64u << 10;
constexpr std::uint32_t kRectsPerFrame = 4096;

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
