// SPDX-License-Identifier: MIT
// zmbtool encode's pictures a second with one thread and with its default (a thread a core),
// at 320x240 and 640x480. Runs of the two alternate, so that both see the same load on a
// shared machine; prints the minimum, median and maximum of each, the median ratio, the CPU
// time each run took (the same for both when threads only share the work out), how many cores
// the run kept busy on the whole (its CPU time over its wall time), and the load average when
// it began and ended. On a machine busy with other work the ratio says little: the CPU times,
// the cores kept busy and the load say how far to trust it.
//
// usage: encode_threads [-n RUNS] [ZMBTOOL]
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "encode_clips.h"

namespace {

namespace fs = std::filesystem;

struct Run {
    double wall = -1, cpu = 0;  // seconds; wall negative on failure
};

// One encode; `threads` null for zmbtool's default.
Run Encode(const std::string& zmbtool, const std::string& first, const std::string& out,
           const char* threads) {
    std::fflush(stdout);
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = ::fork();
    if (child == 0) {
        if (!std::freopen("/dev/null", "w", stderr)) ::_exit(126);
        if (threads != nullptr)
            ::execl(zmbtool.c_str(), zmbtool.c_str(), "encode", "-f", first.c_str(), out.c_str(),
                    "--threads", threads, static_cast<char*>(nullptr));
        else
            ::execl(zmbtool.c_str(), zmbtool.c_str(), "encode", "-f", first.c_str(), out.c_str(),
                    static_cast<char*>(nullptr));
        ::_exit(127);
    }
    int status = 0;
    rusage usage{};
    Run run;
    if (child < 0 || ::wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0)
        return run;
    run.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    run.cpu = seconds(usage.ru_utime) + seconds(usage.ru_stime);
    return run;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

void Report(const char* label, int count, const std::vector<double>& fps,
            const std::vector<double>& cpu) {
    std::printf(
        "  %-10s %6.1f %6.1f %6.1f pictures a second (min, median, max), %.2f s CPU, "
        "%.2f cores busy\n",
        label, *std::min_element(fps.begin(), fps.end()), Median(fps),
        *std::max_element(fps.begin(), fps.end()), Median(cpu),
        Median(cpu) / (count / Median(fps)));
}

std::string Load() {
    std::string load;
    std::getline(std::ifstream("/proc/loadavg"), load);
    return load;
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
    std::printf("load average at the start: %s\n", Load().c_str());
    const fs::path folder =
        fs::temp_directory_path() / ("encode-threads-" + std::to_string(::getpid()));
    for (const auto& [width, height, count] :
         {std::tuple{320, 240, 60}, std::tuple{640, 480, 30}}) {
        fs::remove_all(folder);
        fs::create_directories(folder);
        const zambrel::clips::Clip clip = zambrel::clips::PhotoNoise(width, height, count);
        for (int f = 0; f < count; ++f) {
            // Appended, not added up from a literal: GCC 12 warns of a false overlap there.
            std::string name = "p";
            name += std::to_string(1000 + f);
            name += ".png";
            zambrel::clips::WriteRgbPng((folder / name).string(), width, height,
                                        clip.frames[static_cast<std::size_t>(f)]);
        }
        const std::string first = (folder / "p1000.png").string();
        const std::string out = (folder / "m.zmb").string();
        std::vector<double> one, all, oneCpu, allCpu;
        for (int r = 0; r < runs; ++r) {
            const Run a = Encode(zmbtool, first, out, "1"),
                      b = Encode(zmbtool, first, out, nullptr);
            if (a.wall <= 0 || b.wall <= 0) return std::fprintf(stderr, "encode failed\n"), 1;
            one.push_back(count / a.wall);
            all.push_back(count / b.wall);
            oneCpu.push_back(a.cpu);
            allCpu.push_back(b.cpu);
        }
        std::printf("%dx%d, %d pictures, %d runs each, %u cores:\n", width, height, count, runs,
                    std::thread::hardware_concurrency());
        Report("1 thread", count, one, oneCpu);
        Report("default", count, all, allCpu);
        std::printf("  median rate of the default over one thread: %.2fx\n",
                    Median(all) / Median(one));
    }
    std::printf("load average at the end: %s\n", Load().c_str());
    fs::remove_all(folder);
    return 0;
}
