// SPDX-License-Identifier: MIT
// Decoder handles against the system's own interface on the same writer-made movie, measured
// in the same run: pictures as indices and as RGBA, two movies decoded in turn, two handles
// on two threads against one thread, and the cost of a seek.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <random>
#include <thread>
#include <vector>

#include "core/movie_names.h"
#include "encoder/writer.h"
#include "platform/standin/kernel/seams.h"
#include "platform/win32.h"
#include "zambrel/decoder.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kWidth = 320, kHeight = 240, kFrames = 60;

// Moving detail over a still background, a palette change every tenth frame, and sound
// when asked.
Bytes MakeMovie(unsigned seed, bool withSound) {
    zambrel::encoder::MovieRecipe recipe;
    recipe.width = kWidth;
    recipe.height = kHeight;
    std::mt19937 random(seed);
    for (std::uint32_t f = 0; f < kFrames; ++f) {
        zambrel::encoder::Picture p;
        p.pixels.resize(std::size_t{kWidth} * kHeight);
        for (std::uint32_t y = 0; y < kHeight; ++y)
            for (std::uint32_t x = 0; x < kWidth; ++x) {
                std::uint8_t v = static_cast<std::uint8_t>(16 + (y / 16) % 8);
                if ((x / 4 + y / 4 + f) % 5 == 0) v = static_cast<std::uint8_t>(random() % 192);
                p.pixels[std::size_t{y} * kWidth + x] = v;
            }
        for (int i = 0; i < 768; ++i)
            p.palette[i] =
                zambrel::encoder::WidenLevel(static_cast<std::uint8_t>((i + f / 10) & 63));
        recipe.pictures.push_back(std::move(p));
    }
    recipe.tracks[0].present = withSound;
    recipe.tracks[0].sampleRate = 22050;
    recipe.tracks[0].is16Bit = true;
    for (std::uint32_t i = 0; withSound && i < 22050 * 2 * kFrames / 15; ++i)
        recipe.tracks[0].samples.push_back(static_cast<std::uint8_t>(i * 7 ^ random() % 4));
    return zambrel::encoder::WriteMovie(recipe).bytes;
}

// The pictures are compared without sound: the system's interface would need a device to
// decode it.
const Bytes& Movie1() {
    static const Bytes movie = MakeMovie(1, false);
    return movie;
}
const Bytes& Movie2() {
    static const Bytes movie = MakeMovie(2, false);
    return movie;
}
const Bytes& MovieWithSound() {
    static const Bytes movie = MakeMovie(1, true);
    return movie;
}

// The system's interface: a memory file, a destination buffer, every frame decoded.
struct SystemMovie {
    HANDLE file;
    Movie* movie;
    Bytes picture = Bytes(std::size_t{kWidth} * kHeight);
    explicit SystemMovie(const Bytes& bytes)
        : file(standin::OpenMemoryFile(bytes.data(), bytes.size())),
          movie(ZambOpen(file, ZAMB_FILE_HANDLE | ZAMB_NO_SKIP, 0xFFFFFFFFu)) {
        ZambSetDestination(movie, 0, 0, kWidth, kHeight, picture.data(), 0);
    }
    ~SystemMovie() {
        ZambClose(movie);
        CloseHandle(file);
    }
    void Frame() {
        ZambDoFrame(movie);
        while (ZambNextRect(movie, 0)) {
        }
        ZambNextFrame(movie);
    }
};

struct Handle {
    ZambDecoder* decoder = nullptr;
    explicit Handle(const Bytes& bytes, std::uint32_t flags = ZAMBOPEN_LOOP) {
        ZambDecoderOpenMemory(bytes.data(), bytes.size(), flags, &decoder);
    }
    ~Handle() { ZambDecoderClose(decoder); }
    Bytes sound = Bytes(1 << 16);
    void Frame(std::uint32_t format, Bytes& out) {
        ZambDecoderNextFrame(decoder);
        const std::size_t pitch = format == ZAMBPIX_INDEX8 ? kWidth : kWidth * 4;
        ZambDecoderGetPicture(decoder, format, out.data(), pitch, out.size(), 0);
        ZambDecoderReadSound(decoder, 0, sound.data(), sound.size());
    }
};

// Frames per second of the system's interface in this run, the baseline of the others.
double SystemFramesPerSecond = 0;

void Report(benchmark::State& state, double framesPerSecond) {
    state.counters["frames/s"] = framesPerSecond;
    if (SystemFramesPerSecond > 0)
        state.counters["vs system"] = framesPerSecond / SystemFramesPerSecond;
}

double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

// The machine may be shared: rates on one thread are taken in processor time.
double ProcessorSeconds(std::clock_t since) {
    return static_cast<double>(std::clock() - since) / CLOCKS_PER_SEC;
}

void SystemInterface(benchmark::State& state) {
    SystemMovie movie(Movie1());
    std::uint64_t frames = 0;
    const std::clock_t start = std::clock();
    for (auto _ : state) {
        movie.Frame();
        ++frames;
    }
    SystemFramesPerSecond = frames / ProcessorSeconds(start);
    Report(state, SystemFramesPerSecond);
}
BENCHMARK(SystemInterface);

void HandleFrames(benchmark::State& state, std::uint32_t format, bool withSound) {
    Handle handle(withSound ? MovieWithSound() : Movie1());
    Bytes out(std::size_t{kWidth} * kHeight * 4);
    std::uint64_t frames = 0;
    const std::clock_t start = std::clock();
    for (auto _ : state) {
        handle.Frame(format, out);
        ++frames;
    }
    Report(state, frames / ProcessorSeconds(start));
}
BENCHMARK_CAPTURE(HandleFrames, Indices, ZAMBPIX_INDEX8, false);
BENCHMARK_CAPTURE(HandleFrames, Rgba, ZAMBPIX_RGBA32, false);
// The same pictures with 16-bit sound at 22,050 Hz decoded and queued in every frame.
BENCHMARK_CAPTURE(HandleFrames, IndicesWithSound, ZAMBPIX_INDEX8, true);

// Two movies decoded in turn on one thread: each keeps its own tables.
void SystemTwoMoviesInTurn(benchmark::State& state) {
    SystemMovie one(Movie1()), two(Movie2());
    std::uint64_t frames = 0;
    const std::clock_t start = std::clock();
    for (auto _ : state) {
        one.Frame();
        two.Frame();
        frames += 2;
    }
    Report(state, frames / ProcessorSeconds(start));
}
BENCHMARK(SystemTwoMoviesInTurn);

// Decodes `frames` frames of each movie, one handle per thread or both on this thread.
double TwoMovies(std::uint32_t frames, bool threads) {
    auto run = [frames](const Bytes* movie) {
        Handle handle(*movie);
        Bytes out(std::size_t{kWidth} * kHeight * 4);
        for (std::uint32_t f = 0; f < frames; ++f) handle.Frame(ZAMBPIX_RGBA32, out);
    };
    const auto start = Clock::now();
    if (threads) {
        std::thread first(run, &Movie1()), second(run, &Movie2());
        first.join();
        second.join();
    } else {
        run(&Movie1());
        run(&Movie2());
    }
    return 2.0 * frames / Seconds(start);
}

void TwoHandles(benchmark::State& state) {
    const bool threads = state.range(0) != 0;
    double oneThread = 0, framesPerSecond = 0;
    for (auto _ : state) {
        oneThread = TwoMovies(4 * kFrames, false);
        framesPerSecond = TwoMovies(4 * kFrames, threads);
    }
    Report(state, framesPerSecond);
    state.counters["vs one thread"] = framesPerSecond / oneThread;
}
BENCHMARK(TwoHandles)->Arg(0)->Arg(1)->UseRealTime()->Unit(benchmark::kMillisecond);

// A seek from the start to the middle: every frame before it is decoded.
void SeekToMiddle(benchmark::State& state) {
    Handle handle(Movie1(), 0);
    for (auto _ : state) {
        ZambDecoderSeek(handle.decoder, 0);
        ZambDecoderSeek(handle.decoder, kFrames / 2);
    }
    // Frames decoded per second of processor time while seeking.
    state.counters["frames sought/s"] = benchmark::Counter(
        double(state.iterations()) * (kFrames / 2 + 1), benchmark::Counter::kIsRate);
}
BENCHMARK(SeekToMiddle)->Unit(benchmark::kMillisecond);

// A long 640x480 movie at 24 frames a second with a 22,050 Hz track whose sound leads the
// pictures. Its index is given the share of 64 MiB that a ten-minute movie's 14,400 frames
// would have, so that its snapshots lie as far apart as that movie's would: 1,005 frames
// take 15 snapshots 67 frames apart, as 14,400 take 214.
constexpr std::uint32_t kLongWidth = 640, kLongHeight = 480, kLongFrames = 1005;
constexpr std::size_t kLongBudget = (std::size_t{64} << 20) / 14400 * kLongFrames;

const Bytes& LongMovie() {
    static const Bytes movie = [] {
        zambrel::encoder::MovieRecipe recipe;
        recipe.width = kLongWidth;
        recipe.height = kLongHeight;
        recipe.frameRate = -4167;
        recipe.soundLead = zambrel::encoder::kAutomaticSoundLead;
        std::mt19937 random(5);
        zambrel::encoder::Picture p;
        p.pixels.resize(std::size_t{kLongWidth} * kLongHeight);
        for (int i = 0; i < 768; ++i)
            p.palette[i] = zambrel::encoder::WidenLevel(static_cast<std::uint8_t>(i & 63));
        for (std::uint32_t f = 0; f < kLongFrames; ++f) {
            // A pan over detail: every block changes every frame, as in busy film footage.
            for (std::uint32_t y = 0; y < kLongHeight; ++y)
                for (std::uint32_t x = 0; x < kLongWidth; ++x)
                    p.pixels[std::size_t{y} * kLongWidth + x] = static_cast<std::uint8_t>(
                        ((x + 3 * f) / 3 ^ (y + f) / 5) % 97 + (random() % 4));
            recipe.pictures.push_back(p);
        }
        auto& track = recipe.tracks[0];
        track.present = true;
        track.sampleRate = 22050;
        track.compressed = true;
        for (std::uint32_t i = 0; i < 22050u * kLongFrames / 24; ++i)
            track.samples.push_back(static_cast<std::uint8_t>(128 + (i % 50) - 25 + random() % 3));
        return zambrel::encoder::WriteMovie(recipe).bytes;
    }();
    return movie;
}

// Random seeks anywhere in the long movie, with the index built first (1) or none (0):
// milliseconds per seek, and the index's memory.
void SeekLongMovie(benchmark::State& state) {
    const bool indexed = state.range(0) != 0;
    Handle handle(LongMovie(), 0);
    ZambDecoderSetIndexBudget(handle.decoder, indexed ? kLongBudget : 0);
    if (indexed) ZambDecoderBuildIndex(handle.decoder);
    std::mt19937 random(9);
    double slowest = 0;  // processor time, which other programs on the machine do not stretch
    for (auto _ : state) {
        const std::clock_t started = std::clock();
        ZambDecoderSeek(handle.decoder, random() % kLongFrames);
        slowest = std::max(slowest, ProcessorSeconds(started) * 1000);
    }
    state.counters["slowest cpu ms"] = slowest;
    state.counters["index MB"] = double(ZambDecoderIndexBytes(handle.decoder)) / (1 << 20);
    state.counters["ten-minute index MB"] =
        double(ZambDecoderIndexBytes(handle.decoder)) / (1 << 20) * 14400 / kLongFrames;
}
BENCHMARK(SeekLongMovie)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(40);

// A decode of every frame from the start, taking snapshots as it goes (1) or not (0); the
// ratio is the indexed decode's time over the plain one's, measured alternately.
void DecodeLongMovie(benchmark::State& state) {
    auto decodeAll = [](std::size_t budget) {
        Handle handle(LongMovie(), 0);
        ZambDecoderSetIndexBudget(handle.decoder, budget);
        const std::clock_t started = std::clock();
        while (ZambDecoderNextFrame(handle.decoder) == ZAMBERR_NONE) {
        }
        return ProcessorSeconds(started);
    };
    double plain = 0, indexed = 0;
    for (auto _ : state) {
        plain += decodeAll(0);
        indexed += decodeAll(kLongBudget);
    }
    state.counters["indexed / plain"] = indexed / plain;
    state.counters["frames/s plain"] = double(state.iterations()) * kLongFrames / plain;
}
BENCHMARK(DecodeLongMovie)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
