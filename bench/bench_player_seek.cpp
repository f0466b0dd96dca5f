// SPDX-License-Identifier: MIT
// A seek back in a long movie through the player's own seek, with the snapshots the player
// keeps as it plays and without them (SeekMemory=0, every seek back decoding from the first
// frame as the player did before it kept any). The movie is played straight through once
// first, as a viewer would have watched it, to where the seeks start.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/movie_names.h"
#include "encoder/writer.h"
#include "player/picture_index.h"
#include "player/seek.h"
#include "zambrel/movie.h"

namespace {

constexpr std::uint32_t kWidth = 320, kHeight = 240, kFrames = 1800;  // two minutes at 15/s

// A still background with a block of detail moving over it and a fifth of the picture
// changing in a moving pattern: every picture depends on the frames before it.
std::string WriteLongMovie() {
    zambrel::encoder::MovieRecipe recipe;
    recipe.width = kWidth;
    recipe.height = kHeight;
    recipe.frameRate = -6667;
    for (std::uint32_t f = 0; f < kFrames; ++f) {
        zambrel::encoder::Picture p;
        p.pixels.resize(std::size_t{kWidth} * kHeight);
        const std::uint32_t left = f * 8 % (kWidth - 32), top = f * 4 % (kHeight - 32);
        for (std::uint32_t y = 0; y < kHeight; ++y)
            for (std::uint32_t x = 0; x < kWidth; ++x) {
                const bool inBlock = x >= left && x < left + 32 && y >= top && y < top + 32;
                const bool moving = (x / 4 + y / 4 + f) % 5 == 0;
                p.pixels[std::size_t{y} * kWidth + x] = static_cast<std::uint8_t>(
                    inBlock || moving ? (x * 3 + y * 5 + f) % 200 : 16 + y / 16);
            }
        for (int i = 0; i < 768; ++i)
            p.palette[i] = zambrel::encoder::WidenLevel(static_cast<std::uint8_t>(i & 63));
        recipe.pictures.push_back(std::move(p));
    }
    const std::string path = "/tmp/zambrel_bench_seek.zmb";
    const auto bytes = zambrel::encoder::WriteMovie(recipe).bytes;
    if (FILE* file = std::fopen(path.c_str(), "wb")) {
        std::fwrite(bytes.data(), 1, bytes.size(), file);
        std::fclose(file);
    }
    return path;
}

const std::string& MoviePath() {
    static const std::string path = WriteLongMovie();
    return path;
}

// The player's profile, with the snapshots' memory given or (empty) left to its default.
void UseSeekMemory(const char* setting) {
    const std::string path = "/tmp/zambrel_bench_seek.ini";
    if (FILE* file = std::fopen(path.c_str(), "w")) {
        std::fprintf(file, "[Zambrel]\n%s\n", setting);
        std::fclose(file);
    }
    setenv("ZAMBREL_PROFILE", path.c_str(), 1);
}

// Plays to 1 minute 40 s, then seeks a minute back and (to come back) a minute forward, as
// often as the benchmark asks; only the seek back is timed.
void SeekBack(benchmark::State& state, const char* setting) {
    UseSeekMemory(setting);
    Movie* movie = ZambOpen(MoviePath().c_str(), 0, 0xFFFFFFFFu);
    if (!movie) {
        state.SkipWithError("the movie did not open");
        return;
    }
    std::vector<std::uint8_t> screen(std::size_t{kWidth} * kHeight);
    ZambSetDestination(movie, 0, 0, kWidth, kHeight, screen.data(), 0);
    PictureIndexForget();
    constexpr std::uint32_t kPlayed = 1500, kBack = 900;
    for (std::uint32_t f = 0; f < kPlayed; ++f) {
        ZambDoFrame(movie);
        PictureIndexNoteDecoded(movie);
        ZambNextFrame(movie);
    }
    for (auto _ : state) {
        SeekFrames(movie, -static_cast<std::int64_t>(kBack));
        state.PauseTiming();
        SeekFrames(movie, kBack);
        state.ResumeTiming();
    }
    PictureIndexForget();
    ZambClose(movie);
}

// The cost the snapshots add to playing: the first 1,500 frames decoded as the player
// decodes them, with each picture offered to the index.
void PlayStraight(benchmark::State& state, const char* setting) {
    UseSeekMemory(setting);
    MoviePath();  // written once, before any timing
    std::vector<std::uint8_t> screen(std::size_t{kWidth} * kHeight);
    for (auto _ : state) {
        Movie* movie = ZambOpen(MoviePath().c_str(), 0, 0xFFFFFFFFu);
        if (!movie) {
            state.SkipWithError("the movie did not open");
            return;
        }
        ZambSetDestination(movie, 0, 0, kWidth, kHeight, screen.data(), 0);
        PictureIndexForget();
        for (std::uint32_t f = 0; f < 1500; ++f) {
            ZambDoFrame(movie);
            PictureIndexNoteDecoded(movie);
            ZambNextFrame(movie);
        }
        PictureIndexForget();
        ZambClose(movie);
    }
}

}  // namespace

BENCHMARK_CAPTURE(PlayStraight, KeptPictures, "")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(PlayStraight, KeptPictures64MiB, "SeekMemory=65536")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(PlayStraight, NoPictures, "SeekMemory=0")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(SeekBack, KeptPictures, "")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(SeekBack, KeptPictures64MiB, "SeekMemory=65536")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(SeekBack, FromTheFirstFrame, "SeekMemory=0")->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
