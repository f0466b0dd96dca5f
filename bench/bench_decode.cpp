// SPDX-License-Identifier: MIT
// Video decoding speed through ZambDoFrame on writer-made movies, in both stream forms,
// against a bare 12-bit table-lookup decoding loop measured in the same run.
#include <benchmark/benchmark.h>

#include <cstring>
#include <ctime>
#include <random>
#include <vector>

#include "core/mmx.h"
#include "core/movie_names.h"
#include "decoder/movie.h"
#include "decoder/value_tables.h"
#include "encoder/writer.h"
#include "platform/standin/kernel/seams.h"
#include "platform/win32.h"

namespace {

using zambrel::encoder::MovieRecipe;
using zambrel::encoder::Picture;

// kAllFull is noise over 192 colours: nearly every pixel pair is its own value, so most
// codes are 15 or 16 bits long, the decoder's worst case. kDetailedFull is what all-full
// frames look like in a real movie: a smooth picture with fine grain, changing every frame.
double ProcessorSeconds(std::clock_t since) {
    return static_cast<double>(std::clock() - since) / CLOCKS_PER_SEC;
}

enum Content { kMostlySkipped, kTypical, kAllFull, kDetailedFull };

Picture MakePicture(std::uint32_t w, std::uint32_t h, Content content, int frame,
                    std::mt19937& random) {
    Picture p;
    p.pixels.resize(std::size_t{w} * h);
    for (std::uint32_t y = 0; y < h; ++y) {
        for (std::uint32_t x = 0; x < w; ++x) {
            std::uint8_t v = static_cast<std::uint8_t>(16 + (y / 16) % 8);
            // 192 colours: noise over all 256 would use every pixel pair and leave no escape value.
            if (content == kAllFull) v = static_cast<std::uint8_t>(random() % 192);
            if (content == kDetailedFull)
                v = static_cast<std::uint8_t>((x + 2 * y + 3 * frame) / 8 % 160 + random() % 6);
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
    std::uint64_t valuesPerFrame = 0;  // known only for all-full frames
};

// Tree values of an all-full frame: 8 per block, and the type words of its one run, which
// the writer cuts into the longest runs the run-length table offers.
std::uint64_t AllFullValues(std::uint64_t blocks) {
    constexpr std::uint32_t kRuns[] = {2048, 1024, 512, 256, 128, 59};
    std::uint64_t typeWords = 0, left = blocks;
    for (std::uint32_t run : kRuns) {
        typeWords += left / run;
        left %= run;
    }
    return blocks * 8 + typeWords + (left != 0 ? 1 : 0);  // 1 to 58 blocks take one word
}

// `fullOnly` makes the writer code every block as a full block whatever the content, so that
// typical pictures can be compared with the baseline too; noise and detailed content are
// always written that way.
BenchMovie MakeMovie(std::uint32_t w, std::uint32_t h, Content content, bool fullOnly = false) {
    std::mt19937 random(7);
    MovieRecipe recipe;
    recipe.width = w;
    recipe.height = h;
    recipe.frameRate = 0;
    for (int f = 0; f < 8; ++f) recipe.pictures.push_back(MakePicture(w, h, content, f, random));
    const bool allFull = fullOnly || content == kAllFull || content == kDetailedFull;
    if (allFull) recipe.stream.fullBlocksOnly = true;
    BenchMovie m;
    m.bytes = zambrel::encoder::WriteMovie(recipe).bytes;
    const std::uint64_t blocks = std::uint64_t{w / 4} * (h / 4);
    if (allFull) m.valuesPerFrame = AllFullValues(blocks);
    return m;
}

// A writer-made movie opened preloaded from memory, closed with its file when it goes.
class OpenedMovie {
  public:
    explicit OpenedMovie(const std::vector<std::uint8_t>& bytes)
        : file_(standin::OpenMemoryFile(bytes.data(), bytes.size())),
          movie_(ZambOpen(file_, ZAMB_FILE_HANDLE | ZAMB_PRELOAD, 0xFFFFFFFFu)) {}
    OpenedMovie(const OpenedMovie&) = delete;
    OpenedMovie& operator=(const OpenedMovie&) = delete;
    ~OpenedMovie() {
        if (movie_ != nullptr) ZambClose(movie_);
        CloseHandle(file_);
    }
    Movie* get() const { return movie_; }

  private:
    HANDLE file_;
    Movie* movie_;
};

// The reference: symbols of a random prefix code (lengths 1 to 12) decoded by one lookup
// each from a 64-bit bit buffer, with nothing else done per symbol.
class BareLookup {
  public:
    BareLookup() {
        std::mt19937 random(3);
        for (std::uint32_t i = 0; i < 4096;) {  // lengths so that the table fills exactly
            const std::uint32_t length = 4 + random() % 9;
            const std::uint32_t span = 1u << (12 - length);
            if (i % span != 0 || i + span > 4096) {
                table_[i] = (i & 0xFF) << 8 | 12;
                ++i;
                continue;
            }
            for (std::uint32_t k = 0; k < span; ++k) table_[i + k] = (i & 0xFF) << 8 | length;
            i += span;
        }
        for (auto& b : data_) b = static_cast<std::uint8_t>(random());
    }

    // Decodes the whole data once; returns the symbols decoded.
    std::uint64_t Pass() const {
        const std::uint8_t* p = data_.data();
        const std::uint8_t* end = data_.data() + data_.size() - 8;
        std::uint64_t buffer = 0, sum = 0, symbols = 0;
        unsigned count = 0;
        while (p < end) {
            if (count < 32) {
                std::uint32_t word;
                std::memcpy(&word, p, 4);
                p += 4;
                buffer |= std::uint64_t{word} << count;
                count += 32;
            }
            const std::uint32_t entry = table_[buffer & 4095];
            buffer >>= entry & 0xFF;
            count -= entry & 0xFF;
            sum += entry >> 8;
            ++symbols;
        }
        benchmark::DoNotOptimize(sum);
        return symbols;
    }

    // Symbols per processor second over passes lasting at least `seconds`.
    double SymbolsPerSecond(double seconds) const {
        std::uint64_t symbols = 0;
        const std::clock_t start = std::clock();
        double spent = 0;
        while (spent < seconds) {
            symbols += Pass();
            spent = ProcessorSeconds(start);
        }
        return static_cast<double>(symbols) / spent;
    }

  private:
    std::vector<std::uint32_t> table_ = std::vector<std::uint32_t>(4096);
    std::vector<std::uint8_t> data_ = std::vector<std::uint8_t>(1 << 20);
};

void BareLookupLoop(benchmark::State& state) {
    const BareLookup bare;
    std::uint64_t symbols = 0;
    for (auto _ : state) symbols += bare.Pass();
    state.counters["Msymbols/s"] =
        benchmark::Counter(static_cast<double>(symbols) / 1e6, benchmark::Counter::kIsRate);
}

// Processor time the baseline runs before and after each decoding benchmark.
constexpr double kBaselineSeconds = 0.02;

void DecodeFrames(benchmark::State& state, std::uint32_t w, std::uint32_t h, Content content,
                  bool wide, bool fullOnly = false) {
    static_cast<void>(standin::TestClockActive());
    const BenchMovie source = MakeMovie(w, h, content, fullOnly);
    const OpenedMovie opened(source.bytes);
    Movie* movie = opened.get();
    if (movie == nullptr) {
        state.SkipWithError("movie did not open");
        return;
    }
    std::vector<std::uint8_t> buffer(std::size_t{w} * h);
    ZambSetDestination(movie, 0, 0, static_cast<std::int32_t>(w), static_cast<std::int32_t>(h),
                       buffer.data(), 0);
    const std::uint32_t saved = MmxUse;
    MmxUse = wide ? 2 : 1;
    // The baseline runs right before and right after the decoding, and the ratio takes the
    // mean of the two: a machine shared with other work changes speed from one second to the
    // next, and a baseline measured once for the whole program would carry that into every
    // ratio. Each stretch is long enough for the bare loop's own caches to settle.
    static const BareLookup bare;
    const double before = bare.SymbolsPerSecond(kBaselineSeconds);
    const std::clock_t start = std::clock();
    for (auto _ : state) {
        ZambDoFrame(movie);
        ZambNextFrame(movie);
        benchmark::DoNotOptimize(buffer.data());
    }
    const double seconds = ProcessorSeconds(start);
    const double baseline = (before + bare.SymbolsPerSecond(kBaselineSeconds)) / 2;
    MmxUse = saved;
    const double frames = static_cast<double>(state.iterations());
    state.counters["fps"] = benchmark::Counter(frames, benchmark::Counter::kIsRate);
    state.counters["Mpixel/s"] =
        benchmark::Counter(frames * w * h / 1e6, benchmark::Counter::kIsRate);
    if (source.valuesPerFrame != 0) {
        state.counters["Mvalues/s"] = benchmark::Counter(
            frames * static_cast<double>(source.valuesPerFrame) / 1e6, benchmark::Counter::kIsRate);
        // Values per second over the baseline's symbols per second, both in processor time.
        if (seconds > 0) {
            state.counters["ratio"] =
                frames * static_cast<double>(source.valuesPerFrame) / seconds / baseline;
        }
    }
}

// What a remap costs the next frame beyond its decoding. A player remaps at each palette
// change on a screen that cannot take the whole palette: the nearest-colour search (here
// against the movie's palette reversed, so every colour is found at the far end), the
// trees, and the kept tables brought up to date. Remapping the trees alone leaves the
// tables to be built again, as for a movie's first frame.
void RemapCost(benchmark::State& state, Content content, bool tablesFollow) {
    const OpenedMovie opened(MakeMovie(640, 480, content).bytes);
    Movie* movie = opened.get();
    if (movie == nullptr) {
        state.SkipWithError("movie did not open");
        return;
    }
    std::uint8_t reversed[768];
    for (int i = 0; i < 256; ++i) std::memcpy(reversed + 3 * (255 - i), movie->Palette + 3 * i, 3);
    std::uint8_t identity[256];
    for (int i = 0; i < 256; ++i) identity[i] = static_cast<std::uint8_t>(i);
    benchmark::DoNotOptimize(&ValueTablesFor(movie->Trees));
    for (auto _ : state) {
        if (tablesFollow) {
            ZambRemapColours(movie, reversed, 256, 0);
        } else {
            RemapTreeColours(movie->Trees, identity);
        }
        benchmark::DoNotOptimize(&ValueTablesFor(movie->Trees));
    }
    state.counters["first-level bits"] = ValueTablesFor(movie->Trees).firstBits[FULL_TREE];
}

}  // namespace

BENCHMARK(BareLookupLoop);
BENCHMARK_CAPTURE(DecodeFrames, skip_320x240_plain, 320, 240, kMostlySkipped, false);
BENCHMARK_CAPTURE(DecodeFrames, skip_320x240_wide, 320, 240, kMostlySkipped, true);
BENCHMARK_CAPTURE(DecodeFrames, typical_320x240_plain, 320, 240, kTypical, false);
BENCHMARK_CAPTURE(DecodeFrames, typical_320x240_wide, 320, 240, kTypical, true);
BENCHMARK_CAPTURE(DecodeFrames, typical_full_320x240_plain, 320, 240, kTypical, false, true);
BENCHMARK_CAPTURE(DecodeFrames, typical_full_320x240_wide, 320, 240, kTypical, true, true);
BENCHMARK_CAPTURE(DecodeFrames, full_320x240_plain, 320, 240, kAllFull, false);
BENCHMARK_CAPTURE(DecodeFrames, full_320x240_wide, 320, 240, kAllFull, true);
BENCHMARK_CAPTURE(DecodeFrames, skip_640x480_plain, 640, 480, kMostlySkipped, false);
BENCHMARK_CAPTURE(DecodeFrames, skip_640x480_wide, 640, 480, kMostlySkipped, true);
BENCHMARK_CAPTURE(DecodeFrames, typical_640x480_plain, 640, 480, kTypical, false);
BENCHMARK_CAPTURE(DecodeFrames, typical_640x480_wide, 640, 480, kTypical, true);
BENCHMARK_CAPTURE(DecodeFrames, typical_full_640x480_plain, 640, 480, kTypical, false, true);
BENCHMARK_CAPTURE(DecodeFrames, typical_full_640x480_wide, 640, 480, kTypical, true, true);
BENCHMARK_CAPTURE(DecodeFrames, full_640x480_plain, 640, 480, kAllFull, false);
BENCHMARK_CAPTURE(DecodeFrames, full_640x480_wide, 640, 480, kAllFull, true);
BENCHMARK_CAPTURE(DecodeFrames, detailed_full_640x480_plain, 640, 480, kDetailedFull, false);
BENCHMARK_CAPTURE(DecodeFrames, detailed_full_640x480_wide, 640, 480, kDetailedFull, true);
BENCHMARK_CAPTURE(RemapCost, rebuilt_typical_640x480, kTypical, false);
BENCHMARK_CAPTURE(RemapCost, rebuilt_full_640x480, kAllFull, false);
BENCHMARK_CAPTURE(RemapCost, rebuilt_detailed_full_640x480, kDetailedFull, false);
BENCHMARK_CAPTURE(RemapCost, followed_typical_640x480, kTypical, true);
BENCHMARK_CAPTURE(RemapCost, followed_full_640x480, kAllFull, true);
BENCHMARK_CAPTURE(RemapCost, followed_detailed_full_640x480, kDetailedFull, true);
BENCHMARK_MAIN();
