// SPDX-License-Identifier: MIT
// One run of the player program on the headless host, in a folder of its own, with its
// debug output and message boxes collected from standard error.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zambrel::testing {

// A movie of `frames` small pictures that differ from frame to frame, `periodCode` as the
// header's frame rate (negative: minus 1/100 ms), with a quiet 8-bit sound track.
std::vector<std::uint8_t> SmallMovie(int frames, std::int32_t periodCode, bool withSound = true);

// The same pictures with a 16-bit track (mono at 11,025 Hz unless told otherwise) whose
// every sample tells its own place in the sound (CountingSampleAt, the same on both channels
// of a stereo track), so what a device played can be traced back to the movie.
constexpr std::uint32_t kCountingRate = 11025;
std::vector<std::uint8_t> CountingSoundMovie(int frames, std::int32_t periodCode,
                                             std::uint32_t rate = kCountingRate,
                                             bool stereo = false);
inline std::int16_t CountingSampleAt(std::size_t index) {
    return static_cast<std::int16_t>(1000 + index % 30000);  // never silence
}

// The sample data of a WAV file the player's capture wrote; empty when there is none.
std::vector<std::uint8_t> WavData(const std::string& path);
// 16-bit little-endian samples from bytes.
std::vector<std::int16_t> Samples16(const std::vector<std::uint8_t>& bytes);

// An RGB PNG as the screen dump writes it: `width` x `height` pixels, 3 bytes each.
struct RgbImage {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> pixels;
    std::uint32_t At(int x, int y) const;  // 0xRRGGBB
};
bool ReadPng(const std::string& path, RgbImage* image);

struct PlayerRun {
    int Status = -1;     // the exit status, -1 when it did not exit by itself
    std::string Output;  // standard error and standard output together
    // The names the debug output shows opened, in order.
    std::vector<std::string> Opened() const;
    // The number after "label" in the output ("Total frames played: "), -1 when absent.
    long NumberAfter(const std::string& label) const;
    bool Shows(const std::string& text) const { return Output.find(text) != std::string::npos; }
};

class PlayerFolder {
  public:
    PlayerFolder();
    ~PlayerFolder();
    PlayerFolder(const PlayerFolder&) = delete;
    PlayerFolder& operator=(const PlayerFolder&) = delete;

    void Write(const std::string& name, const std::vector<std::uint8_t>& bytes) const;
    void WriteText(const std::string& name, const std::string& text) const;
    // Runs zambply with `args` in the folder; `input` non-empty is the input script,
    // `environment` more settings ("NAME=value ...") for the run.
    PlayerRun Run(const std::string& args, const std::string& input = "",
                  const std::string& environment = "") const;
    // The same for another program (a self-playing copy), `program` relative to the folder.
    PlayerRun RunProgram(const std::string& program, const std::string& args,
                         const std::string& input = "", const std::string& environment = "") const;
    // The command line RunProgram runs, for callers that watch the run as it goes.
    std::string Command(const std::string& program, const std::string& args,
                        const std::string& input, const std::string& environment) const;
    // Makes `copy` a self-playing copy of the player with `movie` and `switches`.
    bool MakeSelfPlayingCopy(const std::string& movie, const std::string& copy,
                             const std::string& switches) const;
    const std::string& Path() const { return path_; }

  private:
    std::string path_;
};

}  // namespace zambrel::testing
