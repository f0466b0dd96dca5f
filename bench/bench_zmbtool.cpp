// SPDX-License-Identifier: MIT
// zmbtool decode to Y4M and to GIF against --raw, and to WebM and WebP against Y4M, run as a
// user runs it, on the demo movie and on a 640x480 movie, with the ratios taken in the same
// run and the GIF's size; and a folder of 8 movies decoded to WebM with -j 1 against -j 2.
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

std::string Tool() {
    return Setting("ZMBTOOL", BuildTree() / "tools/zmbtool/zmbtool");
}

// The size of the movie's GIF, which the time spent coding it buys: written once to a
// temporary file, or -1 when that fails.
double GifBytes(const std::string& tool, const std::string& movie) {
    const fs::path gif =
        fs::temp_directory_path() / ("zmbtool-bench-" + std::to_string(::getpid()) + ".gif");
    const std::string command =
        "'" + tool + "' decode '" + movie + "' --gif '" + gif.string() + "' -f 2>/dev/null";
    std::error_code failure;
    const double bytes =
        std::system(command.c_str()) == 0 ? double(fs::file_size(gif, failure)) : -1;
    fs::remove(gif, failure);
    return failure ? -1 : bytes;
}

// One iteration decodes the movie five times, to --raw, --y4m, --gif, --webm and --webp,
// each into /dev/null (a stream, so no disk is timed).
void DecodeFormats(benchmark::State& state, const std::string& movie, long frames) {
    const std::string tool = Tool();
    if (movie.empty()) return state.SkipWithError("no movie");
    const std::string base = "'" + tool + "' decode '" + movie + "' 2>/dev/null ";
    const char* const outputs[] = {"--raw", "--y4m", "--gif", "--webm", "--webp"};
    double seconds[std::size(outputs)] = {};
    for (auto _ : state) {
        for (std::size_t i = 0; i < std::size(outputs); ++i) {
            const double s = SecondsToRun(base + outputs[i] + " /dev/null");
            if (s < 0) return state.SkipWithError(("cannot run " + tool).c_str());
            seconds[i] += s;
        }
    }
    const double n = static_cast<double>(state.iterations()) * frames;
    const auto& [raw, y4m, gif, webm, webp] = seconds;
    state.counters["raw_fps"] = n / raw;
    state.counters["y4m_fps"] = n / y4m;
    state.counters["gif_fps"] = n / gif;
    state.counters["gif_bytes"] = GifBytes(tool, movie);
    state.counters["webm_fps"] = n / webm;
    state.counters["webp_fps"] = n / webp;
    state.counters["y4m_time_vs_raw"] = y4m / raw;
    state.counters["gif_time_vs_raw"] = gif / raw;
    state.counters["webm_time_vs_y4m"] = webm / y4m;
    state.counters["webp_time_vs_y4m"] = webp / y4m;
}

// A folder of 8 copies of the demo, made once and removed at exit.
fs::path folderMade;

fs::path EightMovies() {
    static const fs::path folder = [] {
        const fs::path made =
            fs::temp_directory_path() / ("zmbtool-bench-folder-" + std::to_string(::getpid()));
        const fs::path demo = Setting("ZAMBREL_DEMO", BuildTree() / "demo/demo.zmb");
        std::error_code failure;
        fs::create_directories(made / "out", failure);
        for (char name = 'a'; name < 'a' + 8 && !failure; ++name)
            fs::copy_file(demo, made / (std::string(1, name) + ".zmb"), failure);
        if (failure) return fs::path();
        return folderMade = made;
    }();
    return folder;
}

// One iteration converts the folder to WebMs twice, one movie at a time and two at a time;
// the ratio is what the second process buys on this machine.
void FolderOfEight(benchmark::State& state) {
    const fs::path folder = EightMovies();
    if (folder.empty()) return state.SkipWithError("cannot make the folder of movies");
    const std::string command = "'" + Tool() + "' decode '" + folder.string() + "'/?.zmb --webm '" +
                                (folder / "out").string() + "' --force >/dev/null 2>&1 -j ";
    double one = 0, two = 0;
    for (auto _ : state) {
        const double s1 = SecondsToRun(command + "1");
        const double s2 = SecondsToRun(command + "2");
        if (s1 < 0 || s2 < 0) return state.SkipWithError("cannot run zmbtool");
        one += s1, two += s2;
    }
    const double n = static_cast<double>(state.iterations()) * 8 * 150;
    state.counters["j1_fps"] = n / one;
    state.counters["j2_fps"] = n / two;
    state.counters["j1_time_vs_j2"] = one / two;
}

void Demo(benchmark::State& state) {
    DecodeFormats(state, Setting("ZAMBREL_DEMO", BuildTree() / "demo/demo.zmb"), 150);
}
void Large640x480(benchmark::State& state) {
    DecodeFormats(state, LargeMovie(), 60);
}

BENCHMARK(Demo)->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK(Large640x480)->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK(FolderOfEight)->Iterations(2)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (!largeMovieMade.empty()) std::filesystem::remove(largeMovieMade);
    if (!folderMade.empty()) std::filesystem::remove_all(folderMade);
    return 0;
}
