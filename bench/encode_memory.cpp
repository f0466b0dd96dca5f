// SPDX-License-Identifier: MIT
// What zmbtool encode costs as the pictures grow in number: peak resident memory and CPU time
// (user and system) for 30 and for 300 generated 640x480 truecolour pictures, with a scene
// palette and with one movie palette. Given a second zmbtool (an older build, say), each run
// of one comes right after a run of the other, so that both see the same load on a shared
// machine. Prints the median of the runs.
//
// usage: encode_memory [-n RUNS] [-b BASELINE_ZMBTOOL] [ZMBTOOL]
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "encode_clips.h"

namespace {

namespace fs = std::filesystem;

constexpr int kWidth = 640, kHeight = 480, kMost = 300;

struct Cost {
    long kilobytes = -1;
    double cpuSeconds = 0;
};

// One run of `zmbtool` with `arguments`, its output discarded; kilobytes -1 on failure.
Cost Measure(const std::string& zmbtool, const std::vector<std::string>& arguments) {
    std::vector<char*> argv{const_cast<char*>(zmbtool.c_str())};
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    // The child must not print again what this process has buffered.
    std::fflush(stdout);
    const pid_t child = ::fork();
    if (child == 0) {
        if (!std::freopen("/dev/null", "w", stdout) || !std::freopen("/dev/null", "w", stderr))
            ::_exit(126);
        ::execv(zmbtool.c_str(), argv.data());
        ::_exit(127);
    }
    int status = 0;
    struct rusage usage {};
    Cost cost;
    if (child < 0 || ::wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0)
        return cost;
    cost.kilobytes = usage.ru_maxrss;
    cost.cpuSeconds = usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
                      (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    return cost;
}

template <typename T>
T Median(std::vector<T> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// A pan over a textured scene with moving colour ramps: every picture new.
void WritePictures(const fs::path& folder) {
    using zambrel::clips::Clamp;
    for (int f = 0; f < kMost; ++f) {
        const auto clip = zambrel::clips::Make(
            "pan", kWidth, kHeight, 1, [f](int, int x, int y, std::uint8_t* p) {
                const int u = x + 2 * f;
                const double base = 100 + 60 * std::sin(u / 23.0) * std::cos(y / 17.0);
                const double grain = static_cast<int>(zambrel::clips::Hash(u, y, 0) % 21) - 10;
                p[0] = Clamp(base + 40 + grain + 40 * std::sin((x + 3.0 * f) / 40.0));
                p[1] = Clamp(255.0 * y / kHeight * 0.5 + base * 0.5 + grain);
                p[2] = Clamp(base - 30 + grain + 60 * std::cos((x + y - 2.0 * f) / 60.0));
            });
        char name[32];
        std::snprintf(name, sizeof name, "frame%04d.png", f);
        zambrel::clips::WriteRgbPng((folder / name).string(), kWidth, kHeight, clip.frames[0]);
    }
}

}  // namespace

int main(int argc, char** argv) {
    int runs = 3;
    std::string baseline;
    int option;
    while ((option = ::getopt(argc, argv, "n:b:")) != -1) {
        if (option == 'n')
            runs = std::max(1, std::atoi(optarg));
        else if (option == 'b')
            baseline = optarg;
        else
            return std::fprintf(stderr, "usage: %s [-n RUNS] [-b BASELINE_ZMBTOOL] [ZMBTOOL]\n",
                                argv[0]),
                   2;
    }
    const std::string zmbtool = optind < argc ? argv[optind] : ZMBTOOL_PATH;
    const fs::path folder =
        fs::temp_directory_path() / ("encode_memory-" + std::to_string(::getpid()));
    fs::create_directories(folder);
    WritePictures(folder);
    std::vector<std::string> tools{zmbtool};
    if (!baseline.empty()) tools.push_back(baseline);
    std::printf(
        "| pictures | palette | zmbtool | peak memory | CPU time |\n|---|---|---|---|---|\n");
    for (const int count : {30, kMost})
        for (const char* palette : {"scene", "movie"}) {
            std::vector<std::vector<Cost>> costs(tools.size());
            for (int run = 0; run < runs; ++run)
                for (std::size_t t = 0; t < tools.size(); ++t)
                    costs[t].push_back(
                        Measure(tools[t], {"encode", (folder / "frame0000.png").string(),
                                           (folder / "out.zmb").string(), "--force", "--count",
                                           std::to_string(count), "--palette", palette}));
            for (std::size_t t = 0; t < tools.size(); ++t) {
                std::vector<long> kilobytes;
                std::vector<double> seconds;
                for (const Cost& cost : costs[t])
                    kilobytes.push_back(cost.kilobytes), seconds.push_back(cost.cpuSeconds);
                std::printf("| %d | %s | %s | %.1f MB | %.2f s |\n", count, palette,
                            t == 0 ? "this" : "baseline", Median(kilobytes) / 1024.0,
                            Median(seconds));
            }
        }
    fs::remove_all(folder);
    return 0;
}
