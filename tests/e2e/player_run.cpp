// SPDX-License-Identifier: MIT
// One run of the player program on the headless host, in a folder of its own, with its
// debug output and message boxes collected from standard error.
#include "player_run.h"

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "encoder/writer.h"

namespace zambrel::testing {

using encoder::MovieRecipe;
using encoder::Picture;
using encoder::WidenLevel;

std::vector<std::uint8_t> SmallMovie(int frames, std::int32_t periodCode, bool withSound) {
    constexpr std::uint32_t kSize = 16;
    MovieRecipe recipe;
    recipe.width = kSize;
    recipe.height = kSize;
    recipe.frameRate = periodCode;
    for (int f = 0; f < frames; ++f) {
        Picture picture;
        picture.pixels.resize(kSize * kSize);
        for (std::uint32_t i = 0; i < picture.pixels.size(); ++i)
            picture.pixels[i] = static_cast<std::uint8_t>((i / 4 + f) % 8);
        for (int c = 0; c < 8; ++c) {
            picture.palette[3 * c] = WidenLevel(static_cast<std::uint8_t>(c * 8));
            picture.palette[3 * c + 1] = WidenLevel(static_cast<std::uint8_t>(63 - c * 8));
            picture.palette[3 * c + 2] = WidenLevel(32);
        }
        recipe.pictures.push_back(std::move(picture));
    }
    if (withSound) {
        auto& track = recipe.tracks[0];
        track.present = true;
        track.sampleRate = 11025;
        const double seconds =
            frames * (periodCode < 0 ? -periodCode / 100000.0 : periodCode / 1000.0);
        track.samples.assign(static_cast<std::size_t>(seconds * 11025), 128);
    }
    encoder::WriteResult result = encoder::WriteMovie(recipe);
    if (!result.ok) std::fprintf(stderr, "movie not written: %s\n", result.error.c_str());
    return result.bytes;
}

std::vector<std::string> PlayerRun::Opened() const {
    static const std::string kLabel = "ZambOpen - file: ";
    std::vector<std::string> names;
    std::istringstream lines(Output);
    for (std::string line; std::getline(lines, line);) {
        const auto at = line.find(kLabel);
        if (at == std::string::npos) continue;
        std::string name = line.substr(at + kLabel.size());
        while (!name.empty() && (name.back() == '\r' || name.back() == ' ')) name.pop_back();
        names.push_back(name);
    }
    return names;
}

long PlayerRun::NumberAfter(const std::string& label) const {
    const auto at = Output.find(label);
    if (at == std::string::npos) return -1;
    return std::strtol(Output.c_str() + at + label.size(), nullptr, 10);
}

PlayerFolder::PlayerFolder() {
    char pattern[] = "/tmp/zambply-e2e-XXXXXX";
    path_ = mkdtemp(pattern) ? pattern : "/tmp";
    WriteText("profile.ini", "[Zambrel]\nDebug=1\n");
}

PlayerFolder::~PlayerFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

void PlayerFolder::Write(const std::string& name, const std::vector<std::uint8_t>& bytes) const {
    std::ofstream out(path_ + "/" + name, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

void PlayerFolder::WriteText(const std::string& name, const std::string& text) const {
    std::ofstream(path_ + "/" + name) << text;
}

PlayerRun PlayerFolder::Run(const std::string& args, const std::string& input) const {
    return RunProgram(ZAMBPLY_PATH, args, input);
}

PlayerRun PlayerFolder::RunProgram(const std::string& program, const std::string& args,
                                   const std::string& input) const {
    std::string command = "cd '" + path_ +
                          "' && ZAMBREL_HOST=headless ZAMBREL_AUDIO=simulated"
                          " ZAMBREL_PROFILE=profile.ini";
    if (!input.empty()) {
        WriteText("input.txt", input);
        command += " ZAMBREL_INPUT=input.txt";
    }
    // The time limit only guards against a player that never ends; no run comes near it.
    command += " timeout 60 '" + program + "' " + args + " 2>&1";
    PlayerRun run;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char chunk[4096];
        for (std::size_t got; (got = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;)
            run.Output.append(chunk, got);
        const int status = pclose(pipe);
        if (WIFEXITED(status) && WEXITSTATUS(status) != 124) run.Status = WEXITSTATUS(status);
    }
    return run;
}

}  // namespace zambrel::testing
