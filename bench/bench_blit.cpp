// SPDX-License-Identifier: MIT
// The blitter's copies against memcpy of the same output bytes and, for the screen blits,
// against a plain colour look-up over the same source pixels; plain and vector side by side,
// and the smoothing table builds.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "blit/handle.h"
#include "core/mmx.h"

namespace {

std::vector<std::uint8_t> RandomBytes(std::size_t size, std::uint32_t seed, int range = 256) {
    std::mt19937 random(seed);
    std::vector<std::uint8_t> bytes(size);
    for (auto& byte : bytes) byte = static_cast<std::uint8_t>(random() % range);
    return bytes;
}

enum class Kind { kBlit, kTrans, kMask, kMerge };

struct Job {
    Kind kind;
    std::uint32_t flags;
    std::uint32_t width, height;
    bool vector;
};

// Destination pixels a screen blit writes per source pixel.
std::size_t OutputPerSource(std::uint32_t mode) {
    return mode % 6 == 0 ? 1 : mode % 6 == 2 ? 2 : 4;
}

// Bytes the call writes: doubled modes four destination pixels per source pixel,
// interlaced ones two.
std::size_t OutputBytes(std::uint32_t mode, std::uint32_t width, std::uint32_t height) {
    return std::size_t{width} * height * OutputPerSource(mode) * (mode >= 6 ? 2 : 1);
}

// The yardstick of the screen blits whose work is a look-up per pixel: one 16-bit colour
// per source pixel, `out[i] = table[in[i]]`, the least a blit through a colour table does.
struct LookupBaseline {
    std::vector<std::uint16_t> table = std::vector<std::uint16_t>(256);
    std::vector<std::uint16_t> out;
    explicit LookupBaseline(std::size_t pixels) : out(pixels) {
        for (std::size_t i = 0; i < table.size(); ++i)
            table[i] = static_cast<std::uint16_t>(i * 0x0101 ^ 0x5A5A);
    }
    void Run(const std::vector<std::uint8_t>& in) {
        const std::uint16_t* colours = table.data();
        std::uint16_t* to = out.data();
        for (std::size_t i = 0; i < in.size(); ++i) to[i] = colours[in[i]];
        benchmark::DoNotOptimize(to);
        benchmark::ClobberMemory();
    }
};

void RunJob(benchmark::State& state, Job job) {
    ZambUseMmx(job.vector ? 1 : 0);
    const auto palette = RandomBytes(768, 2);
    ZambBlitHandle* handle = ZambBlitOpen(job.flags);
    if (handle->palette) ZambBlitSetPalette(handle, palette.data(), 0);
    const std::uint32_t mode = handle->mode;
    const int scale = mode % 6 == 0 ? 1 : 2;
    const std::int32_t destPitch =
        static_cast<std::int32_t>(job.width * scale * (mode >= 6 ? 2 : 1));
    std::vector<std::uint8_t> dest(std::size_t(destPitch) * job.height * scale);
    // Four values give the key-colour copies keys to find; the screen blits look up every
    // colour of the palette, as a picture does.
    const auto src =
        RandomBytes(std::size_t{job.width} * job.height, 3, job.kind == Kind::kBlit ? 256 : 4);
    const auto side = RandomBytes(src.size(), 4, 4);
    const auto pitch = static_cast<std::int32_t>(job.width);
    // memcpy of the same output bytes runs between the timed calls, so both see the same
    // machine load (other programs share these cores) and the same cache state.
    const std::size_t bytes = OutputBytes(mode, job.width, job.height);
    std::vector<std::uint8_t> copyFrom = RandomBytes(bytes, 5), copyTo(bytes);
    LookupBaseline lookup(src.size());
    using Clock = std::chrono::steady_clock;
    double blitSeconds = 0, memcpySeconds = 0, lookupSeconds = 0;
    for (auto _ : state) {
        const auto start = Clock::now();
        switch (job.kind) {
            case Kind::kBlit:
                ZambBlit(handle, dest.data(), destPitch, 0, 0, src.data(), pitch, 0, 0, job.width,
                         job.height);
                break;
            case Kind::kTrans:
                ZambBlitTrans(handle, dest.data(), destPitch, 0, 0, src.data(), pitch, 0, 0,
                              job.width, job.height, 0);
                break;
            case Kind::kMask:
                ZambBlitMask(handle, dest.data(), destPitch, 0, 0, src.data(), pitch, 0, 0,
                             job.width, job.height, 0, side.data());
                break;
            case Kind::kMerge:
                ZambBlitMerge(handle, dest.data(), destPitch, 0, 0, src.data(), pitch, 0, 0,
                              job.width, job.height, 0, side.data());
                break;
        }
        benchmark::ClobberMemory();
        const auto blitted = Clock::now();
        std::memcpy(copyTo.data(), copyFrom.data(), bytes);
        benchmark::ClobberMemory();
        const auto copied = Clock::now();
        if (job.kind == Kind::kBlit) lookup.Run(src);
        const auto looked = Clock::now();
        const double blitTime = std::chrono::duration<double>(blitted - start).count();
        blitSeconds += blitTime;
        memcpySeconds += std::chrono::duration<double>(copied - blitted).count();
        lookupSeconds += std::chrono::duration<double>(looked - copied).count();
        state.SetIterationTime(blitTime);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes * state.iterations()));
    state.counters["vs_memcpy"] = memcpySeconds / blitSeconds;
    // Output pixels a second over the look-up's: 1 means as many pixels as the bare look-up.
    if (job.kind == Kind::kBlit)
        state.counters["vs_lookup"] = OutputPerSource(mode) * lookupSeconds / blitSeconds;
    ZambBlitClose(handle);
    ZambUseMmx(1);
}

void SmoothBuild8(benchmark::State& state) {
    const auto palette = RandomBytes(768, 5);
    std::vector<std::uint8_t> table(65536);
    for (auto _ : state) {
        BuildSmoothTable8(palette.data(), table.data());
        benchmark::ClobberMemory();
    }
}

void SmoothBuild565(benchmark::State& state) {
    const auto palette = RandomBytes(768, 6);
    std::vector<std::uint16_t> table(65536);
    for (auto _ : state) {
        BuildSmoothTable565(palette.data(), table.data());
        benchmark::ClobberMemory();
    }
}

void RegisterAll() {
    const std::pair<const char*, std::uint32_t> modes[] = {
        {"mode0", ZAMBBLIT_1X},
        {"mode1", ZAMBBLIT_2X},
        {"mode2", ZAMBBLIT_2X_INTERLACE},
        {"mode3", ZAMBBLIT_2X_SMOOTH},
        {"mode6", ZAMBBLIT_RGB565},
        {"mode7", ZAMBBLIT_RGB565 | ZAMBBLIT_2X},
        {"mode8", ZAMBBLIT_RGB565 | ZAMBBLIT_2X_INTERLACE},
        {"mode9", ZAMBBLIT_RGB565 | ZAMBBLIT_2X_SMOOTH},
    };
    const std::pair<const char*, Kind> keyed[] = {
        {"trans", Kind::kTrans}, {"mask", Kind::kMask}, {"merge", Kind::kMerge}};
    const std::pair<std::uint32_t, std::uint32_t> sizes[] = {{320, 240}, {640, 480}};
    for (const auto& [w, h] : sizes) {
        // Appended piece by piece: GCC 12 warns falsely about "/" + std::string.
        std::string size = "/";
        size += std::to_string(w);
        size += 'x';
        size += std::to_string(h);
        for (bool vector : {false, true}) {
            const std::string path = vector ? "/vector" : "/plain";
            for (const auto& [name, flags] : modes)
                benchmark::RegisterBenchmark((name + size + path).c_str(), RunJob,
                                             Job{Kind::kBlit, flags, w, h, vector})
                    ->UseManualTime();
            for (const auto& [name, kind] : keyed)
                benchmark::RegisterBenchmark((name + size + path).c_str(), RunJob,
                                             Job{kind, ZAMBBLIT_1X, w, h, vector})
                    ->UseManualTime();
        }
    }
    benchmark::RegisterBenchmark("smooth_table_8bit", SmoothBuild8)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("smooth_table_565", SmoothBuild565)->Unit(benchmark::kMillisecond);
}

}  // namespace

// The blitter calls this around its table builds; the benchmark has no sound to serve.
extern "C" void ZambServiceSound(void) {}

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RegisterAll();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
