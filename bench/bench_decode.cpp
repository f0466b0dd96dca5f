// SPDX-License-Identifier: MIT
// Video decoding speed through ZambDoFrame on writer-made movies, in both stream forms,
// against a bare 12-bit table-lookup decoding loop measured in the same run.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

#include "blit/mmx.h"
#include "encoder/writer.h"
#include "platform/standin/kernel/seams.h"
#include "platform/win32.h"
#include "zambrel/movie.h"

namespace {

using zambrel::encoder::MovieRecipe;
using zambrel::encoder::Picture;

enum Content { kMostlySkipped, kTypical, kAllFull };

Picture MakePicture(std::uint32_t w, std::uint32_t h, Content content, int frame,
                    std::mt19937& random) {
    Picture p;
    p.pixels.resize(std::size_t{w} * h);
    for (std::uint32_t y = 0; y < h; ++y) {
        for (std::uint32_t x = 0; x < w; ++x) {
            std::uint8_t v = static_cast<std::uint8_t>(16 + (y / 16) % 8);
            // 192 colours: noise over all 256 would use every pixel pair and leave no escape value.
            if (content == kAllFull) v = static_cast<std::uint8_t>(random() % 192);
            if (content == kTypical) {
                if ((x / 4 + y / 4 + frame) % 5 == 0)
                    v = static_cast<std::uint8_t>(random());
                else if ((x / 8 + frame) % 3 == 0)
                    v = ((x ^ y) & 4) ? 90 : 91;
            }
            if (content == kMostlySkipped && y / 4 == static_cast<std::uint32_t>(frame) % (h / 4) &&
                x < w / 4)
                v = static_cast<std::uint8_t>(random());
            p.pixels[std::size_t{y} * w + x] = v;
        }
    }
    for (int i = 0; i < 768; ++i)
        p.palette[i] = zambrel::encoder::WidenLevel(static_cast<std::uint8_t>(i % 64));
    return p;
}

struct BenchMovie {
    std::vector<std::uint8_t> bytes;
    std::uint64_t valuesPerFrame =
        0;  // known only for all-full frames: 8 per block plus type words
};

BenchMovie MakeMovie(std::uint32_t w, std::uint32_t h, Content content) {
    std::mt19937 random(7);
    MovieRecipe recipe;
    recipe.width = w;
    recipe.height = h;
    recipe.frameRate = 0;
    for (int f = 0; f < 8; ++f) recipe.pictures.push_back(MakePicture(w, h, content, f, random));
    if (content == kAllFull) recipe.stream.fullBlocksOnly = true;
    BenchMovie m;
    m.bytes = zambrel::encoder::WriteMovie(recipe).bytes;
    const std::uint64_t blocks = std::uint64_t{w / 4} * (h / 4);
    if (content == kAllFull) m.valuesPerFrame = blocks * 8 + (blocks + 58) / 59;
    return m;
}

void DecodeFrames(benchmark::State& state, std::uint32_t w, std::uint32_t h, Content content,
                  bool wide) {
    static_cast<void>(standin::TestClockActive());
    const BenchMovie source = MakeMovie(w, h, content);
    HANDLE file = standin::OpenMemoryFile(source.bytes.data(), source.bytes.size());
    Movie* movie = ZambOpen(file, ZAMB_FILE_HANDLE | ZAMB_PRELOAD, 0xFFFFFFFFu);
    if (movie == nullptr) {
        state.SkipWithError("movie did not open");
        return;
    }
    std::vector<std::uint8_t> buffer(std::size_t{w} * h);
    ZambSetDestination(movie, 0, 0, static_cast<std::int32_t>(w), static_cast<std::int32_t>(h),
                       buffer.data(), 0);
    const std::uint32_t saved = MmxUse;
    MmxUse = wide ? 2 : 1;
    for (auto _ : state) {
        ZambDoFrame(movie);
        ZambNextFrame(movie);
        benchmark::DoNotOptimize(buffer.data());
    }
    MmxUse = saved;
    const double frames = static_cast<double>(state.iterations());
    state.counters["fps"] = benchmark::Counter(frames, benchmark::Counter::kIsRate);
    state.counters["Mpixel/s"] =
        benchmark::Counter(frames * w * h / 1e6, benchmark::Counter::kIsRate);
    if (source.valuesPerFrame != 0) {
        state.counters["Mvalues/s"] = benchmark::Counter(
            frames * static_cast<double>(source.valuesPerFrame) / 1e6, benchmark::Counter::kIsRate);
    }
    ZambClose(movie);
    CloseHandle(file);
}

// The reference: symbols of a random prefix code (lengths 1 to 12) decoded by one lookup
// each from a 64-bit bit buffer, with nothing else done per symbol.
void BareLookupLoop(benchmark::State& state) {
    std::mt19937 random(3);
    std::vector<std::uint32_t> table(4096);
    for (std::uint32_t i = 0; i < 4096;) {  // lengths so that the table fills exactly
        const std::uint32_t length = 4 + random() % 9;
        const std::uint32_t span = 1u << (12 - length);
        if (i % span != 0 || i + span > 4096) {
            table[i] = (i & 0xFF) << 8 | 12;
            ++i;
            continue;
        }
        for (std::uint32_t k = 0; k < span; ++k) table[i + k] = (i & 0xFF) << 8 | length;
        i += span;
    }
    std::vector<std::uint8_t> data(1 << 20);
    for (auto& b : data) b = static_cast<std::uint8_t>(random());
    std::uint64_t symbols = 0;
    for (auto _ : state) {
        const std::uint8_t* p = data.data();
        const std::uint8_t* end = data.data() + data.size() - 8;
        std::uint64_t buffer = 0, sum = 0;
        unsigned count = 0;
        while (p < end) {
            if (count < 32) {
                std::uint32_t word;
                std::memcpy(&word, p, 4);
                p += 4;
                buffer |= std::uint64_t{word} << count;
                count += 32;
            }
            const std::uint32_t entry = table[buffer & 4095];
            buffer >>= entry & 0xFF;
            count -= entry & 0xFF;
            sum += entry >> 8;
            ++symbols;
        }
        benchmark::DoNotOptimize(sum);
    }
    state.counters["Msymbols/s"] =
        benchmark::Counter(static_cast<double>(symbols) / 1e6, benchmark::Counter::kIsRate);
}

}  // namespace

BENCHMARK(BareLookupLoop);
BENCHMARK_CAPTURE(DecodeFrames, skip_320x240_plain, 320, 240, kMostlySkipped, false);
BENCHMARK_CAPTURE(DecodeFrames, skip_320x240_wide, 320, 240, kMostlySkipped, true);
BENCHMARK_CAPTURE(DecodeFrames, typical_320x240_plain, 320, 240, kTypical, false);
BENCHMARK_CAPTURE(DecodeFrames, typical_320x240_wide, 320, 240, kTypical, true);
BENCHMARK_CAPTURE(DecodeFrames, full_320x240_plain, 320, 240, kAllFull, false);
BENCHMARK_CAPTURE(DecodeFrames, full_320x240_wide, 320, 240, kAllFull, true);
BENCHMARK_CAPTURE(DecodeFrames, skip_640x480_plain, 640, 480, kMostlySkipped, false);
BENCHMARK_CAPTURE(DecodeFrames, skip_640x480_wide, 640, 480, kMostlySkipped, true);
BENCHMARK_CAPTURE(DecodeFrames, typical_640x480_plain, 640, 480, kTypical, false);
BENCHMARK_CAPTURE(DecodeFrames, typical_640x480_wide, 640, 480, kTypical, true);
BENCHMARK_CAPTURE(DecodeFrames, full_640x480_plain, 640, 480, kAllFull, false);
BENCHMARK_CAPTURE(DecodeFrames, full_640x480_wide, 640, 480, kAllFull, true);
BENCHMARK_MAIN();
