// SPDX-License-Identifier: MIT
// zmbtool encode's pictures a second with one thread and with its default (a thread a core),
// at 320x240 and 640x480. Runs of the two alternate, so that both see the same load on a
// shared machine; prints the minimum, median and maximum of each, the median ratio, the CPU
// time each run took (the same for both when threads only share the work out), how many cores
// the run kept busy on the whole (its CPU time over its wall time), its peak memory, and the
// load average when it began and ended. On a machine busy with other work the ratio says
// little: the CPU times, the cores kept busy and the load say how far to trust it. Given a
// second zmbtool (an earlier build, say), its runs alternate with the first's too, so that the
// two are compared in the same spell.
//
// usage: encode_threads [-n RUNS] [ZMBTOOL [REFERENCE]]
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
    long peakKb = 0;            // the most memory the run held
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
    run.peakKb = usage.ru_maxrss;
    return run;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// The runs of one zmbtool with one setting of threads.
struct Series {
    std::vector<double> fps, cpu, peakMb;
    void Add(int count, const Run& run) {
        fps.push_back(count / run.wall);
        cpu.push_back(run.cpu);
        peakMb.push_back(run.peakKb / 1024.0);
    }
};

void Report(const std::string& label, int count, const Series& s) {
    std::printf(
        "  %-20s %6.1f %6.1f %6.1f pictures a second (min, median, max), %.2f s CPU, "
        "%.2f cores busy, peak %.1f MB\n",
        label.c_str(), *std::min_element(s.fps.begin(), s.fps.end()), Median(s.fps),
        *std::max_element(s.fps.begin(), s.fps.end()), Median(s.cpu),
        Median(s.cpu) / (count / Median(s.fps)), Median(s.peakMb));
}

// Both settings of one zmbtool, and the ratio of their median rates.
void ReportBoth(const std::string& name, int count, const Series& one, const Series& all) {
    Report(name + "1 thread", count, one);
    Report(name + "default", count, all);
    std::printf("  %smedian rate of the default over one thread: %.2fx\n", name.c_str(),
                Median(all.fps) / Median(one.fps));
}

std::string Load() {
    std::string load;
    std::getline(std::ifstream("/proc/loadavg"), load);
    return load;
}

}  // namespace

int main(int argc, char** argv) {
    int runs = 5;
    std::vector<std::string> tools;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "-n" && i + 1 < argc)
            runs = std::atoi(argv[++i]);
        else
            tools.push_back(argv[i]);
    }
    if (tools.empty()) tools.push_back(ZMBTOOL_PATH);
    if (tools.size() > 2)
        return std::fprintf(stderr, "usage: encode_threads [-n RUNS] [ZMBTOOL [REFERENCE]]\n"), 2;
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
        std::vector<Series> one(tools.size()), all(tools.size());
        for (int r = 0; r < runs; ++r)
            for (std::size_t t = 0; t < tools.size(); ++t) {
                const Run a = Encode(tools[t], first, out, "1"),
                          b = Encode(tools[t], first, out, nullptr);
                if (a.wall <= 0 || b.wall <= 0) return std::fprintf(stderr, "encode failed\n"), 1;
                one[t].Add(count, a);
                all[t].Add(count, b);
            }
        std::printf("%dx%d, %d pictures, %d runs each, %u cores:\n", width, height, count, runs,
                    std::thread::hardware_concurrency());
        ReportBoth("", count, one[0], all[0]);
        if (tools.size() == 2) {
            ReportBoth("reference, ", count, one[1], all[1]);
            std::printf("  median rate over the reference's: %.2fx at 1 thread, %.2fx by default\n",
                        Median(one[0].fps) / Median(one[1].fps),
                        Median(all[0].fps) / Median(all[1].fps));
        }
    }
    std::printf("load average at the end: %s\n", Load().c_str());
    fs::remove_all(folder);
    return 0;
}
