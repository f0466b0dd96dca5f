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
    // Runs zambply with `args` in the folder; `input` non-empty is the input script.
    PlayerRun Run(const std::string& args, const std::string& input = "") const;
    // The same for another program (a self-playing copy), `program` relative to the folder.
    PlayerRun RunProgram(const std::string& program, const std::string& args,
                         const std::string& input = "") const;
    const std::string& Path() const { return path_; }

  private:
    std::string path_;
};

}  // namespace zambrel::testing
