// SPDX-License-Identifier: MIT
// zmbtool encode's pictures a second with one thread and with its default (reading and
// reducing the next picture beside the coding of the one before), at 320x240 and 640x480.
// Runs of the two alternate, so that both see the same load on a shared machine; prints the
// minimum, median and maximum of each, and the load average when it began.
//
// usage: encode_threads [-n RUNS] [ZMBTOOL]
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "encode_clips.h"

namespace {

namespace fs = std::filesystem;

// Seconds of wall time one encode takes; negative on failure.
double Seconds(const std::string& zmbtool, const std::string& first, const std::string& out,
               const char* threads) {
    std::fflush(stdout);
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = ::fork();
    if (child == 0) {
        if (!std::freopen("/dev/null", "w", stderr)) ::_exit(126);
        ::execl(zmbtool.c_str(), zmbtool.c_str(), "encode", "-f", first.c_str(), out.c_str(),
                "--threads", threads, static_cast<char*>(nullptr));
        ::_exit(127);
    }
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0)
        return -1;
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void Report(const char* label, std::vector<double> fps) {
    std::sort(fps.begin(), fps.end());
    std::printf("  %-10s %6.1f %6.1f %6.1f pictures a second (min, median, max)\n", label,
                fps.front(), fps[fps.size() / 2], fps.back());
}

}  // namespace

int main(int argc, char** argv) {
    int runs = 5;
    std::string zmbtool = ZMBTOOL_PATH;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "-n" && i + 1 < argc)
            runs = std::atoi(argv[++i]);
        else
            zmbtool = argv[i];
    }
    std::string load;
    std::getline(std::ifstream("/proc/loadavg"), load);
    std::printf("load average at the start: %s\n", load.c_str());
    const fs::path folder =
        fs::temp_directory_path() / ("encode-threads-" + std::to_string(::getpid()));
    for (const auto& [width, height, count] :
         {std::tuple{320, 240, 60}, std::tuple{640, 480, 30}}) {
        fs::remove_all(folder);
        fs::create_directories(folder);
        const zambrel::clips::Clip clip = zambrel::clips::PhotoNoise(width, height, count);
        for (int f = 0; f < count; ++f)
            zambrel::clips::WriteRgbPng(
                (folder / ("p" + std::to_string(1000 + f) + ".png")).string(), width, height,
                clip.frames[static_cast<std::size_t>(f)]);
        const std::string first = (folder / "p1000.png").string();
        const std::string out = (folder / "m.zmb").string();
        std::vector<double> one, two;
        for (int r = 0; r < runs; ++r) {
            const double a = Seconds(zmbtool, first, out, "1"),
                         b = Seconds(zmbtool, first, out, "2");
            if (a <= 0 || b <= 0) return std::fprintf(stderr, "encode failed\n"), 1;
            one.push_back(count / a);
            two.push_back(count / b);
        }
        std::printf("%dx%d, %d pictures, %d runs each:\n", width, height, count, runs);
        Report("1 thread", one);
        Report("2 threads", two);
    }
    fs::remove_all(folder);
    return 0;
}
