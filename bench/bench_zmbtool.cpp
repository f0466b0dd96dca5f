// SPDX-License-Identifier: MIT
// zmbtool decode to Y4M and to GIF against --raw, run as a user runs it, on the demo movie
// and on a 640x480 movie, with the ratios to --raw taken in the same run.
//
// zmbtool is found through ZMBTOOL (default: the build tree's tools/zmbtool/zmbtool beside
// this program's folder), the demo through ZAMBREL_DEMO (default: the build tree's demo).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "encoder/writer.h"

namespace {

namespace fs = std::filesystem;
using zambrel::encoder::MovieRecipe;
using zambrel::encoder::Picture;

fs::path BuildTree() {
    char path[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) return ".";
    return fs::path(std::string(path, static_cast<std::size_t>(length)))
        .parent_path()
        .parent_path();
}

std::string Setting(const char* name, const fs::path& fallback) {
    const char* value = std::getenv(name);
    return value != nullptr && *value ? value : fallback.string();
}

// A 640x480 movie of 60 frames in which a grid scrolls, squares move and the palette turns,
// so that every output format has changed areas and changed palettes to carry.
std::string largeMovieMade;  // removed at exit

std::string LargeMovie() {
    static const std::string path = [] {
        const std::string file =
            (fs::temp_directory_path() / ("zmbtool-bench-" + std::to_string(::getpid()) + ".zmb"))
                .string();
        MovieRecipe recipe;
        recipe.width = 640;
        recipe.height = 480;
        for (int f = 0; f < 60; ++f) {
            Picture picture;
            picture.pixels.resize(640 * 480);
            for (std::uint32_t y = 0; y < 480; ++y)
                for (std::uint32_t x = 0; x < 640; ++x) {
                    const bool square = (x + 7 * f) % 160 < 40 && (y + 3 * f) % 120 < 40;
                    picture.pixels[y * 640 + x] = static_cast<std::uint8_t>(
                        square ? 200 + (x / 40) % 8 : ((x + f) / 16 + y / 16) % 128);
                }
            for (int e = 0; e < 256; ++e)
                for (int c = 0; c < 3; ++c)
                    picture.palette[e * 3 + c] = zambrel::encoder::WidenLevel(
                        static_cast<std::uint8_t>((e * (c + 2) + f) & 63));
            recipe.pictures.push_back(picture);
        }
        std::string error;
        if (!zambrel::encoder::WriteMovieFile(recipe, file, &error)) return std::string();
        return largeMovieMade = file;
    }();
    return path;
}

double SecondsToRun(const std::string& command) {
    const auto start = std::chrono::steady_clock::now();
    if (std::system(command.c_str()) != 0) return -1;
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// One iteration decodes the movie three times, to --raw, --y4m and --gif, each into
// /dev/null (a stream, so no disk is timed).
void DecodeFormats(benchmark::State& state, const std::string& movie, long frames) {
    const std::string tool = Setting("ZMBTOOL", BuildTree() / "tools/zmbtool/zmbtool");
    if (movie.empty()) return state.SkipWithError("no movie");
    const std::string base = "'" + tool + "' decode '" + movie + "' 2>/dev/null ";
    double raw = 0, y4m = 0, gif = 0;
    for (auto _ : state) {
        const double r = SecondsToRun(base + "--raw /dev/null");
        const double y = SecondsToRun(base + "--y4m /dev/null");
        const double g = SecondsToRun(base + "--gif /dev/null");
        if (r < 0 || y < 0 || g < 0) return state.SkipWithError(("cannot run " + tool).c_str());
        raw += r, y4m += y, gif += g;
    }
    const double n = static_cast<double>(state.iterations()) * frames;
    state.counters["raw_fps"] = n / raw;
    state.counters["y4m_fps"] = n / y4m;
    state.counters["gif_fps"] = n / gif;
    state.counters["y4m_time_vs_raw"] = y4m / raw;
    state.counters["gif_time_vs_raw"] = gif / raw;
}

void Demo(benchmark::State& state) {
    DecodeFormats(state, Setting("ZAMBREL_DEMO", BuildTree() / "demo/demo.zmb"), 150);
}
void Large640x480(benchmark::State& state) {
    DecodeFormats(state, LargeMovie(), 60);
}

BENCHMARK(Demo)->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK(Large640x480)->Iterations(5)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (!largeMovieMade.empty()) std::filesystem::remove(largeMovieMade);
    return 0;
}
